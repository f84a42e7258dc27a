// Scalar fixed-point functions: pinned values that fix the arithmetic,
// accuracy against double over geometric sweeps, twin agreement, and the
// contract of out-of-range arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "math/vocrel_math.h"

namespace {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr double kQ15 = 32768.0;

// Integers from 1 to 2^31 - 1 growing by about 0.1 % per step, plus the
// neighbours of every power of two (where the normalisation changes).
template <typename F>
void for_each_positive32(F&& f) {
  for (double v = 1.0; v < 2147483647.0; v = v * 1.001 + 1.0) f(static_cast<int32_t>(v));
  for (int b = 1; b < 31; ++b) {
    f((int32_t{1} << b) - 1);
    f(int32_t{1} << b);
    f((int32_t{1} << b) + 1);
  }
  f(kMax32);
}

TEST(MathLog, PinnedValuesAndDomain) {
  EXPECT_EQ(Vocrel_RNR_10xlog10(32768), 1479600);  // 45.15 dB in Q15
  EXPECT_EQ(Vocrel_RNR_10xlog10(1), 0);
  EXPECT_EQ(Vocrel_RNR_10xlog10(0), 0);
  EXPECT_EQ(Vocrel_RNR_10xlog10(-5), 0);
  EXPECT_EQ(Vocrel_RNR_10xlog10(kMin32), 0);
  EXPECT_GT(Vocrel_RNR_10xlog10(kMax32), 3000000);  // ~93.3 dB, no wrap
  EXPECT_EQ(Fnr_Log2(1), 0);
  EXPECT_EQ(Fnr_Log2(2), 32768);
  EXPECT_EQ(Fnr_Log2(1 << 30), 30 * 32768);
  EXPECT_EQ(Fnr_Log2(kMax32), 31 * 32768 - 2);  // chord end, truncated
  EXPECT_EQ(Fnr_Log2(-1), 0);

  int32_t in[6] = {0, 1, 2, 32767, 32768, 65536};
  int32_t out[6];
  Vocrel_RNR_vec_log(in, 6, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  EXPECT_LT(out[2], 0);
  EXPECT_LT(out[3], 0);      // just below 1.0
  EXPECT_EQ(out[4], 0);      // ln 1.0
  EXPECT_EQ(out[5], 22713);  // ln 2.0 in Q15
}

TEST(MathLog, AccuracyAndTwinsOverSweep) {
  for_each_positive32([](int32_t x) {
    const double exact_log2 = std::log2(static_cast<double>(x)) * kQ15;
    const int32_t l = Fnr_Log2(x);
    // Chords lie below the concave curve, then truncate: never above, at
    // most 7 Q15 units below.
    ASSERT_LE(l, exact_log2 + 0.5) << x;
    ASSERT_GE(l, exact_log2 - 7.0) << x;

    const int32_t db = Vocrel_RNR_10xlog10(x);
    ASSERT_EQ(db, Fnr_10xlog10(x)) << x;
    ASSERT_NEAR(db, 10.0 * std::log10(static_cast<double>(x)) * kQ15, 70.0) << x;

    // The vector form keeps 4 * floor(L * 24660 / 2^15): a multiple of 4 at
    // most 3 below the scalar form.
    int32_t pair[2] = {x, x};
    Vocrel_RNR_vec_10xlog10(pair, 2, pair);
    ASSERT_EQ(pair[0] % 4, 0) << x;
    ASSERT_GE(db - pair[0], 0) << x;
    ASSERT_LE(db - pair[0], 3) << x;

    if (x > 32768) {
      int32_t ln[2] = {x, 1};
      Vocrel_RNR_vec_log(ln, 2, ln);
      ASSERT_NEAR(ln[0], std::log(x / kQ15) * kQ15, 7.0) << x;
    }
  });
}

TEST(MathExp, PoweOfQ15) {
  int32_t in[6] = {0, -1, kMin32, 32768, 11 * 32768, kMax32};
  int32_t out[6];
  Vocrel_RNR_vec_powe(in, 6, out);
  EXPECT_EQ(out[0], 32768);
  EXPECT_EQ(out[1], 32768);
  EXPECT_EQ(out[2], 32768);
  EXPECT_EQ(out[3], 89075);  // e in Q15
  EXPECT_NEAR(out[4], std::exp(11.0) * kQ15, std::exp(11.0) * kQ15 * 1e-4);
  EXPECT_EQ(out[5], kMax32);

  // Relative accuracy up to where e^v leaves the 32-bit range (v ~ 11.09).
  for (int32_t v = 1; v < 11 * 32768; v += 97) {
    int32_t pair[2] = {v, v};
    Vocrel_RNR_vec_powe(pair, 2, pair);
    const double exact = std::exp(v / kQ15) * kQ15;
    ASSERT_LE(std::fabs(pair[0] - exact), exact * 1.2e-4 + 1.0) << v;
  }
}

TEST(MathExp, Exp10OfNegativeQ26) {
  constexpr int32_t kOneQ26 = 1 << 26;
  EXPECT_EQ(Vocrel_RNR_fnExp10(-kOneQ26), 214924113);  // 0.10008 in Q31
  EXPECT_EQ(Vocrel_RNR_fnExp10(0), 1077728290);        // outside the range: 2^-1 fit
  EXPECT_NEAR(Vocrel_RNR_fnExp10(-2 * kOneQ26) / 2147483648.0, 0.00998, 0.00001);
  EXPECT_EQ(Vocrel_RNR_fnExp10(kMin32), 0);  // shift of 32 or more
  for (int32_t x = -1; x > -10 * kOneQ26; x -= 65537) {
    const int32_t r = Vocrel_RNR_fnExp10(x);
    ASSERT_EQ(r, Vocrel_Fnr_fnExp10(x)) << x;
    const double exact = std::pow(10.0, x / static_cast<double>(kOneQ26)) * 2147483648.0;
    // Quadratic fit of 2^u: about 0.4 % relative, plus the final truncation.
    ASSERT_LE(std::fabs(r - exact), exact * 4e-3 + 1.0) << x;
  }
}

TEST(MathCos, PinnedValuesSymmetryAndAccuracy) {
  constexpr int32_t kPi = 51472;
  EXPECT_EQ(Vocrel_RNR_cos(0), 32767);
  EXPECT_EQ(Vocrel_RNR_cos(kPi / 2), -16);  // the 402-unit grid falls short of pi/2
  EXPECT_EQ(Vocrel_RNR_cos(kPi), -32767);
  EXPECT_EQ(Vocrel_RNR_cos(308830), Vocrel_RNR_cos(-308830));
  EXPECT_EQ(Vocrel_RNR_cos(308831), 0);
  EXPECT_EQ(Vocrel_RNR_cos(kMin32), 0);
  EXPECT_EQ(Vocrel_RNR_cos(kMax32), 0);
  // Just past two turns the fold leaves a slightly negative angle.
  EXPECT_EQ(Vocrel_RNR_cos(205890), 32767);
  EXPECT_EQ(Vocrel_RNR_cos(102950), 32767);

  for (int32_t t = 0; t <= 308830; t += 13) {
    const int32_t c = Vocrel_RNR_cos(t);
    ASSERT_EQ(c, Vocrel_RNR_cos(-t)) << t;
    ASSERT_GE(c, -32767);
    ASSERT_LE(c, 32767);
    ASSERT_NEAR(c, std::cos(t / 16384.0) * kQ15, 32.0) << t;
  }
}

TEST(MathSqrt, Vector32PinnedValues) {
  int32_t in[8] = {1, 4, 1048576, 100, 0, -7, 1 << 30, kMax32};
  int32_t out[8];
  Vocrel_RNR_vec_sqrt32(in, 0, 16, 8, out);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 2);
  EXPECT_EQ(out[2], 1024);
  EXPECT_EQ(out[3], 9);  // truncated from 655312 in Q16
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(out[5], 0);
  EXPECT_EQ(out[6], kMax32 >> 16);  // saturated before the shift

  Vocrel_RNR_vec_sqrt32(in, 0, 0, 8, out);
  EXPECT_EQ(out[3], 655312);
  EXPECT_EQ(out[6], kMax32);
  EXPECT_EQ(out[7], kMax32);

  // The offset is added after saturation and never for non-positive inputs.
  Vocrel_RNR_vec_sqrt32(in, 32768, 9, 8, out);
  EXPECT_EQ(out[0], (65536 + 32768) >> 9);
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(out[5], 0);
  EXPECT_EQ(out[7], kMax32 >> 9);
  Vocrel_RNR_vec_sqrt32(in, -5, 0, 8, out);
  EXPECT_EQ(out[7], kMax32 - 5);
  // A negative shift is a saturating left shift.
  Vocrel_RNR_vec_sqrt32(in, 0, -2, 8, out);
  EXPECT_EQ(out[0], 65536 * 4);
  EXPECT_EQ(out[7], kMax32);
}

TEST(MathSqrt, Vector32AccuracyAndTwins) {
  for_each_positive32([](int32_t x) {
    if (x >= (1 << 30)) return;
    int32_t a = 0;
    int32_t b = 0;
    Vocrel_RNR_vec_sqrt32(&x, 0, 0, 1, &a);
    Vocrel_fnr_vec_sqrt32(&x, 0, 0, 1, &b);
    ASSERT_EQ(a, b) << x;
    const double exact = std::sqrt(static_cast<double>(x)) * 65536.0;
    ASSERT_LE(std::fabs(a - exact), exact * 3.5e-4) << x;
  });
}

TEST(MathSqrt, Int64PinnedValuesAndAccuracy) {
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(1000000000000LL), 1000000);
  // z is rounded before the final multiply by sqrt 2: coarse for tiny inputs.
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(1), 0);
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(4), 1);
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(9), 3);
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(100), 10);
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(7), 1);  // the rounding add saturates in 32 bits
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(0), 0);
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(-1), 0);
  EXPECT_EQ(Vocrel_RNR_sqrt_i64(std::numeric_limits<int64_t>::min()), 0);
  EXPECT_EQ(Fnr_sqrt_i64_vec(0), 0);  // by the arithmetic, no early exit

  for (double v = 1.0; v < 4.6e18; v = v * 1.0037 + 1.0) {
    const auto x = static_cast<int64_t>(v);
    const int32_t r = Vocrel_RNR_sqrt_i64(x);
    ASSERT_EQ(r, Fnr_sqrt_i64_vec(x)) << x;
    const double exact = std::sqrt(static_cast<double>(x));
    // Two Newton steps with a fixed slope from the segment middle: ~2.3e-7
    // relative at worst, plus the two roundings (the first of which may
    // saturate and lose up to one unit of z).
    ASSERT_LE(std::fabs(r - exact), exact * 2.5e-7 + 2.2) << x;
  }
}

