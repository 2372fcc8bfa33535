#pragma once

#include "core/callerid/DtmfMessageParser.h"
#include "core/callerid/sources/SipAddress.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

// A SIP user agent that only listens: libre's SIP stack on a thread of its
// own. It registers an account to a PBX or provider (digest authentication,
// UDP or TCP), or listens for INVITEs sent straight to it. For each INVITE it
// reads the caller and answers 180 Ringing, never 200: the call goes on
// ringing at the desk's phone. A CANCEL (the caller gave up, or the call was
// answered elsewhere) gets its 200 and the INVITE its 487; a call still
// ringing after MaxRingSeconds gets 480, so that no transaction is left
// open. Everything sent and received is written to the "zuna.sip" logging
// category (off by default); digest answers carry no password.
//
// What a peer may cost is bounded: ringing places are shared among senders
// (SipRingPlaces), TCP connections kept under a cap (SipTcpCap), malformed
// requests refused (SipRequestCheck); registered, only the registrar's
// addresses may call. The registration is renewed at least every
// RefreshSeconds, so that a registrar that restarted and forgot it has it
// back within a minute; over TCP a lost connection is noticed at once.
//
// The handlers are called on the agent's thread.
class SipAgent
{
public:
    // A caller's phone gives up long before (a PBX rings a desk 20 to 60 s
    // before it sends the call elsewhere); the place is not held past that.
    static constexpr int MaxRingSeconds = 60;
    static constexpr int RefreshSeconds = 45;
    // Longer validities are asked as this: renewing every RefreshSeconds
    // takes a refresh of at least 5 % of it, libre's least.
    static constexpr int MaxExpiresSeconds = 900;

    struct Setup
    {
        bool registering = false;
        SipAddress address; // the account, or where to listen
        QByteArray authUser; // empty: the account's user
        QByteArray password;
        int expiresSeconds = 600;
        int maxTcpConnections = 0; // 0: below the process's file limit
    };
    struct Handlers
    {
        std::function<void(const CallerIdMessage &)> call;
        std::function<void(const QString &status, bool healthy)> status;
        // The registrar refused the account's user or password; `why` says
        // where and how, without what to do next.
        std::function<void(const QString &why)> refused;
    };

    SipAgent(Setup setup, Handlers handlers);
    ~SipAgent();
    SipAgent(const SipAgent &) = delete;
    SipAgent &operator=(const SipAgent &) = delete;

    // After a failure: bind again when binding failed, register again when
    // registering failed. From any thread.
    void retry();

private:
    struct Stack;
    std::unique_ptr<Stack> m_stack;
    std::thread m_thread;
};
