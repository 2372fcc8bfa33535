#pragma once

#include <QList>
#include <QString>

// Turns the digits a line sends into the number the register looks up: the
// key of a telephone number (the long-distance prefix and a carrier's code
// dropped, the local area code put in front of a local number), digits only.
//
// The exchange may put a one-digit caller category (1 ordinary, 2 prepaid,
// 3 test, 5 operator, 6 data, 7 payphone) in front of the number, and not
// every exchange does; SIP providers and NCID gateways may write the country
// code 55 without its "+". The digits are read only as numbers that can exist
// today (PhoneNumber::existsToday): "1987654321" is category 1 and the local
// mobile 98765-4321, as (19)8765-4321 cannot exist. Some digits read two ways
// ("11933334444": the mobile (11)93333-4444, or category 1 and the landline
// (19)3333-4444); both readings are given, for the register and the line's
// habit to decide between.
namespace NumberNormaliser {

// One way of reading the digits.
struct Reading
{
    QString key; // the telephone key
    bool category = false; // a caller category taken off the front
    // False for digits no reading of which exists today: they are keyed as
    // written, kept so that the attendant still sees what came.
    bool exists = true;
};

// Every reading of `received` that can exist today, the one without a
// category first; when none can, one reading of the digits as written (not
// `exists`); nothing for text without digits.
QList<Reading> readings(const QString &received, const QString &localAreaCode);

// The key of the one reading; empty when the digits read two ways.
QString normalise(const QString &received, const QString &localAreaCode);

// Whether what a line sent can be read as a number at all: ASCII digits, the
// blanks, brackets, dashes and dots a number is written with, and a '+' in
// front. Anything else (a letter, a digit of another script such as '٣' or
// '３') makes it unreadable: dropping that character would give another
// number.
bool isReadable(const QString &received);

} // namespace NumberNormaliser
