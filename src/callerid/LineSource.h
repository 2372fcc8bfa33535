#pragma once

#include "callerid/DtmfMessageParser.h"

#include <QElapsedTimer>
#include <QObject>

// Where the calls come from: a sound card, a recording, a modem, an NCID
// server or a local socket. Each call becomes one number event (digits only,
// the local area code in front of a local number) or one text event for a
// number withheld or unavailable. A repeat of the same message within a few
// seconds is the same call. A source that fails says so through its status,
// keeps retrying and never blocks the window.
class LineSource : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 RepeatWindowMs = 5000;

    explicit LineSource(QString areaCode, QObject *parent = nullptr);

    virtual void start() = 0;
    virtual void stop() = 0;

    static QString textFor(CallerIdMessage::Kind kind);

signals:
    void numberReceived(const QString &number);
    void textReceived(const QString &text);
    // What the source is doing, for the display; `healthy` is false while it
    // fails (no device, unplugged, server down) and keeps retrying.
    void statusChanged(const QString &status, bool healthy);

protected:
    // A decoded message: normalised and passed on, unless it repeats the last.
    void deliver(const CallerIdMessage &message);
    void deliverNumber(const QString &received);
    void deliverText(const QString &text);
    const QString &areaCode() const { return m_areaCode; }

private:
    bool isRepeat(const QString &what);

    QString m_areaCode;
    QString m_last;
    QElapsedTimer m_lastTime;
};
