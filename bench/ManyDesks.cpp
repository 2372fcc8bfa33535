#include "ManyDesks.h"

#include "BenchSupport.h"

#include "core/contacts/ContactListModel.h"
#include "core/contacts/NamePattern.h"
#include "core/contacts/PostgresConnection.h"
#include "core/contacts/Register.h"

#include <QDir>
#include <QEventLoop>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace Bench {
namespace {

using Clock = std::chrono::steady_clock;

enum Kind { Insert, Update, Delete };
const char *const KindNames[] = { "insert", "update", "delete" };
// Desks that listen for the others' saves as a window does, in the paced
// runs: flat out, their reading would weigh on the server where pgbench
// has none, and the throughput would not compare like for like.
constexpr int Listeners = 3;
constexpr int FlatSeconds = 8;
// Paced, each desk saves once a second: long enough rounds that a p99 of
// each kind of write at ten desks is not one slow write alone.
constexpr int PacedSeconds = 20;
// Flat out, one round of each against the other swings from 0.8 to 1.3 on
// a loaded machine: five pairs for the median.
constexpr int FlatRounds = 5;
constexpr int PacedRounds = 3;

double since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype i = std::clamp<qsizetype>(qsizetype(std::ceil(p * values.size())) - 1, 0, values.size() - 1);
    return values.at(i);
}

QString p50p99(const QList<double> &values)
{
    return QStringLiteral("%1 / %2 (%3 writes)")
        .arg(ms(percentile(values, 0.5)), ms(percentile(values, 0.99)))
        .arg(values.size());
}

ContactRecord contactOf(int desk, qint64 n)
{
    ContactRecord r;
    r.a1 = QStringLiteral("Mesa %1 Gravação %2").arg(desk, 3, 10, QLatin1Char('0')).arg(n);
    r.a4 = QStringLiteral("(21)3%1-%2").arg(desk, 3, 10, QLatin1Char('0')).arg(n % 10000, 4, 10, QLatin1Char('0'));
    r.a9 = QStringLiteral("Rua das Mesas, %1").arg(n);
    r.a11 = QStringLiteral("Centro");
    r.a12 = QStringLiteral("Rio de Janeiro");
    r.a13 = QStringLiteral("RJ");
    r.a14 = QStringLiteral("20000-000");
    r.ob = QStringLiteral("gravado pela mesa %1").arg(desk);
    return r;
}

struct Desk
{
    QList<double> ms[3];
    QStringList errors;
    QList<ContactRecord> kept; // as last saved
    QList<qint64> deleted;
};

struct Run
{
    int desks = 0;
    bool paced = false;
    qint64 saves = 0;
    double wallS = 0;
    QList<double> ms[3];
    QStringList errors;
    int lost = 0;
    QList<double> seenMs; // from a save's end to another desk's page read again
    qint64 missed = 0; // saves a listening desk was never told of
};

// One desk saving: a new contact, the same again, the one before deleted.
void save(Register &reg, int d, qint64 n, Desk &desk, std::optional<ContactRecord> &current,
    std::optional<ContactRecord> &previous, bool *ok, Kind *kind)
{
    QString error;
    *kind = Kind(n % 3);
    switch (*kind) {
    case Insert: {
        ContactRecord r = contactOf(d, n);
        *ok = reg.insert(r, &r.cd, &error);
        if (*ok) {
            previous = current;
            current = r;
        }
        break;
    }
    case Update: {
        if (!current) { // its insert failed
            *ok = false;
            desk.errors << QStringLiteral("no contact to save again");
            return;
        }
        ContactRecord r = *current;
        r.a9 = QStringLiteral("Avenida das Mesas, %1").arg(n);
        Register::Saved saved {};
        *ok = reg.update(r, &*current, &saved, &error) && saved == Register::Saved::Updated;
        if (*ok)
            current = r;
        else if (error.isEmpty())
            error = QStringLiteral("update found the row changed or gone");
        break;
    }
    case Delete:
        *ok = reg.remove(previous->cd, &error);
        if (*ok) {
            desk.deleted << previous->cd;
            previous.reset();
        }
        break;
    }
    if (!*ok)
        desk.errors << error;
}

