#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

// Test audio for the caller-ID decoder: DTMF digits written as a line would
// send them, with a seeded generator (random phase and start offset), and the
// kinds of trouble a real line adds.
struct DtmfSignal
{
    int rate = 8000;
    int onMs = 70;
    int offMs = 70;
    double levelDbm0 = -10; // per tone
    double highTwistDb = 0; // the high tone this much weaker
    double lowTwistDb = 0; // the low tone this much weaker
    double frequencyError = 0; // relative, e.g. 0.015
    double frequencyOffsetHz = 0; // added to both tones after frequencyError
    double leadMs = 300; // silence before and after
    quint32 seed = 1;

    // Digits with their on/off timing.
    std::vector<int16_t> render(const QString &digits) const;
    // The offset, in milliseconds, where the tone of digit `index` starts.
    double toneStartMs(const QString &digits, int index) const;

    static void addWhiteNoise(std::vector<int16_t> &audio, double snrDb, double signalDbm0, quint32 seed);
    static void addHum(std::vector<int16_t> &audio, int rate, double hz, double dbfs);
    static void addDc(std::vector<int16_t> &audio, double fractionOfFullScale);
    // 60 Hz mains hum at -10 dBFS with its 3rd and 5th harmonics (180 Hz at
    // -20, 300 Hz at -26 dBFS), louder than any tone.
    static void addMainsHum(std::vector<int16_t> &audio, int rate);
    static double dbm0ToAmplitude(double dbm0);
};
