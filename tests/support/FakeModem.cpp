#include "FakeModem.h"

#include <QTest>
#include <QtGlobal>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

FakeModem::FakeModem()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        qFatal("no pseudo-terminal for the modem: %s", strerror(errno));
    m_port = QString::fromLocal8Bit(ptsname(m_master));
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

FakeModem::~FakeModem()
{
    ::close(m_master);
}

bool FakeModem::send(const QByteArray &bytes)
{
    // The terminal's buffer may take a long message in parts, as the reader
    // drains it: the event loop runs meanwhile, for a reader on this thread.
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        pollfd room { m_master, POLLOUT, 0 };
        if (!QTest::qWaitFor([&] { return ::poll(&room, 1, 0) > 0 && (room.revents & POLLOUT); }, 5000))
            return false;
    }
    return true;
}

QByteArray FakeModem::received()
{
    char buf[256];
    QByteArray all;
    ssize_t n;
    while ((n = ::read(m_master, buf, sizeof buf)) > 0)
        all.append(buf, n);
    return all;
}
