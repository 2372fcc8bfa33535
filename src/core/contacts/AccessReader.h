#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <vector>

// Reads one table of an Access (Jet) file with libmdb, row by row, with NULL
// told apart from empty text. libmdb's known traps are handled here: its
// environment settings, the bind size for long memos, tables opened from
// their own catalogue entries, files that "open" without being Access files.
class AccessReader
{
public:
    // Large enough for any memo Access keeps (65,535 characters as UTF-8); a
    // value that fills it is reported rather than stored cut short.
    static constexpr size_t BindSize = 256 * 1024;

    // One column bound to a buffer of ours.
    struct Bound
    {
        QString name;
        int index = -1; // position among the table's columns
        std::vector<char> buffer = std::vector<char>(BindSize);
        int length = 0;
        bool isNull = false;
        bool memo = false; // a long value, kept apart from the row
        bool filled() const { return length >= int(BindSize) - 1; }
    };
    using Columns = QList<std::shared_ptr<Bound>>;

    AccessReader();
    ~AccessReader();
    AccessReader(const AccessReader &) = delete;
    AccessReader &operator=(const AccessReader &) = delete;

    bool open(const QString &source, QString *error);
    // What libmdb said while reading, on its own standard error: it reports a
    // damaged file there (a page beyond the end, a memo of the wrong length)
    // and reads on, giving short or empty values. Empty when it said nothing.
    QString diagnostics();
    bool openTable(const QString &name, QString *error);
    // Binds the named columns present in the table (letter case ignored).
    Columns bind(const QStringList &wanted);
    // The number of rows the table says it holds.
    unsigned declaredRows() const;
    // Starts the table again from its first row.
    void rewind();
    // Reads the next row into the bound buffers. A row whose fields cannot be
    // told apart is a damaged one: `broken` is then set.
    bool next(const Columns &bound);
    bool broken() const { return m_broken; }

private:
    struct Handles;
    std::unique_ptr<Handles> m_handles;
    bool m_broken = false;
    int m_savedStderr = -1; // while libmdb's standard error goes to m_captured
    FILE *m_captured = nullptr;
};
