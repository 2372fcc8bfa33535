#pragma once

#include "core/callerid/LineSource.h"
#include "core/callerid/sources/LineSplitter.h"

#include <QHash>

class QTcpSocket;
class Reconnector;

// A client of an NCID server: "CID: *DATE*...*NMBR*number*...*" lines. The
// caller's name (NAME) travels with the number; the server's label for the
// line the call came on (LINE) is kept for the call's record.
class NcidSource : public LineSource
{
    Q_OBJECT

public:
    NcidSource(QString host, int port, QString areaCode, QObject *parent = nullptr);
    ~NcidSource() override;
    void start() override;
    void stop() override;
    QString lineName() const override;

    // The fields of a CID line by name, e.g. "NMBR" -> "1133334444".
    static QHash<QString, QString> fields(const QString &line);
    // NAME of a CID line; empty when the server says there is none.
    static QString callerName(const QHash<QString, QString> &fields);

    // LINE of the last call, e.g. "POTS" or "1234"; empty when not sent.
    QString lineLabel() const { return m_lineLabel; }
    // The server, and the line it named for the last call when it did.

private:
    void connectNow();
    void fail(const QString &why);
    void readLines();

    QString m_host;
    int m_portNumber;
    QTcpSocket *m_socket;
    Reconnector *m_reconnect;
    LineSplitter m_lines;
    bool m_running = false;
    QString m_lineLabel;
};
