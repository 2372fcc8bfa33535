#include "TestSupport.h"

#include "PostgresServer.h"
#include "core/contacts/NameKey.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/PostgresRegister.h"
#include "core/contacts/PostgresSchema.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteNameScan.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

// The register's behaviour, each case on SQLite and on PostgreSQL.
class TestRegisterBackends : public QObject
{
    Q_OBJECT

private:
    static std::optional<ContactRecord> byCode(Register &reg, qint64 code)
    {
        std::optional<ContactRecord> found;
        QString error;
        if (!reg.findByCode(code, &found, &error))
            qFatal("%s", qPrintable(error));
        return found;
    }

private slots:
    void initTestCase_data() { RegisterFixture::addBackends(); }

    void theCountFollowsEveryProgramsWrites()
    {
        REGISTER_FIXTURE(r);
        QCOMPARE(RegisterFixture::counted(r.reg()), 0);
        const qint64 code = r.add(r.data().contact(QStringLiteral("Ana")));
        r.exec(QStringLiteral("INSERT INTO CADA (A1) VALUES ('Bia'), ('Caio'), ('Duda')"));
        QCOMPARE(RegisterFixture::counted(r.reg()), 4);
        r.exec(QStringLiteral("DELETE FROM CADA WHERE A1 IN ('Bia', 'Caio')"));
        QVERIFY(r.reg().remove(code, nullptr));
        QCOMPARE(RegisterFixture::counted(r.reg()), 1);
        if (!r.isPostgres()) {
            // A row replaced in place bypasses SQLite's delete trigger: the
            // count is set right again when the indexes are looked after.
            r.exec(QStringLiteral("INSERT OR REPLACE INTO CADA (CD, A1) SELECT CD, 'Eva' FROM CADA"));
            QVERIFY(r.reg().buildIndexes(nullptr));
            QCOMPARE(RegisterFixture::counted(r.reg()), 1);
        }
    }

