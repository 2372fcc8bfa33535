#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the benchmarks share: timings gathered over runs, the machine's load,
// child programs, and the copy of a data folder they work on.
namespace Bench {

// "12.34 ms" below 10 ms, "123.4 ms" above.
QString ms(double value);

// Timings of one measurement over the runs.
struct Figures
{
    QList<double> ms;
    double median() const;
    double max() const;
    // "median …, max …", or "none" when nothing was timed.
    QString text() const;
};

// The machine's load averages (1, 5, 15 min): figures taken while other
// programs kept its cores busy are told apart by it.
QString loadAverage();

// Runs a program to its end; false when it could not run or failed.
bool runProgram(const QString &program, const QStringList &arguments, QString *output, QString *errors);

// Copies the files of a data folder (not the lock of a copy of zuna running
// on it) into `to`, made when missing. Files named in `leaveOut` (letter case
// ignored) stay behind.
bool copyDataFolder(const QString &from, const QString &to, QString *error, const QStringList &leaveOut = {});

// The database a connection URI names.
QString databaseOf(const QString &url);

} // namespace Bench
