// bench-shared-register DIR [RUNS]: the register several desks share on a
// PostgreSQL server, measured in one run beside the same work on the data
// folder's own SQLite register. DIR is a data folder with an SQLite register
// (zuna-generate DIR N). The bench works on a copy of DIR and on a server of
// its own that flushes every commit to disk, as a real one does, both in
// temporary folders: DIR is left as found and nothing of the server remains.
//
// bench-shared-register DIR --copy-only: part 1 alone.
// bench-shared-register DIR --desks [10,50,100]: zuna's copy of DIR, then
// many desks at once on it (ManyDesks.h), beside pgbench. With --no-flush
// the server does not wait for the disk at each commit: the flushes of a
// shared machine's disk vary tenfold from second to second, and without
// them the desks and pgbench compare on the work of the statements alone.
//
// 1. DIR's register copied to the server by zuna (DataInit::copyRegister, what
//    `zuna --copy-register` runs), beside the floor: sqlite3's CSV fed to
//    psql's \copy, into a bare table, and into the register's own table with
//    its indexes made after the rows, as zuna does, in one transaction.
// 2. bench-register (RUNS runs) and bench-callerid on the SQLite register and
//    on the server's copy, their lines paired.
// 3. Ten desks, each on a thread of its own with a register of its own, save
//    100 new contacts each at once, then save each of them again, then delete
//    them; every save is followed by the list's first page and the count, as
//    the window does. Every write is then checked: counted and read back.
#include "BenchSupport.h"
#include "ManyDesks.h"
#include "PostgresServer.h"

#include "core/app/DataInit.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/NamePattern.h"
#include "core/contacts/Register.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using namespace Bench;

QTextStream out(stdout);

// A row of figures: what, then SQLite's and PostgreSQL's side by side.
void row(const QString &what, const QString &sqlite, const QString &postgres)
{
    out << what.leftJustified(44) << ' ' << sqlite.leftJustified(36) << ' ' << postgres << '\n';
}

// sqlite3's CSV of the register's rows, as stored (NULL stays NULL), fed to
// psql with these arguments. Timed from start to the end of both.
bool pipeRows(const QString &registerFile, const QString &url, const QStringList &psqlCommands, double *elapsedMs,
    QString *output)
{
    QProcess sqlite, psql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
    psql.setProcessEnvironment(env);
    sqlite.setStandardOutputProcess(&psql);
    psql.setProcessChannelMode(QProcess::MergedChannels);
    QStringList psqlArguments = { QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-1"),
        QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), url };
    for (const QString &command : psqlCommands)
        psqlArguments << QStringLiteral("-c") << command;
    QElapsedTimer t;
    t.start();
    psql.start(QStringLiteral("psql"), psqlArguments);
    sqlite.start(QStringLiteral("sqlite3"),
        { QStringLiteral("-bail"), QStringLiteral("-readonly"), QStringLiteral("-csv"), QStringLiteral("-noheader"),
            registerFile, QStringLiteral("SELECT CD, A1, A4, A9, A10, A11, A12, A13, A14, OB FROM CADA ORDER BY CD") });
    sqlite.waitForFinished(-1);
    psql.waitForFinished(-1);
    *elapsedMs = t.nsecsElapsed() / 1e6;
    *output = QString::fromUtf8(psql.readAll()) + QString::fromUtf8(sqlite.readAllStandardError());
    return sqlite.exitStatus() == QProcess::NormalExit && sqlite.exitCode() == 0
        && psql.exitStatus() == QProcess::NormalExit && psql.exitCode() == 0;
}

const QString CopyColumns = QStringLiteral("cd, a1, a4, a9, a10, a11, a12, a13, a14, ob");

// The rows of a database's table cada, NULLs told from empty text: their
// number and a sum of hashes of every field.
QString rowsSignature(const PostgresServer &server, const QString &url)
{
    return server.value(url,
        QStringLiteral("SELECT count(*) || ' rows, hash ' || coalesce(sum(hashtextextended(concat_ws('|', cd, "
                       "quote_nullable(a1), quote_nullable(a4), quote_nullable(a9), quote_nullable(a10), "
                       "quote_nullable(a11), quote_nullable(a12), quote_nullable(a13), quote_nullable(a14), "
                       "quote_nullable(ob)), 0)::numeric), 0) FROM cada"));
}

