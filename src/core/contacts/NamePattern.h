#pragma once

#include <QList>
#include <QString>

// What the attendant types in the name field, turned into a search on the
// beginning of the name. Letter case is ignored for every letter; "*" stands
// for any run of characters, "?" for one character and "#" for one digit;
// every other character is itself (a quote, "%", "_" or "[" included). Each
// backend of the register turns the pieces into its own kind of pattern.
struct NamePattern
{
    struct Piece
    {
        enum class Kind { Literal, AnyRun, AnyCharacter, Digit };
        Kind kind = Kind::Literal;
        QString text; // a Literal's characters, case-folded
        bool operator==(const Piece &) const = default;
    };

    // The pattern over the case-folded name, matched from its start and open
    // at its end; empty when everyone matches.
    QList<Piece> pieces;
    // The sort-key range that every match lies in (from the text before the
    // first wildcard); both empty when the text starts with a wildcard.
    QString lowKey;
    QString highKey;
    // For a text that starts with a wildcard: its longest run of at least
    // three literal characters, case-folded, which every match contains.
    QString infix;

    // A NUL typed or pasted: no name holds one (PostgreSQL's text cannot),
    // so nobody matches, on either backend.
    bool nobody = false;

    static NamePattern fromTyped(const QString &typed);
    bool matchesEveryone() const { return pieces.isEmpty() && !nobody; }
    bool matchesNobody() const { return nobody; }
};
