#pragma once

#include <QString>

#include <functional>

class Register;

// Copies of a register as SQLite files, made while the register is in use and
// checked before they are kept.
class RegisterBackup
{
public:
    // Told how far the copy is (pages or contacts) out of how many.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    struct Stats
    {
        int restarts = 0; // times a save meanwhile made the copy start over
        qint64 pages = 0;
    };

    // Copies the SQLite register file `source` to `target` (a new file)
    // through SQLite's online backup API, a slice of pages at a time so that
    // saves go on meanwhile, then runs SQLite's integrity check on the copy.
    // A save in between makes SQLite start the copy over; each time that
    // happens the slices grow, so that the copy always ends. On a failure
    // `target` is removed.
    // With `checked` false the copy is kept as SQLite read it, checked or
    // not (the register about to be replaced, kept whatever its state).
    static bool copyFile(const QString &source, const QString &target, QString *error, const Progress &progress = {},
        Stats *stats = nullptr, bool checked = true);
    // A portable SQLite register at `target` (a new file) holding every
    // contact of `source`, any backend, with its code, its call log and its
    // area code.
    static bool copyRegister(Register &source, const QString &target, QString *error, const Progress &progress = {});
    // Whether the file is a whole SQLite register: the integrity check passes
    // and it holds the contacts' table; `contacts` receives their number.
    static bool check(const QString &path, qint64 *contacts, QString *error);
};
