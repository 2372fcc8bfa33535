#pragma once

#include <QString>

#include <functional>

// One caller-ID message as it came on the line.
struct CallerIdMessage
{
    enum class Kind { Number, Withheld, Unavailable, International };
    Kind kind = Kind::Number;
    QString digits; // the number field as sent (digits only)
    QString raw; // the whole message, markers included, e.g. "A1133334444C"
    qint64 endMs = 0; // time of the terminator, from the start of the stream
};

// Reads caller-ID messages out of DTMF digits as the Brazilian (and ETSI DTMF)
// variant sends them: A<number>[D<redirecting>][B<info>]C, and the variants
// A<number>#, D1# (withheld), D2# (international), D3# (unavailable),
// D<number>C and <number>#. A message whose next digit does not come within
// the inter-digit timeout is dropped, never joined to the next one.
class DtmfMessageParser
{
public:
    using Handler = std::function<void(const CallerIdMessage &)>;

    static constexpr qint64 InterDigitTimeoutMs = 400;
    static constexpr int MaxDigits = 24; // longer fields are noise

    explicit DtmfMessageParser(Handler handler);

    // A digit detected at `atMs` (milliseconds from the start of the stream).
    void addDigit(char digit, qint64 atMs);
    // The stream has reached `nowMs` without a new digit.
    void advanceTo(qint64 nowMs);
    // The stream ended: an unfinished message is dropped.
    void finish();

private:
    void reset();
    void complete(qint64 atMs);

    Handler m_handler;
    QString m_raw;
    QString m_a, m_d, m_b, m_bare;
    QChar m_field; // the field being read: 'A', 'D', 'B', '0' for a bare number
    qint64 m_lastMs = -1;
    bool m_discarding = false; // after an over-long field, until the next marker
};
