#pragma once

#include <samplerate.h>

#include <cstddef>
#include <functional>
#include <vector>

// Brings what waits in `pending` to the decoders' rate (`ratio` = output rate
// over input rate) through libsamplerate, handing each piece to `sink`, and
// keeps in `pending` what the resampler did not take yet. `out` is scratch
// room, kept between calls so that it is not allocated each time.
inline void resamplePending(SRC_STATE *resampler, double ratio, std::vector<float> &pending, std::vector<float> &out,
    const std::function<void(const float *, std::size_t)> &sink)
{
    out.resize(std::size_t(double(pending.size()) * ratio) + 64);
    SRC_DATA data {};
    data.data_in = pending.data();
    data.input_frames = long(pending.size());
    data.data_out = out.data();
    data.output_frames = long(out.size());
    data.src_ratio = ratio;
    std::size_t used = 0;
    while (data.input_frames > 0) {
        if (src_process(resampler, &data) != 0 || (data.input_frames_used == 0 && data.output_frames_gen == 0))
            break;
        sink(out.data(), std::size_t(data.output_frames_gen));
        used += std::size_t(data.input_frames_used);
        data.data_in += data.input_frames_used;
        data.input_frames -= data.input_frames_used;
    }
    pending.erase(pending.begin(), pending.begin() + long(used));
}
