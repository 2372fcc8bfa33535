#include "gui/app/CallLog.h"

#include "core/contacts/Register.h"

#include <QPointer>

#include <utility>

CallLog::CallLog(const QString &dataDir, const QString &databaseUrl, QObject *parent)
    : QObject(parent)
    , m_dataDir(dataDir)
    , m_databaseUrl(databaseUrl)
    , m_worker(new QObject)
{
    // One thread for the whole run: calls are written in the order they
    // came, through the register it opened.
    m_worker->moveToThread(&m_writer);
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &CallLog::handOver);
    m_writer.setObjectName(QStringLiteral("zuna-historico"));
    m_writer.start();
}

CallLog::~CallLog()
{
    handOver(); // nothing handed over is lost at the end
    // The register goes on the thread that opened it.
    QMetaObject::invokeMethod(
        m_worker, [this] { m_register.reset(); }, Qt::BlockingQueuedConnection);
    m_writer.quit();
    m_writer.wait();
    delete m_worker;
}

void CallLog::record(const CallRecord &call, bool unseen)
{
    // Written a moment after the call, once the window has shown it: the
    // write does not compete with the call's own lookup and painting. A burst
    // of calls is written together, never later than MaxDelayMs after the
    // first of them.
    if (m_waiting.isEmpty())
        m_firstWaiting.start();
    m_waiting.append({ call, unseen });
    if (m_firstWaiting.elapsed() >= MaxDelayMs)
        handOver();
    else
        m_settle.start();
}

void CallLog::handOver()
{
    m_settle.stop();
    const QList<Waiting> batch = std::exchange(m_waiting, {});
    if (batch.isEmpty())
        return;
    QMetaObject::invokeMethod(m_worker, [this, batch, self = QPointer<CallLog>(this)] {
        for (const Waiting &w : batch) {
            CallRecord call = w.call;
            QString error;
            if (!m_register)
                m_register = Register::open(m_dataDir, m_databaseUrl, Register::Patience::Background, &error);
            const bool ok = m_register && m_register->logCall(&call, &error);
            QMetaObject::invokeMethod(this, [self, call, unseen = w.unseen, ok, error] {
                if (!self)
                    return;
                if (ok)
                    self->written(call, unseen);
                else
                    emit self->failed(error);
            });
        }
    });
}

void CallLog::written(const CallRecord &call, bool unseen)
{
    if (unseen) {
        m_unseen.insert(call.id);
        emit newCallsChanged(newCalls());
    }
    emit logged(call);
}

QSet<qint64> CallLog::markSeen()
{
    QSet<qint64> seen;
    seen.swap(m_unseen);
    if (!seen.isEmpty())
        emit newCallsChanged(0);
    return seen;
}

void CallLog::flush()
{
    QMetaObject::invokeMethod(
        m_worker, [] {}, Qt::BlockingQueuedConnection);
}
