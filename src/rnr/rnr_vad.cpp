// Voice activity detectors of the environment-noise path. Each returns 1 when
// the frame looks like noise only and 0 otherwise.
//  VAD1: frame energy and stationarity of the log band levels.
//  VAD2: distance between the normalised shapes of frame and noise estimate,
//        compared with the smallest distance of the last 100 frames.
//  VAD3: residual of a straight-line fit of the frame's band spectrum on the
//        noise estimate.
#include <algorithm>
#include <array>

#include "math/constants.h"
#include "math/fixed.h"
#include "math/vocrel_math.h"
#include "rnr/rnr.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"

namespace {

using namespace vocrel;
using namespace vocrel::rnr;

// VAD1
constexpr std::int32_t kLevelRef = 1479622;                    // 10 log10(32768) in Q15
constexpr std::int32_t kLevelTrackQ31 = math::q15(0.1) << 16;  // 0.1 in Q15, placed in Q31
constexpr std::int32_t kQuietEnergy = 100;
constexpr std::int32_t kStationaryChange = math::q15(20.0);
constexpr std::int16_t kStationaryFrames = 50;
constexpr std::int16_t kNonStationaryRun = 6;
constexpr std::int16_t kCountMax = 32767;
static_assert(kLevelTrackQ31 == 214761472 && kStationaryChange == 655360);

// VAD2
constexpr std::uint32_t kVad2StartFrame = 100;
constexpr std::int32_t kVad2Margin = 4096;
constexpr int kVad2SingleGroups = 8;  // groups 0..7 from single-bin bands

// VAD3 constants per rate: K1 (2 K1 / 65536 ~ 32 / bands), K2 (256 bands) and
// the final shift.
struct Vad3Consts {
  std::int32_t k1, k2;
  int shift;
};
constexpr Vad3Consts kVad3Narrow = {18396, 14592, 6};
constexpr Vad3Consts kVad3Wide = {11782, 22784, 5};
constexpr std::int64_t kVad3AccStart = 32768;

// sat(2 * ((a * k) >> 16)) with a 32-bit a and a 16-bit constant k.
std::int32_t mul_k_dbl(std::int32_t a, std::int32_t k) {
  return sat32(2 * ((std::int64_t{a} * k) >> 16));
}

// sat(2 * (a (x) w)) with (a (x) w) = (a * w) >> 15.
std::int32_t weigh_dbl(std::int32_t a, std::int16_t w) {
  return sat32(2 * ((std::int64_t{a} * w) >> 15));
}

// Normalises v by its mean in Q15 (left alone when the mean is 0).
void normalise(std::array<std::int32_t, kVad1Groups>& v) {
  const std::int32_t m = vocrel::math::shifted_mean(v.data(), kVad1Groups);
  if (m != 0) math::divide_by_scalar(v.data(), m, 15, kVad1Groups, v.data());
}

}  // namespace

