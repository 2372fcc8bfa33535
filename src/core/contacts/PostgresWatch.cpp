#include "core/contacts/PostgresWatch.h"

#include "core/contacts/PostgresConnection.h"
#include "core/contacts/PostgresDeadline.h"

#include <QSqlError>
#include <QSqlQuery>

#include <memory>

namespace {
// libpq's shortest: a connection attempt to a hung host gives up after it.
constexpr int ConnectTimeoutS = 2;
} // namespace

PostgresWatch::PostgresWatch(QString server, QObject *context, std::function<void(bool, const QString &)> report)
    : m_server(std::move(server))
    , m_context(context)
    , m_report(std::move(report))
{
    m_thread = std::thread([this] { run(); });
}

PostgresWatch::~PostgresWatch()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void PostgresWatch::run()
{
    std::unique_ptr<PostgresConnection> connection;
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        lock.unlock();
        QString why;
        if (!connection)
            connection = std::make_unique<PostgresConnection>(m_server, ConnectTimeoutS);
        bool answers = connection->isOpen();
        if (!answers) {
            PostgresConnection::failure(&why, PostgresConnection::Unreachable, m_server, connection->errorText());
        } else {
            QSqlDatabase db = connection->database();
            PostgresDeadline limit(db, AnswerMs);
            QSqlQuery query(db);
            answers = query.exec(QStringLiteral("SELECT 1"));
            if (!answers)
                PostgresConnection::failure(&why, PostgresConnection::Unreachable, m_server,
                    limit.passed() ? QStringLiteral("o servidor não respondeu em %1 ms").arg(AnswerMs)
                                   : query.lastError().text());
        }
        if (!answers)
            connection.reset(); // connect anew next time
        QMetaObject::invokeMethod(
            m_context, [report = m_report, answers, why] { report(answers, why); }, Qt::QueuedConnection);
        lock.lock();
        m_wake.wait_for(lock, std::chrono::milliseconds(EveryMs), [this] { return m_stopping; });
    }
    lock.unlock();
    connection.reset();
}
