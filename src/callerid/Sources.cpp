#include "callerid/Sources.h"

#include "callerid/DtmfDecoder.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSerialPort>
#include <QTcpSocket>
#include <QThread>

#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>

#include <vector>

int Backoff::nextDelayMs()
{
    m_delayMs = m_delayMs == 0 ? 1000 : std::min(m_delayMs * 2, 30000);
    return m_delayMs;
}

// --- sound card

namespace {

// Captures and decodes on its own thread: a blocking read there never holds
// up the window. Results cross to the source through queued signals.
class CaptureThread : public QThread
{
    Q_OBJECT

public:
    CaptureThread(QString device, int sensitivity, std::shared_ptr<std::atomic<bool>> stop)
        : m_device(std::move(device))
        , m_sensitivity(sensitivity)
        , m_stop(std::move(stop))
    {
    }

signals:
    void message(const CallerIdMessage &message);
    void status(const QString &status, bool healthy);
    void level(double dbfs);
    void digit(QChar digit);

protected:
    void run() override
    {
        constexpr int Rate = DtmfDecoder::DetectorRate;
        // 100 ms a read: few wake-ups on an idle line, and nothing lost, since
        // the decoder counts time in samples, not in reads.
        constexpr int ChunkSamples = Rate / 10;
        while (!*m_stop) {
            const pa_sample_spec spec{PA_SAMPLE_S16LE, Rate, 1};
            pa_buffer_attr attr{};
            attr.maxlength = uint32_t(-1);
            attr.fragsize = ChunkSamples * 2;
            int error = 0;
            const QByteArray device = m_device.toUtf8();
            pa_simple *pa = pa_simple_new(nullptr, "Zuna", PA_STREAM_RECORD, m_device.isEmpty() ? nullptr : device.constData(),
                                          "linha telefônica", &spec, nullptr, &attr, &error);
            if (!pa) {
                emit status(QStringLiteral("Sem som da linha: %1").arg(QString::fromUtf8(pa_strerror(error))), false);
                pause(2000);
                continue;
            }
            emit status(QStringLiteral("Ouvindo a linha"), true);
            DtmfDecoder decoder(Rate, m_sensitivity, [this](const CallerIdMessage &m) { emit message(m); });
            decoder.setDigitHandler([this](char d, qint64) { emit digit(QChar(QLatin1Char(d))); });
            std::vector<int16_t> chunk(ChunkSamples);
            while (!*m_stop) {
                if (pa_simple_read(pa, chunk.data(), chunk.size() * sizeof(int16_t), &error) < 0) {
                    emit status(QStringLiteral("A entrada de som parou: %1").arg(QString::fromUtf8(pa_strerror(error))), false);
                    break;
                }
                decoder.feed(chunk.data(), chunk.size());
                emit level(decoder.takePeakDb());
            }
            pa_simple_free(pa);
            pause(1000);
        }
    }

private:
    void pause(int ms)
    {
        for (int waited = 0; waited < ms && !*m_stop; waited += 50)
            QThread::msleep(50);
    }

    QString m_device;
    int m_sensitivity;
    std::shared_ptr<std::atomic<bool>> m_stop;
};

} // namespace

SoundCardSource::SoundCardSource(QString device, int sensitivity, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_device(std::move(device))
    , m_sensitivity(sensitivity)
{
    qRegisterMetaType<CallerIdMessage>();
}

SoundCardSource::~SoundCardSource()
{
    stop();
}

void SoundCardSource::start()
{
    if (m_thread)
        return;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    auto *thread = new CaptureThread(m_device, m_sensitivity, m_stop);
    connect(thread, &CaptureThread::message, this, &SoundCardSource::deliver);
    connect(thread, &CaptureThread::status, this, &SoundCardSource::statusChanged);
    connect(thread, &CaptureThread::level, this, &SoundCardSource::levelChanged);
    connect(thread, &CaptureThread::digit, this, &SoundCardSource::digitDetected);
    m_thread = thread;
    thread->start();
}

void SoundCardSource::stop()
{
    if (!m_thread)
        return;
    *m_stop = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

// --- audio file

AudioFileSource::AudioFileSource(QString path, int sensitivity, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_path(std::move(path))
    , m_sensitivity(sensitivity)
{
}

void AudioFileSource::start()
{
    m_running = true;
    QTimer::singleShot(0, this, [this] {
        QString error;
        if (!decodeFile(m_path, m_sensitivity, [this](const CallerIdMessage &m) {
                if (m_running)
                    deliver(m);
            }, &error))
            emit statusChanged(error, false);
    });
}

void AudioFileSource::stop()
{
    m_running = false;
}

bool AudioFileSource::decodeFile(const QString &path, int sensitivity,
                                 const std::function<void(const CallerIdMessage &)> &onMessage, QString *error)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) {
        *error = QStringLiteral("Não foi possível ler a gravação %1: %2").arg(path, QString::fromUtf8(sf_strerror(nullptr)));
        return false;
    }
    DtmfDecoder decoder(info.samplerate, sensitivity, onMessage);
    constexpr sf_count_t Frames = 4096;
    std::vector<int16_t> frames(size_t(Frames * info.channels));
    std::vector<int16_t> mono(Frames);
    sf_count_t got = 0;
    while ((got = sf_readf_short(file, frames.data(), Frames)) > 0) {
        for (sf_count_t i = 0; i < got; ++i) {
            int sum = 0;
            for (int c = 0; c < info.channels; ++c)
                sum += frames[size_t(i * info.channels + c)];
            mono[size_t(i)] = int16_t(sum / info.channels);
        }
        decoder.feed(mono.data(), size_t(got));
    }
    decoder.finish();
    sf_close(file);
    return true;
}

// --- modem

ModemSource::ModemSource(QString port, int baud, QString init, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_portName(std::move(port))
    , m_baud(baud)
    , m_init(std::move(init))
    , m_port(new QSerialPort(this))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &ModemSource::open);
    connect(m_port, &QSerialPort::readyRead, this, &ModemSource::readLines);
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError && m_port->isOpen())
            retry(m_port->errorString());
    });
}

