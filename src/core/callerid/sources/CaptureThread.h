#pragma once

#include "core/callerid/DtmfMessageParser.h"

#include <QThread>

#include <atomic>
#include <memory>

// Captures the line and decodes it on a thread of its own: a blocking read
// there never holds up the window. Results cross to the source through queued
// signals. A capture that fails is reopened every few seconds until stopped.
class CaptureThread : public QThread
{
    Q_OBJECT

public:
    CaptureThread(QString device, int sensitivity, std::shared_ptr<std::atomic<bool>> stop);

signals:
    void message(const CallerIdMessage &message);
    void status(const QString &status, bool healthy);
    void level(double dbfs);
    void digit(QChar digit);

protected:
    void run() override;

private:
    void pause(int ms);

    QString m_device;
    int m_sensitivity;
    std::shared_ptr<std::atomic<bool>> m_stop;
};
