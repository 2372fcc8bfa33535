#include "core/contacts/SqliteNameScan.h"

#include "core/contacts/NameKey.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace {

// A name's bytes with the accented letters of NameKey::letters() replaced as
// the SQL expressions do it (by the base letter for the sort key, by the
// lower-case letter for the case folding), then A-Z lowered: on the UTF-8
// bytes themselves, so that bytes that are no character come out as those
// expressions leave them. Every letter of the table lies below U+0800, two
// bytes in UTF-8: a table indexed by those two bytes finds its replacement
// without a search, as these functions run for every row a scan keeps.
struct Replacements
{
    static constexpr int Leads = 0x20; // 0xC0..0xDF
    static constexpr int Follows = 0x40; // 0x80..0xBF
    // Per pair: how many bytes replace it (0: none, the pair stays), and them.
    quint8 size[Leads * Follows] = {};
    char bytes[Leads * Follows][2] = {};

    void set(char16_t letter, const QByteArray &by)
    {
        const QByteArray utf8 = QString(QChar(letter)).toUtf8();
        const int at = (quint8(utf8.at(0)) - 0xC0) * Follows + (quint8(utf8.at(1)) - 0x80);
        size[at] = quint8(by.size());
        for (qsizetype i = 0; i < by.size(); ++i)
            bytes[at][i] = by.at(i);
    }
};

const Replacements &sortKeyReplacements()
{
    static const Replacements r = [] {
        Replacements t;
        for (const NameKey::Letter &l : NameKey::letters()) {
            t.set(l.upper, QByteArray(1, l.base));
            t.set(l.lower, QByteArray(1, l.base));
        }
        return t;
    }();
    return r;
}

const Replacements &caseFoldReplacements()
{
    static const Replacements r = [] {
        Replacements t;
        for (const NameKey::Letter &l : NameKey::letters())
            t.set(l.upper, QString(QChar(l.lower)).toUtf8());
        return t;
    }();
    return r;
}

void replaced(sqlite3_context *context, int, sqlite3_value **argv)
{
    const Replacements &r = *static_cast<const Replacements *>(sqlite3_user_data(context));
    const auto *text = sqlite3_value_text(argv[0]);
    const int size = sqlite3_value_bytes(argv[0]);
    if (!text) {
        sqlite3_result_text(context, "", 0, SQLITE_STATIC);
        return;
    }
    // No replacement is longer than its pair: the result is never longer.
    constexpr int OnStack = 256;
    char onStack[OnStack];
    char *out = size <= OnStack ? onStack : static_cast<char *>(sqlite3_malloc(size));
    if (!out) {
        sqlite3_result_error_nomem(context);
        return;
    }
    int n = 0;
    for (int i = 0; i < size; ++i) {
        const unsigned char b = text[i];
        if (b >= 0xC0 && b < 0xE0 && i + 1 < size && text[i + 1] >= 0x80 && text[i + 1] < 0xC0) {
            const int at = (b - 0xC0) * Replacements::Follows + (text[i + 1] - 0x80);
            if (r.size[at] > 0) {
                for (int k = 0; k < r.size[at]; ++k)
                    out[n++] = r.bytes[at][k];
                ++i;
                continue;
            }
        }
        out[n++] = (b >= 'A' && b <= 'Z') ? char(b + 32) : char(b);
    }
    if (out == onStack)
        sqlite3_result_text(context, out, n, SQLITE_TRANSIENT);
    else
        sqlite3_result_text(context, out, n, sqlite3_free);
}

// Whether a name holds an ASCII digit: what GLOB '*[0-9]*' tells, which
// SQLite takes ten times as long to find out (it tries the class at every
// character).
void holdsDigit(sqlite3_context *context, int, sqlite3_value **argv)
{
    const auto *text = sqlite3_value_text(argv[0]);
    const int size = sqlite3_value_bytes(argv[0]);
    bool found = false;
    for (int i = 0; i < size && !found; ++i)
        found = text[i] >= '0' && text[i] <= '9';
    sqlite3_result_int(context, found ? 1 : 0);
}

} // namespace

QString SqliteNameScan::quoted(QString text)
{
    return text.replace(QLatin1Char('\''), QLatin1String("''"));
}

