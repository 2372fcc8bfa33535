#include "callerid/CallerIdSettings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The program started as the menu entry starts it, `zuna` alone, by a person
// who never ran it: under a real X11 display and window manager (Xvfb,
// openbox), answered with the keyboard through xdotool. Instead of an error
// asking for a terminal, the first-run assistant opens; Escape leaves
// nothing, answering it makes the data folder and the window opens on it.
class TestFirstRunFromMenu : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_display;
    QProcess m_xvfb;
    QProcess m_wm;

    // A home of its own for each run: nothing of Zuna in it.
    QProcessEnvironment desktop(const QString &home) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("cache")));
        env.remove(QStringLiteral("PGPASSFILE"));
        return env;
    }

    // Runs a tool on the test's display; its standard output, trimmed.
    QString run(const QString &program, const QStringList &arguments, int *status = nullptr) const
    {
        QProcess p;
        p.setProcessEnvironment(desktop(m_dir.path()));
        p.start(program, arguments);
        if (!p.waitForFinished(30000))
            p.kill();
        if (status)
            *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    QString xdotool(const QStringList &arguments) const { return run(QStringLiteral("xdotool"), arguments); }

    // The mapped window of this title; empty while there is none. (A search
    // that meets a window going away fails: it is simply asked again.)
    QString windowNamed(const QString &title) const
    {
        return xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title })
            .section(QLatin1Char('\n'), 0, 0);
    }

    QString property(const QString &window, const char *name) const
    {
        QStringList arguments = window.isEmpty() ? QStringList { QStringLiteral("-root") }
                                                 : QStringList { QStringLiteral("-id"), window };
        arguments << QLatin1String(name);
        return run(QStringLiteral("xprop"), arguments);
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

    // Every entry under `dir` naming Zuna: what a run left behind.
    static QStringList zunaEntriesUnder(const QString &dir)
    {
        QStringList entries;
        QDirIterator it(
            dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString entry = it.next();
            if (entry.contains(QLatin1String("zuna"), Qt::CaseInsensitive) || entry.endsWith(QLatin1String("pgpass")))
                entries << entry;
        }
        return entries;
    }

private slots:
    void initTestCase()
    {
        for (const char *tool : { "Xvfb", "openbox", "xdotool", "xprop", "xwininfo" }) {
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
        m_wm.setProcessEnvironment(desktop(m_dir.path()));
        m_wm.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_wm.start(QStringLiteral("openbox"), {});
        QVERIFY(m_wm.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(property({}, "_NET_SUPPORTING_WM_CHECK").contains(QLatin1String("window id"))
                || m_wm.state() == QProcess::NotRunning,
            60000);
        QVERIFY2(m_wm.state() == QProcess::Running, m_wm.readAllStandardOutput().constData());
    }

    void cleanupTestCase()
    {
        stop(m_wm);
        stop(m_xvfb);
    }

    void theAssistantOpensInsteadOfAnError_data()
    {
        QTest::addColumn<bool>("finish");
        QTest::newRow("Escape") << false;
        QTest::newRow("answered") << true;
    }
    void theAssistantOpensInsteadOfAnError()
    {
        QFETCH(bool, finish);
        QTemporaryDir home;
        QProcess zuna;
        zuna.setProcessEnvironment(desktop(home.path()));
        zuna.start(QStringLiteral(ZUNA_BINARY), QStringList());
        QVERIFY(zuna.waitForStarted());
        QString assistant;
        QTRY_VERIFY2_WITH_TIMEOUT(!(assistant = windowNamed(QStringLiteral("Zuna: primeiro uso"))).isEmpty(),
            zuna.readAllStandardError().constData(), 20000);
        xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), assistant });
        QTRY_COMPARE(xdotool({ QStringLiteral("getwindowfocus") }), assistant);

        if (!finish) {
            xdotool({ QStringLiteral("key"), QStringLiteral("Escape") });
            QTRY_VERIFY_WITH_TIMEOUT(zuna.state() == QProcess::NotRunning, 10000);
            QCOMPARE(zuna.exitCode(), 1);
            QCOMPARE(zunaEntriesUnder(home.path()), QStringList());
            return;
        }
        // The site's name as offered, the area code typed, a new register,
        // the line as it comes: Concluir by its key, Enter there being the
        // line's own button, which has the focus.
        xdotool({ QStringLiteral("key"), QStringLiteral("Return") });
        xdotool({ QStringLiteral("type"), QStringLiteral("21") });
        xdotool({ QStringLiteral("key"), QStringLiteral("Return"), QStringLiteral("Return") });
        xdotool({ QStringLiteral("key"), QStringLiteral("alt+c") });
        QTRY_VERIFY2_WITH_TIMEOUT(
            !windowNamed(QStringLiteral("Atendimento ZUNA")).isEmpty(), zuna.readAllStandardError().constData(), 20000);
        const QString dataDir = home.filePath(QStringLiteral(".local/share/zuna"));
        QVERIFY(QFile::exists(QDir(dataDir).filePath(QStringLiteral("cada.sqlite"))));
        QCOMPARE(CallerIdSettings::load(dataDir).a2DDDLocal, QStringLiteral("21"));
        stop(zuna);
    }
};

QTEST_MAIN(TestFirstRunFromMenu)
#include "TestFirstRunFromMenu.moc"