// 1. The copy to the server: zuna's, and the floor. Returns the URL of the
// database zuna copied to, empty when the copy failed.
QString copies(PostgresServer &server, const QString &deskDir, const QString &registerFile, qint64 contacts)
{
    out << "\n== Copying the SQLite register (" << contacts << " contacts) to the server\n";
    const QString url = server.newDatabase(false);
    QStringList report;
    QString error;
    QElapsedTimer t;
    t.start();
    const bool copied = DataInit::copyRegister(deskDir, url, &report, &error);
    const double zunaMs = t.nsecsElapsed() / 1e6;
    if (!copied) {
        out << "zuna's copy FAILED after " << ms(zunaMs) << ": " << error << '\n';
        return {};
    }
    server.exec(url, QStringLiteral("CHECKPOINT"));

    // Floor 1: the rows alone, into a table without any index or trigger.
    const QString bareUrl = server.newDatabase(false);
    server.exec(bareUrl,
        QStringLiteral("CREATE TABLE cada (cd bigint, a1 text, a4 text, a9 text, a10 text, a11 text, a12 text, "
                       "a13 text, a14 text, ob text)"));
    double bareMs = 0;
    QString bareOutput;
    const bool bareOk = pipeRows(registerFile, bareUrl,
        { QStringLiteral("\\copy cada (%1) from stdin with (format csv)").arg(CopyColumns) }, &bareMs, &bareOutput);
    server.exec(bareUrl, QStringLiteral("CHECKPOINT"));

    // Floor 2: the end zuna's copy reaches by the shortest road: the
    // register's own table, its indexes dropped and made again after the
    // rows, the count set once, in one transaction. Each statement timed.
    const QString fullUrl = server.newDatabase(true);
    const QString indexFilter = QStringLiteral("FROM pg_indexes WHERE tablename = 'cada' AND indexname <> 'cada_pkey'");
    const QStringList indexNames
        = server.value(fullUrl, QStringLiteral("SELECT string_agg(indexname, ',' ORDER BY indexname) ") + indexFilter)
              .split(QLatin1Char(','));
    const QStringList indexDefinitions
        = server.value(fullUrl, QStringLiteral("SELECT string_agg(indexdef, ';' ORDER BY indexname) ") + indexFilter)
              .split(QLatin1Char(';'));
    QStringList statements = { QStringLiteral("SET LOCAL maintenance_work_mem = '256MB'"),
        QStringLiteral("DROP INDEX %1").arg(indexNames.join(QStringLiteral(", "))),
        QStringLiteral("ALTER TABLE cada DISABLE TRIGGER cada_conta"),
        QStringLiteral("\\copy cada (%1) from stdin with (format csv)").arg(CopyColumns),
        QStringLiteral(
            "UPDATE cada_contagem_parte SET n = CASE WHEN parte = 0 THEN (SELECT count(*) FROM cada) ELSE 0 END"),
        QStringLiteral("ALTER TABLE cada ENABLE TRIGGER cada_conta") };
    statements << indexDefinitions;
    statements << QStringLiteral(
        "SELECT setval(pg_get_serial_sequence('cada', 'cd'), greatest((SELECT max(cd) FROM cada), 1))");
    double fullMs = 0;
    QString fullOutput;
    const bool fullOk = pipeRows(
        registerFile, fullUrl, QStringList { QStringLiteral("\\timing on") } + statements, &fullMs, &fullOutput);
    server.exec(fullUrl, QStringLiteral("CHECKPOINT"));

    row(QString(), QStringLiteral("time"), QStringLiteral("vs zuna's copy"));
    row(QStringLiteral("zuna's copy (DataInit::copyRegister)"), ms(zunaMs), QStringLiteral("(target <= 60000 ms)"));
    row(QStringLiteral("floor: sqlite3 CSV | \\copy, bare table"), bareOk ? ms(bareMs) : QStringLiteral("FAILED"),
        QStringLiteral("zuna takes %1x").arg(zunaMs / bareMs, 0, 'f', 1));
    row(QStringLiteral("floor: same, register's table + indexes"), fullOk ? ms(fullMs) : QStringLiteral("FAILED"),
        QStringLiteral("zuna takes %1x").arg(zunaMs / fullMs, 0, 'f', 1));
    // psql says how long each statement took (not the \timing switch itself).
    const QRegularExpression timeLine(QStringLiteral("^Time: ([0-9.]+) ms"), QRegularExpression::MultilineOption);
    QList<double> statementMs;
    for (auto m = timeLine.globalMatch(fullOutput); m.hasNext();)
        statementMs << m.next().captured(1).toDouble();
    if (statementMs.size() == statements.size()) {
        out << "  the floor's statements:\n";
        for (qsizetype i = 0; i < statements.size(); ++i)
            out << "    " << ms(statementMs.at(i)).rightJustified(12) << "  " << statements.at(i).left(110) << '\n';
    }
    if (!bareOk)
        out << "bare floor failed: " << bareOutput << '\n';
    if (!fullOk)
        out << "floor with indexes failed: " << fullOutput << '\n';

    // zuna's copy holds the same rows, field by field, as the floor's.
    const QString zunaRows = rowsSignature(server, url);
    const QString bareRows = rowsSignature(server, bareUrl);
    const QString fullRows = rowsSignature(server, fullUrl);
    const QString counted = server.value(url, QStringLiteral("SELECT n FROM cada_contagem"));
    out << "  rows on the server: zuna's copy " << zunaRows << "; floors " << bareRows << " / " << fullRows
        << "; zuna's count table says " << counted << " -> "
        << (zunaRows == bareRows && zunaRows == fullRows && counted.toLongLong() == contacts ? "same rows, none lost"
                                                                                             : "DIFFERENT")
        << '\n';
    out << "  load average at the end: " << loadAverage() << '\n';
    out << "  database size after zuna's copy: "
        << server.value(url, QStringLiteral("SELECT pg_size_pretty(pg_database_size(current_database()))")) << '\n';
    for (const QString &line : std::as_const(report))
        out << "  zuna: " << QString(line).replace(QLatin1Char('\n'), QLatin1String(" / ")) << '\n';

    // The floors' databases are of no more use: gone, so that their upkeep
    // does not weigh on what is measured next.
    server.exec(url, QStringLiteral("DROP DATABASE %1").arg(databaseOf(bareUrl)));
    server.exec(url, QStringLiteral("DROP DATABASE %1").arg(databaseOf(fullUrl)));
    return url;
}

