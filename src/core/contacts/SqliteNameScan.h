#pragma once

#include "core/contacts/NamePattern.h"

#include <QString>

class QSqlDatabase;

// A name pattern that starts with a wildcard, in SQLite, when the trigram
// index cannot narrow it (a part shorter than three letters, or one that many
// names hold). Reading the name index in order finds a page soon when many
// names match near the start, but looks every row up in the table; reading
// the table once costs about as much as 30,000 of those lookups at a million
// contacts. So the index is read in order for its first rows, and
// the table once for the matches beyond them, checked and sorted by
// functions computed in C (the SQL expressions are much slower to compute).
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
    // `text` as an SQL string's inside: each quote doubled.
    static QString quoted(QString text);
    // Makes known to this connection two functions of a name, computed in C
    // byte for byte as the SQL expressions of the register compute them: the
    // sort key the name index holds, and the case-folded name patterns are
    // matched against. False when they could not be made known.
    static bool makeFunctionsKnown(const QSqlDatabase &db);
    static constexpr const char *SortKeyFunction = "zuna_chave_nome";
    static constexpr const char *CaseFoldFunction = "zuna_dobra_nome";

    // Rows of the name index read in order before the table is read instead:
    // few when a sample of the table finds few names meeting `prefilter`;
    // more when it finds many (above one in a hundred), since the table read
    // then sorts many.
    static int walkRows(const QSqlDatabase &db, const QString &prefilter);
    static constexpr int FewMatchWalkRows = 5000;
    static constexpr int ManyMatchWalkRows = 25000;
};
