#include "core/contacts/PostgresPrepared.h"

#include "core/contacts/PostgresConnection.h"

#include <QMutex>
#include <QSet>
#include <QSqlError>

namespace {

// The statements each open connection has prepared, by the connection's
// server process and the statement's name. A process id the server gives
// again to a later connection may find a name here it does not hold: its
// EXECUTE fails as unknown and the statement is prepared again.
QMutex g_mutex;
QSet<QString> g_prepared;

QString keyOf(const QSqlDatabase &db, const QString &name)
{
    return QStringLiteral("%1/%2/%3").arg(db.connectionName()).arg(PostgresConnection::backendPid(db)).arg(name);
}

bool isPrepared(const QString &key)
{
    QMutexLocker lock(&g_mutex);
    return g_prepared.contains(key);
}

void setPrepared(const QString &key, bool prepared)
{
    QMutexLocker lock(&g_mutex);
    if (prepared)
        g_prepared.insert(key);
    else
        g_prepared.remove(key);
}

} // namespace

PostgresPrepared::PostgresPrepared(QString name, QString types, QString statement)
    : m_name(std::move(name))
    , m_types(std::move(types))
    , m_statement(std::move(statement))
{
}

bool PostgresPrepared::run(QSqlQuery &query, const QString &sql) const
{
    if (!query.exec(sql))
        return false;
    // Past the results of PREPARE and BEGIN to the statement's own.
    while (!query.isSelect() && query.nextResult()) { }
    return !query.lastError().isValid();
}

bool PostgresPrepared::exec(
    QSqlQuery &query, const QSqlDatabase &db, const QString &before, const QStringList &arguments) const
{
    const QString key = keyOf(db, m_name);
    const QString execute = (before.isEmpty() ? QString() : before + QStringLiteral("; "))
        + QStringLiteral("EXECUTE %1 (%2)").arg(m_name, arguments.join(QStringLiteral(", ")));
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The PREPARE (the statement's whole text) is written out only for
        // a connection that lacks it: every desk saves through here.
        const bool prepared = isPrepared(key);
        if (run(query,
                prepared ? execute
                         : QStringLiteral("PREPARE %1 (%2) AS %3; ").arg(m_name, m_types, m_statement) + execute)) {
            if (!prepared)
                setPrepared(key, true);
            return true;
        }
        const QString state = query.lastError().nativeErrorCode();
        if (prepared && state == QLatin1String("26000")) {
            // Unknown to the server: the session was reset under the name.
            if (!before.isEmpty())
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            setPrepared(key, false);
        } else if (!prepared && state == QLatin1String("42P05")) {
            // Prepared already, by a run whose answer was lost: nothing else
            // of the string ran.
            setPrepared(key, true);
        } else {
            return false;
        }
    }
    return false;
}
