// bench-across-town DIR [RUNS]: the register on a server across town. DIR is
// a data folder with an SQLite register (zuna-generate DIR 100000); its
// contacts are copied to a PostgreSQL server of the bench's own (durable, as
// a real one), in temporary folders, DIR left as found. The real window
// (offscreen) then works on that server directly and through a proxy that
// holds every byte back 20 ms and 50 ms each way (40 ms and 100 ms of round
// trip), for each: a keystroke to the grid's first page, a call from the line
// to the caller's name on the screen, a save of a new contact, a change to
// it saved, and that contact picked by its code and deleted. Each is
// timed to its end and for the longest stretch the window's thread was held
// (no event handled) meanwhile, beside the floor: one bare libpq round trip
// through the same proxy. Medians and maxima over RUNS (20).
#include "BenchSupport.h"
#include "DelayProxy.h"
#include "PostgresServer.h"
#include "SilentBoxes.h"

#include "core/app/DataInit.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/Register.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/callerid/CallerIdControl.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <libpq-fe.h>

namespace {

using namespace Bench;

QTextStream out(stdout);

// The longest stretch the window's thread spent between two waits for
// events, while it is watched.
class HeldWatch
{
public:
    HeldWatch()
    {
        auto *dispatcher = QAbstractEventDispatcher::instance();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [this] { m_busy.start(); });
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] {
            if (m_busy.isValid())
                m_longestMs = std::max(m_longestMs, m_busy.nsecsElapsed() / 1e6);
            m_busy.invalidate();
        });
    }
    void reset() { m_longestMs = 0; }
    double longestMs() const { return m_longestMs; }

private:
    QElapsedTimer m_busy;
    double m_longestMs = 0;
};

struct Step
{
    Figures done, held;
    int unfinished = 0; // not done within 30 s
};

