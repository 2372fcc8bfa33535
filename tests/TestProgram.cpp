#include "PostgresServer.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTest>

#include <sys/stat.h>

// Runs the real program as a child process, without a screen.
class TestProgram : public QObject
{
    Q_OBJECT

    struct Run
    {
        int status = -1;
        QString out;
        QString err;
    };

    static Run run(const QStringList &arguments, int timeoutMs = 20000)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZUNA_BINARY), arguments);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return {};
        }
        return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError()) };
    }

    static void startOffscreen(QProcess &p, const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZUNA_BINARY), arguments);
        QVERIFY(p.waitForStarted());
    }

private slots:
    void helpAndVersion()
    {
        const Run help = run({ QStringLiteral("--help") });
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains(QLatin1String("--data-dir")));
        QVERIFY(help.out.contains(QLatin1String("--init")));
        const Run version = run({ QStringLiteral("--version") });
        QCOMPARE(version.status, 0);
        QVERIFY(version.out.startsWith(QLatin1String("zuna ")));
    }

    void aWrongCommandLineExitsWithStatusTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList { QStringLiteral("--sem-isso") };
        QTest::newRow("missing folder") << QStringList { QStringLiteral("--data-dir") };
        QTest::newRow("stray argument") << QStringList { QStringLiteral("arquivo") };
        QTest::newRow("call with no number") << QStringList { QStringLiteral("--call"), QStringLiteral("abc") };
        QTest::newRow("--ddd without --init") << QStringList { QStringLiteral("--ddd"), QStringLiteral("11") };
        QTest::newRow("unknown line") << QStringList { QStringLiteral("--line"), QStringLiteral("telefone:1") };
        QTest::newRow("line without its file") << QStringList { QStringLiteral("--line"), QStringLiteral("arquivo") };
        QTest::newRow("line with a bad port") << QStringList { QStringLiteral("--line"), QStringLiteral("ncid:pbx:0") };
        QTest::newRow("sip account without a user")
            << QStringList { QStringLiteral("--line"), QStringLiteral("sip:pabx.local") };
        QTest::newRow("sip account with an unknown parameter")
            << QStringList { QStringLiteral("--line"), QStringLiteral("sip:2001@pabx;transport=sctp") };
        QTest::newRow("sip listening on no port")
            << QStringList { QStringLiteral("--line"), QStringLiteral("sip-escuta:pabx") };
        QTest::newRow("backup into two files")
            << QStringList { QStringLiteral("--backup"), QStringLiteral("a.sqlite"), QStringLiteral("b.sqlite") };
        QTest::newRow("restore without its file") << QStringList { QStringLiteral("--restore") };
        QTest::newRow("backup and restore at once")
            << QStringList { QStringLiteral("--backup"), QStringLiteral("--restore"), QStringLiteral("a.sqlite") };
        QTest::newRow("export to neither csv nor vcf")
            << QStringList { QStringLiteral("--export-contacts"), QStringLiteral("contatos.txt") };
        QTest::newRow("--yes without an import") << QStringList { QStringLiteral("--yes") };
        QTest::newRow("--abrir an unknown window")
            << QStringList { QStringLiteral("--abrir"), QStringLiteral("janela") };
    }
    void aWrongCommandLineExitsWithStatusTwo()
    {
        QFETCH(QStringList, arguments);
        const Run r = run(arguments);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QLatin1String("zuna --help")), qPrintable(r.err));
    }

    void initCreatesOnlyWhatIsMissing()
    {
        QTemporaryDir parent;
        const QString dir = QDir(parent.path()).filePath(QStringLiteral("dados"));
        const Run first = run({ QStringLiteral("--init"), QStringLiteral("--data-dir"), dir });
        QCOMPARE(first.status, 0);
        for (const char *name : { "cada.sqlite", "ddd.sqlite", "site.txt" })
            QVERIFY2(QFile::exists(QDir(dir).filePath(QLatin1String(name))), name);

        QFile site(QDir(dir).filePath(QStringLiteral("site.txt")));
        QVERIFY(site.open(QIODevice::WriteOnly | QIODevice::Truncate));
        site.write("Clínica Boa Vida\n");
        site.close();
        QVERIFY(QFile::remove(QDir(dir).filePath(QStringLiteral("ddd.sqlite"))));
        const Run second = run({ QStringLiteral("--init"), QStringLiteral("--data-dir"), dir });
        QCOMPARE(second.status, 0);
        QVERIFY(site.open(QIODevice::ReadOnly));
        QCOMPARE(site.readAll(), QByteArray("Clínica Boa Vida\n"));
        QVERIFY(QFile::exists(QDir(dir).filePath(QStringLiteral("ddd.sqlite"))));
    }

    void whatZunaCreatesIsPrivateWhateverTheUmask()
    {
        QTemporaryDir parent;
        const QString dir = QDir(parent.path()).filePath(QStringLiteral("dados"));
        const mode_t before = umask(0); // the most open a session can be
        const Run init = run({ QStringLiteral("--init"), QStringLiteral("--ddd"), QStringLiteral("11"),
            QStringLiteral("--data-dir"), dir });
        umask(before);
        QCOMPARE(init.status, 0);
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFileInfo(dir).permissions() & others, QFile::Permissions());
        for (const char *name : { "cada.sqlite", "ddd.sqlite", "site.txt" })
            QVERIFY2(!(QFileInfo(QDir(dir).filePath(QLatin1String(name))).permissions() & others), name);

        // Files made while it runs: the lock, the settings.
        umask(0);
        QProcess zuna;
        startOffscreen(zuna, { QStringLiteral("--data-dir"), dir });
        umask(before);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QDir(dir).filePath(QStringLiteral(".zuna.lock"))), 10000);
        QVERIFY(!(QFileInfo(QDir(dir).filePath(QStringLiteral(".zuna.lock"))).permissions() & others));
        zuna.kill();
        zuna.waitForFinished();
    }

    void aFailedStartExitsNonZeroWithoutAWindow()
    {
        DataFolderFixture data;
        QVERIFY(QFile::remove(data.file(QStringLiteral("ddd.sqlite"))));
        const Run r = run({ QStringLiteral("--data-dir"), data.path() });
        QVERIFY(r.status > 0);
        QVERIFY2(r.err.contains(QLatin1String("ddd.sqlite")), qPrintable(r.err));
        QVERIFY(!QFile::exists(data.file(QStringLiteral("ddd.sqlite"))));

        const Run noFolder = run({ QStringLiteral("--data-dir"), data.file(QStringLiteral("nada")) });
        QVERIFY(noFolder.status > 0);
        QVERIFY(noFolder.err.contains(QLatin1String("zuna --init")));
    }

    void aSecondCopyLeavesTheFirstRunning()
    {
        DataFolderFixture data;
        QProcess first;
        startOffscreen(first, { QStringLiteral("--data-dir"), data.path() });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(data.file(QStringLiteral(".zuna.lock"))), 10000);

        QProcess second;
        startOffscreen(second, { QStringLiteral("--data-dir"), data.path() });
        // The second copy waits on its start-up window; the first goes on.
        QVERIFY(!second.waitForFinished(1500));
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(!second.readAllStandardError().contains("Erro"));

        second.kill();
        second.waitForFinished();
        first.kill();
        first.waitForFinished();
        // A lock left by a copy that died is taken over by the next one.
        QProcess third;
        startOffscreen(third, { QStringLiteral("--data-dir"), data.path() });
        QVERIFY(!third.waitForFinished(1500));
        third.kill();
        third.waitForFinished();
    }

    void aLockNoLiveCopyOwnsIsTakenOver_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty, as a power cut leaves it") << QByteArray();
        QTest::newRow("zeros") << QByteArray(64, '\0');
        QTest::newRow("garbage") << QByteArray("\x8f\x01zz\xff\n\n\x02");
        QTest::newRow("a live process that is not Zuna") << ("1\n" + QSysInfo::machineHostName().toUtf8() + "\ninit\n");
        QTest::newRow("another machine") << QByteArray("4242\nbalcao-2\nzuna\n");
    }
    void aLockNoLiveCopyOwnsIsTakenOver()
    {
        QFETCH(QByteArray, content);
        DataFolderFixture data;
        QFile lock(data.file(QStringLiteral(".zuna.lock")));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(content);
        lock.close();
        // Written well before this start, as a crash leaves it.
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        lock.close();
        QProcess zuna;
        startOffscreen(zuna, { QStringLiteral("--data-dir"), data.path() });
        // It holds the folder now: the lock names it.
        auto owner = [&] {
            QFile f(data.file(QStringLiteral(".zuna.lock")));
            return f.open(QIODevice::ReadOnly) ? f.readLine().trimmed().toLongLong() : 0;
        };
        QTRY_COMPARE_WITH_TIMEOUT(owner(), zuna.processId(), 10000);
        QCOMPARE(zuna.state(), QProcess::Running);
        zuna.kill();
        zuna.waitForFinished();
    }

    void aLockThatCannotBeMadeIsReported()
    {
        DataFolderFixture data;
        QVERIFY(QDir().mkdir(data.file(QStringLiteral(".zuna.lock"))));
        const Run r = run({ QStringLiteral("--data-dir"), data.path() });
        QCOMPARE(r.status, 1);
        QVERIFY2(
            r.err.contains(QLatin1String(".zuna.lock")) && r.err.contains(QLatin1String("pasta")), qPrintable(r.err));
    }

    void anUnreachableServerEndsTheStartWithOneMessage()
    {
        // A socket folder nobody serves: the server named, its password not.
        QTemporaryDir nowhere;
        const QString server = QStringLiteral("postgresql://zuna:segredo@/zuna?host=%1&port=5999").arg(nowhere.path());
        DataFolderFixture data;
        const Run r = run({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--database"), server });
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err.count(QStringLiteral("Sem conexão com o servidor do cadastro.")), 1);
        QVERIFY2(r.err.contains(nowhere.path()), qPrintable(r.err));
        QVERIFY2(!r.err.contains(QLatin1String("segredo")), qPrintable(r.err));

        // Nor does --init name it in the folder when it holds no register.
        const QString dir = QDir(nowhere.path()).filePath(QStringLiteral("dados"));
        const Run init = run(
            { QStringLiteral("--init"), QStringLiteral("--data-dir"), dir, QStringLiteral("--database"), server });
        QCOMPARE(init.status, 1);
        QVERIFY(!QFile::exists(QDir(dir).filePath(QStringLiteral("registro.ini"))));
    }

    // Making and filling a register on a real server: the server's notices
    // (an extension already there) are no business of the person at the
    // terminal.
    void aServerRegisterIsMadeWithoutServerNotices()
    {
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        QTemporaryDir dir;
        const QString made = server->newDatabase(false);
        const Run init = run({ QStringLiteral("--init"), QStringLiteral("--data-dir"),
            dir.filePath(QStringLiteral("servidor")), QStringLiteral("--database"), made });
        QVERIFY2(init.status == 0, qPrintable(init.err));
        QVERIFY2(init.err.isEmpty(), qPrintable(init.err));

        DataFolderFixture data;
        const Run copy = run({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--copy-register"),
            server->newDatabase(false) });
        QVERIFY2(copy.status == 0, qPrintable(copy.err));
        QVERIFY2(copy.err.isEmpty(), qPrintable(copy.err));
    }

    // A server that cannot be had: the person reads first what went wrong,
    // in Portuguese; libpq's English comes after, as the detail.
    void aServerFailureLeadsInPortuguese_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("lead");
        QTest::addColumn<QString>("libpq");
        const QString nowhere = QStringLiteral("postgresql://zuna@127.0.0.1:1/zuna?connect_timeout=5");
        const QString unreachable = QStringLiteral("zuna: Sem conexão com o servidor do cadastro.");
        const QString refused = QStringLiteral("Connection refused");
        QTest::newRow("start-up") << QStringList { QStringLiteral("--database"), nowhere }
                                  << QStringLiteral("Erro: Não foi possível iniciar o Zuna.") << refused;
        QTest::newRow("--init") << QStringList { QStringLiteral("--init"), QStringLiteral("--database"), nowhere }
                                << unreachable << refused;
        QTest::newRow("--copy-register") << QStringList { QStringLiteral("--copy-register"), nowhere } << unreachable
                                         << refused;
        QTest::newRow("--chamadas") << QStringList { QStringLiteral("--chamadas"), QStringLiteral("--database"),
            nowhere } << unreachable << refused;
    }

    void aServerFailureLeadsInPortuguese()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, lead);
        QFETCH(QString, libpq);
        DataFolderFixture data;
        QTemporaryDir fresh;
        const bool init = arguments.contains(QStringLiteral("--init"));
        const Run r = run(
            QStringList { QStringLiteral("--data-dir"), init ? fresh.filePath(QStringLiteral("dados")) : data.path() }
            + arguments);
        QCOMPARE(r.status, 1);
        QStringList lines = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // Qt's note on a test machine with no session of its own.
        lines.removeIf([](const QString &line) { return line.startsWith(QLatin1String("QStandardPaths: ")); });
        QVERIFY2(!lines.isEmpty() && lines.first() == lead, qPrintable(r.err));
        // The library's words, in a detail line and what continues it.
        qsizetype detail = 0;
        while (detail < lines.size() && !lines.at(detail).startsWith(QLatin1String("Detalhe: ")))
            ++detail;
        QVERIFY2(detail > 0 && detail < lines.size(), qPrintable(r.err));
        for (qsizetype i = 0; i < detail; ++i)
            QVERIFY2(!lines.at(i).contains(libpq), qPrintable(r.err));
        QVERIFY2(r.err.contains(libpq), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "TestProgram.moc"
