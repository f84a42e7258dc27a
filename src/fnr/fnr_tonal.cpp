// Tonal-stability and long-voice detection (48 kHz): frame-to-frame
// correlation of the detrended log spectrum between its valleys, bins 0..127.
// logE is log2 in Q10, residuals Q7 log2, stabilities Q15.
#include <cstring>

#include "fnr/fnr_internal.h"
#include "math/constants.h"
#include "math/fixed.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;
using math::q15;

constexpr std::int32_t kBins = kFnrTonalBins;
constexpr std::int16_t kLogOfZero = -1024;       // -1.0 in Q10
constexpr std::int16_t kStrongThr = q15(0.9);    // strongly stable frame
constexpr std::int32_t kPeakStrong = q15(0.95);  // strong flag
constexpr std::int32_t kSmoothOld = q15(0.9);
constexpr std::int32_t kSmoothNew = math::kQ15Max - kSmoothOld;  // 0.1, the rest
constexpr std::int32_t kDevThrCenter = 2621440;                  // 80 in units of 32768
constexpr std::int32_t kDevThrStep = q15(0.1);
constexpr std::int32_t kDevThrMin = 2457600;  // 75
constexpr std::int32_t kDevThrMax = 2785280;  // 85
constexpr std::int32_t kFlagRunHold = 15;     // hold after 16 flagged frames
constexpr std::int32_t kFlagRunLatch = 60;
constexpr std::int16_t kHoldShort = 10;
constexpr std::int16_t kHoldLong = 50;
constexpr std::int32_t kLongTonalMiss = 3;  // at most 3 of the last 40 frames unstable
static_assert(kStrongThr == 29491 && kPeakStrong == 31130 && kSmoothNew == 3276 &&
              kDevThrStep == 3277);

// rho^2 = C^2 / (A B), Q15, in block floating point with a Q14 reciprocal of
// the mantissa of A B (A, B >= 1).
std::int16_t squared_correlation(std::int32_t A, std::int32_t B, std::int32_t C) {
  const std::int32_t nA = norm32(A), nB = norm32(B);
  const std::int32_t mA = shl_wrap32(A, nA) >> 16, mB = shl_wrap32(B, nB) >> 16;
  const std::int32_t x = nA + nB - 33;
  const std::int32_t h = x >> 1, l = x - h;
  const std::int16_t c1 = lo16(shift_sat32(C, h));
  const std::int16_t c2 = lo16(shift_sat32(C, l));

  const std::int32_t P = sat32(2 * std::int64_t{mA} * mB);
  const std::int32_t nP = norm32(P);
  const std::int32_t mP = shl_wrap32(P, nP) >> 16;
  const std::int32_t C2 = mul_dbl16(c1, c2);

  // mA, mB in [2^14, 2^15) make P = 2 mA mB in [2^29, 2^31), so mP lies in
  // [2^14, 2^15): the domain of the reciprocal.
  const std::int32_t inv = fnr::reciprocal_q14(mP);

  const std::int32_t nC = norm32(C2);  // 0 for C2 = 0
  const std::int32_t mC = shl_wrap32(C2, nC) >> 16;
  const auto sh = static_cast<std::int16_t>(nC - nP + 13);
  const std::int32_t R = inv * mC;
  return sat16(sh >= 0 ? shr32(R, sh) : shl_sat32(R, -sh));
}

}  // namespace

