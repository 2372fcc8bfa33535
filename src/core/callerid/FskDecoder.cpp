#include "core/callerid/FskDecoder.h"

#include "core/callerid/Biquad.h"
#include "core/callerid/FlushSubnormals.h"
#include "core/callerid/Resampling.h"

#include <samplerate.h>

// The receiver's state is needed to lower its signal cutoff, which adsi.h
// offers no setter for.
#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
#include <spandsp.h>

#include <QByteArray>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

constexpr size_t PendingFrames = 256;
constexpr int MinRate = 8000;
constexpr int MaxRate = 768000;
// The receivers are fed 10 ms at a time, so that a message's time is known
// to that step.
constexpr int BlockSamples = FskDecoder::ReceiverRate / 100;

// Input this close to zero is silence or dither: no signal the receivers
// could take for a carrier. After QuietMs of it the receivers have settled,
// and more of it is only counted, not filtered: exact digital silence costs
// next to nothing.
constexpr int QuietAmplitude = 4;
constexpr int QuietMs = 50;

// The receivers demodulate whatever they are given, noise too, and that is
// where the time goes. A block is handed to them only while a carrier could
// be on the line: over the last GateWindowBlocks, the power in the FSK band
// (1000-2600 Hz, both standards with 2 % to spare) is at least within
// GateMarginDb of their signal cutoff and at least InBandShare of all the
// power above the hum filter. White noise puts about half its power in that
// band (43 % at 8 kHz, more when the anti-alias filter takes off the top), a
// carrier more than 75 % even 6 dB under noise. Once a carrier
// is gone, GateHoldBlocks more are given, so a message's last bits and its
// end reach them. Blocks not given are kept, HistoryBlocks of them, and given
// first when the gate opens: channel seizure and mark are never cut, and the
// receivers hear the same samples in the same order as without the gate.
constexpr int GateWindowBlocks = 4;
constexpr int GateHoldBlocks = 30;
constexpr int HistoryBlocks = 50;
constexpr double GateMarginDb = 6.0;
constexpr double InBandShare = 0.7;
// The power of a sine at 0 dBm0, for samples scaled to +-1: 3.14 dB below
// full scale.
const double PowerAt0Dbm0 = std::pow(10.0, -3.14 / 10.0) / 2.0;

constexpr uint8_t SdmfCallerId = 0x04;
constexpr uint8_t MdmfCallerId = 0x80;
constexpr uint8_t DateTimeField = 0x01;
constexpr uint8_t NumberField = 0x02;
constexpr uint8_t NumberAbsentField = 0x04;
constexpr uint8_t NameField = 0x07;

// The number as sent: digits, perhaps with spaces or dashes between them.
// Anything else is not a number; empty then.
bool readDigits(const QByteArray &field, QString *digits)
{
    digits->clear();
    for (const char c : field) {
        if (c >= '0' && c <= '9')
            digits->append(QLatin1Char(c));
        else if (c != ' ' && c != '-')
            return false;
    }
    return true;
}

QString readName(const QByteArray &field)
{
    QString name;
    for (const char c : field) {
        const uchar u = uchar(c);
        if (u >= 0x20 && u != 0x7f)
            name.append(QChar(u)); // Latin-1
    }
    return name.simplified();
}

} // namespace

struct FskDecoder::Receiver
{
    adsi_rx_state_t *rx = nullptr;
    FskDecoder::State *owner = nullptr;
};

