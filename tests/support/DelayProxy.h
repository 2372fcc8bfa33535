#pragma once

#include <QString>

#include <memory>

class QThread;

// A TCP port on localhost that passes each connection on to a PostgreSQL
// server's Unix socket, holding every byte back for `oneWayMs` in each
// direction: a server across town, as the test machines cannot shape their
// traffic. The round trip through it is twice `oneWayMs` over the server's
// own. It runs on a thread of its own, so that a program that holds its own
// thread does not hold the traffic up too.
class DelayProxy
{
public:
    DelayProxy(const QString &socketFile, int oneWayMs);
    ~DelayProxy();
    DelayProxy(const DelayProxy &) = delete;
    DelayProxy &operator=(const DelayProxy &) = delete;

    // The port it listens on; 0 when it could not listen.
    int port() const { return m_port; }
    // Bytes read from now on are held back `oneWayMs` (a line that stalls
    // after the connection was made).
    void setDelay(int oneWayMs);

private:
    class Pipes;
    QThread *m_thread;
    Pipes *m_pipes; // lives on m_thread
    int m_port = 0;
};
