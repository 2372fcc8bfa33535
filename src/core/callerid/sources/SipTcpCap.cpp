#include "core/callerid/sources/SipTcpCap.h"

#include "core/callerid/sources/SipStack.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Descriptors the agent's loop can watch, however high the limit.
constexpr rlim_t MostFiles = 65536;

} // namespace

struct SipTcpCap::Timer
{
    struct tmr tmr;
};

int SipTcpCap::fileLimit()
{
    struct rlimit limit = {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return int(MostFiles);
    return int(std::min(limit.rlim_cur, MostFiles));
}

SipTcpCap::SipTcpCap()
    : m_timer(new Timer)
{
    tmr_init(&m_timer->tmr);
}

SipTcpCap::~SipTcpCap()
{
    stop();
    delete m_timer;
}

bool SipTcpCap::start(const struct sa *local, int cap, std::function<bool(const struct sa *)> spare)
{
    stop();
    m_cap = std::max(cap, 1);
    m_spare = std::move(spare);
    m_local = {};
    std::memcpy(&m_local, &local->u, std::min(sizeof(m_local), size_t(local->len)));
    // The listening socket libre made for `local`.
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return false;
    int listening = -1;
    while (const struct dirent *entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || fd == dirfd(dir))
            continue;
        int accepting = 0;
        socklen_t size = sizeof(accepting);
        struct sa bound;
        sa_init(&bound, AF_UNSPEC);
        bound.len = sizeof(bound.u);
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) == 0 && accepting
            && getsockname(fd, &bound.u.sa, &bound.len) == 0 && sa_cmp(&bound, local, SA_ALL)) {
            listening = fd;
            break;
        }
    }
    closedir(dir);
    if (listening < 0)
        return false;
    m_watch = fcntl(listening, F_DUPFD_CLOEXEC, 0);
    if (m_watch < 0)
        return false;
    // libre listens with a backlog of 5: a burst of connections, or one
    // counting, would have the next ones' SYNs dropped and retried a
    // second later. Listening again only lengthens the queue.
    ::listen(m_watch, SOMAXCONN);
    if (fd_listen(m_watch, FD_READ, &SipTcpCap::onPending, this) != 0) {
        close(m_watch);
        m_watch = -1;
        return false;
    }
    return true;
}

void SipTcpCap::stop()
{
    tmr_cancel(&m_timer->tmr);
    if (m_watch >= 0) {
        fd_close(m_watch);
        close(m_watch);
        m_watch = -1;
    }
    m_seen.clear();
}

void SipTcpCap::onPending(int, void *arg)
{
    // libre accepts the connection in this same turn of the loop; it is
    // counted just after.
    auto *self = static_cast<SipTcpCap *>(arg);
    tmr_start(&self->m_timer->tmr, 0, &SipTcpCap::onAccepted, self);
}

void SipTcpCap::onAccepted(void *arg)
{
    static_cast<SipTcpCap *>(arg)->trim();
}

bool SipTcpCap::isAcceptedHere(int fd) const
{
    int type = 0;
    int accepting = 0;
    socklen_t size = sizeof(type);
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM)
        return false;
    size = sizeof(accepting);
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) != 0 || accepting)
        return false;
    struct sa here, listening;
    sa_init(&here, AF_UNSPEC);
    here.len = sizeof(here.u);
    if (getsockname(fd, &here.u.sa, &here.len) != 0)
        return false;
    sa_set_sa(&listening, reinterpret_cast<const struct sockaddr *>(&m_local));
    if (sa_af(&here) != sa_af(&listening) || sa_port(&here) != sa_port(&listening))
        return false;
    return sa_is_any(&listening) || sa_cmp(&here, &listening, SA_ADDR);
}

int SipTcpCap::trim()
{
    std::vector<int> fds;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (const struct dirent *entry = readdir(dir)) {
            if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9')
                fds.push_back(std::atoi(entry->d_name));
        }
        closedir(dir);
    }
    struct Open
    {
        int fd;
        uint32_t idleMs;
        uint64_t order;
        bool spared;
    };
    std::vector<Open> open;
    std::unordered_map<int, Seen> seen;
    for (const int fd : fds) {
        struct stat status = {};
        if (fd == m_watch || fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode))
            continue;
        // A descriptor met before (the same socket) is known: only those
        // new since are looked at closely. Counting right after each
        // accept, the order first met is the order accepted.
        const auto known = m_seen.find(fd);
        const Seen mark = known != m_seen.end() && known->second.inode == status.st_ino
            ? known->second
            : Seen { status.st_ino, m_nextOrder++, isAcceptedHere(fd) };
        seen[fd] = mark;
        if (!mark.ours)
            continue;
        struct tcp_info info = {};
        socklen_t size = sizeof(info);
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 || info.tcpi_state != TCP_ESTABLISHED)
            continue; // shut down already, or ended by the peer: going away
        struct sa peer;
        sa_init(&peer, AF_UNSPEC);
        peer.len = sizeof(peer.u);
        const bool spared = m_spare && getpeername(fd, &peer.u.sa, &peer.len) == 0 && m_spare(&peer);
        open.push_back({ fd, std::min(info.tcpi_last_data_recv, info.tcpi_last_data_sent), mark.order, spared });
    }
    m_seen = std::move(seen);
    if (open.size() <= size_t(m_cap))
        return int(open.size());
    // Idle longest by the second (the kernel's times are coarser than a
    // millisecond, and an answer sent a moment late would reorder peers
    // that went quiet together), then the oldest.
    std::sort(open.begin(), open.end(), [](const Open &a, const Open &b) {
        return a.idleMs / 1000 != b.idleMs / 1000 ? a.idleMs > b.idleMs : a.order < b.order;
    });
    size_t excess = open.size() - size_t(m_cap);
    int left = int(open.size());
    for (const Open &o : open) {
        if (excess == 0)
            break;
        if (o.spared)
            continue;
        shutdown(o.fd, SHUT_RDWR);
        --excess;
        --left;
    }
    return left;
}
