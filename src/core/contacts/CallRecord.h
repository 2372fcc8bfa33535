#pragma once

#include <QDateTime>
#include <QString>

// One call that came in, as the call log keeps it.
struct CallRecord
{
    // What the line said about the number.
    enum class Kind { Number, Withheld, Unavailable, International, Unreadable };

    qint64 id = 0; // 0 while not logged; a newer call has a higher id
    QDateTime when; // local time
    Kind kind = Kind::Number;
    QString received; // the digits as the line sent them; empty when none
    QString key; // the number's key (national digits); empty when none
    QString laidOut; // the number as the window shows it, or the line's word for none
    QString callerName; // the name the line sent, when it sent one
    QString source; // where it came from: the line source's name, or the local socket
    QString line; // which device, port or server
    qint64 contactCode = 0; // the contact found; 0: not in the register
    QString contactName; // its name when the call came

    bool operator==(const CallRecord &) const = default;

    static QString kindName(Kind kind);
    static Kind kindFromName(const QString &name);
};