// Whether every save the desks were told was done is there: the count, the
// contacts kept as last saved, the deleted ones gone.
int lostWrites(const QString &url, qint64 before, const std::vector<Desk> &desks, QStringList *errors)
{
    QString error;
    const auto reg = Register::open(QString(), url, Register::Patience::Background, &error);
    qint64 n = -1;
    if (!reg || !reg->count(&n, &error)) {
        errors->append(error);
        return 1;
    }
    int lost = 0;
    qint64 expected = before;
    QStringList deleted;
    for (const Desk &desk : desks) {
        expected += desk.kept.size();
        for (const ContactRecord &r : desk.kept) {
            std::optional<ContactRecord> found;
            if (!reg->findByCode(r.cd, &found, &error) || !found || *found != r)
                ++lost;
        }
        for (const qint64 code : desk.deleted)
            deleted << QString::number(code);
    }
    if (n != expected) {
        errors->append(QStringLiteral("count %1, expected %2").arg(n).arg(expected));
        ++lost;
    }
    PostgresConnection conn(url);
    QSqlQuery query(conn.database());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM cada WHERE cd = ANY('{%1}'::bigint[])").arg(deleted.join(',')))
        || !query.next())
        ++lost;
    else
        lost += query.value(0).toInt();
    return lost;
}

// A desk that listens for the others' saves and, as the window does, counts
// and reads its first page again; when each save was seen, by order.
void listen(
    const QString &url, Clock::time_point epoch, std::atomic<bool> &stop, QSemaphore &ready, QList<double> *seen)
{
    QString error;
    auto reg = Register::open(QString(), url, Register::Patience::Background, &error);
    auto reader = reg ? reg->reader() : nullptr;
    QEventLoop loop;
    int waiting = 0;
    bool due = false;
    const NamePattern everyone = NamePattern::fromTyped(QString());
    if (reg) {
        QObject::connect(reg.get(), &Register::changedElsewhere, &loop, [&] {
            ++waiting;
            if (std::exchange(due, true))
                return;
            QTimer::singleShot(0, &loop, [&] {
                due = false;
                const int told = std::exchange(waiting, 0);
                qint64 n = 0;
                QList<Register::ListRow> page;
                reg->count(&n, &error);
                reader->listPage(everyone, nullptr, ContactListModel::PageSize, &page, &error, {});
                const double at = since(epoch);
                for (int i = 0; i < told; ++i)
                    seen->append(at);
            });
        });
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop)
            loop.quit();
    });
    poll.start(20);
    ready.release();
    loop.exec();
    reader.reset();
    reg.reset();
}

