#include "gui/app/CallNotifier.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString Notifications = QStringLiteral("org.freedesktop.Notifications");

// A bus of the test's own: no service files, so nothing is started on demand
// and a service is there only while the test runs it.
const char BusConfig[] = "<busconfig>\n"
                         "  <type>session</type>\n"
                         "  <listen>unix:path=%1</listen>\n"
                         "  <auth>EXTERNAL</auth>\n"
                         "  <policy context=\"default\">\n"
                         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                         "    <allow eavesdrop=\"true\"/>\n"
                         "    <allow own=\"*\"/>\n"
                         "  </policy>\n"
                         "</busconfig>\n";

// Notifications stay until the test clicks or closes them.
const char DunstConfig[]
    = "[urgency_low]\ntimeout = 0\n[urgency_normal]\ntimeout = 0\n[urgency_critical]\ntimeout = 0\n";

// The daemons end with the test, however it ends.
void endWithTheTest(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// The first line a daemon prints once it is ready.
QString firstLine(QProcess &process)
{
    if (!process.waitForStarted())
        return {};
    QElapsedTimer waited;
    waited.start();
    while (!process.canReadLine() && waited.elapsed() < 15000 && process.state() == QProcess::Running)
        process.waitForReadyRead(500);
    return QString::fromUtf8(process.readLine()).trimmed();
}

// Stops a process for as long as it lives: a notification service that hangs.
class Frozen
{
public:
    explicit Frozen(qint64 pid)
        : m_pid(pid)
    {
        ::kill(pid_t(m_pid), SIGSTOP);
    }
    ~Frozen() { thaw(); }
    void thaw()
    {
        if (m_pid > 0)
            ::kill(pid_t(m_pid), SIGCONT);
        m_pid = 0;
    }

private:
    qint64 m_pid;
};

} // namespace

// In a test that needs the test's desktop: skipped, with the reason, without it.
#define NEEDS_DESKTOP()                                                                                                \
    do {                                                                                                               \
        if (!m_missing.isEmpty())                                                                                      \
            QSKIP(qPrintable(m_missing));                                                                              \
    } while (false)

