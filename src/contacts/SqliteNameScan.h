#pragma once

#include "contacts/NamePattern.h"

#include <QString>

class QSqlDatabase;

// A name pattern that starts with a wildcard, in SQLite, when the trigram
// index cannot narrow it (a part shorter than three letters, or one that many
// names hold): either the name index is read in order until a page is found,
// which is soon when many names match, or the table is read once and what
// matches is sorted, which is soon when few do. Reading the index in order
// looks each row up in the table, about a hundred times the cost of reading
// the row where it lies, so a sample of the table decides.
class SqliteNameScan
{
public:
    // A condition in SQL that every name the pattern matches also meets: a
    // cheap first check before the exact GLOB over the case-folded name. A
    // LIKE compares the ASCII letters (ignoring their case as the folding
    // does) and other characters only by their number; a pattern with "#"
    // adds a GLOB that finds its digits. The patterns are written into the
    // statement rather than bound: a bound text comes as UTF-16 and would be
    // converted again for every row.
    static QString prefilterSql(const NamePattern &pattern);
    // Whether reading the whole table finds `limit` rows meeting `prefilter`
    // sooner than reading the name index in order.
    static bool scanIsSooner(const QSqlDatabase &db, const QString &prefilter, int limit);
};
