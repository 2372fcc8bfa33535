#include "core/contacts/PostgresDeadline.h"

#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

// One thread for the program keeps every armed limit; arming and disarming
// are a lock and a map entry, cheap enough for each statement. The thread is
// woken only by a limit that ends before the one it sleeps until: limits of
// the same length, armed one after another, end later, and a wake for each
// statement of every desk would cost a switch of threads each.
class Watchdog
{
public:
    struct Armed
    {
        int socket;
        Clock::time_point deadline;
        std::atomic<bool> *passed;
    };

    static Watchdog &instance()
    {
        static Watchdog watchdog;
        return watchdog;
    }

    quint64 arm(int socket, int ms, std::atomic<bool> *passed)
    {
        std::lock_guard lock(m_mutex);
        const quint64 id = ++m_next;
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        m_armed.emplace(id, Armed { socket, deadline, passed });
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        if (deadline < m_sleepsUntil) {
            m_sleepsUntil = deadline;
            m_wake.notify_one();
        }
        return id;
    }

    void disarm(quint64 id)
    {
        // Under the lock: once this returns, the socket is never shut down
        // for this limit, even if it passed a moment ago.
        std::lock_guard lock(m_mutex);
        m_armed.erase(id);
    }

    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    Watchdog() = default;

    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            auto next = Clock::time_point::max();
            const auto now = Clock::now();
            for (auto it = m_armed.begin(); it != m_armed.end();) {
                if (it->second.deadline <= now) {
                    it->second.passed->store(true);
                    ::shutdown(it->second.socket, SHUT_RDWR);
                    it = m_armed.erase(it);
                } else {
                    next = std::min(next, it->second.deadline);
                    ++it;
                }
            }
            m_sleepsUntil = next;
            if (next == Clock::time_point::max())
                m_wake.wait(lock);
            else
                m_wake.wait_until(lock, next);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<quint64, Armed> m_armed;
    quint64 m_next = 0;
    // When the thread wakes next by itself; a new start wakes it at once.
    Clock::time_point m_sleepsUntil = Clock::time_point::min();
    bool m_stopping = false;
    std::thread m_thread;
};

int socketOf(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return -1;
    const QVariant handle = db.driver()->handle();
    // Qt's driver names the type by libpq's struct (pg_conn*).
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return -1;
    const PGconn *conn = *static_cast<PGconn *const *>(handle.constData());
    return conn ? PQsocket(conn) : -1;
}

} // namespace

PostgresDeadline::PostgresDeadline(const QSqlDatabase &db, int ms)
{
    const int socket = ms > 0 ? socketOf(db) : -1;
    if (socket >= 0)
        m_id = Watchdog::instance().arm(socket, ms, &m_passed);
}

PostgresDeadline::~PostgresDeadline()
{
    end();
}

void PostgresDeadline::end()
{
    if (m_id)
        Watchdog::instance().disarm(std::exchange(m_id, 0));
}
