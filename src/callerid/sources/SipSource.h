#pragma once

#include "callerid/LineSource.h"

#include <memory>

class Reconnector;
class SipAgent;

// Calls from a PBX or a SIP provider: the SIP user agent registers an account
// (its own, or one more registration of the desk phone's, which PBXs ring in
// parallel), or listens for INVITEs sent straight to it. It never answers: the
// caller hears the desk's phone ringing as before. The account's password is
// read from a file only its owner may read, and is never shown.
class SipSource : public LineSource
{
    Q_OBJECT

public:
    struct Setup
    {
        bool registering = false;
        QString address; // the account, or where to listen, as SipAddress reads it
        QString authUser; // empty: the account's user
        QString passwordFile; // registering only
        int expiresSeconds = 600;
    };

    SipSource(Setup setup, QString areaCode, QObject *parent = nullptr);
    ~SipSource() override;
    void start() override;
    void stop() override;

    // The password in `path`: its first line. False, with a Portuguese message,
    // when the file is missing, unreadable, empty, or readable by others.
    static bool readPassword(const QString &path, QByteArray *password, QString *error);

private:
    void report(const QString &status, bool healthy);

    Setup m_setup;
    std::unique_ptr<SipAgent> m_agent;
    Reconnector *m_reconnect;
    int m_generation = 0;
};
