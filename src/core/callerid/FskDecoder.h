#pragma once

#include "core/callerid/DtmfMessageParser.h"

#include <cstdint>
#include <functional>
#include <memory>

// On-hook FSK caller ID from the line's audio: spandsp's ADSI receivers for
// ETSI V.23 (1300/2100 Hz) and Bell 202 (1200/2200 Hz) listen to the same
// samples, so the line needs no setting; both listen twice, behind a hum
// filter and to the line as it came. Single (SDMF) and multiple data
// message (MDMF) formats give the number, or why it is absent (withheld,
// unavailable), the caller's name when sent, and the date and time. The
// receiver checks each message's checksum and drops one that fails; a
// message that passes but does not read as caller ID is dropped too.
// Audio at any rate from 8 to 768 kHz is brought to 8 kHz first, in chunks of
// any size.
class FskDecoder
{
public:
    using MessageHandler = std::function<void(const CallerIdMessage &)>;

    static constexpr int ReceiverRate = 8000;
    // The weakest signal taken for a carrier: spandsp's own default,
    // -30 dBm0, loses a line's quieter messages.
    static constexpr float SignalCutoffDbm0 = -48.0f;
    // The same message from both receivers, or repeated, within this time is
    // reported once.
    static constexpr qint64 RepeatWindowMs = 3000;

    FskDecoder(int inputRate, MessageHandler onMessage);
    ~FskDecoder();
    FskDecoder(const FskDecoder &) = delete;
    FskDecoder &operator=(const FskDecoder &) = delete;

    void feed(const int16_t *samples, size_t count);
    // End of the stream: the receivers' tail is pushed through.
    void finish();
    // Milliseconds of audio decoded so far.
    qint64 positionMs() const;

private:
    struct Receiver;
    struct State;
    std::unique_ptr<State> m_state;
};
