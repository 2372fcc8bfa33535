// bench-backup ZUNA DIR [CONTACTS]: the register's copies and contacts in and
// out, each beside its floor, the bare tool doing the same work.
// 1. A copy of DIR's register (e.g. a million contacts made by zuna-generate)
//    through the online backup API with its integrity check, while another
//    connection saves a contact every 50 ms as a busy desk would: how long
//    the saves waited, beside the same saves with no copy running; then the
//    gzip of it. Floor: sqlite3 .backup, sqlite3's integrity_check, gzip -1.
// 2. zuna --restore of that copy. Floor: zcat and sqlite3's integrity_check.
// 3. CONTACTS (100000) contacts exported to CSV and vCard and imported back
//    into a new register. Floor: sqlite3 -csv and sqlite3 .import into the
//    same schema (triggers and indexes included).
// 4. The CSV imported again with --merge into the register it went into,
//    every stored city emptied first. Floor: sqlite3 .import into a table
//    of its own and one UPDATE ... FROM it by code.
#include "BenchSupport.h"
#include "RegisterGenerator.h"
#include "core/contacts/RegisterBackup.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"
#include "core/platform/GzipFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <thread>

namespace {

QTextStream out(stdout);

double seconds(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e9;
}

QString mb(const QString &path)
{
    return QString::number(QFileInfo(path).size() / 1e6, 'f', 1) + QStringLiteral(" MB");
}

// Runs a program and says how long it took; a failure ends the benchmark.
double timed(const QString &program, const QStringList &arguments)
{
    QElapsedTimer t;
    t.start();
    QString output, errors;
    if (!Bench::runProgram(program, arguments, &output, &errors)) {
        out << "failed: " << program << ' ' << arguments.join(QLatin1Char(' ')) << "\n" << errors << '\n';
        out.flush();
        std::exit(1);
    }
    return seconds(t);
}

double shell(const QString &command)
{
    return timed(QStringLiteral("sh"), { QStringLiteral("-c"), command });
}

QString row(const QString &what, double ours, double floor, const QString &floorName)
{
    return QStringLiteral("%1 %2 s   (%3: %4 s)\n")
        .arg(what.leftJustified(44))
        .arg(ours, 6, 'f', 2)
        .arg(floorName)
        .arg(floor, 0, 'f', 2);
}

// Saves a contact every 50 ms until told to stop; the longest one.
class Saver
{
public:
    explicit Saver(const QString &file)
        : m_register(file)
    {
        m_thread = std::thread([this] {
            ContactRecord r;
            r.a1 = QStringLiteral("Cliente da bancada");
            r.a4 = QStringLiteral("(11)3333-4444");
            while (!m_stop) {
                QElapsedTimer t;
                t.start();
                qint64 code = 0;
                QString error;
                if (m_register.insert(r, &code, &error))
                    ++m_saved;
                else
                    ++m_failed;
                m_longestUs = std::max<qint64>(m_longestUs, t.nsecsElapsed() / 1000);
                QThread::msleep(50);
            }
        });
    }
    ~Saver() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    double longestMs() const { return m_longestUs / 1000.0; }
    int saved() const { return m_saved; }
    int failed() const { return m_failed; }

private:
    SqliteRegister m_register;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<qint64> m_longestUs { 0 };
    std::atomic<int> m_saved { 0 }, m_failed { 0 };
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        QTextStream(stderr) << "uso: bench-backup ZUNA PASTA [CONTATOS]\n";
        return 2;
    }
    const QString zuna = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString sourceDir = QString::fromLocal8Bit(argv[2]);
    const qint64 contacts = argc > 3 ? QString::fromLocal8Bit(argv[3]).toLongLong() : 100000;
    QTemporaryDir work(QDir(sourceDir).filePath(QStringLiteral("bench-backup-XXXXXX")));
    const QString desk = work.filePath(QStringLiteral("mesa"));
    QString error;
    if (!Bench::copyDataFolder(sourceDir, desk, &error, { DataFiles::Backups })) {
        out << error << '\n';
        return 1;
    }
    const QString reg = QDir(desk).filePath(DataFiles::Contacts);
    qint64 registerContacts = 0;
    RegisterBackup::check(reg, &registerContacts, &error);
    out << "register: " << registerContacts << " contacts, " << mb(reg) << "; load " << Bench::loadAverage() << "\n\n";

    // 1. The copy while saves go on.
    double alone = 0;
    {
        Saver saver(reg);
        QThread::sleep(3);
        saver.stop();
        alone = saver.longestMs();
    }
    const QString copy = work.filePath(QStringLiteral("copia.sqlite"));
    RegisterBackup::Stats stats;
    QElapsedTimer t;
    Saver saver(reg);
    QThread::msleep(500);
    t.start();
    const bool copied = RegisterBackup::copyFile(reg, copy, &error, {}, &stats);
    const double copyS = seconds(t);
    saver.stop();
    if (!copied) {
        out << error << '\n';
        return 1;
    }
    const QString packed = work.filePath(QStringLiteral("copia.sqlite.gz"));
    t.restart();
    GzipFile::compress(copy, packed, &error);
    const double gzipS = seconds(t);

