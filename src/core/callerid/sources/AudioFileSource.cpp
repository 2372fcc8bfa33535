#include "core/callerid/sources/AudioFileSource.h"

#include "core/callerid/DtmfDecoder.h"
#include "core/callerid/FskDecoder.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// A recording holds a few calls; far more is not a line recording, and is
// not kept in memory.
constexpr qsizetype MaxMessages = 10000;

// The frames a WAV file's data chunk says it holds, which a file cut short
// no longer has (libsndfile counts only the frames that are there); 0 when
// that cannot be told.
sf_count_t declaredFrames(SNDFILE *file, const SF_INFO &info)
{
    int bytes = 0;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: bytes = 1; break;
    case SF_FORMAT_PCM_16: bytes = 2; break;
    case SF_FORMAT_PCM_24: bytes = 3; break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: bytes = 4; break;
    case SF_FORMAT_DOUBLE: bytes = 8; break;
    default: return 0;
    }
    SF_CHUNK_INFO chunk {};
    std::snprintf(chunk.id, sizeof chunk.id, "data");
    chunk.id_size = 4;
    SF_CHUNK_ITERATOR *data = sf_get_chunk_iterator(file, &chunk);
    // A recorder writing to a pipe cannot come back to fill the size in: it
    // leaves 0 or the largest size there, and the file is whole.
    if (!data || sf_get_chunk_size(data, &chunk) != SF_ERR_NO_ERROR || chunk.datalen >= 0x7fff0000U)
        return 0;
    return sf_count_t(chunk.datalen) / (bytes * info.channels);
}

// A time in the recording as `zuna --decode` prints it: mm:ss.mmm.
QString timeText(qint64 ms)
{
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

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
    reportStatus(QStringLiteral("Lendo a gravação %1").arg(QFileInfo(m_path).fileName()), true);
    m_worker = QThread::create([this, path = m_path, sensitivity = m_sensitivity, stop = m_stop] {
        QList<CallerIdMessage> messages;
        QString error;
        QString damage;
        const bool ok = decodeFile(
            path, sensitivity,
            [&](const CallerIdMessage &m) {
                if (messages.size() < MaxMessages)
                    messages << m;
            },
            &error, stop.get(), &damage);
        if (!*stop)
            QMetaObject::invokeMethod(
                this, [=, this] { decoded(ok, messages, ok ? damage : error); }, Qt::QueuedConnection);
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
        reportStatus(error, false);
        return;
    }
    // A recording cut short or damaged is shown as failing, with what was
    // heard in it all the same.
    const QString heard
        = QStringLiteral("Gravação %1: %2 mensagens").arg(QFileInfo(m_path).fileName()).arg(messages.size());
    reportStatus(error.isEmpty() ? heard : heard + QLatin1Char('\n') + error, error.isEmpty());
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
    const std::function<void(const CallerIdMessage &)> &onMessage, QString *error, const std::atomic<bool> *stop,
    QString *damage)
{
    const QString name = QFileInfo(path).fileName();
    // A pipe or a device would block the reading for ever.
    if (!QFileInfo(path).isFile()) {
        *error = QFileInfo::exists(path)
            ? QStringLiteral("A gravação %1 não é um arquivo comum (é uma pasta, um pipe ou um dispositivo).").arg(path)
            : QStringLiteral("A gravação %1 não existe.").arg(path);
        return false;
    }
    // A file that cannot be opened is not a file of the wrong kind.
    if (QFile probe(path); !probe.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Não foi possível abrir a gravação %1.\nDetalhe: %2").arg(name, probe.errorString());
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
    // Samples as numbers where full scale is 1.0, integer and floating-point
    // alike, so that a recording keeps its level; floating-point values
    // beyond full scale are clipped as a converter would.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_FALSE);
    const sf_count_t declared = declaredFrames(file, info);
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
    std::vector<float> frames(size_t(Frames * info.channels));
    std::vector<int16_t> mono(Frames);
    sf_count_t got = 0;
    sf_count_t read = 0;
    qint64 damaged = 0;
    while ((got = sf_readf_float(file, frames.data(), Frames)) > 0) {
        if (stop && *stop)
            return true;
        for (sf_count_t i = 0; i < got; ++i) {
            float sum = 0;
            for (int c = 0; c < info.channels; ++c) {
                const float v = frames[size_t(i * info.channels + c)];
                // NaN and infinities are damage, not sound: heard as silence.
                if (!std::isfinite(v))
                    ++damaged;
                else
                    sum += std::clamp(v, -1.0F, 1.0F);
            }
            mono[size_t(i)] = int16_t(std::clamp(std::lrint(sum / float(info.channels) * 32768.0F), -32768L, 32767L));
        }
        decoder.feed(mono.data(), size_t(got));
        fsk.feed(mono.data(), size_t(got));
        handOn();
        read += got;
    }
    // A file cut short (a copy broken off, a disk full while recording) is
    // decoded as far as it goes, and says so.
    QStringList trouble;
    if (sf_error(file) != SF_ERR_NO_ERROR || read < std::max(declared, info.frames)) {
        trouble << QStringLiteral("A gravação %1 está cortada: foi lida até %2%3.")
                       .arg(name, timeText(read * 1000 / info.samplerate),
                           sf_error(file) != SF_ERR_NO_ERROR
                               ? QStringLiteral(" (%1)").arg(QString::fromUtf8(sf_strerror(file)))
                               : QStringLiteral(" de %1").arg(
                                   timeText(std::max(declared, info.frames) * 1000 / info.samplerate)));
    }
    if (damaged > 0) {
        trouble << QStringLiteral(
            "A gravação %1 tem %2 amostras danificadas (NaN ou infinitas), ouvidas como silêncio.")
                       .arg(name)
                       .arg(damaged);
    }
    if (damage)
        *damage = trouble.join(QLatin1Char('\n'));
    decoder.finish();
    fsk.finish();
    handOn();
    return true;
}

QString AudioFileSource::lineName() const
{
    return m_path;
}