bool SqliteNameScan::makeFunctionsKnown(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *native = *static_cast<sqlite3 *const *>(handle.constData());
    if (!native)
        return false;
    // Made known once per connection: making a function known again would
    // fail while a statement runs, and make SQLite prepare every statement
    // of the connection again.
    sqlite3_stmt *probe = nullptr;
    const QByteArray known
        = QByteArray("SELECT ") + SortKeyFunction + "(''), " + CaseFoldFunction + "(''), " + DigitFunction + "('')";
    const bool already = sqlite3_prepare_v2(native, known.constData(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    if (already)
        return true;
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    return sqlite3_create_function_v2(native, SortKeyFunction, 1, flags,
               const_cast<Replacements *>(&sortKeyReplacements()), replaced, nullptr, nullptr, nullptr)
        == SQLITE_OK
        && sqlite3_create_function_v2(native, CaseFoldFunction, 1, flags,
               const_cast<Replacements *>(&caseFoldReplacements()), replaced, nullptr, nullptr, nullptr)
        == SQLITE_OK
        && sqlite3_create_function_v2(native, DigitFunction, 1, flags, nullptr, holdsDigit, nullptr, nullptr, nullptr)
        == SQLITE_OK;
}

QString SqliteNameScan::prefilterSql(const NamePattern &pattern, bool inC)
{
    QString like;
    QString digits; // a GLOB over the name as stored: its digits, the rest any character
    bool hasDigit = false;
    bool runBeforeDigit = false;
    bool escaped = false;
    bool onlyRuns = true; // the pattern matches an empty name too
    for (const NamePattern::Piece &p : pattern.pieces) {
        onlyRuns = onlyRuns && p.kind == NamePattern::Piece::Kind::AnyRun;
        switch (p.kind) {
        case NamePattern::Piece::Kind::AnyRun:
            like += QLatin1Char('%');
            digits += QLatin1Char('*');
            break;
        case NamePattern::Piece::Kind::AnyCharacter:
            like += QLatin1Char('_');
            digits += QLatin1Char('?');
            break;
        case NamePattern::Piece::Kind::Digit:
            like += QLatin1Char('_');
            digits += QStringLiteral("[0-9]");
            runBeforeDigit = runBeforeDigit || digits.contains(QLatin1Char('*'));
            hasDigit = true;
            break;
        case NamePattern::Piece::Kind::Literal:
            for (const QChar c : p.text) {
                if (c.isHighSurrogate())
                    continue; // a pair is one character: its low half stands for it
                digits += QLatin1Char('?');
                if (c.unicode() >= 0x80) {
                    like += QLatin1Char('_');
                } else if (c == u'%' || c == u'_' || c == u'\\') {
                    like += QLatin1Char('\\') + c;
                    escaped = true;
                } else {
                    like += c;
                }
            }
            break;
        }
    }
    // A NULL name is read as empty text; it matches nothing that needs a
    // character. LIKE without ESCAPE, and A1 itself, are quicker to check.
    const QString name = onlyRuns ? QStringLiteral("coalesce(A1, '')") : QStringLiteral("A1");
    QString sql = QStringLiteral("%1 LIKE '%2%'").arg(name, quoted(like));
    if (escaped)
        sql += QStringLiteral(" ESCAPE '\\'");
    // A digit after a "*" makes the GLOB slow to fail: names without any
    // digit, nearly all of them, are told apart first.
    if (hasDigit && runBeforeDigit && inC)
        sql += QStringLiteral(" AND %1(A1)").arg(QLatin1String(DigitFunction));
    if (hasDigit)
        sql += QStringLiteral(" AND %1 GLOB '%2*'").arg(name, quoted(digits));
    return sql;
}

QString SqliteNameScan::glob(const NamePattern &pattern, bool ofKey)
{
    QString glob;
    for (const NamePattern::Piece &p : pattern.pieces) {
        switch (p.kind) {
        case NamePattern::Piece::Kind::AnyRun: glob += QLatin1Char('*'); break;
        case NamePattern::Piece::Kind::AnyCharacter: glob += QLatin1Char('?'); break;
        case NamePattern::Piece::Kind::Digit: glob += QStringLiteral("[0-9]"); break;
        case NamePattern::Piece::Kind::Literal:
            for (const QChar c : ofKey ? NameKey::sortKey(p.text) : p.text) {
                // GLOB's own special characters stand for themselves in brackets.
                if (c == u'*' || c == u'?' || c == u'[' || c == u']')
                    glob += QLatin1Char('[') + c + QLatin1Char(']');
                else
                    glob += c;
            }
            break;
        }
    }
    return glob + QLatin1Char('*');
}

bool SqliteNameScan::prefilterDecides(const NamePattern &pattern)
{
    bool anyRun = false;
    bool digit = false;
    for (const NamePattern::Piece &p : pattern.pieces) {
        anyRun = anyRun || p.kind == NamePattern::Piece::Kind::AnyRun;
        digit = digit || p.kind == NamePattern::Piece::Kind::Digit;
        for (const QChar c : p.text) {
            if (c.unicode() >= 0x80)
                return false;
        }
    }
    return !(anyRun && digit);
}
