#include "contacts/NameSearchWorker.h"

#include <QThread>

#include <limits>

NameSearchWorker::NameSearchWorker(const Register &reg)
    : m_register(reg)
    , m_thread(new QThread(this))
    , m_context(new QObject)
{
    m_context->moveToThread(m_thread);
    m_thread->setObjectName(QStringLiteral("zuna-busca"));
    m_thread->start();
}

NameSearchWorker::~NameSearchWorker()
{
    cancel(std::numeric_limits<quint64>::max());
    // The connection belongs to the worker's thread: it is closed there.
    QMetaObject::invokeMethod(
        m_context, [this] { m_reader.reset(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_context;
}

void NameSearchWorker::cancel(quint64 generation)
{
    m_latest = generation;
}

void NameSearchWorker::request(quint64 generation, const NamePattern &pattern, std::optional<Register::ListRow> after,
    int limit, QObject *receiver, Done done)
{
    m_latest = generation;
    QMetaObject::invokeMethod(
        m_context, [=, this] { run(generation, pattern, after, limit, receiver, done); }, Qt::QueuedConnection);
}

void NameSearchWorker::run(quint64 generation, const NamePattern &pattern,
    const std::optional<Register::ListRow> &after, int limit, QObject *receiver, const Done &done)
{
    if (generation != m_latest)
        return; // superseded before it started
    QString error;
    if (!m_reader)
        m_reader = m_register.reader(true);
    QList<Register::ListRow> rows;
    bool ok = m_reader->isOpen(&error);
    if (ok) {
        // Each request checks its own generation: a newer one stops this one.
        Register::Limits limits;
        limits.cancelled = [this, generation] { return m_latest != generation; };
        ok = m_reader->listPage(pattern, after ? &*after : nullptr, limit, &rows, &error, limits);
    }
    if (generation != m_latest)
        return;
    QMetaObject::invokeMethod(
        receiver,
        [=, this] {
            if (generation == m_latest)
                done(generation, ok, rows, error);
        },
        Qt::QueuedConnection);
}