Run desksAtOnce(const QString &url, int count, bool paced)
{
    Run run;
    run.desks = count;
    run.paced = paced;
    qint64 before = 0;
    {
        QString error;
        const auto reg = Register::open(QString(), url, Register::Patience::Background, &error);
        if (!reg || !reg->count(&before, &error)) {
            run.errors << error;
            return run;
        }
    }
    std::vector<Desk> desks(count);
    QMutex doneMutex;
    QList<double> doneAt;
    QSemaphore ready, go;
    std::atomic<bool> stopListening { false };
    // Times of saves and of their being seen, from here; the desks' pace
    // from `start`, set once every desk is connected.
    const Clock::time_point epoch = Clock::now();
    Clock::time_point start = epoch;
    const int listening = paced ? Listeners : 0;
    std::vector<QList<double>> seen(listening);
    std::vector<std::unique_ptr<QThread>> threads, listeners;
    const double seconds = paced ? PacedSeconds : FlatSeconds;
    for (int d = 0; d < count; ++d) {
        threads.emplace_back(QThread::create([&, d] {
            Desk &desk = desks[d];
            QString error;
            auto reg = Register::open(QString(), url, Register::Patience::Background, &error);
            if (!reg)
                desk.errors << error;
            // A desk has been open a while when it saves: the statements
            // prepared, the server's caches of the table and its triggers
            // filled. Not timed, and done before anyone listens.
            std::optional<ContactRecord> current, previous;
            for (qint64 n = -3; reg && n < 0; ++n) {
                bool ok = false;
                Kind kind {};
                if (n != -1)
                    save(*reg, d, n + 3, desk, current, previous, &ok, &kind);
            }
            if (current && !reg->remove(current->cd, &error))
                desk.errors << error;
            current.reset();
            ready.release();
            go.acquire();
            for (qint64 n = 0; reg; ++n) {
                if (paced) {
                    // One save a second, the desks spread over the second.
                    const double due = n * 1000.0 + d * 1000.0 / count;
                    if (due >= seconds * 1000)
                        break;
                    std::this_thread::sleep_until(start + std::chrono::microseconds(qint64(due * 1000)));
                } else if (since(start) >= seconds * 1000) {
                    break;
                }
                if (n % 3 == Delete && !previous)
                    continue;
                const Clock::time_point t = Clock::now();
                bool ok = false;
                Kind kind {};
                save(*reg, d, n, desk, current, previous, &ok, &kind);
                desk.ms[kind] << since(t);
                if (ok) {
                    QMutexLocker lock(&doneMutex);
                    doneAt << since(epoch);
                }
            }
            for (const auto *r : { &previous, &current }) {
                if (*r)
                    desk.kept << **r;
            }
            reg.reset(); // in the thread whose connection it holds
        }));
        threads.back()->start();
    }
    ready.acquire(count);
    for (int l = 0; l < listening; ++l) {
        listeners.emplace_back(QThread::create([&, l] { listen(url, epoch, stopListening, ready, &seen[l]); }));
        listeners.back()->start();
    }
    ready.acquire(listening);
    start = Clock::now();
    go.release(count);
    for (auto &t : threads)
        t->wait();
    run.wallS = since(start) / 1000;
    // The listening desks are given a moment to hear of the last saves.
    const Clock::time_point settling = Clock::now();
    auto heard = [&] {
        QMutexLocker lock(&doneMutex);
        return std::all_of(seen.begin(), seen.end(), [&](const QList<double> &s) { return s.size() >= doneAt.size(); });
    };
    while (!heard() && since(settling) < 3000)
        QThread::msleep(20);
    stopListening = true;
    for (auto &t : listeners)
        t->wait();
    std::sort(doneAt.begin(), doneAt.end());
    run.saves = doneAt.size();
    // Each save is one transaction and one notification, delivered in the
    // order the saves were committed: the k-th heard is the k-th done.
    for (const QList<double> &s : seen) {
        run.missed += std::max<qsizetype>(0, doneAt.size() - s.size());
        for (qsizetype k = 0; k < std::min(s.size(), doneAt.size()); ++k)
            run.seenMs << std::max(0.0, s.at(k) - doneAt.at(k));
    }
    for (const Desk &desk : desks) {
        for (int k = 0; k < 3; ++k)
            run.ms[k] << desk.ms[k];
        run.errors << desk.errors;
    }
    run.lost = lostWrites(url, before, desks, &run.errors);
    return run;
}

// pgbench running the desks' statements, in the same transactions.
struct PgbenchRun
{
    bool ok = false;
    double savesPerS = 0;
    QString failed;
    double meanMs[3] = { -1, -1, -1 }; // per kind of write, its transaction's statements
    QString output;
};

