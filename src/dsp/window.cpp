// Window tables and the windowing loops of analysis and synthesis.
#include "dsp/window.h"

#include "math/vec_kernels.h"

namespace {

using vocrel::dsp::sine_window;
using vocrel::dsp::WinRounding;

// The leading entries of the 320-point environment-noise window that differ
// from the rounded rule (by at most 3 units): listed values, no rule gives
// them.
struct ListedEntry {
  int n;
  std::int16_t value;
};
constexpr ListedEntry kListed320[] = {{0, 321},  {1, 642},  {2, 963},  {3, 1288},
                                      {4, 1609}, {5, 1930}, {7, 2572}, {9, 3211}};

constexpr std::array<std::int16_t, 320> rnr_window_320() {
  auto w = sine_window<320>(WinRounding::kNearest);
  for (const auto& e : kListed320) w[e.n] = e.value;
  return w;
}

constexpr std::array<std::int16_t, 160> every_other(const std::array<std::int16_t, 320>& w) {
  std::array<std::int16_t, 160> h{};
  for (int n = 0; n < 160; ++n) h[n] = w[2 * n + 1];
  return h;
}

}  // namespace

extern "C" {

extern constexpr std::array<std::int16_t, 160> sFnrWinCoef_8k =
    sine_window<160>(WinRounding::kTruncate);
extern constexpr std::array<std::int16_t, 320> sFnrWinCoef_16k =
    sine_window<320>(WinRounding::kTruncate);
extern constexpr std::array<std::int16_t, 960> sFnrWinCoef_48k =
    sine_window<960>(WinRounding::kTruncate);
#if VOCREL_MODE1
extern constexpr std::array<std::int16_t, 320> vocrel_rnr_fftWinCoef_16k = rnr_window_320();
extern constexpr std::array<std::int16_t, 160> vocrel_rnr_fftWinCoef_8k =
    every_other(vocrel_rnr_fftWinCoef_16k);
#endif

}  // extern "C"

// Stated points of the rule: the peak, the zero end and the first entry.
static_assert(sFnrWinCoef_8k[79] == 32767 && sFnrWinCoef_8k[159] == 0 && sFnrWinCoef_8k[0] == 643);
static_assert(sFnrWinCoef_16k[159] == 32767 && sFnrWinCoef_16k[319] == 0 &&
              sFnrWinCoef_16k[0] == 321);
static_assert(sFnrWinCoef_48k[479] == 32767 && sFnrWinCoef_48k[959] == 0 &&
              sFnrWinCoef_48k[0] == 107);
#if VOCREL_MODE1
static_assert(vocrel_rnr_fftWinCoef_16k[159] == 32767 && vocrel_rnr_fftWinCoef_16k[319] == 0);
static_assert(vocrel_rnr_fftWinCoef_16k[4] == 1609 && vocrel_rnr_fftWinCoef_16k[6] == 2250);
static_assert(vocrel_rnr_fftWinCoef_8k[0] == 642 && vocrel_rnr_fftWinCoef_8k[4] == 3211 &&
              vocrel_rnr_fftWinCoef_8k[79] == 32767 && vocrel_rnr_fftWinCoef_8k[158] == 643);
#endif

namespace vocrel::dsp {

std::int32_t analysis_window(const std::int16_t* older, const std::int16_t* newer,
                             const std::int16_t* win, std::int32_t N, std::int32_t* pairs) {
  const VecKernels& vk = vec_kernels();
  const std::int32_t peakOld = vk.window_pairs(older, win, N, pairs);
  const std::int32_t peakNew = vk.window_pairs(newer, win + N, N, pairs + 2 * N);
  return peakOld > peakNew ? peakOld : peakNew;
}

void window_overlap_add(const std::int32_t* pairs, std::int32_t shift, const std::int16_t* win,
                        std::int32_t N, std::int16_t* tail, std::int16_t* out) {
  vec_kernels().window_ola(pairs, win, N, shift, out, tail);
}

}  // namespace vocrel::dsp
