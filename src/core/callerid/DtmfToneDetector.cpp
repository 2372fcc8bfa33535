#include "core/callerid/DtmfToneDetector.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double Frequencies[8] = { 697, 770, 852, 941, 1209, 1336, 1477, 1633 };
constexpr char Keys[4][4]
    = { { '1', '2', '3', 'A' }, { '4', '5', '6', 'B' }, { '7', '8', '9', 'C' }, { '*', '0', '#', 'D' } };
// Beside each frequency, these relative steps: a tone nearer to a side than
// to the centre is more than about 2.5 % off (one 1.5 % + 2 Hz off, 1.8 % at
// 697 Hz, is still a DTMF tone). The near ones, 10 ms filters only, take the
// level of a tone off by that much whole.
constexpr double SideStep = 0.05;
constexpr double NearStep = 0.0175;

// Twist allowed, as measured: a tone 1.8 % off and what the other tone spills
// into its 10 ms filter move the measure by up to 2.5 dB: a line's high tone
// 8 dB weaker or its low tone 4 dB weaker is heard with every other limit at
// once, the low tone 6 dB weaker alone.
constexpr double HighWeakerDb = 10.5;
constexpr double LowWeakerDb = 7.0;
// A group's tone stands this far above the group's others.
constexpr double GroupMarginDb = 8.0;
// The two tones carry at least this share of the window's energy.
constexpr double ToneShare = 0.68;
// The line's steady part may take at most this share off the energy the
// tones are weighed against.
constexpr float SteadyShareMax = 0.5f;
// A DTMF tone is a pure sine: a voice or an instrument on the same note has
// overtones. A harmonic stronger than this (below the tone) is one.
constexpr double HarmonicDb = -12.0;
// Between and above the two groups a DTMF signal holds nothing; a voice's
// pitch harmonics fall there too. What these hold, next to the weaker tone,
// may not reach this: what the tones themselves spill there stays 10 dB
// under it even at 8 dB twist. The stronger tone 1.8 % off spills up to
// -17 dB of itself into the 1075 Hz probe: against it, ProbeStrongDb.
constexpr double Probes[] = { 1075, 1800 };
constexpr double ProbeDb = -10.0;
constexpr double ProbeStrongDb = -14.0;
// A digit begins with two windows whose hops, three or more, hold both tones
// within FlatDb: a tone filling 60 % of a hop or less weighs 3 dB less in its
// Hann window, so one under 22 ms cannot give three such hops, while one of
// 40 ms always holds three whole hops. Or it begins with three windows in a
// row (each 20 ms, 10 ms apart) each within NearPeakDb of the strongest (a
// tone under 20 ms cannot give three), the two hops they share within FlatDb.
constexpr double NearPeakDb = 6.0;
// A tone holds its level: both tones stay within this in the hops that count.
// A voice's harmonics swell and fade by 4 dB and more within 30 ms.
constexpr float FlatDb = 3.0f;
// A hop is filtered when it holds at least this share of one tone at the
// threshold.
constexpr float HopGate = 0.25f;
constexpr int MissesToEnd = 3;
// A tone's frequency, measured from the phase its Hann-weighted DFT turns
// through from one hop to the next, may be this far off (1.5 % + 2 Hz, and
// what noise adds to the measure). A digit needs two windows with both tones
// that near, and within SteadyHz of each other: a voice's harmonic glides
// through the band.
constexpr double TunedShare = 0.015;
constexpr double TunedHz = 2.0 + 5.0;
constexpr float SteadyHz = 9.0f;

float dbToRatio(double db)
{
    return float(std::pow(10.0, db / 10.0));
}

// 0 dBm0 is a sine 3.14 dB below full scale: its mean square.
double dbm0Power(double dbm0)
{
    const double amplitude = std::pow(10.0, (dbm0 - 3.14) / 20.0);
    return amplitude * amplitude / 2;
}

} // namespace

