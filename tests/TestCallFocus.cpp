#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// A call under a real X11 window manager: Xvfb, openbox, the zuna program and
// an xterm the attendant is typing in, each a process of its own, driven with
// xdotool as a keyboard would. The call brings Zuna's window up, restored and
// raised, asking for attention, while the keys keep going to the xterm.
class TestCallFocus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_display;
    QProcess m_xvfb;
    QProcess m_wm;
    QProcess m_zuna;
    QProcess m_typist;
    QString m_zunaWindow;
    QString m_typistWindow;

    QString dataDir() const { return m_dir.filePath(QStringLiteral("dados")); }
    QString typed() const { return m_dir.filePath(QStringLiteral("digitado.txt")); }

    QProcessEnvironment x11() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return env;
    }

    // Runs a tool on the test's display; its standard output, trimmed.
    QString run(const QString &program, const QStringList &arguments, int *status = nullptr) const
    {
        QProcess p;
        p.setProcessEnvironment(x11());
        p.start(program, arguments);
        if (!p.waitForFinished(30000))
            p.kill();
        if (status)
            *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    QString xdotool(const QStringList &arguments) const { return run(QStringLiteral("xdotool"), arguments); }

    void start(QProcess &process, const QString &program, const QStringList &arguments)
    {
        process.setProcessEnvironment(x11());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, arguments);
        QVERIFY2(process.waitForStarted(), qPrintable(program));
    }

    // The window of this title, once it is mapped.
    QString windowNamed(const QString &title) const
    {
        return xdotool({ QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--name"), title })
            .section(QLatin1Char('\n'), 0, 0);
    }

    bool isViewable(const QString &window) const
    {
        return run(QStringLiteral("xwininfo"), { QStringLiteral("-id"), window }).contains(QLatin1String("IsViewable"));
    }

    QString property(const QString &window, const char *name) const
    {
        QStringList arguments = window.isEmpty() ? QStringList { QStringLiteral("-root") }
                                                 : QStringList { QStringLiteral("-id"), window };
        arguments << QLatin1String(name);
        return run(QStringLiteral("xprop"), arguments);
    }

    bool zunaOnTop() const
    {
        const QString stacking = property({}, "_NET_CLIENT_LIST_STACKING");
        const QString last = stacking.section(QLatin1Char(','), -1).trimmed();
        return last.toULongLong(nullptr, 16) == m_zunaWindow.toULongLong();
    }

    int callsLogged() const
    {
        const QString log = run(QStringLiteral(ZUNA_BINARY),
            { QStringLiteral("--data-dir"), dataDir(), QStringLiteral("--chamadas"), QStringLiteral("--csv") });
        return int(log.count(QLatin1Char('\n'))); // rows below the header
    }

    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

private slots:
    void initTestCase()
    {
        for (const char *tool : { "Xvfb", "openbox", "xdotool", "xterm", "xprop", "xwininfo" }) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
        }
        // Xvfb picks a free display itself and says which on its output.
        m_xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_xvfb.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                QStringLiteral("-noreset") });
        QVERIFY(m_xvfb.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_xvfb.canReadLine(), 60000);
        m_display = QLatin1Char(':') + QString::fromLatin1(m_xvfb.readLine()).trimmed();
        int answered = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (run(QStringLiteral("xwininfo"), { QStringLiteral("-root") }, &answered), answered == 0), 60000);
        start(m_wm, QStringLiteral("openbox"), {});
        QTRY_VERIFY_WITH_TIMEOUT(property({}, "_NET_SUPPORTING_WM_CHECK").contains(QLatin1String("window id"))
                || m_wm.state() == QProcess::NotRunning,
            60000);
        QVERIFY2(m_wm.state() == QProcess::Running, m_wm.readAllStandardOutput().constData());

        int status = -1;
        run(QStringLiteral(ZUNA_BINARY),
            { QStringLiteral("--init"), QStringLiteral("--ddd"), QStringLiteral("11"), QStringLiteral("--data-dir"),
                dataDir() },
            &status);
        QCOMPARE(status, 0);
        start(m_zuna, QStringLiteral(ZUNA_BINARY), { QStringLiteral("--data-dir"), dataDir() });
        m_zunaWindow = windowNamed(QStringLiteral("Atendimento ZUNA"));
        QVERIFY(!m_zunaWindow.isEmpty());
        // The monitor on, as the attendant does it: F1 in Zuna's window.
        xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_zunaWindow });
        xdotool({ QStringLiteral("key"), QStringLiteral("F1") });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QDir(dataDir()).filePath(QStringLiteral(".zuna-chamadas.sock"))), 10000);

        // The other program: what is typed into it ends up in a file.
        start(m_typist, QStringLiteral("xterm"),
            { QStringLiteral("-T"), QStringLiteral("digitando"), QStringLiteral("-e"), QStringLiteral("sh"),
                QStringLiteral("-c"), QStringLiteral("exec cat > '%1'").arg(typed()) });
        m_typistWindow = windowNamed(QStringLiteral("digitando"));
        QVERIFY(!m_typistWindow.isEmpty());
    }

    void cleanupTestCase()
    {
        for (QProcess *p : { &m_typist, &m_zuna, &m_wm, &m_xvfb })
            stop(*p);
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
            (m_zunaWindow = windowNamed(QStringLiteral("Atendimento ZUNA")), isViewable(m_zunaWindow)), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(zunaOnTop(), 10000);
        // Its taskbar entry asks for attention.
        QTRY_VERIFY_WITH_TIMEOUT(
            property(m_zunaWindow, "_NET_WM_STATE").contains(QLatin1String("_NET_WM_STATE_DEMANDS_ATTENTION")), 10000);

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
