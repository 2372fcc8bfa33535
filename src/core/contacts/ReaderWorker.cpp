#include "core/contacts/ReaderWorker.h"

#include <QThread>

#include <limits>

ReaderWorker::ReaderWorker(const Register &reg)
    : m_register(reg)
    , m_thread(new QThread(this))
    , m_context(new QObject)
{
    m_context->moveToThread(m_thread);
    m_thread->setObjectName(QStringLiteral("zuna-busca"));
    m_thread->start();
}

ReaderWorker::~ReaderWorker()
{
    cancel(std::numeric_limits<quint64>::max());
    // The connection belongs to the worker's thread: it is closed there.
    QMetaObject::invokeMethod(
        m_context, [this] { m_reader.reset(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_context;
}

void ReaderWorker::cancel(quint64 generation)
{
    m_latest = generation;
}

void ReaderWorker::request(quint64 generation, Job job, QObject *receiver, Done done)
{
    m_latest = generation;
    QMetaObject::invokeMethod(
        m_context, [=, this] { run(generation, job, receiver, done); }, Qt::QueuedConnection);
}

void ReaderWorker::run(quint64 generation, const Job &job, QObject *receiver, const Done &done)
{
    if (generation != m_latest)
        return; // superseded before it started
    QString error;
    if (!m_reader)
        m_reader = m_register.reader(true);
    bool ok = m_reader->isOpen(&error);
    if (ok) {
        // Each request checks its own generation: a newer one stops this one.
        Register::Limits limits;
        limits.cancelled = [this, generation] { return m_latest != generation; };
        ok = job(*m_reader, limits, &error);
    }
    if (generation != m_latest)
        return;
    QMetaObject::invokeMethod(
        receiver,
        [=, this] {
            if (generation == m_latest)
                done(ok, error);
        },
        Qt::QueuedConnection);
}
