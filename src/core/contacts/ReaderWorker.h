#pragma once

#include "core/contacts/Register.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

// Reads the register on a thread of its own, for the reads that may go
// through much of it: a name pattern that starts with a wildcard, a prefix
// shared by many names that it does not match, a text that few of a million
// calls hold. A newer request stops the one running: only the latest counts.
class ReaderWorker : public QObject
{
    Q_OBJECT

public:
    // The read itself, on the worker's thread, with its patient reader; it
    // keeps what it read where `Done` finds it.
    using Job = std::function<bool(Register::Reader &reader, const Register::Limits &limits, QString *error)>;
    using Done = std::function<void(bool ok, const QString &error)>;

    explicit ReaderWorker(const Register &reg);
    ~ReaderWorker() override;

    // Runs `job`; `done` runs on the thread of `receiver`, unless a newer
    // request came meanwhile.
    void request(quint64 generation, Job job, QObject *receiver, Done done);
    // Stops whatever runs; no `done` comes for it.
    void cancel(quint64 generation);

private:
    void run(quint64 generation, const Job &job, QObject *receiver, const Done &done);

    const Register &m_register;
    QThread *m_thread;
    QObject *m_context; // lives on m_thread: the requests run there
    std::unique_ptr<Register::Reader> m_reader; // opened, used and closed on m_thread
    std::atomic<quint64> m_latest { 0 };
};