struct FskDecoder::State
{
    int inputRate = ReceiverRate;
    bool usable = true;
    SRC_STATE *resampler = nullptr;
    // A whole multiple of 8 kHz (16, 48, 96 kHz) needs no interpolation: a
    // low-pass FIR filter is worked out only for every decimation-th sample,
    // a fraction of the time the anti-alias sections and the resampler take
    // on every input sample.
    std::unique_ptr<Decimator> decimator;
    Biquad antiAlias1, antiAlias2;
    // Hum, its harmonics and a DC offset: the receivers' one-baud
    // correlators hear tones far from the carrier, and mains harmonics at
    // 180-300 Hz broke messages at any level. Fourth-order, at 700 Hz: 29 dB
    // off at 300 Hz, under 0.3 dB at 1170 Hz (Bell 202's mark 2.5 % low).
    Biquad highPass1 = Biquad::highPass(700.0, ReceiverRate, 0.5412);
    Biquad highPass2 = Biquad::highPass(700.0, ReceiverRate, 1.3066);
    // The FSK band for the gate: fourth-order Butterworth edges.
    Biquad bandLow1 = Biquad::highPass(1000.0, ReceiverRate, 0.5412);
    Biquad bandLow2 = Biquad::highPass(1000.0, ReceiverRate, 1.3066);
    Biquad bandHigh1 = Biquad::lowPass(2600.0, ReceiverRate, 0.5412);
    Biquad bandHigh2 = Biquad::lowPass(2600.0, ReceiverRate, 1.3066);
    // Power of the block under way and of the last blocks, in the band and
    // in all.
    double blockInBand = 0, blockTotal = 0;
    std::array<double, GateWindowBlocks> inBand {}, total {};
    size_t windowAt = 0;
    double minInBand = 0; // over the window, at the gate's level
    int hold = 0; // blocks the gate stays open
    // Blocks not given to the receivers, oldest first, as a ring: each
    // behind the hum filter, then as it came.
    std::vector<int16_t> history;
    size_t historyFirst = 0, historyCount = 0;
    MessageHandler onMessage;
    // V.23 and Bell 202 behind the hum filter, then the same two on the
    // line as it came: the filter's phase turn near 1200 Hz costs the
    // receivers messages in noise that the unfiltered ones read. A message
    // either pair reads whose checksum passes is taken, once.
    std::array<Receiver, 4> receivers;
    qint64 position = 0; // samples at 8 kHz in whole blocks so far
    qint64 heardAt = 0; // where the block the receivers hear starts
    qint64 quietRun = 0; // input samples in a row near zero
    qint64 quietNeeded = 0; // QuietMs of input samples
    double skipped = 0; // quiet input not filtered yet, in 8 kHz samples
    std::vector<float> in, out, pending;
    std::vector<int16_t> block, rawBlock;
    QByteArray lastMessage;
    qint64 lastMs = -RepeatWindowMs;

    qint64 nowMs() const { return position * 1000 / ReceiverRate; }

    static void received(void *user, const uint8_t *msg, int len)
    {
        auto *receiver = static_cast<Receiver *>(user);
        receiver->owner->read(*receiver, msg, len);
    }

    void read(const Receiver &receiver, const uint8_t *msg, int len)
    {
        if (len < 2 || (msg[0] != SdmfCallerId && msg[0] != MdmfCallerId))
            return;
        const qint64 atMs = (heardAt + BlockSamples) * 1000 / ReceiverRate;
        const QByteArray bytes(reinterpret_cast<const char *>(msg), len);
        if (bytes == lastMessage && atMs - lastMs < RepeatWindowMs)
            return;
        CallerIdMessage message;
        if (!parse(receiver, msg, len, &message))
            return;
        lastMessage = bytes;
        lastMs = atMs;
        message.endMs = atMs;
        onMessage(message);
    }

    // The fields of a caller-ID message, as adsi_next_field walks them. A
    // message without a number or a reason for its absence, or with a number
    // that is not digits, is not a call.
    static bool parse(const Receiver &receiver, const uint8_t *msg, int len, CallerIdMessage *message)
    {
        QByteArray dateTime, number, absent, name;
        uint8_t type = 0;
        const uint8_t *body = nullptr;
        int fieldLength = 0;
        const bool single = msg[0] == SdmfCallerId;
        // The first field is the message's header; in a single data message
        // the second is the whole body.
        int pos = adsi_next_field(receiver.rx, msg, len, -1, &type, &body, &fieldLength);
        while (pos > 0) {
            fieldLength = -1;
            pos = adsi_next_field(receiver.rx, msg, len, pos, &type, &body, &fieldLength);
            if (fieldLength == -2)
                return false;
            if (pos <= 0 || fieldLength < 0)
                break;
            const QByteArray value(reinterpret_cast<const char *>(body), body ? fieldLength : 0);
            if (single) {
                // Eight digits MMDDHHMM, then the number or 'P' / 'O'.
                if (value.size() < 8)
                    return false;
                dateTime = value.left(8);
                const QByteArray rest = value.mid(8);
                (rest == "P" || rest == "O" ? absent : number) = rest;
                break;
            }
            switch (type) {
            case DateTimeField: dateTime = value; break;
            case NumberField: number = value; break;
            case NumberAbsentField: absent = value; break;
            case NameField: name = value; break;
            default: break;
            }
        }
        QString digits;
        if (!readDigits(number, &digits))
            return false;
        if (digits.isEmpty() && absent.isEmpty())
            return false;
        if (!digits.isEmpty())
            message->kind = CallerIdMessage::Kind::Number;
        else if (absent.startsWith('P'))
            message->kind = CallerIdMessage::Kind::Withheld;
        else
            message->kind = CallerIdMessage::Kind::Unavailable;
        message->digits = digits;
        message->name = readName(name);
        // Which receiver heard it says little: V.23's also reads Bell 202.
        QString raw = single ? QStringLiteral("FSK SDMF") : QStringLiteral("FSK MDMF");
        QString when;
        if (dateTime.size() == 8 && readDigits(dateTime, &when) && when.size() == 8)
            raw += QStringLiteral(" %1/%2 %3:%4").arg(when.mid(2, 2), when.mid(0, 2), when.mid(4, 2), when.mid(6, 2));
        message->raw = raw;
        return true;
    }

