#pragma once

#include "contacts/Register.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QThread;

// Reads pages of the contact list on a thread of its own, for the searches
// that may read much of the register (a name pattern that starts with a
// wildcard, or a prefix shared by many names that it does not match). A newer
// request stops the one running: only the latest search counts.
class NameSearchWorker : public QObject
{
    Q_OBJECT

public:
    using Done
        = std::function<void(quint64 generation, bool ok, const QList<Register::ListRow> &rows, const QString &error)>;

    explicit NameSearchWorker(const Register &reg);
    ~NameSearchWorker() override;

    // Reads up to `limit` rows matching `pattern` after `after`. `done` runs
    // on the thread of `receiver`, unless a newer request came meanwhile.
    void request(quint64 generation, const NamePattern &pattern, std::optional<Register::ListRow> after, int limit,
        QObject *receiver, Done done);
    // Stops whatever runs; no `done` comes for it.
    void cancel(quint64 generation);

private:
    void run(quint64 generation, const NamePattern &pattern, const std::optional<Register::ListRow> &after, int limit,
        QObject *receiver, const Done &done);

    const Register &m_register;
    QThread *m_thread;
    QObject *m_context; // lives on m_thread: the requests run there
    std::unique_ptr<Register::Reader> m_reader; // opened, used and closed on m_thread
    std::atomic<quint64> m_latest { 0 };
};
