#pragma once

#include "core/callerid/DtmfMessageParser.h"

#include <QByteArray>

// Who is calling, as an INVITE names the caller: P-Asserted-Identity (set by
// the network, trusted), then Remote-Party-ID (older PBXs), then From, each
// with its display name. A caller who asked for privacy, or whose identity is
// "anonymous", is withheld; an identity without a number is unavailable. The
// number is handed over as sent ("+551133334444", "011 3333-4444", "201"),
// with the caller's name when one came.
class SipCaller
{
public:
    struct Headers
    {
        QByteArray assertedIdentity; // P-Asserted-Identity
        QByteArray remotePartyId; // Remote-Party-ID
        QByteArray from;
        QByteArray privacy; // Privacy
    };

    static CallerIdMessage read(const Headers &headers);

    // The parts of one name-addr or addr-spec ("Name" <sip:user@host>;tag=x,
    // sip:user@host, <tel:+55...>): the display name unquoted, the URI's
    // scheme, its user part (the number of a tel: URI) and the header's own
    // parameters. False when the text is not an address.
    struct Address
    {
        QString displayName;
        QString scheme;
        QString user;
        QString parameters;
    };
    static bool readAddress(const QByteArray &text, Address *address);
};
