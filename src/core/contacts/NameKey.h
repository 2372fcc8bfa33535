#pragma once

#include <QList>
#include <QString>

// Keys that make names sort and match the way a Brazilian reader expects:
// letter case and accents do not split the order ("Ângela" sorts among the
// A's, "Érica" among the E's). The register's backends compute the same keys
// in their own SQL, from the same table of letters.
namespace NameKey {

// An accented letter of Portuguese: its two cases and its plain letter.
struct Letter
{
    char16_t upper;
    char16_t lower;
    char base;
};
// The accented letters folded (SQLite's parser limits how deeply its
// function calls nest, which keeps the list to these).
const QList<Letter> &letters();

// Accents removed and letters in lower case: the sort key.
QString sortKey(const QString &text);

// Letters in lower case, accents kept: for matching a typed prefix. Only
// A-Z and the letters above change case.
QString caseFold(const QString &text);

} // namespace NameKey
