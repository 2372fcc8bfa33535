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
// DTMF frequencies and, beside each, at 4 % below and above. A window holds a
// digit when one frequency of each group stands above the threshold and 6 dB
// above the rest of its group, the two are within the allowed twist, no
// neighbour at 4 % is stronger (a tone more than about 2 % off is no DTMF
// tone, one 1.5 % off still is), neither has a harmonic (a voice or an
// instrument on the same note has), and the two tones carry two thirds of the
// window's energy (speech and music spread theirs; measured over each 10 ms
// hop, whose filter takes a tone 1.5 % off whole). A digit begins with three
// such windows in a row, each near the strongest of them (a tone of 30 ms or
// more; one under 20 ms is not a digit), and ends after three without it.
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
    static constexpr int Bins = ProbeBins + ProbeCount;

    void endHop();
    char analyse(double *levelDbm0) const;
    void decide(char candidate, double levelDbm0);

    struct Bin
    {
        float coefficient; // 2 cos(w)
        std::complex<float> rotate; // e^-jw, to read the filter's output
        std::complex<float> hop; // e^-jw·HopSamples, to join two hops
    };
    std::array<Bin, Bins> m_bins {};
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

    // Digit state: a candidate being confirmed, a digit being held.
    char m_candidate = 0;
    int64_t m_candidateStart = 0;
    std::vector<double> m_run; // the levels of the candidate's windows so far
    char m_held = 0;
    int m_misses = 0;
};
