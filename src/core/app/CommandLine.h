#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

// What the command line asks for.
struct CommandLine
{
    QString dataDir; // --data-dir DIR; empty: found as usual
    bool init = false;
    QString areaCode; // --ddd AA, with --init: the desk's own area code
    QString databaseUrl; // --database URL: the register's server for this run (or, with --init, from now on)
    QString copyRegisterTo; // --copy-register URL
    bool callerIdSetup = false; // --callerid-setup
    QString decodeFile; // --decode FILE
    QString callNumber; // --call NUMBER
    QString line; // --line SOURCE: the caller-ID line for this run
    QString open; // --abrir chamadas|configuracao: in the running copy, else after the start
    bool listCalls = false; // --chamadas: print the call log
    QDate callsSince; // --desde AAAA-MM-DD, with --chamadas
    bool csv = false; // --csv, with --chamadas
    bool backup = false; // --backup [FILE]: a copy of the register now
    QString backupFile; // empty: into the folder of copies
    QString restoreFile; // --restore FILE
    QString exportFile; // --export-contacts FILE.csv|FILE.vcf
    QString importFile; // --import-contacts FILE
    bool yes = false; // --yes, with --import-contacts: no question asked
    bool merge = false; // --merge, with --import-contacts: duplicates merged
    QStringList columnMap; // --map COLUMN=FIELD (repeated), with --import-contacts
    bool help = false;
    bool version = false;

    // Parses the program's arguments (the first is the program itself). False
    // with a Portuguese message for an unknown option or a missing value.
    static bool parse(const QStringList &arguments, CommandLine *result, QString *error);

    static QString helpText();
    static QString versionText();

    // Exit status for a command line that cannot be understood.
    static constexpr int UsageError = 2;
    // zuna --decode: the recording is cut short or has damaged samples; what
    // could be heard in it is listed all the same.
    static constexpr int RecordingDamaged = 3;
};
