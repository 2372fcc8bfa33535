#pragma once

#include "callerid/LineSource.h"
#include "callerid/sources/LineSplitter.h"

#include <QTimer>

class QSerialPort;
class Reconnector;

// A voice/data modem with caller ID on a serial or USB port: "NMBR = ..."
// lines, "P" withheld and "O" unavailable, and the caller's name from a
// "NAME = ..." line next to it (before or after; "O" and "P" are no name).
// A number waits NameWaitMs for its name, which the modem sends right after.
class ModemSource : public LineSource
{
    Q_OBJECT

public:
    static constexpr int NameWaitMs = 300;

    ModemSource(QString port, int baud, QString init, QString areaCode, QObject *parent = nullptr);
    ~ModemSource() override;
    void start() override;
    void stop() override;

private:
    void open();
    void fail(const QString &why);
    void readLines();
    void deliverPending();

    QString m_portName;
    int m_baud;
    QString m_init;
    QSerialPort *m_port;
    Reconnector *m_reconnect;
    LineSplitter m_lines;
    bool m_running = false;
    QString m_pendingNumber; // waiting for its name
    QString m_pendingName; // a name that came before its number; null: none
    QTimer m_nameWait;
};