DtmfToneDetector::DtmfToneDetector(double thresholdDbm0, DigitHandler onDigit)
    : m_onDigit(std::move(onDigit))
    , m_thresholdPower(float(dbm0Power(thresholdDbm0)))
{
    // Nothing heard yet: no steady part.
    m_lineFloor.fill(std::numeric_limits<float>::max());
    auto tune = [this](Bin &b, double hz) {
        const double w = 2 * M_PI * hz / Rate;
        m_coefficients[size_t(&b - m_bins.data())] = float(2 * std::cos(w));
        b.rotate = std::complex<float>(float(std::cos(w)), float(-std::sin(w)));
        b.hop = std::complex<float>(float(std::cos(w * HopSamples)), float(-std::sin(w * HopSamples)));
    };
    for (int f = 0; f < 8; ++f) {
        for (int side = 0; side < 3; ++side)
            tune(m_bins[size_t(f * 3 + side)], Frequencies[f] * (1.0 + (side - 1) * SideStep));
        tune(m_bins[size_t(HarmonicBins + f)], 2 * Frequencies[f]);
        for (int side = 0; side < 2; ++side)
            tune(m_bins[size_t(NearBins + f * 2 + side)], Frequencies[f] * (1.0 + (side * 2 - 1) * NearStep));
    }
    for (int p = 0; p < ProbeCount; ++p)
        tune(m_bins[size_t(ProbeBins + p)], Probes[p]);
    // A rectangular 10 ms filter takes a tone 450 Hz away at -23 dB: with the
    // other tone 8 dB stronger, enough to move its measured frequency by 6 Hz.
    // A Hann window takes it at -49 dB.
    for (size_t f = 0; f < 8; ++f) {
        const double w = 2 * M_PI * Frequencies[f] / Rate;
        for (size_t n = 0; n < HopSamples; ++n) {
            const double hann = std::pow(std::sin(M_PI * (double(n) + 0.5) / HopSamples), 2);
            m_tuning[f][n] = std::polar(float(hann), float(-w * double(n)));
        }
    }
}

void DtmfToneDetector::process(const float *tones, const float *line, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        m_hop[size_t(m_filled)] = tones[i];
        m_hopLine[size_t(m_filled)] = line[i];
        if (++m_filled == HopSamples)
            endHop();
    }
}

