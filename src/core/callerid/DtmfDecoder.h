#pragma once

#include "core/callerid/DtmfMessageParser.h"

#include <QList>

#include <cstdint>
#include <functional>
#include <memory>

// The caller-ID decoding chain for audio from the line: resampling to 8 kHz,
// a 500 Hz high-pass (hum, a DC offset and the dial tone otherwise take the
// tones' share of the energy), our DTMF detector made for caller ID, and the
// message parser, which drops a message whose digits do not keep its pace.
// Audio may come in chunks of any size: the detector always works on the
// same internal blocks, so the result never depends on how the input was cut.
// An input rate below 8 kHz or above 768 kHz cannot carry the tones as they
// were sent: such audio is not decoded at all.
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
