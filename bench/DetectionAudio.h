#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// Audio for bench-detection that holds no caller ID: what a line carries
// between calls.
namespace DetectionAudio {

// `minutes` of 8 kHz audio: espeak-ng reading Portuguese in five voices for
// the first half (its length in `speechSamples`), then music made by sox.
// Stops the program with a message when espeak-ng or sox is missing.
std::vector<int16_t> speechAndMusic(int minutes, const QString &dir, size_t *speechSamples);

// 8 kHz audio at another rate, by sox.
std::vector<int16_t> resampled(const std::vector<int16_t> &audio8k, int rate, const QString &dir);

} // namespace DetectionAudio
