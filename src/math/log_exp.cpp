// Logarithms and exponentials on integers.
//
// All logarithms share one base-2 core: normalise, pick one of 32 segments of
// log2(1 + t) on [1, 2), interpolate linearly in Q15 and truncate. The results
// are compared against fixed thresholds downstream, so every truncation and
// saturation below is part of the contract.
#include <cstdint>

#include "math/constants.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;

// One interpolation segment: value at the left end and (left - right), < 0.
struct Segment {
  std::int32_t base;
  std::int32_t slope;
};

// Packed tables hold the left value in the high half, the slope in the low half.
constexpr Segment unpack(std::int32_t packed) { return {packed >> 16, lo16(packed)}; }

// The segments of log2(1 + t) as the packed table holds them (the same
// values as the 33-point table: base T[j], slope T[j] - T[j+1]).
Segment log2_segment(std::int32_t j) { return unpack(vocrel_rnr_Log2Tab[j]); }

constexpr std::int32_t kLog10Of2Q13 = 24660;  // 10*log10(2) in Q13
using math::kLn2Q15;                          // ln(2) in Q15
using math::kLn2x15Q15;                       // 15*ln(2) in Q15: ln of the Q15 unit
constexpr std::int32_t kLog2eQ14 = 23637;     // log2(e) in Q14

// log2(x) in Q15 for x >= 1 (0 for x = 1, at most 31*32768 - 1); 0 for x <= 0
// without reading the table.
std::int32_t log2_of(std::int32_t x) {
  if (x <= 0) return 0;
  const int c = norm32(x);
  const std::int32_t xn = shl_wrap32(x, c);   // [2^30, 2^31 - 1]
  const std::int32_t j = (xn >> 25) - 32;     // segment 0..31
  const std::int32_t f = (xn >> 10) & 32767;  // position inside the segment, Q15
  const Segment s = log2_segment(j);
  const std::int32_t frac =
      sub_sat32(shl_wrap32(s.base, 16), sat32(std::int64_t{2} * s.slope * f)) >> 16;
  return (30 - c) * 32768 + frac;
}

// 10*log10(x) in Q15 from log2 in Q15, truncated: (2 L 24660) >> 14.
constexpr std::int32_t ten_log10_of_log2(std::int32_t log2_q15_value) {
  return sat32((std::int64_t{2} * log2_q15_value * kLog10Of2Q13) >> 14);
}

// 10^x in Q31 for x in Q26 (x < 0): 2^(x log2 10) split into an integer shift
// and a quadratic in u = frac - 1 on [-1, 0). The steps as 32-bit words:
// the product by log2(10) / 8 is below 2^30 (exact), its two saturating
// doublings one clamp of 8 t, the shift -1 - whole within -32..31; 2 u^2
// clamps only at u = -2^15; the fit's sums stay inside 32 bits for any
// 16-bit coefficients (|u2 c2| and |u c1| are at most 2^30).
std::int32_t exp10_with_fit(std::int32_t x_q26, const std::int16_t* coef) {
  constexpr std::int32_t kLog2Of10Over8Q16 = 27213;
  const auto t0 = static_cast<std::int32_t>((std::int64_t{x_q26} * kLog2Of10Over8Q16) >> 16);
  const std::int32_t t =
      t0 > (kInt32Max >> 3) ? kInt32Max : (t0 < (kInt32Min >> 3) ? kInt32Min : t0 * 8);
  const std::int32_t w = shl_wrap32(t >> 16, 6);  // Q16 after dropping 10 low bits
  const std::int32_t whole = w >> 16;
  const std::int32_t u = ((w & 65535) - 65536) >> 1;  // frac - 1 in Q15: -32768..-64
  const std::int32_t shift = -1 - whole;
  const std::int32_t u2 = u == -32768 ? 32767 : (2 * u * u + 32768) >> 16;  // Q15, rounded
  const std::int32_t poly = u2 * coef[0] + u * coef[1];
  const std::int32_t p = add_sat32(shl_wrap32(poly, 1), shl_wrap32(coef[2], 16));  // 2^u, Q31
  return shift > 0 ? shr32(p, shift) : p;
}

}  // namespace

void vocrel::vec_exp10_q31_c(const std::int32_t* x, std::int32_t count, const std::int16_t* coef,
                             std::int32_t* out) {
  for (std::int32_t i = 0; i < count; ++i) out[i] = exp10_with_fit(x[i], coef);
}

#if VOCREL_MODE1
void vocrel::vec_ln_q15_c(const std::int32_t* in, std::int32_t count, std::int32_t* out) {
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t m = mul_dbl_hi32(log2_of(in[i]), math::kLn2Q15InQ31);
    out[i] = m > 0 ? sub_sat32(m, kLn2x15Q15) : 0;
  }
}
#endif

namespace vocrel::math {

std::int32_t log2_q15(std::int32_t x) { return log2_of(x); }

std::int32_t ten_log10_q15(std::int32_t x) { return ten_log10_of_log2(log2_of(x)); }

std::int32_t exp10_q31(std::int32_t x_q26) {
  return exp10_with_fit(x_q26, vocrel_fnr_exp2Coef.data());
}

#if VOCREL_MODE1
// 4 * floor(L * 24660 / 32768): the two lowest bits are always 0.
void ten_log10_q15_coarse(const std::int32_t* in, std::int32_t n, std::int32_t* out) {
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t l = log2_of(in[i]);
    out[i] = shl_sat32(mul_dbl_hi32(l, shl_wrap32(kLog10Of2Q13, 16)), 2);
  }
}

// L * ln2, minus 15 ln2 for the Q15 unit (a vector kernel).
void ln_q15(const std::int32_t* in, std::int32_t n, std::int32_t* out) {
  vec_kernels().ln_q15(in, n, out);
}

void exp_q15(const std::int32_t* in, std::int32_t n, std::int32_t* out) {
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t v = in[i] > 0 ? in[i] : 0;
    const std::int32_t y =
        mul_dbl_hi32(shl_sat32(v, 1), shl_wrap32(kLog2eQ14, 16));  // v log2 e, Q15
    const std::int32_t whole = y >> 15;
    const std::int32_t t = shl_wrap32(y & 32767, 6);
    const std::int32_t j = t >> 16;              // segment 0..31
    const std::int32_t frac = (t >> 1) & 32767;  // low 10 bits of the fraction, Q15
    const Segment s = unpack(vocrel_rnr_Pow2Tab[j]);
    const std::int32_t m = sub_sat32(shl_wrap32(s.base, 16),
                                     mul_dbl_hi32(shl_wrap32(s.slope, 16), shl_wrap32(frac, 16)));
    const std::int32_t k = whole - 15 < -32 ? -32 : (whole - 15 > 31 ? 31 : whole - 15);
    out[i] = k >= 0 ? shl_sat32(m, k) : shr_round32(m, -k);
  }
}
#endif

}  // namespace vocrel::math
