#include "core/callerid/LineSource.h"

#include "core/callerid/NumberNormaliser.h"
#include "core/callerid/OutsideText.h"
#include "core/contacts/PhoneNumber.h"

LineSource::LineSource(QString areaCode, QObject *parent)
    : QObject(parent)
    , m_areaCode(std::move(areaCode))
{
    m_pace.setSingleShot(true);
    connect(&m_pace, &QTimer::timeout, this, &LineSource::handOver);
}

QString LineSource::textFor(CallerIdMessage::Kind kind)
{
    switch (kind) {
    case CallerIdMessage::Kind::Withheld: return QStringLiteral("Número restrito");
    case CallerIdMessage::Kind::Unavailable: return QStringLiteral("Número indisponível");
    case CallerIdMessage::Kind::International: return QStringLiteral("Chamada internacional");
    case CallerIdMessage::Kind::Unreadable: return QStringLiteral("Chamada com número ilegível");
    case CallerIdMessage::Kind::Number: break;
    }
    return {};
}

bool LineSource::isRepeat(const QString &what)
{
    const bool repeat = what == m_last && m_lastTime.isValid() && m_lastTime.elapsed() < RepeatWindowMs;
    m_last = what;
    m_lastTime.start();
    return repeat;
}

void LineSource::deliver(const CallerIdMessage &message)
{
    if (message.kind == CallerIdMessage::Kind::Number)
        deliverNumber(message.digits, message.name);
    else
        deliverText(textFor(message.kind));
}

void LineSource::deliverNumber(const QString &received, const QString &name)
{
    // Refused, but said: a call came whose number cannot be trusted.
    if (!NumberNormaliser::isReadable(received)) {
        deliverText(textFor(CallerIdMessage::Kind::Unreadable));
        return;
    }
    m_waiting.append({ received, OutsideText::name(name) });
    if (m_waiting.size() > MaxWaiting)
        m_waiting.removeFirst();
    if (!m_pace.isActive())
        handOver();
}

void LineSource::handOver()
{
    while (!m_waiting.isEmpty()) {
        const Waiting next = m_waiting.takeFirst();
        const QString number = chooseReading(next.number);
        if (number.isEmpty() || isRepeat(number))
            continue;
        m_pace.start(PaceMs);
        emit numberReceived(number);
        emit callerReceived(number, next.name);
        return;
    }
}

void LineSource::deliverText(const QString &text)
{
    const QString clean = OutsideText::message(text);
    if (isRepeat(clean))
        return;
    emit textReceived(clean);
}

void LineSource::reportStatus(const QString &status, bool healthy)
{
    emit statusChanged(OutsideText::message(status), healthy);
}

QString LineSource::chooseReading(const QString &received)
{
    const QList<NumberNormaliser::Reading> readings = NumberNormaliser::readings(received, m_areaCode);
    if (readings.size() < 2) {
        if (!readings.isEmpty() && readings.first().exists)
            ++(readings.first().category ? m_habit.withCategory : m_habit.withoutCategory);
        return readings.isEmpty() ? QString() : readings.first().key;
    }
    // The one reading the register knows.
    if (m_lookup) {
        QStringList known;
        for (const NumberNormaliser::Reading &r : readings) {
            if (m_lookup(r.key))
                known << r.key;
        }
        if (known.size() == 1)
            return known.first();
    }
    // The one reading this line's habit allows.
    if ((m_habit.withCategory > 0) != (m_habit.withoutCategory > 0)) {
        for (const NumberNormaliser::Reading &r : readings) {
            if (r.category == (m_habit.withCategory > 0))
                return r.key;
        }
    }
    QStringList shown;
    for (const NumberNormaliser::Reading &r : readings)
        shown << PhoneNumber::read(r.key, m_areaCode).layout();
    deliverText(QStringLiteral("Número incerto: %1").arg(shown.join(QStringLiteral(" ou "))));
    return {};
}
