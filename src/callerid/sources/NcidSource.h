#pragma once

#include "callerid/LineSource.h"
#include "callerid/sources/LineSplitter.h"

#include <QHash>

class QTcpSocket;
class Reconnector;

// A client of an NCID server: "CID: *DATE*...*NMBR*number*...*" lines.
class NcidSource : public LineSource
{
    Q_OBJECT

public:
    NcidSource(QString host, int port, QString areaCode, QObject *parent = nullptr);
    ~NcidSource() override;
    void start() override;
    void stop() override;

    // The fields of a CID line by name, e.g. "NMBR" -> "1133334444".
    static QHash<QString, QString> fields(const QString &line);

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
};
