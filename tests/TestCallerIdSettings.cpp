#include "core/callerid/CallerIdSettings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// callerid.ini written by an earlier version, in its older keys.
static const QByteArray OlderFile = "[controle]\n"
                                    "a2DDDLocal=31\n"
                                    "a3RootPlugIn=/home/mesa/zuna/P.exe\n"
                                    "a5ClearAllDigits=*\n"
                                    "a6ModoOperac=FSK\n"
                                    "a7ScreenRestore=true\n"
                                    "a8Sensibility=5\n"
                                    "a9NotDetectTipo=true\n"
                                    "\n"
                                    "[linha]\n"
                                    "fonte=modem\n"
                                    "modem-porta=/dev/ttyUSB1\n"
                                    "\n"
                                    "[chamadas]\n"
                                    "dias-guardados=90\n";

class TestCallerIdSettings : public QObject
{
    Q_OBJECT

private slots:
    void anOlderFileIsReadAndRewrittenInTodaysKeys()
    {
        QTemporaryDir dir;
        const QString path = CallerIdSettings::filePath(dir.path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(OlderFile);
        file.close();

        auto check = [](const CallerIdSettings &s) {
            QCOMPARE(s.a2DDDLocal, QStringLiteral("31"));
            QCOMPARE(s.a5ClearAllDigits, QStringLiteral("*"));
            QCOMPARE(s.a6ModoOperac, QStringLiteral("FSK"));
            QCOMPARE(s.a7ScreenRestore, true);
            QCOMPARE(s.a8Sensibility, 5);
            QCOMPARE(s.a9NotDetectTipo, true);
            QCOMPARE(s.source, CallerIdSettings::Source::Modem);
            QCOMPARE(s.modemPort, QStringLiteral("/dev/ttyUSB1"));
            QCOMPARE(s.callLogDays, 90);
        };
        check(CallerIdSettings::load(dir.path()));

        // Read once: the file now holds today's keys alone, and the same
        // values come back from them.
        const QSettings ini(path, QSettings::IniFormat);
        const QStringList keys = ini.allKeys();
        for (const QString &key : keys) {
            const QString name = key.section(QLatin1Char('/'), 1);
            QVERIFY2(name == name.toLower() && !name.contains(QLatin1Char('_')), qPrintable(key));
        }
        QCOMPARE(ini.value(QStringLiteral("controle/ddd-local")).toString(), QStringLiteral("31"));
        QCOMPARE(ini.value(QStringLiteral("controle/sensibilidade")).toInt(), 5);
        check(CallerIdSettings::load(dir.path()));
    }

    void noPlugInPathIsWrittenOffWindows()
    {
#ifdef Q_OS_WIN
        QSKIP("the plug-in's path belongs to Windows");
#endif
        QTemporaryDir dir;
        QFile file(CallerIdSettings::filePath(dir.path()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(OlderFile);
        file.close();
        QCOMPARE(CallerIdSettings::load(dir.path()).a3RootPlugIn, CallerIdSettings().a3RootPlugIn);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("P.exe"));
    }
};

QTEST_GUILESS_MAIN(TestCallerIdSettings)
#include "TestCallerIdSettings.moc"
