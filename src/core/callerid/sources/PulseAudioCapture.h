#pragma once

#include "core/callerid/sources/AudioCapture.h"

#include <QList>
#include <QPair>

struct pa_simple;

// Capture through the PulseAudio client API, which PipeWire serves too: the
// blocking simple API, on the capture thread.
class PulseAudioCapture : public AudioCapture
{
public:
    ~PulseAudioCapture() override;

    bool open(const QString &device, int rate, QString *error) override;
    bool read(int16_t *samples, size_t count, QString *error) override;

    // The inputs the sound server offers: (name, description) pairs. Empty
    // when there is no server; gives up after a second.
    static QList<QPair<QString, QString>> inputs();

private:
    pa_simple *m_stream = nullptr;
};
