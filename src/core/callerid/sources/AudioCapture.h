#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// Where the line's audio comes from: a sound input, recorded as mono 16-bit
// samples. The real one is chosen in one place (create()); tests put their
// own in place to feed audio without a sound server.
class AudioCapture
{
public:
    using Factory = std::function<std::unique_ptr<AudioCapture>()>;

    virtual ~AudioCapture() = default;

    // Opens `device` (empty: the default input) at `rate`. False with the
    // reason in Portuguese, the library's words as a detail.
    virtual bool open(const QString &device, int rate, QString *error) = 0;
    // Blocks until `count` samples are read.
    virtual bool read(int16_t *samples, size_t count, QString *error) = 0;

    static std::unique_ptr<AudioCapture> create();
    // Replaces the real capture (tests); an empty factory restores it.
    static void setFactory(Factory factory);
};
