#include "contacts/NameSearchWorker.h"

#include "contacts/SqlConnection.h"

#include <QThread>

#include <limits>

NameSearchWorker::NameSearchWorker(QString filePath)
    : m_store(std::move(filePath))
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
        m_context, [this] { m_connection.reset(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_context;
}

void NameSearchWorker::cancel(quint64 generation)
{
    m_latest = generation;
}

void NameSearchWorker::request(quint64 generation, const NamePattern &pattern,
    std::optional<ContactStore::ListRow> after, int limit, QObject *receiver, Done done)
{
    m_latest = generation;
    QMetaObject::invokeMethod(
        m_context, [=, this] { run(generation, pattern, after, limit, receiver, done); }, Qt::QueuedConnection);
}

void NameSearchWorker::run(quint64 generation, const NamePattern &pattern,
    const std::optional<ContactStore::ListRow> &after, int limit, QObject *receiver, const Done &done)
{
    if (generation != m_latest)
        return; // superseded before it started
    QString error;
    if (!m_connection)
        m_connection = std::make_unique<SqlConnection>(m_store.filePath());
    bool ok = m_connection->isOpen();
    QList<ContactStore::ListRow> rows;
    if (!ok) {
        sqlFailure(&error, QStringLiteral("Não foi possível abrir o cadastro de contatos."), m_store.filePath(),
            m_connection->errorText());
        m_connection.reset();
    } else {
        // Each request checks its own generation: a newer one stops this one.
        m_connection->setInterruptCheck([this, generation] { return m_latest != generation; });
        ok = m_store.listPage(m_connection->database(), pattern, after ? &*after : nullptr, limit, &rows, &error);
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
