#include "TestSupport.h"

#include "PostgresServer.h"
#include "core/app/RegisterErrand.h"
#include "core/contacts/CallFilter.h"
#include "core/contacts/NameKey.h"
#include "core/contacts/PostgresConnection.h"
#include "core/contacts/PostgresRegister.h"
#include "core/contacts/PostgresSchema.h"
#include "core/contacts/RegisterProblem.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

// What belongs to a register on a server: other desks told of a save, an
// unreachable server or a database without the register named plainly, a
// desk's register copied onto the server with its codes, and a search cut
// off at its time limit.
class TestServerRegister : public QObject
{
    Q_OBJECT

    // The trigger's function as an earlier version made it: its notice names
    // no writer.
    static inline const QString UnnamedNotice
        = QStringLiteral("CREATE OR REPLACE FUNCTION zuna_avisa() RETURNS TRIGGER LANGUAGE plpgsql AS $$ BEGIN "
                         "PERFORM pg_notify('zuna_cadastro', ''); RETURN NULL; END $$");
    // An earlier version's count: a save waits when its part is held.
    static inline const QString WaitingCount
        = QStringLiteral("CREATE OR REPLACE FUNCTION zuna_conta() RETURNS TRIGGER LANGUAGE plpgsql AS $$ BEGIN "
                         "UPDATE cada_contagem_parte SET n = n + CASE WHEN TG_OP = 'INSERT' THEN 1 ELSE -1 END "
                         "WHERE parte = pg_backend_pid() % 64; RETURN NULL; END $$");

    // The connection `open` makes on the calling thread.
    static QSqlDatabase connectionOpenedBy(const std::function<bool()> &open)
    {
        const QStringList before = QSqlDatabase::connectionNames();
        if (!open())
            return {};
        for (const QString &name : QSqlDatabase::connectionNames()) {
            if (!before.contains(name))
                return QSqlDatabase::database(name, false);
        }
        return {};
    }

    // `work` on the errand's thread, waited for.
    static bool onErrand(RegisterErrand &errand, const std::function<bool(QString *)> &work, QString *error)
    {
        auto outcome = std::make_shared<std::optional<bool>>();
        errand.run([work, outcome, error] { *outcome = work(error); }, [] {});
        return QTest::qWaitFor([&] { return outcome->has_value(); }, 10000) && **outcome;
    }

private slots:
    void aSaveAtOneDeskIsAnnouncedToTheOthers()
    {
        QString why;
        if (!PostgresServer::shared(&why))
            QSKIP(qPrintable(why));
        RegisterFixture r(QStringLiteral("postgresql"));
        const auto otherDesk = r.openAnother();
        QVERIFY(RegisterFixture::counted(*otherDesk) == 0); // connected, and listening
        QSignalSpy announced(otherDesk.get(), &Register::changedElsewhere);
        QSignalSpy ownAnnounced(&r.reg(), &Register::changedElsewhere);
        QElapsedTimer timer;
        timer.start();
        r.add(r.data().contact(QStringLiteral("Ana")));
        QVERIFY(announced.wait(1000));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(ownAnnounced.count(), 0); // a desk is not told of its own saves
    }

    // A desk also writes on connections other than the one that listens
    // (the errand's, for a server across town): the notices of those writes
    // are its own too, and it has read its list after them already. Every
    // other desk's change is still told; and so is every change while the
    // register's trigger is an earlier version's, which names no writer.
    void aDeskIsToldOfOtherDesksChangesNotOfItsOwn_data()
    {
        QTest::addColumn<QString>("write");
        QTest::addColumn<int>("ownNotices");
        QTest::addColumn<bool>("ownTold");
        QTest::newRow("new contact") << QStringLiteral("insert") << 1 << false;
        QTest::newRow("changed contact") << QStringLiteral("update") << 1 << false;
        QTest::newRow("deleted contact") << QStringLiteral("remove") << 1 << false;
        QTest::newRow("connection lost and made anew") << QStringLiteral("reconnect") << 2 << false;
        QTest::newRow("earlier version's trigger") << QStringLiteral("unnamed") << 1 << true;
    }

