#pragma once

#include "core/callerid/DtmfMessageParser.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// Where the calls come from: a sound card, a recording, a modem, an NCID
// server or a local socket. Each call becomes one number event (digits only,
// the local area code in front of a local number) or one text event for a
// number withheld or unavailable. A repeat of the same message within a few
// seconds is the same call. Numbers are handed on at most one per PaceMs, the
// latest few kept when more come: a flood from a server or a client cannot
// hold the window. Digits that read two ways (a caller category in front, or
// a digit of the number) are settled by the register, then by the line's
// habit; else both readings are shown as text and neither is looked up. A
// source that fails says so through its status, keeps retrying and never
// blocks the window.
//
// What a source hands on is checked and cleaned here, for every source alike:
// a number that is not plainly a number (a letter, a digit of another
// script) becomes the unreadable-number text, never another number; names,
// texts and statuses come out as plain, short text (OutsideText).
class LineSource : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 RepeatWindowMs = 5000;
    static constexpr int PaceMs = 250;
    static constexpr qsizetype MaxWaiting = 32;

    explicit LineSource(QString areaCode, QObject *parent = nullptr);

    virtual void start() = 0;
    virtual void stop() = 0;
    // Which line this is, for the call log: the device, file, port, server
    // (with the line the server names for the last call) or account.
    virtual QString lineName() const { return {}; }

    static QString textFor(CallerIdMessage::Kind kind);

    // Whether the register has a contact with this telephone key: digits
    // that read two ways are the number the register knows.
    using CallerLookup = std::function<bool(const QString &key)>;
    void setCallerLookup(CallerLookup lookup) { m_lookup = std::move(lookup); }

    // The line's habit, from the messages that read one way only: how many
    // came with a caller category and how many without. Carried over to the
    // next source on the same line when the monitor is switched on again.
    struct Habit
    {
        int withCategory = 0;
        int withoutCategory = 0;
    };
    Habit habit() const { return m_habit; }
    void setHabit(Habit habit) { m_habit = habit; }

signals:
    void numberReceived(const QString &number);
    // The same call with the caller's name when the line sent one (FSK, a
    // modem, an NCID server, SIP), else an empty name; emitted right after
    // numberReceived.
    void callerReceived(const QString &number, const QString &name);
    void textReceived(const QString &text);
    // What the source is doing, for the display; `healthy` is false while it
    // fails (no device, unplugged, server down) and keeps retrying.
    void statusChanged(const QString &status, bool healthy);

protected:
    // A decoded message: normalised and passed on, unless it repeats the last.
    void deliver(const CallerIdMessage &message);
    void deliverNumber(const QString &received, const QString &name = QString());
    void deliverText(const QString &text);
    // Says what the source is doing (statusChanged), cleaned like a name.
    void reportStatus(const QString &status, bool healthy);
    const QString &areaCode() const { return m_areaCode; }

private:
    bool isRepeat(const QString &what);
    void handOver();
    // The key the digits stand for; empty, and the readings shown as text,
    // when neither the register nor the line's habit tells which it is.
    QString chooseReading(const QString &received);

    QString m_areaCode;
    QString m_last;
    QElapsedTimer m_lastTime;
    struct Waiting
    {
        QString number; // as received
        QString name;
    };
    QList<Waiting> m_waiting; // not handed on yet
    QTimer m_pace;
    CallerLookup m_lookup;
    Habit m_habit;
};