// The server's statistics of a freshly copied table are made by autovacuum a
// little after the copy, as at a site: waited for, so that what is measured
// next is the register as it is used from then on.
void awaitStatistics(const PostgresServer &server, const QString &url)
{
    QElapsedTimer t;
    t.start();
    const QString ready = QStringLiteral(
        "SELECT (last_autoanalyze IS NOT NULL OR last_analyze IS NOT NULL) AND NOT EXISTS (SELECT 1 FROM "
        "pg_stat_activity WHERE backend_type = 'autovacuum worker') FROM pg_stat_user_tables WHERE relname = 'cada'");
    while (server.value(url, ready) != QLatin1String("t")) {
        if (t.elapsed() > 300000) {
            out << "  the server's statistics of the copied table were not made within 300 s: "
                   "the benchmarks run without them\n";
            return;
        }
        QThread::msleep(2000);
    }
    out << "  the server's statistics of the copied table made by autovacuum (waited " << t.elapsed() / 1000
        << " s after the copies)\n";
}

// 2. A benchmark program run on both registers, its lines paired.
bool paired(const QString &program, const QStringList &sqliteArguments, const QStringList &postgresArguments)
{
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(program);
    out << "\n== " << program << "\n"
        << "  sqlite:     " << program << ' ' << sqliteArguments.join(QLatin1Char(' ')) << '\n'
        << "  postgresql: " << program << ' ' << postgresArguments.join(QLatin1Char(' ')) << '\n';
    out.flush();
    QString sqliteOut, sqliteErr, postgresOut, postgresErr;
    const bool sqliteOk = runProgram(path, sqliteArguments, &sqliteOut, &sqliteErr);
    const bool postgresOk = runProgram(path, postgresArguments, &postgresOut, &postgresErr);
    QStringList a = sqliteOut.split(QLatin1Char('\n'));
    QStringList b = postgresOut.split(QLatin1Char('\n'));
    a.removeAll(QString());
    b.removeAll(QString());
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i < a.size())
            out << "  sqlite     | " << a.at(i) << '\n';
        if (i < b.size())
            out << "  postgresql | " << b.at(i) << '\n';
    }
    out << "  load average at the end: " << loadAverage() << '\n';
    if (!sqliteOk)
        out << "  sqlite run FAILED: " << sqliteErr << '\n';
    if (!postgresOk)
        out << "  postgresql run FAILED: " << postgresErr << '\n';
    out.flush();
    return sqliteOk && postgresOk;
}

// 3. Ten desks at once.
constexpr int Desks = 10;
constexpr int SavesPerDesk = 100;

