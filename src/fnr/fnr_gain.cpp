// Floor-noise path: temporal band gains (Q15) from band magnitudes and noise.
#include "fnr/fnr_internal.h"
#include "math/constants.h"
#include "math/fixed.h"
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

// Wiener gain snr^2 / (1 + snr^2) of an excess over the noise, Q15.
std::int16_t wiener_gain(std::int32_t excess, std::int32_t noise) {
  const std::int32_t snr = Fnr_L_divide_Q(excess, noise, 6);  // Q6
  const std::int32_t p = sat32(mul64(snr, snr));              // Q12
  return sat16(Fnr_L_divide_Q(p, add_sat32(p, kWienerOneQ12), 15));
}

// Gain smoothing weight: fast (0.15) after a steep fall, else toward 1 - G.
std::int16_t gain_coef(std::int16_t coef, std::int16_t gPrev, std::int16_t G) {
  const std::int32_t c1 = kOne - G;
  if (gPrev > 2 * std::int32_t{G}) return kGainDropCoef;
  if (coef >= c1) return static_cast<std::int16_t>(c1);
  return sat16(coef + (sat32(2 * std::int64_t{c1 - coef} * kCoefApproach) >> 16));
}

// The narrow rule's products: saturate32(2 a b) >> 16 for any 32-bit a, b.
inline std::int32_t dbl_hi16(std::int32_t a, std::int32_t b) {
  return sat32(2 * std::int64_t{a} * b) >> 16;
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
    const std::int16_t G = wiener_gain(ch->bandExcess[b], ch->bandNoise[b]);
    const std::int16_t gPrev = ch->bandGain[b];
    const std::int16_t c = gain_coef(ch->gainCoef[b], gPrev, G);
    ch->gainCoef[b] = c;
    ch->bandGain[b] =
        first ? G : static_cast<std::int16_t>(vocrel::smooth_two_short(gPrev, G, c, kOne - c));
  }
  const std::int32_t idx = clamp_count(st->maxNr - 2, 19);
  const std::int16_t floorGain = sFnrMinGain[idx];
  for (std::int16_t& g : ch->bandGain) g = g < floorGain ? floorGain : g;
}

void band_gains_narrow(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag) {
  std::int16_t ratio[kFnrBands];  // band-to-noise magnitude ratio, Q8
  for (std::int32_t b = 0; b < kBands; ++b) {
    const std::int32_t mag = bandMag[b] <= 0 ? kNarrowMin : bandMag[b];
    if (ch->bandNoise[b] <= 0) ch->bandNoise[b] = kNarrowMin;
    ratio[b] = sat16(Fnr_L_divide_Q(mag, ch->bandNoise[b], 8));
  }
  temporal_gain(st, ch, ratio);
  for (std::int16_t& g : ch->bandGain) g = g < kNarrowGainFloor ? kNarrowGainFloor : g;
}

void temporal_gain(const FnrState* st, FnrChanState* ch, const std::int16_t* ratio) {
  // Noise power sum(noise^2) * 2^15 over bands 1..72, then * 256 rounded.
  std::int64_t power = 0;
  for (std::int32_t b = 1; b < kBands; ++b) {
    const std::int32_t y = shl_sat32(ch->bandNoise[b], 15);
    power = add_sat64(power, mul_dbl64(y, y) >> 16);
  }
  const std::int32_t t = sat32(add_sat64(power, 128) >> 7);

  // Attenuation limit L (Q15 dB): the noise level above 1, at most maxNr dB.
  std::int32_t x = sub_sat32(t, kNoiseBias);
  if (x < kPowerFloor) x = kPowerFloor;
  const std::int32_t ndb = Fnr_10xlog10(x) - kTenLog256Q15;
  std::int32_t L = neg_sat32(ndb);
  const std::int32_t limit = sat32(-std::int64_t{st->maxNr} * 32768);
  if (L < limit) L = limit;

  std::int16_t tmpGain[kFnrBands];
  for (std::int32_t b = 0; b < kBands; ++b) {
    const std::int32_t q = sat16(sat32(2 * std::int64_t{ratio[b]} * ratio[b]) >> 8);  // gamma^2, Q9
    const std::int32_t qx = q >= kRatioSqFloorQ9 ? q - kRatioSqFloorQ9 : 0;
    const std::int32_t a = add_sat32(L, (qx * kDbPerRatioSq) >> 8);
    if (a >= 0) {
      tmpGain[b] = static_cast<std::int16_t>(kOne);
    } else {
      const std::int32_t expQ26 = sat32((2 * std::int64_t{a} * kDbToLog10Q) >> 5);  // a / 20 in Q26
      tmpGain[b] = static_cast<std::int16_t>(Vocrel_Fnr_fnExp10(expQ26) >> 16);
    }
  }

  std::int32_t roots[kFnrBands];  // sqrt(gamma) in Q15, rounded
  for (std::int32_t b = 0; b < kBands; ++b) roots[b] = std::int32_t{ratio[b]} * 256;
  Vocrel_fnr_vec_sqrt32(roots, 32768, 9, kBands, roots);

  const bool first = st->frameCnt <= 1;
  for (std::int32_t b = 0; b < kBands; ++b) {
    std::int32_t v = sub_sat32(roots[b], kRootBias);
    v = v < kCoefMin ? kCoefMin : (v > kCoefMax ? kCoefMax : v);
    const auto s = static_cast<std::int16_t>(32768 - v);
    std::int16_t& coef = ch->gainCoef[b];
    if (s < coef) {
      coef = s;
    } else {
      coef = sat16(std::int64_t{dbl_hi16(s, kCoefNew)} + dbl_hi16(kCoefOld, coef));
    }
    if (first) {
      ch->bandGain[b] = tmpGain[b];
    } else {
      ch->bandGain[b] =
          sat16(std::int64_t{dbl_hi16(coef, ch->bandGain[b])} + dbl_hi16(kOne - coef, tmpGain[b]));
    }
  }
}

}  // namespace vocrel::fnr
