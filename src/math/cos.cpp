// Cosine of a Q14 angle in Q15, by linear interpolation over 64 segments of
// the quarter wave. The segment grid is 402 input units (pi/128 is 402.1), so
// values near a quarter turn come out a few units off zero; callers rely on
// these exact values.
#include <cstdint>

#include "math/fixed.h"
#include "math/vocrel_math.h"

#if VOCREL_MODE1  // the environment-noise path is its only user

namespace {

using namespace vocrel;

constexpr std::int32_t kHalfPiQ14 = 25736;
constexpr std::int32_t kPiQ14 = 51472;
constexpr std::int32_t kTwoPiQ14 = 102940;     // one turn as the folding uses it
constexpr std::int32_t kFourPiQ14 = 205890;    // two turns
constexpr std::int32_t kMaxAngleQ14 = 308830;  // about 6 pi: beyond it the result is 0
constexpr std::int32_t kInvPiQ15 = 10430;      // 2^15 / pi
constexpr std::int32_t kSegmentWidthX2 = 804;  // twice the 402-unit segment

}  // namespace

std::int32_t vocrel::math::cos_q15(std::int32_t theta_q14) {
  std::int32_t a = abs_sat32(theta_q14);
  if (a > kMaxAngleQ14) return 0;
  if (a > kFourPiQ14) {
    a -= kFourPiQ14;
  } else if (a > kTwoPiQ14) {
    a -= kTwoPiQ14;
  }
  // The turn constants are not exact multiples (205890 > 2 * 102940), so a can
  // reach 102950 here and the mirror below can leave it at -10; the segment
  // index is clamped at 0 for that.
  if (a > kPiQ14) a = kTwoPiQ14 - a;  // cos(2 pi - a) = cos a
  bool negate = false;
  if (a > kHalfPiQ14) {  // cos(pi - a) = -cos a
    a = kPiQ14 - a;
    negate = true;
  }
  std::int32_t i = sat32(std::int64_t{2} * a * kInvPiQ15) >> 23;  // segment 0..63
  if (i < 0) i = 0;
  const std::int32_t packed = vocrel_rnr_cos_tab[i];
  const std::int32_t y = packed >> 16;   // value at the segment's right end, Q15
  const std::int32_t dy = lo16(packed);  // slope per 256 input units
  const std::int32_t d = (((i + 1) * kSegmentWidthX2) >> 1) - a;  // distance to the right end
  const std::int32_t c = lo16(sat32(std::int64_t{2} * d * dy) >> 8);
  std::int32_t r = sub_sat16(y, c);
  if (negate) r = neg_sat16(static_cast<std::int16_t>(r));
  return r;
}

#endif  // VOCREL_MODE1
