#pragma once

#include <QString>

// Brings a register from the original platform over: an Access 2000 (Jet 4)
// file, read with libmdb, copied into a new SQLite file in one transaction.
//
// libmdb can loop forever or crash on a damaged file, so the reading runs in
// a child process (`program` with the worker option) under a time limit. The
// SQLite file appears under its final name only when everything was read and
// committed; a failure leaves no file behind. The Access file is only read.
namespace AccessImport {

enum class Kind {
    Contacts, // table CADA into a register with the contact schema
    AreaCode, // table a1 into an area-code file
};

// The option that makes the program act as the import worker:
// `program --import-access-worker contacts|ddd SOURCE TARGET`.
inline const QString WorkerOption = QStringLiteral("import-access-worker");

constexpr int DefaultTimeoutMs = 120000;

// Runs the worker and moves its result to `target`. `rows` receives the number
// of rows copied.
bool importFile(const QString &program, Kind kind, const QString &source, const QString &target, int timeoutMs,
    qint64 *rows, QString *error);

// The worker's own work, in this process: reads `source` and writes a new
// SQLite file `target`. Prints nothing; returns false with a Portuguese error.
bool copyInProcess(Kind kind, const QString &source, const QString &target, qint64 *rows, QString *error);

// Entry point of the worker process: arguments after the option. Returns the
// exit status; prints the row count on success, the error on failure.
int runWorker(const QStringList &arguments);

} // namespace AccessImport