namespace vocrel::fnr {

std::int32_t tonal_hold(FnrTonalState* T, const std::int32_t* mag) {
  std::int16_t strong = 0;
  std::int32_t sum = 0;
  std::int16_t logE[kBins], valleys[kBins], dev[kBins], resid[kBins];
  const std::int16_t count = log_spectrum_valleys(T, mag, logE, valleys);
  std::memset(dev, 0, sizeof dev);
  std::memset(resid, 0, sizeof resid);
  if (count != 0) segment_correlations(T, logE, valleys, count, dev, resid);
  const std::int32_t E = smooth_stability(T, dev, kStrongThr, &strong, &sum);

  T->devThr =
      E <= kDevThrCenter ? add_sat32(T->devThr, kDevThrStep) : sub_sat32(T->devThr, kDevThrStep);
  T->devThr =
      T->devThr < kDevThrMin ? kDevThrMin : (T->devThr > kDevThrMax ? kDevThrMax : T->devThr);
  const std::int32_t flag = (T->devThr < E || strong == 1) ? 1 : 0;
  const std::int32_t hold = long_voice_hold(T, flag);

  std::memcpy(T->prevResid, resid, sizeof resid);
  T->primed = 1;
  return static_cast<std::int8_t>(hold);
}

std::int16_t log_spectrum_valleys(FnrTonalState* T, const std::int32_t* mag, std::int16_t* logE,
                                  std::int16_t* valleys) {
  // Log of the two-frame magnitude sum.
  for (std::int32_t k = 0; k < kBins; ++k) {
    const std::int32_t s = add_sat32(mag[k], T->prevBinMag[k]);
    T->prevBinMag[k] = mag[k];
    logE[k] = s == 0 ? kLogOfZero : static_cast<std::int16_t>(math::log2_q15(s) >> 5);
  }
  // Strict local minima, ascending; the end bins compare with one neighbour.
  std::int16_t n = 0;
  if (logE[0] < logE[1]) valleys[n++] = 0;
  for (std::int32_t j = 1; j < kBins - 1; ++j) {
    // Written unconditionally (n <= j) and kept by counting it: no branch on
    // the shape of the spectrum.
    valleys[n] = static_cast<std::int16_t>(j);
    n = static_cast<std::int16_t>(n + ((logE[j] < logE[j - 1]) & (logE[j] < logE[j + 1])));
  }
  if (logE[kBins - 1] < logE[kBins - 2]) valleys[n++] = kBins - 1;
  return n;
}

void segment_correlations(FnrTonalState* T, const std::int16_t* logE, const std::int16_t* valleys,
                          std::int32_t count, std::int16_t* dev, std::int16_t* resid) {
  count = clamp_count(count, kBins);
  for (std::int32_t i = 0; i + 1 < count; ++i) {
    const std::int32_t lo = valleys[i], hi = valleys[i + 1];
    if (lo < 0 || hi > kBins - 1 || hi <= lo) continue;  // not a segment of this spectrum
    const std::int32_t inv = sFnrMinDisTab[hi - lo < 63 ? hi - lo : 63];
    const std::int32_t slope =
        static_cast<std::int16_t>(logE[hi] - logE[lo]) * inv;  // Q10 per bin, Q15

    std::int32_t A = 1, B = 1, C = 0;
    for (std::int32_t k = lo; k < hi; ++k) {
      const auto lin = static_cast<std::int16_t>(mul_dbl64(slope, k - lo) >> 16);  // line, Q10
      const auto rise = static_cast<std::int16_t>(logE[k] - logE[lo]);
      const auto r = static_cast<std::int16_t>((rise - lin) >> 3);  // Q7
      const std::int32_t p = T->prevResid[k];
      resid[k] = r;
      A = add_sat32(A, r * r);
      B = add_sat32(B, p * p);
      C = add_sat32(C, r * p);
    }
    const std::int16_t rho2 = squared_correlation(A, B, C);
    for (std::int32_t k = lo; k < hi; ++k) dev[k] = rho2;
  }
}

std::int32_t smooth_stability(FnrTonalState* T, const std::int16_t* dev, std::int16_t thr,
                              std::int16_t* strong, std::int32_t* sum) {
  if (T->primed != 1) return 0;  // nothing to compare with yet
  std::int32_t E = 0, m = 0;
  for (std::int32_t k = 0; k < kBins; ++k) {
    const std::int64_t acc =
        std::int64_t{kSmoothOld} * T->devSm[k] + std::int64_t{kSmoothNew} * dev[k];
    T->devSm[k] = static_cast<std::int16_t>(sat32(acc) >> 15);
    E += T->devSm[k];
    if (T->devSm[k] > m) m = T->devSm[k];
  }
  *sum = add_wrap32(*sum, E);
  if (m > kPeakStrong) *strong = 1;
  std::memmove(T->tonalHist, T->tonalHist + 1, kFnrToneHist - 1);
  T->tonalHist[kFnrToneHist - 1] = m > thr ? 1 : 0;
  return E;
}

std::int32_t long_voice_hold(FnrTonalState* T, std::int32_t flag) {
  std::int32_t n = 0;
  for (const std::uint8_t h : T->tonalHist) n += h == 1 ? 1 : 0;
  const bool longTonal = kFnrToneHist - n <= kLongTonalMiss;

  std::int32_t result = 0;
  if (flag == 1) T->flagRun = add_sat16(T->flagRun, 1);
  if (flag == 1 && T->flagRun > kFlagRunHold) {
    result = 1;
    if (T->latched != 1) T->holdCnt = kHoldShort;
    if (T->flagRun > kFlagRunLatch) {
      T->holdCnt = kHoldLong;
      T->latched = 1;
    }
  } else {
    if (flag != 1) T->flagRun = 0;
    if (T->holdCnt > 0) {
      T->holdCnt = static_cast<std::int16_t>(T->holdCnt - 1);
      result = 1;
    } else {
      T->latched = 0;
    }
  }
  return (result == 1 || longTonal) ? 1 : 0;
}

}  // namespace vocrel::fnr
