#include "WavFile.h"

#include <QFile>

#include <sndfile.h>

void writeWav(const QString &path, const std::vector<int16_t> &audio, int rate)
{
    SF_INFO info {};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        qFatal("cannot write %s: %s", qPrintable(path), sf_strerror(nullptr));
    sf_write_short(f, audio.data(), sf_count_t(audio.size()));
    sf_close(f);
}