ContactRecord contactOf(int desk, int k)
{
    ContactRecord r;
    r.a1 = QStringLiteral("Zuleica Mesa %1 Contato %2").arg(desk).arg(k, 3, 10, QLatin1Char('0'));
    const int number = 30000000 + desk * 1000 + k; // one telephone per contact
    r.a4 = QStringLiteral("(21)%1-%2").arg(number / 10000).arg(number % 10000, 4, 10, QLatin1Char('0'));
    r.a9 = QStringLiteral("Rua das Mesas, %1").arg(k + 1);
    r.a11 = QStringLiteral("Centro");
    r.a12 = QStringLiteral("Rio de Janeiro");
    r.a13 = QStringLiteral("RJ");
    r.a14 = QStringLiteral("20000-000");
    r.ob = QStringLiteral("gravado pela mesa %1").arg(desk);
    return r;
}

struct DeskWork
{
    Figures write[3], save[3]; // per phase: the statement alone; with page and count
    QStringList errors;
    QList<ContactRecord> stored; // as this desk last saved them, codes set
};

struct DeskResults
{
    bool opened = false;
    qint64 before = 0;
    Figures write[3], save[3];
    double wallMs[3] = {};
    QStringList errors;
    int lost = 0; // saved, but missing or different when read back
    QString countCheck[3];
};

// Whether every contact a desk saved is there as saved; with `gone`, whether
// every deleted one is gone.
int readBack(Register &reg, const std::vector<DeskWork> &desks, bool gone, QStringList *errors)
{
    int lost = 0;
    for (const DeskWork &desk : desks) {
        for (const ContactRecord &expected : desk.stored) {
            std::optional<ContactRecord> found;
            QString error;
            if (!reg.findByCode(expected.cd, &found, &error)) {
                errors->append(QStringLiteral("read back: ") + error);
                ++lost;
            } else if (gone ? found.has_value() : (!found || *found != expected)) {
                ++lost;
            }
        }
    }
    return lost;
}

DeskResults desksAtOnce(const QString &deskDir, const QString &url)
{
    DeskResults results;
    QString why;
    const auto reg = Register::open(deskDir, url, Register::Patience::Background, &why);
    if (!reg || !reg->count(&results.before, &why)) {
        results.errors << why;
        return results;
    }
    results.opened = true;
    std::vector<DeskWork> desks(Desks);
    QSemaphore ready, go, done;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < Desks; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            DeskWork &work = desks[i];
            QString error;
            // Each desk has its own register and its own connections, as
            // each copy of zuna does.
            auto mine = Register::open(deskDir, url, Register::Patience::Background, &error);
            std::unique_ptr<Register::Reader> reader = mine ? mine->reader(true) : nullptr;
            if (!mine)
                work.errors << error;
            const NamePattern everyone = NamePattern::fromTyped(QString());
            // After each save the window lists its first page again and counts.
            auto refreshAndCount = [&] {
                QList<Register::ListRow> page;
                qint64 n = 0;
                if (!reader->listPage(everyone, nullptr, ContactListModel::PageSize, &page, &error, {})
                    || !mine->count(&n, &error))
                    work.errors << QStringLiteral("refresh: ") + error;
            };
            ready.release();
            for (int phase = 0; phase < 3; ++phase) {
                go.acquire();
                for (int k = 0; mine && k < SavesPerDesk; ++k) {
                    QElapsedTimer t;
                    t.start();
                    bool ok = false;
                    if (phase == 0) {
                        ContactRecord record = contactOf(i, k);
                        ok = mine->insert(record, &record.cd, &error);
                        if (ok)
                            work.stored << record;
                    } else if (phase == 1) {
                        if (k >= work.stored.size())
                            break;
                        ContactRecord record = work.stored.at(k);
                        record.a9 = QStringLiteral("Avenida da Mesa %1, %2").arg(i).arg(k + 1);
                        record.ob = QStringLiteral("gravado de novo pela mesa %1").arg(i);
                        Register::Saved saved {};
                        ok = mine->update(record, &work.stored.at(k), &saved, &error);
                        if (ok && saved != Register::Saved::Updated) {
                            ok = false;
                            error = saved == Register::Saved::Missing ? QStringLiteral("contact missing")
                                                                      : QStringLiteral("changed elsewhere");
                        }
                        if (ok)
                            work.stored[k] = record;
                    } else {
                        if (k >= work.stored.size())
                            break;
                        ok = mine->remove(work.stored.at(k).cd, &error);
                    }
                    work.write[phase].ms << t.nsecsElapsed() / 1e6;
                    if (!ok)
                        work.errors << error;
                    refreshAndCount();
                    work.save[phase].ms << t.nsecsElapsed() / 1e6;
                }
                done.release();
            }
            reader.reset();
            mine.reset(); // in the thread whose connections it holds
        }));
        threads.back()->start();
    }
    ready.acquire(Desks);
    for (int phase = 0; phase < 3; ++phase) {
        QElapsedTimer wall;
        wall.start();
        go.release(Desks);
        done.acquire(Desks);
        results.wallMs[phase] = wall.nsecsElapsed() / 1e6;
        // Every save a desk was told was done is there, as saved.
        qint64 expected = results.before;
        if (phase < 2) {
            for (const DeskWork &desk : desks)
                expected += desk.stored.size();
        }
        qint64 n = -1;
        if (!reg->count(&n, &why))
            results.errors << why;
        results.countCheck[phase] = n == expected ? QStringLiteral("count %1 as expected").arg(n)
                                                  : QStringLiteral("count %1, expected %2").arg(n).arg(expected);
        if (n != expected)
            ++results.lost;
        results.lost += readBack(*reg, desks, phase == 2, &results.errors);
    }
    for (auto &t : threads)
        t->wait();
    for (const DeskWork &desk : desks) {
        for (int phase = 0; phase < 3; ++phase) {
            results.write[phase].ms << desk.write[phase].ms;
            results.save[phase].ms << desk.save[phase].ms;
        }
        results.errors << desk.errors;
    }
    return results;
}