namespace vocrel::rnr {

std::int32_t level_vad(RnrChanState* st, const std::int32_t* specLD) {
  const RateView v = view_of(st);
  std::array<std::int32_t, kVad1Groups> level;  // half level above 32768, Q15
  math::ten_log10_q15_coarse(specLD + 1, kVad1Groups, level.data());
  for (auto& l : level) l = (l - kLevelRef) >> 1;

  auto& smooth = st->vad1LogSpec;  // entries 1..32
  if (st->frameCnt == 1) {
    for (int i = 1; i <= kVad1Groups; ++i) smooth[i] = level[i - 1];
  }
  std::int32_t change = 0;
  for (int i = 1; i <= kVad1Groups; ++i) {
    const std::int32_t d = sub_sat32(level[i - 1], smooth[i]);
    change = add_sat32(change, abs_sat32(d));
    smooth[i] = add_sat32(smooth[i], mul_dbl_hi32(d, kLevelTrackQ31));
  }

  std::int32_t sum = 0;
  for (int k = 0; k <= v.G; ++k) sum = add_sat32(sum, mul_dbl_hi32(specLD[k], specLD[k]));
  const std::int32_t energy = sat32(2 * std::int64_t{sum});

  std::int32_t result = 0;
  if (energy < kQuietEnergy) {
    result = 1;
  } else if (energy > kQuietEnergy && change < kStationaryChange) {
    if (st->vad1StatCnt < kCountMax) ++st->vad1StatCnt;
    result = st->vad1StatCnt >= kStationaryFrames ? 1 : 0;
  }

  if (st->vad1StatCnt == st->vad1PrevCnt) {
    if (st->vad1SameCnt < kCountMax) ++st->vad1SameCnt;
  } else {
    st->vad1SameCnt = 0;
  }
  st->vad1PrevCnt = st->vad1StatCnt;
  if (st->vad1SameCnt > kNonStationaryRun) st->vad1StatCnt = 0;
  return result;
}

std::int32_t shape_vad(RnrChanState* st, const std::int32_t* specLD) {
  const RateView v = view_of(st);
  const std::int32_t* noise = v.noiseEst;
  std::array<std::int32_t, kVad1Groups> a, b;
  for (int j = 0; j < kVad2SingleGroups; ++j) {
    const std::int32_t* n4 = noise + 4 * j + 1;
    a[j] = sat32(std::int64_t{n4[0] >> 2} + (n4[1] >> 2) + (n4[2] >> 2) + (n4[3] >> 2));
  }
  for (int j = kVad2SingleGroups; j < kVad1Groups; ++j) a[j] = noise[j + 25];
  for (int j = 0; j < kVad1Groups; ++j) b[j] = specLD[j + 1];
  for (int j = 0; j < kVad1Groups; ++j) {
    a[j] = weigh_dbl(a[j], v.groupW[j]);
    b[j] = weigh_dbl(b[j], v.groupW[j]);
  }
  normalise(a);
  normalise(b);
  std::int32_t dist = 0;
  for (int j = 0; j < kVad1Groups; ++j) dist = add_sat32(dist, abs_sat32(sub_sat32(a[j], b[j])));

  if (st->vad2HistIdx >= kVad2HistLen) st->vad2HistIdx = 0;
  const std::int32_t h = dist >> 4;
  st->vad2Hist[st->vad2HistIdx] = h;

  std::int32_t result = 0;
  if (st->frameCnt >= kVad2StartFrame) {
    const std::int32_t m = vocrel::math::minimum(st->vad2Hist.data(), kVad2HistLen);
    result = abs_sat32(sub_sat32(h, m)) < kVad2Margin ? 1 : 0;
  }
  if (st->lowNoiseCnt != 0) result = 0;
  return result;
}

std::int32_t line_fit_vad(const RnrChanState* st, const std::int32_t* mcraSpec) {
  const RateView v = view_of(st);
  const Vad3Consts c = v.wide ? kVad3Wide : kVad3Narrow;
  const std::int32_t* x = v.noiseEst;
  const std::int32_t* y = mcraSpec;
  const int n = v.B;

  const std::int32_t sumX = sat32(vocrel::math::sum_sat64(x, n) >> 5);
  const std::int32_t sumY = sat32(vocrel::math::sum_sat64(y, n) >> 5);
  const std::int32_t meanX = mul_k_dbl(sumX, c.k1);
  const std::int32_t meanY = mul_k_dbl(sumY, c.k1);

  std::int64_t cyy = kVad3AccStart, cxx = kVad3AccStart, cxy = kVad3AccStart;
  for (int i = 0; i < n; ++i) {
    const std::int32_t dy = sub_wrap32(y[i], meanY) >> 7;
    const std::int32_t dx = sub_wrap32(x[i], meanX) >> 7;
    cyy = add_sat64(cyy, mul64(dy, dy));
    cxx = add_sat64(cxx, mul64(dx, dx));
    cxy = add_sat64(cxy, mul64(dx, dy));
  }
  const std::int32_t a = sat32(cyy >> 21);
  const std::int32_t b = sat32(cxx >> 21);
  const std::int32_t cc = sat32(cxy >> 21);
  const std::int32_t varY = std::max(mul_k_dbl(a, c.k1), 1);
  const std::int32_t varX = std::max(mul_k_dbl(b, c.k1), 1);
  const std::int32_t cov = mul_k_dbl(cc, c.k1);
  const std::int32_t level = shl_sat32(mul_k_dbl(meanY, c.k2), 7);  // about sum(Y)

  const std::int64_t residual = sub_sat64(mul64(varY, varX), mul64(cov, cov));
  const std::int64_t bound = ((mul64(varX, level)) >> 15) >> c.shift;
  return residual < bound ? 1 : 0;
}

}  // namespace vocrel::rnr
