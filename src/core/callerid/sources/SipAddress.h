#pragma once

#include <QString>

// Where the SIP source reaches its PBX or listens, as callerid.ini and
// `zuna --line` write it: an account "USER@HOST[:PORT][;transport=tcp]"
// (a leading "sip:" allowed) or a listening address "[ADDRESS:]PORT".
// IPv6 addresses go in brackets.
struct SipAddress
{
    QString user; // empty when listening
    QString host; // the registrar, or the address to listen on (empty: all)
    int port = 5060;
    bool tcp = false; // the transport to the registrar

    static bool readAccount(const QString &text, SipAddress *address, QString *error);
    static bool readListening(const QString &text, SipAddress *address, QString *error);
};
