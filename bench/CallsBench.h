#pragma once

#include "core/contacts/CallFilter.h"
#include "gui/app/CallListModel.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdlib>

// What the parts of bench-calls share: where figures go, how the bench gives
// up, a row of figures for both backends, and the calls window's filters.
namespace CallsBench {

inline QTextStream out { stdout };

// The rows of a page of the calls window.
constexpr int PageSize = CallListModel::PageSize;

enum Backend { Sqlite, Postgres, Backends };
inline const char *const BackendNames[] = { "sqlite", "postgresql" };

[[noreturn]] inline void die(const QString &why)
{
    out.flush();
    QTextStream(stderr) << "bench-calls: " << why << '\n';
    std::exit(1);
}

// A row of figures: what, then SQLite's and PostgreSQL's side by side.
inline void row(const QString &what, const QString &sqlite, const QString &postgres)
{
    out << what.leftJustified(50) << ' ' << sqlite.leftJustified(42) << ' ' << postgres << '\n';
}

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

} // namespace CallsBench