// Waits, handling events, until `ready` holds or 30 s passed.
bool waitUntil(const std::function<bool()> &ready)
{
    QElapsedTimer t;
    t.start();
    while (!ready()) {
        if (t.elapsed() > 30000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// One step: `act` runs on the window's thread (held for as long as it
// runs), then events are handled until `done` holds.
void timeStep(Step *step, HeldWatch &watch, const std::function<void()> &act, const std::function<bool()> &done)
{
    watch.reset();
    QElapsedTimer t;
    t.start();
    act();
    const double actMs = t.nsecsElapsed() / 1e6;
    if (!waitUntil(done)) {
        ++step->unfinished;
        return;
    }
    step->done.ms << t.nsecsElapsed() / 1e6;
    step->held.ms << std::max(actMs, watch.longestMs());
}

// One bare round trip through libpq: SELECT 1 on an open connection.
Figures bareRoundTrips(const QString &url, int runs)
{
    Figures f;
    PGconn *conn = PQconnectdb(url.toUtf8().constData());
    if (PQstatus(conn) == CONNECTION_OK) {
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            PQclear(PQexec(conn, "SELECT 1"));
            f.ms << t.nsecsElapsed() / 1e6;
        }
    }
    PQfinish(conn);
    return f;
}

struct Column
{
    QString name;
    Figures floor;
    Step keystroke, call, save, update, pick, remove;
    Figures saveNotice; // the save to its notice alone, before the list is read again
    Figures updateNotice; // the same for the change saved
    QString failure;
};

// The window on the register at `url`: a keystroke, calls and saves.
void measureWindow(const QString &deskDir, const QString &url, const QStringList &phones, int runs, Column *column)
{
    SilentBoxes boxes;
    MessageBoxes::setInstance(&boxes);
    Startup startup(deskDir, url);
    if (startup.start() != Startup::Outcome::Running) {
        column->failure = QStringLiteral("the window did not start: ") + boxes.last;
        return;
    }
    MainWindow *w = startup.mainWindow();
    if (!QTest::qWaitForWindowExposed(w)) {
        column->failure = QStringLiteral("the window was not shown");
        return;
    }
    HeldWatch watch;
    auto *a1 = w->findChild<QLineEdit *>(QStringLiteral("A1"));
    auto *a4 = w->findChild<QLineEdit *>(QStringLiteral("A4"));
    auto *grid = w->findChild<QTableView *>(QStringLiteral("DBGrid1"));
    auto *model = qobject_cast<ContactListModel *>(grid->model());
    auto settled = [&] { return !model->isSearching(); };
    // The window's work still on its way after a clear (the count, on a
    // server across town) is let end before a step is timed, as the
    // attendant's typing would: three bare round trips.
    auto idle = [&] {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 3 * column->floor.median() + 1)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    };

    // A keystroke: "ma" in the field, "r" typed; done when the first page
    // of "mar" is in the grid.
    for (int i = 0; i < runs; ++i) {
        w->clearForm();
        a1->setText(QStringLiteral("ma"));
        waitUntil(settled);
        a1->setFocus();
        a1->end(false);
        timeStep(
            &column->keystroke, watch,
            [&] { QTest::sendKeyEvent(QTest::Click, a1, Qt::Key_unknown, QStringLiteral("r"), Qt::NoModifier); },
            [&] {
                if (!settled() || model->rowCount() == 0)
                    return false;
                grid->viewport()->repaint();
                // The page of "mar", not the one of "ma" still shown.
                QString first = model->index(0, ContactListModel::Name)
                                    .data()
                                    .toString()
                                    .normalized(QString::NormalizationForm_D);
                first.remove(QRegularExpression(QStringLiteral("\\p{Mn}")));
                return first.startsWith(QLatin1String("mar"), Qt::CaseInsensitive);
            });
        if (column->keystroke.unfinished > 0)
            break;
    }

    // A call from the line: done when the caller's name is in the form.
    w->callerId()->setDataDir(QString()); // no line source: numbers come from here
    w->callerId()->activate();
    for (int i = 0; i < runs && !phones.isEmpty(); ++i) {
        w->clearForm();
        waitUntil(settled);
        idle();
        const QString phone = phones.at(i % phones.size());
        timeStep(
            &column->call, watch, [&] { w->callerId()->reportNumber(phone); }, [&] { return !a1->text().isEmpty(); });
    }

    // A new contact saved: done when the window says it was saved.
    for (int i = 0; i < runs; ++i) {
        w->clearForm();
        waitUntil(settled);
        idle();
        a1->setText(QStringLiteral("Zuleica Longe %1").arg(i));
        a4->setText(QStringLiteral("(11)3100-%1").arg(i, 4, 10, QLatin1Char('0')));
        boxes.last.clear();
        QElapsedTimer notice;
        notice.start();
        timeStep(
            &column->save, watch, [&] { w->saveContact(); },
            [&] {
                if (boxes.last.isEmpty())
                    return false;
                if (column->saveNotice.ms.size() <= i)
                    column->saveNotice.ms << notice.nsecsElapsed() / 1e6;
                return settled();
            });
        if (boxes.last != QStringLiteral("Operação realizada com sucesso.")) {
            column->failure = QStringLiteral("save failed: ") + boxes.last;
            break;
        }
        // Changed and saved again: the stored row rewritten.
        w->findChild<QLineEdit *>(QStringLiteral("A9"))->setText(QStringLiteral("Rua Longe, %1").arg(i));
        waitUntil(settled);
        idle();
        boxes.last.clear();
        notice.restart();
        timeStep(
            &column->update, watch, [&] { w->saveContact(); },
            [&] {
                if (boxes.last.isEmpty())
                    return false;
                if (column->updateNotice.ms.size() <= i)
                    column->updateNotice.ms << notice.nsecsElapsed() / 1e6;
                return settled();
            });
        if (boxes.last != QStringLiteral("Operação realizada com sucesso.")) {
            column->failure = QStringLiteral("saving a change failed: ") + boxes.last;
            break;
        }
        // Picked again by its code, then deleted (the question answered Yes).
        const QString saved = a1->text();
        const QString code = w->findChild<QLabel *>(QStringLiteral("CD"))->text();
        w->clearForm();
        waitUntil(settled);
        idle();
        timeStep(
            &column->pick, watch,
            [&] {
                w->findChild<QLabel *>(QStringLiteral("CD"))->setText(code);
                w->loadPickedContact();
            },
            [&] { return a1->text() == saved; });
        timeStep(
            &column->remove, watch, [&] { w->deleteContact(); }, [&] { return a1->text().isEmpty() && settled(); });
        if (column->pick.unfinished > 0 || column->remove.unfinished > 0)
            break;
    }
    MessageBoxes::setInstance(nullptr);
}

QString cell(const Figures &f)
{
    // Two decimals below 10 ms, where a bare round trip on the machine is.
    auto number = [](double ms) { return QString::number(ms, 'f', ms < 10 ? 2 : 1); };
    return f.ms.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1 / %2").arg(number(f.median()), number(f.max()));
}

void report(const QList<Column> &columns)
{
    out << "\n== median / max ms; held: the longest stretch the window's thread handled no event\n";
    out << QStringLiteral("what").leftJustified(40);
    for (const Column &c : columns)
        out << c.name.leftJustified(22);
    out << "targets (40 / 100 ms)\n";
    auto line
        = [&](const QString &what, const std::function<const Figures &(const Column &)> &of, const QString &target) {
              out << what.leftJustified(40);
              for (const Column &c : columns)
                  out << cell(of(c)).leftJustified(22);
              out << target << '\n';
          };
    line(
        QStringLiteral("floor: bare libpq round trip (SELECT 1)"),
        [](const Column &c) -> const Figures & { return c.floor; }, QString());
    line(
        QStringLiteral("keystroke \"mar\" -> first page"),
        [](const Column &c) -> const Figures & { return c.keystroke.done; }, QStringLiteral("<= 100 / <= 250"));
    line(
        QStringLiteral("  window held"), [](const Column &c) -> const Figures & { return c.keystroke.held; },
        QStringLiteral("<= 16"));
    line(
        QStringLiteral("call -> caller on the screen"), [](const Column &c) -> const Figures & { return c.call.done; },
        QStringLiteral("<= 100 / <= 250"));
    line(
        QStringLiteral("  window held"), [](const Column &c) -> const Figures & { return c.call.held; },
        QStringLiteral("<= 16"));
    line(
        QStringLiteral("save a new contact -> saved notice"),
        [](const Column &c) -> const Figures & { return c.saveNotice; }, QStringLiteral("<= 200 / <= 400"));
    line(
        QStringLiteral("  -> and the list read again"), [](const Column &c) -> const Figures & { return c.save.done; },
        QString());
    line(
        QStringLiteral("  window held"), [](const Column &c) -> const Figures & { return c.save.held; },
        QStringLiteral("<= 16"));
    line(
        QStringLiteral("save a change to it -> saved notice"),
        [](const Column &c) -> const Figures & { return c.updateNotice; }, QStringLiteral("<= 200 / <= 400"));
    line(
        QStringLiteral("  -> and the list read again"),
        [](const Column &c) -> const Figures & { return c.update.done; }, QString());
    line(
        QStringLiteral("  window held"), [](const Column &c) -> const Figures & { return c.update.held; },
        QStringLiteral("<= 16"));
    line(
        QStringLiteral("pick by code -> contact in the form"),
        [](const Column &c) -> const Figures & { return c.pick.done; }, QString());
    line(
        QStringLiteral("  window held"), [](const Column &c) -> const Figures & { return c.pick.held; },
        QStringLiteral("<= 16"));
    line(
        QStringLiteral("delete -> form emptied, list read again"),
        [](const Column &c) -> const Figures & { return c.remove.done; }, QString());
    line(
        QStringLiteral("  window held"), [](const Column &c) -> const Figures & { return c.remove.held; },
        QStringLiteral("<= 16"));
    for (const Column &c : columns) {
        if (!c.failure.isEmpty())
            out << "  " << c.name << ": " << c.failure << '\n';
        for (const auto &[what, step] : { std::pair { "keystrokes", &c.keystroke }, std::pair { "calls", &c.call },
                 std::pair { "saves", &c.save }, std::pair { "changes", &c.update }, std::pair { "picks", &c.pick },
                 std::pair { "deletes", &c.remove } }) {
            if (step->unfinished > 0)
                out << "  " << c.name << ": " << step->unfinished << ' ' << what
                    << " not done within 30 s (left out of the figures)\n";
        }
        const double rt = c.floor.median();
        if (rt > 5)
            out << "  " << c.name << ": keystroke " << QString::number(c.keystroke.done.median() / rt, 'f', 1)
                << ", call " << QString::number(c.call.done.median() / rt, 'f', 1) << ", save "
                << QString::number(c.saveNotice.median() / rt, 'f', 1) << " (with the list "
                << QString::number(c.save.done.median() / rt, 'f', 1) << "), change "
                << QString::number(c.updateNotice.median() / rt, 'f', 1) << ", delete "
                << QString::number(c.remove.done.median() / rt, 'f', 1) << " (with the list) round trips\n";
    }
    out << "  load average at the end: " << loadAverage() << '\n';
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        QTextStream(stderr) << "uso: bench-across-town PASTA [VEZES]\n";
        return 2;
    }
    const int runs = args.size() > 2 ? args.at(2).toInt() : 20;
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/zuna-bench-XXXXXX"));
    const QString deskDir = work.filePath(QStringLiteral("mesa"));
    if (QString error; !copyDataFolder(args.at(1), deskDir, &error)) {
        QTextStream(stderr) << "bench-across-town: " << error << '\n';
        return 1;
    }
    QString why;
    const auto server = PostgresServer::startNew(PostgresServer::Durability::Durable, &why);
    if (!server) {
        QTextStream(stderr) << "bench-across-town: no server: " << why << '\n';
        return 1;
    }
    const QString url = server->newDatabase(false);
    QStringList copyReport;
    if (!DataInit::copyRegister(deskDir, url, &copyReport, &why)) {
        QTextStream(stderr) << "bench-across-town: the copy failed: " << why << '\n';
        return 1;
    }
    server->exec(url, QStringLiteral("VACUUM ANALYZE"));

    // Numbers as a line sends them, of contacts spread over the register.
    QStringList phones;
    qint64 contacts = 0;
    {
        const auto reg = Register::open(deskDir, url, Register::Patience::Background, &why);
        if (!reg || !reg->count(&contacts, &why)) {
            QTextStream(stderr) << "bench-across-town: " << why << '\n';
            return 1;
        }
        const qint64 step = std::max<qint64>(1, contacts / runs);
        for (qint64 code = step; code <= contacts && phones.size() < runs; code += step) {
            std::optional<ContactRecord> contact;
            if (reg->findByCode(code, &contact, &why) && contact && !contact->a1.isEmpty())
                phones << PhoneNumber::read(contact->a4, QStringLiteral("11")).key();
        }
    }
    out << contacts << " contacts, " << runs << " runs each; machine: " << QThread::idealThreadCount()
        << " cores, load average " << loadAverage() << '\n';
    out.flush();

    QList<Column> columns;
    for (const int oneWay : { 0, 20, 50 }) {
        Column column;
        std::unique_ptr<DelayProxy> proxy;
        QString through = url;
        if (oneWay > 0) {
            proxy = std::make_unique<DelayProxy>(server->socketFile(), oneWay);
            through = QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(proxy->port()).arg(databaseOf(url));
            column.name = QStringLiteral("%1 ms round trip").arg(2 * oneWay);
        } else {
            column.name = QStringLiteral("same machine");
        }
        column.floor = bareRoundTrips(through, runs);
        measureWindow(deskDir, through, phones, runs, &column);
        out << column.name << " measured\n";
        out.flush();
        columns << column;
    }
    report(columns);
    return 0;
}
