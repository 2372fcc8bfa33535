// bench-calls DIR [RUNS] [--calls N] [--keep]: the call log holding a million
// calls (N), on both backends in one run. DIR is a data folder with an SQLite
// register (zuna-generate DIR COUNT). The bench works on a copy of DIR and on
// a PostgreSQL server of its own that flushes every commit to disk, as a real
// one does, both in temporary folders: DIR is left as found (--keep leaves
// the copies behind, for looking into).
//
// 1. The log is filled: calls spread over the last two years (what a desk
//    keeps by default), each newer one with a higher id, as logCall gives
//    them; about 60 % from contacts of the register (code and name), the rest
//    from numbers not in it (a few with the name a line sends), a few withheld
//    or unavailable; BUSCA made by CallFilter::searchText, as logCall makes
//    it. SQLite: one transaction of multi-row INSERTs through the register's
//    own kind of connection, its triggers keeping the trigram index.
//    PostgreSQL: the contacts copied by zuna (DataInit::copyRegister), the
//    calls by psql's \copy with the log's indexes made again after the rows,
//    then VACUUM ANALYZE, as autovacuum leaves a table.
// 2. Both registers opened by the real window (MainWindow, offscreen), side by
//    side: RUNS rounds, each on both desks in turn (the order swapped every
//    round), of the calls window opened with F4 and filtered: "hoje", "não
//    cadastrados", both, texts typed key by key, the text cleared. Each step
//    is timed until the grid has painted its first page.
// 3. Floors: Register::listCalls alone for the same filters, and the bare
//    statements the register runs, through sqlite3 (.timer) and psql
//    (\timing).
// 4. A step whose median misses its target (opening 100 ms, a filter change
//    50 ms) gets the plans of its statements: SQLite's EXPLAIN QUERY PLAN,
//    PostgreSQL's EXPLAIN ANALYZE, and the plans the server logged for the
//    window's own slow statements (auto_explain).
#include "BenchSupport.h"
#include "CallLogFill.h"
#include "CallLogFloors.h"
#include "CallsBench.h"
#include "PostgresServer.h"
#include "SilentBoxes.h"

#include "core/app/DataInit.h"
#include "core/contacts/CallFilter.h"
#include "core/contacts/Register.h"
#include "core/contacts/SqlConnection.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"
#include "gui/app/CallListModel.h"
#include "gui/app/CallsWindow.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/platform/MessageBoxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

using namespace Bench;
using namespace CallsBench;

constexpr double OpenTargetMs = 100;
constexpr double FilterTargetMs = 50;

// --- 2. the window

struct Desk
{
    Backend backend = Sqlite;
    QString dir;
    QString url;
    std::unique_ptr<Startup> startup;
    MainWindow *main = nullptr;
    CallsWindow *calls = nullptr;
    QCheckBox *today = nullptr;
    QCheckBox *unknownOnly = nullptr;
    QLineEdit *text = nullptr;
    QTableView *grid = nullptr;
    QLabel *notice = nullptr;
    int exposeWaits = 0; // opens whose window came on screen only after events were handled
    double longestHoldMs = 0; // the longest a step kept the window from handling events
    QString longestHoldStep;
    int backgroundPages = 0; // steps whose page came from the background reader

    State state() const { return { today->isChecked(), unknownOnly->isChecked(), text->text() }; }
};

struct Step
{
    QString label;
    double targetMs = FilterTargetMs;
    State state;
    Figures figures[Backends];
    int rows[Backends] = { -1, -1 };
    qint64 firstId[Backends] = { -1, -1 };
    QString trouble[Backends];
};

struct Steps
{
    QList<Step> list;
    Step &at(const QString &label, double targetMs, const State &state)
    {
        for (Step &s : list) {
            if (s.label == label)
                return s;
        }
        list.append(Step { label, targetMs, state, {}, {}, {}, {} });
        return list.last();
    }
};

