#include "DtmfSignal.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace {

void frequencies(QChar digit, double *low, double *high)
{
    static const char keys[4][5] = { "123A", "456B", "789C", "*0#D" };
    static const double lows[4] = { 697, 770, 852, 941 };
    static const double highs[4] = { 1209, 1336, 1477, 1633 };
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (keys[r][c] == digit.toLatin1()) {
                *low = lows[r];
                *high = highs[c];
                return;
            }
        }
    }
    *low = *high = 0;
}

void mix(std::vector<int16_t> &audio, size_t i, double value)
{
    audio[i] = int16_t(std::clamp(std::lrint(audio[i] + value), -32768L, 32767L));
}

} // namespace

double DtmfSignal::dbm0ToAmplitude(double dbm0)
{
    // 0 dBm0 is a sine 3.14 dB below the 16-bit full scale.
    return 32768.0 * std::pow(10.0, (dbm0 - 3.14) / 20.0);
}

double DtmfSignal::toneStartMs(const QString &digits, int index) const
{
    Q_UNUSED(digits);
    QRandomGenerator rng(seed);
    const double offset = rng.bounded(20.0);
    return leadMs + offset + index * (onMs + offMs);
}

std::vector<int16_t> DtmfSignal::render(const QString &digits) const
{
    QRandomGenerator rng(seed);
    const double offset = rng.bounded(20.0);
    const double totalMs = 2 * leadMs + offset + digits.size() * (onMs + offMs);
    std::vector<int16_t> audio(size_t(totalMs * rate / 1000.0), 0);
    for (int d = 0; d < digits.size(); ++d) {
        double low = 0, high = 0;
        frequencies(digits.at(d), &low, &high);
        low = low * (1.0 + frequencyError) + frequencyOffsetHz;
        high = high * (1.0 + frequencyError) + frequencyOffsetHz;
        const double lowAmp = dbm0ToAmplitude(levelDbm0 - lowTwistDb);
        const double highAmp = dbm0ToAmplitude(levelDbm0 - highTwistDb);
        const double phaseLow = rng.bounded(2 * M_PI), phaseHigh = rng.bounded(2 * M_PI);
        const size_t start = size_t((leadMs + offset + d * (onMs + offMs)) * rate / 1000.0);
        const size_t length = size_t(onMs * rate / 1000.0);
        for (size_t i = 0; i < length && start + i < audio.size(); ++i) {
            const double t = double(i) / rate;
            mix(audio, start + i,
                lowAmp * std::sin(2 * M_PI * low * t + phaseLow) + highAmp * std::sin(2 * M_PI * high * t + phaseHigh));
        }
    }
    return audio;
}

void DtmfSignal::addWhiteNoise(std::vector<int16_t> &audio, double snrDb, double signalDbm0, quint32 seed)
{
    // The signal power is that of the two tones; noise is Gaussian, seeded.
    const double amp = dbm0ToAmplitude(signalDbm0);
    const double signalPower = 2 * amp * amp / 2;
    const double sigma = std::sqrt(signalPower / std::pow(10.0, snrDb / 10.0));
    QRandomGenerator rng(seed);
    for (size_t i = 0; i < audio.size(); ++i) {
        const double u1 = std::max(rng.generateDouble(), 1e-12), u2 = rng.generateDouble();
        mix(audio, i, sigma * std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2));
    }
}

void DtmfSignal::addHum(std::vector<int16_t> &audio, int rate, double hz, double dbfs)
{
    const double amp = 32768.0 * std::pow(10.0, dbfs / 20.0);
    for (size_t i = 0; i < audio.size(); ++i)
        mix(audio, i, amp * std::sin(2 * M_PI * hz * double(i) / rate));
}

void DtmfSignal::addDc(std::vector<int16_t> &audio, double fractionOfFullScale)
{
    for (size_t i = 0; i < audio.size(); ++i)
        mix(audio, i, fractionOfFullScale * 32767.0);
}

void DtmfSignal::addMainsHum(std::vector<int16_t> &audio, int rate)
{
    addHum(audio, rate, 60, -10);
    addHum(audio, rate, 180, -20);
    addHum(audio, rate, 300, -26);
}
