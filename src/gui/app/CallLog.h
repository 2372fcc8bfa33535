#pragma once

#include "core/contacts/CallRecord.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <memory>

class Register;

// Keeps each call in the register's call log without holding up the window:
// the writes run in order on a thread of their own, through a register
// opened for them, which may wait for a busy file or a slow server. Counts
// the calls the attendant has not seen yet.
class CallLog : public QObject
{
    Q_OBJECT

public:
    CallLog(const QString &dataDir, const QString &databaseUrl, QObject *parent = nullptr);
    ~CallLog() override;

    // Hands a call over to be logged; `logged` or `failed` tells how it went.
    void record(const CallRecord &call, bool unseen);
    // Calls logged since the attendant last looked at the log.
    int newCalls() const { return int(m_unseen.size()); }
    // The attendant looked at the log: the calls that were new until now.
    QSet<qint64> markSeen();
    // Waits until every call recorded is written.
    void flush();

    static constexpr int SettleMs = 300;
    static constexpr int MaxDelayMs = 1000;

signals:
    void logged(const CallRecord &call);
    void failed(const QString &error);
    void newCallsChanged(int count);

private:
    struct Waiting
    {
        CallRecord call;
        bool unseen;
    };
    void handOver();
    void written(const CallRecord &call, bool unseen);

    QString m_dataDir;
    QString m_databaseUrl;
    std::unique_ptr<Register> m_register; // used on the writer's thread only
    QThread m_writer;
    QObject *m_worker; // lives on m_writer: the calls are written in its event loop
    QList<Waiting> m_waiting; // recorded, not handed to the writer yet
    QElapsedTimer m_firstWaiting;
    QTimer m_settle;
    QSet<qint64> m_unseen;
};
