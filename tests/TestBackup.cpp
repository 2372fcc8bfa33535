#include "PostgresServer.h"
#include "TestSupport.h"

#include "core/app/AutoBackup.h"
#include "core/contacts/BackupFolder.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/Register.h"
#include "core/contacts/RegisterBackup.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"
#include "core/platform/GzipFile.h"
#include "core/platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

using Run = ProgramRun;

Run zuna(const QStringList &arguments)
{
    return runProgram(QStringLiteral(ZUNA_BINARY), arguments);
}

QList<ContactRecord> contactsOf(const QString &file)
{
    QList<ContactRecord> all;
    SqliteRegister reg(file);
    QString error;
    if (!reg.forEachContact([&](const ContactRecord &c) { return all << c, true; }, &error))
        qWarning("%s", qPrintable(error));
    return all;
}

// Many contacts at once, as the sqlite3 tool would add them.
void fill(const DataFolderFixture &data, int contacts)
{
    data.exec(DataFiles::Contacts,
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                       "INSERT INTO CADA (A1, A4, A9, A12, OB) SELECT 'Cliente ' || i, '(11)9' || (10000000 + i), "
                       "'Rua ' || i || ', ' || (i % 900), 'São Paulo', hex(randomblob(40)) FROM n")
            .arg(contacts));
}

const QDateTime Noon(QDate(2026, 3, 31), QTime(12, 0));

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT

private slots:
    void rotationKeepsDaysWeeksAndMonths_data();
    void rotationKeepsDaysWeeksAndMonths();
    void copiesRotateAcrossDaysAndKeepTheOneBeforeARestore();
    void copyIsAGzipOfAWholeRegister();
    void copiesGoToTheFolderCopiasIniNames();
    void copyEndsWhileSavesGoOn();
    void copyThatCannotBeWrittenFailsLeavingTheRegister();
    void autoBackupCopiesOnceADayWhenChangedAndRetriesAFailure();
    void backupCommandCopiesEitherBackend_data();
    void backupCommandCopiesEitherBackend();
    void restorePutsTheCopyInPlaceAndKeepsThePrevious();
    void restoreRefusesABadCopy_data();
    void restoreRefusesABadCopy();
    void restoreRefusesWhileZunaRuns();
    void restoreUpgradesAnOldRegister();
    void restoreKilledLeavesTheRegisterAsItWas();
    void restoreReplacesADamagedRegisterAndKeepsIt();
};

void TestBackup::rotationKeepsDaysWeeksAndMonths_data()
{
    QTest::addColumn<QList<QDateTime>>("made");
    QTest::addColumn<QList<QDate>>("kept");
    // One copy a day at noon through the first quarter of 2026, ending on
    // Tuesday 31 March: the last 7 days, the newest of the 4 ISO weeks (9-15,
    // 16-22 March beyond them) and of the 3 months.
    QList<QDateTime> daily;
    for (QDate d(2026, 1, 1); d <= Noon.date(); d = d.addDays(1))
        daily << QDateTime(d, QTime(12, 0));
    QList<QDate> kept = { QDate(2026, 1, 31), QDate(2026, 2, 28), QDate(2026, 3, 15), QDate(2026, 3, 22) };
    for (int day = 25; day <= 31; ++day)
        kept << QDate(2026, 3, day);
    QTest::newRow("a quarter of daily copies") << daily << kept;
    // Two years: only 12 months are kept.
    QList<QDateTime> monthly;
    for (QDate d(2024, 1, 10); d <= QDate(2025, 12, 10); d = d.addMonths(1))
        monthly << QDateTime(d, QTime(9, 0));
    QList<QDate> lastYear;
    for (int m = 1; m <= 12; ++m)
        lastYear << QDate(2025, m, 10);
    QTest::newRow("two years of monthly copies") << monthly << lastYear;
    // Several copies in a day (at exit, then the daily one): the newest stays.
    QTest::newRow("three copies in one day") << QList<QDateTime> { QDateTime(QDate(2026, 5, 4), QTime(8, 0)),
        QDateTime(QDate(2026, 5, 4), QTime(18, 0)), QDateTime(QDate(2026, 5, 4), QTime(12, 0)) }
                                             << QList<QDate> { QDate(2026, 5, 4) };
}

