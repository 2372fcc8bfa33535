#include "gui/app/CallNotifier.h"

#include "core/callerid/OutsideText.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QPainter>
#include <QSystemTrayIcon>

#include <algorithm>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString DefaultAction = QStringLiteral("default");

const QString PlainToolTip = QStringLiteral("Zuna");
const QString OneNewCall = QStringLiteral("Zuna: 1 chamada nova");
const QString NewCalls = QStringLiteral("Zuna: %1 chamadas novas");
const QString OpenAction = QStringLiteral("Abrir");

const QString TelephonePicture = QStringLiteral(":/images/telefone.png");
constexpr int IconSize = 64;

// Questions to the bus daemon itself, which answers at once; the timeout only
// bounds a bus that has gone wrong.
constexpr int BusTimeoutMs = 2000;

QDBusMessage askBus(const QDBusConnection &bus, const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage question = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), method);
    question.setArguments(arguments);
    return bus.call(question, QDBus::Block, BusTimeoutMs);
}

bool firstArgumentIs(const QDBusMessage &reply, auto test)
{
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        && test(reply.arguments().constFirst());
}

// A navy disc with an aqua ring, the monitor's colours, for when there is no
// picture to hand.
QPixmap drawnIcon()
{
    QPixmap pixmap(IconSize, IconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(Qt::cyan), IconSize / 10));
    painter.setBrush(QColor(0, 0, 128));
    const int margin = IconSize / 10;
    painter.drawEllipse(margin, margin, IconSize - 2 * margin, IconSize - 2 * margin);
    return pixmap;
}

} // namespace

CallNotifier::CallNotifier(QObject *parent)
    : QObject(parent)
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(trayIcon(), this);
        m_tray->setToolTip(trayToolTip());
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                emit trayActivated();
        });
        m_tray->show();
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Watched before asking, so that no change of owner falls between the two.
    auto *watcher = new QDBusServiceWatcher(Service, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString &, const QString &, const QString &newOwner) { onServiceOwnerChanged(newOwner); });
    m_serviceOwned = firstArgumentIs(
        askBus(bus, QStringLiteral("NameHasOwner"), { Service }), [](const QVariant &v) { return v.toBool(); });
    m_serviceActivatable = firstArgumentIs(askBus(bus, QStringLiteral("ListActivatableNames")),
        [](const QVariant &v) { return v.toStringList().contains(Service); });
    if (m_serviceOwned)
        askCapabilities();
    bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    bus.connect(
        Service, Path, Interface, QStringLiteral("NotificationClosed"), this, SLOT(onNotificationClosed(uint, uint)));
}

CallNotifier::~CallNotifier() = default;

void CallNotifier::setNewCalls(int count)
{
    m_newCalls = std::max(count, 0);
    if (!m_tray)
        return;
    m_tray->setIcon(trayIcon());
    m_tray->setToolTip(trayToolTip());
}

QIcon CallNotifier::trayIcon() const
{
    const QIcon base = baseIcon();
    if (m_newCalls == 0)
        return base;
    QPixmap pixmap = base.pixmap(IconSize, IconSize);
    // The base picture may come smaller than asked: the badge goes on a canvas of full size.
    if (pixmap.width() != IconSize || pixmap.height() != IconSize) {
        QPixmap canvas(IconSize, IconSize);
        canvas.fill(Qt::transparent);
        QPainter(&canvas).drawPixmap((IconSize - pixmap.width()) / 2, (IconSize - pixmap.height()) / 2, pixmap);
        pixmap = canvas;
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QString text = m_newCalls > 99 ? QStringLiteral("99+") : QString::number(m_newCalls);
    const int height = IconSize * 11 / 20;
    const int width = text.size() == 1 ? height : IconSize;
    const QRect badge(IconSize - width, IconSize - height, width, height);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 0, 0));
    painter.drawRoundedRect(badge, height / 2.0, height / 2.0);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(text.size() > 2 ? height * 11 / 20 : height * 3 / 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, text);
    return QIcon(pixmap);
}

QString CallNotifier::trayToolTip() const
{
    if (m_newCalls == 0)
        return PlainToolTip;
    return m_newCalls == 1 ? OneNewCall : NewCalls.arg(m_newCalls);
}

void CallNotifier::notifyCall(qint64 callId, const QString &title, const QString &body)
{
    if (!hasNotificationService())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    const QVariantMap hints {
        { QStringLiteral("category"), QStringLiteral("im.received") },
        { QStringLiteral("desktop-entry"), QStringLiteral("zuna") },
    };
    // A summary is never markup; a body is, for a service that says so.
    const QString summary = OutsideText::message(title).replace(u'\n', u' ');
    const QString text = m_bodyMarkup ? OutsideText::message(body).toHtmlEscaped() : OutsideText::message(body);
    // No notification to replace (id 0); the server's own timeout (-1).
    notify.setArguments(
        { QStringLiteral("Zuna"), 0u, QString(), summary, text, QStringList { DefaultAction, OpenAction }, hints, -1 });
    // Sent without waiting: the notification's id comes back later, if ever.
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, callId](QDBusPendingCallWatcher *finished) { onNotifyFinished(finished, callId); });
}

void CallNotifier::onNotifyFinished(QDBusPendingCallWatcher *watcher, qint64 callId)
{
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    // A service that failed or never answered: that call simply has no notification.
    if (reply.isError())
        return;
    m_callsByNotification.insert(reply.value(), callId);
}

void CallNotifier::onActionInvoked(uint notificationId, const QString &actionKey)
{
    // Other programs' notifications are not in the map.
    const auto found = m_callsByNotification.constFind(notificationId);
    if (actionKey == DefaultAction && found != m_callsByNotification.constEnd())
        emit callActivated(found.value());
}

void CallNotifier::onNotificationClosed(uint notificationId, uint)
{
    m_callsByNotification.remove(notificationId);
}

void CallNotifier::onServiceOwnerChanged(const QString &newOwner)
{
    m_serviceOwned = !newOwner.isEmpty();
    // A service that started anew numbers its notifications from the start again.
    m_callsByNotification.clear();
    m_bodyMarkup = true;
    if (m_serviceOwned)
        askCapabilities();
}

void CallNotifier::askCapabilities()
{
    // Asked without waiting, like everything sent to the service.
    const QDBusMessage ask
        = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        const QDBusPendingReply<QStringList> reply = *finished;
        if (!reply.isError())
            m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
    });
}

QIcon CallNotifier::baseIcon()
{
    const QIcon windowIcon = QGuiApplication::windowIcon();
    if (!windowIcon.isNull())
        return windowIcon;
    const QPixmap telephone(TelephonePicture);
    return QIcon(telephone.isNull() ? drawnIcon() : telephone);
}
