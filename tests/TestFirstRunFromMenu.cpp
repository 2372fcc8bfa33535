#include "X11Desktop.h"

#include "core/callerid/CallerIdSettings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
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

    X11Desktop m_desktop;
    QTemporaryDir m_cache;

    // A home of its own for each run: nothing of Zuna in it.
    QProcessEnvironment desktop(const QString &home) const
    {
        QProcessEnvironment env = m_desktop.environment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_cache.path());
        env.remove(QStringLiteral("PGPASSFILE"));
        return env;
    }
    QString xdotool(const QStringList &arguments) const { return m_desktop.xdotool(arguments); }
    QString windowNamed(const QString &title) const { return m_desktop.windowNamed(title); }

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
        QString why;
        if (!m_desktop.start(false, &why))
            QSKIP(qPrintable(why));
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
        X11Desktop::stop(zuna);
    }
};

QTEST_MAIN(TestFirstRunFromMenu)
#include "TestFirstRunFromMenu.moc"
