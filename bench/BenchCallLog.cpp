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
#include "PostgresServer.h"
#include "SilentBoxes.h"

#include "app/CallListModel.h"
#include "app/CallsWindow.h"
#include "app/DataInit.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "contacts/CallFilter.h"
#include "contacts/PhoneNumber.h"
#include "contacts/Register.h"
#include "contacts/SqlConnection.h"
#include "contacts/SqliteRegister.h"
#include "platform/DataFiles.h"
#include "platform/DataFolder.h"
#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>
#include <QTimeZone>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace Bench;

QTextStream out(stdout);

constexpr double OpenTargetMs = 100;
constexpr double FilterTargetMs = 50;
constexpr int PageSize = CallListModel::PageSize;
// The register reads the calls holding a text by their trigrams when no more
// than this many hold it (SqliteRegister's own threshold, for the floor).
constexpr int DenseMatches = 2000;
enum Backend { Sqlite, Postgres, Backends };
const char *const BackendNames[] = { "sqlite", "postgresql" };

[[noreturn]] void die(const QString &why)
{
    out.flush();
    QTextStream(stderr) << "bench-calls: " << why << '\n';
    std::exit(1);
}

// A row of figures: what, then SQLite's and PostgreSQL's side by side.
void row(const QString &what, const QString &sqlite, const QString &postgres)
{
    out << what.leftJustified(50) << ' ' << sqlite.leftJustified(42) << ' ' << postgres << '\n';
}

// --- 1. the calls

// Who calls: a contact of the register, or a number not in it.
struct Caller
{
    qint64 cd = 0;
    QString name; // the contact's name, or the name a line sends
    QString key;
    QString laidOut;
};

struct Call
{
    enum Kind : quint8 { Contact, Unknown, UnknownNamed, Withheld, Unavailable };
    qint64 when = 0; // seconds since the epoch
    Kind kind = Contact;
    quint32 caller = 0; // into the contacts or the unknown numbers
    quint32 name = 0; // the name a line sent, for UnknownNamed
};

struct CallLogData
{
    std::vector<Caller> contacts, unknown;
    std::vector<Call> calls;
};

// A row of CHAMADAS as logCall writes it.
struct Row
{
    qint64 id;
    QDateTime when;
    QString kind, received, key, laidOut, callerName, source, line;
    qint64 cd;
    QString contactName, search;
};

Row rowOf(const CallLogData &data, qsizetype i)
{
    const Call &c = data.calls[size_t(i)];
    Row r { qint64(i) + 1, QDateTime::fromSecsSinceEpoch(c.when), {}, {}, {}, {}, {}, QStringLiteral("placa-de-som"),
        QStringLiteral("padrão"), 0, QString(QLatin1String("")), {} };
    switch (c.kind) {
    case Call::Contact:
    case Call::Unknown:
    case Call::UnknownNamed: {
        const Caller &who = c.kind == Call::Contact ? data.contacts[c.caller] : data.unknown[c.caller];
        r.kind = CallRecord::kindName(CallRecord::Kind::Number);
        r.received = who.key;
        r.key = who.key;
        r.laidOut = who.laidOut;
        if (c.kind == Call::Contact) {
            r.cd = who.cd;
            r.contactName = who.name;
        } else if (c.kind == Call::UnknownNamed) {
            // A line that sends names (NCID).
            r.callerName = data.contacts[c.name].name;
            r.source = QStringLiteral("ncid");
            r.line = QStringLiteral("localhost:3333");
        }
        break;
    }
    case Call::Withheld:
        r.kind = CallRecord::kindName(CallRecord::Kind::Withheld);
        r.laidOut = QStringLiteral("Número restrito");
        break;
    case Call::Unavailable:
        r.kind = CallRecord::kindName(CallRecord::Kind::Unavailable);
        r.laidOut = QStringLiteral("Número indisponível");
        break;
    }
    r.search = CallFilter::searchText(r.contactName, r.callerName, r.key);
    return r;
}

