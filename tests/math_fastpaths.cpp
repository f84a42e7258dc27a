// Fast forms of the arithmetic against the step-by-step forms they replace:
// the 64-bit root without saturation checks on its Newton products, and the
// 32-bit saturating left shift. Inputs sweep every magnitude (one to 63 bits)
// with the edges of each range.
#include <gtest/gtest.h>

#include <cstdint>

#include "math/fixed.h"
#include "math/vocrel_math.h"
#include "test_util.h"

namespace {

using namespace vocrel;

// The root with every product doubled and saturated and every sum saturated.
int32_t sqrt_i64_saturating_steps(int64_t x, const int32_t (&seeds)[128][2]) {
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

TEST(MathFastPaths, SaturatingLeftShiftMatchesA64BitClamp) {
  vocrel_test::SplitMix rng{0x5A7};
  for (int s = 0; s <= 40; ++s) {
    for (int i = 0; i < 3000; ++i) {
      int32_t x = rng.wide();
      if (i < 12) {  // around the limits kInt32Max >> s and kInt32Min >> s
        const int32_t edge = (i & 1) != 0 ? shr32(kInt32Min, s) : shr32(kInt32Max, s);
        x = lo32(int64_t{edge} + i / 2 % 3 - 1);
      }
      const int64_t wide =
          s >= 32 ? (x > 0 ? kInt64Max : (x < 0 ? kInt64Min : 0)) : int64_t{x} * (int64_t{1} << s);
      ASSERT_EQ(shl_sat32(x, s), sat32(wide)) << x << " << " << s;
    }
  }
}

// Sums through the overflow flags against the 64-bit sum clamped, on a grid
// of extreme values and random pairs of every magnitude.
TEST(MathFastPaths, SaturatingSumsMatchA64BitClamp) {
  const int32_t grid[] = {kInt32Min, kInt32Min + 1, -(1 << 30),    -2,       -1, 0, 1,
                          2,         1 << 30,       kInt32Max - 1, kInt32Max};
  vocrel_test::SplitMix rng{0xADD5};
  auto check = [](int32_t a, int32_t b) {
    ASSERT_EQ(add_sat32(a, b), sat32(int64_t{a} + b)) << a << " + " << b;
    ASSERT_EQ(sub_sat32(a, b), sat32(int64_t{a} - b)) << a << " - " << b;
    ASSERT_EQ(neg_sat32(a), sat32(-int64_t{a})) << a;
    ASSERT_EQ(abs_sat32(a), sat32(a < 0 ? -int64_t{a} : a)) << a;
  };
  for (const int32_t a : grid) {
    for (const int32_t b : grid) check(a, b);
  }
  for (int i = 0; i < 200000; ++i) check(rng.wide(), rng.wide());
}

// The doubled 16-bit product in 32 bits: every row a = -2^15..2^15-1 against
// the extremes and a stride through all b, exact against the clamped 64-bit form.
TEST(MathFastPaths, DoubledShortProductMatchesA64BitClamp) {
  for (int32_t a = -32768; a <= 32767; ++a) {
    for (int32_t b = -32768; b <= 32767; b += (b > -32760 && b < 32760) ? 997 : 1) {
      const auto a16 = static_cast<int16_t>(a), b16 = static_cast<int16_t>(b);
      ASSERT_EQ(mul_dbl16(a16, b16), sat32(int64_t{a} * b * 2)) << a << " * " << b;
    }
  }
}

// The same for the 64-bit sums, against the comparisons with the limits.
TEST(MathFastPaths, SaturatingSums64MatchTheLimitTests) {
  auto add_ref = [](int64_t a, int64_t b) {
    if (b > 0 && a > kInt64Max - b) return kInt64Max;
    if (b < 0 && a < kInt64Min - b) return kInt64Min;
    return a + b;
  };
  auto sub_ref = [](int64_t a, int64_t b) {
    if (b < 0 && a > kInt64Max + b) return kInt64Max;
    if (b > 0 && a < kInt64Min + b) return kInt64Min;
    return a - b;
  };
  const int64_t grid[] = {kInt64Min, kInt64Min + 1,    -(int64_t{1} << 62), -1,       0,
                          1,         int64_t{1} << 62, kInt64Max - 1,       kInt64Max};
  vocrel_test::SplitMix rng{0xADD64};
  for (const int64_t a : grid) {
    for (const int64_t b : grid) {
      ASSERT_EQ(add_sat64(a, b), add_ref(a, b)) << a << " + " << b;
      ASSERT_EQ(sub_sat64(a, b), sub_ref(a, b)) << a << " - " << b;
    }
  }
  for (int i = 0; i < 200000; ++i) {
    const auto a = static_cast<int64_t>(rng.next()) >> (i % 64);
    const auto b = static_cast<int64_t>(rng.next()) >> (i / 64 % 64);
    ASSERT_EQ(add_sat64(a, b), add_ref(a, b)) << a << " + " << b;
    ASSERT_EQ(sub_sat64(a, b), sub_ref(a, b)) << a << " - " << b;
  }
}

}  // namespace
