#include "contacts/PostgresReader.h"

#include "contacts/PostgresConnection.h"
#include "contacts/PostgresRegister.h"

#include <QSqlQuery>

PostgresReader::PostgresReader(QString server)
    : m_server(std::move(server))
{
}

PostgresReader::~PostgresReader() = default;

bool PostgresReader::isOpen(QString *error)
{
    if (!m_connection || !m_connection->isOpen())
        m_connection = std::make_unique<PostgresConnection>(m_server);
    if (m_connection->isOpen())
        return true;
    return PostgresConnection::failure(error, PostgresConnection::Unreachable, m_server, m_connection->errorText());
}

bool PostgresReader::listPage(const NamePattern &pattern, const Register::ListRow *after, int limit,
    QList<Register::ListRow> *rows, QString *error, const Register::Limits &limits)
{
    return readWithin(limits, error,
        [&](QSqlDatabase db) { return PostgresRegister::listPage(db, m_server, pattern, after, limit, rows, error); });
}

bool PostgresReader::listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows,
    QString *error, const Register::Limits &limits)
{
    return readWithin(limits, error, [&](QSqlDatabase db) {
        return PostgresRegister::readCalls(db, m_server, filter, beforeId, limit, rows, error);
    });
}

bool PostgresReader::readWithin(
    const Register::Limits &limits, QString *error, const std::function<bool(QSqlDatabase)> &read)
{
    if (!isOpen(error))
        return false;
    QSqlDatabase db = m_connection->database();
    // On the window's thread the server gets a moment only; a read that
    // needs longer is cancelled there and done in the background.
    QSqlQuery timeout(db);
    if (limits.budgetMs > 0)
        timeout.exec(QStringLiteral("SET statement_timeout = %1").arg(limits.budgetMs));
    const bool ok = read(db);
    if (limits.budgetMs > 0) {
        timeout.exec(QStringLiteral("SET statement_timeout = 0"));
        if (limits.tooLong)
            *limits.tooLong = !ok && error->contains(QLatin1String("statement timeout"));
    }
    if (!ok && (!db.isOpen() || error->startsWith(PostgresConnection::Unreachable)))
        m_connection.reset(); // connect anew next time
    return ok;
}
