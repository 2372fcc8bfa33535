#pragma once

#include "callerid/DtmfMessageParser.h"

#include <QList>

#include <cstdint>
#include <functional>
#include <memory>

// The caller-ID decoding chain for audio from the line: resampling to 8 kHz,
// a 300 Hz high-pass (hum, a DC offset and low dial tones otherwise blind the
// detector), spandsp's DTMF detector and our message parser. Audio may come in
// chunks of any size: the detector always works on the same internal blocks,
// so the result never depends on how the input was cut.
class DtmfDecoder
{
public:
    using MessageHandler = DtmfMessageParser::Handler;
    using DigitHandler = std::function<void(char digit, qint64 atMs)>;

    static constexpr int DetectorRate = 8000;
    static constexpr int DefaultSensitivity = 8;

    // `sensitivity` 1..10 sets the weakest tone detected: 8 is -42 dBm0, each
    // step 3 dB.
    DtmfDecoder(int inputRate, int sensitivity, MessageHandler onMessage);
    ~DtmfDecoder();
    DtmfDecoder(const DtmfDecoder &) = delete;
    DtmfDecoder &operator=(const DtmfDecoder &) = delete;

    // Each digit as it is detected, for a live test display.
    void setDigitHandler(DigitHandler handler);

    void feed(const int16_t *samples, size_t count);
    // End of the stream: an unfinished message is dropped.
    void finish();

    // Peak level of the audio fed since the last call, in dBFS (-100 for silence).
    double takePeakDb();
    // Milliseconds of audio decoded so far.
    qint64 positionMs() const;

    static int thresholdDbm0(int sensitivity);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
