#pragma once

#include "core/callerid/LineSource.h"
#include "core/callerid/sources/LineSplitter.h"

#include <QElapsedTimer>
#include <QTimer>

class QSerialPort;
class Reconnector;

// A voice/data modem with caller ID on a serial or USB port: "NMBR = ..."
// lines, "P" withheld and "O" unavailable, and the caller's name from a
// "NAME = ..." line next to it (before or after; "O" and "P" are no name).
// A call's lines come together (RING, DATE, TIME, NMBR, NAME): a number waits
// NameWaitMs for the name the modem sends right after it; a name sent before
// its number counts only if the number follows within NameWaitMs, with no
// RING or DATE between. A name is used for its own call only: one whose
// number was lost never goes to the next caller.
class ModemSource : public LineSource
{
    Q_OBJECT

public:
    static constexpr int NameWaitMs = 300;

    ModemSource(QString port, int baud, QString init, QString areaCode, QObject *parent = nullptr);
    ~ModemSource() override;
    void start() override;
    void stop() override;
    QString lineName() const override;

private:
    void open();
    void fail(const QString &why);
    void readLines();
    void deliverPending();
    void forgetNameBefore();

    QString m_portName;
    int m_baud;
    QString m_init;
    QSerialPort *m_port;
    Reconnector *m_reconnect;
    LineSplitter m_lines;
    bool m_running = false;
    QString m_pendingNumber; // waiting for its name
    QString m_pendingName; // the name it has so far
    QString m_nameBefore; // a NAME line with no number yet
    QElapsedTimer m_nameBeforeAge;
    QTimer m_nameWait;
};
