#include "TestSupport.h"

#include "PostgresServer.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/NamePattern.h"
#include "core/contacts/PostgresConnection.h"
#include "core/contacts/Register.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// Many desks writing to and reading from one register on the test program's
// PostgreSQL server at once, each desk a thread with a register of its own.
class TestManyDesks : public QObject
{
    Q_OBJECT

    PostgresServer *m_server = nullptr;
    QString m_url;

    static ContactRecord contactOf(int desk, int k)
    {
        ContactRecord r;
        r.a1 = QStringLiteral("Mesa %1 Contato %2").arg(desk, 2, 10, QLatin1Char('0')).arg(k, 3, 10, QLatin1Char('0'));
        r.a4 = QStringLiteral("(21)3%1-%2").arg(desk, 3, 10, QLatin1Char('0')).arg(k, 4, 10, QLatin1Char('0'));
        r.a9 = QStringLiteral("Rua das Mesas, %1").arg(k);
        return r;
    }

    std::unique_ptr<Register> open(Register::Patience patience = Register::Patience::Background) const
    {
        QString error;
        auto reg = Register::open(QString(), m_url, patience, &error);
        if (!reg)
            qFatal("cannot open the register: %s", qPrintable(error));
        return reg;
    }

    qint64 counted() const
    {
        qint64 n = -1;
        QString error;
        if (!open()->count(&n, &error))
            qFatal("cannot count: %s", qPrintable(error));
        return n;
    }

    // Runs `work(desk)` on `desks` threads at once; the errors they met.
    static QStringList atOnce(int desks, const std::function<void(int, QStringList *)> &work)
    {
        QMutex mutex;
        QStringList errors;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < desks; ++i) {
            threads.emplace_back(QThread::create([&, i] {
                QStringList mine;
                work(i, &mine);
                QMutexLocker lock(&mutex);
                errors << mine;
            }));
            threads.back()->start();
        }
        for (auto &t : threads)
            t->wait();
        return errors;
    }