void DtmfToneDetector::endHop()
{
    float energy = 0, lineEnergy = 0;
    for (int i = 0; i < HopSamples; ++i) {
        energy += m_hop[size_t(i)] * m_hop[size_t(i)];
        lineEnergy += m_hopLine[size_t(i)] * m_hopLine[size_t(i)];
    }
    // A hop too quiet to hold a tone at the threshold is not filtered: its
    // part in a window is taken as nothing.
    std::array<std::complex<float>, Bins> current {};
    if (energy >= HopGate * m_thresholdPower * HopSamples) {
        // All filters advance together, sample by sample, eight at a time:
        // the compiler keeps those in vector registers, where one filter
        // after another would wait on each step of its own.
        alignas(32) std::array<float, PaddedBins> s1 {}, s2 {};
        for (const float x : m_hop) {
            for (size_t b = 0; b < PaddedBins; b += 8) {
                for (size_t k = 0; k < 8; ++k) {
                    const float s = x + m_coefficients[b + k] * s1[b + k] - s2[b + k];
                    s2[b + k] = s1[b + k];
                    s1[b + k] = s;
                }
            }
        }
        // The filters' output at the hop's end: the DFT of the hop.
        for (int b = 0; b < Bins; ++b)
            current[size_t(b)] = s1[size_t(b)] - m_bins[size_t(b)].rotate * s2[size_t(b)];
    }
    std::array<std::complex<float>, Bins> window;
    for (int b = 0; b < Bins; ++b)
        window[size_t(b)] = m_previous[size_t(b)] + m_bins[size_t(b)].hop * current[size_t(b)];
    const float windowEnergy = m_previousEnergy + energy;

    char candidate = 0;
    Window found;
    if (windowEnergy >= m_thresholdPower * WindowSamples) {
        // The window's coefficients, as a tone's mean square.
        std::array<float, Bins> power;
        const float scale = 2.0f / (WindowSamples * WindowSamples);
        for (int b = 0; b < Bins; ++b)
            power[size_t(b)] = std::norm(window[size_t(b)]) * scale;
        auto centre = [&](int f) { return power[size_t(f * 3 + 1)]; };
        auto strongest = [&](int from) {
            int best = from;
            for (int f = from + 1; f < from + 4; ++f) {
                if (centre(f) > centre(best))
                    best = f;
            }
            return best;
        };
        const int row = strongest(0), col = strongest(4);
        // The tones' levels from the two 10 ms hops: a tone 1.5 % + 2 Hz
        // off loses up to 4.5 dB in the 20 ms filter (which tells the
        // frequencies apart), at most 1.2 dB in these.
        auto hopLevel = [&](int f) {
            float best = 0;
            for (const int b : { f * 3 + 1, NearBins + f * 2, NearBins + f * 2 + 1 })
                best = std::max(best, std::norm(m_previous[size_t(b)]) + std::norm(current[size_t(b)]));
            return best / float(HopSamples * HopSamples);
        };
        const float rowPower = hopLevel(row), colPower = hopLevel(col);
        bool ok = rowPower >= m_thresholdPower && colPower >= m_thresholdPower
            && colPower >= rowPower / dbToRatio(HighWeakerDb) && rowPower >= colPower / dbToRatio(LowWeakerDb);
        for (int f = 0; ok && f < 8; ++f) {
            const int mine = f < 4 ? row : col;
            if (f != mine && centre(f) * dbToRatio(GroupMarginDb) > hopLevel(mine))
                ok = false;
        }
        for (const int f : { row, col }) {
            if (power[size_t(f * 3)] > centre(f) || power[size_t(f * 3 + 2)] > centre(f))
                ok = false; // nearer to a side than to the DTMF frequency
            // The second harmonics of 697, 770 and 852 Hz lie within 75 Hz of
            // a high tone, which spills into their filter: only the others tell.
            if (f >= 3 && power[size_t(HarmonicBins + f)] > hopLevel(f) * dbToRatio(HarmonicDb))
                ok = false; // a note with overtones, not a tone
        }
        for (int p = 0; ok && p < ProbeCount; ++p) {
            if (power[size_t(ProbeBins + p)] > std::max(std::min(rowPower, colPower) * dbToRatio(ProbeDb),
                    std::max(rowPower, colPower) * dbToRatio(ProbeStrongDb)))
                ok = false; // more than two tones: a voice, music
        }
        // The tones' share is measured hop by hop: a 10 ms filter is wide
        // enough to take a tone 1.5 % off whole, where the 20 ms one loses
        // up to 4 dB of it.
        const float toneEnergy = (rowPower + colPower) * HopSamples * 2;
        // What stays on the line between tones (hum, the dial tone, noise)
        // is no voice: the share is judged against the rest, but never
        // against less than half the line.
        const float line = m_previousLineEnergy + lineEnergy;
        const float steady = 2 * *std::min_element(m_lineFloor.cbegin(), m_lineFloor.cend());
        const float reference = std::max(line - steady, line * SteadyShareMax);
        if (ok && toneEnergy >= ToneShare * reference) {
            candidate = Keys[row][col - 4];
            found.level = 10 * std::log10(std::min(rowPower, colPower) / dbm0Power(0));
            // Each tone in the two hops, Hann-weighted: its level in each, and
            // its frequency, relative to the DTMF one, from how far its phase
            // turns from one hop to the next.
            found.inTune = true;
            for (size_t t = 0; t < 2; ++t) {
                const int f = t == 0 ? row : col;
                std::complex<float> before, after;
                for (size_t n = 0; n < HopSamples; ++n) {
                    before += m_tuning[size_t(f)][n] * m_previousHop[n];
                    after += m_tuning[size_t(f)][n] * m_hop[n];
                }
                const std::complex<float> turn = after * std::conj(before) * m_bins[size_t(f * 3 + 1)].hop;
                found.offsetsHz[t] = std::arg(turn) * float(Rate / (2 * M_PI * HopSamples));
                found.first[t] = std::norm(before);
                found.second[t] = std::norm(after);
                found.inTune = found.inTune && std::abs(found.offsetsHz[t]) <= Frequencies[f] * TunedShare + TunedHz;
            }
        }
    }
    decide(candidate, found);

    m_previous = current;
    m_previousHop = m_hop;
    m_previousEnergy = energy;
    m_previousLineEnergy = lineEnergy;
    m_lineFloor[m_lineFloorAt] = lineEnergy;
    m_lineFloorAt = (m_lineFloorAt + 1) % m_lineFloor.size();
    m_filled = 0;
    m_samples += HopSamples;
}

