#pragma once

#include <QSqlDatabase>
#include <QString>

#include <limits>

// What an SQLite register file holds beside its contacts and how it is made:
// the tables kept from CADA by triggers (telephone keys, the count, the names'
// trigram index) and the call log, the indexes the register is read through,
// and the filling of the companions that a register made by an earlier
// version lacks, a slice at a time.
class SqliteSchema
{
public:
    // Rows brought into a companion in one transaction when an earlier register
    // is brought up to date: few enough that a save meanwhile waits only briefly.
    // Between two slices the register is left alone at least as long as a slice
    // took, so that a desk waiting to save gets its turn.
    static constexpr int SliceRows = 10000;
    static constexpr int MinPauseMs = 50;
    // Above this many rows holding a part of a name, the name index read in order
    // finds a page sooner than the rows found by their trigrams, sorted.
    static constexpr int DenseMatches = 2000;
    // The mark of a name index that holds every row.
    static constexpr qint64 AllRows = std::numeric_limits<qint64>::max();

    // The name's sort key in SQL, as NameKey::sortKey() computes it: built-in
    // functions only, so that the index on it stays usable by the sqlite3 tool.
    static QString sortKeySql(const QString &column);
    // The name case-folded, accents kept, as NameKey::caseFold() does it.
    static QString caseFoldSql(const QString &column);

    // The table, its companions and indexes, inside the caller's transaction.
    static bool create(const QSqlDatabase &db, QString *detail);
    // The companions a register made by an earlier version lacks, in one
    // transaction; fails when the file holds no CADA.
    static bool addMissing(const QSqlDatabase &db, const QString &filePath, QString *error);
    // Fills what the companions lack and builds the indexes; also sets the
    // count right.
    static bool buildIndexes(const QSqlDatabase &db, const QString &filePath, QString *error);
    // Up to which code the names' trigram index is filled; AllRows when whole.
    static qint64 namesIndexedUpTo(const QSqlDatabase &db);
};
