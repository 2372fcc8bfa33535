#include "app/CallLog.h"

#include "contacts/Register.h"

#include <QPointer>

CallLog::CallLog(const QString &dataDir, const QString &databaseUrl, QObject *parent)
    : QObject(parent)
    , m_dataDir(dataDir)
    , m_databaseUrl(databaseUrl)
    , m_worker(new QObject)
{
    // One thread for the whole run: calls are written in the order they
    // came, through the register it opened.
    m_worker->moveToThread(&m_writer);
    m_writer.setObjectName(QStringLiteral("zuna-historico"));
    m_writer.start();
}

CallLog::~CallLog()
{
    // The register goes on the thread that opened it.
    QMetaObject::invokeMethod(
        m_worker, [this] { m_register.reset(); }, Qt::BlockingQueuedConnection);
    m_writer.quit();
    m_writer.wait();
    delete m_worker;
}

void CallLog::record(const CallRecord &call, bool unseen)
{
    QMetaObject::invokeMethod(m_worker, [this, handed = call, unseen, self = QPointer<CallLog>(this)] {
        CallRecord call = handed;
        QString error;
        if (!m_register)
            m_register = Register::open(m_dataDir, m_databaseUrl, Register::Patience::Background, &error);
        const bool ok = m_register && m_register->logCall(&call, &error);
        QMetaObject::invokeMethod(this, [self, call, unseen, ok, error] {
            if (!self)
                return;
            if (ok)
                self->written(call, unseen);
            else
                emit self->failed(error);
        });
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