void reportDesks(const DeskResults &sqlite, const DeskResults &postgres)
{
    out << "\n== " << Desks << " desks at once, " << SavesPerDesk
        << " contacts each: new, saved again, deleted; each save followed by the first page and the count\n";
    row(QString(), QStringLiteral("sqlite"), QStringLiteral("postgresql"));
    row(QStringLiteral("contacts before"), QString::number(sqlite.before), QString::number(postgres.before));
    const char *phases[] = { "new contact", "saved again", "deleted" };
    const char *statements[] = { "insert", "update", "delete" };
    for (int phase = 0; phase < 3; ++phase) {
        row(QStringLiteral("%1: %2 alone").arg(QLatin1String(phases[phase]), QLatin1String(statements[phase])),
            sqlite.write[phase].text(), postgres.write[phase].text());
        row(QStringLiteral("%1: + first page + count").arg(QLatin1String(phases[phase])), sqlite.save[phase].text(),
            postgres.save[phase].text());
        auto rate = [&](const DeskResults &r) {
            const qsizetype n = r.save[phase].ms.size();
            return QStringLiteral("%1 in %2 s = %3/s")
                .arg(n)
                .arg(r.wallMs[phase] / 1000, 0, 'f', 2)
                .arg(r.wallMs[phase] > 0 ? n / (r.wallMs[phase] / 1000) : 0, 0, 'f', 0);
        };
        row(QStringLiteral("%1: all desks").arg(QLatin1String(phases[phase])), rate(sqlite), rate(postgres));
        row(QStringLiteral("%1: checked").arg(QLatin1String(phases[phase])), sqlite.countCheck[phase],
            postgres.countCheck[phase]);
    }
    row(QStringLiteral("errors"), QString::number(sqlite.errors.size()), QString::number(postgres.errors.size()));
    row(QStringLiteral("lost writes (count or contents wrong)"), QString::number(sqlite.lost),
        QString::number(postgres.lost));
    out << "  load average at the end: " << loadAverage() << '\n';
    for (const auto &[name, r] : { std::pair { "sqlite", &sqlite }, std::pair { "postgresql", &postgres } }) {
        for (qsizetype i = 0; i < std::min<qsizetype>(5, r->errors.size()); ++i)
            out << "  " << name
                << " error: " << QString(r->errors.at(i)).replace(QLatin1Char('\n'), QLatin1String(" / ")) << '\n';
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const bool copyOnly = args.removeAll(QStringLiteral("--copy-only")) > 0;
    const bool noFlush = args.removeAll(QStringLiteral("--no-flush")) > 0;
    QList<int> deskCounts;
    if (const qsizetype at = args.indexOf(QStringLiteral("--desks")); at > 0) {
        const QString counts = at + 1 < args.size() && args.at(at + 1).front().isDigit() ? args.takeAt(at + 1)
                                                                                         : QStringLiteral("10,50,100");
        for (const QString &n : counts.split(QLatin1Char(',')))
            deskCounts << n.toInt();
        args.removeAt(at);
    }
    if (args.size() < 2) {
        QTextStream(stderr)
            << "uso: bench-shared-register PASTA [VEZES | --copy-only | --desks [10,50,100] [--no-flush]]\n";
        return 2;
    }
    const QString dir = args.at(1);
    const QString runs = args.size() > 2 ? args.at(2) : QStringLiteral("50");
    if (DataFolder::findFile(dir, DataFiles::Contacts).isEmpty()) {
        QTextStream(stderr) << "bench-shared-register: " << dir << " has no " << DataFiles::Contacts << '\n';
        return 1;
    }
    QElapsedTimer total;
    total.start();

    // A copy of the data folder: everything here writes to it, never to DIR.
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/zuna-bench-XXXXXX"));
    const QString deskDir = work.filePath(QStringLiteral("mesa"));
    if (QString error; !copyDataFolder(dir, deskDir, &error)) {
        QTextStream(stderr) << "bench-shared-register: " << error << '\n';
        return 1;
    }
    const QString registerFile = DataFolder::findFile(deskDir, DataFiles::Contacts);
    qint64 contacts = 0;
    {
        QString error;
        const auto sqlite = Register::open(deskDir, {}, Register::Patience::Background, &error);
        if (!sqlite || !sqlite->count(&contacts, &error)) {
            QTextStream(stderr) << "bench-shared-register: " << error << '\n';
            return 1;
        }
    }

    QString why;
    const auto server = PostgresServer::startNew(
        noFlush ? PostgresServer::Durability::Throwaway : PostgresServer::Durability::Durable, &why);
    if (!server) {
        QTextStream(stderr) << "bench-shared-register: no server: " << why << '\n';
        return 1;
    }
    out << "data folder " << dir << " (worked on as a copy in " << deskDir << "): " << contacts << " contacts\n";
    {
        const QString probe = server->newDatabase(false);
        out << "server: "
            << server->value(probe,
                   QStringLiteral("SELECT version() || '; fsync ' || current_setting('fsync') || ', synchronous_commit "
                                  "' || current_setting('synchronous_commit') || ', full_page_writes ' || "
                                  "current_setting('full_page_writes') || ', shared_buffers ' || "
                                  "current_setting('shared_buffers')"))
            << "\nmachine: " << QThread::idealThreadCount() << " cores, load average " << loadAverage() << '\n';
        server->exec(
            probe.section(QLatin1Char('/'), 0, 2) + QStringLiteral("/postgres?") + probe.section(QLatin1Char('?'), 1),
            QStringLiteral("DROP DATABASE %1").arg(databaseOf(probe)));
    }
    out.flush();

    if (!deskCounts.isEmpty()) {
        const QString url = server->newDatabase(false);
        QStringList report;
        QString error;
        if (!DataInit::copyRegister(deskDir, url, &report, &error)) {
            out << "zuna's copy FAILED: " << error << '\n';
            return 1;
        }
        server->exec(url, QStringLiteral("ANALYZE"));
        const bool ok = manyDesks(url, deskCounts, out);
        out << "\nbench-shared-register done in " << total.elapsed() / 1000 << " s\n";
        return ok ? 0 : 1;
    }
    const QString url = copies(*server, deskDir, registerFile, contacts);
    if (url.isEmpty())
        return 1;
    if (copyOnly)
        return 0;
    awaitStatistics(*server, url);
    out.flush();

    bool ok = paired(
        QStringLiteral("bench-register"), { deskDir, runs }, { deskDir, runs, QStringLiteral("--database"), url });
    ok = paired(QStringLiteral("bench-callerid"), { QStringLiteral("--calls-only"), deskDir },
             { QStringLiteral("--calls-only"), deskDir, QStringLiteral("--database"), url })
        && ok;

    const DeskResults sqlite = desksAtOnce(deskDir, {});
    const DeskResults postgres = desksAtOnce(deskDir, url);
    reportDesks(sqlite, postgres);
    ok = ok && sqlite.opened && postgres.opened && sqlite.errors.isEmpty() && postgres.errors.isEmpty()
        && sqlite.lost == 0 && postgres.lost == 0;

    out << "\nbench-shared-register done in " << total.elapsed() / 1000 << " s\n";
    return ok ? 0 : 1;
}
