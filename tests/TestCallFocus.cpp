#include "X11Desktop.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// A call under a real X11 window manager: Xvfb, openbox, the zuna program and
// an xterm the attendant is typing in, each a process of its own, driven with
// xdotool as a keyboard would. The call brings Zuna's window up, restored and
// raised, asking for attention, while the keys keep going to the xterm.
class TestCallFocus : public QObject
{
    Q_OBJECT

    X11Desktop m_desktop;
    QTemporaryDir m_dir;
    QProcess m_zuna;
    QProcess m_typist;
    QString m_zunaWindow;
    QString m_typistWindow;

    QString dataDir() const { return m_dir.filePath(QStringLiteral("dados")); }
    QString typed() const { return m_dir.filePath(QStringLiteral("digitado.txt")); }

    QString run(const QString &program, const QStringList &arguments, int *status = nullptr) const
    {
        return m_desktop.run(program, arguments, status);
    }
    QString xdotool(const QStringList &arguments) const { return m_desktop.xdotool(arguments); }

    void start(QProcess &process, const QString &program, const QStringList &arguments)
    {
        process.setProcessEnvironment(m_desktop.environment());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, arguments);
        QVERIFY2(process.waitForStarted(), qPrintable(program));
    }

    bool isViewable(const QString &window) const
    {
        return run(QStringLiteral("xwininfo"), { QStringLiteral("-id"), window }).contains(QLatin1String("IsViewable"));
    }

    bool zunaOnTop() const
    {
        const QString stacking = m_desktop.property({}, "_NET_CLIENT_LIST_STACKING");
        const QString last = stacking.section(QLatin1Char(','), -1).trimmed();
        return last.toULongLong(nullptr, 16) == m_zunaWindow.toULongLong();
    }

    int callsLogged() const
    {
        const QString log = run(QStringLiteral(ZUNA_BINARY),
            { QStringLiteral("--data-dir"), dataDir(), QStringLiteral("--chamadas"), QStringLiteral("--csv") });
        return int(log.count(QLatin1Char('\n'))); // rows below the header
    }

private slots:
    void initTestCase()
    {
        if (const QString tool = X11Desktop::missingTool(false, { QStringLiteral("xterm") }); !tool.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps.sh --tests)").arg(tool)));
        QString why;
        QVERIFY2(m_desktop.start(false, &why), qPrintable(why));

        int status = -1;
        run(QStringLiteral(ZUNA_BINARY),
            { QStringLiteral("--init"), QStringLiteral("--ddd"), QStringLiteral("11"), QStringLiteral("--data-dir"),
                dataDir() },
            &status);
        QCOMPARE(status, 0);
        start(m_zuna, QStringLiteral(ZUNA_BINARY), { QStringLiteral("--data-dir"), dataDir() });
        QTRY_VERIFY_WITH_TIMEOUT(
            !(m_zunaWindow = m_desktop.windowNamed(QStringLiteral("Atendimento ZUNA"))).isEmpty(), 30000);
        // The monitor on, as the attendant does it: F1 in Zuna's window.
        xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_zunaWindow });
        xdotool({ QStringLiteral("key"), QStringLiteral("F1") });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QDir(dataDir()).filePath(QStringLiteral(".zuna-chamadas.sock"))), 10000);

        // The other program: what is typed into it ends up in a file.
        start(m_typist, QStringLiteral("xterm"),
            { QStringLiteral("-T"), QStringLiteral("digitando"), QStringLiteral("-e"), QStringLiteral("sh"),
                QStringLiteral("-c"), QStringLiteral("exec cat > '%1'").arg(typed()) });
        QTRY_VERIFY_WITH_TIMEOUT(
            !(m_typistWindow = m_desktop.windowNamed(QStringLiteral("digitando"))).isEmpty(), 30000);
    }

    void cleanupTestCase()
    {
        for (QProcess *p : { &m_typist, &m_zuna })
            X11Desktop::stop(*p);
    }

    void aCallBringsZunaUpWithoutTakingTheKeyboard_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<QString>("number");
        QTest::newRow("behind another program") << false << "1133334444";
        QTest::newRow("minimized") << true << "1133335555";
    }
    void aCallBringsZunaUpWithoutTakingTheKeyboard()
    {
        QFETCH(bool, minimized);
        QFETCH(QString, number);
        // The attendant was last in Zuna, then went to the other program.
        xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_zunaWindow });
        QTRY_COMPARE(xdotool({ QStringLiteral("getwindowfocus") }), m_zunaWindow);
        if (minimized) {
            xdotool({ QStringLiteral("windowminimize"), QStringLiteral("--sync"), m_zunaWindow });
            QTRY_VERIFY(!isViewable(m_zunaWindow));
        }
        xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_typistWindow });
        QTRY_COMPARE(xdotool({ QStringLiteral("getwindowfocus") }), m_typistWindow);
        const int before = callsLogged();
        const qint64 typedBefore = QFile(typed()).size();
        xdotool({ QStringLiteral("type"), QStringLiteral("antes") });

        int status = -1;
        run(QStringLiteral(ZUNA_BINARY), { QStringLiteral("--data-dir"), dataDir(), QStringLiteral("--call"), number },
            &status);
        QCOMPARE(status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(callsLogged(), before + 1, 10000);
        // Restored from its icon, it may come back as a new native window.
        QTRY_VERIFY_WITH_TIMEOUT(
            (m_zunaWindow = m_desktop.windowNamed(QStringLiteral("Atendimento ZUNA")), isViewable(m_zunaWindow)),
            10000);
        QTRY_VERIFY_WITH_TIMEOUT(zunaOnTop(), 10000);
        // Its taskbar entry asks for attention.
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.property(m_zunaWindow, "_NET_WM_STATE")
                                     .contains(QLatin1String("_NET_WM_STATE_DEMANDS_ATTENTION")),
            10000);

        // The next keys still go to the program being typed in.
        xdotool({ QStringLiteral("type"), QStringLiteral("depois") });
        xdotool({ QStringLiteral("key"), QStringLiteral("Return") });
        QCOMPARE(xdotool({ QStringLiteral("getwindowfocus") }), m_typistWindow);
        const QByteArray expected = "antesdepois\n";
        QTRY_VERIFY_WITH_TIMEOUT(QFile(typed()).size() >= typedBefore + expected.size(), 10000);
        QFile file(typed());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().mid(typedBefore), expected);
    }
};

QTEST_MAIN(TestCallFocus)
#include "TestCallFocus.moc"
