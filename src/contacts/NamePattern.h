#pragma once

#include <QString>

// What the attendant types in the name field, turned into a search on the
// beginning of the name. Letter case is ignored for every letter; "*" stands
// for any run of characters, "?" for one character and "#" for one digit;
// every other character is itself (a quote, "%", "_" or "[" included).
struct NamePattern
{
    // The sort-key range that every match lies in (from the text before the
    // first wildcard); both empty when the text starts with a wildcard.
    QString lowKey;
    QString highKey;
    // A GLOB pattern over the case-folded name; empty when everyone matches.
    QString glob;
    // For a text that starts with a wildcard: its longest run of at least
    // three literal characters, case-folded, which every match contains.
    QString infix;

    static NamePattern fromTyped(const QString &typed);
    bool matchesEveryone() const { return glob.isEmpty(); }
};
