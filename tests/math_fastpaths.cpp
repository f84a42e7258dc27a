// Fast forms of the arithmetic against the step-by-step forms they replace:
// the 64-bit root without saturation checks on its Newton products (every
// magnitude, one to 63 bits, with the edges of each width), and the saturating
// primitives on grids of extreme values.
#include <gtest/gtest.h>

#include <cstdint>

#include "math/fixed.h"
#include "math/vocrel_math.h"
#include "test_util.h"

namespace {

using namespace vocrel;

// The root with every product doubled and saturated and every sum saturated.
int32_t sqrt_i64_saturating_steps(int64_t x, const vocrel::SqrtSeeds& seeds) {
  const int32_t high = hi32(x);
  int m = 0;
  if (high != 0) {
    m = norm32(high);
  } else {
    const auto low_half = static_cast<int32_t>(static_cast<uint32_t>(lo32(x)) >> 1);
    m = low_half == 0 ? 62 : 31 + norm32(low_half);
  }
  const int e = m & ~1;
  const int64_t xn = shl_wrap64(x, e);
  const int h = (e - 32) / 2;
  const int32_t k = static_cast<int32_t>(xn >> 56);
  const int32_t a = seeds[k][0];
  const int32_t b = seeds[k][1];
  const int64_t r1 = sub_sat64(xn, mul_dbl64(a, a));
  const int32_t y1 = add_sat32(a, hi32(mul_dbl64(b, hi32(r1))));
  const int64_t r2 = sub_sat64(xn, mul_dbl64(y1, y1));
  const int32_t y2 = add_sat32(y1, hi32(mul_dbl64(b, hi32(r2))));
  const int32_t half_unit = h + 15 >= 0 ? shl_wrap32(1, h + 15) : 0;
  const int32_t z = shr32(add_sat32(y2, half_unit), h + 16);
  return lo32(add_sat64(mul_dbl64(z, 1518500250), int64_t{1} << 30) >> 31);
}

TEST(MathFastPaths, RootsMatchTheSaturatingSteps) {
  vocrel_test::SplitMix rng{0xF457};
  for (int bits = 0; bits <= 63; ++bits) {
    const uint64_t top = bits == 0 ? 0 : (~0ull >> (64 - bits));  // largest value of this width
    for (int i = 0; i < 4000; ++i) {
      int64_t x = static_cast<int64_t>(rng.next() & top);
      if (i < 3) x = static_cast<int64_t>(top) - i;  // the edges of the width
      if (x < 0) x = 0;
      ASSERT_EQ(Vocrel_RNR_sqrt_i64(x),
                x == 0 ? 0 : sqrt_i64_saturating_steps(x, vocrel_rnr_sqrt_32_tab))
          << x;
      ASSERT_EQ(Fnr_sqrt_i64_vec(x), sqrt_i64_saturating_steps(x, iFnrSqrtTab)) << x;
    }
  }
}

// The saturating sums, shifts and the doubled 16-bit product against the
// wide result clamped, on grids of extreme values and the edges of each
// shift's range.
TEST(MathFastPaths, SaturatingFormsMatchTheClampedWideResult) {
  const int32_t grid[] = {kInt32Min, kInt32Min + 1, -(1 << 30),    -2,       -1, 0, 1,
                          2,         1 << 30,       kInt32Max - 1, kInt32Max};
  for (const int32_t a : grid) {
    ASSERT_EQ(neg_sat32(a), sat32(-int64_t{a})) << a;
    ASSERT_EQ(abs_sat32(a), sat32(a < 0 ? -int64_t{a} : a)) << a;
    for (const int32_t b : grid) {
      ASSERT_EQ(add_sat32(a, b), sat32(int64_t{a} + b)) << a << " + " << b;
      ASSERT_EQ(sub_sat32(a, b), sat32(int64_t{a} - b)) << a << " - " << b;
    }
  }
  for (int s = 0; s <= 40; ++s) {
    for (int i = 0; i < 12; ++i) {  // around the limits kInt32Max >> s and kInt32Min >> s
      const int32_t edge = (i & 1) != 0 ? shr32(kInt32Min, s) : shr32(kInt32Max, s);
      const int32_t x = lo32(int64_t{edge} + i / 2 % 3 - 1);
      const int64_t wide =
          s >= 32 ? (x > 0 ? kInt64Max : (x < 0 ? kInt64Min : 0)) : int64_t{x} * (int64_t{1} << s);
      ASSERT_EQ(shl_sat32(x, s), sat32(wide)) << x << " << " << s;
    }
  }
  for (int32_t a = -32768; a <= 32767; ++a) {
    for (int32_t b = -32768; b <= 32767; b += (b > -32760 && b < 32760) ? 997 : 1) {
      const auto a16 = static_cast<int16_t>(a), b16 = static_cast<int16_t>(b);
      ASSERT_EQ(mul_dbl16(a16, b16), sat32(int64_t{a} * b * 2)) << a << " * " << b;
    }
  }
  // 64-bit sums against the comparisons with the limits.
  const int64_t grid64[] = {kInt64Min, kInt64Min + 1,    -(int64_t{1} << 62), -1,       0,
                            1,         int64_t{1} << 62, kInt64Max - 1,       kInt64Max};
  for (const int64_t a : grid64) {
    for (const int64_t b : grid64) {
      const int64_t sum = b > 0 && a > kInt64Max - b   ? kInt64Max
                          : b < 0 && a < kInt64Min - b ? kInt64Min
                                                       : a + b;
      const int64_t diff = b < 0 && a > kInt64Max + b   ? kInt64Max
                           : b > 0 && a < kInt64Min + b ? kInt64Min
                                                        : a - b;
      ASSERT_EQ(add_sat64(a, b), sum) << a << " + " << b;
      ASSERT_EQ(sub_sat64(a, b), diff) << a << " - " << b;
    }
  }
}

}  // namespace
