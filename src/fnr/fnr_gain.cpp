// Floor-noise path: temporal band gains (Q15) from band magnitudes and noise.
#include <algorithm>

#include "fnr/fnr_internal.h"
#include "math/constants.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;
using fnr::kBands;
using math::q15;
using math::q15_rest;

constexpr std::int32_t kOne = math::kQ15Max;  // 1.0 in Q15, as near as it gets

// 48 kHz excess rule.
constexpr std::int16_t kExcessFall = q15_rest(0.15);  // 0.85: the excess has at least halved
constexpr std::int16_t kExcessRise = q15(0.1);
constexpr std::int32_t kNoiseMin = 10;             // divisor floor of the excess SNR
constexpr std::int32_t kWienerOneQ12 = 4096;       // 1.0 in Q12
constexpr std::int16_t kGainDropCoef = q15(0.15);  // after a fall by more than half
constexpr std::int32_t kCoefApproach = q15(0.8);   // of the way toward 1 - G

// 8/16 kHz ratio rule.
constexpr std::int32_t kNarrowMin = 2;               // replaces non-positive magnitudes and noise
constexpr std::int16_t kNarrowGainFloor = q15(0.1);  // -20 dB
constexpr std::int32_t kNoiseBias = 3082;            // 12.04 in the Q8 noise power
constexpr std::int32_t kPowerFloor = 256;            // 1.0 in Q8
constexpr std::int32_t kTenLog256Q15 = 789132;       // 10 log10 256, Q15
constexpr std::int32_t kRatioSqFloorQ9 = 768;        // 1.5 in Q9
constexpr std::int32_t kDbPerRatioSq = 14746;        // 0.9 dB per unit of gamma^2 (Q15 dB, Q9 in)
constexpr std::int32_t kDbToLog10Q = q15(0.05);      // 1/20 for the Q26 exponent
constexpr std::int32_t kRootBias = q15(1.25);
constexpr std::int32_t kCoefMin = q15(0.01);
constexpr std::int32_t kCoefMax = q15(0.99);
constexpr std::int32_t kCoefNew = q15(0.33);
constexpr std::int32_t kCoefOld = q15_rest(0.33);  // 0.67

static_assert(kExcessFall == 27852 && kExcessRise == 3277 && kGainDropCoef == 4915 &&
              kCoefApproach == 26214 && kNarrowGainFloor == 3277 && kDbToLog10Q == 1638 &&
              kRootBias == 40960 && kCoefMin == 328 && kCoefMax == 32440 && kCoefNew == 10813 &&
              kCoefOld == 21954);

// Wiener gains snr^2 / (1 + snr^2) of the excesses over the noise, Q15, for
// every band: both divisions run lane-wise.
void wiener_gains(const std::int32_t* excess, const std::int32_t* noise, std::int16_t* G) {
  const VecKernels& k = vec_kernels();
  std::int32_t snr[kFnrBands];  // Q6, then its square (Q12)
  std::int32_t den[kFnrBands];  // 1 + snr^2, Q12
  k.divide_q(excess, noise, 6, kBands, iFnr_tab_invQ30.data(), snr);
  for (std::int32_t b = 0; b < kBands; ++b) {
    snr[b] = sat32(mul64(snr[b], snr[b]));
    den[b] = add_sat32(snr[b], kWienerOneQ12);
  }
  k.divide_q(snr, den, 15, kBands, iFnr_tab_invQ30.data(), snr);
  for (std::int32_t b = 0; b < kBands; ++b) {
    G[b] = static_cast<std::int16_t>(std::clamp(snr[b], kInt16Min, kInt16Max));  // sat16
  }
}

// Gain smoothing weight: fast (0.15) after a steep fall, else toward 1 - G.
std::int16_t gain_coef(std::int16_t coef, std::int16_t gPrev, std::int16_t G) {
  const std::int32_t c1 = kOne - G;
  if (gPrev > 2 * std::int32_t{G}) return kGainDropCoef;
  if (coef >= c1) return static_cast<std::int16_t>(c1);
  return sat16(coef + (sat32(2 * std::int64_t{c1 - coef} * kCoefApproach) >> 16));
}

}  // namespace

