#include "TestSupport.h"

#include "callerid/AreaCodeStore.h"
#include "contacts/ContactStore.h"
#include "contacts/NameKey.h"
#include "contacts/SqlConnection.h"
#include "platform/DataFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>

#include <atomic>
#include <thread>

class TestContactStore : public QObject
{
    Q_OBJECT

private:
    static QStringList listedNames(const ContactStore &store, int pageSize, const NamePattern &pattern = {})
    {
        SqlConnection conn(store.filePath());
        QStringList names;
        QList<ContactStore::ListRow> page;
        ContactStore::ListRow last;
        bool first = true;
        do {
            QString error;
            if (!store.listPage(conn.database(), pattern, first ? nullptr : &last, pageSize, &page, &error))
                qFatal("%s", qPrintable(error));
            for (const auto &row : page)
                names << row.a1;
            if (!page.isEmpty())
                last = page.constLast();
            first = false;
        } while (page.size() == pageSize);
        return names;
    }

    static void sqlite3Tool(const DataFolderFixture &data, const QString &sql)
    {
        QProcess p;
        p.start(QStringLiteral("sqlite3"), { data.file(QStringLiteral("cada.sqlite")), sql });
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
    }

    static qint64 counted(const ContactStore &store)
    {
        qint64 n = -1;
        QString error;
        if (!store.count(&n, &error))
            qFatal("%s", qPrintable(error));
        return n;
    }

private slots:
    void theCountFollowsEveryProgramsWrites()
    {
        DataFolderFixture data;
        const ContactStore store(data.file(QStringLiteral("cada.sqlite")));
        QCOMPARE(counted(store), 0);
        qint64 code = 0;
        QVERIFY(store.insert(data.contact(QStringLiteral("Ana")), &code, nullptr));
        sqlite3Tool(data, QStringLiteral("INSERT INTO CADA (A1) VALUES ('Bia'), ('Caio'), ('Duda')"));
        QCOMPARE(counted(store), 4);
        sqlite3Tool(data, QStringLiteral("DELETE FROM CADA WHERE A1 IN ('Bia', 'Caio')"));
        QVERIFY(store.remove(code, nullptr));
        QCOMPARE(counted(store), 1);
        // A row replaced in place bypasses the delete trigger: the count is
        // set right again when the indexes are looked after at start-up.
        sqlite3Tool(data, QStringLiteral("INSERT OR REPLACE INTO CADA (CD, A1) SELECT CD, 'Eva' FROM CADA"));
        QVERIFY(store.buildIndexes(nullptr));
        QCOMPARE(counted(store), 1);
    }

