#pragma once

#include <QString>

// Keys that make names sort and match the way a Brazilian reader expects:
// letter case and accents do not split the order ("Ângela" sorts among the
// A's, "Érica" among the E's). Each key exists twice, as an SQL expression over
// a column and as a C++ function over a text, and the two give the same result.
// The SQL expressions use only SQLite's built-in functions, so that an index on
// them stays usable by the standard sqlite3 tool.
namespace NameKey {

// Accents removed and letters in lower case: the sort key.
QString sortKey(const QString &text);
QString sortKeySql(const QString &column);

// Letters in lower case, accents kept: for matching a typed prefix.
QString caseFold(const QString &text);
QString caseFoldSql(const QString &column);

} // namespace NameKey
