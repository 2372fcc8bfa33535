#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <cstdint>
#include <vector>

// Test audio for the FSK caller-ID decoder, written here from the line's
// rules rather than by spandsp's transmitter: phase-continuous FSK at 1200
// baud, a channel seizure of alternating bits, a run of marks, then each byte
// with a start bit, eight data bits (least significant first) and a stop bit.
struct FskSignal
{
    enum class Standard { V23, Bell202 };

    Standard standard = Standard::V23;
    int rate = 8000;
    double levelDbm0 = -13;
    double frequencyError = 0; // relative, e.g. 0.02
    int seizureBits = 300;
    int markBits = 180;
    double leadMs = 300; // silence before and after
    quint32 seed = 1;
    int checksumError = 0; // added to the right checksum: a message the line broke

    // A whole message (type, length, body); the checksum is added here.
    std::vector<int16_t> render(const QByteArray &message) const;

    // Two's complement of the sum of the bytes, modulo 256.
    static char checksum(const QByteArray &message);
    // Single data message: MMDDHHMM, then the number or 'P' / 'O'.
    static QByteArray sdmf(const QByteArray &dateTime, const QByteArray &number);
    // Multiple data message from (parameter type, value) pairs.
    static QByteArray mdmf(const QList<QPair<int, QByteArray>> &parameters);
};
