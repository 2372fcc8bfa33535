#include "FskSignal.h"

#include "DtmfSignal.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace {

constexpr double Baud = 1200.0;

} // namespace

char FskSignal::checksum(const QByteArray &message)
{
    unsigned sum = 0;
    for (const char c : message)
        sum += uchar(c);
    return char((256 - sum % 256) % 256);
}

QByteArray FskSignal::sdmf(const QByteArray &dateTime, const QByteArray &number)
{
    const QByteArray body = dateTime + number;
    return QByteArray(1, char(0x04)) + char(body.size()) + body;
}

QByteArray FskSignal::mdmf(const QList<QPair<int, QByteArray>> &parameters)
{
    QByteArray body;
    for (const auto &[type, value] : parameters)
        body += char(type) + QByteArray(1, char(value.size())) + value;
    return QByteArray(1, char(0x80)) + char(body.size()) + body;
}

std::vector<int16_t> FskSignal::render(const QByteArray &message) const
{
    std::vector<bool> bits;
    for (int i = 0; i < seizureBits; ++i)
        bits.push_back(i % 2 == 1);
    bits.insert(bits.end(), size_t(markBits), true);
    const QByteArray whole = message + char(uchar(checksum(message)) + checksumError);
    for (const char c : whole) {
        bits.push_back(false);
        for (int b = 0; b < 8; ++b)
            bits.push_back((uchar(c) >> b) & 1);
        bits.push_back(true);
    }
    bits.insert(bits.end(), 10, true); // a few marks after, as a transmitter ends

    const double mark = (standard == Standard::V23 ? 1300.0 : 1200.0) * (1.0 + frequencyError);
    const double space = (standard == Standard::V23 ? 2100.0 : 2200.0) * (1.0 + frequencyError);
    QRandomGenerator rng(seed);
    const double offsetMs = rng.bounded(20.0);
    double phase = rng.bounded(2 * M_PI);
    const size_t start = size_t((leadMs + offsetMs) * rate / 1000.0);
    const size_t length = size_t(std::ceil(double(bits.size()) * rate / Baud));
    std::vector<int16_t> audio(start + length + size_t(leadMs * rate / 1000.0), 0);
    const double amplitude = DtmfSignal::dbm0ToAmplitude(levelDbm0);
    for (size_t i = 0; i < length; ++i) {
        const size_t bit = std::min(bits.size() - 1, size_t(double(i) * Baud / rate));
        phase += 2 * M_PI * (bits[bit] ? mark : space) / rate;
        audio[start + i] = int16_t(std::clamp(std::lrint(amplitude * std::sin(phase)), -32768L, 32767L));
    }
    return audio;
}
