#include "TestSupport.h"

#include "callerid/AreaCodeStore.h"
#include "contacts/ContactStore.h"
#include "contacts/NameKey.h"
#include "contacts/SqlConnection.h"
#include "platform/DataFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTest>

#include <atomic>
#include <thread>

class TestContactStore : public QObject
{
    Q_OBJECT

private:
    static QStringList listedNames(const ContactStore &store, int pageSize)
    {
        SqlConnection conn(store.filePath());
        QStringList names;
        QList<ContactStore::ListRow> page;
        ContactStore::ListRow last;
        bool first = true;
        do {
            QString error;
            if (!store.listPage(conn.database(), {}, first ? nullptr : &last, pageSize, &page, &error))
                qFatal("%s", qPrintable(error));
            for (const auto &row : page)
                names << row.a1;
            if (!page.isEmpty())
                last = page.constLast();
            first = false;
        } while (page.size() == pageSize);
        return names;
    }

private slots:
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
                                   << QStringLiteral("Não foi possível abrir");
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
