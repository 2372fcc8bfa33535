#include "TestSupport.h"

#include "core/contacts/NamePattern.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

// What belongs to a desk's own register file: an older file brought up to
// date while it is searched, damaged and busy files, the area code's file and
// file names in any letter case.
class TestSqliteRegister : public QObject
{
    Q_OBJECT

private slots:
    void anOlderSqliteRegisterIsSearchedWhileItsNamesAreBroughtIn()
    {
        DataFolderFixture data;
        SqliteRegister store(data.file(DataFiles::Contacts));
        for (int i = 0; i < 50; ++i) {
            qint64 code = 0;
            QVERIFY(store.insert(data.contact(QStringLiteral("Pessoa %1 Silva").arg(i)), &code, nullptr));
        }
        // As an earlier version left it: no trigram index.
        for (const char *sql : { "DROP TRIGGER CADA_BUSCA_INSERIDO", "DROP TRIGGER CADA_BUSCA_APAGADO",
                 "DROP TRIGGER CADA_BUSCA_ALTERADO", "DROP TABLE CADA_BUSCA", "DROP TABLE CADA_BUSCA_PREPARO" })
            data.exec(DataFiles::Contacts, QLatin1String(sql));
        QString error;
        QVERIFY2(store.upgrade(&error), qPrintable(error));
        const NamePattern pattern = NamePattern::fromTyped(QStringLiteral("*silva"));
        QCOMPARE(RegisterFixture::listedNames(store, 7, pattern).size(), 50); // not indexed yet: every name is read
        qint64 code = 0;
        QVERIFY(store.insert(data.contact(QStringLiteral("Nova Silva")), &code, nullptr));
        QVERIFY2(store.buildIndexes(&error), qPrintable(error));
        QCOMPARE(RegisterFixture::listedNames(store, 7, pattern).size(), 51);
        data.exec(DataFiles::Contacts, QStringLiteral("UPDATE CADA SET A1 = 'Outra' WHERE A1 = 'Pessoa 3 Silva'"));
        QCOMPARE(RegisterFixture::listedNames(store, 7, pattern).size(), 50);
    }

    void openingASqliteRegisterNeverCreatesAFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(DataFiles::Contacts);
        qint64 n = 0;
        QString error;
        QVERIFY(!SqliteRegister(path).count(&n, &error));
        QVERIFY(error.contains(path));
        QVERIFY(!QFile::exists(path));
    }

    void damagedSqliteFilesAreReportedNotCrashed_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text file") << QByteArray("isto não é um banco de dados\n").repeated(40)
                                   << QStringLiteral("não é um cadastro");
        QTest::newRow("zero bytes") << QByteArray() << QStringLiteral("tabela de contatos CADA");
    }
    void damagedSqliteFilesAreReportedNotCrashed()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(DataFiles::Contacts);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        qint64 n = 0;
        QString error;
        QVERIFY(!SqliteRegister(path).count(&n, &error));
        QVERIFY2(error.contains(expected), qPrintable(error));
    }

    void aBusySqliteFileIsWaitedOn()
    {
        DataFolderFixture data;
        const QString path = data.file(DataFiles::Contacts);
        std::atomic<bool> locked = false;
        std::thread other([&] {
            SqlConnection conn(path);
            QSqlQuery q(conn.database());
            q.exec(QStringLiteral("BEGIN IMMEDIATE"));
            q.exec(QStringLiteral("INSERT INTO CADA (A1) VALUES ('outra mesa')"));
            locked = true;
            // The other program holds the file this long: what the save is
            // to wait out.
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            q.exec(QStringLiteral("COMMIT"));
        });
        while (!locked)
            std::this_thread::yield();
        QElapsedTimer timer;
        timer.start();
        qint64 code = 0;
        QString error;
        const bool ok = SqliteRegister(path).insert(data.contact(QStringLiteral("Ana")), &code, &error);
        const qint64 waited = timer.elapsed();
        other.join();
        QVERIFY2(ok, qPrintable(error));
        QVERIFY(waited >= 500);
        qint64 n = 0;
        QVERIFY(SqliteRegister(path).count(&n, &error));
        QCOMPARE(n, 2);
    }

    void theSqliteAreaCodeFileRefusesAMissingRow()
    {
        DataFolderFixture data;
        SqliteRegister store({}, data.file(DataFiles::AreaCode));
        data.exec(DataFiles::AreaCode, QStringLiteral("DELETE FROM a1"));
        QString value;
        QString error;
        QVERIFY(!store.loadAreaCode(&value, &error));
        QVERIFY(error.contains(QLatin1String("nenhuma linha")));
        QVERIFY(!store.storeAreaCode(QStringLiteral("11"), &error));
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

QTEST_MAIN(TestSqliteRegister)
#include "TestSqliteRegister.moc"