    const QString floorCopy = work.filePath(QStringLiteral("floor.sqlite"));
    const double floorBackup = timed(QStringLiteral("sqlite3"), { reg, QStringLiteral(".backup '%1'").arg(floorCopy) });
    const double floorCheck = timed(QStringLiteral("sqlite3"), { floorCopy, QStringLiteral("PRAGMA integrity_check") });
    const double floorGzip = shell(QStringLiteral("gzip -1 -c '%1' > '%1.gz'").arg(floorCopy));
    out << row(QStringLiteral("copy (backup API + integrity_check)"), copyS, floorBackup + floorCheck,
        QStringLiteral("sqlite3 .backup %1 s + integrity_check %2 s")
            .arg(floorBackup, 0, 'f', 2)
            .arg(floorCheck, 0, 'f', 2));
    out << QStringLiteral("  saves during it: %1 (%2 failed), longest wait %3 ms; without a copy %4 ms; the copy "
                          "started over %5 times\n")
               .arg(saver.saved())
               .arg(saver.failed())
               .arg(saver.longestMs(), 0, 'f', 1)
               .arg(alone, 0, 'f', 1)
               .arg(stats.restarts);
    out << row(QStringLiteral("gzip (zlib level 1): ") + mb(packed), gzipS, floorGzip, QStringLiteral("gzip -1"));

    // 2. Restore.
    const double restoreS = timed(zuna, { QStringLiteral("--data-dir"), desk, QStringLiteral("--restore"), packed });
    const double floorZcat = shell(QStringLiteral("zcat '%1' > '%2.un'").arg(packed, floorCopy));
    const double floorCheck2 = timed(
        QStringLiteral("sqlite3"), { floorCopy + QStringLiteral(".un"), QStringLiteral("PRAGMA integrity_check") });
    out << row(QStringLiteral("zuna --restore (copy.gz)"), restoreS, floorZcat + floorCheck2,
        QStringLiteral("zcat %1 s + integrity_check %2 s").arg(floorZcat, 0, 'f', 2).arg(floorCheck2, 0, 'f', 2));
    out << '\n';

    // 3. Contacts out and in.
    const QString small = work.filePath(QStringLiteral("pequena"));
    if (!RegisterGenerator::generate(small, contacts, 7, &error)) {
        out << error << '\n';
        return 1;
    }
    const QString smallReg = QDir(small).filePath(DataFiles::Contacts);
    out << contacts << " contacts:\n";
    const QString floorCsv = work.filePath(QStringLiteral("floor.csv"));
    const double floorExport = shell(QStringLiteral(
        "sqlite3 -csv -header '%1' 'SELECT CD, A1, A4, A9, A10, A11, A12, A13, A14, OB FROM CADA' > '%2'")
                                         .arg(smallReg, floorCsv));
    for (const QString &format : { QStringLiteral("csv"), QStringLiteral("vcf") }) {
        const QString file = work.filePath(QStringLiteral("contatos.") + format);
        const double exportS
            = timed(zuna, { QStringLiteral("--data-dir"), small, QStringLiteral("--export-contacts"), file });
        out << row(QStringLiteral("zuna --export-contacts .%1 (%2)").arg(format, mb(file)), exportS, floorExport,
            QStringLiteral("sqlite3 -csv"));
        const QString fresh = work.filePath(QStringLiteral("nova-") + format);
        timed(zuna,
            { QStringLiteral("--init"), QStringLiteral("--data-dir"), fresh, QStringLiteral("--ddd"),
                QStringLiteral("11") });
        const QString floorFresh = work.filePath(QStringLiteral("floor-") + format);
        timed(zuna,
            { QStringLiteral("--init"), QStringLiteral("--data-dir"), floorFresh, QStringLiteral("--ddd"),
                QStringLiteral("11") });
        const double floorImport = timed(QStringLiteral("sqlite3"),
            { QDir(floorFresh).filePath(DataFiles::Contacts),
                QStringLiteral(".import --csv --skip 1 '%1' CADA").arg(floorCsv) });
        const double importS = timed(zuna,
            { QStringLiteral("--data-dir"), fresh, QStringLiteral("--import-contacts"), file,
                QStringLiteral("--yes") });
        out << row(QStringLiteral("zuna --import-contacts .%1 --yes").arg(format), importS, floorImport,
            QStringLiteral("sqlite3 .import"));
        if (format != QLatin1String("csv"))
            continue;
        // 4. The same file merged into the register it went into, every
        //    stored city emptied first: each contact is completed.
        const QString emptied = QStringLiteral("UPDATE CADA SET A12 = ''");
        timed(QStringLiteral("sqlite3"), { QDir(fresh).filePath(DataFiles::Contacts), emptied });
        timed(QStringLiteral("sqlite3"), { QDir(floorFresh).filePath(DataFiles::Contacts), emptied });
        const double mergeS = timed(zuna,
            { QStringLiteral("--data-dir"), fresh, QStringLiteral("--import-contacts"), file, QStringLiteral("--merge"),
                QStringLiteral("--yes") });
        const double floorMerge = timed(QStringLiteral("sqlite3"),
            { QDir(floorFresh).filePath(DataFiles::Contacts), QStringLiteral(".import --csv '%1' T").arg(floorCsv),
                QStringLiteral("UPDATE CADA SET A12 = T.A12 FROM T WHERE T.CD = CADA.CD") });
        out << row(QStringLiteral("zuna --import-contacts .csv --merge --yes"), mergeS, floorMerge,
            QStringLiteral("sqlite3 .import + UPDATE FROM"));
    }
    return 0;
}