// Each desk's connection listens for the others' saves, as its window's
// does: so does each pgbench client, from its first transaction on. The
// server tells every listening connection of every save, a cost that grows
// with the desks (at 50 clients, pgbench gets half the saves it gets with
// none listening).
const char *const PgbenchScript = R"(\if :listening = 0
LISTEN zuna_cadastro;
\set listening 1
\endif
\set k random(1, 1000000000)
BEGIN;
INSERT INTO cada (a1, a4, a9, a10, a11, a12, a13, a14, ob) VALUES ('Pgbench ' || :client_id || ' ' || :k, '(21)3000-0000', 'Rua das Mesas, 1', '', 'Centro', 'Rio de Janeiro', 'RJ', '20000-000', 'gravado pelo pgbench') RETURNING cd, txid_current() AS tx \gset
COMMIT;
BEGIN;
WITH changed AS (UPDATE cada SET a1 = 'Pgbench ' || :client_id || ' ' || :k, a4 = '(21)3000-0000', a9 = 'Avenida das Mesas, 2', a10 = '', a11 = 'Centro', a12 = 'Rio de Janeiro', a13 = 'RJ', a14 = '20000-000', ob = 'gravado pelo pgbench' WHERE cd = :cd AND coalesce(a1, '') = 'Pgbench ' || :client_id || ' ' || :k AND coalesce(a4, '') = '(21)3000-0000' AND coalesce(a9, '') = 'Rua das Mesas, 1' AND coalesce(a10, '') = '' AND coalesce(a11, '') = 'Centro' AND coalesce(a12, '') = 'Rio de Janeiro' AND coalesce(a13, '') = 'RJ' AND coalesce(a14, '') = '20000-000' AND coalesce(ob, '') = 'gravado pelo pgbench' RETURNING cd) SELECT (SELECT txid_current() FROM changed), EXISTS (SELECT 1 FROM cada WHERE cd = :cd);
COMMIT;
DELETE FROM cada WHERE cd = :cd;
)";

QString pgbenchProgram()
{
    for (const QString &version : QDir(QStringLiteral("/usr/lib/postgresql"))
                                      .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed)) {
        const QString path = QStringLiteral("/usr/lib/postgresql/%1/bin/pgbench").arg(version);
        if (QFile::exists(path))
            return path;
    }
    return QStringLiteral("pgbench");
}

// As the desks run their writes: prepared once per connection
// (ZUNA_BENCH_PGBENCH_MODE=simple has pgbench send them as text).
QString pgbenchMode()
{
    const QString mode = qEnvironmentVariable("ZUNA_BENCH_PGBENCH_MODE");
    return mode.isEmpty() ? QStringLiteral("prepared") : mode;
}

PgbenchRun pgbench(const QString &url, int desks, bool paced)
{
    PgbenchRun run;
    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("mesas.sql")));
    if (!script.open(QIODevice::WriteOnly) || script.write(PgbenchScript) < 0) {
        run.output = script.errorString();
        return run;
    }
    script.close();
    // A thread a client, as each desk is a thread here: on a busy machine
    // the cores are shared by thread. Three saves a script: paced, as many
    // scripts a second as a third of the desks.
    QStringList arguments = { QStringLiteral("-n"), QStringLiteral("-D"), QStringLiteral("listening=0"),
        QStringLiteral("-M"), pgbenchMode(), QStringLiteral("-r"), QStringLiteral("-c"), QString::number(desks),
        QStringLiteral("-j"), QString::number(desks), QStringLiteral("-T"),
        QString::number(paced ? PacedSeconds : FlatSeconds), QStringLiteral("-f"), script.fileName() };
    if (paced)
        arguments << QStringLiteral("-R") << QString::number(desks / 3.0, 'f', 2);
    QString errors;
    run.ok = runProgram(pgbenchProgram(), arguments << url, &run.output, &errors);
    run.output += errors;
    const QRegularExpression tps(QStringLiteral("tps = ([0-9.]+)"));
    const QRegularExpression failed(QStringLiteral("number of failed transactions: ([0-9]+)"));
    // Per statement, pgbench's mean in ms; each kind of write is the sum of
    // its transaction's statements, as zuna's timing of a save covers them.
    const QRegularExpression statement(
        QStringLiteral("^\\s+([0-9.]+)\\s+(?:[0-9]+\\s+)?(BEGIN|COMMIT|INSERT|WITH|DELETE)"),
        QRegularExpression::MultilineOption);
    if (const auto m = tps.match(run.output); m.hasMatch())
        run.savesPerS = m.captured(1).toDouble() * 3;
    run.failed = failed.match(run.output).captured(1);
    double sum = 0;
    int kind = -1;
    for (auto m = statement.globalMatch(run.output); m.hasNext();) {
        const auto s = m.next();
        sum += s.captured(1).toDouble();
        const QString word = s.captured(2);
        // (The change is an UPDATE in a WITH, answering whether the row is there.)
        if (word == QLatin1String("INSERT") || word == QLatin1String("WITH") || word == QLatin1String("DELETE"))
            kind = word == QLatin1String("INSERT") ? Insert : word == QLatin1String("WITH") ? Update : Delete;
        if ((word == QLatin1String("COMMIT") || word == QLatin1String("DELETE")) && kind >= 0) {
            run.meanMs[kind] = sum;
            sum = 0;
        }
    }
    return run;
}