private slots:
    void initTestCase()
    {
        QString why;
        m_server = PostgresServer::shared(&why);
        if (!m_server)
            QSKIP(qPrintable(why));
    }

    void init() { m_url = m_server->newDatabase(); }

    void aSaveIsNotHeldByAnotherDesksOpenSave_data()
    {
        QTest::addColumn<QString>("open");
        QTest::addColumn<bool>("deleting");
        const QString insert = QStringLiteral("INSERT INTO cada (a1, a4) VALUES ('Outra Mesa', '(11)5555-0000')");
        const QString remove = QStringLiteral("DELETE FROM cada WHERE a1 = 'Primeiro'");
        QTest::newRow("new contact beside a new one") << insert << false;
        QTest::newRow("delete beside a new contact") << insert << true;
        QTest::newRow("new contact beside a delete") << remove << false;
        QTest::newRow("delete beside a delete") << remove << true;
    }
    void aSaveIsNotHeldByAnotherDesksOpenSave()
    {
        QFETCH(QString, open);
        QFETCH(bool, deleting);
        const auto desk = this->open(Register::Patience::Window);
        QString error;
        ContactRecord first = contactOf(1, 1), second = contactOf(1, 2);
        first.a1 = QStringLiteral("Primeiro");
        QVERIFY2(desk->insert(first, &first.cd, &error), qPrintable(error));
        QVERIFY2(desk->insert(second, &second.cd, &error), qPrintable(error));

        // Another desk's save, its transaction still open (ended by the server
        // after 6 s, should this desk wait for it).
        PostgresConnection other(m_url);
        QSqlDatabase db = other.database();
        QSqlQuery held(db);
        QVERIFY(held.exec(QStringLiteral("SET idle_in_transaction_session_timeout = '6s'")));
        QVERIFY(db.transaction());
        QVERIFY2(held.exec(open), qPrintable(held.lastError().text()));

        // The window waits 500 ms for a row another desk holds, then refuses.
        QElapsedTimer saving;
        saving.start();
        ContactRecord third = contactOf(1, 3);
        const bool saved = deleting ? desk->remove(second.cd, &error) : desk->insert(third, &third.cd, &error);
        qInfo("saved beside another desk's open save in %lld ms", saving.elapsed());
        QVERIFY2(saved, qPrintable(error));
        QVERIFY2(saving.elapsed() < 400, qPrintable(QString::number(saving.elapsed())));

        held.finish();
        QVERIFY(db.commit());
        const qint64 expected = 2 + (deleting ? -1 : 1) + (open.startsWith(QLatin1String("INSERT")) ? 1 : -1);
        QCOMPARE(counted(), expected);
        QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT count(*) FROM cada")).toLongLong(), expected);
    }

    void theCountIsExactAfterConcurrentInsertsAndDeletesFromManyConnections()
    {
        constexpr int Desks = 12;
        constexpr int Each = 30;
        std::vector<QList<qint64>> codes(Desks);
        // Each desk stores contacts one by one and in a batch, deleting every
        // third as it goes.
        QStringList errors = atOnce(Desks, [&](int desk, QStringList *errors) {
            auto reg = open();
            QString error;
            for (int k = 0; k < Each; ++k) {
                ContactRecord r = contactOf(desk, k);
                if (!reg->insert(r, &r.cd, &error))
                    errors->append(error);
                else if (k % 3 == 0 && !reg->remove(r.cd, &error))
                    errors->append(error);
                else if (k % 3 != 0)
                    codes[desk] << r.cd;
            }
            QList<ContactRecord> batch;
            for (int k = Each; k < Each + 10; ++k)
                batch << contactOf(desk, k);
            if (!reg->insertAll(batch, {}, {}, &error))
                errors->append(error);
        });
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        const qint64 expected = Desks * (Each - Each / 3 + 10);
        QCOMPARE(counted(), expected);
        QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT count(*) FROM cada")).toLongLong(), expected);

        // Then each deletes the contacts another stored one by one, while
        // stores go on.
        errors = atOnce(Desks, [&](int desk, QStringList *errors) {
            auto reg = open();
            QString error;
            for (const qint64 code : std::as_const(codes[(desk + 1) % Desks])) {
                ContactRecord r = contactOf(desk, 500 + int(code % 100));
                if (!reg->remove(code, &error) || !reg->insert(r, &r.cd, &error) || !reg->remove(r.cd, &error))
                    errors->append(error);
            }
        });
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        QCOMPARE(counted(), Desks * 10);
        QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT count(*) FROM cada")).toLongLong(), Desks * 10);
    }

    void aRegisterCountedInOneRowIsUpgradedInPlace()
    {
        // The register as an earlier version made it: the count in one row
        // that every insert and delete updated.
        m_server->exec(m_url,
            QStringLiteral("DROP VIEW cada_contagem; DROP TABLE cada_contagem_parte; "
                           "CREATE TABLE cada_contagem (n BIGINT NOT NULL); INSERT INTO cada_contagem VALUES (0); "
                           "CREATE OR REPLACE FUNCTION zuna_conta() RETURNS TRIGGER LANGUAGE plpgsql AS $$ BEGIN "
                           "IF TG_OP = 'INSERT' THEN UPDATE cada_contagem SET n = n + 1; "
                           "ELSE UPDATE cada_contagem SET n = n - 1; END IF; RETURN NULL; END $$; "
                           "INSERT INTO cada (a1, a4) SELECT 'Antigo ' || i, '(11)4000-' || (1000 + i) "
                           "FROM generate_series(1, 25) i; DELETE FROM cada WHERE a1 = 'Antigo 3'"));
        QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT n FROM cada_contagem")), QStringLiteral("24"));

        QCOMPARE(counted(), 24);
        const auto desk = open();
        ContactRecord r = contactOf(2, 1);
        QString error;
        QVERIFY2(desk->insert(r, &r.cd, &error), qPrintable(error));
        QCOMPARE(counted(), 25);
        // What another program reads as the count is the same.
        QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT n FROM cada_contagem")), QStringLiteral("25"));
        // Opened again: already done, nothing counted twice.
        QCOMPARE(counted(), 25);
    }

    // More desks saving at once than the count has parts: each held part is
    // passed over, and a save beyond them counts on a part of its own rather
    // than wait for another desk's save to end; the count stays exact.
    void aSaveWaitsForNoOtherWhenEveryCountPartIsHeld()
    {
        const qint64 before = counted();
        std::vector<std::unique_ptr<PostgresConnection>> holders;
        for (int i = 0; i < 64; ++i) {
            holders.push_back(std::make_unique<PostgresConnection>(m_url));
            QSqlDatabase db = holders.back()->database();
            QVERIFY(db.transaction());
            QSqlQuery query(db);
            QVERIFY2(query.exec(QStringLiteral("INSERT INTO cada (a1) VALUES ('Mesa que segura %1')").arg(i)),
                qPrintable(query.lastError().text()));
        }
        {
            PostgresConnection late(m_url);
            QSqlQuery query(late.database());
            QVERIFY(query.exec(QStringLiteral("SET lock_timeout = 3000")));
            QElapsedTimer waited;
            waited.start();
            QVERIFY2(query.exec(QStringLiteral("INSERT INTO cada (a1) VALUES ('Mesa a mais')")),
                qPrintable(query.lastError().text()));
            QVERIFY2(waited.elapsed() < 1000, qPrintable(QString::number(waited.elapsed())));
        }
        for (int i = 0; i < 64; ++i) {
            QSqlDatabase db = holders.at(i)->database();
            QVERIFY(i % 2 ? db.commit() : db.rollback());
        }
        holders.clear();
        QCOMPARE(counted(), before + 33);
        QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT count(*) FROM cada")), QString::number(before + 33));
    }

    // Saves, changes and deletes are prepared once on a connection and kept
    // there; a session that lost them (DEALLOCATE ALL, as a connection pool
    // resets one) prepares them again at the next write, which still works.
    void writesArePreparedOncePerConnectionAndSurviveAReset()
    {
        const QStringList before = QSqlDatabase::connectionNames();
        auto reg = open(Register::Patience::Window);
        // The register's connections open on this thread, made as it needs
        // them: the statements they hold, each name once in all.
        const auto onEach = [&](const QString &sql, QStringList *names) {
            bool any = false;
            for (const QString &n : QSqlDatabase::connectionNames()) {
                if (before.contains(n) || !QSqlDatabase::contains(n))
                    continue;
                QSqlDatabase db = QSqlDatabase::database(n, false);
                if (!db.isOpen())
                    continue; // another thread's, or not opened
                QSqlQuery query(db);
                if (!query.exec(sql))
                    return false;
                any = true;
                while (names && query.next())
                    names->append(query.value(0).toString());
            }
            return any;
        };
        const auto ours = [&] {
            QStringList names;
            onEach(QStringLiteral("SELECT name FROM pg_prepared_statements WHERE name LIKE 'zuna%'"), &names);
            names.sort();
            return names;
        };
        const QStringList all = { QStringLiteral("zuna_apaga"), QStringLiteral("zuna_grava"),
            QStringLiteral("zuna_grava_novo"), QStringLiteral("zuna_grava_se") };
        for (int round = 0; round < 3; ++round) {
            ContactRecord r = contactOf(90, round);
            QString error;
            qint64 code = 0;
            QVERIFY2(reg->insert(r, &code, &error), qPrintable(error));
            ContactRecord loaded = r;
            r.cd = code;
            loaded.cd = code;
            r.a9 = QStringLiteral("Avenida, %1").arg(round);
            Register::Saved saved = Register::Saved::Missing;
            QVERIFY2(reg->update(r, &loaded, &saved, &error), qPrintable(error));
            QCOMPARE(saved, Register::Saved::Updated);
            QVERIFY2(reg->update(r, nullptr, &saved, &error), qPrintable(error));
            QCOMPARE(saved, Register::Saved::Updated);
            QVERIFY2(reg->remove(code, &error), qPrintable(error));
            QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT count(*) FROM cada WHERE cd = %1").arg(code)),
                QStringLiteral("0"));
            QCOMPARE(ours(), all);
            if (round == 1)
                QVERIFY(onEach(QStringLiteral("DEALLOCATE ALL"), nullptr));
        }
    }

    void aStatementTimeLimitHitUnderLoadNeverBreaksLaterReads()
    {
        {
            QList<ContactRecord> records;
            for (int k = 0; k < 60; ++k)
                records << contactOf(k % 4, k);
            QString error;
            QVERIFY2(open()->insertAll(records, {}, {}, &error), qPrintable(error));
        }
        const NamePattern patterns[] = { NamePattern::fromTyped(QString()),
            NamePattern::fromTyped(QStringLiteral("mesa 02")), NamePattern::fromTyped(QStringLiteral("*contato 01")) };
        const int expectedRows[] = { ContactListModel::PageSize < 60 ? int(ContactListModel::PageSize) : 60, 15, 10 };

        // Another program takes the whole table now and then, so that reads,
        // and the preparation of their statements, wait past their budget.
        std::atomic<bool> loading { true };
        QThread *locker = QThread::create([&] {
            PostgresConnection other(m_url);
            QSqlDatabase db = other.database();
            QSqlQuery query(db);
            while (loading) {
                db.transaction();
                query.exec(QStringLiteral("LOCK TABLE cada IN ACCESS EXCLUSIVE MODE"));
                query.exec(QStringLiteral("SELECT pg_sleep(0.02)"));
                query.finish();
                db.commit();
                query.exec(QStringLiteral("SELECT pg_sleep(0.005)"));
            }
        });
        locker->start();

        std::atomic<int> timeLimits { 0 }, read { 0 }, loaded { 0 };
        constexpr int Desks = 6;
        const QStringList errors = atOnce(Desks, [&](int desk, QStringList *errors) {
            auto reg = open();
            std::unique_ptr<Register::Reader> reader;
            auto check = [&](int i, int budgetMs) {
                // A desk that starts anew prepares its statements anew.
                if (i % 8 == 0)
                    reader = reg->reader();
                const int p = (desk + i) % 3;
                QList<Register::ListRow> rows;
                QString error;
                bool tooLong = false;
                if (reader->listPage(patterns[p], nullptr, ContactListModel::PageSize, &rows, &error,
                        { budgetMs, &tooLong, nullptr, {} })) {
                    if (rows.size() != expectedRows[p])
                        errors->append(QStringLiteral("%1 rows, not %2").arg(rows.size()).arg(expectedRows[p]));
                    ++read;
                } else if (tooLong) {
                    ++timeLimits;
                } else {
                    errors->append(error);
                }
            };
            for (int i = 0; i < 120; ++i)
                check(i, 8);
            // Once the load is gone, every statement of every desk reads.
            if (++loaded == Desks)
                loading = false;
            while (loading)
                QThread::yieldCurrentThread();
            for (int i = 1; i <= 6; ++i)
                check(i, 1000);
        });
        locker->wait();
        delete locker;
        qInfo("%d pages read, %d ended at their time limit", read.load(), timeLimits.load());
        QVERIFY2(errors.isEmpty(), qPrintable(errors.mid(0, 5).join(QLatin1Char('\n'))));
        QVERIFY(timeLimits > 0);
    }
};

QTEST_GUILESS_MAIN(TestManyDesks)
#include "TestManyDesks.moc"