TEST(MathDivide, PinnedValues) {
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(1, 3, 15), 10922);
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(-1, 3, 15), -10923);  // floor for negative quotients
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(3, 4, 15), 24575);    // reciprocal a hair low
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(0, 7, 15), 0);
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(0, -7, 15), 0);
  // Zero divisor: the unrefined seed 2139127680 / 2^31 times num in Q(q-30).
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(1048576, 0, 15), 31);
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(-5000, 0, 8), -1);
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(1 << 30, 1, 15), kMax32);
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(-(1 << 30), 1, 15), kMin32);
  // 1/1 in Q31: the refined reciprocal saturates at 2^31 - 1, so the
  // quotient is 2^29 - 1 before the final shift by 2.
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(1, 1, 31), 2147483644);
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(kMin32, kMin32, 15), 32768);
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(kMin32, 1, 0), -2147483646);
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(5, 1000, -40), 0);  // shift of 32 or more
  EXPECT_EQ(Vocrel_RNR_L_divide_Q(-5, 1000, -40), -1);
}

// Deterministic 64-bit generator (SplitMix64), identical on every target.
struct SplitMix {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Signed value of random magnitude: a random word shifted right by 0..31.
  int32_t wide() {
    const uint64_t r = next();
    return static_cast<int32_t>(static_cast<uint32_t>(r)) >> ((r >> 32) & 31);
  }
};