    void receive8k(const float *samples, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            const float y = highPass2(highPass1(samples[i]));
            const float b = bandHigh2(bandHigh1(bandLow2(bandLow1(y))));
            blockTotal += double(y) * y;
            blockInBand += double(b) * b;
            block.push_back(toSample(y));
            rawBlock.push_back(toSample(samples[i]));
            if (block.size() == size_t(BlockSamples)) {
                gate(block.data(), rawBlock.data());
                block.clear();
                rawBlock.clear();
            }
        }
    }

    static int16_t toSample(float y)
    {
        const float x = std::clamp(y * 32768.0f, -32768.0f, 32767.0f);
        return int16_t(x >= 0 ? x + 0.5f : x - 0.5f);
    }

    void hear(const int16_t *filtered, const int16_t *raw, qint64 at)
    {
        heardAt = at;
        for (size_t i = 0; i < receivers.size(); ++i)
            adsi_rx(receivers[i].rx, const_cast<int16_t *>(i < 2 ? filtered : raw), BlockSamples);
    }

    // A whole block: to the receivers while a carrier could be on the line,
    // otherwise into the history.
    void gate(const int16_t *samples, const int16_t *raw)
    {
        inBand[windowAt] = blockInBand;
        total[windowAt] = blockTotal;
        windowAt = (windowAt + 1) % GateWindowBlocks;
        blockInBand = blockTotal = 0;
        double in = 0, all = 0;
        for (size_t i = 0; i < GateWindowBlocks; ++i) {
            in += inBand[i];
            all += total[i];
        }
        if (in >= minInBand && in >= InBandShare * all)
            hold = GateHoldBlocks;
        if (hold > 0) {
            --hold;
            const qint64 first = position - qint64(historyCount) * BlockSamples;
            for (size_t i = 0; i < historyCount; ++i) {
                const int16_t *kept = &history[(historyFirst + i) % HistoryBlocks * 2 * BlockSamples];
                hear(kept, kept + BlockSamples, first + qint64(i) * BlockSamples);
            }
            historyFirst = historyCount = 0;
            hear(samples, raw, position);
        } else {
            const size_t slot = (historyFirst + historyCount) % HistoryBlocks;
            std::copy(samples, samples + BlockSamples, history.begin() + long(slot * 2 * BlockSamples));
            std::copy(raw, raw + BlockSamples, history.begin() + long((slot * 2 + 1) * BlockSamples));
            if (historyCount < size_t(HistoryBlocks))
                ++historyCount;
            else
                historyFirst = (historyFirst + 1) % HistoryBlocks;
        }
        position += BlockSamples;
    }

    // Quiet input left out: the block under way is completed with zeros,
    // and zero blocks go through the gate as long as they can change
    // anything (the gate's hold, its window, the history); the rest are only
    // counted.
    void skipQuiet()
    {
        auto samples = qint64(skipped);
        skipped -= double(samples);
        while (samples > 0 && !block.empty()) {
            const float zero = 0.0f;
            receive8k(&zero, 1);
            --samples;
        }
        qint64 blocks = samples / BlockSamples;
        const std::array<int16_t, BlockSamples> zeros {};
        for (; blocks > 0 && hold > 0; --blocks)
            gate(zeros.data(), zeros.data());
        const qint64 counted = std::max<qint64>(0, blocks - HistoryBlocks - GateWindowBlocks);
        if (counted > 0) {
            historyFirst = historyCount = 0;
            position += counted * BlockSamples;
            blocks -= counted;
        }
        for (; blocks > 0; --blocks)
            gate(zeros.data(), zeros.data());
        const std::vector<float> rest(size_t(samples % BlockSamples), 0.0f);
        receive8k(rest.data(), rest.size());
    }

    void resample()
    {
        resamplePending(resampler, double(ReceiverRate) / inputRate, pending, out,
            [this](const float *samples, std::size_t count) { receive8k(samples, count); });
    }
};