// Waits as the program's own event loop does: asleep until an event comes,
// not spinning on a core the background reader needs. The timer wakes the
// wait now and then for a condition no event announces.
void handleEventsUntil(const std::function<bool()> &done, int timeoutMs, const QString &what)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(2);
    while (!done()) {
        if (deadline.hasExpired())
            die(QStringLiteral("waited %1 ms in vain for %2").arg(timeoutMs).arg(what));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

Desk openDesk(Backend backend, const QString &dir, const QString &url, SilentBoxes &boxes)
{
    Desk d;
    d.backend = backend;
    d.dir = dir;
    d.url = url;
    d.startup = std::make_unique<Startup>(dir, url);
    if (d.startup->start() != Startup::Outcome::Running)
        die(QStringLiteral("%1 window did not start: %2").arg(QLatin1String(BackendNames[backend]), boxes.last));
    d.main = d.startup->mainWindow();
    if (!QTest::qWaitForWindowExposed(d.main))
        die(QStringLiteral("the main window was never shown"));
    d.calls = d.main->callsWindow();
    d.today = d.calls->findChild<QCheckBox *>(QStringLiteral("hoje"));
    d.unknownOnly = d.calls->findChild<QCheckBox *>(QStringLiteral("naoCadastrados"));
    d.text = d.calls->findChild<QLineEdit *>(QStringLiteral("filtroChamadas"));
    d.grid = d.calls->findChild<QTableView *>(QStringLiteral("gridChamadas"));
    d.notice = d.calls->findChild<QLabel *>(QStringLiteral("avisoChamadas"));
    if (!d.today || !d.unknownOnly || !d.text || !d.grid || !d.notice)
        die(QStringLiteral("the calls window lacks a control the bench works"));
    return d;
}

// The main window in front with the focus, as the attendant has it before F4.
void bringMainToFront(Desk &d)
{
    d.main->activateWindow();
    handleEventsUntil([&] { return QApplication::activeWindow() == d.main; }, 5000,
        QStringLiteral("the main window to become active"));
}

// One step on the window, timed from the attendant's action until the grid
// has painted its first page.
double timedStep(Desk &d, const std::function<void()> &action)
{
    QCoreApplication::processEvents(); // what earlier steps left is not charged to this one
    QElapsedTimer t;
    t.start();
    action();
    // What the window waited for; a page the model reads in the background
    // is waited for here, and counted in the step's time.
    const double held = t.nsecsElapsed() / 1e6;
    if (held > d.longestHoldMs) {
        d.longestHoldMs = held;
        d.longestHoldStep = d.state().describe();
    }
    if (auto *model = qobject_cast<CallListModel *>(d.grid->model()); model && model->isSearching()) {
        ++d.backgroundPages;
        handleEventsUntil(
            [&] { return !model->isSearching(); }, 60000, QStringLiteral("a page read in the background"));
    }
    // A window just shown is painted once the platform has it on screen.
    if (!d.calls->windowHandle() || !d.calls->windowHandle()->isExposed()) {
        ++d.exposeWaits;
        handleEventsUntil([&] { return d.calls->windowHandle() && d.calls->windowHandle()->isExposed(); }, 5000,
            QStringLiteral("the calls window to be shown"));
    }
    d.grid->viewport()->repaint();
    return t.nsecsElapsed() / 1e6;
}

void record(Steps &steps, Desk &d, const QString &label, double targetMs, double ms)
{
    Step &s = steps.at(label, targetMs, d.state());
    s.figures[d.backend].ms << ms;
    s.rows[d.backend] = d.grid->model()->rowCount();
    auto *model = qobject_cast<CallListModel *>(d.grid->model());
    s.firstId[d.backend] = model && model->rowCount() > 0 ? model->call(0).id : 0;
    if (d.notice->isVisible())
        s.trouble[d.backend] = d.notice->toolTip();
}

void toggle(QCheckBox *box)
{
    const bool was = box->isChecked();
    QTest::keyClick(box, Qt::Key_Space);
    if (box->isChecked() == was)
        die(QStringLiteral("the space bar did not switch \"%1\"").arg(box->text()));
}

// The filters off and the window closed, untimed.
void reset(Desk &d)
{
    d.calls->close();
    if (d.today->isChecked())
        d.today->setChecked(false);
    if (d.unknownOnly->isChecked())
        d.unknownOnly->setChecked(false);
    if (!d.text->text().isEmpty())
        d.text->clear();
    QCoreApplication::processEvents();
}

void openWithF4(Desk &d)
{
    bringMainToFront(d);
    QWidget *focused = QApplication::focusWidget() ? QApplication::focusWidget() : d.main;
    QTest::keyClick(focused, Qt::Key_F4);
    if (!d.calls->isVisible())
        die(QStringLiteral("F4 did not open the calls window"));
}

// One round of the attendant's work on a desk.
void round(Steps &steps, Desk &d)
{
    auto step = [&](const QString &label, double targetMs, const std::function<void()> &action) {
        record(steps, d, label, targetMs, timedStep(d, action));
    };
    reset(d);
    step(QStringLiteral("open (F4)"), OpenTargetMs, [&] { openWithF4(d); });
    step(QStringLiteral("\"hoje\" on"), FilterTargetMs, [&] { toggle(d.today); });
    step(QStringLiteral("\"hoje\" off"), FilterTargetMs, [&] { toggle(d.today); });
    step(QStringLiteral("\"não cadastrados\" on"), FilterTargetMs, [&] { toggle(d.unknownOnly); });
    step(QStringLiteral("\"hoje\" on, \"não cadastrados\" on"), FilterTargetMs, [&] { toggle(d.today); });
    step(QStringLiteral("\"hoje\" off, \"não cadastrados\" on"), FilterTargetMs, [&] { toggle(d.today); });
    step(QStringLiteral("\"não cadastrados\" off"), FilterTargetMs, [&] { toggle(d.unknownOnly); });

    d.text->setFocus();
    auto typeAndClear = [&](const QString &prefix, const QString &word) {
        for (qsizetype i = 0; i < word.size(); ++i) {
            const QString shown = word.left(i + 1);
            step(QStringLiteral("%1typed \"%2\"").arg(prefix, shown), FilterTargetMs,
                [&] { QTest::keyClick(d.text, word.at(i).toLatin1()); });
            if (d.text->text() != shown)
                die(QStringLiteral("typed \"%1\", the filter holds \"%2\"").arg(shown, d.text->text()));
        }
        // What the field's clear button does.
        step(QStringLiteral("%1text cleared").arg(prefix), FilterTargetMs, [&] { d.text->clear(); });
    };
    for (const QString &word : { QStringLiteral("maria"), QStringLiteral("silva"), QStringLiteral("9876"),
             QStringLiteral("(11) 9"), QStringLiteral("xyzw"), QStringLiteral("a") })
        typeAndClear(QString(), word);
    d.unknownOnly->setChecked(true);
    typeAndClear(QStringLiteral("\"não cadastrados\" + "), QStringLiteral("maria"));
    d.unknownOnly->setChecked(false);
    d.today->setChecked(true);
    typeAndClear(QStringLiteral("\"hoje\" + "), QStringLiteral("maria"));
    d.today->setChecked(false);
}

QString verdict(const Figures &f, double targetMs)
{
    if (f.ms.isEmpty())
        return QStringLiteral("none");
    return f.text() + (f.median() <= targetMs ? QStringLiteral(" ok") : QStringLiteral(" MISS"));
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    qsizetype callCount = 1000000;
    if (const qsizetype at = args.indexOf(QStringLiteral("--calls")); at >= 0 && at + 1 < args.size()) {
        callCount = args.at(at + 1).toLongLong();
        args.remove(at, 2);
    }
    const bool keep = args.removeAll(QStringLiteral("--keep")) > 0;
    if (args.isEmpty() || args.size() > 2 || callCount <= 0) {
        QTextStream(stderr) << "uso: bench-calls PASTA [VEZES] [--calls N] [--keep]\n";
        return 2;
    }
    const QString dir = args.at(0);
    const int runs = args.size() > 1 ? args.at(1).toInt() : 30;
    if (runs <= 0 || DataFolder::findFile(dir, DataFiles::Contacts).isEmpty()) {
        QTextStream(stderr) << "bench-calls: " << dir << " has no " << DataFiles::Contacts << '\n';
        return 2;
    }
    QElapsedTimer total;
    total.start();
    SilentBoxes boxes;
    MessageBoxes::setInstance(&boxes);

    // Two desks on copies of the data folder: one on its SQLite register, one
    // on the server (the same folder without the register and area code).
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/zuna-bench-calls-XXXXXX"));
    work.setAutoRemove(!keep);
    const QString sqliteDir = work.filePath(QStringLiteral("mesa-sqlite"));
    const QString postgresDir = work.filePath(QStringLiteral("mesa-postgresql"));
    QString error;
    if (!copyDataFolder(dir, sqliteDir, &error)
        || !copyDataFolder(dir, postgresDir, &error, { DataFiles::Contacts, DataFiles::AreaCode }))
        die(error);
    const QString registerFile = DataFolder::findFile(sqliteDir, DataFiles::Contacts);
    qint64 contacts = 0;
    QString areaCode;
    {
        // Opened once by zuna: a register made before the log gets it, and
        // the indexes a start-up would build are built now.
        const auto reg = Register::open(sqliteDir, {}, Register::Patience::Background, &error);
        if (!reg || !reg->buildIndexes(&error) || !reg->count(&contacts, &error)
            || !reg->loadAreaCode(&areaCode, &error))
            die(error);
    }

    const auto server = PostgresServer::startNew(PostgresServer::Durability::Durable, &error);
    if (!server)
        die(QStringLiteral("no server: ") + error);
    const QString url = server->newDatabase(false);
    out << "data folder " << dir << " (worked on as copies in " << work.path() << "): " << contacts
        << " contacts, area code " << (areaCode.isEmpty() ? QStringLiteral("none") : areaCode) << "\n"
        << "server: " << server->value(url, QStringLiteral("SELECT version()")) << "\n"
        << "machine: " << QThread::idealThreadCount() << " cores, load average " << loadAverage() << "\n";
    out.flush();

    // --- 1. the calls
    out << "\n== Filling the log with " << callCount << " calls\n";
    QElapsedTimer t;
    t.start();
    QStringList report;
    if (!DataInit::copyRegister(sqliteDir, url, &report, &error))
        die(QStringLiteral("zuna's copy to the server failed: ") + error);
    out << "  contacts copied to the server by zuna (DataInit::copyRegister): " << ms(t.nsecsElapsed() / 1e6) << '\n';
    t.restart();
    const CallLogData data = makeCalls(registerFile, areaCode, callCount);
    out << "  calls made: " << ms(t.nsecsElapsed() / 1e6) << " (" << data.contacts.size() << " contacts and "
        << data.unknown.size() << " other numbers calling)\n";
    out.flush();
    t.restart();
    fillSqlite(registerFile, data);
    out << "  sqlite: one transaction of INSERTs of 500 rows, triggers on: " << ms(t.nsecsElapsed() / 1e6) << '\n';
    out.flush();
    t.restart();
    fillPostgres(*server, url, data);
    const double copied = t.nsecsElapsed() / 1e6;
    t.restart();
    psql(url, { QStringLiteral("VACUUM ANALYZE chamadas") });
    psql(url, { QStringLiteral("VACUUM ANALYZE cada") });
    psql(url, { QStringLiteral("CHECKPOINT") });
    out << "  postgresql: \\copy, indexes made after the rows: " << ms(copied)
        << "; VACUUM ANALYZE and CHECKPOINT: " << ms(t.nsecsElapsed() / 1e6) << '\n';
    // The window's statements that take long are logged with their plans.
    const QString database = databaseOf(url);
    psql(url,
        { QStringLiteral("ALTER DATABASE %1 SET session_preload_libraries = 'auto_explain'").arg(database),
            QStringLiteral("ALTER DATABASE %1 SET auto_explain.log_min_duration = '%2ms'")
                .arg(database)
                .arg(int(FilterTargetMs) - 10),
            QStringLiteral("ALTER DATABASE %1 SET auto_explain.log_settings = on").arg(database) });
    const QString serverLog = QFileInfo(server->value(url, QStringLiteral("SHOW data_directory")))
                                  .dir()
                                  .filePath(QStringLiteral("server.log"));

    // Both logs hold the same calls.
    QString sqliteSummary;
    {
        SqlConnection conn(registerFile, SqlConnection::Mode::OpenExisting);
        QSqlQuery query(conn.database());
        if (!query.exec(QStringLiteral("SELECT count(*) || ' calls, ' || count(CD) || ' from contacts, ' || "
                                       "sum(TIPO <> 'numero') || ' without a number, ' || sum(QUANDO >= date('now', "
                                       "'localtime')) || ' today, ' || sum(length(BUSCA)) || ' characters of BUSCA' "
                                       "FROM CHAMADAS"))
            || !query.next())
            die(query.lastError().text());
        sqliteSummary = query.value(0).toString();
    }
    const QString postgresSummary = server->value(url,
        QStringLiteral("SELECT count(*) || ' calls, ' || count(cd) || ' from contacts, ' || sum((tipo <> "
                       "'numero')::int) || ' without a number, ' || sum((quando >= current_date)::int) || ' today, ' "
                       "|| sum(length(busca)) || ' characters of BUSCA' FROM chamadas"));
    out << "  sqlite:     " << sqliteSummary << ", file " << QFileInfo(registerFile).size() / (1 << 20) << " MiB\n"
        << "  postgresql: " << postgresSummary << ", table and indexes "
        << server->value(url, QStringLiteral("SELECT pg_size_pretty(pg_total_relation_size('chamadas'))")) << " -> "
        << (sqliteSummary == postgresSummary ? "the same calls" : "DIFFERENT") << '\n'
        << "  load average: " << loadAverage() << '\n';
    out.flush();

    // --- 2. the window
    const qint64 windowLogFrom = QFileInfo(serverLog).size();
    Desk desks[Backends] = { openDesk(Sqlite, sqliteDir, {}, boxes), openDesk(Postgres, postgresDir, url, boxes) };
    // The start-up's work beside the window (indexes, old calls) is over
    // before anything is timed.
    QThreadPool::globalInstance()->waitForDone();
    Steps steps;
    out << "\n== The calls window (offscreen), " << callCount << " calls: each step until the grid has painted its "
        << "first page; median and max over " << runs << " rounds (target: opening " << OpenTargetMs << " ms, a filter "
        << FilterTargetMs << " ms)\n";
    double firstOpen[Backends] = {};
    for (Desk &d : desks) {
        reset(d);
        firstOpen[d.backend] = timedStep(d, [&] { openWithF4(d); });
    }
    row(QStringLiteral("first F4 after the start (once)"), ms(firstOpen[Sqlite]), ms(firstOpen[Postgres]));
    for (int r = 0; r < runs; ++r) {
        for (int k = 0; k < Backends; ++k)
            round(steps, desks[(r + k) % Backends]);
    }
    row(QString(), QStringLiteral("sqlite"), QStringLiteral("postgresql"));
    QList<const Step *> misses[Backends];
    for (const Step &s : std::as_const(steps.list)) {
        const QString rows = s.rows[Sqlite] == s.rows[Postgres] && s.firstId[Sqlite] == s.firstId[Postgres]
            ? QString::number(s.rows[Sqlite])
            : QStringLiteral("%1/%2 DIFFER").arg(s.rows[Sqlite]).arg(s.rows[Postgres]);
        row(QStringLiteral("%1 (%2 rows)").arg(s.label, rows), verdict(s.figures[Sqlite], s.targetMs),
            verdict(s.figures[Postgres], s.targetMs));
        for (int b = 0; b < Backends; ++b) {
            if (!s.trouble[b].isEmpty())
                out << "    " << BackendNames[b]
                    << " showed trouble: " << QString(s.trouble[b]).replace(QLatin1Char('\n'), QLatin1String(" / "))
                    << '\n';
            if (s.figures[b].median() > s.targetMs)
                misses[b] << &s;
        }
    }
    for (const Desk &d : desks) {
        if (d.exposeWaits > 0)
            out << "  " << BackendNames[d.backend] << ": " << d.exposeWaits
                << " opens waited for the platform to show the window\n";
        out << "  " << BackendNames[d.backend] << ": the window was held at most "
            << QString::number(d.longestHoldMs, 'f', 1) << " ms by one step (" << d.longestHoldStep << "); "
            << d.backgroundPages << " steps had their page read in the background\n";
    }
    out << "  load average at the end: " << loadAverage() << '\n';
    out.flush();

    // --- 3. floors
    QList<State> states;
    QStringList stateKeys;
    for (const Step &s : std::as_const(steps.list)) {
        if (!stateKeys.contains(s.state.key())) {
            stateKeys << s.state.key();
            states << s.state;
        }
    }
    out << "\n== Floor: Register::listCalls alone (the window's register, first page of " << PageSize
        << "), median and max over " << runs << " rounds\n";
    row(QString(), QStringLiteral("sqlite"), QStringLiteral("postgresql"));
    for (const State &state : std::as_const(states)) {
        Figures f[Backends];
        int rows[Backends] = {};
        qint64 firstId[Backends] = {};
        for (int r = 0; r < runs; ++r) {
            for (int k = 0; k < Backends; ++k) {
                Desk &d = desks[(r + k) % Backends];
                QList<CallRecord> page;
                QElapsedTimer lt;
                lt.start();
                if (!d.main->contactRegister()->listCalls(state.filter(), 0, PageSize, &page, &error))
                    die(error);
                f[d.backend].ms << lt.nsecsElapsed() / 1e6;
                rows[d.backend] = int(page.size());
                firstId[d.backend] = page.isEmpty() ? 0 : page.first().id;
            }
        }
        const QString same = rows[Sqlite] == rows[Postgres] && firstId[Sqlite] == firstId[Postgres]
            ? QString::number(rows[Sqlite])
            : QStringLiteral("%1/%2 DIFFER").arg(rows[Sqlite]).arg(rows[Postgres]);
        row(QStringLiteral("%1 (%2 rows)").arg(state.describe(), same), f[Sqlite].text(), f[Postgres].text());
    }
    out.flush();

    // What the server logged of the window's and the register's own work;
    // the bare statements and the plans below are not among it.
    const qint64 windowLogTo = QFileInfo(serverLog).size();

    QList<QStringList> sqliteSql;
    QStringList postgresSql;
    {
        SqlConnection conn(registerFile, SqlConnection::Mode::OpenExisting);
        for (const State &state : std::as_const(states)) {
            sqliteSql << sqliteStatements(state, conn.database());
            postgresSql << postgresStatement(state);
        }
    }
    out << "\n== Floor: the bare statements through sqlite3 (.timer, whole ms; the probe of how many calls hold "
           "the text included) and psql (\\timing), median and max over "
        << runs << " runs\n";
    row(QString(), QStringLiteral("sqlite3"), QStringLiteral("psql"));
    const QList<Figures> sqliteBare = bareSqlite(registerFile, sqliteSql, runs);
    const QList<Figures> postgresBare = barePostgres(url, postgresSql, runs);
    for (qsizetype i = 0; i < states.size(); ++i)
        row(states.at(i).describe(), sqliteBare.at(i).text(), postgresBare.at(i).text());
    out << "  load average at the end: " << loadAverage() << '\n';
    out.flush();

    // --- 4. the plans of what missed
    out << "\n== Steps that missed their target\n";
    if (misses[Sqlite].isEmpty() && misses[Postgres].isEmpty())
        out << "  none\n";
    QStringList explained[Backends];
    for (int b = 0; b < Backends; ++b) {
        for (const Step *s : std::as_const(misses[b])) {
            out << "  " << BackendNames[b] << ": " << s->label << ": " << s->figures[b].text() << " (target "
                << s->targetMs << " ms)\n";
            const qsizetype i = stateKeys.indexOf(s->state.key());
            if (explained[b].contains(s->state.key())) {
                out << "    (filter " << s->state.describe() << ": plan as above)\n";
                continue;
            }
            explained[b] << s->state.key();
            if (b == Sqlite) {
                for (const QString &statement : sqliteSql.at(i)) {
                    QString output, errors;
                    runProgram(QStringLiteral("sqlite3"),
                        { QStringLiteral("-readonly"), registerFile,
                            QStringLiteral("EXPLAIN QUERY PLAN ") + statement },
                        &output, &errors);
                    out << "    " << statement << "\n" << indented(output + errors);
                }
            } else {
                out << "    " << postgresSql.at(i) << "\n"
                    << indented(psql(url, { QStringLiteral("EXPLAIN (ANALYZE, BUFFERS) ") + postgresSql.at(i) }));
            }
        }
    }
    out << "\n== The window's and the register's statements on the log that took over " << int(FilterTargetMs) - 10
        << " ms on the server, with the plan it ran them by (auto_explain)\n";
    loggedPlans(serverLog, windowLogFrom, windowLogTo);

    for (Desk &d : desks) {
        d.calls->close();
        d.startup.reset();
    }
    if (keep)
        out << "\nthe copies, the SQLite register with its calls among them, are left in " << work.path() << '\n';
    out << "\nbench-calls done in " << total.elapsed() / 1000 << " s\n";
    return 0;
}
