#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

// What the first-run assistant collected, and the data folder made from it.
// The folder is built beside its final place under a temporary name and
// renamed into place only when everything in it is ready, so a failure (a
// damaged Access file, a full disk) leaves nothing behind, as a cancelled
// assistant does.
struct FirstRunSetup
{
    enum class RegisterChoice {
        New, // an empty register here
        Access, // brought over from CADA.MDB (and ddd.MDB beside it, when there is one)
        Server, // the register on a PostgreSQL server
    };

    QString siteName;
    QString areaCode;
    RegisterChoice registerChoice = RegisterChoice::New;
    QString accessFile; // RegisterChoice::Access: the chosen CADA.MDB
    QString server; // RegisterChoice::Server: a libpq URI or key=value string
    // RegisterChoice::Server: the password, for libpq's password file
    // (~/.pgpass); empty: libpq finds it as it is.
    QString password;
    // The line's settings as the configuration screen wrote them, or empty
    // for the defaults.
    QString callerIdSettingsFile;

    // The ddd.MDB that goes with `accessFile`: the file of that name, in any
    // letter case, in the same folder; empty when there is none.
    QString accessAreaCodeFile() const;

    // Creates the data folder `dataDir`, which must not exist yet, as
    // `zuna --init` would (the same Access import and its checks, through
    // `workerProgram`), then writes the site name and the line's settings.
    // `report` receives what was done, one Portuguese line each. On a
    // server, a register already there is kept with its area code, and a
    // password goes into libpq's password file (taken out again when the
    // folder cannot be made). When `cancelled` becomes true while it works,
    // what was done is undone as after a failure.
    bool create(const QString &dataDir, const QString &workerProgram, QStringList *report, QString *error,
        const std::atomic<bool> *cancelled = nullptr) const;

private:
    // Everything but the rename, in the folder `dir` made for it.
    bool fill(const QString &dir, const QString &workerProgram, QStringList *report, QString *error,
        QString *addedPasswordLine) const;
};
