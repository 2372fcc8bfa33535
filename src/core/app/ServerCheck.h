#pragma once

#include <QString>

// A shared register's server as the first-run assistant tries it on the
// spot: whether it answers with these terms and this password, whether its
// database holds a register already (and its area code), and the account
// libpq used, for the line of the password file that lets later
// connections in without the password in Zuna's own files.
struct ServerCheck
{
    bool ok = false;
    QString error; // Portuguese, when not ok
    bool hasRegister = false;
    QString areaCode; // the register's, when it has one
    // The account as libpq's password file names it.
    QString host, port, database, user;

    // `password` empty: as libpq finds it (~/.pgpass, the terms themselves).
    static ServerCheck run(const QString &server, const QString &password);

    // The password file libpq reads: $PGPASSFILE, else ~/.pgpass.
    static QString passwordFile();
    // The file's line for this account and `password` (':' and '\' escaped).
    QString passwordLine(const QString &password) const;
    // Appends `line` to the password file unless it holds it already, the
    // file readable by its owner alone (libpq ignores it otherwise).
    // `added`: whether the line was written (for undoLine).
    static bool addLine(const QString &line, bool *added, QString *error);
    // Takes `line` out again; removes the file when nothing else is left.
    static void undoLine(const QString &line);
};
