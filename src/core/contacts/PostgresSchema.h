#pragma once

#include <QSqlDatabase>
#include <QString>

class Register;

// The register's tables, functions and indexes on a PostgreSQL server:
// made on an empty database, completed for a register an earlier version
// made, and filled from a desk's own register.
class PostgresSchema
{
public:
    // Creates them on an empty database (zuna --init --database). A database
    // that has them already is left as it is: a failure, unless
    // `alreadyThere` is given to be told.
    static bool create(const QString &server, QString *error, bool *alreadyThere = nullptr);
    // Adds the call log to a register made before it; `detail`: why not.
    static bool addCallLog(QSqlDatabase db, QString *detail);
    // Replaces the single count row of a register made before the count was
    // kept in parts, counting its contacts anew; `detail`: why not.
    static bool addCountParts(QSqlDatabase db, QString *detail);
    // Whether the triggers' functions are this version's (the notice names
    // the server process that wrote; the count goes beyond its parts rather
    // than wait), as an expression for a query's column; true too when the
    // connection's user may not replace them, so that it is not tried.
    static const QString FunctionsUpToDate;
    // Replaces the triggers' functions of a register an earlier version
    // made; `detail`: why not.
    static bool updateFunctions(QSqlDatabase db, QString *detail);
    // Brings a register an earlier version made up to date, on a connection
    // of its own without time limits (the contacts may be counted anew). The
    // notice left as it was, when it cannot be replaced, fails nothing.
    static bool complete(
        const QString &server, bool hasCallLog, bool hasCountParts, bool functionsUpToDate, QString *detail);
    // Copies a desk's SQLite register, its call log and its area code into
    // the server's empty register, codes and call ids kept, in one
    // transaction (zuna --copy-register).
    static bool copyFrom(Register &source, const QString &server, qint64 *copied, QString *error);
};
