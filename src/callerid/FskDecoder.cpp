#include "callerid/FskDecoder.h"

#include "callerid/Biquad.h"
#include "callerid/FlushSubnormals.h"
#include "callerid/Resampling.h"

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
    Biquad antiAlias1, antiAlias2;
    // Hum and a DC offset would otherwise count as a carrier.
    Biquad highPass = Biquad::highPass(300.0, ReceiverRate);
    MessageHandler onMessage;
    std::array<Receiver, 2> receivers;
    qint64 position = 0; // samples at 8 kHz handed to the receivers
    qint64 quietRun = 0; // input samples in a row near zero
    qint64 quietNeeded = 0; // QuietMs of input samples
    double skipped = 0; // quiet input not filtered yet, in 8 kHz samples
    std::vector<float> in, out, pending;
    std::vector<int16_t> block;
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
        const qint64 atMs = (position + BlockSamples) * 1000 / ReceiverRate;
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
            const float x = std::clamp(highPass(samples[i]) * 32768.0f, -32768.0f, 32767.0f);
            block.push_back(int16_t(x >= 0 ? x + 0.5f : x - 0.5f));
            if (block.size() == size_t(BlockSamples)) {
                for (Receiver &r : receivers)
                    adsi_rx(r.rx, block.data(), BlockSamples);
                position += BlockSamples;
                block.clear();
            }
        }
    }

    // Quiet input left out: the block under way is completed with zeros,
    // then whole blocks are only counted.
    void skipQuiet()
    {
        auto samples = qint64(skipped);
        skipped -= double(samples);
        while (samples > 0 && !block.empty()) {
            const float zero = 0.0f;
            receive8k(&zero, 1);
            --samples;
        }
        position += samples / BlockSamples * BlockSamples;
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
    s.quietNeeded = qint64(inputRate) * QuietMs / 1000;
    const int standards[] = { ADSI_STANDARD_CLIP, ADSI_STANDARD_CLASS };
    for (size_t i = 0; i < s.receivers.size(); ++i) {
        Receiver &r = s.receivers[i];
        r.owner = &s;
        r.rx = adsi_rx_init(nullptr, standards[i], &State::received, &r);
        fsk_rx_signal_cutoff(&r.rx->fskrx, SignalCutoffDbm0);
    }
    if (s.usable && inputRate != ReceiverRate) {
        int error = 0;
        s.resampler = src_new(SRC_LINEAR, 1, &error);
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
            if (!s.resampler) {
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
