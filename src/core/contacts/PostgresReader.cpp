#include "core/contacts/PostgresReader.h"

#include "core/contacts/PostgresDeadline.h"
#include "core/contacts/PostgresQueries.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>

#include <limits>

PostgresReader::PostgresReader(QString server, std::shared_ptr<std::atomic<bool>> reachable, int answerMs)
    : m_server(std::move(server))
    , m_reachable(std::move(reachable))
    , m_answerMs(answerMs)
{
}

PostgresReader::~PostgresReader() = default;

bool PostgresReader::isOpen(QString *error)
{
    if (m_reachable && !m_reachable->load())
        return gone(error, {});
    if (m_connection && m_connection->isOpen())
        return true;
    m_connection = std::make_unique<PostgresConnection>(m_server);
    if (m_connection->isOpen()) {
        // The shorter of two, so that one answer late on a busy machine
        // does not make a server next door look far away.
        QSqlQuery query(m_connection->database());
        double shortest = std::numeric_limits<double>::max();
        for (int i = 0; i < 2; ++i) {
            QElapsedTimer roundTrip;
            roundTrip.start();
            if (!query.exec(QStringLiteral("SELECT 1")))
                break;
            shortest = std::min(shortest, roundTrip.nsecsElapsed() / 1e6);
        }
        m_roundTripMs = shortest < std::numeric_limits<double>::max() ? shortest : 0;
        return true;
    }
    return gone(error, m_connection->errorText());
}

bool PostgresReader::gone(QString *error, const QString &detail)
{
    m_connection.reset(); // connect anew next time
    if (m_reachable)
        m_reachable->store(false);
    return PostgresConnection::failure(error, PostgresConnection::Unreachable, m_server, detail);
}

bool PostgresReader::listPage(const NamePattern &pattern, const Register::ListRow *after, int limit,
    QList<Register::ListRow> *rows, QString *error, const Register::Limits &limits)
{
    return readWithin(limits, error, [&](QSqlDatabase db, PostgresConnection::Problem *problem) {
        return PostgresQueries::listPage(db, m_server, pattern, after, limit, rows, error, problem);
    });
}

bool PostgresReader::listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows,
    QString *error, const Register::Limits &limits)
{
    return readWithin(limits, error, [&](QSqlDatabase db, PostgresConnection::Problem *problem) {
        return PostgresQueries::readCalls(db, m_server, filter, beforeId, limit, rows, error, problem);
    });
}

bool PostgresReader::readWithin(const Register::Limits &limits, QString *error, const Read &read)
{
    using Problem = PostgresConnection::Problem;
    if (!isOpen(error)) {
        if (limits.problem)
            *limits.problem = Problem::Lost;
        return false;
    }
    if (limits.budgetMs > 0 && m_roundTripMs > limits.budgetMs) {
        if (limits.tooLong)
            *limits.tooLong = true;
        return false;
    }
    Problem problem = Problem::None;
    bool ok = false;
    {
        QSqlDatabase db = m_connection->database();
        PostgresDeadline answer(db, m_answerMs);
        // On the window's thread the server gets a moment only; a read that
        // needs longer is cancelled there and done in the background.
        QSqlQuery timeout(db);
        if (limits.budgetMs > 0 && !timeout.exec(QStringLiteral("SET statement_timeout = %1").arg(limits.budgetMs))) {
            problem = PostgresConnection::problemOf(timeout, answer.passed());
            PostgresConnection::failure(error, PostgresConnection::textFor(problem, PostgresConnection::Unreachable),
                m_server, timeout.lastError().text());
        } else {
            ok = read(db, &problem);
            if (limits.budgetMs > 0 && db.isOpen())
                timeout.exec(QStringLiteral("SET statement_timeout = 0"));
        }
        if (answer.passed())
            problem = Problem::NoAnswer;
    }
    if (limits.tooLong)
        *limits.tooLong = !ok && problem == Problem::Slow;
    if (limits.problem)
        *limits.problem = ok ? Problem::None : problem;
    if (!ok && (problem == Problem::Lost || problem == Problem::NoAnswer))
        return gone(error,
            problem == Problem::NoAnswer ? QStringLiteral("o servidor não respondeu em %1 ms").arg(m_answerMs)
                                         : error->section(QStringLiteral("\nDetalhe: "), 1));
    return ok;
}