TEST(MathDivide, AccuracyTwinsAndVectorForms) {
  SplitMix rng{12345};
  constexpr int32_t kN = 257;  // odd: exercises the tail after the pairs
  int32_t num[kN];
  int32_t den[kN];
  for (int i = 0; i < 20000; ++i) {
    const int32_t n = rng.wide();
    const int32_t d = rng.wide();
    const int32_t q = static_cast<int32_t>(rng.next() % 32);
    const int32_t r = Vocrel_RNR_L_divide_Q(n, d, q);
    ASSERT_EQ(r, Fnr_L_divide_Q(n, d, q));
    if (d == 0) continue;
    const double exact = std::ldexp(static_cast<double>(n), q) / d;
    if (exact > 2.2e9) {
      ASSERT_EQ(r, kMax32) << n << "/" << d << " Q" << q;
    } else if (exact < -2.2e9) {
      ASSERT_EQ(r, kMin32) << n << "/" << d << " Q" << q;
    } else if (std::fabs(exact) < 2.1e9) {
      // The magnitude is truncated from a reciprocal ~1e-9 low (and from num
      // cut to 30 bits), then negated and floored by the final shift.
      ASSERT_NEAR(r, exact, 2.0 + std::fabs(exact) * 2e-9) << n << "/" << d << " Q" << q;
    }
  }

  for (int32_t i = 0; i < kN; ++i) {
    num[i] = rng.wide();
    den[i] = i % 17 == 0 ? 0 : rng.wide();
  }
  int16_t out16[kN];
  Vocrel_RNR_vecvec2s_L_divide_Q(num, den, 12, kN, out16);
  for (int32_t i = 0; i < kN; ++i) {
    const int32_t r = Vocrel_RNR_L_divide_Q(num[i], den[i], 12);
    ASSERT_EQ(out16[i], r > 32767 ? 32767 : (r < -32768 ? -32768 : r)) << i;
  }

  // One reciprocal for the whole vector: num * (1/den in Q31), doubled to
  // Q32, then shifted to Qq; within a few units of the exact quotient.
  int32_t out[kN];
  for (const int32_t d : {3, -7, 1000, 65536}) {
    for (const int32_t q : {0, 8, 15}) {
      for (int32_t i = 0; i < kN; ++i) num[i] = rng.wide() >> 16;  // quotients fit 32 bits
      Vocrel_RNR_vecscl2i_L_divide_Q(num, d, q, kN, out);
      for (int32_t i = 0; i < kN; ++i) {
        const double exact = std::ldexp(static_cast<double>(num[i]), q) / d;
        ASSERT_NEAR(out[i], exact, 2.0 + std::fabs(exact) * 1e-8) << num[i] << "/" << d;
      }
    }
  }
  // den = 1: the shared reciprocal is 2147483644 (a hair below 1.0 in Q31),
  // so exact quotients truncate one unit short, downwards for both signs.
  num[0] = 1000;
  num[1] = -1000;
  num[2] = 0;
  Vocrel_RNR_vecscl2i_L_divide_Q(num, 1, 0, 3, out);
  EXPECT_EQ(out[0], 999);
  EXPECT_EQ(out[1], -1000);
  EXPECT_EQ(out[2], 0);
}

}  // namespace
