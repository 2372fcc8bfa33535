#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal standing in for a modem's serial port: the program opens
// port() as it would the modem's, and the test plays the modem on the other
// end, reading the commands sent to it and sending the lines a modem reports.
class FakeModem
{
public:
    FakeModem();
    ~FakeModem();
    FakeModem(const FakeModem &) = delete;
    FakeModem &operator=(const FakeModem &) = delete;

    // The serial port to give the program.
    QString port() const { return m_port; }
    // Sends `bytes` as the modem's output; false when not all of them could
    // be written within a few seconds.
    [[nodiscard]] bool send(const QByteArray &bytes);
    // What the program has written to the port since the last call.
    QByteArray received();

private:
    int m_master = -1;
    QString m_port;
};
