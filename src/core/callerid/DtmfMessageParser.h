#pragma once

#include <QList>
#include <QString>

#include <functional>

// One caller-ID message as it came on the line.
struct CallerIdMessage
{
    // Unreadable: a message heard, but not well enough to trust its number.
    enum class Kind { Number, Withheld, Unavailable, International, Unreadable };
    Kind kind = Kind::Number;
    QString digits; // the number field as sent (digits only)
    QString raw; // the whole message, markers included, e.g. "A1133334444C"
    QString name; // the caller's name, when the line sent one (FSK only)
    qint64 endMs = 0; // time of the terminator, from the start of the stream
};

// Reads caller-ID messages out of DTMF digits as the Brazilian (and ETSI DTMF)
// variant sends them: A<number>[D<redirecting>][B<info>]C, and the variants
// A<number>#, D1# (withheld), D2# (international), D3# (unavailable),
// D<number>C and <number>#. A message whose next digit does not come within
// the inter-digit timeout is dropped, never joined to the next one.
//
// A wrong number is worse than none: an exchange sends its digits at a steady
// pace, so a message whose digits do not keep it (a lost digit leaves a gap,
// a split one a burst), or whose number is too short or too long to be a
// Brazilian number, is reported as unreadable, never as a number.
class DtmfMessageParser
{
public:
    using Handler = std::function<void(const CallerIdMessage &)>;

    static constexpr qint64 InterDigitTimeoutMs = 400;
    static constexpr int MaxDigits = 24; // longer fields are noise
    // Digits of a number field, a caller category and a long-distance prefix
    // included: from a local 7-digit number to 0 + carrier + area + mobile.
    static constexpr int MinNumberDigits = 7;
    static constexpr int MaxNumberDigits = 15;
    // The steps from one digit to the next may differ from the message's
    // usual step by this share at most.
    static constexpr double PaceTolerance = 0.4;

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
    bool keptItsPace() const;

    Handler m_handler;
    QString m_raw;
    QString m_a, m_d, m_b, m_bare;
    QChar m_field; // the field being read: 'A', 'D', 'B', '0' for a bare number
    qint64 m_lastMs = -1;
    QList<qint64> m_times; // when each digit of the message began
    bool m_discarding = false; // after an over-long field, until the next marker
};