FskDecoder::FskDecoder(int inputRate, MessageHandler onMessage)
    : m_state(std::make_unique<State>())
{
    State &s = *m_state;
    s.onMessage = std::move(onMessage);
    s.inputRate = inputRate;
    s.usable = inputRate >= MinRate && inputRate <= MaxRate;
    s.block.reserve(BlockSamples);
    s.rawBlock.reserve(BlockSamples);
    s.history.resize(size_t(HistoryBlocks) * 2 * BlockSamples);
    s.minInBand
        = PowerAt0Dbm0 * std::pow(10.0, (SignalCutoffDbm0 - GateMarginDb) / 10.0) * BlockSamples * GateWindowBlocks;
    s.quietNeeded = qint64(inputRate) * QuietMs / 1000;
    const int standards[] = { ADSI_STANDARD_CLIP, ADSI_STANDARD_CLASS, ADSI_STANDARD_CLIP, ADSI_STANDARD_CLASS };
    for (size_t i = 0; i < s.receivers.size(); ++i) {
        Receiver &r = s.receivers[i];
        r.owner = &s;
        r.rx = adsi_rx_init(nullptr, standards[i], &State::received, &r);
        fsk_rx_signal_cutoff(&r.rx->fskrx, SignalCutoffDbm0);
    }
    if (s.usable && inputRate != ReceiverRate) {
        if (inputRate % ReceiverRate == 0) {
            // 16 taps for each output sample, cutting at 3400 Hz: flat over
            // both standards' tones, and what folds back from above 4 kHz
            // lands above the FSK band or 70 dB down.
            s.decimator = std::make_unique<Decimator>(inputRate / ReceiverRate, 16, 3400.0, inputRate);
        } else {
            int error = 0;
            s.resampler = src_new(SRC_LINEAR, 1, &error);
        }
        s.antiAlias1 = Biquad::lowPass(3400.0, inputRate, 0.5412);
        s.antiAlias2 = Biquad::lowPass(3400.0, inputRate, 1.3066);
    }
}

FskDecoder::~FskDecoder()
{
    for (Receiver &r : m_state->receivers)
        adsi_rx_free(r.rx);
    if (m_state->resampler)
        src_delete(m_state->resampler);
}

void FskDecoder::feed(const int16_t *samples, size_t count)
{
    State &s = *m_state;
    if (!s.usable)
        return;
    const FlushSubnormals flush;
    const double step = double(ReceiverRate) / s.inputRate;
    const auto quiet = [](int16_t x) { return x >= -QuietAmplitude && x <= QuietAmplitude; };
    qint64 run = s.quietRun;
    size_t i = 0;
    while (i < count) {
        // A stretch that is not to be skipped, up to the next long quiet run.
        const size_t from = i;
        for (; i < count; ++i) {
            run = quiet(samples[i]) ? run + 1 : 0;
            if (run > s.quietNeeded)
                break;
        }
        if (i > from) {
            if (s.skipped >= 1.0)
                s.skipQuiet();
            s.in.resize(i - from);
            src_short_to_float_array(samples + from, s.in.data(), int(i - from));
            if (s.decimator) {
                const std::vector<float> &out = s.decimator->push(s.in.data(), s.in.size());
                s.receive8k(out.data(), out.size());
            } else if (!s.resampler) {
                s.receive8k(s.in.data(), s.in.size());
            } else {
                for (const float x : s.in)
                    s.pending.push_back(s.antiAlias2(s.antiAlias1(x)));
                if (s.pending.size() >= PendingFrames)
                    s.resample();
            }
        }
        // The long quiet run: what waits for the resampler goes first.
        if (i < count && s.resampler && !s.pending.empty())
            s.resample();
        const size_t quietFrom = i;
        while (i < count && quiet(samples[i]))
            ++i;
        s.skipped += double(i - quietFrom) * step;
        run += qint64(i - quietFrom);
        if (i < count)
            run = 0;
    }
    s.quietRun = run;
}

void FskDecoder::finish()
{
    State &s = *m_state;
    if (!s.usable)
        return;
    const FlushSubnormals flush;
    if (s.resampler && !s.pending.empty())
        s.resample();
    if (s.decimator) {
        // The last samples wait for the filter's length of input after them.
        const std::vector<float> &out = s.decimator->finish();
        s.receive8k(out.data(), out.size());
    }
    s.skipQuiet();
    // A message that ends right at the end of the stream still has its last
    // bits inside the receivers' filters.
    const std::vector<float> silence(ReceiverRate / 10, 0.0f);
    s.receive8k(silence.data(), silence.size());
}

qint64 FskDecoder::positionMs() const
{
    return m_state->nowMs();
}
