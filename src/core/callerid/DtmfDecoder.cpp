#include "core/callerid/DtmfDecoder.h"

#include "core/callerid/Biquad.h"
#include "core/callerid/DtmfToneDetector.h"
#include "core/callerid/FlushSubnormals.h"
#include "core/callerid/Resampling.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Input frames gathered before the resampler runs.
constexpr size_t PendingFrames = 256;
// Rates a recording or a sound card can sensibly have; outside them the
// decoder hears nothing rather than filtering above Nyquist.
constexpr int MinRate = 8000;
constexpr int MaxRate = 768000;

} // namespace

struct DtmfDecoder::State
{
    int inputRate = DetectorRate;
    bool usable = true;
    SRC_STATE *resampler = nullptr;
    // A whole multiple of 8 kHz (16, 48, 96 kHz): a FIR low-pass worked
    // out only for the samples kept. Eight taps for each: what folds back
    // into the DTMF band (up to 1.7 kHz) comes from above 6.3 kHz, where
    // that filter is 70 dB down.
    std::unique_ptr<Decimator> decimator;
    // A fourth-order high-pass at 500 Hz in front of the detector: hum and
    // its harmonics, a DC offset and the 425 Hz dial tone otherwise take the
    // tones' share of the energy. The lowest DTMF tone, 697 Hz, loses 0.3 dB.
    Biquad highPass1 = Biquad::highPass(500.0, DetectorRate, 0.5412);
    Biquad highPass2 = Biquad::highPass(500.0, DetectorRate, 1.3066);
    // The line as the detector weighs the tones' share against it: hum and a
    // DC offset removed, a voice's pitch harmonics from 300 Hz up kept.
    Biquad lineHighPass = Biquad::highPass(300.0, DetectorRate);
    // The dial tone (425 Hz; 400-450 Hz in other countries) is steady and
    // may be as loud as the tones: it is no voice, and would otherwise take
    // their share.
    Biquad lineNotch = Biquad::notch(425.0, DetectorRate, 10.0);
    // Before a higher input rate is brought down to 8 kHz: a fourth-order
    // low-pass at 3.4 kHz, so that plain linear interpolation aliases nothing
    // into the DTMF band and stays cheap.
    Biquad antiAlias1, antiAlias2;
    MessageHandler onMessage;
    DtmfMessageParser parser;
    DtmfToneDetector detector;
    DigitHandler onDigit;
    qint64 heardMs = 0; // when the last digit was recognised
    std::vector<float> in, out, pending, block, line;
    int peak = 0;

    State(MessageHandler handler, double thresholdDbm0)
        : onMessage(std::move(handler))
        , parser([this](const CallerIdMessage &m) {
            // A message counts from the moment its last digit was recognised.
            CallerIdMessage heard = m;
            heard.endMs = heardMs;
            onMessage(heard);
        })
        , detector(thresholdDbm0, [this](char digit, int64_t startSample, double) {
            heardMs = (detector.position() + DtmfToneDetector::HopSamples) * 1000 / DetectorRate;
            const qint64 atMs = startSample * 1000 / DetectorRate;
            if (onDigit)
                onDigit(digit, atMs);
            // The parser judges the pace by when each tone began.
            parser.addDigit(digit, atMs);
        })
    {
    }

    qint64 nowMs() const { return detector.position() * 1000 / DetectorRate; }

    void resample()
    {
        resamplePending(resampler, double(DetectorRate) / inputRate, pending, out,
            [this](const float *samples, std::size_t count) { detect8k(samples, count); });
    }

    // Audio at 8 kHz, as floats of full scale 1.0.
    void detect8k(const float *samples, size_t count)
    {
        block.resize(count);
        line.resize(count);
        for (size_t i = 0; i < count; ++i) {
            block[i] = highPass2(highPass1(samples[i]));
            line[i] = lineNotch(lineHighPass(samples[i]));
        }
        detector.process(block.data(), line.data(), count);
        parser.advanceTo(nowMs());
    }
};

DtmfDecoder::DtmfDecoder(int inputRate, int sensitivity, MessageHandler onMessage)
    : m_state(std::make_unique<State>(std::move(onMessage), thresholdDbm0(sensitivity)))
{
    m_state->inputRate = inputRate;
    m_state->usable = inputRate >= MinRate && inputRate <= MaxRate;
    if (m_state->usable && inputRate != DetectorRate && inputRate % DetectorRate == 0) {
        m_state->decimator = std::make_unique<Decimator>(inputRate / DetectorRate, 8, 3400.0, inputRate);
    } else if (m_state->usable && inputRate != DetectorRate) {
        int error = 0;
        m_state->resampler = src_new(SRC_LINEAR, 1, &error);
        m_state->antiAlias1 = Biquad::lowPass(3400.0, inputRate, 0.5412);
        m_state->antiAlias2 = Biquad::lowPass(3400.0, inputRate, 1.3066);
    }
}

DtmfDecoder::~DtmfDecoder()
{
    if (m_state->resampler)
        src_delete(m_state->resampler);
}

int DtmfDecoder::thresholdDbm0(int sensitivity)
{
    return -42 + (DefaultSensitivity - std::clamp(sensitivity, 1, 10)) * 3;
}

void DtmfDecoder::setDigitHandler(DigitHandler handler)
{
    m_state->onDigit = std::move(handler);
}

void DtmfDecoder::feed(const int16_t *samples, size_t count)
{
    State &s = *m_state;
    for (size_t i = 0; i < count; ++i)
        s.peak = std::max(s.peak, std::abs(int(samples[i])));
    if (!s.usable)
        return;
    const FlushSubnormals flush;
    s.in.resize(count);
    src_short_to_float_array(samples, s.in.data(), int(count));
    if (s.decimator) {
        const std::vector<float> &out = s.decimator->push(s.in.data(), count);
        s.detect8k(out.data(), out.size());
        return;
    }
    if (!s.resampler) {
        s.detect8k(s.in.data(), count);
        return;
    }
    // The resampler is handed whole blocks: given a frame or two it may take
    // nothing, and what it does not take must wait for the next chunk.
    for (const float x : s.in)
        s.pending.push_back(s.antiAlias2(s.antiAlias1(x)));
    if (s.pending.size() >= PendingFrames)
        s.resample();
}

void DtmfDecoder::finish()
{
    State &s = *m_state;
    if (s.usable) {
        const FlushSubnormals flush;
        if (s.resampler && !s.pending.empty())
            s.resample();
        if (s.decimator) {
            const std::vector<float> &out = s.decimator->finish();
            s.detect8k(out.data(), out.size());
        }
        // Push the tail through the detector so that a final tone is not lost.
        const std::vector<float> silence(DetectorRate / 10, 0.0f);
        s.detect8k(silence.data(), silence.size());
    }
    s.parser.finish();
}

double DtmfDecoder::takePeakDb()
{
    const int peak = std::exchange(m_state->peak, 0);
    return peak == 0 ? -100.0 : 20.0 * std::log10(peak / 32768.0);
}

qint64 DtmfDecoder::positionMs() const
{
    return m_state->nowMs();
}
