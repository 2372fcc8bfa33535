#include "core/callerid/sources/SoundCardSource.h"

#include "core/callerid/sources/CaptureThread.h"

SoundCardSource::SoundCardSource(QString device, int sensitivity, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_device(std::move(device))
    , m_sensitivity(sensitivity)
{
    qRegisterMetaType<CallerIdMessage>();
}

SoundCardSource::~SoundCardSource()
{
    stop();
}

void SoundCardSource::start()
{
    if (m_thread)
        return;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_thread = new CaptureThread(m_device, m_sensitivity, m_stop);
    connect(m_thread, &CaptureThread::message, this, &SoundCardSource::deliver);
    connect(m_thread, &CaptureThread::status, this, &SoundCardSource::reportStatus);
    connect(m_thread, &CaptureThread::level, this, &SoundCardSource::levelChanged);
    connect(m_thread, &CaptureThread::digit, this, &SoundCardSource::digitDetected);
    m_thread->start();
}

void SoundCardSource::stop()
{
    if (!m_thread)
        return;
    *m_stop = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

QString SoundCardSource::lineName() const
{
    return m_device.isEmpty() ? QStringLiteral("padrão") : m_device;
}
