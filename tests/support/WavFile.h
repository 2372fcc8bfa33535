#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// A line recording for the tests: mono 16-bit WAV at `rate`; ends the test
// program when it cannot be written.
void writeWav(const QString &path, const std::vector<int16_t> &audio, int rate);
