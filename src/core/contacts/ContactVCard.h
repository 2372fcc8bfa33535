#pragma once

#include "core/contacts/ImportRow.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Contacts as vCards. Written: vCard 4.0 (RFC 6350), UTF-8, lines folded at
// 75 bytes. Read: vCard 2.1, 3.0 and 4.0 as phones and webmail export them
// (folded lines, quoted-printable values, groups, parameters in quotes), one
// contact per card: the name from FN (or N), the first telephone in A4 and
// the others in the notes, the first address in A9-A14, the notes.
class ContactVCard
{
public:
    // One contact's card, lines ended by CRLF.
    static QString card(const ContactRecord &record);
    // The cards of the file; a card cut short or with a line that is not a
    // property is returned marked damaged, with the line it starts on.
    static QList<ImportRow> read(const QByteArray &bytes);
    // Whether the bytes look like vCards (a BEGIN:VCARD line first).
    static bool looksLikeVCard(const QByteArray &bytes);
};
