#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

// Finds DTMF digits in 8 kHz audio, made for caller ID: tones last 40 ms or
// more and stand alone on the line, so each analysis may look at 20 ms.
//
// Every 10 ms a 20 ms window is analysed with Goertzel filters at the eight
// DTMF frequencies and, beside each, at 5 % below and above. A window holds a
// digit when one frequency of each group stands above the threshold and 8 dB
// above the rest of its group, the two are within the allowed twist, no
// neighbour at 5 % is stronger (a tone more than about 2.5 % off is no DTMF
// tone, one 1.5 % + 2 Hz off still is), neither has a harmonic (a voice or an
// instrument on the same note has), and the two tones carry two thirds of the
// window's energy less what stays on the line between tones (hum, dial tone,
// noise; speech and music spread theirs). Levels and shares come from the
// two 10 ms hops, whose filters take a tone 1.5 % + 2 Hz off nearly whole.
// A digit begins with three such windows in a row, each near the strongest
// of them (a tone of 30 ms or more; one under 20 ms is not a digit), two of
// them with both frequencies, measured from the phase turn between hops,
// within 1.5 % + 7 Hz and within 9 Hz of each other (a voice's harmonics
// glide through); it ends after three windows without it.
//
// Hops too quiet to hold a tone at the threshold are not filtered at all: a
// quiet line costs little.
class DtmfToneDetector
{
public:
    static constexpr int Rate = 8000;
    static constexpr int HopSamples = 80; // 10 ms
    static constexpr int WindowSamples = 160; // 20 ms

    // `digit` in "0123456789*#ABCD"; `startSample` where its tone began;
    // `levelDbm0` the weaker of its two tones at their strongest.
    using DigitHandler = std::function<void(char digit, int64_t startSample, double levelDbm0)>;

    // Tones below `thresholdDbm0` (each) are not heard.
    DtmfToneDetector(double thresholdDbm0, DigitHandler onDigit);

    // Audio at 8 kHz, full scale 1.0: `tones` cleared of what lies below the
    // DTMF band, `line` as the line carries it but for hum and DC. The
    // tones' share is judged against the line's whole energy, which is
    // where a voice's pitch and lower harmonics show.
    void process(const float *tones, const float *line, size_t count);
    int64_t position() const { return m_samples; }

private:
    // 8 frequencies, each at -4 %, 0, +4 %; then their second harmonics;
    // then probes between and above the groups.
    static constexpr int HarmonicBins = 24;
    static constexpr int ProbeBins = HarmonicBins + 8;
    static constexpr int ProbeCount = 2;
    static constexpr int NearBins = ProbeBins + ProbeCount; // each frequency 1.75 % below and above
    static constexpr int Bins = NearBins + 16;

    void endHop();
    char analyse(double *levelDbm0) const;
    void decide(char candidate, double levelDbm0, bool inTune, std::array<float, 2> offsetsHz);

    struct Bin
    {
        std::complex<float> rotate; // e^-jw, to read the filter's output
        std::complex<float> hop; // e^-jw·HopSamples, to join two hops
    };
    std::array<Bin, Bins> m_bins {};
    // Each filter's 2 cos(w), in a row, padded to a multiple of eight.
    static constexpr size_t PaddedBins = (Bins + 7) / 8 * 8;
    alignas(32) std::array<float, PaddedBins> m_coefficients {};
    DigitHandler m_onDigit;
    float m_thresholdPower; // mean square of one tone at the threshold
    std::array<float, HopSamples> m_hop {}; // the hop being gathered
    std::array<float, HopSamples> m_hopLine {};
    int m_filled = 0;
    // The previous hop, as complex outputs and energy.
    std::array<std::complex<float>, Bins> m_previous {};
    float m_previousEnergy = 0;
    float m_previousLineEnergy = 0;
    int64_t m_samples = 0;
    // The line's energy in the last FloorHops hops: their least is what
    // stays on the line between tones and words.
    static constexpr size_t FloorHops = 50;
    std::array<float, FloorHops> m_lineFloor {};
    size_t m_lineFloorAt = 0;

    // Digit state: a candidate being confirmed, a digit being held.
    char m_candidate = 0;
    int64_t m_candidateStart = 0;
    struct Window
    {
        double level; // the weaker tone, dBm0
        bool inTune; // both tones' frequencies measured within the limits
        std::array<float, 2> offsetsHz; // the tones' frequencies, from the DTMF ones
    };
    std::vector<Window> m_run; // the candidate's windows so far
    char m_held = 0;
    int m_misses = 0;
};
