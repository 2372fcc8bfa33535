#pragma once

#include "core/callerid/LineSource.h"

#include <atomic>
#include <memory>

class CaptureThread;

// A sound card input (through the PulseAudio client API, which PipeWire
// serves too): the line's audio decoded as it is captured.
class SoundCardSource : public LineSource
{
    Q_OBJECT

public:
    SoundCardSource(QString device, int sensitivity, QString areaCode, QObject *parent = nullptr);
    ~SoundCardSource() override;
    void start() override;
    void stop() override;
    QString lineName() const override;

signals:
    // For the configuration screen: the input's peak level and each digit.
    void levelChanged(double dbfs);
    void digitDetected(QChar digit);

private:
    QString m_device;
    int m_sensitivity;
    CaptureThread *m_thread = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stop;
};
