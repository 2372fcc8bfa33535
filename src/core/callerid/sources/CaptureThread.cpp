#include "core/callerid/sources/CaptureThread.h"

#include "core/callerid/DtmfDecoder.h"
#include "core/callerid/FskDecoder.h"
#include "core/callerid/sources/AudioCapture.h"

#include <vector>

CaptureThread::CaptureThread(QString device, int sensitivity, std::shared_ptr<std::atomic<bool>> stop)
    : m_device(std::move(device))
    , m_sensitivity(sensitivity)
    , m_stop(std::move(stop))
{
}

void CaptureThread::run()
{
    constexpr int Rate = DtmfDecoder::DetectorRate;
    // 100 ms a read; nothing is lost between reads, since the decoder counts
    // time in samples, not in reads.
    constexpr int ChunkSamples = Rate / 10;
    while (!*m_stop) {
        std::unique_ptr<AudioCapture> capture = AudioCapture::create();
        QString error;
        if (!capture->open(m_device, Rate, &error)) {
            emit status(error, false);
            pause(2000);
            continue;
        }
        emit status(QStringLiteral("Ouvindo a linha"), true);
        DtmfDecoder decoder(Rate, m_sensitivity, [this](const CallerIdMessage &m) { emit message(m); });
        decoder.setDigitHandler([this](char d, qint64) { emit digit(QChar(QLatin1Char(d))); });
        // FSK (V.23 and Bell 202) on the same audio: the line needs no setting.
        FskDecoder fsk(Rate, [this](const CallerIdMessage &m) { emit message(m); });
        std::vector<int16_t> chunk(ChunkSamples);
        while (!*m_stop) {
            if (!capture->read(chunk.data(), chunk.size(), &error)) {
                emit status(error, false);
                break;
            }
            decoder.feed(chunk.data(), chunk.size());
            fsk.feed(chunk.data(), chunk.size());
            emit level(decoder.takePeakDb());
        }
        capture.reset();
        pause(1000);
    }
}

void CaptureThread::pause(int ms)
{
    for (int waited = 0; waited < ms && !*m_stop; waited += 50)
        QThread::msleep(50);
}
