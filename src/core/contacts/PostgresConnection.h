#pragma once

#include "core/contacts/RegisterProblem.h"

#include <QSqlDatabase>
#include <QString>

class QSqlDriver;
class QSqlError;
class QSqlQuery;

// A connection to the register's server for one piece of work (a reader, a
// copy, a check whether the server is back), closed at its end; and the
// server's terms shared by everything that talks to it: libpq's options, the
// server as it is shown, and how failures are put into words.
//
// The server is named in libpq's own terms (a connection URI or key=value
// options) and read by libpq itself (PQconninfoParse), so that every form
// libpq takes is understood the same way here, and a password in any of them
// is known for what it is and never shown.
class PostgresConnection
{
public:
    // What a failed statement met, decided from the SQLSTATE the server sent
    // and from the connection's state.
    using Problem = RegisterProblem;

    // `connectTimeoutS`: how long a connection attempt waits for an answer,
    // unless the server's terms say.
    explicit PostgresConnection(const QString &server, int connectTimeoutS = ConnectTimeoutS);
    ~PostgresConnection();
    PostgresConnection(const PostgresConnection &) = delete;
    PostgresConnection &operator=(const PostgresConnection &) = delete;

    bool isOpen() const { return m_error.isEmpty(); }
    const QString &errorText() const { return m_error; }
    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

    static constexpr int ConnectTimeoutS = 5;
    static inline const QString Unreachable = QStringLiteral("Sem conexão com o servidor do cadastro.");
    static inline const QString HeldElsewhere
        = QStringLiteral("O cadastro está ocupado por outra mesa; tente de novo em instantes.");
    static inline const QString TooSlow
        = QStringLiteral("O servidor do cadastro demorou demais para responder; tente de novo em instantes.");
    static inline const QString CertificateRefused
        = QStringLiteral("O servidor do cadastro respondeu, mas o certificado dele não foi reconhecido, e a conexão "
                         "foi recusada para proteger os dados. Confira o certificado raiz indicado (sslrootcert, ou "
                         "~/.postgresql/root.crt) e se o nome do servidor é o que o certificado diz.");
    static inline const QString Unreadable
        = QStringLiteral("O endereço do servidor do cadastro não pôde ser lido. Escreva-o como "
                         "postgresql://usuário@servidor/banco ou como opções chave=valor (ex.: service=zuna).");

    // A connection name no other connection of the program has.
    static QString newName();
    // The server process that serves the open connection `db`, as the
    // server's pg_backend_pid() names it; 0 when it is not open.
    static int backendPid(const QSqlDatabase &db);
    // Gives `db` (a QPSQL connection not yet open) the server's options.
    // False, with the reason in `error`, when libpq cannot read them.
    static bool configure(
        QSqlDatabase &db, const QString &server, QString *error, int connectTimeoutS = ConnectTimeoutS);
    // The server without its password, in the form it was written in where
    // that can be kept (a URI stays a URI), for messages and registro.ini.
    // Unreadable by libpq: a placeholder, for nothing of it may be a password.
    static QString shown(const QString &server);
    // Whether the server's terms hold a password.
    static bool hasPassword(const QString &server);
    // The attendant's words for a connection to `server` that failed: out of
    // reach; or, when the server's terms ask its certificate to be checked
    // and a connection that does not check it gets through, a certificate
    // that was not recognised. Tries that connection, for libpq says which
    // check failed only in English words.
    static QString connectFailureText(const QString &server);
    // Puts `what`, the server and the driver's detail into `error`; false.
    static bool failure(QString *error, const QString &what, const QString &server, const QString &detail);
    // What `query` met; `gaveUp` when the program's own time limit ended it.
    static Problem problemOf(const QSqlQuery &query, bool gaveUp);
    static Problem problemOf(const QSqlError &error, const QSqlDriver *driver, bool gaveUp);
    // The attendant's words for a problem; `what` for one that has none.
    static QString textFor(Problem problem, const QString &what);

private:
    QString m_name;
    QString m_error;
};
