#include "TestSupport.h"

#include "core/app/DataInit.h"
#include "core/contacts/AccessImport.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTest>

namespace {

QString fixture(const char *name)
{
    return QStringLiteral(ZUNA_FIXTURES_DIR "/access/") + QLatin1String(name);
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

using Row = QList<QVariant>; // CD, A1 ... OB; a null QVariant for NULL

// The rows of a table with the register's columns, by code. In the expected
// table, read by the sqlite3 tool's own CSV import, "\N" stands for NULL.
QMap<qint64, Row> rowsOf(const QString &file, const QString &table)
{
    QMap<qint64, Row> rows;
    SqlConnection conn(file);
    QSqlQuery q(conn.database());
    q.exec(QStringLiteral("SELECT CD, A1, A4, A9, A10, A11, A12, A13, A14, OB FROM %1").arg(table));
    while (q.next()) {
        Row row;
        for (int c = 0; c < 10; ++c) {
            const QVariant v = q.value(c);
            const bool isNull = v.isNull() || v.toString() == QLatin1String("\\N");
            row << (isNull ? QVariant() : c == 0 ? QVariant(v.toLongLong()) : QVariant(v.toString()));
        }
        rows.insert(row.first().toLongLong(), row);
    }
    return rows;
}

QMap<qint64, Row> expectedRows()
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("expected.db"));
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"),
        { db, QStringLiteral(".import --csv %1 expected").arg(fixture("CADA.expected.csv")) });
    if (!sqlite.waitForFinished() || sqlite.exitCode() != 0)
        qFatal("sqlite3 could not read the expected table: %s", sqlite.readAllStandardError().constData());
    return rowsOf(db, QStringLiteral("expected"));
}

QMap<qint64, Row> importedRows(const QString &file)
{
    return rowsOf(file, QStringLiteral("CADA"));
}

} // namespace

class TestAccessImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_imported; // one import of the real file, shared by the cell checks
    QMap<qint64, Row> m_rows;

    static bool init(const QString &dir, QStringList *report, QString *error)
    {
        return DataInit::initDataFolder(dir, QStringLiteral(ZUNA_BINARY), report, error);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::copy(fixture("CADA.MDB"), m_imported.filePath(QStringLiteral("Cada.Mdb"))),
            qPrintable(fixture("CADA.MDB")));
        QVERIFY(QFile::copy(fixture("ddd.MDB"), m_imported.filePath(QStringLiteral("DDD.MDB"))));
        QStringList report;
        QString error;
        QVERIFY2(init(m_imported.path(), &report, &error), qPrintable(error));
        QVERIFY2(report.contains(QStringLiteral("12 contatos importados de Cada.Mdb")), qPrintable(report.join('\n')));
        m_rows = importedRows(m_imported.filePath(QStringLiteral("cada.sqlite")));
    }

    void everyCellIsBroughtOverAsStored_data()
    {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<Row>("expected");
        const auto rows = expectedRows();
        QCOMPARE(rows.size(), 12);
        for (auto it = rows.cbegin(); it != rows.cend(); ++it)
            QTest::addRow("CD %lld", it.key()) << it.key() << it.value();
    }
    void everyCellIsBroughtOverAsStored()
    {
        QFETCH(qint64, code);
        QFETCH(Row, expected);
        QVERIFY(m_rows.contains(code));
        const Row &got = m_rows.value(code);
        const char *names[] = { "CD", "A1", "A4", "A9", "A10", "A11", "A12", "A13", "A14", "OB" };
        for (int c = 0; c < 10; ++c) {
            QCOMPARE(got.at(c).isNull(), expected.at(c).isNull());
            QVERIFY2(got.at(c) == expected.at(c), names[c]);
        }
    }

    void onlyTheStoredRowsComeAndNewCodesGoAboveThem()
    {
        QCOMPARE(m_rows.size(), 12);
        QVERIFY(!m_rows.contains(5)); // deleted in the Access file
        qint64 code = 0;
        QString error;
        QVERIFY(SqliteRegister(m_imported.filePath(QStringLiteral("cada.sqlite"))).insert({}, &code, &error));
        QCOMPARE(code, 14);
        SqliteRegister(m_imported.filePath(QStringLiteral("cada.sqlite"))).remove(code, &error);
    }

    void theAreaCodeIsBroughtOver()
    {
        SqlConnection conn(m_imported.filePath(QStringLiteral("ddd.sqlite")));
        QSqlQuery q(conn.database());
        QVERIFY(q.exec(QStringLiteral("SELECT a1 FROM a1")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("11"));
        QVERIFY(!q.next());
    }

    void theAccessFilesAreNeverChanged()
    {
        QCOMPARE(bytesOf(m_imported.filePath(QStringLiteral("Cada.Mdb"))), bytesOf(fixture("CADA.MDB")));
        QCOMPARE(bytesOf(m_imported.filePath(QStringLiteral("DDD.MDB"))), bytesOf(fixture("ddd.MDB")));
    }

    void zunaStartsOnTheImportedFolder()
    {
        RecordingMessageBoxes boxes;
        Startup startup(m_imported.path());
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        MainWindow *w = startup.mainWindow();
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("NXR"))->text(), QStringLiteral("12"));
        QCOMPARE(w->findChild<QLineEdit *>(QStringLiteral("Text11"))->text(), QStringLiteral("11"));
        w->findChild<QLineEdit *>(QStringLiteral("A1"))->setText(QStringLiteral("â"));
        auto *model = w->findChild<QTableView *>(QStringLiteral("DBGrid1"))->model();
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("Ângela Magalhães"));
        QVERIFY(boxes.shown.isEmpty());
    }

    void environmentSettingsDoNotDisturbTheReading()
    {
        qputenv("MDBICONV", "ISO-8859-1");
        qputenv("MDBPATH", ":");
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("cada.sqlite"));
        qint64 rows = 0;
        QString error;
        const bool ok
            = AccessImport::copyInProcess(AccessImport::Kind::Contacts, fixture("CADA.MDB"), target, &rows, &error);
        qunsetenv("MDBICONV");
        qunsetenv("MDBPATH");
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(importedRows(target), m_rows);
    }

    void aBadFileFailsCleanly_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray cada = bytesOf(fixture("CADA.MDB"));
        QTest::newRow("zero bytes") << "CADA.MDB" << QByteArray();
        QTest::newRow("one page") << "CADA.MDB" << cada.left(4096);
        QTest::newRow("five pages") << "CADA.MDB" << cada.left(5 * 4096);
        QTest::newRow("text file") << "CADA.MDB" << QByteArray("Nome;Telefone\r\nAna;(11)3333-4444\r\n").repeated(200);
        QTest::newRow("no table CADA") << "CADA.MDB" << bytesOf(fixture("ddd.MDB"));
        QTest::newRow("no table a1") << "ddd.MDB" << cada;
    }
    void aBadFileFailsCleanly()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        writeBytes(dir.filePath(fileName), bytes);
        QStringList report;
        QString error;
        QVERIFY(!init(dir.path(), &report, &error));
        QVERIFY2(error.contains(QStringLiteral("Não foi possível trazer")), qPrintable(error));
        const QString target
            = fileName == QLatin1String("ddd.MDB") ? QStringLiteral("ddd.sqlite") : QStringLiteral("cada.sqlite");
        QVERIFY(!QFile::exists(dir.filePath(target)));
        QVERIFY(!QFile::exists(dir.filePath(target + QStringLiteral(".importando"))));
        QCOMPARE(bytesOf(dir.filePath(fileName)), bytes);
    }

    void aDamagedFileIsRefusedOrBroughtOverExactly()
    {
        // Never a register that read less than the file holds: a damaged copy
        // is refused with a message, or, where the damage spared the table,
        // brought over exactly.
        const QByteArray cada = bytesOf(fixture("CADA.MDB"));
        constexpr int Page = 4096;
        const int pages = int(cada.size() / Page);
        QList<std::pair<QString, QByteArray>> variants;
        for (int p = 1; p < pages; ++p)
            variants.append({ QStringLiteral("cut after page %1").arg(p), cada.left(p * Page) });
        for (int at : { 4100, 20000, 70001, 113752, 140000, 160000 })
            variants.append({ QStringLiteral("cut at byte %1").arg(at), cada.left(at) });
        for (int p = 1; p < pages; ++p) {
            QByteArray zeroed = cada;
            zeroed.replace(p * Page, Page, QByteArray(Page, '\0'));
            variants.append({ QStringLiteral("page %1 zeroed").arg(p), zeroed });
            QByteArray swapped = cada;
            const int q = (p * 7) % (pages - 1) + 1;
            swapped.replace(p * Page, Page, cada.mid(q * Page, Page));
            swapped.replace(q * Page, Page, cada.mid(p * Page, Page));
            variants.append({ QStringLiteral("pages %1 and %2 swapped").arg(p).arg(q), swapped });
            if (cada.at(p * Page) == 0x02) { // a table definition: its column entries garbled
                QByteArray garbled = cada;
                for (int i = 64; i < Page; i += 7)
                    garbled[p * Page + i] = char(0xff);
                variants.append({ QStringLiteral("table definition on page %1 garbled").arg(p), garbled });
            }
        }
        QTemporaryDir dir;
        const QString mdb = dir.filePath(QStringLiteral("CADA.MDB"));
        const QString target = dir.filePath(QStringLiteral("cada.sqlite"));
        int refused = 0;
        for (const auto &[what, bytes] : std::as_const(variants)) {
            writeBytes(mdb, bytes);
            QFile::remove(target);
            qint64 rows = 0;
            QString error;
            if (AccessImport::importFile(
                    QStringLiteral(ZUNA_BINARY), AccessImport::Kind::Contacts, mdb, target, 20000, &rows, &error)) {
                QVERIFY2(
                    importedRows(target) == m_rows, qPrintable(what + QStringLiteral(": imported, not as stored")));
            } else {
                ++refused;
                QVERIFY2(!QFile::exists(target), qPrintable(what));
                QVERIFY2(error.contains(QStringLiteral("Não foi possível trazer")), qPrintable(error));
            }
        }
        QVERIFY(refused >= pages); // every cut at least
    }

    void aReadingThatHangsIsStopped()
    {
        QTemporaryDir dir;
        const QString hang = dir.filePath(QStringLiteral("trava"));
        writeBytes(hang, "#!/bin/sh\nexec sleep 30\n");
        QFile::setPermissions(hang, QFile::permissions(hang) | QFileDevice::ExeOwner);
        qint64 rows = 0;
        QString error;
        QVERIFY(!AccessImport::importFile(hang, AccessImport::Kind::Contacts, fixture("CADA.MDB"),
            dir.filePath(QStringLiteral("cada.sqlite")), 500, &rows, &error));
        QVERIFY2(error.contains(QLatin1String("danificado")), qPrintable(error));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("cada.sqlite"))));
    }

    void startingBesideAnAccessFileAsksForInit()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(fixture("CADA.MDB"), dir.filePath(QStringLiteral("CADA.MDB"))));
        writeBytes(dir.filePath(QStringLiteral("site.txt")), "Loja\n");
        RecordingMessageBoxes boxes;
        Startup startup(dir.path());
        QCOMPARE(startup.start(), Startup::Outcome::Failed);
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown.first().text.contains(QLatin1String("CADA.MDB")));
        QVERIFY(boxes.shown.first().text.contains(QLatin1String("zuna --init")));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("cada.sqlite"))));
    }
};

QTEST_MAIN(TestAccessImport)
#include "TestAccessImport.moc"