    void namesMatchWhatWasTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("beginning, any case")
            << "MARIA" << QStringList { "Maria Conceição", "Maria da Conceicao", "Maria Silva", "Maria Sílvia" };
        QTest::newRow("accented, any case") << "JOSÉ" << QStringList { "José Santos" };
        QTest::newRow("an accent is its own letter") << "jose" << QStringList {};
        QTest::newRow("surname") << "*silva"
                                 << QStringList { "Ana Silva", "João da Silva", "Maria Silva", "SILVANA Costa" };
        QTest::newRow("accented part") << "*conceição" << QStringList { "Maria Conceição" };
        QTest::newRow("two parts") << "*maria*silva" << QStringList { "Maria Silva" };
        QTest::newRow("one character") << "*sil?a"
                                       << QStringList { "Ana Silva", "João da Silva", "Maria Silva", "SILVANA Costa" };
        QTest::newRow("a digit") << "loja #" << QStringList { "Loja 2", "Loja 3" };
        QTest::newRow("a quote") << "*d'ávila" << QStringList { "Ana D'Ávila" };
        QTest::newRow("SQL's own wildcards are letters") << "50%" << QStringList { "50% Pizza_[x]" };
        QTest::newRow("brackets are letters") << "*_[x" << QStringList { "50% Pizza_[x]" };
        QTest::newRow("a regular expression is letters") << "*a.a" << QStringList {};
        QTest::newRow("nobody") << "*xyz" << QStringList {};
        QTest::newRow("one-letter part") << "*ç" << QStringList { "Maria Conceição" };
        QTest::newRow("one-letter part, any case") << "*Á" << QStringList { "Ana D'Ávila" };
        QTest::newRow("two-letter part") << "*lv"
                                         << QStringList { "Ana Silva", "Bruno Silveira", "João da Silva", "Maria Silva",
                                                "Maria Sílvia", "Pedro Alves", "SILVANA Costa", "Silvio Santos" };
        QTest::newRow("two letters nobody holds") << "*zq" << QStringList {};
        QTest::newRow("a short part with a quote") << "*d'" << QStringList { "Ana D'Ávila" };
        QTest::newRow("a short part with SQL's wildcards") << "*a_" << QStringList { "50% Pizza_[x]" };
        QTest::newRow("a percent sign") << "*%" << QStringList { "50% Pizza_[x]" };
        QTest::newRow("first any character") << "?oja" << QStringList { "Loja 2", "Loja 3", "Loja A" };
        QTest::newRow("first characters, then an accent") << "???é" << QStringList { "José Santos" };
        QTest::newRow("first a digit") << "#0" << QStringList { "50% Pizza_[x]" };
        QTest::newRow("a digit anywhere") << "*#" << QStringList { "50% Pizza_[x]", "Loja 2", "Loja 3" };
        QTest::newRow("first a digit, nobody") << "#ana" << QStringList {};
        // No stored name holds a NUL (PostgreSQL's text cannot), nor these.
        QTest::newRow("a NUL is a character") << QStringLiteral("ana") + QChar(0) << QStringList {};
        QTest::newRow("a NUL after a wildcard") << QStringLiteral("*") + QChar(0) << QStringList {};
        QTest::newRow("a control character is a character") << "*a\x01" << QStringList {};
    }
    void namesMatchWhatWasTyped()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        REGISTER_FIXTURE(r);
        const char *names[] = { "Ana Silva", "João da Silva", "SILVANA Costa", "Maria Conceição", "Maria da Conceicao",
            "José Santos", "Maria Silva", "Silvio Santos", "Ana D'Ávila", "Bruno Silveira", "Maria Sílvia",
            "Pedro Alves", "Loja 2", "Loja 3", "Loja A", "50% Pizza_[x]", "anagrama" };
        for (const char *name : names)
            r.add(r.data().contact(QString::fromUtf8(name)));
        const NamePattern pattern = NamePattern::fromTyped(typed);
        QCOMPARE(RegisterFixture::listedNames(r.reg(), 2, pattern), expected);
        if (!pattern.infix.isEmpty() && !r.isPostgres()) {
            // Found by trigrams as by reading every name, also after another
            // program changed names.
            NamePattern everyName = pattern;
            everyName.infix.clear();
            r.exec(QStringLiteral("UPDATE CADA SET A1 = 'Ana Souza' WHERE A1 = 'Ana Silva'"));
            r.exec(QStringLiteral("INSERT INTO CADA (A1) VALUES ('Zeca Silva Santos')"));
            QCOMPARE(
                RegisterFixture::listedNames(r.reg(), 2, pattern), RegisterFixture::listedNames(r.reg(), 2, everyName));
        }
    }

    // A pattern is found by reading the name index in order when many names
    // match and by reading the table once (or the rows its trigrams find)
    // when few do: the same rows in the same order, page after page, as
    // every name read and matched one by one.
    void wildcardsFirstFindWhatEveryNameReadFinds_data()
    {
        QTest::addColumn<QString>("typed");
        for (const char *typed :
            { "*zq", "*z", "*a", "*ç", "*É", "?na", "?l", "#", "#ana", "*1#", "*5?", "**", "*sou*#0", "*d'", "*_",
                "*zquinha", "*çoe", "*ana", "?runo 4", "bruno 4", "bruno 4#", "ana*9?", "lúcia*ç ã 1", "élcio_", "zq",
                "ana souza 1199", "*ÂNGELA Í", "ana#", "lúcia ?ngela*ã 7", "?na souza 1#", "*4", "b?uno 3" })
            QTest::newRow(typed) << QString::fromUtf8(typed);
    }
    void wildcardsFirstFindWhatEveryNameReadFinds()
    {
        QFETCH(QString, typed);
        REGISTER_FIXTURE(r);
        // Names of every density, spread over the table and the alphabet.
        r.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 12000) "
                              "INSERT INTO CADA (A1) SELECT CASE WHEN i % 397 = 0 THEN 'Zquinha ' || i "
                              "WHEN i % 211 = 0 THEN 'D''Ávila Çoelho' WHEN i % 101 = 0 THEN 'ÉLCIO_' || i "
                              "WHEN i % 3 = 0 THEN 'Ana Souza ' || i WHEN i % 3 = 1 THEN 'Bruno ' || (i % 50) "
                              "ELSE 'Lúcia Ângela Ítalo Õ Ü Ê Ó Ô Í Ã À Ç É Á ç ã ' || i END FROM n"));
        r.exec(QStringLiteral("INSERT INTO CADA (A1) VALUES (NULL)"));
        const QStringList everyName = RegisterFixture::listedNames(r.reg(), 5000);
        QCOMPARE(everyName.size(), 12001);
        QString expression = QStringLiteral("^");
        const NamePattern pattern = NamePattern::fromTyped(typed);
        for (const NamePattern::Piece &p : pattern.pieces) {
            switch (p.kind) {
            case NamePattern::Piece::Kind::AnyRun: expression += QStringLiteral(".*"); break;
            case NamePattern::Piece::Kind::AnyCharacter: expression += QLatin1Char('.'); break;
            case NamePattern::Piece::Kind::Digit: expression += QStringLiteral("[0-9]"); break;
            case NamePattern::Piece::Kind::Literal: expression += QRegularExpression::escape(p.text); break;
            }
        }
        const QRegularExpression matcher(expression, QRegularExpression::DotMatchesEverythingOption);
        QStringList expected;
        for (const QString &name : everyName)
            if (matcher.match(NameKey::caseFold(name)).hasMatch())
                expected << name;
        QCOMPARE(RegisterFixture::listedNames(r.reg(), 64, pattern), expected);
    }

    // The table read once checks and sorts names with functions in C: they
    // agree with the name key and case folding the index and patterns use.
    void theSqliteNameFunctionsAgreeWithTheNameKey()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend != QLatin1String("sqlite"))
            QSKIP("about the other backend");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("functions"));
            db.setDatabaseName(QStringLiteral(":memory:"));
            QVERIFY(db.open());
            QVERIFY(SqliteNameScan::makeFunctionsKnown(db));
            QString every;
            for (const NameKey::Letter &l : NameKey::letters())
                every.append(QChar(l.upper)).append(QChar(l.lower));
            for (const QString &name : { every, QStringLiteral("ÀÉ Zé d'Ávila 50% Ñandú Øre ÿ"), QString(),
                     QStringLiteral("AZaz@[`{\u00c0\u00ff"), QStringLiteral("/:09"), QStringLiteral("Loja 9") }) {
                QSqlQuery query(db);
                QVERIFY(query.exec(
                    QStringLiteral("SELECT zuna_chave_nome('%1'), zuna_dobra_nome('%1'), zuna_tem_digito('%1')")
                        .arg(SqliteNameScan::quoted(name))));
                QVERIFY(query.next());
                QCOMPARE(query.value(0).toString(), NameKey::sortKey(name));
                QCOMPARE(query.value(1).toString(), NameKey::caseFold(name));
                QCOMPARE(query.value(2).toBool(), name.contains(QRegularExpression(QStringLiteral("[0-9]"))));
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("functions"));
    }

    void listIsInBrazilianNameOrderAcrossPages()
    {
        REGISTER_FIXTURE(r);
        const QStringList names
            = { QStringLiteral("Zélia"), QStringLiteral("ana"), QStringLiteral("Érica"), QStringLiteral("Antônio"),
                  QStringLiteral("Ângela"), QStringLiteral("Ana"), QStringLiteral("eduardo"), QStringLiteral("ANA"),
                  QStringLiteral("Bruno"), QStringLiteral("Ñandú"), QStringLiteral("Øre"), QStringLiteral("ação") };
        for (const QString &n : names)
            r.add(r.data().contact(n));
        r.exec(QStringLiteral("INSERT INTO CADA (A1) VALUES (NULL)"));
        const QStringList expected = { QString(), QStringLiteral("ação"), QStringLiteral("ana"), QStringLiteral("Ana"),
            QStringLiteral("ANA"), QStringLiteral("Ângela"), QStringLiteral("Antônio"), QStringLiteral("Bruno"),
            QStringLiteral("eduardo"), QStringLiteral("Érica"), QStringLiteral("Zélia"), QStringLiteral("Ñandú"),
            QStringLiteral("Øre") };
        // Page sizes that split runs of equal keys must not lose or repeat rows.
        for (int pageSize : { 1, 2, 3, 256 })
            QCOMPARE(RegisterFixture::listedNames(r.reg(), pageSize), expected);
    }

    void nullColumnsReadAsEmptyText()
    {
        REGISTER_FIXTURE(r);
        r.exec(QStringLiteral("INSERT INTO CADA (CD) VALUES (7)"));
        const auto found = byCode(r.reg(), 7);
        QVERIFY(found.has_value());
        ContactRecord expected;
        expected.cd = 7;
        QCOMPARE(*found, expected);
    }

    void writesKeepTextExactlyAndNeverStoreNull()
    {
        REGISTER_FIXTURE(r);
        ContactRecord c;
        c.a1 = QStringLiteral("  D'Ávila \"Zé\"; DROP TABLE CADA; -- $$ \\ %");
        c.a4 = QStringLiteral("(11)3333-4444");
        c.ob = QStringLiteral("linha 1\r\nlinha 2\ttab");
        c.cd = r.add(c);
        QVERIFY(c.cd > 0);
        QCOMPARE(*byCode(r.reg(), c.cd), c);
        QString error;
        QVERIFY(r.reg().forEachContact(
            [](const ContactRecord &stored) {
                for (const QString &f : { stored.a9, stored.a10, stored.a14, stored.ob })
                    if (f.isNull())
                        qFatal("a field was stored as NULL");
                return true;
            },
            &error));
    }

    void aSaveTellsWhetherTheContactChangedOrWentElsewhere()
    {
        REGISTER_FIXTURE(r);
        ContactRecord shown = r.data().contact(QStringLiteral("Ana"), QStringLiteral("(11)1111-1111"));
        shown.cd = r.add(shown);
        ContactRecord edited = shown;
        edited.a9 = QStringLiteral("Outra rua");
        Register::Saved saved {};
        QString error;
        QVERIFY2(r.reg().update(edited, &shown, &saved, &error), qPrintable(error));
        QCOMPARE(saved, Register::Saved::Updated);
        QCOMPARE(byCode(r.reg(), shown.cd)->a9, QStringLiteral("Outra rua"));

        // Another desk saved it meanwhile: what this desk showed is stale.
        const auto otherDesk = r.openAnother();
        ContactRecord theirs = edited;
        theirs.a12 = QStringLiteral("Campinas");
        QVERIFY(otherDesk->update(theirs, &edited, &saved, &error));
        QCOMPARE(saved, Register::Saved::Updated);
        ContactRecord mine = edited;
        mine.a1 = QStringLiteral("Ana Maria");
        QVERIFY(r.reg().update(mine, &edited, &saved, &error));
        QCOMPARE(saved, Register::Saved::ChangedElsewhere);
        QCOMPARE(*byCode(r.reg(), shown.cd), theirs);
        // Without what was shown, the save is a plain rewrite.
        QVERIFY(r.reg().update(mine, nullptr, &saved, &error));
        QCOMPARE(saved, Register::Saved::Updated);
        // A row whose NULLs read as empty text is still the row shown.
        r.exec(QStringLiteral("UPDATE CADA SET A14 = NULL"));
        mine.a14.clear();
        QVERIFY(r.reg().update(mine, &mine, &saved, &error));
        QCOMPARE(saved, Register::Saved::Updated);

        QVERIFY(otherDesk->remove(shown.cd, &error));
        QVERIFY(r.reg().update(mine, &mine, &saved, &error));
        QCOMPARE(saved, Register::Saved::Missing);
        QCOMPARE(RegisterFixture::counted(r.reg()), 0);
    }

    void concurrentSavesOfOneContactLoseNothing()
    {
        REGISTER_FIXTURE(r);
        ContactRecord shown = r.data().contact(QStringLiteral("Ana"));
        shown.cd = r.add(shown);
        // Eight desks save the same contact at once, each from what it showed:
        // exactly one is stored, the others are told.
        constexpr int Desks = 8;
        std::atomic<int> updated = 0, changed = 0, failed = 0;
        std::vector<std::unique_ptr<QThread>> desks;
        for (int i = 0; i < Desks; ++i) {
            desks.emplace_back(QThread::create([&, i] {
                const auto desk = r.openAnother();
                ContactRecord mine = shown;
                mine.a9 = QStringLiteral("Rua da mesa %1").arg(i);
                Register::Saved saved {};
                QString error;
                if (!desk->update(mine, &shown, &saved, &error))
                    ++failed;
                else
                    ++(saved == Register::Saved::Updated ? updated : changed);
            }));
            desks.back()->start();
        }
        for (auto &t : desks)
            t->wait();
        QCOMPARE(failed.load(), 0);
        QCOMPARE(updated.load(), 1);
        QCOMPARE(changed.load(), Desks - 1);
    }

    // --- the call log

    void theCallLogKeepsEveryCallAndFindsThemByFilter()
    {
        REGISTER_FIXTURE(r);
        const QDateTime today(QDate::currentDate(), QTime(9, 30, 15));
        auto call = [](const QDateTime &when, CallRecord::Kind kind, const QString &key, qint64 code,
                        const QString &name, const QString &callerName = {}) {
            CallRecord c;
            c.when = when;
            c.kind = kind;
            c.received = key;
            c.key = key;
            c.laidOut = key.isEmpty() ? QStringLiteral("Número restrito") : QStringLiteral("(%1)").arg(key);
            c.callerName = callerName;
            c.source = QStringLiteral("placa-de-som");
            c.line = QStringLiteral("alsa_input.usb");
            c.contactCode = code;
            c.contactName = name;
            return c;
        };
        QList<CallRecord> logged = {
            call(today.addDays(-800), CallRecord::Kind::Number, QStringLiteral("1133334444"), 0, {}),
            call(today.addDays(-1), CallRecord::Kind::Number, QStringLiteral("11987654321"), 7,
                QStringLiteral("Ângela Conceição")),
            call(today, CallRecord::Kind::Withheld, {}, 0, {}),
            call(today.addSecs(60), CallRecord::Kind::Number, QStringLiteral("21955554444"), 0, {},
                QStringLiteral("JOSÉ DA SILVA")),
        };
        QString error;
        for (CallRecord &c : logged) {
            QVERIFY2(r.reg().logCall(&c, &error), qPrintable(error));
            QVERIFY(c.id > 0);
        }
        auto listed = [&](const CallFilter &filter, qint64 beforeId = 0, int limit = 10) {
            QList<CallRecord> rows;
            QString e;
            if (!r.reg().listCalls(filter, beforeId, limit, &rows, &e))
                qFatal("%s", qPrintable(e));
            QList<qint64> ids;
            for (const CallRecord &c : rows)
                ids << c.id;
            return ids;
        };
        const qint64 old = logged[0].id, known = logged[1].id, withheld = logged[2].id, unknown = logged[3].id;

        // Newest first, every column as logged, a page at a time.
        QList<CallRecord> rows;
        QVERIFY(r.reg().listCalls({}, 0, 10, &rows, &error));
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.at(2), logged[1]);
        QCOMPARE(rows.at(1), logged[2]);
        QCOMPARE(listed({}, withheld, 1), QList<qint64>({ known }));

        CallFilter filter;
        filter.since = QDateTime(QDate::currentDate(), QTime(0, 0));
        QCOMPARE(listed(filter), QList<qint64>({ unknown, withheld }));
        filter = {};
        filter.unknownOnly = true;
        QCOMPARE(listed(filter), QList<qint64>({ unknown, withheld, old }));
        // Names folded as the name search folds them; numbers however typed.
        filter = {};
        for (const auto &[typed, expected] : std::initializer_list<std::pair<QString, QList<qint64>>> {
                 { QStringLiteral("conceicao"), { known } }, { QStringLiteral("ANGELA"), { known } },
                 { QStringLiteral("josé"), { unknown } }, { QStringLiteral("(11) 98765"), { known } },
                 { QStringLiteral("3333-4444"), { old } }, { QStringLiteral("11"), { known, old } },
                 { QStringLiteral("50%"), {} }, { QStringLiteral("a_b"), {} }, { QStringLiteral("ana") + QChar(0), {} },
                 { QStringLiteral("ana\x01"), {} },
                 // Too short for the trigram index: every call is read.
                 { QStringLiteral("j"), { unknown } }, { QStringLiteral("Ç"), { known } },
                 { QStringLiteral("2"), { unknown, known } }, { QStringLiteral("x"), {} },
                 { QStringLiteral("ão"), { known } }, { QStringLiteral("zq"), {} },
                 { QStringLiteral("( -"), { unknown, withheld, known, old } }, // nothing to look for yet
             }) {
            filter.text = typed;
            QVERIFY2(listed(filter) == expected, qPrintable(typed));
        }

        // The log for scripts: oldest first, from a day on.
        QList<qint64> since;
        QVERIFY(r.reg().forEachCall(
            today.addDays(-2), [&](const CallRecord &c) { return since << c.id, true; }, &error));
        QCOMPARE(since, QList<qint64>({ known, withheld, unknown }));

        // Keeping: what is older than the limit goes, the rest stays.
        qint64 removed = 0;
        QVERIFY2(r.reg().pruneCalls(today.addDays(-730), &removed, &error), qPrintable(error));
        QCOMPARE(removed, 1);
        QCOMPARE(listed({}), QList<qint64>({ unknown, withheld, known }));
    }

    void aRegisterMadeBeforeTheCallLogGetsIt()
    {
        REGISTER_FIXTURE(r);
        r.exec(QStringLiteral("DROP TABLE chamadas"));
        if (!r.isPostgres())
            r.exec(QStringLiteral("DROP TABLE CHAMADAS_BUSCA"));
        const auto reopened = r.openAnother();
        CallRecord call;
        call.when = QDateTime::currentDateTime();
        call.key = call.received = QStringLiteral("1133334444");
        QString error;
        QVERIFY2(reopened->logCall(&call, &error), qPrintable(error));
        QVERIFY(call.id > 0);
    }

    void theAreaCodeKeepsEmptyText()
    {
        REGISTER_FIXTURE(r);
        QString value = QStringLiteral("x");
        QString error;
        QVERIFY(r.reg().loadAreaCode(&value, &error));
        QCOMPARE(value, QStringLiteral("11"));
        QVERIFY(r.reg().storeAreaCode(QStringLiteral("21"), &error));
        QVERIFY(r.reg().loadAreaCode(&value, &error));
        QCOMPARE(value, QStringLiteral("21"));
        QVERIFY(r.reg().storeAreaCode(QString(), &error));
        QVERIFY(r.reg().loadAreaCode(&value, &error));
        QCOMPARE(value, QString(""));
        QVERIFY(!value.isNull());
    }

    void aCallerIsFoundHoweverEitherNumberWasWritten_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("incoming");
        QTest::newRow("blank and brackets") << "(11) 3333-4444"
                                            << "1133334444";
        QTest::newRow("mobile before the ninth digit") << "(11)8765-4321"
                                                       << "11987654321";
        QTest::newRow("+55") << "+55 21 99876-5432"
                             << "021998765432";
        QTest::newRow("carrier code") << "0 15 21 2222-3333"
                                      << "2122223333";
        QTest::newRow("0800") << "0800 777 1234"
                              << "08007771234";
        QTest::newRow("4004") << "4004-1234"
                              << "40041234";
        QTest::newRow("local, no area code") << "5555-6666"
                                             << "1155556666";
        QTest::newRow("local mobile") << "8111-2222"
                                      << "11981112222";
        QTest::newRow("dots and 0xx") << "0xx21 3333.4444"
                                      << "2133334444";
        QTest::newRow("seven digits") << "(11)333-4444"
                                      << "113334444";
    }
    void aCallerIsFoundHoweverEitherNumberWasWritten()
    {
        // Each backend keys stored telephones itself (SQLite by triggers,
        // PostgreSQL by an indexed function): both agree with the lookup.
        QFETCH(QString, stored);
        QFETCH(QString, incoming);
        REGISTER_FIXTURE(r);
        r.add(r.data().contact(QStringLiteral("Outro"), QStringLiteral("(41)3333-4444")));
        const qint64 code = r.add(r.data().contact(QStringLiteral("Procurado"), stored));
        std::optional<ContactRecord> found;
        QString error;
        QVERIFY2(
            r.reg().findCaller(PhoneNumber::read(incoming, QStringLiteral("11")), &found, &error), qPrintable(error));
        QVERIFY(found.has_value());
        QCOMPARE(found->cd, code);
        // Changed by another program: found by its new number only.
        r.exec(QStringLiteral("UPDATE CADA SET A4 = '(31) 3232-1010' WHERE A1 = 'Procurado'"));
        QVERIFY(r.reg().findCaller(PhoneNumber::read(incoming, QStringLiteral("11")), &found, &error));
        QVERIFY(!found.has_value());
        QVERIFY(
            r.reg().findCaller(PhoneNumber::read(QStringLiteral("3132321010"), QStringLiteral("11")), &found, &error));
        QCOMPARE(found->cd, code);
    }
};

QTEST_GUILESS_MAIN(TestRegisterBackends)
#include "TestRegisterBackends.moc"
