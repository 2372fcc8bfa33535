#pragma once

#include "CallsBench.h"

#include <QProcess>

#include <functional>
#include <vector>

class PostgresServer;

// The call log filled for bench-calls: calls made up over two years, written
// into the SQLite register and copied onto the server.
namespace CallsBench {

// Who calls: a contact of the register, or a number not in it.
struct Caller
{
    qint64 cd = 0;
    QString name; // the contact's name, or the name a line sends
    QString key;
    QString laidOut;
};

struct Call
{
    enum Kind : quint8 { Contact, Unknown, UnknownNamed, Withheld, Unavailable };
    qint64 when = 0; // seconds since the epoch
    Kind kind = Contact;
    quint32 caller = 0; // into the contacts or the unknown numbers
    quint32 name = 0; // the name a line sent, for UnknownNamed
};

struct CallLogData
{
    std::vector<Caller> contacts, unknown;
    std::vector<Call> calls;
};

CallLogData makeCalls(const QString &registerFile, const QString &areaCode, qsizetype count);
void fillSqlite(const QString &registerFile, const CallLogData &data);
void fillPostgres(const PostgresServer &server, const QString &url, const CallLogData &data);
QString psql(const QString &url, const QStringList &commands, const std::function<bool(QProcess &)> &input = {},
    bool oneTransaction = false);

} // namespace CallsBench