ModemSource::~ModemSource()
{
    stop();
}

void ModemSource::start()
{
    m_running = true;
    m_backoff.reset();
    open();
}

void ModemSource::stop()
{
    m_running = false;
    m_retry.stop();
    if (m_port->isOpen())
        m_port->close();
}

void ModemSource::open()
{
    if (!m_running)
        return;
    m_port->setPortName(m_portName);
    m_port->setBaudRate(m_baud);
    if (!m_port->open(QIODevice::ReadWrite)) {
        retry(m_port->errorString());
        return;
    }
    m_buffer.clear();
    m_port->write((m_init + QStringLiteral("\r")).toLatin1());
    m_backoff.reset();
    emit statusChanged(QStringLiteral("Modem pronto em %1").arg(m_portName), true);
}

void ModemSource::retry(const QString &why)
{
    if (m_port->isOpen())
        m_port->close();
    if (!m_running)
        return;
    emit statusChanged(QStringLiteral("Modem %1: %2").arg(m_portName, why), false);
    m_retry.start(m_backoff.nextDelayMs());
}

void ModemSource::readLines()
{
    m_buffer += m_port->readAll();
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0 || (end = m_buffer.indexOf('\r')) >= 0) {
        const QString line = QString::fromLatin1(m_buffer.left(end)).trimmed();
        m_buffer.remove(0, end + 1);
        if (!line.startsWith(QLatin1String("NMBR")))
            continue;
        const QString value = line.section(QLatin1Char('='), 1).trimmed();
        if (value == QLatin1String("P"))
            deliverText(textFor(CallerIdMessage::Kind::Withheld));
        else if (value == QLatin1String("O"))
            deliverText(textFor(CallerIdMessage::Kind::Unavailable));
        else
            deliverNumber(value);
    }
    if (m_buffer.size() > 4096) // garbage without line breaks
        m_buffer.clear();
}

// --- NCID

NcidSource::NcidSource(QString host, int port, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_host(std::move(host))
    , m_portNumber(port)
    , m_socket(new QTcpSocket(this))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &NcidSource::connectNow);
    connect(m_socket, &QTcpSocket::readyRead, this, &NcidSource::readLines);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_backoff.reset();
        emit statusChanged(QStringLiteral("Conectado ao servidor NCID %1:%2").arg(m_host).arg(m_portNumber), true);
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { retry(QStringLiteral("conexão encerrada")); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { retry(m_socket->errorString()); });
}

NcidSource::~NcidSource()
{
    stop();
}

void NcidSource::start()
{
    m_running = true;
    m_backoff.reset();
    connectNow();
}

void NcidSource::stop()
{
    m_running = false;
    m_retry.stop();
    m_socket->abort();
}

void NcidSource::connectNow()
{
    if (m_running && m_socket->state() == QAbstractSocket::UnconnectedState)
        m_socket->connectToHost(m_host, quint16(m_portNumber));
}

void NcidSource::retry(const QString &why)
{
    if (!m_running || m_retry.isActive())
        return;
    m_socket->abort();
    emit statusChanged(QStringLiteral("Servidor NCID %1:%2: %3").arg(m_host).arg(m_portNumber).arg(why), false);
    m_retry.start(m_backoff.nextDelayMs());
}

QHash<QString, QString> NcidSource::fields(const QString &line)
{
    QHash<QString, QString> result;
    const QStringList parts = line.section(QLatin1Char(':'), 1).trimmed().split(QLatin1Char('*'));
    // "*NAME*value*NAME*value*": names at odd places after the leading '*'.
    for (qsizetype i = 1; i + 1 < parts.size(); i += 2)
        result.insert(parts.at(i), parts.at(i + 1));
    return result;
}

