// Sample-rate conversion of whole interleaved 16-bit buffers (libsoxr, high
// quality, no dither, so runs are repeatable). The converter's delay is
// compensated: output frame k sits at the time of input frame k * in/out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vocrel::tool {

// Converts `in` (channels interleaved) from inRate to outRate into exactly
// outFrames sample frames (zero-padded at the end if the converter gives
// fewer). Returns false with a reason on failure.
bool resample(const std::vector<std::int16_t>& in, int channels, double inRate, double outRate,
              std::size_t outFrames, std::vector<std::int16_t>& out, std::string& error);

// The frame count of `frames` frames at inRate once converted to outRate.
std::size_t resampled_length(std::size_t frames, double inRate, double outRate);

}  // namespace vocrel::tool
