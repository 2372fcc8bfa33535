#include "callerid/DtmfDecoder.h"

#include <samplerate.h>

extern "C" {
#include <spandsp.h>
}

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The detector is fed in blocks of this many 8 kHz samples (5 ms), whatever
// the size of the chunks that arrive.
constexpr int BlockSamples = 40;
// Input frames gathered before the resampler runs.
constexpr size_t PendingFrames = 256;

// A second-order section (transposed direct form II), in floating point: a
// fixed-point form overflows on the strong hum it is there to remove.
class Biquad
{
public:
    // Butterworth-family sections by the bilinear transform; q = 1/sqrt(2)
    // gives a second-order Butterworth.
    static Biquad highPass(double hz, double rate, double q = M_SQRT1_2) { return make(hz, rate, q, true); }
    static Biquad lowPass(double hz, double rate, double q = M_SQRT1_2) { return make(hz, rate, q, false); }

    float operator()(float x)
    {
        const double y = m_b0 * x + m_s1;
        m_s1 = m_b1 * x - m_a1 * y + m_s2;
        m_s2 = m_b2 * x - m_a2 * y;
        return float(y);
    }

private:
    static Biquad make(double hz, double rate, double q, bool high)
    {
        const double k = std::tan(M_PI * hz / rate);
        const double norm = 1.0 / (1.0 + k / q + k * k);
        Biquad b;
        if (high) {
            b.m_b0 = norm;
            b.m_b1 = -2.0 * norm;
        } else {
            b.m_b0 = k * k * norm;
            b.m_b1 = 2.0 * k * k * norm;
        }
        b.m_b2 = b.m_b0;
        b.m_a1 = 2.0 * (k * k - 1.0) * norm;
        b.m_a2 = (1.0 - k / q + k * k) * norm;
        return b;
    }

    double m_b0 = 1, m_b1 = 0, m_b2 = 0, m_a1 = 0, m_a2 = 0;
    double m_s1 = 0, m_s2 = 0;
};

} // namespace

struct DtmfDecoder::State
{
    int inputRate = DetectorRate;
    SRC_STATE *resampler = nullptr;
    dtmf_rx_state_t *detector = nullptr;
    // 300 Hz high-pass in front of the detector: hum, a DC offset and low
    // dial tones otherwise blind it.
    Biquad highPass = Biquad::highPass(300.0, DetectorRate);
    // Before a higher input rate is brought down to 8 kHz: a fourth-order
    // low-pass at 3.4 kHz, so that plain linear interpolation aliases nothing
    // into the DTMF band and stays cheap.
    Biquad antiAlias1, antiAlias2;
    DtmfMessageParser parser;
    DigitHandler onDigit;
    std::vector<float> in, out, pending;
    std::vector<int16_t> block;
    qint64 samples8k = 0; // 8 kHz samples handed to the detector
    int peak = 0;

    explicit State(MessageHandler handler)
        : parser(std::move(handler))
    {
    }

    qint64 nowMs() const { return samples8k * 1000 / DetectorRate; }

    void resample()
    {
        const double ratio = double(DetectorRate) / inputRate;
        out.resize(size_t(pending.size() * ratio) + 64);
        SRC_DATA data {};
        data.data_in = pending.data();
        data.input_frames = long(pending.size());
        data.data_out = out.data();
        data.output_frames = long(out.size());
        data.src_ratio = ratio;
        size_t used = 0;
        while (data.input_frames > 0) {
            if (src_process(resampler, &data) != 0 || (data.input_frames_used == 0 && data.output_frames_gen == 0))
                break;
            detect8k(out.data(), size_t(data.output_frames_gen));
            used += size_t(data.input_frames_used);
            data.data_in += data.input_frames_used;
            data.input_frames -= data.input_frames_used;
        }
        pending.erase(pending.begin(), pending.begin() + long(used));
    }

    static void digits(void *user, const char *digits, int len)
    {
        auto *s = static_cast<State *>(user);
        for (int i = 0; i < len; ++i) {
            if (s->onDigit)
                s->onDigit(digits[i], s->nowMs());
            s->parser.addDigit(digits[i], s->nowMs());
        }
    }

    // Audio at 8 kHz, as floats of full scale 1.0.
    void detect8k(const float *samples, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            const float y = std::clamp(highPass(samples[i]) * 32768.0f, -32768.0f, 32767.0f);
            block.push_back(int16_t(y >= 0.0f ? y + 0.5f : y - 0.5f));
            if (block.size() == BlockSamples) {
                samples8k += BlockSamples;
                dtmf_rx(detector, block.data(), BlockSamples);
                parser.advanceTo(nowMs());
                block.clear();
            }
        }
    }
};

DtmfDecoder::DtmfDecoder(int inputRate, int sensitivity, MessageHandler onMessage)
    : m_state(std::make_unique<State>(std::move(onMessage)))
{
    m_state->inputRate = inputRate;
    m_state->detector = dtmf_rx_init(nullptr, &State::digits, m_state.get());
    // Twist allowances of 10 / 6 dB let the detector meet the 8 / 4 dB that
    // exchanges are allowed; dial-tone filtering is left to our high-pass.
    dtmf_rx_parms(m_state->detector, 0, 10, 6, thresholdDbm0(sensitivity));
    if (inputRate != DetectorRate) {
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
    dtmf_rx_free(m_state->detector);
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
    s.in.resize(count);
    src_short_to_float_array(samples, s.in.data(), int(count));
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
    if (m_state->resampler && !m_state->pending.empty())
        m_state->resample();
    // Push the tail through the detector so that a final tone is not lost.
    const std::vector<float> silence(DetectorRate / 10, 0.0f);
    m_state->detect8k(silence.data(), silence.size());
    m_state->parser.finish();
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