    void aDeskIsToldOfOtherDesksChangesNotOfItsOwn()
    {
        QFETCH(QString, write);
        QFETCH(int, ownNotices);
        QFETCH(bool, ownTold);
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QString url = server->newDatabase();
        if (write == QLatin1String("unnamed"))
            server->exec(url, UnnamedNotice);
        QString error;
        PostgresRegister desk(url);
        QSqlDatabase listening = connectionOpenedBy([&] { return desk.connectNow(&error); });
        QVERIFY2(listening.isOpen(), qPrintable(error));
        PostgresRegister other(url);
        QSqlDatabase othersOwn = connectionOpenedBy([&] { return other.connectNow(&error); });
        QVERIFY2(othersOwn.isOpen(), qPrintable(error));
        // Every notice that reaches the desk, told or not: after the desk
        // handled it (its handler was connected first).
        int heard = 0;
        connect(listening.driver(), &QSqlDriver::notification, this, [&heard] { ++heard; });
        QSignalSpy told(&desk, &Register::changedElsewhere);

        ContactRecord theirs;
        theirs.a1 = QStringLiteral("OUTRA MESA");
        theirs.a4 = QStringLiteral("(11)3000-0001");
        QVERIFY2(other.insert(theirs, &theirs.cd, &error), qPrintable(error));
        QTRY_COMPARE(heard, 1);
        QCOMPARE(told.count(), 1);

        RegisterErrand errand(desk);
        ContactRecord mine;
        mine.a1 = QStringLiteral("ESTA MESA");
        mine.a4 = QStringLiteral("(11)3000-0002");
        ContactRecord changed = theirs;
        changed.a9 = QStringLiteral("Rua Nova, 1");
        Register::Saved saved = Register::Saved::Missing;
        if (write == QLatin1String("update")) {
            QVERIFY2(onErrand(
                         errand, [&](QString *e) { return desk.update(changed, &theirs, &saved, e); }, &error),
                qPrintable(error));
            QCOMPARE(saved, Register::Saved::Updated);
        } else if (write == QLatin1String("remove")) {
            QVERIFY2(onErrand(
                         errand, [&](QString *e) { return desk.remove(theirs.cd, e); }, &error),
                qPrintable(error));
        } else {
            QVERIFY2(onErrand(
                         errand, [&](QString *e) { return desk.insert(mine, &mine.cd, e); }, &error),
                qPrintable(error));
        }
        if (write == QLatin1String("reconnect")) {
            // The errand's connection ends at the server; the desk finds it
            // gone at its next write, and writes on a new one.
            server->exec(url,
                QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                               "current_database() AND pid NOT IN (%1, %2, pg_backend_pid())")
                    .arg(PostgresConnection::backendPid(listening))
                    .arg(PostgresConnection::backendPid(othersOwn)));
            QVERIFY(!onErrand(
                errand, [&](QString *e) { return desk.remove(mine.cd, e); }, &error));
            QVERIFY2(onErrand(
                         errand, [&](QString *e) { return desk.remove(mine.cd, e); }, &error),
                qPrintable(error));
        }