// Word of calls for an attendant in another program, through a real
// notification daemon (dunst) on a display (Xvfb) and a session bus
// (dbus-daemon) that the test starts for itself.
class TestCallNotifier : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_display;
    QProcess m_dunst;
    QString m_busAddress;
    QString m_displayName;
    QString m_missing; // why the desktop could not be had

    QProcessEnvironment desktopEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_displayName);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        return env;
    }

    static bool serviceRunning()
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(Notifications);
    }

    bool startDunst()
    {
        m_dunst.setProcessEnvironment(desktopEnvironment());
        endWithTheTest(m_dunst);
        m_dunst.start(
            QStringLiteral("dunst"), { QStringLiteral("-config"), m_dir.filePath(QStringLiteral("dunstrc")) });
        return m_dunst.waitForStarted() && QTest::qWaitFor(serviceRunning, 15000);
    }

    void stopDunst()
    {
        m_dunst.terminate();
        m_dunst.waitForFinished();
        QTRY_VERIFY(!serviceRunning());
    }

    // dunst's own command-line control, as the attendant's desktop would use it.
    QString dunstctl(const QStringList &arguments) const
    {
        QProcess control;
        control.setProcessEnvironment(desktopEnvironment());
        control.start(QStringLiteral("dunstctl"), arguments);
        if (!control.waitForFinished(10000) || control.exitCode() != 0)
            qWarning("dunstctl %s: %s", qPrintable(arguments.join(u' ')), control.readAllStandardError().constData());
        return QString::fromUtf8(control.readAllStandardOutput()).trimmed();
    }

    // A click on the oldest notification shown, and closing it. dunst 1.9
    // takes no other position than the first while none are waiting.
    void clickFirst() const { dunstctl({ QStringLiteral("action"), QStringLiteral("0") }); }
    void closeFirst() const { dunstctl({ QStringLiteral("close") }); }

    int displayed() const { return dunstctl({ QStringLiteral("count"), QStringLiteral("displayed") }).toInt(); }

    // The notifications dunst has closed, newest first: the list `dunstctl
    // history` prints, asked for on the bus.
    static QList<QVariantMap> history()
    {
        const QDBusMessage reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(Notifications, QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.dunstproject.cmd0"), QStringLiteral("NotificationListHistory")));
        QList<QVariantMap> entries;
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            reply.arguments().constFirst().value<QDBusArgument>() >> entries;
        return entries;
    }

    static QVariantMap closedWithSummary(const QString &summary)
    {
        const QList<QVariantMap> entries = history();
        for (const QVariantMap &entry : entries) {
            if (entry.value(QStringLiteral("summary")).toString() == summary)
                return entry;
        }
        return {};
    }

    static QImage picture(const QIcon &icon) { return icon.pixmap(64, 64).toImage(); }

private slots:
    void initTestCase()
    {
        QStringList missing;
        for (const char *program : { "dbus-daemon", "Xvfb", "dunst", "dunstctl" }) {
            if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
                missing << QLatin1String(program);
        }
        if (!missing.isEmpty()) {
            m_missing = QStringLiteral("%1 not installed (Debian packages dbus, xvfb, dunst)").arg(missing.join(u' '));
            // No bus at all rather than the desktop's own.
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
            return;
        }

        QFile busConfig(m_dir.filePath(QStringLiteral("bus.conf")));
        QVERIFY(busConfig.open(QIODevice::WriteOnly));
        busConfig.write(QString::fromLatin1(BusConfig).arg(m_dir.filePath(QStringLiteral("bus"))).toUtf8());
        busConfig.close();
        endWithTheTest(m_bus);
        m_bus.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--config-file=") + busConfig.fileName(), QStringLiteral("--print-address"),
                QStringLiteral("--nofork") });
        m_busAddress = firstLine(m_bus);
        QVERIFY2(!m_busAddress.isEmpty(), m_bus.readAllStandardError().constData());
        // Before anything in this process opens the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());

        endWithTheTest(m_display);
        m_display.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24") });
        const QString display = firstLine(m_display);
        QVERIFY2(!display.isEmpty(), m_display.readAllStandardError().constData());
        m_displayName = u':' + display;

        QFile dunstConfig(m_dir.filePath(QStringLiteral("dunstrc")));
        QVERIFY(dunstConfig.open(QIODevice::WriteOnly));
        dunstConfig.write(DunstConfig);
        dunstConfig.close();
        QVERIFY2(startDunst(), m_dunst.readAllStandardError().constData());

        // This process's session bus is the test's, not the desktop's.
        QCOMPARE(
            qint64(QDBusConnection::sessionBus().interface()->servicePid(Notifications).value()), m_dunst.processId());
    }

    void init()
    {
        if (!m_missing.isEmpty())
            return;
        if (m_dunst.state() != QProcess::Running)
            QVERIFY(startDunst());
        dunstctl({ QStringLiteral("close-all") });
        QTRY_COMPARE(displayed(), 0);
    }

    void cleanupTestCase()
    {
        for (QProcess *process : { &m_dunst, &m_display, &m_bus }) {
            process->terminate();
            process->waitForFinished();
        }
    }

    // --- the notification of a call

    void aCallReachesTheDesktopWithItsWordsIntact()
    {
        NEEDS_DESKTOP();
        CallNotifier notifier;
        QVERIFY(notifier.hasNotificationService());
        const QString title = QStringLiteral("Ângela Conceição");
        const QString body = QStringLiteral("(11) 98765-4321 · 14:32");
        notifier.notifyCall(41, title, body);
        QTRY_COMPARE(displayed(), 1);

        dunstctl({ QStringLiteral("close-all") });
        QTRY_VERIFY(!closedWithSummary(title).isEmpty());
        const QVariantMap shown = closedWithSummary(title);
        QCOMPARE(shown.value(QStringLiteral("body")).toString(), body);
        QCOMPARE(shown.value(QStringLiteral("appname")).toString(), QStringLiteral("Zuna"));
        QCOMPARE(shown.value(QStringLiteral("category")).toString(), QStringLiteral("im.received"));
    }

    void aCallersWordsReachTheDesktopAsPlainText()
    {
        NEEDS_DESKTOP();
        CallNotifier notifier;
        notifier.notifyCall(44, QStringLiteral("\u202E<b>GOLPE</b>\x1b[2J"),
            QStringLiteral("(11) 3333-4444 · “<font color=red>X</font> & Cia” · 14:32"));
        QTRY_COMPARE(displayed(), 1);
        dunstctl({ QStringLiteral("close-all") });
        const QString summary = QStringLiteral("<b>GOLPE</b> [2J"); // a summary is never markup
        QTRY_VERIFY(!closedWithSummary(summary).isEmpty());
        // dunst reads markup in a body, and says so: the body reaches it
        // escaped, to be shown as written.
        QCOMPARE(closedWithSummary(summary).value(QStringLiteral("body")).toString(),
            QStringLiteral("(11) 3333-4444 · “&lt;font color=red&gt;X&lt;/font&gt; &amp; Cia” · 14:32"));
    }

    void eachCallHasANotificationOfItsOwn()
    {
        NEEDS_DESKTOP();
        CallNotifier notifier;
        notifier.notifyCall(1, QStringLiteral("Ana"), QStringLiteral("(11) 3333-4444 · 09:00"));
        notifier.notifyCall(2, QStringLiteral("(21) 99876-5432"), QStringLiteral("(21) 99876-5432 · 09:01"));
        notifier.notifyCall(3, QStringLiteral("Ana"), QStringLiteral("(11) 3333-4444 · 09:02"));
        QTRY_COMPARE(displayed(), 3);
    }

    void clickingANotificationReportsItsCall()
    {
        NEEDS_DESKTOP();
        CallNotifier notifier;
        QSignalSpy activated(&notifier, &CallNotifier::callActivated);
        notifier.notifyCall(41, QStringLiteral("Ana"), QStringLiteral("(11) 3333-4444 · 09:00"));
        notifier.notifyCall(42, QStringLiteral("Beto"), QStringLiteral("(11) 98765-4321 · 09:01"));
        QTRY_COMPARE(displayed(), 2);

        // dunst shows them oldest first.
        clickFirst();
        QTRY_COMPARE(activated.size(), 1);
        QCOMPARE(activated.at(0).at(0).toLongLong(), 41);
        closeFirst();
        QTRY_COMPARE(displayed(), 1);
        clickFirst();
        QTRY_COMPARE(activated.size(), 2);
        QCOMPARE(activated.at(1).at(0).toLongLong(), 42);
    }

    void clickingAnotherProgramsNotificationReportsNoCall()
    {
        NEEDS_DESKTOP();
        CallNotifier notifier;
        QSignalSpy activated(&notifier, &CallNotifier::callActivated);
        // Another notification from this same connection: the daemon tells it
        // to the notifier's connection too.
        QDBusMessage other = QDBusMessage::createMethodCall(
            Notifications, QStringLiteral("/org/freedesktop/Notifications"), Notifications, QStringLiteral("Notify"));
        other.setArguments({ QStringLiteral("Agenda"), 0u, QString(), QStringLiteral("Reunião"), QString(),
            QStringList { QStringLiteral("default"), QStringLiteral("Abrir") }, QVariantMap(), -1 });
        QCOMPARE(QDBusConnection::sessionBus().call(other).type(), QDBusMessage::ReplyMessage);
        notifier.notifyCall(7, QStringLiteral("Caio"), QStringLiteral("0800 777 1234 · 10:00"));
        QTRY_COMPARE(displayed(), 2);

        clickFirst();
        closeFirst();
        QTRY_COMPARE(displayed(), 1);
        clickFirst();
        // The daemon answers in order: once the call is reported, the other click has come and gone.
        QTRY_COMPARE(activated.size(), 1);
        QCOMPARE(activated.at(0).at(0).toLongLong(), 7);
    }

    // --- a desktop without the service, or with one that hangs

    void withoutANotificationServiceNothingIsSentAndNothingWaits()
    {
        NEEDS_DESKTOP();
        stopDunst();
        CallNotifier notifier;
        QVERIFY(!notifier.hasNotificationService());
        QElapsedTimer took;
        took.start();
        notifier.notifyCall(5, QStringLiteral("Duda"), QStringLiteral("(21) 99876-5432 · 11:00"));
        QVERIFY(took.elapsed() < 500);

        // A service that starts later is used from then on; nothing of before comes with it.
        QVERIFY(startDunst());
        QTRY_VERIFY(notifier.hasNotificationService());
        QSignalSpy activated(&notifier, &CallNotifier::callActivated);
        notifier.notifyCall(6, QStringLiteral("Eva"), QStringLiteral("(11) 2222-3333 · 11:01"));
        QTRY_COMPARE(displayed(), 1);
        clickFirst();
        QTRY_COMPARE(activated.size(), 1);
        QCOMPARE(activated.at(0).at(0).toLongLong(), 6);
    }

    void aServiceThatGoesAwayIsNoLongerUsed()
    {
        NEEDS_DESKTOP();
        CallNotifier notifier;
        QVERIFY(notifier.hasNotificationService());
        stopDunst();
        QTRY_VERIFY(!notifier.hasNotificationService());
    }

    void aHungNotificationServiceHoldsUpNothing()
    {
        NEEDS_DESKTOP();
        Frozen frozen(m_dunst.processId());
        QElapsedTimer took;
        took.start();
        CallNotifier notifier;
        QSignalSpy activated(&notifier, &CallNotifier::callActivated);
        notifier.notifyCall(8, QStringLiteral("Fábio"), QStringLiteral("(11) 4444-5555 · 12:00"));
        notifier.notifyCall(9, QStringLiteral("Gil"), QStringLiteral("(11) 4444-6666 · 12:01"));
        QVERIFY(took.elapsed() < 1000); // a call waited on would take the bus's 25 s
        // The event loop goes on meanwhile.
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, 1000);

        // Once the service wakes, the calls are there and their clicks reported.
        frozen.thaw();
        QTRY_COMPARE(displayed(), 2);
        clickFirst();
        QTRY_COMPARE(activated.size(), 1);
        QCOMPARE(activated.at(0).at(0).toLongLong(), 8);
    }

    // --- the tray icon

    void theTrayNamesTheNewCallsAndDrawsTheirNumber()
    {
        CallNotifier notifier;
        QCOMPARE(notifier.hasTray(), QSystemTrayIcon::isSystemTrayAvailable());
        const QImage plain = picture(notifier.trayIcon());
        QVERIFY(!plain.isNull());
        QCOMPARE(notifier.trayToolTip(), QStringLiteral("Zuna"));

        notifier.setNewCalls(3);
        QCOMPARE(notifier.trayToolTip(), QStringLiteral("Zuna: 3 chamadas novas"));
        const QImage three = picture(notifier.trayIcon());
        QVERIFY(three != plain);
        notifier.setNewCalls(1);
        QCOMPARE(notifier.trayToolTip(), QStringLiteral("Zuna: 1 chamada nova"));
        QVERIFY(picture(notifier.trayIcon()) != three);
        notifier.setNewCalls(250);
        QCOMPARE(notifier.trayToolTip(), QStringLiteral("Zuna: 250 chamadas novas"));

        notifier.setNewCalls(0);
        QCOMPARE(notifier.trayToolTip(), QStringLiteral("Zuna"));
        QCOMPARE(picture(notifier.trayIcon()), plain);
    }

    void theTrayIconIsTheApplicationsWindowIcon()
    {
        QPixmap green(64, 64);
        green.fill(Qt::green);
        QGuiApplication::setWindowIcon(QIcon(green));
        CallNotifier notifier;
        const QImage plain = picture(notifier.trayIcon());
        notifier.setNewCalls(2);
        const QImage two = picture(notifier.trayIcon());
        QGuiApplication::setWindowIcon(QIcon());

        QCOMPARE(plain.pixelColor(2, 2), QColor(Qt::green));
        QCOMPARE(two.pixelColor(2, 2), QColor(Qt::green)); // the count sits in a corner, the icon around it
        QVERIFY(two.pixelColor(46, 46) != QColor(Qt::green));
    }
};

QTEST_MAIN(TestCallNotifier)
#include "TestCallNotifier.moc"
