#pragma once

#include <QDateTime>
#include <QString>

// Which calls of the log to list.
struct CallFilter
{
    QDateTime since; // invalid: from the first
    bool unknownOnly = false; // only callers not in the register
    QString text; // part of the number or of a name; empty: any

    // What a call's text filter looks in: the names folded as the name search
    // folds them, and the number's digits.
    static QString searchText(const QString &contactName, const QString &callerName, const QString &key);
    // The typed filter in the same form: digits when it has no letter (a
    // number typed with blanks, brackets or dashes), else the folded text;
    // empty (no filter) while it holds neither a letter nor a digit.
    static QString needle(const QString &typed);
    // Whether the typed filter holds what no call's text can (a NUL): then
    // no call matches, on either backend.
    static bool findsNothing(const QString &typed) { return typed.contains(QChar(0)); }
};
