#include "resample.h"

#include <soxr.h>

#include <cmath>

namespace vocrel::tool {

std::size_t resampled_length(std::size_t frames, double inRate, double outRate) {
  return static_cast<std::size_t>(std::llround(static_cast<double>(frames) * outRate / inRate));
}

bool resample(const std::vector<std::int16_t>& in, int channels, double inRate, double outRate,
              std::size_t outFrames, std::vector<std::int16_t>& out, std::string& error) {
  const std::size_t inFrames = in.size() / static_cast<std::size_t>(channels);
  out.assign(outFrames * static_cast<std::size_t>(channels), 0);
  if (inFrames == 0 || outFrames == 0) return true;
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  io.flags |= SOXR_NO_DITHER;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  std::size_t inDone = 0, outDone = 0;
  const soxr_error_t e =
      soxr_oneshot(inRate, outRate, static_cast<unsigned>(channels), in.data(), inFrames, &inDone,
                   out.data(), outFrames, &outDone, &io, &quality, nullptr);
  if (e != nullptr) {
    error = std::string("sample-rate conversion failed: ") + e;
    return false;
  }
  return true;
}

}  // namespace vocrel::tool
