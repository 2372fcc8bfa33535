#pragma once

#include <QSqlDatabase>
#include <QString>

class QSqlQuery;

// A connection to the register's server for one piece of work (a reader, a
// copy, a check whether the server is back), closed at its end; and the
// server's terms shared by everything that talks to it: libpq's options, the
// server as it is shown, and how failures are put into words.
class PostgresConnection
{
public:
    explicit PostgresConnection(const QString &server);
    ~PostgresConnection();
    PostgresConnection(const PostgresConnection &) = delete;
    PostgresConnection &operator=(const PostgresConnection &) = delete;

    bool isOpen() const { return m_error.isEmpty(); }
    const QString &errorText() const { return m_error; }
    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

    static inline const QString Unreachable = QStringLiteral("Sem conexão com o servidor do cadastro.");

    // A connection name no other connection of the program has.
    static QString newName();
    // libpq's options, as Qt's driver takes them, for a connection URI or a
    // key=value string such as "service=zuna".
    static QString options(const QString &server);
    // The server as the attendant is shown it: never with a password.
    static QString shown(const QString &server);
    // Puts `what`, the server and the driver's detail into `error`; false.
    static bool failure(QString *error, const QString &what, const QString &server, const QString &detail);
    // Whether a query failed because the connection is gone.
    static bool lost(const QSqlQuery &query);

private:
    QString m_name;
    QString m_error;
};