// Each run starts from the same state: the last run's dead rows vacuumed,
// its writes checkpointed, so that neither pays for the one before.
void settle(const QString &url)
{
    PostgresConnection conn(url);
    QSqlQuery query(conn.database());
    query.exec(QStringLiteral("VACUUM ANALYZE cada"));
    query.exec(QStringLiteral("CHECKPOINT"));
}

void row(QTextStream &out, const QString &what, const QString &zuna, const QString &floor)
{
    out << "  " << what.leftJustified(40) << ' ' << zuna.leftJustified(40) << ' ' << floor << '\n';
}

double median(QList<double> values)
{
    return percentile(std::move(values), 0.5);
}

// The rounds of one setting as one: their saves, times and errors together.
Run together(const QList<Run> &rounds)
{
    Run all = rounds.constFirst();
    for (qsizetype r = 1; r < rounds.size(); ++r) {
        const Run &z = rounds.at(r);
        all.saves += z.saves;
        all.wallS += z.wallS;
        for (int k = 0; k < 3; ++k)
            all.ms[k] << z.ms[k];
        all.errors << z.errors;
        all.lost += z.lost;
        all.seenMs << z.seenMs;
        all.missed += z.missed;
    }
    return all;
}

void report(QTextStream &out, const QList<Run> &rounds, const QList<PgbenchRun> &floors)
{
    const Run z = together(rounds);
    out << "\n== " << z.desks << " desks, " << (z.paced ? "one save a second each" : "flat out") << ", "
        << rounds.size() << " rounds of " << (z.paced ? PacedSeconds : FlatSeconds) << " s each\n";
    row(out, QString(), QStringLiteral("zuna"), QStringLiteral("pgbench -M %1, same statements").arg(pgbenchMode()));
    // Throughput round by round (each beside the pgbench run next to it), and
    // the median of the rounds.
    QList<double> rates, floorRates, ratios;
    bool floorsOk = true;
    for (qsizetype r = 0; r < rounds.size(); ++r) {
        const double rate = rounds.at(r).wallS > 0 ? rounds.at(r).saves / rounds.at(r).wallS : 0;
        rates << rate;
        floorRates << floors.at(r).savesPerS;
        floorsOk = floorsOk && floors.at(r).ok;
        if (floors.at(r).savesPerS > 0)
            ratios << rate / floors.at(r).savesPerS;
    }
    QStringList each;
    for (const double ratio : std::as_const(ratios))
        each << QString::number(ratio, 'f', 2);
    row(out, QStringLiteral("saves/s, median of the rounds"),
        QStringLiteral("%1 (%2 saves)").arg(median(rates), 0, 'f', 0).arg(z.saves),
        !floorsOk     ? QStringLiteral("FAILED")
            : z.paced ? QStringLiteral("%1 (both paced: the rate is the pace)").arg(median(floorRates), 0, 'f', 0)
                      : QStringLiteral("%1   zuna/pgbench %2 (rounds %3; target >= 0.9)")
                            .arg(median(floorRates), 0, 'f', 0)
                            .arg(median(ratios), 0, 'f', 2)
                            .arg(each.join(QStringLiteral(", "))));
    const PgbenchRun &p = floors.at(floors.size() / 2);
    for (int k = 0; k < 3; ++k) {
        const QString floor = p.meanMs[k] < 0 ? QString() : QStringLiteral("mean %1").arg(ms(p.meanMs[k]));
        row(out, QStringLiteral("%1 p50 / p99").arg(QLatin1String(KindNames[k])), p50p99(z.ms[k]), floor);
    }
    const double updateP99 = percentile(z.ms[Update], 0.99);
    row(out, QStringLiteral("p99 insert, delete vs update"),
        QStringLiteral("%1x, %2x (target <= 1.5x)")
            .arg(updateP99 > 0 ? percentile(z.ms[Insert], 0.99) / updateP99 : 0, 0, 'f', 2)
            .arg(updateP99 > 0 ? percentile(z.ms[Delete], 0.99) / updateP99 : 0, 0, 'f', 2),
        QString());
    if (z.paced)
        row(out, QStringLiteral("seen by another desk, p50 / p99"),
            QStringLiteral("%1 / %2 (%3 listening, %4 not told)")
                .arg(ms(percentile(z.seenMs, 0.5)), ms(percentile(z.seenMs, 0.99)))
                .arg(Listeners)
                .arg(z.missed),
            QStringLiteral("(target p99 <= 1000 ms)"));
    QStringList failed;
    for (const PgbenchRun &f : floors)
        failed << (f.failed.isEmpty() ? QStringLiteral("?") : f.failed);
    row(out, QStringLiteral("errors / lost writes"), QStringLiteral("%1 / %2").arg(z.errors.size()).arg(z.lost),
        QStringLiteral("failed transactions: %1").arg(failed.join(QStringLiteral(", "))));
    for (qsizetype i = 0; i < std::min<qsizetype>(3, z.errors.size()); ++i)
        out << "  error: " << QString(z.errors.at(i)).replace(QLatin1Char('\n'), QLatin1String(" / ")) << '\n';
    for (const PgbenchRun &f : floors) {
        if (!f.ok || qEnvironmentVariableIsSet("ZUNA_BENCH_PGBENCH"))
            out << "  pgbench said:\n" << f.output.right(2000) << '\n';
    }
    out << "  load average: " << loadAverage() << '\n';
    out.flush();
}

} // namespace

bool manyDesks(const QString &url, const QList<int> &deskCounts, QTextStream &out)
{
    out << "\n== Many desks on one register: each saves a new contact, saves it again, deletes the one before\n";
    bool ok = true;
    for (const bool paced : { false, true }) {
        for (const int desks : deskCounts) {
            // A few rounds, zuna and pgbench taking turns at going first: the
            // disk's flushes and the machine's other work vary from second to
            // second, and one round each would compare two moments.
            QList<Run> zunas;
            QList<PgbenchRun> floors;
            for (int round = 0; round < (paced ? PacedRounds : FlatRounds); ++round) {
                settle(url);
                if (round % 2 == 0) {
                    floors << pgbench(url, desks, paced);
                    settle(url);
                    zunas << desksAtOnce(url, desks, paced);
                } else {
                    zunas << desksAtOnce(url, desks, paced);
                    settle(url);
                    floors << pgbench(url, desks, paced);
                }
                ok = ok && zunas.constLast().errors.isEmpty() && zunas.constLast().lost == 0;
            }
            report(out, zunas, floors);
        }
    }
    return ok;
}

} // namespace Bench