void NcidSource::readLines()
{
    while (m_socket->canReadLine()) {
        const QString line = QString::fromUtf8(m_socket->readLine()).trimmed();
        if (!line.startsWith(QLatin1String("CID:")))
            continue;
        const QString number = fields(line).value(QStringLiteral("NMBR")).trimmed();
        const QString upper = number.toUpper();
        if (upper == QLatin1String("PRIVATE") || upper == QLatin1String("P") || upper == QLatin1String("ANONYMOUS"))
            deliverText(textFor(CallerIdMessage::Kind::Withheld));
        else if (upper == QLatin1String("OUT-OF-AREA") || upper == QLatin1String("O") || upper == QLatin1String("-")
                 || upper == QLatin1String("NO NUMBER") || upper.isEmpty())
            deliverText(textFor(CallerIdMessage::Kind::Unavailable));
        else
            deliverNumber(number);
    }
    if (m_socket->bytesAvailable() > 8192) // a line that never ends
        m_socket->readAll();
}

// --- local socket

LocalSocketSource::LocalSocketSource(QString socketPath, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_path(std::move(socketPath))
    , m_server(new QLocalServer(this))
{
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                while (client->canReadLine()) {
                    const QString line = QString::fromUtf8(client->readLine()).trimmed();
                    if (line.isEmpty())
                        continue;
                    deliverNumber(line);
                    client->write("OK\n");
                }
                if (client->bytesAvailable() > 4096)
                    client->abort();
            });
        }
    });
}

LocalSocketSource::~LocalSocketSource()
{
    stop();
}

QString LocalSocketSource::socketPath(const QString &dataDir)
{
    return QDir(dataDir).filePath(QStringLiteral(".zuna-chamadas.sock"));
}

void LocalSocketSource::start()
{
    if (m_server->isListening())
        return;
    QLocalServer::removeServer(m_path); // left by a copy that crashed
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path))
        emit statusChanged(QStringLiteral("Soquete local %1: %2").arg(m_path, m_server->errorString()), false);
}

void LocalSocketSource::stop()
{
    if (m_server->isListening())
        m_server->close();
}

bool LocalSocketSource::sendNumber(const QString &socketPath, const QString &number, QString *error)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(2000)) {
        *error = QStringLiteral("O monitor de chamadas do Zuna não está ativo nesta pasta de dados (F1 o ativa).");
        return false;
    }
    socket.write(number.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(2000) || !socket.waitForReadyRead(2000) || !socket.readLine().startsWith("OK")) {
        *error = QStringLiteral("O Zuna não confirmou o número.");
        return false;
    }
    socket.disconnectFromServer();
    return true;
}

#include "Sources.moc"

#include "callerid/CallerIdSettings.h"

#include <pulse/mainloop.h>
#include <pulse/context.h>
#include <pulse/introspect.h>

LineSource *createLineSource(const CallerIdSettings &s, QObject *parent)
{
    switch (s.source) {
    case CallerIdSettings::Source::SoundCard: return new SoundCardSource(s.soundDevice, s.a8Sensibility, s.a2DDDLocal, parent);
    case CallerIdSettings::Source::AudioFile: return new AudioFileSource(s.audioFile, s.a8Sensibility, s.a2DDDLocal, parent);
    case CallerIdSettings::Source::Modem: return new ModemSource(s.modemPort, s.modemBaud, s.modemInit, s.a2DDDLocal, parent);
    case CallerIdSettings::Source::Ncid: return new NcidSource(s.ncidHost, s.ncidPort, s.a2DDDLocal, parent);
    case CallerIdSettings::Source::None: break;
    }
    return nullptr;
}

QList<QPair<QString, QString>> soundInputs()
{
    // A short blocking exchange with the sound server; gives up after a second.
    QList<QPair<QString, QString>> inputs;
    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Zuna");
    bool done = false;
    struct Collect
    {
        QList<QPair<QString, QString>> *inputs;
        bool *done;
    } collect{&inputs, &done};
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) >= 0) {
        pa_operation *op = nullptr;
        QElapsedTimer timer;
        timer.start();
        while (!done && timer.elapsed() < 1000) {
            pa_mainloop_iterate(loop, 0, nullptr);
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
                break;
            if (state == PA_CONTEXT_READY && !op) {
                op = pa_context_get_source_info_list(
                    context,
                    [](pa_context *, const pa_source_info *info, int eol, void *user) {
                        auto *c = static_cast<Collect *>(user);
                        if (eol)
                            *c->done = true;
                        else if (info)
                            c->inputs->append({QString::fromUtf8(info->name), QString::fromUtf8(info->description)});
                    },
                    &collect);
            }
            QThread::msleep(5);
        }
        if (op)
            pa_operation_unref(op);
        pa_context_disconnect(context);
    }
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return inputs;
}
