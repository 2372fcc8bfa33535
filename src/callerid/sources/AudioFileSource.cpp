#include "callerid/sources/AudioFileSource.h"

#include "callerid/DtmfDecoder.h"
#include "callerid/FskDecoder.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sndfile.h>

#include <algorithm>
#include <vector>

namespace {

// A recording holds a few calls; far more is not a line recording, and is
// not kept in memory.
constexpr qsizetype MaxMessages = 10000;

} // namespace

AudioFileSource::AudioFileSource(QString path, int sensitivity, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_path(std::move(path))
    , m_sensitivity(sensitivity)
{
    m_next.setSingleShot(true);
    connect(&m_next, &QTimer::timeout, this, &AudioFileSource::deliverNext);
}

AudioFileSource::~AudioFileSource()
{
    stop();
}

void AudioFileSource::start()
{
    stop();
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_startedAt = QDateTime::currentMSecsSinceEpoch();
    emit statusChanged(QStringLiteral("Lendo a gravação %1").arg(QFileInfo(m_path).fileName()), true);
    m_worker = QThread::create([this, path = m_path, sensitivity = m_sensitivity, stop = m_stop] {
        QList<CallerIdMessage> messages;
        QString error;
        const bool ok = decodeFile(
            path, sensitivity,
            [&](const CallerIdMessage &m) {
                if (messages.size() < MaxMessages)
                    messages << m;
            },
            &error, stop.get());
        if (!*stop)
            QMetaObject::invokeMethod(
                this, [=, this] { decoded(ok, messages, error); }, Qt::QueuedConnection);
    });
    m_worker->start();
}

void AudioFileSource::stop()
{
    m_next.stop();
    m_messages.clear();
    if (m_worker) {
        *m_stop = true;
        m_worker->wait();
        delete m_worker;
        m_worker = nullptr;
    }
}

void AudioFileSource::decoded(bool ok, const QList<CallerIdMessage> &messages, const QString &error)
{
    if (!ok) {
        emit statusChanged(error, false);
        return;
    }
    emit statusChanged(
        QStringLiteral("Gravação %1: %2 mensagens").arg(QFileInfo(m_path).fileName()).arg(messages.size()), true);
    m_messages = messages;
    deliverNext();
}

void AudioFileSource::deliverNext()
{
    // Each message when its time in the recording has come, counted from the
    // moment the monitor was switched on.
    const qint64 now = QDateTime::currentMSecsSinceEpoch() - m_startedAt;
    while (!m_messages.isEmpty() && m_messages.first().endMs <= now)
        deliver(m_messages.takeFirst());
    if (!m_messages.isEmpty())
        m_next.start(int(std::min<qint64>(m_messages.first().endMs - now, std::numeric_limits<int>::max())));
}

bool AudioFileSource::decodeFile(const QString &path, int sensitivity,
    const std::function<void(const CallerIdMessage &)> &onMessage, QString *error, const std::atomic<bool> *stop)
{
    const QString name = QFileInfo(path).fileName();
    // A pipe or a device would block the reading for ever.
    if (!QFileInfo(path).isFile()) {
        *error = QFileInfo::exists(path)
            ? QStringLiteral("A gravação %1 não é um arquivo comum (é uma pasta, um pipe ou um dispositivo).").arg(path)
            : QStringLiteral("A gravação %1 não existe.").arg(path);
        return false;
    }
    SF_INFO info {};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) {
        *error = QStringLiteral("%1 não é uma gravação que o Zuna leia (WAV, FLAC ou OGG).\nDetalhe: %2")
                     .arg(name, QString::fromUtf8(sf_strerror(nullptr)));
        return false;
    }
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE *)> closer(file, sf_close);
    if (info.samplerate < MinRate || info.samplerate > MaxRate || info.channels < 1 || info.channels > 64) {
        *error = QStringLiteral("A gravação %1 tem %2 Hz e %3 canais; uma gravação da linha tem de %4 a %5 Hz.")
                     .arg(name)
                     .arg(info.samplerate)
                     .arg(info.channels)
                     .arg(MinRate)
                     .arg(MaxRate);
        return false;
    }
    // Floating-point samples are read scaled to the 16-bit range.
    sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    // DTMF and FSK messages in the order they end in the recording: each
    // decoder runs ahead of the other by at most one read.
    QList<CallerIdMessage> heard;
    const auto collect = [&heard](const CallerIdMessage &m) { heard << m; };
    const auto handOn = [&] {
        std::stable_sort(heard.begin(), heard.end(),
            [](const CallerIdMessage &a, const CallerIdMessage &b) { return a.endMs < b.endMs; });
        for (const CallerIdMessage &m : std::as_const(heard))
            onMessage(m);
        heard.clear();
    };
    DtmfDecoder decoder(info.samplerate, sensitivity, collect);
    FskDecoder fsk(info.samplerate, collect);
    constexpr sf_count_t Frames = 4096;
    std::vector<int16_t> frames(size_t(Frames * info.channels));
    std::vector<int16_t> mono(Frames);
    sf_count_t got = 0;
    while ((got = sf_readf_short(file, frames.data(), Frames)) > 0) {
        if (stop && *stop)
            return true;
        for (sf_count_t i = 0; i < got; ++i) {
            int sum = 0;
            for (int c = 0; c < info.channels; ++c)
                sum += frames[size_t(i * info.channels + c)];
            mono[size_t(i)] = int16_t(sum / info.channels);
        }
        decoder.feed(mono.data(), size_t(got));
        fsk.feed(mono.data(), size_t(got));
        handOn();
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        *error = QStringLiteral("A gravação %1 está danificada.\nDetalhe: %2")
                     .arg(name, QString::fromUtf8(sf_strerror(file)));
        return false;
    }
    decoder.finish();
    fsk.finish();
    handOn();
    return true;
}
