// bench-register DIR [RUNS] [--database URL]: the register at work on the real
// window (offscreen): a keystroke in the name field to the grid's first page,
// a pick, a save, a delete and a clear, each with its list refresh and count.
// Medians over RUNS; the register is left as it was found. With --database,
// the register is the one on that PostgreSQL server, as `zuna --database`
// uses it; otherwise the data folder's own. Every pattern is also asked of
// the bare database (the floor), in the same run: SQLite's file through the
// sqlite3 library, or the server through libpq as psql would ask it.
#include "core/contacts/ContactListModel.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/platform/MessageBoxes.h"

#include "BenchSupport.h"
#include "SilentBoxes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTableView>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>

namespace {

using Bench::Figures;

double timeMs(const std::function<void()> &work)
{
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed() / 1e6;
}

// The typed pattern as a LIKE ("*" any run, "?" and "#" one character), open
// at its end.
QString likeOf(const QString &typed)
{
    QString like;
    for (const QChar c : typed)
        like += c == u'*' ? QChar(u'%') : (c == u'?' || c == u'#') ? QChar(u'_') : c;
    return like + QLatin1Char('%');
}

// The same question asked of bare SQLite: the first page of names matching
// the typed pattern as a LIKE (letter case ignored), in the order of the name
// column, which no index serves. Median milliseconds over `runs`.
double bareSqliteMs(const QString &file, const QString &typed, int runs, int pageSize)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return -1;
    }
    // The window may hold the file a moment (its count, its checks): waited
    // for, not taken for an answer.
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT CD, A1, A4, A9, A12, A13 FROM CADA WHERE A1 LIKE ? ORDER BY A1, CD LIMIT ?", -1,
        &statement, nullptr);
    const QByteArray pattern = likeOf(typed).toUtf8();
    Figures f;
    bool ok = true;
    for (int i = 0; i < runs && ok; ++i) {
        f.ms << timeMs([&] {
            sqlite3_reset(statement);
            sqlite3_bind_text(statement, 1, pattern.constData(), int(pattern.size()), SQLITE_STATIC);
            sqlite3_bind_int(statement, 2, pageSize);
            int step = SQLITE_ROW;
            while ((step = sqlite3_step(statement)) == SQLITE_ROW) { }
            ok = step == SQLITE_DONE;
        });
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return ok ? f.median() : -1;
}