namespace vocrel::fnr {

void band_gains_wide(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag) {
  const bool first = st->frameCnt <= 1;
  for (std::int32_t b = 0; b < kBands; ++b) {
    std::int32_t post = sub_sat32(bandMag[b], ch->bandNoise[b]);
    if (post < 0) post = 0;
    if (first) {
      ch->bandExcess[b] = post;
    } else {
      const std::int16_t alpha =
          ch->bandExcess[b] >= 2 * std::int64_t{post} ? kExcessFall : kExcessRise;
      ch->gainCoef[b] = alpha;
      ch->bandExcess[b] = vocrel::smooth_two_int(ch->bandExcess[b], post, kOne - alpha, alpha);
    }
    if (ch->bandNoise[b] <= kNoiseMin) ch->bandNoise[b] = kNoiseMin;
  }
  std::int16_t G[kFnrBands];
  wiener_gains(ch->bandExcess, ch->bandNoise, G);
  for (std::int32_t b = 0; b < kBands; ++b) {
    const std::int16_t gPrev = ch->bandGain[b];
    const std::int16_t c = gain_coef(ch->gainCoef[b], gPrev, G[b]);
    ch->gainCoef[b] = c;
    ch->bandGain[b] =
        first ? G[b]
              : static_cast<std::int16_t>(vocrel::smooth_two_short(gPrev, G[b], c, kOne - c));
  }
  const std::int32_t idx = clamp_count(st->maxNr - 2, 19);
  const std::int16_t floorGain = sFnrMinGain[idx];
  for (std::int16_t& g : ch->bandGain) g = g < floorGain ? floorGain : g;
}

void band_gains_narrow(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag) {
  std::int32_t mag[kFnrBands];  // band magnitudes, then their ratios to the noise (Q8)
  for (std::int32_t b = 0; b < kBands; ++b) {
    mag[b] = bandMag[b] <= 0 ? kNarrowMin : bandMag[b];
    if (ch->bandNoise[b] <= 0) ch->bandNoise[b] = kNarrowMin;
  }
  vec_kernels().divide_q(mag, ch->bandNoise, 8, kBands, iFnr_tab_invQ30.data(), mag);
  std::int16_t ratio[kFnrBands];
  for (std::int32_t b = 0; b < kBands; ++b) {
    ratio[b] = static_cast<std::int16_t>(std::clamp(mag[b], kInt16Min, kInt16Max));  // sat16
  }
  temporal_gain(st, ch, ratio);
  for (std::int16_t& g : ch->bandGain) g = g < kNarrowGainFloor ? kNarrowGainFloor : g;
}

void temporal_gain(const FnrState* st, FnrChanState* ch, const std::int16_t* ratio) {
  // Noise power sum(noise^2) * 2^15 over bands 1..72, then * 256 rounded.
  // Each term mul_dbl64(y, y) >> 16 is y^2 >> 15 but for y = -2^31, whose
  // doubled square clamps to 2^63 - 1 (2^47 - 1 after the shift); with
  // terms up to 2^47 the sum stays below 2^54: plain 64-bit sums.
  std::int64_t power = 0;
  for (std::int32_t b = 1; b < kBands; ++b) {
    const std::int32_t y = shl_sat32(ch->bandNoise[b], 15);
    power += std::min(mul64(y, y) >> 15, (std::int64_t{1} << 47) - 1);
  }
  const std::int32_t t = sat32((power + 128) >> 7);

  // Attenuation limit L (Q15 dB): the noise level above 1, at most maxNr dB.
  std::int32_t x = sub_sat32(t, kNoiseBias);
  if (x < kPowerFloor) x = kPowerFloor;
  const std::int32_t ndb = math::ten_log10_q15(x) - kTenLog256Q15;
  std::int32_t L = neg_sat32(ndb);
  const std::int32_t limit = sat32(-std::int64_t{st->maxNr} * 32768);
  if (L < limit) L = limit;

  // Target gains 10^(a / 20) of the attenuations a (Q15 dB), 1 where a >= 0,
  // and the roots sqrt(gamma) in Q15, rounded; the powers and roots run
  // lane-wise over every band. The power of a < 0 takes the Q26 exponent
  // sat32((2 a 1638) >> 5), which clamps for a below kAttenClamp only.
  constexpr std::int32_t kAttenClamp = -20976641;  // -2^36 / 3276, rounded toward 0
  std::int32_t atten[kFnrBands];
  std::int32_t power10[kFnrBands];  // a / 20 in Q26, then 10^(a / 20) in Q31
  std::int32_t roots[kFnrBands];
  for (std::int32_t b = 0; b < kBands; ++b) {
    // gamma^2 in Q9, sat16(sat32(2 r^2) >> 8): r^2 >> 7 within 16 bits.
    const std::int32_t q = std::min((std::int32_t{ratio[b]} * ratio[b]) >> 7, std::int32_t{32767});
    const std::int32_t qx = q >= kRatioSqFloorQ9 ? q - kRatioSqFloorQ9 : 0;
    atten[b] = add_sat32(L, (qx * kDbPerRatioSq) >> 8);
    const std::int32_t a = std::min(atten[b], std::int32_t{0});  // a >= 0 needs no power
    power10[b] = a < kAttenClamp ? kInt32Min : lo32((2 * std::int64_t{a} * kDbToLog10Q) >> 5);
    roots[b] = std::int32_t{ratio[b]} * 256;
  }
  vec_kernels().exp10_q31(power10, kBands, vocrel_fnr_exp2Coef.data(), power10);
  math::roots_q16(roots, 32768, 9, kBands, roots);

  // Smoothing weights 1 - (sqrt(gamma) - 1.25) within [0.01, 0.99], then
  // the weights and gains follow them lane-wise.
  std::int16_t tmpGain[kFnrBands];
  std::int16_t s[kFnrBands];
  for (std::int32_t b = 0; b < kBands; ++b) {
    tmpGain[b] = atten[b] >= 0 ? static_cast<std::int16_t>(kOne)
                               : static_cast<std::int16_t>(power10[b] >> 16);
    std::int32_t v = sub_sat32(roots[b], kRootBias);
    v = v < kCoefMin ? kCoefMin : (v > kCoefMax ? kCoefMax : v);
    s[b] = static_cast<std::int16_t>(32768 - v);
  }
  vec_kernels().follow_gains(s, tmpGain, kBands, st->frameCnt <= 1, kCoefNew, kCoefOld,
                             ch->gainCoef, ch->bandGain);
}

}  // namespace vocrel::fnr
