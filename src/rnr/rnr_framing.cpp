// Analysis and synthesis framing: pre-filter, frame energy, the two-frame
// window, the low-definition band magnitudes and the per-bin
// gain with the conjugate-symmetric upper half.
#include "dsp/highpass.h"
#include "dsp/window.h"
#include "math/constants.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"
#include "rnr/rnr.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"

namespace {

using namespace vocrel;
using namespace vocrel::rnr;

constexpr int kEnergyShift = 7;  // frame energy: sum of x^2 >> 7
constexpr std::int32_t kSideWeight = math::q15(0.2);
constexpr std::int32_t kCentreWeight =
    math::q15(1.0) - 2 * kSideWeight;  // 0.6: the three sum to 1.0
static_assert(kSideWeight == 6554 && kCentreWeight == 19660);

// 2 * ((t * w) >> 16), saturated: a 32-bit value times a Q15 weight.
std::int32_t weigh_q15(std::int32_t t, std::int32_t w) {
  return sat32(2 * ((std::int64_t{t} * w) >> 16));
}

// (sat(sat(a + b) + 1)) >> 1: the rounded mean of two powers.
std::int32_t mean_round(std::int32_t a, std::int32_t b) {
  return add_sat32(add_sat32(a, b), 1) >> 1;
}

}  // namespace

namespace vocrel::rnr {

void analyse_frame(RnrChanState* st, const std::int16_t* in, std::int16_t* frameBuf,
                   std::int32_t* specIn) {
  const RateView v = view_of(st);
  const int N = v.N;
  for (int n = 0; n < N; ++n) frameBuf[n] = v.prevIn[n];

  if (st->hpFilterOn == 1) {
    dsp::hp_filter(st->hp, v.hp, in, N, frameBuf + N);
  } else {
    for (int n = 0; n < N; ++n) frameBuf[N + n] = in[n];
  }

  std::int32_t energy = 0;
  for (int n = 0; n < N; ++n) {
    const std::int32_t s = frameBuf[N + n];
    energy = add_sat32(energy, (s * s) >> kEnergyShift);
  }
  st->frameEnergy = energy;

  for (int n = 0; n < N; ++n) v.prevIn[n] = frameBuf[N + n];

  // Windowed samples in Q16 in the real parts; zero padding to L points.
  dsp::analysis_window(frameBuf, frameBuf + N, v.win, N, specIn);
  for (int n = 2 * v.W; n < 2 * v.L; ++n) specIn[n] = 0;
}

void low_res_spectrum(const std::int32_t* powSpec, std::int32_t fftSize, std::int16_t shift,
                      std::int32_t* specLD) {
  const int G = fftSize / 8;
  // Bin 0 alone, then groups of four bins 4j-3..4j; the group results are
  // parked in specLD before the smoothing pass reads them back.
  std::int32_t prev = powSpec[0];
  specLD[0] = prev;
  for (int j = 1; j <= G; ++j) {
    const std::int32_t* p = powSpec + 4 * j - 3;
    specLD[j] = mean_round(mean_round(p[0], p[1]), mean_round(p[2], p[3]));
  }
  // Three-tap smoothing 0.2 / 0.6 / 0.2 across groups (ends unchanged).
  for (int j = 1; j < G; ++j) {
    const std::int32_t cur = specLD[j];
    std::int32_t s = add_sat32(weigh_q15(prev, kSideWeight), weigh_q15(cur, kCentreWeight));
    specLD[j] = add_sat32(s, weigh_q15(specLD[j + 1], kSideWeight));
    prev = cur;
  }
  math::roots_q16(specLD, 0, 1, G + 1, specLD);  // root in Q15
  std::int32_t round = 0;
  if (shift >= 1) round = shift - 1 > 30 ? kInt32Max : (std::int32_t{1} << (shift - 1));
  for (int j = 0; j <= G; ++j) {
    const std::int32_t x = add_sat32(specLD[j], round);
    specLD[j] = shift >= 0 ? shr32(x, shift) : shl_sat32(x, -shift);
  }
}

// Bins 0..L/2 times their Q15 gains, the upper half rebuilt as conjugates.
void apply_bin_gains(std::int32_t fftSize, const std::int16_t* gainBin, std::int32_t* spec) {
  vocrel::vec_kernels().gain_mirror(spec, gainBin, fftSize / 2);
}

}  // namespace vocrel::rnr