// The same question asked of the bare server, as psql would send it: the
// first page of names matching the pattern as an ILIKE, in the byte order of
// the name column, which no index serves. Median milliseconds over `runs`.
double barePostgresMs(const QString &url, const QString &typed, int runs, int pageSize)
{
    PGconn *conn = PQconnectdb(url.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK) {
        PQfinish(conn);
        return -1;
    }
    // As zuna's own connections ask: no compiling to machine code, which the
    // server would otherwise do for a statement it thinks costly.
    PQclear(PQexec(conn, "SET jit = off"));
    const QByteArray pattern = likeOf(typed).toUtf8();
    const QByteArray limit = QByteArray::number(pageSize);
    const char *values[] = { pattern.constData(), limit.constData() };
    Figures f;
    bool ok = true;
    for (int i = 0; i < runs && ok; ++i) {
        f.ms << timeMs([&] {
            PGresult *result = PQexecParams(conn,
                "SELECT cd, a1, a4, a9, a12, a13 FROM cada WHERE a1 ILIKE $1 ORDER BY a1 COLLATE \"C\", cd LIMIT $2", 2,
                nullptr, values, nullptr, nullptr, 0);
            ok = PQresultStatus(result) == PGRES_TUPLES_OK;
            PQclear(result);
        });
    }
    PQfinish(conn);
    return ok ? f.median() : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString databaseUrl;
    if (const qsizetype at = args.indexOf(QStringLiteral("--database")); at >= 0 && at + 1 < args.size()) {
        databaseUrl = args.at(at + 1);
        args.remove(at, 2);
    }
    if (args.isEmpty() || args.contains(QStringLiteral("--database"))) {
        QTextStream(stderr) << "uso: bench-register PASTA [VEZES] [--database URL]\n";
        return 2;
    }
    const int runs = args.size() > 1 ? args.at(1).toInt() : 50;
    SilentBoxes boxes;
    MessageBoxes::setInstance(&boxes);
    Startup startup(args.at(0), databaseUrl);
    if (startup.start() != Startup::Outcome::Running) {
        QTextStream(stderr) << "bench-register: " << boxes.last << '\n';
        return 1;
    }
    MainWindow *w = startup.mainWindow();
    if (!QTest::qWaitForWindowExposed(w))
        return 1;
    auto *a1 = w->findChild<QLineEdit *>(QStringLiteral("A1"));
    auto *a4 = w->findChild<QLineEdit *>(QStringLiteral("A4"));
    auto *cd = w->findChild<QLabel *>(QStringLiteral("CD"));
    auto *grid = w->findChild<QTableView *>(QStringLiteral("DBGrid1"));
    const qint64 count = w->findChild<QLabel *>(QStringLiteral("NXR"))->text().toLongLong();
    QTextStream out(stdout);
    out << "contacts " << count << ", runs " << runs << "\n";

    // The floor of a pattern beside Zuna's figure, `ms`.
    auto printFloor = [&](const QString &typed, double ms, int floorRuns) {
        const double floor = databaseUrl.isEmpty()
            ? bareSqliteMs(args.at(0) + QStringLiteral("/cada.sqlite"), typed, floorRuns, ContactListModel::PageSize)
            : barePostgresMs(databaseUrl, typed, floorRuns, ContactListModel::PageSize);
        if (floor < 0)
            out << "; the bare " << (databaseUrl.isEmpty() ? "sqlite3" : "psql") << " question FAILED";
        else
            out << "; bare " << (databaseUrl.isEmpty() ? "sqlite3" : "psql") << " median " << floor << " ms ("
                << ms / floor << "x)";
    };

    // One keystroke: the prefix without its last letter is in the field, the
    // last letter is typed; timed until the grid has painted its first page
    // (waited for when its reading went on in the background).
    auto model = qobject_cast<ContactListModel *>(grid->model());
    // Waits for the page read in the background, asleep: processEvents()
    // with a time limit returns at once when nothing is pending, so a loop
    // over it would keep a core busy and take it from the reading thread it
    // waits for. The timer only bounds each sleep.
    auto settle = [&] {
        QTimer wake;
        wake.start(50);
        while (model->isSearching())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    auto keystroke = [&](const QString &prefix) {
        Figures f, held;
        int background = 0;
        for (int i = 0; i < runs; ++i) {
            a1->setText(prefix.chopped(1));
            settle();
            a1->setFocus();
            a1->end(false);
            f.ms << timeMs([&] {
                held.ms << timeMs([&] {
                    QTest::sendKeyEvent(QTest::Click, a1, Qt::Key_unknown, QString(prefix.back()), Qt::NoModifier);
                });
                if (model->isSearching()) {
                    ++background;
                    settle();
                }
                grid->viewport()->repaint();
            });
        }
        out << "keystroke \"" << prefix << "\" -> " << grid->model()->rowCount() << " rows in the first page: median "
            << f.median() << " ms, max " << f.max() << " ms";
        if (background > 0)
            out << " (" << background << " of " << runs << " read in the background, window held median "
                << held.median() << " ms, max " << held.max() << " ms)";
        printFloor(prefix, f.median(), std::max(5, runs / 5));
        out << "\n";
    };
    for (const QString &p : { QStringLiteral("m"), QStringLiteral("mar"), QStringLiteral("maria s"),
             QStringLiteral("joã"), QStringLiteral("joa"), QStringLiteral("ÂNG"), QStringLiteral("xyzw"),
             QStringLiteral("mar*silva"), QStringLiteral("ma?ia"), QStringLiteral("mar#") })
        keystroke(p);

    // Patterns that may read much of the register: how long the keystroke
    // holds the window, and how long until the first page shows (read in the
    // background when it takes longer than a moment).
    auto backgroundKeystroke = [&](const QString &pattern) {
        Figures held, shown;
        for (int i = 0; i < std::max(5, runs / 5); ++i) {
            a1->setText(pattern.chopped(1));
            settle();
            a1->end(false);
            QElapsedTimer t;
            t.start();
            QTest::sendKeyEvent(QTest::Click, a1, Qt::Key_unknown, QString(pattern.back()), Qt::NoModifier);
            held.ms << t.nsecsElapsed() / 1e6;
            settle();
            grid->viewport()->repaint();
            shown.ms << t.nsecsElapsed() / 1e6;
        }
        out << "keystroke \"" << pattern << "\" -> " << model->rowCount() << " rows: window held median "
            << held.median() << " ms, max " << held.max() << " ms; first page shown median " << shown.median()
            << " ms, max " << shown.max() << " ms";
        printFloor(pattern, shown.median(), std::max(5, runs / 5));
        out << "\n";
    };
    for (const QString &p : { QStringLiteral("*silva"), QStringLiteral("*conceição"), QStringLiteral("*a"),
             QStringLiteral("?an"), QStringLiteral("?ana"), QStringLiteral("#ana"), QStringLiteral("*xyz"),
             QStringLiteral("*zq"), QStringLiteral("*z"), QStringLiteral("*ç"), QStringLiteral("*an"),
             QStringLiteral("*sil*ra"), QStringLiteral("*a?x") })
        backgroundKeystroke(p);

    // Picks of random contacts by code.
    {
        Figures f;
        QRandomGenerator rng(7);
        for (int i = 0; i < runs; ++i) {
            cd->setText(QString::number(rng.bounded(count) + 1));
            f.ms << timeMs([&] { w->loadPickedContact(); });
        }
        out << "pick (busca): median " << f.median() << " ms, max " << f.max() << " ms\n";
    }

    // Save a new contact, delete it (confirmed), clear: each with list refresh
    // and count.
    Figures save, remove, clear;
    for (int i = 0; i < runs; ++i) {
        w->clearForm();
        a1->setText(QStringLiteral("Zuleica Bench %1").arg(i));
        a4->setText(QStringLiteral("(11)3000-%1").arg(i, 4, 10, QLatin1Char('0')));
        save.ms << timeMs([&] { w->saveContact(); });
        if (boxes.last != QStringLiteral("Operação realizada com sucesso.")) {
            QTextStream(stderr) << "save failed: " << boxes.last << '\n';
            return 1;
        }
        remove.ms << timeMs([&] { w->deleteContact(); });
        clear.ms << timeMs([&] { w->clearForm(); });
    }
    out << "save: median " << save.median() << " ms, max " << save.max() << " ms\n"
        << "delete: median " << remove.median() << " ms, max " << remove.max() << " ms\n"
        << "clear: median " << clear.median() << " ms, max " << clear.max() << " ms\n";
    return 0;
}
