#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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
        bool filled() const { return length >= int(BindSize) - 1; }
    };
    using Columns = QList<std::shared_ptr<Bound>>;

    AccessReader();
    ~AccessReader();
    AccessReader(const AccessReader &) = delete;
    AccessReader &operator=(const AccessReader &) = delete;

    bool open(const QString &source, QString *error);
    bool openTable(const QString &name, QString *error);
    // Binds the named columns present in the table (letter case ignored).
    Columns bind(const QStringList &wanted);
    // The number of rows the table says it holds.
    unsigned declaredRows() const;
    // Starts the table again from its first row.
    void rewind();
    // Reads the next row into the bound buffers.
    bool next(const Columns &bound);

private:
    struct Handles;
    std::unique_ptr<Handles> m_handles;
};
