#pragma once

#include "callerid/LineSource.h"
#include "callerid/sources/LineSplitter.h"

class QSerialPort;
class Reconnector;

// A voice/data modem with caller ID on a serial or USB port: "NMBR = ..."
// lines, "P" withheld and "O" unavailable.
class ModemSource : public LineSource
{
    Q_OBJECT

public:
    ModemSource(QString port, int baud, QString init, QString areaCode, QObject *parent = nullptr);
    ~ModemSource() override;
    void start() override;
    void stop() override;

private:
    void open();
    void fail(const QString &why);
    void readLines();

    QString m_portName;
    int m_baud;
    QString m_init;
    QSerialPort *m_port;
    Reconnector *m_reconnect;
    LineSplitter m_lines;
    bool m_running = false;
};
