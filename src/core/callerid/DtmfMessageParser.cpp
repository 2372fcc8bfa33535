#include "core/callerid/DtmfMessageParser.h"

#include <algorithm>
#include <cmath>

DtmfMessageParser::DtmfMessageParser(Handler handler)
    : m_handler(std::move(handler))
{
}

void DtmfMessageParser::reset()
{
    m_raw.clear();
    m_a.clear();
    m_d.clear();
    m_b.clear();
    m_bare.clear();
    m_field = QChar();
    m_lastMs = -1;
    m_discarding = false;
    m_times.clear();
}

bool DtmfMessageParser::keptItsPace() const
{
    QList<qint64> steps;
    for (qsizetype i = 1; i < m_times.size(); ++i)
        steps << m_times.at(i) - m_times.at(i - 1);
    if (steps.size() < 3)
        return true; // too short to have a pace of its own
    QList<qint64> sorted = steps;
    std::sort(sorted.begin(), sorted.end());
    const double usual = double(sorted.at(sorted.size() / 2));
    return std::all_of(steps.cbegin(), steps.cend(),
        [usual](qint64 step) { return std::abs(double(step) - usual) <= PaceTolerance * usual; });
}

void DtmfMessageParser::advanceTo(qint64 nowMs)
{
    if (m_lastMs >= 0 && nowMs - m_lastMs > InterDigitTimeoutMs)
        reset();
}

void DtmfMessageParser::finish()
{
    reset();
}

void DtmfMessageParser::addDigit(char digit, qint64 atMs)
{
    advanceTo(atMs);
    const QChar c = QChar(QLatin1Char(digit)).toUpper();
    if (m_discarding && c != u'A' && c != u'D' && c != u'B') {
        m_lastMs = atMs;
        return;
    }
    if (c == u'A') {
        // A new message starts here; whatever came before it was noise.
        reset();
        m_field = u'A';
    } else if (c == u'D' || c == u'B') {
        if (m_field.isNull())
            reset();
        m_field = c;
    } else if (c == u'C' || c == u'#') {
        m_raw += c;
        m_times << atMs;
        complete(atMs);
        return;
    } else if (c.isDigit()) {
        if (m_field.isNull())
            m_field = u'0';
        QString &field = m_field == u'A' ? m_a : m_field == u'D' ? m_d : m_field == u'B' ? m_b : m_bare;
        field += c;
        if (field.size() > MaxDigits) {
            reset();
            m_discarding = true;
            m_lastMs = atMs;
            return;
        }
    } else {
        return; // '*' and anything else carry nothing here
    }
    m_raw += c;
    m_times << atMs;
    m_lastMs = atMs;
}

void DtmfMessageParser::complete(qint64 atMs)
{
    CallerIdMessage message;
    message.raw = m_raw;
    message.endMs = atMs;
    const QString a = m_a, d = m_d, b = m_b, bare = m_bare;
    const bool hadD = m_raw.contains(u'D');
    const bool steady = keptItsPace();
    reset();
    auto plausible
        = [](const QString &number) { return number.size() >= MinNumberDigits && number.size() <= MaxNumberDigits; };

    if (b == QLatin1String("00")) {
        message.kind = CallerIdMessage::Kind::Unavailable;
    } else if (b == QLatin1String("10")) {
        message.kind = CallerIdMessage::Kind::Withheld;
    } else if (!a.isEmpty()) {
        message.digits = a;
        if (!plausible(a))
            message.kind = CallerIdMessage::Kind::Unreadable;
    } else if (hadD && d.size() == 1) {
        // D1#, D2#, D3#; any other one-digit code means nothing we know.
        switch (d.at(0).unicode()) {
        case u'1': message.kind = CallerIdMessage::Kind::Withheld; break;
        case u'2': message.kind = CallerIdMessage::Kind::International; break;
        case u'3': message.kind = CallerIdMessage::Kind::Unavailable; break;
        default: return;
        }
    } else if (!d.isEmpty()) {
        message.digits = d;
        if (!plausible(d))
            message.kind = CallerIdMessage::Kind::Unreadable;
    } else if (!bare.isEmpty() && message.raw.endsWith(u'#')) {
        message.digits = bare;
        if (!plausible(bare))
            message.kind = CallerIdMessage::Kind::Unreadable;
    } else {
        return; // a terminator alone
    }
    if (!steady)
        message.kind = CallerIdMessage::Kind::Unreadable;
    if (message.kind == CallerIdMessage::Kind::Unreadable)
        message.digits.clear();
    m_handler(message);
}
