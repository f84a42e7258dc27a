// The sine window of both paths: its rule, the tables built from it, the
// analysis windowing of two frames and the synthesis windowing with
// overlap-add.
//
// A window of W = 2N points has w[n] = 32767 sin(pi (n + 1) / W) in Q15. Its
// square plus the square half a window away is 1 to within rounding, so the
// same window on analysis and on synthesis reconstructs under overlap-add.
#pragma once

#include <array>
#include <cstdint>

#include "math/const_math.h"

namespace vocrel::dsp {

enum class WinRounding { kTruncate, kNearest };

// The window rule, evaluated at compile time only.
template <int W>
constexpr std::array<std::int16_t, W> sine_window(WinRounding r) {
  std::array<std::int16_t, W> w{};
  for (int n = 0; n < W; ++n) {
    const double v = 32767.0 * cmath::sin_pi_ratio(n + 1, W);
    w[n] = static_cast<std::int16_t>(r == WinRounding::kNearest ? v + 0.5 : v);
  }
  return w;
}

// Real parts of 2N interleaved pairs: older[k] windowed by win[k], then
// newer[k] by win[N + k], each product doubled (Q16 sample units for Q15
// windows); the imaginary parts are cleared. Returns the largest saturating
// magnitude among the products.
std::int32_t analysis_window(const std::int16_t* older, const std::int16_t* newer,
                             const std::int16_t* win, std::int32_t N, std::int32_t* pairs);

// Synthesis of one frame from the real parts of 2N interleaved pairs: each is
// shifted by `shift` (left when positive, saturating) to 16 bits, windowed
// (doubled product >> 16); the first N plus the tail give out, the last N
// become the tail.
void window_overlap_add(const std::int32_t* pairs, std::int32_t shift, const std::int16_t* win,
                        std::int32_t N, std::int16_t* tail, std::int16_t* out);

}  // namespace vocrel::dsp

extern "C" {
// Floor-noise windows: the rule truncated, W = 160, 320, 960.
extern const std::array<std::int16_t, 160> sFnrWinCoef_8k;
extern const std::array<std::int16_t, 320> sFnrWinCoef_16k;
extern const std::array<std::int16_t, 960> sFnrWinCoef_48k;
// Environment-noise windows: the rule rounded with listed leading entries at
// W = 320; the 8 kHz window takes every other point of it.
extern const std::array<std::int16_t, 160> vocrel_rnr_fftWinCoef_8k;
extern const std::array<std::int16_t, 320> vocrel_rnr_fftWinCoef_16k;
}
