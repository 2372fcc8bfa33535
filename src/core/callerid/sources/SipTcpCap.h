#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <unordered_map>

struct sa;

// Keeps the TCP connections peers open to the SIP agent under a cap, so that
// idle connections cannot take the files the rest of the program needs
// (libre accepts every connection and keeps an idle one for 15 minutes).
// libre has no hook at accept: a second descriptor of the listening socket,
// watched on the agent's loop, wakes the cap whenever a connection waits to
// be accepted, and the connections are counted right after libre took it.
// Past the cap, the connections idle longest (by the second; the oldest
// first among the equally idle) are shut down; libre sees them end and
// frees them as it frees any other. On the agent's thread.
class SipTcpCap
{
public:
    // The process's file limit, as far as the agent's loop can watch.
    static int fileLimit();
    // Half the file limit: the other half stays for the rest of the program.
    static int defaultCap() { return fileLimit() / 2; }

    SipTcpCap();
    ~SipTcpCap();
    SipTcpCap(const SipTcpCap &) = delete;
    SipTcpCap &operator=(const SipTcpCap &) = delete;

    // Watches the listening socket bound to `local`. `spare` says which
    // peers keep their connection whatever its age (a call still ringing).
    bool start(const struct sa *local, int cap, std::function<bool(const struct sa *peer)> spare);
    void stop();
    // Shuts down connections past the cap; the number left open.
    int trim();

private:
    static void onPending(int flags, void *arg);
    static void onAccepted(void *arg);
    bool isAcceptedHere(int fd) const;

    struct Seen
    {
        ino_t inode;
        uint64_t order;
        bool ours; // accepted on the watched socket
    };
    int m_watch = -1;
    int m_cap = 0;
    struct sockaddr_storage m_local = {};
    std::function<bool(const struct sa *)> m_spare;
    std::unordered_map<int, Seen> m_seen; // by descriptor, in the order first met
    uint64_t m_nextOrder = 0;

    struct Timer;
    Timer *m_timer;
};
