#pragma once

#include "core/contacts/CallRecord.h"
#include "core/contacts/ContactRecord.h"
#include "core/contacts/Register.h"
#include "core/contacts/SqlConnection.h"

#include <QSqlQuery>
#include <QString>

#include <memory>

// Many contacts written into an SQLite register in one transaction: an import
// (new contacts and stored ones merged with what the file says) or a copy
// (contacts and the call log, codes and ids kept). Nothing is kept unless commit() succeeds;
// the triggers keep the telephone keys, the count and the name index as for any other write.
class SqliteContactWriter
{
public:
    enum class Codes { New, Kept };

    SqliteContactWriter(const QString &filePath, Codes codes);
    ~SqliteContactWriter();

    // False, with the reason, when the file could not be opened or its write
    // lock could not be had.
    bool begin(QString *error);
    bool add(const ContactRecord &record, QString *error);
    // A call of the log, its id kept (a copy only).
    bool addCall(const CallRecord &call, QString *error);
    // The area code of the register copied, in a table of its own
    // (DDD_LOCAL): a desk keeps its own beside the register, so a copy of a
    // server's register carries the server's for the desk it is restored at.
    bool addAreaCode(const QString &areaCode, QString *error);
    // Rewrites the stored contact of rewrites[index], only while it holds
    // what was read; otherwise fails, saying which contact changed.
    bool rewrite(const QList<Register::Rewrite> &rewrites, qsizetype index, QString *error);
    bool commit(QString *error);

private:
    bool fail(QString *error, const QSqlQuery &query);

    QString m_filePath;
    Codes m_codes;
    std::unique_ptr<SqlConnection> m_conn;
    std::unique_ptr<QSqlQuery> m_insert;
    std::unique_ptr<QSqlQuery> m_update;
    std::unique_ptr<QSqlQuery> m_call;
    bool m_open = false;
};
