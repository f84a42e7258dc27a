// SNR and gain rules: a-posteriori SNR per band, a dB-domain gain whose frame
// depth follows the total noise energy, temporal smoothing with a per-band
// weight, and the expansion of band gains to bins.
#include <algorithm>
#include <array>

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

constexpr std::int16_t kSnrUnity = 256;  // 1.0 in Q8
constexpr std::int32_t kNoiseOffset = 3082;
constexpr std::int32_t kNoiseLevelMin = 256;
constexpr std::int32_t kDepthRef = 789132;                // 10 log10(256), Q15 dB
constexpr std::int32_t kLowLevelDepth = math::q15(-8.0);  // dB
constexpr std::int16_t kLowLevelRunMin = 10;
constexpr std::int32_t kSnrOffsetQ8 = 768;              // 3.0 in Q8
constexpr std::int32_t kDbPerSnrQ15 = math::q15(0.45);  // dB
constexpr std::int32_t kTwentiethQ15 = math::q15(0.05);
constexpr std::int16_t kGainOne = math::kQ15Max;

constexpr std::int32_t kRootOffset = 32768;
constexpr int kRootShift = 9;
constexpr std::int32_t kWeightKnee = math::q15(1.25);
constexpr std::int32_t kWeightMin = math::q15(0.01);
constexpr std::int32_t kWeightMax = math::q15(0.99);
constexpr std::int16_t kHighNoiseRun = 30;
constexpr std::int16_t kLowNoiseRun = 10;
constexpr std::int16_t kRiseLoud = math::q15(0.33);
constexpr std::int16_t kRiseQuiet = math::q15(0.6);
static_assert(kLowLevelDepth == -262144 && kDbPerSnrQ15 == 14746 && kTwentiethQ15 == 1638 &&
              kWeightKnee == 40960 && kWeightMin == 328 && kWeightMax == 32440 &&
              kRiseLoud == 10813 && kRiseQuiet == 19661);

}  // namespace

namespace vocrel::rnr {

void posterior_snr(RnrChanState* st, const std::int32_t* mcraSpec, std::int16_t* postSnr) {
  const RateView v = view_of(st);
  math::divide_pairs_sat16(mcraSpec, v.noiseEst, 8, v.B, postSnr);
  if (st->frameCnt <= 1) {
    for (int k = 0; k < v.B; ++k) postSnr[k] = std::max(postSnr[k], kSnrUnity);
  }
}

void frame_gains(RnrChanState* st, const std::int16_t* postSnr) {
  const RateView v = view_of(st);
  std::int64_t energy = 0;
  for (int k = 1; k < v.B; ++k) {
    energy = add_sat64(energy, mul_dbl64(v.noiseEst[k], v.noiseEst[k]) >> 16);
  }
  const std::int32_t total = sat32(add_sat64(energy, 128) >> 7);
  const std::int32_t level =
      math::ten_log10_q15(std::max(sub_sat32(total, kNoiseOffset), kNoiseLevelMin));
  std::int32_t depth = kDepthRef - level;  // Q15 dB, 0 or below for loud noise
  const std::int32_t limit = st->lowLevelRun > kLowLevelRunMin
                                 ? kLowLevelDepth
                                 : sat32(std::int64_t{st->maxNrNegDb} * 32768);
  depth = std::max(depth, limit);

  // Gains 10^(d / 20) of the band depths d (Q15 dB), 1 where d >= 0; the
  // powers run lane-wise over every band.
  std::array<std::int32_t, kMaxBands> depthDb;
  std::array<std::int32_t, kMaxBands> power10;  // d / 20 in Q26, then 10^(d / 20) in Q31
  for (int k = 0; k < v.B; ++k) {
    const std::int32_t g = postSnr[k];
    std::int32_t q = sat16(sat32(2 * std::int64_t{g} * g) >> 8);  // 2 snr^2, Q8
    q = q >= kSnrOffsetQ8 ? q - kSnrOffsetQ8 : 0;
    depthDb[k] = depth + ((q * kDbPerSnrQ15) >> 8);
    power10[k] = sat32((2 * std::int64_t{depthDb[k]} * kTwentiethQ15) >> 5);
  }
  vec_kernels().exp10_q31(power10.data(), v.B, vocrel_rnr_exp2Coef.data(), power10.data());
  std::array<std::int16_t, kMaxBands> gainNew;
  for (int k = 0; k < v.B; ++k) {
    gainNew[k] = depthDb[k] >= 0 ? kGainOne : sat16(power10[k] >> 16);
  }
  smooth_gains(st, gainNew.data(), postSnr);
}

void smooth_gains(RnrChanState* st, const std::int16_t* gainNew, const std::int16_t* postSnr) {
  const RateView v = view_of(st);
  const int n = v.B;
  std::array<std::int32_t, kMaxBands> root;
  for (int k = 0; k < n; ++k) root[k] = std::int32_t{postSnr[k]} * 256;
  math::roots_q16(root.data(), kRootOffset, kRootShift, n, root.data());  // sqrt(snr) Q15

  const std::int32_t noiseSum = vocrel::math::sum_sat_two_lanes(v.noiseEst, n);
  if (noiseSum > sat32(std::int64_t{st->bandEnergyThr} * 32768)) {
    st->hiNoiseRun = lo16(std::int32_t{st->hiNoiseRun} + 1);
    if (st->hiNoiseRun > kHighNoiseRun) st->bandSmoothWeight = kRiseLoud;
    st->loNoiseRun = 0;
  } else {
    st->hiNoiseRun = 0;
    st->loNoiseRun = lo16(std::int32_t{st->loNoiseRun} + 1);
  }
  if (st->loNoiseRun > kLowNoiseRun) st->bandSmoothWeight = kRiseQuiet;

  // Each band's weight target falls as its SNR root rises past the knee.
  std::array<std::int16_t, kMaxBands> target;
  for (int k = 0; k < n; ++k) {
    target[k] = static_cast<std::int16_t>(
        32768 - std::clamp(sub_sat32(root[k], kWeightKnee), kWeightMin, kWeightMax));
  }
  vec_kernels().follow_gains(target.data(), gainNew, n, st->frameCnt <= 1, st->bandSmoothWeight,
                             sub_sat16(kGainOne, st->bandSmoothWeight), v.bandSmoothCoef,
                             v.bandSmoothGain);
}

void expand_band_gains(RnrChanState* st) {
  const RateView v = view_of(st);
  for (int k = 0; k < kLowBands; ++k) v.gainBin[k] = v.bandSmoothGain[k];
  for (int j = 0; j + kLowBands < v.B; ++j) {
    for (int i = 0; i < 4; ++i) v.gainBin[kLowBands + 4 * j + i] = v.bandSmoothGain[kLowBands + j];
  }
}

}  // namespace vocrel::rnr
