#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

// The copies a desk alone makes of its register while Zuna runs: once a day
// when the register changed since the newest copy, and at exit when it
// changed since. Each copy is made off the window's thread. A copy that
// fails is said so (status line, log) and tried again a while later.
class AutoBackup : public QObject
{
    Q_OBJECT

public:
    static constexpr int CheckMs = 60 * 60 * 1000;
    static constexpr int RetryMs = 10 * 60 * 1000;
    // The first look a while after start-up, so as not to slow the start.
    static constexpr int FirstCheckMs = 2 * 60 * 1000;

    explicit AutoBackup(QString dataDir, QObject *parent = nullptr);
    // Waits for a copy being made.
    ~AutoBackup() override;

    void start(int firstCheckMs = FirstCheckMs);
    // At exit: a copy now, on the calling thread, when the register changed
    // since the newest copy (after a copy already under way ends).
    bool copyAtExit(QString *error);
    bool isCopying() const { return m_worker != nullptr; }

    // For tests: the clock that names the copies, and the wait before a retry.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void setRetryMs(int ms) { m_retryMs = ms; }

signals:
    // A text for the status line; empty when there is nothing to say.
    void statusChanged(const QString &text, bool healthy);
    void copyMade(const QString &path);
    void copyFailed(const QString &error);

private:
    void check();
    void finished(bool ok, const QString &path, const QString &error);

    QString m_dataDir;
    QTimer m_timer;
    QThread *m_worker = nullptr;
    std::function<QDateTime()> m_clock;
    int m_retryMs = RetryMs;
    bool m_failing = false;
};
