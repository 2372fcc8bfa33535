#pragma once

#include "core/contacts/ContactCsv.h"
#include "core/contacts/ImportRow.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class Register;

// Contacts brought in from a CSV or vCard file: read and checked first, so
// that the attendant sees what will be written before anything is; then
// written in one transaction. A contact whose telephone the register already
// has (compared by key, however either was written), or an earlier row of the
// file has, is left out and reported; so is a damaged row, with its line.
// When asked, a contact the register already has is merged into the stored
// one instead (ContactMerge says how).
class ContactImport
{
public:
    // A stored contact and what it becomes with the rows of the file that
    // have its telephone.
    struct Merge
    {
        QList<int> lines;
        ContactRecord stored;
        ContactRecord merged;
    };

    struct Preview
    {
        QString format; // "CSV (UTF-8, separador ;)", "vCard"
        QList<ImportRow> toAdd;
        QList<ImportRow> duplicates; // damage holds what it repeats
        // The stored contacts that a merge would change, by first line.
        QList<Merge> merges;
        QList<ImportRow> damaged;
        QStringList ignoredColumns;
        // A CSV's header, what each column is taken as, the first row's
        // cells, and the columns to ask the user about (ContactCsv::Read).
        QStringList header;
        QList<ContactCsv::Column> columns;
        QStringList example;
        QList<int> unclear;
    };

    // Reads and checks the file against the register; `areaCode` is the
    // desk's, for telephones written without one; `chosen` settles CSV
    // columns by index, as the user chose their fields.
    // `progress` is told how many rows are checked, out of how many.
    static bool read(const QString &path, Register &reg, const QString &areaCode, Preview *preview, QString *error,
        const std::function<void(qint64 done, qint64 total)> &progress = {},
        const QHash<int, ContactCsv::Column> &chosen = {});
    // The preview as the terminal shows it: counts, the first contacts, the
    // duplicates (with `merge`, those merged apart) and the damaged rows with
    // their lines.
    static QString describe(const Preview &preview, int shown = 5, bool merge = false);
    // Writes the contacts to add and, with `merge`, the merged ones; all or
    // none. `progress` counts both.
    static bool write(
        Register &reg, const Preview &preview, bool merge, const std::function<void(qint64)> &progress, QString *error);
};
