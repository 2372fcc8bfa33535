#pragma once

#include "core/contacts/NamePattern.h"

#include <QString>

#include <algorithm>

class QSqlDatabase;

// A name pattern in SQLite when no index narrows it to few rows: one that
// starts with a wildcard (when the trigram index cannot: a part shorter than
// three letters, or one that many names hold), or a prefix many names share
// but few match. Reading the name index in order finds a page soon when many
// names match near the start; the key it holds is checked first, but a name
// whose key fits is looked up in the table, and reading the table once costs
// about as much as looking up 4% of its rows. So the index is read in order
// for its first rows (further when they held many matches, and to the end of
// the prefix's names when few are left), and the table once for the matches
// beyond them, checked and sorted by functions computed in C (the SQL
// expressions are much slower to compute).
class SqliteNameScan
{
public:
    // The pattern as a GLOB over the case-folded name; or, `ofKey`, over
    // the sort key, which every match's key meets too (the key is the
    // folded name with its accents taken off, letter for letter): the name
    // index checks it without looking the row up in the table.
    static QString glob(const NamePattern &pattern, bool ofKey = false);
    // A condition in SQL that every name the pattern matches also meets: a
    // cheap first check before the exact GLOB over the case-folded name. A
    // LIKE compares the ASCII letters (ignoring their case as the folding
    // does) and other characters only by their number; a pattern with "#"
    // adds a GLOB that finds its digits. The patterns are written into the
    // statement rather than bound: a bound text comes as UTF-16 and would be
    // converted again for every row. `inC`: the functions below are known.
    static QString prefilterSql(const NamePattern &pattern, bool inC);
    // Whether the condition above is itself exact, so the case folding can
    // be spared: every literal character is ASCII, and the digits' GLOB
    // cannot align differently from the LIKE (no "*" before the end).
    static bool prefilterDecides(const NamePattern &pattern);
    // `text` as an SQL string's inside: each quote doubled.
    static QString quoted(QString text);
    // Makes known to this connection two functions of a name, computed in C
    // byte for byte as the SQL expressions of the register compute them: the
    // sort key the name index holds, and the case-folded name patterns are
    // matched against. False when they could not be made known.
    static bool makeFunctionsKnown(const QSqlDatabase &db);
    static constexpr const char *SortKeyFunction = "zuna_chave_nome";
    static constexpr const char *CaseFoldFunction = "zuna_dobra_nome";
    // And a third: whether a name holds a digit (1 or 0).
    static constexpr const char *DigitFunction = "zuna_tem_digito";

    // Rows of the name index read in order first, for a register of
    // `contacts`; so many that a page of matches found in them is seldom
    // missed, few next to the table (a small register's search is quick
    // whichever way it goes).
    static qint64 walkRows(qint64 contacts) { return std::min<qint64>(5000, contacts / 200); }
    // How far the reading in order goes on when the first rows held at
    // least a page's share of it: the table read would sort many matches.
    static qint64 moreWalkRows(qint64 contacts) { return std::min<qint64>(25000, contacts / 40); }
    // Rows left that are read in order rather than by reading the table:
    // their lookups cost less than the table read would.
    static qint64 wholeRangeRows(qint64 contacts) { return walkRows(contacts) + contacts / 25; }
};