    void aPartOfANameIsFoundByItsTrigramsAsByReadingEveryName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("surname") << "*silva";
        QTest::newRow("accented") << "*conceição";
        QTest::newRow("upper case typed") << "*SANTOS";
        QTest::newRow("two parts") << "*maria*silva";
        QTest::newRow("with a one-character wildcard") << "*sil?a";
        QTest::newRow("a quote") << "*d'ávila";
        QTest::newRow("nobody") << "*xyz";
    }
    void aPartOfANameIsFoundByItsTrigramsAsByReadingEveryName()
    {
        QFETCH(QString, typed);
        DataFolderFixture data;
        const ContactStore store(data.file(QStringLiteral("cada.sqlite")));
        const char *names[]
            = { "Ana Silva", "João da Silva", "SILVANA Costa", "Maria Conceição", "Maria da Conceicao", "José Santos",
                  "Maria Silva", "Silvio Santos", "Ana D'Ávila", "Bruno Silveira", "Maria Sílvia", "Pedro Alves" };
        for (const char *name : names) {
            qint64 code = 0;
            QVERIFY(store.insert(data.contact(QString::fromUtf8(name)), &code, nullptr));
        }
        const NamePattern pattern = NamePattern::fromTyped(typed);
        QVERIFY(!pattern.infix.isEmpty());
        const QStringList byTrigrams = listedNames(store, 2, pattern);
        NamePattern everyName = pattern;
        everyName.infix.clear();
        QCOMPARE(byTrigrams, listedNames(store, 2, everyName));

        // Names changed and removed by another program are found as they now are.
        sqlite3Tool(data, QStringLiteral("UPDATE CADA SET A1 = 'Ana Souza' WHERE A1 = 'Ana Silva'"));
        sqlite3Tool(data, QStringLiteral("DELETE FROM CADA WHERE A1 = 'Maria Silva'"));
        sqlite3Tool(data, QStringLiteral("INSERT INTO CADA (A1) VALUES ('Zeca Silva Santos')"));
        QCOMPARE(listedNames(store, 2, pattern), listedNames(store, 2, everyName));
    }

    void anOlderRegisterIsSearchedWhileItsNamesAreBroughtIn()
    {
        DataFolderFixture data;
        const ContactStore store(data.file(QStringLiteral("cada.sqlite")));
        for (int i = 0; i < 50; ++i) {
            qint64 code = 0;
            QVERIFY(store.insert(data.contact(QStringLiteral("Pessoa %1 Silva").arg(i)), &code, nullptr));
        }
        // As an earlier version left it: no trigram index.
        for (const char *sql : { "DROP TRIGGER CADA_BUSCA_INSERIDO", "DROP TRIGGER CADA_BUSCA_APAGADO",
                 "DROP TRIGGER CADA_BUSCA_ALTERADO", "DROP TABLE CADA_BUSCA", "DROP TABLE CADA_BUSCA_PREPARO" })
            data.exec(QStringLiteral("cada.sqlite"), QLatin1String(sql));
        QString error;
        QVERIFY2(store.upgrade(&error), qPrintable(error));
        const NamePattern pattern = NamePattern::fromTyped(QStringLiteral("*silva"));
        QCOMPARE(listedNames(store, 7, pattern).size(), 50); // not indexed yet: every name is read
        qint64 code = 0;
        QVERIFY(store.insert(data.contact(QStringLiteral("Nova Silva")), &code, nullptr));
        QVERIFY2(store.buildIndexes(&error), qPrintable(error));
        QCOMPARE(listedNames(store, 7, pattern).size(), 51);
        sqlite3Tool(data, QStringLiteral("UPDATE CADA SET A1 = 'Outra' WHERE A1 = 'Pessoa 3 Silva'"));
        QCOMPARE(listedNames(store, 7, pattern).size(), 50);
    }

    void nullColumnsReadAsEmptyText()
    {
        DataFolderFixture data;
        data.exec(QStringLiteral("cada.sqlite"), QStringLiteral("INSERT INTO CADA (CD) VALUES (7)"));
        std::optional<ContactRecord> found;
        QString error;
        QVERIFY(ContactStore(data.file(QStringLiteral("cada.sqlite"))).findByCode(7, &found, &error));
        QVERIFY(found.has_value());
        ContactRecord expected;
        expected.cd = 7;
        QCOMPARE(*found, expected);
        QVERIFY(!found->a1.isNull() || found->a1.isEmpty());
    }

    void writesKeepTextExactlyAndNeverStoreNull()
    {
        DataFolderFixture data;
        const ContactStore store(data.file(QStringLiteral("cada.sqlite")));
        ContactRecord r;
        r.a1 = QStringLiteral("  D'Ávila \"Zé\"; DROP TABLE CADA; --");
        r.a4 = QStringLiteral("(11)3333-4444");
        r.ob = QStringLiteral("linha 1\r\nlinha 2");
        qint64 code = 0;
        QString error;
        QVERIFY2(store.insert(r, &code, &error), qPrintable(error));
        QVERIFY(code > 0);

        std::optional<ContactRecord> found;
        QVERIFY(store.findByCode(code, &found, &error));
        r.cd = code;
        QCOMPARE(*found, r);

        SqlConnection conn(store.filePath());
        QSqlQuery q(conn.database());
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM CADA WHERE A9 IS NULL OR A14 IS NULL OR OB IS NULL")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 0);
    }

    void updateTellsWhetherTheRowExisted()
    {
        DataFolderFixture data;
        const ContactStore store(data.file(QStringLiteral("cada.sqlite")));
        ContactRecord r = data.contact(QStringLiteral("Ana"), QStringLiteral("(11)1111-1111"));
        r.cd = data.addContact(r);
        r.a9 = QStringLiteral("Outra rua");
        bool found = false;
        QString error;
        QVERIFY(store.update(r, &found, &error));
        QVERIFY(found);
        std::optional<ContactRecord> back;
        QVERIFY(store.findByCode(r.cd, &back, &error));
        QCOMPARE(back->a9, QStringLiteral("Outra rua"));

        QVERIFY(store.remove(r.cd, &error));
        QVERIFY(store.update(r, &found, &error));
        QVERIFY(!found);
        qint64 n = -1;
        QVERIFY(store.count(&n, &error));
        QCOMPARE(n, 0);
    }

    void openingNeverCreatesAFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cada.sqlite"));
        qint64 n = 0;
        QString error;
        QVERIFY(!ContactStore(path).count(&n, &error));
        QVERIFY(error.contains(path));
        QVERIFY(!QFile::exists(path));
    }

    void damagedFilesAreReportedNotCrashed_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text file") << QByteArray("isto não é um banco de dados\n").repeated(40)
                                   << QStringLiteral("não é um cadastro");
        QTest::newRow("zero bytes") << QByteArray() << QStringLiteral("tabela de contatos CADA");
    }
    void damagedFilesAreReportedNotCrashed()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cada.sqlite"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        qint64 n = 0;
        QString error;
        QVERIFY(!ContactStore(path).count(&n, &error));
        QVERIFY2(error.contains(expected), qPrintable(error));
    }

    void aBusyFileIsWaitedOn()
    {
        DataFolderFixture data;
        const QString path = data.file(QStringLiteral("cada.sqlite"));
        std::atomic<bool> locked = false;
        std::thread other([&] {
            SqlConnection conn(path);
            QSqlQuery q(conn.database());
            q.exec(QStringLiteral("BEGIN IMMEDIATE"));
            q.exec(QStringLiteral("INSERT INTO CADA (A1) VALUES ('outra mesa')"));
            locked = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            q.exec(QStringLiteral("COMMIT"));
        });
        while (!locked)
            std::this_thread::yield();
        QElapsedTimer timer;
        timer.start();
        qint64 code = 0;
        QString error;
        const bool ok = ContactStore(path).insert(data.contact(QStringLiteral("Ana")), &code, &error);
        const qint64 waited = timer.elapsed();
        other.join();
        QVERIFY2(ok, qPrintable(error));
        QVERIFY(waited >= 500);
        qint64 n = 0;
        QVERIFY(ContactStore(path).count(&n, &error));
        QCOMPARE(n, 2);
    }

    void listIsInBrazilianNameOrderAcrossPages()
    {
        DataFolderFixture data;
        const QStringList names = { QStringLiteral("Zélia"), QStringLiteral("ana"), QStringLiteral("Érica"),
            QStringLiteral("Antônio"), QStringLiteral("Ângela"), QStringLiteral("Ana"), QStringLiteral("eduardo"),
            QStringLiteral("ANA"), QStringLiteral("Bruno") };
        for (const QString &n : names)
            data.addContact(data.contact(n));
        data.exec(QStringLiteral("cada.sqlite"), QStringLiteral("INSERT INTO CADA (A1) VALUES (NULL)"));
        const ContactStore store(data.file(QStringLiteral("cada.sqlite")));
        const QStringList expected = { QString(), QStringLiteral("ana"), QStringLiteral("Ana"), QStringLiteral("ANA"),
            QStringLiteral("Ângela"), QStringLiteral("Antônio"), QStringLiteral("Bruno"), QStringLiteral("eduardo"),
            QStringLiteral("Érica"), QStringLiteral("Zélia") };
        // Page sizes that split runs of equal keys must not lose or repeat rows.
        for (int pageSize : { 1, 2, 3, 256 })
            QCOMPARE(listedNames(store, pageSize), expected);
    }

    void listReadsTheNameIndexInsteadOfSorting()
    {
        DataFolderFixture data;
        SqlConnection conn(data.file(QStringLiteral("cada.sqlite")));
        const QString key = NameKey::sortKeySql(QStringLiteral("A1"));
        QSqlQuery q(conn.database());
        QVERIFY(q.exec(QStringLiteral("EXPLAIN QUERY PLAN SELECT CD FROM CADA WHERE %1 >= 'a' AND (%1 > 'a' OR CD > 1) "
                                      "ORDER BY %1, CD LIMIT 256")
                           .arg(key)));
        QString plan;
        while (q.next())
            plan += q.value(3).toString() + QLatin1Char('\n');
        QVERIFY2(plan.contains(QLatin1String("CADA_NOME")), qPrintable(plan));
        QVERIFY2(!plan.contains(QLatin1String("TEMP B-TREE")), qPrintable(plan));
    }

    void sortKeyInCppAgreesWithSql()
    {
        DataFolderFixture data;
        SqlConnection conn(data.file(QStringLiteral("cada.sqlite")));
        const QStringList samples = { QStringLiteral("ÁÀÂÃÉÊÍÓÔÕÚÜÇ áàâãéêíóôõúüç"), QStringLiteral("João DA Silva"),
            QStringLiteral("50% Pizza_[x]"), QStringLiteral("Ñandú Øre"), QString() };
        for (const QString &s : samples) {
            QSqlQuery q(conn.database());
            q.prepare(QStringLiteral("SELECT %1, %2")
                          .arg(NameKey::sortKeySql(QStringLiteral("?")), NameKey::caseFoldSql(QStringLiteral("?"))));
            q.addBindValue(s);
            q.addBindValue(s);
            QVERIFY(q.exec() && q.next());
            QCOMPARE(q.value(0).toString(), NameKey::sortKey(s));
            QCOMPARE(q.value(1).toString(), NameKey::caseFold(s));
        }
        QCOMPARE(NameKey::sortKey(QStringLiteral("Ângela ÉRICA")), QStringLiteral("angela erica"));
        QCOMPARE(NameKey::caseFold(QStringLiteral("JOÃO")), QStringLiteral("joão"));
    }

    void areaCodeKeepsEmptyTextAndRefusesMissingRow()
    {
        DataFolderFixture data;
        const AreaCodeStore store(data.file(QStringLiteral("ddd.sqlite")));
        QString value = QStringLiteral("x");
        QString error;
        QVERIFY(store.store(QStringLiteral("21"), &error));
        QVERIFY(store.load(&value, &error));
        QCOMPARE(value, QStringLiteral("21"));
        QVERIFY(store.store(QString(), &error));
        QVERIFY(store.load(&value, &error));
        QCOMPARE(value, QString(""));
        QVERIFY(!value.isNull());

        data.exec(QStringLiteral("ddd.sqlite"), QStringLiteral("DELETE FROM a1"));
        QVERIFY(!store.load(&value, &error));
        QVERIFY(error.contains(QLatin1String("nenhuma linha")));
        QVERIFY(!store.store(QStringLiteral("11"), &error));
    }

    void fileNamesMatchInAnyLetterCase()
    {
        DataFolderFixture data;
        QVERIFY(QFile::rename(data.file(QStringLiteral("cada.sqlite")), data.file(QStringLiteral("CADA.SQLite"))));
        QCOMPARE(
            DataFolder::findFile(data.path(), QStringLiteral("cada.sqlite")), data.file(QStringLiteral("CADA.SQLite")));
        QCOMPARE(
            DataFolder::findFile(data.path(), QStringLiteral("Cada.Sqlite")), data.file(QStringLiteral("CADA.SQLite")));
        QCOMPARE(DataFolder::findFile(data.path(), QStringLiteral("nada.sqlite")), QString());
        QCOMPARE(
            DataFolder::pathFor(data.path(), QStringLiteral("nada.sqlite")), data.file(QStringLiteral("nada.sqlite")));
    }
};

QTEST_GUILESS_MAIN(TestContactStore)
#include "TestContactStore.moc"
