#include "core/contacts/PostgresReader.h"

#include "core/contacts/PostgresDeadline.h"
#include "core/contacts/PostgresQueries.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <limits>
#include <optional>

PostgresReader::PostgresReader(QString server, std::shared_ptr<std::atomic<bool>> reachable, int answerMs)
    : m_server(std::move(server))
    , m_reachable(std::move(reachable))
    , m_answerMs(answerMs)
{
    if (!m_reachable)
        return;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("zuna-grade"));
    m_context = new QObject;
    m_context->moveToThread(m_thread);
    m_thread->start();
}

PostgresReader::~PostgresReader()
{
    if (!m_thread)
        return;
    // The connection belongs to the reader's thread: it is closed there,
    // after whatever read still runs.
    onOwnThread(0, [this] { m_connection.reset(); });
    m_thread->quit();
    m_thread->wait();
    delete m_context;
    delete m_thread;
}

bool PostgresReader::onOwnThread(int waitMs, std::function<void()> work)
{
    auto ended = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        m_context,
        [work = std::move(work), ended] {
            work();
            ended->release();
        },
        Qt::QueuedConnection);
    if (waitMs <= 0) {
        ended->acquire();
        return true;
    }
    return ended->tryAcquire(1, waitMs);
}

bool PostgresReader::isOpen(QString *error)
{
    if (!m_thread)
        return openHere(error);
    auto text = std::make_shared<QString>();
    auto open = std::make_shared<bool>(false);
    onOwnThread(0, [this, text, open] { *open = openHere(text.get()); });
    if (!*open && error)
        *error = *text;
    return *open;
}

bool PostgresReader::openHere(QString *error)
{
    if (m_reachable && !m_reachable->load())
        return gone(error, {});
    if (m_connection && m_connection->isOpen())
        return true;
    m_connection = std::make_unique<PostgresConnection>(m_server);
    m_statementLimitMs = -1;
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
        // A page's best plan depends on what it is asked: a text few calls
        // hold is found by one read of the log, a common one by walking the
        // ids down. After five runs the server would plan a kept statement
        // once for any value (the walk: 141 ms for a text no call holds,
        // against 70 ms for the read); planned for each value instead, at a
        // fraction of a millisecond each.
        query.exec(QStringLiteral("SET plan_cache_mode = force_custom_plan"));
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
    std::optional<Register::ListRow> from;
    if (after)
        from = *after;
    return readRows<Register::ListRow>(limits, rows, error,
        [this, pattern, from, limit](
            QSqlDatabase db, QList<Register::ListRow> *into, QString *failed, PostgresConnection::Problem *problem) {
            return PostgresQueries::listPage(
                db, m_server, pattern, from ? &*from : nullptr, limit, into, failed, problem);
        });
}

bool PostgresReader::listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows,
    QString *error, const Register::Limits &limits)
{
    return readRows<CallRecord>(limits, rows, error,
        [this, filter, beforeId, limit](
            QSqlDatabase db, QList<CallRecord> *into, QString *failed, PostgresConnection::Problem *problem) {
            return PostgresQueries::readCalls(db, m_server, filter, beforeId, limit, into, failed, problem);
        });
}

template <typename Row>
bool PostgresReader::readRows(
    const Register::Limits &limits, QList<Row> *rows, QString *error, const ReadInto<Row> &read)
{
    if (!m_thread)
        return readWithin(limits, error,
            [&](QSqlDatabase db, PostgresConnection::Problem *problem) { return read(db, rows, error, problem); });
    // What the read finds is its own until it is taken: a read waited for
    // no longer goes on writing there.
    struct Outcome
    {
        QList<Row> rows;
        QString error;
        bool ok = false;
        bool tooLong = false;
        RegisterProblem problem = RegisterProblem::None;
    };
    auto outcome = std::make_shared<Outcome>();
    const int budgetMs = limits.budgetMs;
    const bool ended = onOwnThread(budgetMs, [this, outcome, read, budgetMs] {
        Register::Limits here;
        here.budgetMs = budgetMs;
        here.tooLong = &outcome->tooLong;
        here.problem = &outcome->problem;
        outcome->ok = readWithin(here, &outcome->error, [&](QSqlDatabase db, PostgresConnection::Problem *problem) {
            return read(db, &outcome->rows, &outcome->error, problem);
        });
    });
    if (!ended) {
        outcome->tooLong = true;
        outcome->problem = RegisterProblem::Slow;
    }
    if (limits.tooLong)
        *limits.tooLong = outcome->tooLong;
    if (limits.problem)
        *limits.problem = outcome->problem;
    if (!ended)
        return false;
    *rows = std::move(outcome->rows);
    if (error && !outcome->ok)
        *error = outcome->error;
    return outcome->ok;
}

bool PostgresReader::readWithin(const Register::Limits &limits, QString *error, const Read &read)
{
    using Problem = PostgresConnection::Problem;
    if (!openHere(error)) {
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
        // For the window the server gets a moment only; a read that needs
        // longer is cancelled there and done in the background. The limit
        // stays set for the next read with the same budget.
        QSqlQuery timeout(db);
        if (limits.budgetMs != m_statementLimitMs
            && !timeout.exec(QStringLiteral("SET statement_timeout = %1").arg(limits.budgetMs))) {
            problem = PostgresConnection::problemOf(timeout, answer.passed());
            PostgresConnection::failure(error, PostgresConnection::textFor(problem, PostgresConnection::Unreachable),
                m_server, timeout.lastError().text());
        } else {
            m_statementLimitMs = limits.budgetMs;
            ok = read(db, &problem);
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
