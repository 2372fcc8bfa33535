#pragma once

#include "callerid/DtmfMessageParser.h"
#include "callerid/sources/SipAddress.h"

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
// The handlers are called on the agent's thread.
class SipAgent
{
public:
    static constexpr int MaxRingSeconds = 180;

    struct Setup
    {
        bool registering = false;
        SipAddress address; // the account, or where to listen
        QByteArray authUser; // empty: the account's user
        QByteArray password;
        int expiresSeconds = 600;
    };
    struct Handlers
    {
        std::function<void(const CallerIdMessage &)> call;
        std::function<void(const QString &status, bool healthy)> status;
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