        // Another desk's change after them: heard once the desk's own were.
        ContactRecord later;
        later.a1 = QStringLiteral("OUTRA MESA DEPOIS");
        later.a4 = QStringLiteral("(11)3000-0003");
        QVERIFY2(other.insert(later, &later.cd, &error), qPrintable(error));
        QTRY_COMPARE(heard, 1 + ownNotices + 1);
        QCOMPARE(told.count(), 1 + (ownTold ? ownNotices : 0) + 1);
    }

    // A register whose trigger names no writer is brought to name it, in
    // place, by the first desk of this version that opens it, also when
    // several open it at once. A desk whose user may not replace the
    // trigger's function works all the same (told of its own writes too).
    void anEarlierVersionsNoticeIsUpgradedInPlace_data()
    {
        QTest::addColumn<int>("desks");
        QTest::addColumn<bool>("owner");
        QTest::newRow("one desk") << 1 << true;
        QTest::newRow("four desks at once") << 4 << true;
        QTest::newRow("a user who may not replace it") << 1 << false;
    }

    void anEarlierVersionsNoticeIsUpgradedInPlace()
    {
        QFETCH(int, desks);
        QFETCH(bool, owner);
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QString url = server->newDatabase();
        server->exec(url, UnnamedNotice);
        server->exec(url, WaitingCount);
        QString deskUrl = url;
        if (!owner) {
            const QString role = QStringLiteral("mesa_%1").arg(url.section(QLatin1Char('/'), 3).section('?', 0, 0));
            server->exec(url,
                QStringLiteral("CREATE ROLE %1 LOGIN; "
                               "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO %1; "
                               "GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA public TO %1")
                    .arg(role));
            deskUrl.replace(QLatin1String("user=postgres"), QStringLiteral("user=") + role);
        }
        QStringList errors(desks);
        std::vector<std::unique_ptr<QThread>> opening;
        for (int i = 0; i < desks; ++i) {
            opening.emplace_back(QThread::create([&, i] {
                QString error;
                const auto reg = Register::open(QString(), deskUrl, Register::Patience::Background, &error);
                ContactRecord r;
                r.a1 = QStringLiteral("MESA %1").arg(i);
                if (reg)
                    reg->insert(r, &r.cd, &error);
                errors[i] = error;
            }));
        }
        for (const auto &t : opening)
            t->start();
        for (const auto &t : opening)
            QVERIFY(t->wait(60000));
        QCOMPARE(errors, QStringList(desks));
        QCOMPARE(server->value(url, QStringLiteral("SELECT count(*) FROM cada")), QString::number(desks));
        QCOMPARE(server->value(url,
                     QStringLiteral("SELECT position('pg_backend_pid()' IN prosrc) > 0 FROM pg_proc "
                                    "WHERE oid = 'zuna_avisa'::regproc")),
            owner ? QStringLiteral("t") : QStringLiteral("f"));
        QCOMPARE(server->value(url,
                     QStringLiteral("SELECT position('ON CONFLICT' IN prosrc) > 0 FROM pg_proc "
                                    "WHERE oid = 'zuna_conta'::regproc")),
            owner ? QStringLiteral("t") : QStringLiteral("f"));
    }

    void anUnreachableServerIsNamedAndNoPasswordShown()
    {
        QString error;
        const auto opened = Register::open(QString(),
            QStringLiteral("postgresql://zuna:segredo@/zuna?host=/nonexistent&connect_timeout=2"),
            Register::Patience::Window, &error);
        QVERIFY(!opened);
        QVERIFY2(error.startsWith(QStringLiteral("Sem conexão com o servidor do cadastro.")), qPrintable(error));
        QVERIFY2(error.contains(QLatin1String("/nonexistent")), qPrintable(error));
        QVERIFY2(!error.contains(QLatin1String("segredo")), qPrintable(error));
    }

    void aDatabaseWithoutTheRegisterSaysHowToMakeIt()
    {
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QString url = server->newDatabase(false);
        QString error;
        QVERIFY(!Register::open(QString(), url, Register::Patience::Window, &error));
        QVERIFY2(error.contains(QLatin1String("zuna --init --database")), qPrintable(error));
        QVERIFY2(PostgresSchema::create(url, &error), qPrintable(error));
        QVERIFY(!PostgresSchema::create(url, &error)); // never over a register
        QVERIFY2(error.contains(QStringLiteral("já tem")), qPrintable(error));
    }

    // A search sends its first rows (the matches near the start of the name
    // order) before it reads the rest of the table: a time limit that ends it
    // between the two must fail the page, never leave the first rows shown as
    // the whole answer. Budgets from tiny to ample end the search at every
    // stage, wherever this machine's speed puts them.
    void aSearchCutOffAfterItsFirstRowsFailsTheWholePage()
    {
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QString url = server->newDatabase();
        // A few matches first in name order, a stretch without any, then a
        // long table of matches that only a read of the whole table finds.
        // (Counted by no trigger while filled: quicker, and nothing counts.)
        server->exec(url,
            QStringLiteral("SET session_replication_role = replica;"
                           "INSERT INTO cada (a1) SELECT 'Aça ' || i FROM generate_series(1, 3) i;"
                           "INSERT INTO cada (a1) SELECT 'Bruno ' || i FROM generate_series(1, 2500) i;"
                           "INSERT INTO cada (a1) SELECT 'Conceição ' || i FROM generate_series(1, 300000) i;"
                           "ANALYZE cada"));
        PostgresRegister reg(url);
        const auto reader = reg.reader();
        QString error;
        QVERIFY2(reader->isOpen(&error), qPrintable(error));
        const NamePattern pattern = NamePattern::fromTyped(QStringLiteral("*ç"));
        constexpr int Limit = 64;
        QList<Register::ListRow> whole;
        QVERIFY2(reader->listPage(pattern, nullptr, Limit, &whole, &error, {}), qPrintable(error));
        QCOMPARE(whole.size(), Limit);
        QCOMPARE(whole.at(2).a1, QStringLiteral("Aça 3"));
        QVERIFY(whole.at(3).a1.startsWith(QStringLiteral("Conceição ")));

        int cut = 0;
        for (int budgetMs : { 1, 2, 4, 8, 16, 32, 64, 128, 256, 512 }) {
            QList<Register::ListRow> rows;
            bool tooLong = false;
            RegisterProblem problem = RegisterProblem::None;
            if (reader->listPage(pattern, nullptr, Limit, &rows, &error, { budgetMs, &tooLong, &problem, {} })) {
                QVERIFY2(rows.size() == Limit,
                    qPrintable(
                        QStringLiteral("%1 rows shown as the whole answer at %2 ms").arg(rows.size()).arg(budgetMs)));
                QCOMPARE(rows.constLast().cd, whole.constLast().cd);
            } else {
                QVERIFY2(tooLong, qPrintable(error));
                QCOMPARE(problem, RegisterProblem::Slow);
                QVERIFY(rows.isEmpty());
                ++cut;
            }
        }
        QVERIFY(cut > 0); // some budget was short enough to end the search
    }

    // When the first rows of the name index hold a few matches, the search
    // reads the index on, as far as their rate says the page needs, before
    // it would read the whole table; on a register as large as the server
    // believes this one to be. Where the walk fills the page, where it falls
    // short and the table is read too, and on every page after: the same
    // names as every name read and matched one by one.
    void aWalkOnFromTheFirstMatchesFindsWhatEveryNameReadFinds()
    {
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QString url = server->newDatabase();
        // "Mourão" in one name of forty all along; "Conceição" in one of
        // fifty at the start, then a few, then many at the end.
        server->exec(url,
            QStringLiteral("INSERT INTO cada (a1) SELECT 'Ana ' || lpad(i::text, 5, '0') || CASE WHEN i % 40 = 0 "
                           "THEN ' Mourão' WHEN (i <= 2600 AND i % 50 = 25) OR i % 1000 = 500 OR (i > 9000 AND "
                           "i % 30 = 7) THEN ' Conceição' ELSE '' END FROM generate_series(1, 12000) i;"
                           "ALTER TABLE cada SET (autovacuum_enabled = false); ANALYZE cada;"
                           "UPDATE pg_class SET reltuples = 20000000 WHERE oid = 'cada'::regclass"));
        PostgresRegister reg(url);
        const QStringList everyName = RegisterFixture::listedNames(reg, 5000);
        QCOMPARE(everyName.size(), 12000);
        for (const QString &infix :
            { QStringLiteral("mourão"), QStringLiteral("conceição"), QStringLiteral("ana 0") }) {
            QStringList expected;
            for (const QString &name : everyName)
                if (NameKey::caseFold(name).contains(infix))
                    expected << name;
            QCOMPARE(RegisterFixture::listedNames(reg, 64, NamePattern::fromTyped(QLatin1Char('*') + infix)), expected);
        }
        QCOMPARE(
            server->value(url, QStringLiteral("SELECT reltuples::bigint FROM pg_class WHERE oid = 'cada'::regclass"))
                .toLongLong(),
            20000000);
    }

    void aDeskRegisterIsCopiedWithItsCodes()
    {
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        DataFolderFixture desk;
        SqliteRegister source(desk.file(DataFiles::Contacts), desk.file(DataFiles::AreaCode));
        for (int i = 0; i < 1200; ++i)
            desk.addContact(desk.contact(QStringLiteral("Pessoa %1").arg(i), QStringLiteral("(11)3333-%1").arg(i)));
        desk.exec(DataFiles::Contacts, QStringLiteral("DELETE FROM CADA WHERE CD % 7 = 0"));
        desk.exec(DataFiles::Contacts, QStringLiteral("UPDATE CADA SET A9 = NULL WHERE CD = 5"));
        // Texts that end a field or a row, or mean NULL, in a stream of rows:
        // each must arrive as it was, and an empty text must stay apart from NULL.
        const QStringList awkward = { QStringLiteral("'Rua\tA'"), QStringLiteral("'linha 1' || char(10) || 'linha 2'"),
            QStringLiteral("'fim' || char(13) || char(10)"), QStringLiteral("'C:\\pasta\\'"), QStringLiteral("'\\N'"),
            QStringLiteral("'\\.'"), QStringLiteral("''"), QStringLiteral("'São João'"),
            QStringLiteral("char(9) || char(9)") };
        for (qsizetype i = 0; i < awkward.size(); ++i)
            desk.exec(DataFiles::Contacts,
                QStringLiteral("UPDATE CADA SET A10 = %1, OB = %1 WHERE CD = %2").arg(awkward.at(i)).arg(7 * i + 1));
        desk.exec(DataFiles::Contacts, QStringLiteral("UPDATE CADA SET OB = NULL WHERE CD = 1"));
        qint64 expected = 0;
        QVERIFY(source.count(&expected, nullptr));

        const QString url = server->newDatabase();
        qint64 copied = 0;
        QString error;
        QVERIFY2(PostgresSchema::copyFrom(source, url, &copied, &error), qPrintable(error));
        QCOMPARE(copied, expected);
        PostgresRegister copy(url);
        QCOMPARE(RegisterFixture::counted(copy), expected);
        QList<ContactRecord> before, after;
        QVERIFY(source.forEachContact([&](const ContactRecord &c) { return before << c, true; }, nullptr));
        QVERIFY(copy.forEachContact([&](const ContactRecord &c) { return after << c, true; }, nullptr));
        QCOMPARE(after, before);
        // QString does not tell an empty text from NULL: the server does.
        QCOMPARE(server->value(url, QStringLiteral("SELECT a10 = '', ob IS NULL, a9 IS NULL FROM cada WHERE cd = 43")),
            QStringLiteral("t|f|f"));
        QCOMPARE(server->value(url, QStringLiteral("SELECT ob IS NULL, a10 FROM cada WHERE cd = 1")),
            QStringLiteral("t|Rua\tA"));
        QCOMPARE(server->value(url, QStringLiteral("SELECT a9 IS NULL FROM cada WHERE cd = 5")), QStringLiteral("t"));
        QString areaCode;
        QVERIFY(copy.loadAreaCode(&areaCode, nullptr));
        QCOMPARE(areaCode, QStringLiteral("11"));
        // New contacts are numbered above the copied ones.
        qint64 code = 0;
        QVERIFY(copy.insert(desk.contact(QStringLiteral("Nova")), &code, &error));
        QVERIFY(code > before.constLast().cd);
        // Never into a register that has contacts: nothing changes.
        QVERIFY(!PostgresSchema::copyFrom(source, url, &copied, &error));
        QCOMPARE(RegisterFixture::counted(copy), expected + 1);
    }

    // Today's calls at the end of a long log: the page walks down the ids to
    // the lowest of today's, which the time index gives from today's calls
    // alone. Asked for as the lowest id of the table above a time, the
    // planner walked the ids up from the oldest call, about as long as a
    // read of the whole log, which it is timed against (the fastest of
    // three of each).
    void todaysCallsAreReadWithoutReadingTheWholeLog()
    {
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QString url = server->newDatabase();
        const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
        // A call every 50 s for 174 days, the last 1500 of them today (as
        // the planner sees it, as a log whose days are alike).
        constexpr int Today = 1500;
        server->exec(url,
            QStringLiteral(
                "INSERT INTO chamadas (quando, tipo, recebido, chave, numero, nome_linha, fonte, linha, nome, busca) "
                "SELECT to_timestamp(%1) + (i - 300000) * interval '50 seconds' - interval '25 seconds', 'numero', "
                "'1133334444', "
                "'1133334444', '(11)3333-4444', '', 'teste', 'linha', '', 'fulano 1133334444' "
                "FROM generate_series(1, %2) i")
                .arg(midnight.toSecsSinceEpoch())
                .arg(300000 + Today));
        server->exec(url, QStringLiteral("VACUUM ANALYZE chamadas"));
        PostgresRegister reg(url);
        PostgresConnection other(url);
        QSqlQuery whole(other.database());
        QVERIFY(whole.exec(QStringLiteral("SET max_parallel_workers_per_gather = 0")));
        CallFilter today;
        today.since = midnight;
        double fastestToday = 1e9, fastestWhole = 1e9;
        for (int i = 0; i < 3; ++i) {
            QList<CallRecord> rows;
            QString error;
            QElapsedTimer reading;
            reading.start();
            QVERIFY2(reg.listCalls(today, 0, 100, &rows, &error), qPrintable(error));
            fastestToday = std::min(fastestToday, reading.nsecsElapsed() / 1e6);
            QCOMPARE(rows.size(), 100);
            QCOMPARE(rows.constFirst().when, midnight.addSecs(50 * Today - 25));
            // The second page ends at today's first call.
            QVERIFY2(reg.listCalls(today, rows.constLast().id, Today, &rows, &error), qPrintable(error));
            QCOMPARE(rows.size(), Today - 100);
            QCOMPARE(rows.constLast().when, midnight.addSecs(25));
            reading.restart();
            QVERIFY2(whole.exec(QStringLiteral("SELECT max(length(busca)) FROM chamadas WHERE quando >= 'epoch'")),
                qPrintable(whole.lastError().text()));
            fastestWhole = std::min(fastestWhole, reading.nsecsElapsed() / 1e6);
        }
        qInfo("today's calls: %.1f ms; the whole log read: %.1f ms", fastestToday, fastestWhole);
        QVERIFY2(fastestToday * 5 < fastestWhole, qPrintable(QString::number(fastestToday)));
    }
};

QTEST_MAIN(TestServerRegister)
#include "TestServerRegister.moc"