void TestBackup::rotationKeepsDaysWeeksAndMonths()
{
    QFETCH(QList<QDateTime>, made);
    QFETCH(QList<QDate>, kept);
    const QList<QDateTime> gone = BackupFolder::expired(made);
    QList<QDate> left;
    for (const QDateTime &t : made) {
        if (!gone.contains(t))
            left << t.date();
    }
    std::sort(left.begin(), left.end());
    std::sort(kept.begin(), kept.end());
    QCOMPARE(left, kept);
    if (made.size() == 3)
        QVERIFY(!gone.contains(QDateTime(QDate(2026, 5, 4), QTime(18, 0))));
}

void TestBackup::copiesRotateAcrossDaysAndKeepTheOneBeforeARestore()
{
    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana"), QStringLiteral("1133334444")));
    const QString folder = BackupFolder::pathFor(data.path());
    QString error, path;
    QVERIFY2(BackupFolder::makeCopy(data.path(), BackupFolder::Kind::BeforeRestore, Noon.addDays(-60), &path, &error),
        qPrintable(error));
    for (int day = 40; day >= 0; --day)
        QVERIFY2(BackupFolder::makeCopy(data.path(), BackupFolder::Kind::Automatic, Noon.addDays(-day), &path, &error),
            qPrintable(error));
    const QList<BackupFolder::Copy> copies = BackupFolder::list(folder);
    QCOMPARE(copies.first().made, Noon);
    QCOMPARE(copies.last().kind, BackupFolder::Kind::BeforeRestore);
    // 7 days, the weeks of 15 and 22 March, and the end of February.
    QCOMPARE(copies.size(), 7 + 2 + 1 + 1);
    QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFile::Permissions());
    for (const BackupFolder::Copy &c : copies)
        QCOMPARE(QFileInfo(c.path).permissions() & 0x0077, QFile::Permissions());
    // Nothing half-made stays behind.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), copies.size());
}

void TestBackup::copyIsAGzipOfAWholeRegister()
{
    DataFolderFixture data;
    fill(data, 2000);
    QString error, path;
    QVERIFY2(
        BackupFolder::makeCopy(data.path(), BackupFolder::Kind::Automatic, Noon, &path, &error), qPrintable(error));
    QVERIFY(GzipFile::isGzip(path));
    QTemporaryDir out;
    const QString plain = out.filePath(QStringLiteral("copia.sqlite"));
    QVERIFY2(GzipFile::decompress(path, plain, &error), qPrintable(error));
    qint64 contacts = 0;
    QVERIFY2(RegisterBackup::check(plain, &contacts, &error), qPrintable(error));
    QCOMPARE(contacts, 2000);
    QCOMPARE(contactsOf(plain), contactsOf(data.file(DataFiles::Contacts)));
    // Cut short, it is refused rather than read as a smaller register.
    QFile cut(path);
    QVERIFY(cut.resize(cut.size() / 2));
    QVERIFY(!GzipFile::decompress(path, out.filePath(QStringLiteral("cortada.sqlite")), &error));
    QVERIFY(!QFile::exists(out.filePath(QStringLiteral("cortada.sqlite"))));
}

