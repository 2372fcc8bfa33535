#pragma once

#include <QString>
#include <QStringList>

// A telephone number as the register compares it: an identity, not a text.
// "(11) 3333-4444", "11 3333.4444", "+55 11 3333-4444", "011 3333-4444" and,
// at a desk in area 11, "3333-4444" are one number with one key. Parsing and
// classifying go through libphonenumber (region BR); what it cannot know stays
// here: the desk's own area code, and mobiles written before the ninth digit.
//
// The key is the Brazilian national number in digits, area code first
// ("1133334444", "11987654321"); a number written without an area code gets
// the desk's, when the desk has one. Non-geographic numbers are keyed as they
// are dialled ("08007771234", "40041234"). An old 8-digit mobile
// ("(11)8765-4321") is keyed with its ninth digit ("11987654321"), so that it
// matches the same mobile calling today.
class PhoneNumber
{
public:
    enum class Kind {
        NotANumber, // letters, a quote, too short, too long: kept as typed
        Local, // a subscriber number without an area code
        National, // area code and subscriber number
        NonGeographic, // 0800, 0300, 0500, 0900, 300X, 400X
        Foreign, // another country's number
    };

    // Reads a telephone as typed, stored or received. `localAreaCode` is the
    // desk's area code; an empty or malformed one counts as unknown.
    static PhoneNumber read(const QString &text, const QString &localAreaCode = {});

    // Two digits, neither of them zero: the shape of every Brazilian area code.
    static bool isAreaCode(const QString &text);

    Kind kind() const { return m_kind; }
    bool isNumber() const { return m_kind != Kind::NotANumber; }

    // Whether a number can be dialled today: a mobile has nine digits
    // beginning with 9, a landline eight beginning with 2 to 5, and the area
    // code and range are ones libphonenumber knows. A local number is judged
    // with the desk's area code, or by its shape alone when that is unknown.
    // Old 8-digit mobiles and 7-digit numbers, which registers still hold,
    // no longer exist on the line.
    bool existsToday() const;

    // The key a register gives this telephone when it is stored; a local
    // number gets the desk's area code in front when it is known. Empty when
    // the text has none. A text that is not a number may still have one, but
    // is never looked up (lookupKeys is empty).
    QString key() const;
    // The key of a stored telephone, by the same rules as the SQLite
    // triggers (data/phone-key.sql) and the PostgreSQL function
    // (data/postgres-schema.sql), which compute it for rows any program
    // writes; TestTelephoneKey holds the three to one answer. The rules keep
    // what older registers hold: a 7-digit number, an old 8-digit mobile
    // (keyed with its ninth digit).
    static QString storedKey(const QString &text);
    // Every key that a stored telephone of this line may carry: the key itself
    // and, for a number of the desk's own area, the subscriber number alone
    // (a telephone stored without an area code is keyed so).
    QStringList lookupKeys() const;

    // The number as Brazilians write it: "(11)3333-4444", "(11)98765-4321",
    // "(11)333-4444" (older registers), "0800 777 1234", "4004-1234"; the text
    // unchanged when it is not a number. With `completeLocal`, a local number
    // gets the desk's area code in front when it is known; without it (a number
    // still being typed) its digits are laid out as they are.
    QString layout(bool completeLocal = true) const;

private:
    QString m_text;
    Kind m_kind = Kind::NotANumber;
    QString m_localAreaCode; // the desk's, when valid
    QString m_areaCode; // the number's own, for a national number
    QString m_subscriber; // digits as written (no ninth digit added)
    QString m_digits; // a non-geographic or foreign number, as dialled
    QString m_formatted; // libphonenumber's layout, for the kinds we do not lay out ourselves
};