// Callers who call again and again come first: the lower a caller's place,
// the more often it is picked.
quint32 frequentFirst(QRandomGenerator &rng, size_t count)
{
    const double u = rng.generateDouble();
    return quint32(std::min<double>(double(count) - 1, u * u * double(count)));
}

CallLogData makeCalls(const QString &registerFile, const QString &areaCode, qsizetype count)
{
    CallLogData data;
    QRandomGenerator rng(20240917);
    SqlConnection conn(registerFile, SqlConnection::Mode::OpenExisting);
    if (!conn.isOpen())
        die(conn.errorText());
    {
        QSqlQuery query(conn.database());
        qint64 lastCode = 0;
        if (!query.exec(QStringLiteral("SELECT max(CD) FROM CADA")) || !query.next())
            die(query.lastError().text());
        lastCode = query.value(0).toLongLong();
        query.finish();
        // A tenth of the contacts call (some of them often), at most 100 000.
        const qint64 callers = std::clamp<qint64>(lastCode / 10, std::min<qint64>(lastCode, 100), 100000);
        query.prepare(QStringLiteral("SELECT A1, A4 FROM CADA WHERE CD = ?"));
        for (qint64 tries = 0; lastCode > 0 && qint64(data.contacts.size()) < callers && tries < callers * 4; ++tries) {
            const qint64 cd = 1 + qint64(rng.bounded(quint64(lastCode)));
            query.bindValue(0, cd);
            if (!query.exec())
                die(query.lastError().text());
            if (!query.next())
                continue;
            const QString name = query.value(0).toString();
            const PhoneNumber number = PhoneNumber::read(query.value(1).toString(), areaCode);
            if (name.isEmpty() || !number.isNumber() || number.key().isEmpty())
                continue;
            data.contacts.push_back({ cd, name, number.key(), number.layout() });
        }
    }
    if (data.contacts.empty())
        die(QStringLiteral("the register has no contact with a telephone to call from"));
    // Numbers not in the register: mobiles mostly, from the larger areas.
    static const char *const Areas[]
        = { "11", "11", "11", "21", "21", "31", "41", "51", "61", "71", "81", "85", "19", "27", "48", "62", "91" };
    for (int i = 0; i < 150000; ++i) {
        const QString area = QLatin1String(Areas[rng.bounded(int(std::size(Areas)))]);
        const QString subscriber = rng.bounded(10) < 7 ? QStringLiteral("9%1").arg(rng.bounded(60000000, 100000000))
                                                       : QString::number(rng.bounded(20000000, 60000000));
        const PhoneNumber number = PhoneNumber::read(area + subscriber, areaCode);
        data.unknown.push_back({ 0, {}, number.key(), number.layout() });
    }

    // When: any of the last 730 days, mostly in business hours, up to a
    // minute ago; nothing old enough to be removed at start-up.
    const QDateTime now = QDateTime::currentDateTime();
    const QDate today = now.date();
    std::vector<qint64> dayStarts(730);
    for (int d = 0; d < 730; ++d)
        dayStarts[size_t(d)] = QDateTime(today.addDays(-d), QTime(0, 0)).toSecsSinceEpoch();
    const qint64 latest = now.toSecsSinceEpoch() - 60;
    const qint64 earliest = now.addDays(-730).toSecsSinceEpoch() + 3600;
    data.calls.resize(size_t(count));
    for (Call &c : data.calls) {
        do {
            const int second = rng.bounded(100) < 90 ? 8 * 3600 + rng.bounded(11 * 3600) : rng.bounded(86400);
            c.when = dayStarts[size_t(rng.bounded(730))] + second;
        } while (c.when > latest || c.when < earliest);
        const int share = rng.bounded(1000);
        if (share < 600) {
            c.kind = Call::Contact;
            c.caller = frequentFirst(rng, data.contacts.size());
        } else if (share < 975) {
            c.kind = share < 600 + 20 ? Call::UnknownNamed : Call::Unknown;
            c.caller = frequentFirst(rng, data.unknown.size());
            c.name = quint32(rng.bounded(quint32(data.contacts.size())));
        } else {
            c.kind = share < 995 ? Call::Withheld : Call::Unavailable;
        }
    }
    std::sort(data.calls.begin(), data.calls.end(), [](const Call &a, const Call &b) { return a.when < b.when; });
    return data;
}

