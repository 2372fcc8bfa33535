#pragma once

#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Asks the register's server, from a thread and a connection of its own,
// every EveryMs whether it still answers, each time within AnswerMs. The
// window's thread is told each answer and so never has to wait on a server
// that may hang to find out whether it is there, or back.
class PostgresWatch
{
public:
    static constexpr int EveryMs = 500;
    static constexpr int AnswerMs = 1000;

    // `report(answers, why)` runs on `context`'s thread after each question.
    PostgresWatch(QString server, QObject *context, std::function<void(bool, const QString &)> report);
    // Waits for a question under way: at most a connection attempt's limit.
    ~PostgresWatch();
    PostgresWatch(const PostgresWatch &) = delete;
    PostgresWatch &operator=(const PostgresWatch &) = delete;

private:
    void run();

    QString m_server;
    QObject *m_context;
    std::function<void(bool, const QString &)> m_report;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};
