#pragma once

#include <samplerate.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <vector>

// Brings what waits in `pending` to the decoders' rate (`ratio` = output rate
// over input rate) through libsamplerate, handing each piece to `sink`, and
// keeps in `pending` what the resampler did not take yet. `out` is scratch
// room, kept between calls so that it is not allocated each time.
inline void resamplePending(SRC_STATE *resampler, double ratio, std::vector<float> &pending, std::vector<float> &out,
    const std::function<void(const float *, std::size_t)> &sink)
{
    out.resize(std::size_t(double(pending.size()) * ratio) + 64);
    SRC_DATA data {};
    data.data_in = pending.data();
    data.input_frames = long(pending.size());
    data.data_out = out.data();
    data.output_frames = long(out.size());
    data.src_ratio = ratio;
    std::size_t used = 0;
    while (data.input_frames > 0) {
        if (src_process(resampler, &data) != 0 || (data.input_frames_used == 0 && data.output_frames_gen == 0))
            break;
        sink(out.data(), std::size_t(data.output_frames_gen));
        used += std::size_t(data.input_frames_used);
        data.data_in += data.input_frames_used;
        data.input_frames -= data.input_frames_used;
    }
    pending.erase(pending.begin(), pending.begin() + long(used));
}

// Brings audio at a whole multiple of the output rate down to it: a low-pass
// FIR filter (windowed sinc, Blackman) worked out only for the samples kept,
// a fraction of what filter sections on every input sample would cost.
class Decimator
{
public:
    // `tapsPerOutput` input samples at the output rate's spacing (a multiple
    // of eight); `cutoffHz` where the filter's pass band ends.
    Decimator(int factor, int tapsPerOutput, double cutoffHz, double inputRate)
        : m_factor(size_t(factor))
    {
        const int taps = tapsPerOutput * factor;
        const double cut = cutoffHz / inputRate;
        double sum = 0;
        for (int n = 0; n < taps; ++n) {
            const double t = n - (taps - 1) / 2.0;
            const double sinc = t == 0 ? 2 * cut : std::sin(2 * M_PI * cut * t) / (M_PI * t);
            const double w
                = 0.42 - 0.5 * std::cos(2 * M_PI * n / (taps - 1)) + 0.08 * std::cos(4 * M_PI * n / (taps - 1));
            m_filter.push_back(float(sinc * w));
            sum += sinc * w;
        }
        for (float &h : m_filter)
            h = float(h / sum);
    }

    // The output the samples so far complete; what the next output needs
    // waits for more input.
    const std::vector<float> &push(const float *samples, std::size_t count)
    {
        m_pending.insert(m_pending.end(), samples, samples + count);
        return run();
    }
    // The input's end: the last samples, followed by silence.
    const std::vector<float> &finish()
    {
        m_pending.resize(m_pending.size() + m_filter.size(), 0.0f);
        const std::vector<float> &out = run();
        m_pending.clear();
        return out;
    }

private:
    const std::vector<float> &run()
    {
        const std::size_t taps = m_filter.size();
        m_out.clear();
        std::size_t at = 0;
        for (; at + taps <= m_pending.size(); at += m_factor) {
            const float *x = m_pending.data() + at;
            const float *h = m_filter.data();
            // Eight partial sums, which the compiler keeps in vector
            // registers.
            std::array<float, 8> sum {};
            for (std::size_t i = 0; i < taps; i += 8) {
                for (std::size_t k = 0; k < 8; ++k)
                    sum[k] += x[i + k] * h[i + k];
            }
            m_out.push_back(((sum[0] + sum[1]) + (sum[2] + sum[3])) + ((sum[4] + sum[5]) + (sum[6] + sum[7])));
        }
        m_pending.erase(m_pending.begin(), m_pending.begin() + long(at));
        return m_out;
    }

    std::size_t m_factor;
    std::vector<float> m_filter, m_pending, m_out;
};
