#include "core/contacts/SqlRows.h"

#include "core/contacts/CallFilter.h"

#include <QSqlQuery>
#include <QVariant>

namespace SqlRows {

namespace {
QString stored(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}
} // namespace

QString text(const QSqlQuery &query, int column)
{
    return query.value(column).toString(); // NULL reads as empty text
}

ContactRecord readContact(const QSqlQuery &query)
{
    ContactRecord r;
    r.cd = query.value(0).toLongLong();
    r.a1 = text(query, 1);
    r.a4 = text(query, 2);
    r.a9 = text(query, 3);
    r.a10 = text(query, 4);
    r.a11 = text(query, 5);
    r.a12 = text(query, 6);
    r.a13 = text(query, 7);
    r.a14 = text(query, 8);
    r.ob = text(query, 9);
    return r;
}

void bindContact(QSqlQuery &query, const ContactRecord &r)
{
    for (const QString &f : { r.a1, r.a4, r.a9, r.a10, r.a11, r.a12, r.a13, r.a14, r.ob })
        query.addBindValue(stored(f));
}

Register::ListRow readListRow(const QSqlQuery &query)
{
    Register::ListRow row;
    row.cd = query.value(0).toLongLong();
    row.a1 = text(query, 1);
    row.a4 = text(query, 2);
    row.a9 = text(query, 3);
    row.a12 = text(query, 4);
    row.a13 = text(query, 5);
    row.key = text(query, 6);
    return row;
}

CallRecord readCall(const QSqlQuery &query, const QDateTime &when)
{
    CallRecord c;
    c.id = query.value(0).toLongLong();
    c.when = when;
    c.kind = CallRecord::kindFromName(query.value(2).toString());
    c.received = text(query, 3);
    c.key = text(query, 4);
    c.laidOut = text(query, 5);
    c.callerName = text(query, 6);
    c.source = text(query, 7);
    c.line = text(query, 8);
    c.contactCode = query.value(9).toLongLong();
    c.contactName = text(query, 10);
    return c;
}

void bindCall(QSqlQuery &query, const CallRecord &call)
{
    for (const QString &f : { CallRecord::kindName(call.kind), call.received, call.key, call.laidOut, call.callerName,
             call.source, call.line })
        query.addBindValue(stored(f));
    query.addBindValue(call.contactCode > 0 ? QVariant(call.contactCode) : QVariant(QMetaType(QMetaType::LongLong)));
    query.addBindValue(stored(call.contactName));
    query.addBindValue(CallFilter::searchText(call.contactName, call.callerName, call.key));
}

} // namespace SqlRows
