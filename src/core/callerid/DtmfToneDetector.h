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
// A digit begins with two such windows with both frequencies, measured from
// the phase turn between Hann-weighted hops, within 1.5 % + 7 Hz and within
// 9 Hz of each other (a voice's harmonics glide through), and a tone that
// holds its level within 3 dB (a voice's harmonics swell and fade): in every
// hop from the first of the two windows to the second, three hops or more;
// or, where three windows in a row stand near the strongest, in the two hops
// those share. A tone of 40 ms always holds three whole hops; one under
// 20 ms gives neither. The digit ends after three windows without it.
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
    struct Window;
    void decide(char candidate, const Window &window);
    bool begins() const;

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
    // The previous hop's samples, and for each DTMF frequency e^-jwn weighted
    // by a Hann window over one hop: the tones' frequencies and levels hop by
    // hop are measured on these.
    std::array<float, HopSamples> m_previousHop {};
    std::array<std::array<std::complex<float>, HopSamples>, 8> m_tuning {};
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
        double level = 0; // the weaker tone, dBm0
        bool inTune = false; // both tones' frequencies measured within the limits
        std::array<float, 2> offsetsHz {}; // the tones' frequencies, from the DTMF ones
        // Each tone's power in the window's first and second hop (relative).
        std::array<float, 2> first {}, second {};
    };
    std::vector<Window> m_run; // the candidate's windows so far
    char m_held = 0;
    int m_misses = 0;
};
