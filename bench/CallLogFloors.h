#pragma once

#include "BenchSupport.h"
#include "CallsBench.h"

#include <QList>
#include <QSqlDatabase>

// The floors of bench-calls: the statements the register runs for a filter,
// timed bare through SQLite and libpq, and the plans of slow ones.
namespace CallsBench {

QStringList sqliteStatements(const State &state, const QSqlDatabase &db);
QString postgresStatement(const State &state);
QList<Bench::Figures> bareSqlite(const QString &file, const QList<QStringList> &statements, int runs);
QList<Bench::Figures> barePostgres(const QString &url, const QStringList &statements, int runs);
QString indented(const QString &text, const QString &indent = QStringLiteral("      "));
void loggedPlans(const QString &logFile, qint64 from, qint64 upTo);

} // namespace CallsBench
