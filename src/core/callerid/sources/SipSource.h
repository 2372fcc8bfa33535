#pragma once

#include "core/callerid/LineSource.h"

#include <memory>

class QTimer;

class Reconnector;
class SipAgent;

// Calls from a PBX or a SIP provider: the SIP user agent registers an account
// (its own, or one more registration of the desk phone's, which PBXs ring in
// parallel), or listens for INVITEs sent straight to it. It never answers: the
// caller hears the desk's phone ringing as before. The account's password is
// read from a file only its owner may read, and is never shown. A password
// refused RefusalsBeforeWaiting times in a row is tried again only minutes
// later (FirstWaitMinutes, doubling up to LongestWaitMinutes): a provider's
// intrusion protection bans an address that keeps failing to log in, the
// desk phone's with it.
class SipSource : public LineSource
{
    Q_OBJECT

public:
    static constexpr int RefusalsBeforeWaiting = 3;
    static constexpr int FirstWaitMinutes = 5;
    static constexpr int LongestWaitMinutes = 30;

    struct Setup
    {
        bool registering = false;
        QString address; // the account, or where to listen, as SipAddress reads it
        QString authUser; // empty: the account's user
        QString passwordFile; // registering only
        int expiresSeconds = 600;
        int maxTcpConnections = 0; // 0: below the process's file limit
    };

    SipSource(Setup setup, QString areaCode, QObject *parent = nullptr);
    ~SipSource() override;
    void start() override;
    void stop() override;
    QString lineName() const override;

    // The password in `path`: its first line. False, with a Portuguese message,
    // when the file is missing, unreadable, empty, or readable by others.
    static bool readPassword(const QString &path, QByteArray *password, QString *error);

private:
    void report(const QString &status, bool healthy);
    void refused(const QString &why);

    Setup m_setup;
    std::unique_ptr<SipAgent> m_agent;
    Reconnector *m_reconnect;
    QTimer *m_patience; // the long wait after refusals
    int m_refusals = 0; // in a row
    int m_generation = 0;
};