void DtmfToneDetector::decide(char candidate, const Window &window)
{
    // The window just analysed began one hop before this hop.
    const int64_t windowStart = m_samples - HopSamples;
    if (m_held) {
        if (candidate == m_held) {
            m_misses = 0;
            return;
        }
        if (++m_misses < MissesToEnd && !candidate)
            return;
        m_held = 0;
        m_misses = 0;
    }
    if (!candidate || candidate != m_candidate) {
        m_candidate = candidate;
        m_candidateStart = windowStart;
        m_run.clear();
        if (!candidate)
            return;
    }
    m_run.push_back(window);
    if (!begins())
        return;
    double peak = m_run.front().level;
    for (const Window &w : m_run)
        peak = std::max(peak, w.level);
    m_held = candidate;
    m_candidate = 0;
    m_misses = 0;
    if (m_onDigit)
        m_onDigit(m_held, m_candidateStart, peak);
    m_run.clear();
}

bool DtmfToneDetector::begins() const
{
    // Two windows in tune on the same frequencies: a tone holds its
    // frequency, a voice's harmonic glides.
    auto tuned = [this](size_t a, size_t b) {
        const Window &x = m_run[a], &y = m_run[b];
        return x.inTune && y.inTune && std::abs(x.offsetsHz[0] - y.offsetsHz[0]) <= SteadyHz
            && std::abs(x.offsetsHz[1] - y.offsetsHz[1]) <= SteadyHz;
    };
    // Both tones within FlatDb from the first hop of window `from` to the
    // second of window `to`.
    auto level = [this](size_t from, size_t to) {
        for (size_t t = 0; t < 2; ++t) {
            float least = m_run[from].first[t], most = least;
            for (size_t j = from; j <= to; ++j) {
                least = std::min(least, m_run[j].second[t]);
                most = std::max(most, m_run[j].second[t]);
            }
            if (most > least * dbToRatio(FlatDb))
                return false;
        }
        return true;
    };
    const size_t last = m_run.size() - 1;
    for (size_t i = 0; i < last; ++i) {
        if (tuned(i, last) && level(i, last))
            return true;
    }
    // Three windows in a row near the strongest (a tone's edges fill the
    // outer ones in part), the two hops they share at one level, and two
    // windows near the strongest in tune.
    double peak = m_run.front().level;
    for (const Window &w : m_run)
        peak = std::max(peak, w.level);
    auto strong = [&](size_t i) { return m_run[i].level >= peak - NearPeakDb; };
    bool three = false, pair = false;
    for (size_t i = 1; i + 1 < m_run.size(); ++i)
        three = three || (strong(i - 1) && strong(i) && strong(i + 1) && level(i, i));
    for (size_t i = 0; three && !pair && i < m_run.size(); ++i) {
        for (size_t j = 0; !pair && j < i; ++j)
            pair = strong(i) && strong(j) && tuned(i, j);
    }
    return three && pair;
}
