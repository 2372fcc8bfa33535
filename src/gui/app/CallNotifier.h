#pragma once

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;
class QSystemTrayIcon;

// Brings word of incoming calls to an attendant who is working in another
// program: a count of unseen calls on a system tray icon, and a desktop
// notification per call through the freedesktop notification service on the
// session bus. Where the desktop has neither, nothing is shown and Zuna works
// as it always did. Nothing here waits on the notification service: a hung
// service never freezes the window.
class CallNotifier : public QObject
{
    Q_OBJECT

public:
    explicit CallNotifier(QObject *parent = nullptr);
    ~CallNotifier() override;

    bool hasTray() const { return m_tray != nullptr; }
    QSystemTrayIcon *tray() const { return m_tray; }
    // The service is running, or the bus starts it on the first notification.
    bool hasNotificationService() const { return m_serviceOwned || m_serviceActivatable; }

    // Calls not yet seen, drawn on the tray icon and named in its tooltip;
    // 0 gives the plain icon.
    void setNewCalls(int count);
    int newCalls() const { return m_newCalls; }
    // What the tray icon shows for the current count (also without a tray).
    QIcon trayIcon() const;
    QString trayToolTip() const;

    // A notification of its own for one call, beside those of earlier calls;
    // clicking it emits callActivated(callId). Title and body are plain text:
    // cleaned as outside text, and the body escaped for a service that reads
    // markup in it (or may: until it has said it does not).
    void notifyCall(qint64 callId, const QString &title, const QString &body);

signals:
    void callActivated(qint64 callId);
    void trayActivated();

private slots:
    void onActionInvoked(uint notificationId, const QString &actionKey);
    void onNotificationClosed(uint notificationId, uint reason);

private:
    void onNotifyFinished(QDBusPendingCallWatcher *watcher, qint64 callId);
    void onServiceOwnerChanged(const QString &newOwner);
    void askCapabilities();
    static QIcon baseIcon();

    QSystemTrayIcon *m_tray = nullptr;
    bool m_serviceOwned = false;
    bool m_serviceActivatable = false;
    bool m_bodyMarkup = true; // the service reads markup in a body
    int m_newCalls = 0;
    QHash<uint, qint64> m_callsByNotification;
};