const QString SqliteColumns
    = QStringLiteral("ID, QUANDO, TIPO, RECEBIDO, CHAVE, NUMERO, NOME_LINHA, FONTE, LINHA, CD, NOME, BUSCA");

// The calls into the SQLite register, in one transaction.
void fillSqlite(const QString &registerFile, const CallLogData &data)
{
    SqlConnection conn(registerFile, SqlConnection::Mode::OpenExisting);
    if (!conn.isOpen())
        die(conn.errorText());
    QSqlDatabase db = conn.database();
    constexpr qsizetype Batch = 500;
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("DELETE FROM CHAMADAS")))
            die(query.lastError().text());
    }
    if (!db.transaction())
        die(db.lastError().text());
    {
        QSqlQuery query(db);
        qsizetype prepared = 0;
        const qsizetype total = qsizetype(data.calls.size());
        for (qsizetype first = 0; first < total; first += Batch) {
            const qsizetype n = std::min(Batch, total - first);
            if (n != prepared) {
                QStringList values(n, QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
                if (!query.prepare(QStringLiteral("INSERT INTO CHAMADAS (%1) VALUES %2")
                                       .arg(SqliteColumns, values.join(QLatin1Char(',')))))
                    die(query.lastError().text());
                prepared = n;
            }
            int at = 0;
            for (qsizetype i = first; i < first + n; ++i) {
                const Row r = rowOf(data, i);
                query.bindValue(at++, r.id);
                query.bindValue(at++, r.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
                for (const QString &text : { r.kind, r.received, r.key, r.laidOut, r.callerName, r.source, r.line })
                    query.bindValue(at++, text.isNull() ? QString(QLatin1String("")) : text);
                query.bindValue(at++, r.cd > 0 ? QVariant(r.cd) : QVariant(QMetaType(QMetaType::LongLong)));
                query.bindValue(at++, r.contactName);
                query.bindValue(at++, r.search);
            }
            if (!query.exec())
                die(query.lastError().text());
        }
    }
    if (!db.commit())
        die(db.lastError().text());
}

// psql on a database, `commands` given as -c, `input` written to its
// standard input; its output (both channels) returned. Fails the bench when
// psql fails.
QString psql(const QString &url, const QStringList &commands, const std::function<bool(QProcess &)> &input = {},
    bool oneTransaction = false)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments
        = { QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1") };
    if (oneTransaction)
        arguments << QStringLiteral("-1");
    arguments << QStringLiteral("-d") << url;
    for (const QString &command : commands)
        arguments << QStringLiteral("-c") << command;
    p.start(QStringLiteral("psql"), arguments);
    if (!p.waitForStarted(-1))
        die(QStringLiteral("psql: ") + p.errorString());
    QByteArray output;
    if (input && !input(p))
        die(QStringLiteral("psql: cannot write its input"));
    p.closeWriteChannel();
    while (!p.waitForFinished(100))
        output += p.readAll();
    output += p.readAll();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(QStringLiteral("psql failed on %1: %2")
                .arg(commands.join(QLatin1String("; ")).left(300), QString::fromUtf8(output)));
    return QString::fromUtf8(output);
}

QString csvText(const QString &text)
{
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

// The calls into the server's register: its indexes on the log dropped, the
// rows copied, the indexes made again, in one transaction.
void fillPostgres(const PostgresServer &server, const QString &url, const CallLogData &data)
{
    const QString filter
        = QStringLiteral("FROM pg_indexes WHERE tablename = 'chamadas' AND indexname <> 'chamadas_pkey'");
    QStringList names
        = server.value(url, QStringLiteral("SELECT string_agg(indexname, ',' ORDER BY indexname) ") + filter)
              .split(QLatin1Char(','));
    QStringList definitions
        = server.value(url, QStringLiteral("SELECT string_agg(indexdef, ';' ORDER BY indexname) ") + filter)
              .split(QLatin1Char(';'));
    names.removeAll(QString());
    definitions.removeAll(QString());
    QStringList commands
        = { QStringLiteral("SET LOCAL maintenance_work_mem = '256MB'"), QStringLiteral("DELETE FROM chamadas") };
    if (!names.isEmpty())
        commands << QStringLiteral("DROP INDEX %1").arg(names.join(QStringLiteral(", ")));
    commands << QStringLiteral("\\copy chamadas (id, quando, tipo, recebido, chave, numero, nome_linha, fonte, linha, "
                               "cd, nome, busca) from stdin with (format csv)");
    commands << definitions;
    commands << QStringLiteral("SELECT setval(pg_get_serial_sequence('chamadas', 'id'), %1)")
                    .arg(std::max<qsizetype>(1, qsizetype(data.calls.size())));
    psql(
        url, commands,
        [&](QProcess &p) {
            QByteArray chunk;
            for (qsizetype i = 0; i < qsizetype(data.calls.size()); ++i) {
                const Row r = rowOf(data, i);
                QStringList fields = { QString::number(r.id), r.when.toUTC().toString(Qt::ISODate) };
                for (const QString &text : { r.kind, r.received, r.key, r.laidOut, r.callerName, r.source, r.line })
                    fields << csvText(text);
                fields << (r.cd > 0 ? QString::number(r.cd) : QString()) << csvText(r.contactName) << csvText(r.search);
                chunk += fields.join(QLatin1Char(',')).toUtf8() + '\n';
                if (chunk.size() > (1 << 20)) {
                    if (p.write(chunk) != chunk.size())
                        return false;
                    chunk.clear();
                    while (p.bytesToWrite() > (4 << 20))
                        if (!p.waitForBytesWritten(-1))
                            return false;
                }
            }
            if (p.write(chunk) != chunk.size())
                return false;
            while (p.bytesToWrite() > 0)
                if (!p.waitForBytesWritten(-1))
                    return false;
            return true;
        },
        true);
}

// --- 2. the window

// What the calls window filters by after a step.
struct State
{
    bool today = false;
    bool unknownOnly = false;
    QString text;

    QString key() const { return QStringLiteral("%1%2%3").arg(int(today)).arg(int(unknownOnly)).arg(text); }
    QString describe() const
    {
        QStringList filters;
        if (today)
            filters << QStringLiteral("hoje");
        if (unknownOnly)
            filters << QStringLiteral("não cadastrados");
        if (!text.isEmpty())
            filters << QStringLiteral("\"%1\"").arg(text);
        return filters.isEmpty() ? QStringLiteral("no filter") : filters.join(QStringLiteral(" + "));
    }
    // As the calls window makes it.
    CallFilter filter() const
    {
        CallFilter f;
        if (today)
            f.since = QDateTime(QDate::currentDate(), QTime(0, 0));
        f.unknownOnly = unknownOnly;
        f.text = text;
        return f;
    }
};

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

void handleEventsUntil(const std::function<bool()> &done, int timeoutMs, const QString &what)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            die(QStringLiteral("waited %1 ms in vain for %2").arg(timeoutMs).arg(what));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
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

// --- 3. floors

// An SQL text literal.
QString sqlText(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

// The statements the register runs for a filter, with literals for its
// values: the page, after the probe of how many calls hold the text when
// SQLite asks it (its answer, read here, decides the page's statement).
QStringList sqliteStatements(const State &state, const QSqlDatabase &db)
{
    QStringList statements, where;
    const CallFilter filter = state.filter();
    if (filter.since.isValid()) {
        const QString since = sqlText(filter.since.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        where << QStringLiteral("QUANDO >= %1 AND ID >= (SELECT min(+ID) FROM CHAMADAS WHERE QUANDO >= %1)").arg(since);
    }
    if (filter.unknownOnly)
        where << QStringLiteral("CD IS NULL");
    const QString needle = CallFilter::needle(filter.text);
    if (!needle.isEmpty()) {
        where << QStringLiteral("instr(BUSCA, %1) > 0").arg(sqlText(needle));
        if (needle.size() >= 3) {
            const QString match = sqlText(SqliteRegister::trigramQuery(needle));
            const QString probe = QStringLiteral(
                "SELECT count(*) FROM (SELECT 1 FROM CHAMADAS_BUSCA WHERE CHAMADAS_BUSCA MATCH %1 LIMIT %2)")
                                      .arg(match)
                                      .arg(DenseMatches + 1);
            statements << probe;
            QSqlQuery query(db);
            if (!query.exec(probe) || !query.next())
                die(query.lastError().text());
            if (query.value(0).toInt() <= DenseMatches)
                where << QStringLiteral("ID IN (SELECT rowid FROM CHAMADAS_BUSCA WHERE CHAMADAS_BUSCA MATCH %1)")
                             .arg(match);
        }
    }
    QString page
        = QStringLiteral("SELECT ID, QUANDO, TIPO, RECEBIDO, CHAVE, NUMERO, NOME_LINHA, FONTE, LINHA, CD, NOME "
                         "FROM CHAMADAS");
    if (!where.isEmpty())
        page += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    statements << page + QStringLiteral(" ORDER BY ID DESC LIMIT %1").arg(PageSize);
    return statements;
}

// As the PostgreSQL register writes the page's statement.
QString postgresStatement(const State &state)
{
    QStringList where;
    const CallFilter filter = state.filter();
    if (filter.since.isValid())
        where << QStringLiteral("quando >= to_timestamp(%1) AND id >= (SELECT min(id) FROM chamadas WHERE quando >= "
                                "to_timestamp(%1))")
                     .arg(filter.since.toSecsSinceEpoch());
    if (filter.unknownOnly)
        where << QStringLiteral("cd IS NULL");
    const QString needle = CallFilter::needle(filter.text);
    if (!needle.isEmpty()) {
        QString like = needle;
        like.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('%'), QLatin1String("\\%"))
            .replace(QLatin1Char('_'), QLatin1String("\\_"));
        where << QStringLiteral("busca LIKE %1").arg(sqlText(QLatin1Char('%') + like + QLatin1Char('%')));
    }
    QString page = QStringLiteral("SELECT id, extract(epoch FROM quando)::bigint, tipo, recebido, chave, numero, "
                                  "nome_linha, fonte, linha, cd, nome FROM chamadas");
    if (!where.isEmpty())
        page += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    return page + QStringLiteral(" ORDER BY id DESC LIMIT %1").arg(PageSize);
}

// Each state's statements run `runs` times by sqlite3 in one process; the
// time of one run of a state's statements, summed (sqlite3 tells whole
// milliseconds).
QList<Figures> bareSqlite(const QString &file, const QList<QStringList> &statements, int runs)
{
    QString script = QStringLiteral(".timer on\n.output /dev/null\n");
    for (const QStringList &s : statements) {
        for (int r = 0; r < runs; ++r)
            script += s.join(QStringLiteral(";\n")) + QStringLiteral(";\n");
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("sqlite3"), { QStringLiteral("-bail"), QStringLiteral("-readonly"), file });
    if (!p.waitForStarted(-1))
        die(QStringLiteral("sqlite3: ") + p.errorString());
    p.write(script.toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const QString output = QString::fromUtf8(p.readAll());
    QList<double> times;
    const QRegularExpression timer(QStringLiteral("^Run Time: real ([0-9.]+)"), QRegularExpression::MultilineOption);
    for (auto m = timer.globalMatch(output); m.hasNext();)
        times << m.next().captured(1).toDouble() * 1000;
    QList<Figures> figures(statements.size());
    qsizetype at = 0;
    for (qsizetype i = 0; i < statements.size(); ++i) {
        for (int r = 0; r < runs; ++r) {
            double sum = 0;
            for (qsizetype k = 0; k < statements.at(i).size(); ++k)
                sum += at < times.size() ? times.at(at++) : 0;
            figures[i].ms << sum;
        }
    }
    if (times.size() != at)
        out << "  sqlite3 gave " << times.size() << " timings for " << at << " statements: " << output.left(500)
            << '\n';
    return figures;
}

QList<Figures> barePostgres(const QString &url, const QStringList &statements, int runs)
{
    QString script = QStringLiteral("\\timing on\n\\o /dev/null\n");
    for (const QString &s : statements) {
        for (int r = 0; r < runs; ++r)
            script += s + QStringLiteral(";\n");
    }
    const QString output = psql(url, {}, [&](QProcess &p) {
        p.write(script.toUtf8());
        return p.waitForBytesWritten(-1) || p.bytesToWrite() == 0;
    });
    QList<double> times;
    const QRegularExpression timing(QStringLiteral("^Time: ([0-9.]+) ms"), QRegularExpression::MultilineOption);
    for (auto m = timing.globalMatch(output); m.hasNext();)
        times << m.next().captured(1).toDouble();
    QList<Figures> figures(statements.size());
    qsizetype at = 0;
    for (qsizetype i = 0; i < statements.size(); ++i) {
        for (int r = 0; r < runs && at < times.size(); ++r)
            figures[i].ms << times.at(at++);
    }
    if (times.size() != statements.size() * runs)
        out << "  psql gave " << times.size() << " timings for " << statements.size() * runs
            << " statements: " << output.left(500) << '\n';
    return figures;
}

QString indented(const QString &text, const QString &indent = QStringLiteral("      "))
{
    QStringList lines = text.trimmed().split(QLatin1Char('\n'));
    for (QString &line : lines)
        line.prepend(indent);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

// The plans the server logged for statements of the log that took long
// (auto_explain), each told once with how often and how long it took.
void loggedPlans(const QString &logFile, qint64 from, qint64 upTo)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly)) {
        out << "  the server's log " << logFile << " cannot be read\n";
        return;
    }
    // Qt prepares each statement under a name of its own.
    const QRegularExpression prepared(QStringLiteral("PREPARE qpsqlpstmt_\\w+ AS "));
    struct Logged
    {
        QString plan;
        Figures figures;
    };
    QList<Logged> plans;
    const QRegularExpression head(QStringLiteral("duration: ([0-9.]+) ms  plan:"));
    if (!file.seek(from)) {
        out << "  the server's log " << logFile << " is shorter than it was\n";
        return;
    }
    const QStringList lines = QString::fromUtf8(file.read(upTo - from)).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto m = head.match(lines.at(i));
        if (!m.hasMatch())
            continue;
        QStringList plan;
        while (i + 1 < lines.size() && lines.at(i + 1).startsWith(QLatin1Char('\t')))
            plan << lines.at(++i).mid(1);
        const QString text = plan.join(QLatin1Char('\n')).replace(prepared, QString());
        if (!text.contains(QLatin1String("chamadas")))
            continue;
        auto found = std::find_if(plans.begin(), plans.end(), [&](const Logged &l) { return l.plan == text; });
        if (found == plans.end()) {
            plans.append({ text, {} });
            found = plans.end() - 1;
        }
        found->figures.ms << m.captured(1).toDouble();
    }
    if (plans.isEmpty()) {
        out << "  none of the window's statements on the log took that long\n";
        return;
    }
    for (const Logged &l : std::as_const(plans)) {
        out << "  " << l.figures.ms.size() << " times, " << l.figures.text() << ":\n" << indented(l.plan);
    }
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
