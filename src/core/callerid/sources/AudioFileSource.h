#pragma once

#include "core/callerid/LineSource.h"

#include <QList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

// A recording of the line (WAV, FLAC, OGG: what libsndfile reads), decoded
// off the window's thread each time the monitor is switched on. Its messages
// are handed over at the pace they have in the recording, so a demonstration
// shows one call after another.
class AudioFileSource : public LineSource
{
    Q_OBJECT

public:
    // Sample rates a line recording can have; outside them a file is refused.
    static constexpr int MinRate = 8000;
    static constexpr int MaxRate = 384000;

    AudioFileSource(QString path, int sensitivity, QString areaCode, QObject *parent = nullptr);
    ~AudioFileSource() override;
    void start() override;
    void stop() override;
    QString lineName() const override;

    // Decodes a whole file; `onMessage` gets each message with its time. A
    // file that cannot be decoded gives false and a Portuguese reason. One
    // that is cut short, or holds samples that are no numbers (NaN,
    // infinities), is decoded as far as it goes and `damage` says so in
    // Portuguese (empty for a sound file). `stop`, when given, ends the work
    // early.
    static bool decodeFile(const QString &path, int sensitivity,
        const std::function<void(const CallerIdMessage &)> &onMessage, QString *error,
        const std::atomic<bool> *stop = nullptr, QString *damage = nullptr);

private:
    // `error`: why it failed, or what was wrong with a recording decoded all the same.
    void decoded(bool ok, const QList<CallerIdMessage> &messages, const QString &error);
    void deliverNext();

    QString m_path;
    int m_sensitivity;
    QThread *m_worker = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stop;
    QList<CallerIdMessage> m_messages; // decoded, not handed over yet
    qint64 m_startedAt = 0; // ms since the epoch, when started
    QTimer m_next;
};
