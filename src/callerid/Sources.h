#pragma once

#include "callerid/LineSource.h"

#include <QByteArray>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class QLocalServer;
class QSerialPort;
class QTcpSocket;
class QThread;

// Retries a failed source after 1, 2, 4 ... 30 seconds.
class Backoff
{
public:
    int nextDelayMs();
    void reset() { m_delayMs = 0; }

private:
    int m_delayMs = 0;
};

// A sound card input (through the PulseAudio client API, which PipeWire
// serves too): the line's audio decoded as it is captured.
class SoundCardSource : public LineSource
{
    Q_OBJECT

public:
    SoundCardSource(QString device, int sensitivity, QString areaCode, QObject *parent = nullptr);
    ~SoundCardSource() override;
    void start() override;
    void stop() override;

signals:
    // For the configuration screen: the input's peak level and each digit.
    void levelChanged(double dbfs);
    void digitDetected(QChar digit);

private:
    QString m_device;
    int m_sensitivity;
    QThread *m_thread = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stop;
};

// A recording of the line (WAV or any format libsndfile reads).
class AudioFileSource : public LineSource
{
    Q_OBJECT

public:
    AudioFileSource(QString path, int sensitivity, QString areaCode, QObject *parent = nullptr);
    void start() override;
    void stop() override;

    // Decodes a whole file; `onMessage` gets each message with its time.
    static bool decodeFile(const QString &path, int sensitivity, const std::function<void(const CallerIdMessage &)> &onMessage,
                           QString *error);

private:
    QString m_path;
    int m_sensitivity;
    bool m_running = false;
};

// A voice/data modem with caller ID on a serial or USB port: "NMBR = ..." lines.
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
    void retry(const QString &why);
    void readLines();

    QString m_portName;
    int m_baud;
    QString m_init;
    QSerialPort *m_port;
    QTimer m_retry;
    Backoff m_backoff;
    QByteArray m_buffer;
    bool m_running = false;
};

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
    void retry(const QString &why);
    void readLines();

    QString m_host;
    int m_portNumber;
    QTcpSocket *m_socket;
    QTimer m_retry;
    Backoff m_backoff;
    bool m_running = false;
};

// One number per line on a local socket in the data folder, for a telephone
// exchange on the same machine, scripts and `zuna --call`.
class LocalSocketSource : public LineSource
{
    Q_OBJECT

public:
    LocalSocketSource(QString socketPath, QString areaCode, QObject *parent = nullptr);
    ~LocalSocketSource() override;
    void start() override;
    void stop() override;

    static QString socketPath(const QString &dataDir);
    // Hands a number to the copy of Zuna listening at `socketPath`.
    static bool sendNumber(const QString &socketPath, const QString &number, QString *error);

private:
    QString m_path;
    QLocalServer *m_server;
};

struct CallerIdSettings;

// The line source the settings choose (nullptr for none).
LineSource *createLineSource(const CallerIdSettings &settings, QObject *parent);

// The sound inputs the sound server offers: (name, description) pairs.
QList<QPair<QString, QString>> soundInputs();