void TestBackup::copiesGoToTheFolderCopiasIniNames()
{
    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana")));
    QTemporaryDir usb;
    const QString folder = QDir(usb.path()).filePath(QStringLiteral("copias-zuna"));
    QSettings(data.file(DataFiles::BackupSettings), QSettings::IniFormat).setValue(BackupFolder::FolderKey, folder);
    QCOMPARE(BackupFolder::pathFor(data.path()), folder);
    const Run run = zuna({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--backup") });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(BackupFolder::list(folder).size(), 1);
    QVERIFY(!QFileInfo::exists(data.file(DataFiles::Backups)));
}

void TestBackup::copyEndsWhileSavesGoOn()
{
    DataFolderFixture data;
    fill(data, 60000);
    SqliteRegister reg(data.file(DataFiles::Contacts));
    std::atomic<bool> stop { false };
    std::atomic<int> saved { 0 };
    std::thread saver([&] {
        while (!stop) {
            qint64 code = 0;
            QString error;
            if (reg.insert(data.contact(QStringLiteral("Durante")), &code, &error))
                ++saved;
            QThread::msleep(5); // another desk's pace of saving, not a wait of the test
        }
    });
    QTemporaryDir out;
    RegisterBackup::Stats stats;
    QString error;
    const bool ok = RegisterBackup::copyFile(
        data.file(DataFiles::Contacts), out.filePath(QStringLiteral("c.sqlite")), &error, {}, &stats);
    stop = true;
    saver.join();
    QVERIFY2(ok, qPrintable(error));
    QVERIFY(saved > 0);
    qint64 contacts = 0;
    QVERIFY(RegisterBackup::check(out.filePath(QStringLiteral("c.sqlite")), &contacts, &error));
    QVERIFY(contacts >= 60000 && contacts <= 60000 + saved);
}

void TestBackup::copyThatCannotBeWrittenFailsLeavingTheRegister()
{
    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana")));
    // The folder of copies cannot be made: a file has its name.
    QFile blocker(data.file(DataFiles::Backups));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto before = data.snapshot();
    QString error, path;
    QVERIFY(!BackupFolder::makeCopy(data.path(), BackupFolder::Kind::Automatic, Noon, &path, &error));
    QVERIFY2(error.contains(u"não foi feita"), qPrintable(error));
    QCOMPARE(data.snapshot(), before);
}

void TestBackup::autoBackupCopiesOnceADayWhenChangedAndRetriesAFailure()
{
    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana")));
    const QDateTime base(QDate(2026, 6, 1), QTime(10, 0));
    const auto changedAt = [&](const QDateTime &when) {
        QFile reg(data.file(DataFiles::Contacts));
        return reg.open(QIODevice::ReadWrite) && reg.setFileTime(when, QFileDevice::FileModificationTime);
    };
    QVERIFY(changedAt(base.addSecs(-3600)));
    QFile blocker(data.file(DataFiles::Backups));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QDateTime now = base;
    AutoBackup backup(data.path());
    backup.setClock([&] { return now; });
    backup.setRetryMs(50);
    QSignalSpy made(&backup, &AutoBackup::copyMade);
    QSignalSpy failed(&backup, &AutoBackup::copyFailed);
    QSignalSpy status(&backup, &AutoBackup::statusChanged);
    backup.start(0);
    QVERIFY(failed.wait(10000));
    QCOMPARE(status.last().at(1).toBool(), false);
    QVERIFY(status.last().at(0).toString().contains(QLatin1String("falhou")));
    // Once the folder can be made, a retry makes the copy.
    QVERIFY(blocker.remove());
    QTRY_COMPARE_WITH_TIMEOUT(made.size(), 1, 10000);
    QCOMPARE(status.last().at(1).toBool(), true);
    const QString folder = BackupFolder::pathFor(data.path());
    QCOMPARE(BackupFolder::list(folder).first().made, base);

    // Later the same day, or nothing changed since: no copy is due.
    QVERIFY(!BackupFolder::dailyCopyDue(data.path(), base.addSecs(3600)));
    QVERIFY(!BackupFolder::dailyCopyDue(data.path(), base.addDays(1)));
    QString error;
    now = base.addSecs(60);
    QVERIFY(backup.copyAtExit(&error));
    QCOMPARE(BackupFolder::list(folder).size(), 1);
    // A change after the copy: due the next day, and made at exit.
    QVERIFY(changedAt(base.addSecs(3600)));
    QVERIFY(BackupFolder::dailyCopyDue(data.path(), base.addDays(1)));
    now = base.addSecs(7200);
    QVERIFY2(backup.copyAtExit(&error), qPrintable(error));
    // The day keeps its newest copy.
    QCOMPARE(BackupFolder::list(folder).size(), 1);
    QCOMPARE(BackupFolder::list(folder).first().made, now);
}

void TestBackup::backupCommandCopiesEitherBackend_data()
{
    RegisterFixture::addBackends();
}

void TestBackup::backupCommandCopiesEitherBackend()
{
    QFETCH(QString, backend);
    QString why;
    if (!RegisterFixture::available(backend, &why))
        QSKIP(qPrintable(why));
    RegisterFixture r(backend);
    r.add(r.data().contact(QStringLiteral("Ana"), QStringLiteral("1133334444")));
    const qint64 gone = r.add(r.data().contact(QStringLiteral("Removida")));
    r.add(r.data().contact(QStringLiteral("Bia"), QStringLiteral("11987654321")));
    QString error;
    QVERIFY(r.reg().remove(gone, &error));
    // The call log goes with the contacts, ids and contact codes kept.
    CallRecord known;
    known.when = QDateTime(QDate(2026, 3, 30), QTime(9, 15, 2));
    known.received = known.key = QStringLiteral("1133334444");
    known.laidOut = QStringLiteral("(11)3333-4444");
    known.source = QStringLiteral("modem");
    known.line = QStringLiteral("/dev/ttyACM0");
    known.contactCode = 1;
    known.contactName = QStringLiteral("Ana");
    CallRecord withheld;
    withheld.when = Noon;
    withheld.kind = CallRecord::Kind::Withheld;
    withheld.laidOut = QStringLiteral("Número restrito");
    withheld.callerName = QStringLiteral("O'Brien; \"Zé\"");
    for (CallRecord *call : { &known, &withheld })
        QVERIFY2(r.reg().logCall(call, &error), qPrintable(error));
    QTemporaryDir out;
    for (const QString &name : { QStringLiteral("copia.sqlite"), QStringLiteral("copia.sqlite.gz") }) {
        const Run run
            = zuna({ QStringLiteral("--data-dir"), r.data().path(), QStringLiteral("--backup"), out.filePath(name) });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(run.out.contains(QLatin1String("2 contatos")));
    }
    QString plain = out.filePath(QStringLiteral("copia.sqlite"));
    QVERIFY(GzipFile::decompress(
        out.filePath(QStringLiteral("copia.sqlite.gz")), out.filePath(QStringLiteral("descompactada.sqlite")), &error));
    QList<ContactRecord> source;
    QVERIFY(r.reg().forEachContact([&](const ContactRecord &c) { return source << c, true; }, &error));
    QCOMPARE(contactsOf(plain), source); // codes kept
    QCOMPARE(contactsOf(out.filePath(QStringLiteral("descompactada.sqlite"))), source);
    QList<CallRecord> calls, copied;
    QVERIFY(r.reg().forEachCall(
        {}, [&](const CallRecord &c) { return calls << c, true; }, &error));
    QCOMPARE(calls.size(), 2);
    QVERIFY(SqliteRegister(plain).forEachCall(
        {}, [&](const CallRecord &c) { return copied << c, true; }, &error));
    QCOMPARE(copied, calls);
    // Restored at a new desk, whose area code is not set yet, the copy of a
    // server register brings the server's area code; a desk's own copy
    // leaves the desk's as it is.
    DataFolderFixture desk;
    desk.exec(DataFiles::AreaCode, QStringLiteral("UPDATE a1 SET a1 = ''"));
    const Run restored = zuna({ QStringLiteral("--data-dir"), desk.path(), QStringLiteral("--restore"), plain });
    QVERIFY2(restored.status == 0, qPrintable(restored.err));
    QString areaCode;
    QVERIFY(
        SqliteRegister(desk.file(DataFiles::Contacts), desk.file(DataFiles::AreaCode)).loadAreaCode(&areaCode, &error));
    QCOMPARE(areaCode, r.isPostgres() ? QStringLiteral("11") : QString());
    QCOMPARE(contactsOf(desk.file(DataFiles::Contacts)), source);
    // And taken back to an empty server register, the calls go too.
    if (r.isPostgres()) {
        const QString server = PostgresServer::shared(nullptr)->newDatabase(false);
        const Run back = zuna({ QStringLiteral("--data-dir"), desk.path(), QStringLiteral("--copy-register"), server });
        QVERIFY2(back.status == 0, qPrintable(back.err));
        const auto there = Register::open(desk.path(), server, Register::Patience::Background, &error);
        QVERIFY2(there, qPrintable(error));
        QList<CallRecord> returned;
        QVERIFY(there->forEachCall(
            {}, [&](const CallRecord &c) { return returned << c, true; }, &error));
        QCOMPARE(returned, calls);
        CallRecord next = withheld;
        QVERIFY2(there->logCall(&next, &error), qPrintable(error));
        QVERIFY(next.id > withheld.id); // new calls get ids above the ones brought over
    }
    // An existing file is never written over.
    const Run again = zuna({ QStringLiteral("--data-dir"), r.data().path(), QStringLiteral("--backup"), plain });
    QCOMPARE(again.status, 1);
}

void TestBackup::restorePutsTheCopyInPlaceAndKeepsThePrevious()
{
    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana"), QStringLiteral("1133334444")));
    QString error, copy;
    QVERIFY(BackupFolder::makeCopy(data.path(), BackupFolder::Kind::Automatic, Noon, &copy, &error));
    const QList<ContactRecord> atCopy = contactsOf(data.file(DataFiles::Contacts));
    data.exec(DataFiles::Contacts, QStringLiteral("UPDATE CADA SET A1 = 'Apagado por engano'"));
    data.addContact(data.contact(QStringLiteral("Depois")));
    const QList<ContactRecord> beforeRestore = contactsOf(data.file(DataFiles::Contacts));

    const Run run = zuna({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--restore"), copy });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(QLatin1String("1 contatos")), qPrintable(run.out));
    QCOMPARE(contactsOf(data.file(DataFiles::Contacts)), atCopy);
    QCOMPARE(QFileInfo(data.file(DataFiles::Contacts)).permissions() & 0x0077, QFile::Permissions());
    // The register replaced is one more copy, whole.
    const QList<BackupFolder::Copy> copies = BackupFolder::list(BackupFolder::pathFor(data.path()));
    QCOMPARE(copies.size(), 2);
    const auto kept = std::find_if(copies.cbegin(), copies.cend(),
        [](const BackupFolder::Copy &c) { return c.kind == BackupFolder::Kind::BeforeRestore; });
    QVERIFY(kept != copies.cend());
    QTemporaryDir out;
    QVERIFY(GzipFile::decompress(kept->path, out.filePath(QStringLiteral("antes.sqlite")), &error));
    QCOMPARE(contactsOf(out.filePath(QStringLiteral("antes.sqlite"))), beforeRestore);
    // The register works as any other: a save, a lookup by telephone.
    auto reg = Register::open(data.path(), {}, Register::Patience::Background, &error);
    QVERIFY2(reg, qPrintable(error));
    qint64 code = 0;
    QVERIFY(reg->insert(data.contact(QStringLiteral("Nova")), &code, &error));
    QVERIFY(!QDir(data.path())
                 .entryList(QDir::Files | QDir::Hidden)
                 .join(QLatin1Char(' '))
                 .contains(QLatin1String("restaurando")));
}

void TestBackup::restoreRefusesABadCopy_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("said");
    QTest::newRow("text file") << QByteArray("nome,telefone\nAna,1133334444\n") << QStringLiteral("not a database");
    QTest::newRow("gzip cut short") << QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x0b", 11)
                                    << QStringLiteral("incompleto");
    QTest::newRow("another program's database")
        << QByteArray("sqlite:CREATE TABLE outra (x)") << QStringLiteral("CADA");
    QTest::newRow("damaged page") << QByteArray("damage") << QStringLiteral("danificada");
}

void TestBackup::restoreRefusesABadCopy()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, said);
    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana")));
    QTemporaryDir out;
    const QString copy = out.filePath(QStringLiteral("copia"));
    if (bytes.startsWith("sqlite:")) {
        SqliteRegister::create(copy, nullptr);
        QFile::remove(copy);
        SqlConnection conn(copy, SqlConnection::Mode::Create);
        QSqlQuery(conn.database()).exec(QString::fromUtf8(bytes.mid(7)));
    } else if (bytes == "damage") {
        fill(data, 3000);
        QFile::copy(data.file(DataFiles::Contacts), copy);
        QFile f(copy);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(f.size() / 2);
        f.write(QByteArray(8192, '\x55'));
    } else {
        QFile f(copy);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const auto before = data.snapshot();
    const Run run = zuna({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--restore"), copy });
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QVERIFY(run.err.contains(QLatin1String("Nada foi mudado")));
    QCOMPARE(data.snapshot(), before);
}

void TestBackup::restoreRefusesWhileZunaRuns()
{
    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana")));
    QString error, copy;
    QVERIFY(BackupFolder::makeCopy(data.path(), BackupFolder::Kind::Automatic, Noon, &copy, &error));
    SingleInstance running(data.path());
    QCOMPARE(running.tryAcquire(&error), SingleInstance::Result::Acquired);
    const auto before = data.snapshot();
    const Run run = zuna({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--restore"), copy });
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QLatin1String("feche-o")), qPrintable(run.err));
    QCOMPARE(data.snapshot(), before);
}

void TestBackup::restoreUpgradesAnOldRegister()
{
    // A register of the first version: table CADA alone.
    QTemporaryDir out;
    const QString old = out.filePath(QStringLiteral("antigo.sqlite"));
    {
        SqlConnection conn(old, SqlConnection::Mode::Create);
        QSqlQuery q(conn.database());
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE CADA (CD INTEGER PRIMARY KEY AUTOINCREMENT, A1 TEXT, A4 TEXT, "
                                      "A9 TEXT, A10 TEXT, A11 TEXT, A12 TEXT, A13 TEXT, A14 TEXT, OB TEXT)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO CADA (A1, A4) VALUES ('Antiga', '(11)3333-4444')")));
    }
    DataFolderFixture data;
    const Run run = zuna({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--restore"), old });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QString error;
    auto reg = Register::open(data.path(), {}, Register::Patience::Background, &error);
    QVERIFY2(reg, qPrintable(error));
    QVERIFY(reg->buildIndexes(&error));
    qint64 count = 0;
    QVERIFY(reg->count(&count, &error));
    QCOMPARE(count, 1);
    std::optional<ContactRecord> found;
    QVERIFY(reg->findCaller(PhoneNumber::read(QStringLiteral("1133334444"), QStringLiteral("11")), &found, &error));
    QVERIFY(found);
    QCOMPARE(found->a1, QStringLiteral("Antiga"));
}

void TestBackup::restoreKilledLeavesTheRegisterAsItWas()
{
    DataFolderFixture source;
    fill(source, 150000);
    QString error, copy;
    QVERIFY(BackupFolder::makeCopy(source.path(), BackupFolder::Kind::Automatic, Noon, &copy, &error));

    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana"), QStringLiteral("1133334444")));
    const auto before = data.snapshot();
    const QString prepared = data.file(QStringLiteral(".cada.sqlite.restaurando"));
    // Killed while the copy is unpacked beside the register.
    QProcess p;
    p.start(
        QStringLiteral(ZUNA_BINARY), { QStringLiteral("--data-dir"), data.path(), QStringLiteral("--restore"), copy });
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(prepared).size() > 0 || p.state() == QProcess::NotRunning, 20000);
    QVERIFY(p.state() == QProcess::Running);
    ::kill(pid_t(p.processId()), SIGKILL);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::CrashExit);
    auto now = data.snapshot();
    now.remove(QStringLiteral(".cada.sqlite.restaurando"));
    now.remove(QStringLiteral(".zuna.lock"));
    QCOMPARE(now, before);
    // The next restore takes the lock the killed one left, and ends.
    const Run run = zuna({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--restore"), copy });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    qint64 contacts = 0;
    QVERIFY(RegisterBackup::check(data.file(DataFiles::Contacts), &contacts, &error));
    QCOMPARE(contacts, 150000);
    QVERIFY(!QFile::exists(prepared));
}

void TestBackup::restoreReplacesADamagedRegisterAndKeepsIt()
{
    DataFolderFixture data;
    data.addContact(data.contact(QStringLiteral("Ana")));
    QString error, copy;
    QVERIFY(BackupFolder::makeCopy(data.path(), BackupFolder::Kind::Automatic, Noon, &copy, &error));
    // The register's first page overwritten: SQLite no longer reads it.
    QByteArray damaged;
    {
        QFile reg(data.file(DataFiles::Contacts));
        QVERIFY(reg.open(QIODevice::ReadWrite));
        reg.write(QByteArray(100, 'x'));
        reg.seek(0);
        damaged = reg.readAll();
    }
    const Run run = zuna({ QStringLiteral("--data-dir"), data.path(), QStringLiteral("--restore"), copy });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    qint64 contacts = 0;
    QVERIFY(RegisterBackup::check(data.file(DataFiles::Contacts), &contacts, &error));
    QCOMPARE(contacts, 1);
    // The damaged register is kept as it was, byte for byte.
    const QList<BackupFolder::Copy> copies = BackupFolder::list(BackupFolder::pathFor(data.path()));
    const auto kept = std::find_if(copies.cbegin(), copies.cend(),
        [](const BackupFolder::Copy &c) { return c.kind == BackupFolder::Kind::BeforeRestore; });
    QVERIFY(kept != copies.cend());
    QTemporaryDir out;
    QVERIFY(GzipFile::decompress(kept->path, out.filePath(QStringLiteral("antes")), &error));
    QFile before(out.filePath(QStringLiteral("antes")));
    QVERIFY(before.open(QIODevice::ReadOnly));
    QCOMPARE(before.readAll(), damaged);
}

QTEST_GUILESS_MAIN(TestBackup)
#include "TestBackup.moc"
