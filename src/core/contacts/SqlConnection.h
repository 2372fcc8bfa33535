#pragma once

#include "core/contacts/RegisterProblem.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>

// A named connection to an existing SQLite file, closed and removed when the
// object goes. It never creates the file: a missing file is an error, so that
// a start on a wrong folder changes nothing on disk. Queries on it must be
// finished before it is destroyed (declare them after it in the same scope).
struct sqlite3;

class SqlConnection
{
public:
    enum class Mode { OpenExisting, Create };

    // `busyTimeoutMs`: how long a statement waits for a file that another
    // program holds busy before it fails (0: not at all).
    explicit SqlConnection(const QString &filePath, Mode mode = Mode::OpenExisting, int busyTimeoutMs = BusyTimeoutMs);
    ~SqlConnection();
    SqlConnection(const SqlConnection &) = delete;
    SqlConnection &operator=(const SqlConnection &) = delete;

    bool isOpen() const { return m_error.isEmpty(); }
    // Why the file could not be opened or is not a database.
    const QString &errorText() const { return m_error; }
    // What it met, from SQLite's result code; CantOpen when the file is
    // missing.
    RegisterProblem problem() const { return m_problem; }
    QSqlDatabase database() const;

    // Stops a statement running on this connection as soon as `shouldStop`
    // returns true (checked every few thousand steps of the statement); the
    // statement then fails as interrupted. An empty function removes the
    // check. False when the driver does not give access to SQLite itself.
    bool setInterruptCheck(std::function<bool()> shouldStop);

    // How long work off the window's thread waits for a file that another
    // program holds busy.
    static constexpr int BusyTimeoutMs = 5000;

private:
    void waitFinely(int busyTimeoutMs);
    sqlite3 *nativeHandle() const;

    QString m_name;
    QString m_error;
    int m_busyTimeoutMs = 0;
    RegisterProblem m_problem = RegisterProblem::None;
    std::function<bool()> m_shouldStop;
};

// Fills `error` with a Portuguese report of what failed, on which file and the
// database's own words, and returns false.
bool sqlFailure(QString *error, const QString &what, const QString &filePath, const QString &detail);

// What SQLite's result code (QSqlError::nativeErrorCode(), plain or
// extended) says the operation met.
RegisterProblem sqliteProblem(const QString &nativeCode);
// The attendant's words for a problem with the register's file, in
// Portuguese; empty for one that says nothing more than the operation's own.
QString sqliteProblemText(RegisterProblem problem);

// Runs the statements of a script (a resource or file), one after the other.
bool runSqlScript(const QSqlDatabase &db, const QString &scriptPath, QString *detail);
bool runSqlText(const QSqlDatabase &db, const QString &script, QString *detail);
