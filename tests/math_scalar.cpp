// Scalar fixed-point functions: worked values that fix the arithmetic,
// accuracy against double over geometric sweeps (the two families' names of
// one routine are one symbol; the golden digest reads both), and the
// generated tables against their rules recomputed in double. Vector
// primitives where a plausible implementation goes wrong: overlapping copies,
// lane order of saturating sums, ties, the floor mean, where the smoothing
// saturates, and fills and clamps that take the value's low bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "math/vocrel_math.h"
#include "test_util.h"

namespace {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr double kQ15 = 32768.0;
using V32 = std::vector<int32_t>;

// Single-element forms of the vector routines (pairs, as the logarithms need).
template <auto Vec>
int32_t one(int32_t x) {
  int32_t p[2] = {x, 1};
  Vec(p, 2, p);
  return p[0];
}
constexpr auto vlog = one<Vocrel_RNR_vec_log>, vdb = one<Vocrel_RNR_vec_10xlog10>,
               vpowe = one<Vocrel_RNR_vec_powe>;
int32_t vsqrt(int32_t x, int32_t offset, int32_t shift) {
  int32_t r = 0;
  Vocrel_RNR_vec_sqrt32(&x, offset, shift, 1, &r);
  return r;
}

// Integers from 1 to 2^31 - 1 growing by about 0.1 % per step, plus the
// neighbours of every power of two (where the normalisation changes).
template <typename F>
void for_each_positive32(F&& f) {
  for (double v = 1.0; v < 2147483647.0; v = v * 1.001 + 1.0) f(static_cast<int32_t>(v));
  for (int b = 1; b < 31; ++b)
    for (int d = -1; d <= 1; ++d) f((int32_t{1} << b) + d);
  f(kMax32);
}

#define PIN(expr, want) \
  { #expr, int64_t(expr), want }

TEST(MathScalar, PinnedValues) {
  const struct {
    const char* what;
    int64_t got, want;
  } pins[] = {
      PIN(Vocrel_RNR_10xlog10(32768), 1479600),
      PIN(Vocrel_RNR_10xlog10(1), 0),
      PIN(Vocrel_RNR_10xlog10(-5), 0),
      PIN(Fnr_Log2(kMax32), 31 * 32768 - 2),
      PIN(vlog(1), 0),
      PIN(vlog(0), 0),
      PIN(vlog(65536), 22713),
      PIN(vpowe(kMin32), 32768),
      PIN(vpowe(32768), 89075),
      PIN(Vocrel_RNR_fnExp10(-(1 << 26)), 214924113),
      PIN(Vocrel_RNR_fnExp10(0), 1077728290),
      PIN(Vocrel_RNR_cos(0), 32767),
      PIN(Vocrel_RNR_cos(25736), -16),
      PIN(Vocrel_RNR_cos(-51472), -32767),
      PIN(Vocrel_RNR_cos(308831), 0),
      PIN(Vocrel_RNR_cos(205890), 32767),
      PIN(vsqrt(4, 0, 16), 2),
      PIN(vsqrt(1048576, 0, 16), 1024),
      PIN(vsqrt(100, 0, 16), 9),
      PIN(vsqrt(1 << 30, 0, 16), kMax32 >> 16),
      PIN(vsqrt(kMax32, -5, 0), kMax32 - 5),
      PIN(vsqrt(-7, 32768, 9), 0),
      PIN(vsqrt(kMax32, 0, -2), kMax32),
      PIN(Vocrel_RNR_sqrt_i64(1000000000000LL), 1000000),
      PIN(Vocrel_RNR_sqrt_i64(1), 0),
      PIN(Vocrel_RNR_sqrt_i64(4), 1),
      PIN(Vocrel_RNR_sqrt_i64(-1), 0),
      PIN(Fnr_sqrt_i64_vec(0), 0),
      PIN(Vocrel_RNR_L_divide_Q(1, 3, 15), 10922),
      PIN(Vocrel_RNR_L_divide_Q(-1, 3, 15), -10923),
      PIN(Vocrel_RNR_L_divide_Q(3, 4, 15), 24575),
      PIN(Vocrel_RNR_L_divide_Q(0, -7, 15), 0),
      PIN(Vocrel_RNR_L_divide_Q(1048576, 0, 15), 31),
      PIN(Vocrel_RNR_L_divide_Q(-5000, 0, 8), -1),
      PIN(Vocrel_RNR_L_divide_Q(1 << 30, 1, 15), kMax32),
      PIN(Vocrel_RNR_L_divide_Q(-(1 << 30), 1, 15), kMin32),
      PIN(Vocrel_RNR_L_divide_Q(-5, 1000, -40), -1),  // shift of 32 or more
  };
  for (const auto& p : pins) EXPECT_EQ(p.got, p.want) << p.what;
  EXPECT_GT(Vocrel_RNR_10xlog10(kMax32), 3000000);  // ~93.3 dB, no wrap
  EXPECT_LT(vlog(32767), 0);
}

TEST(MathScalar, AccuracyAgainstDouble) {
  for_each_positive32([](int32_t x) {
    // Chords lie below the concave curve, then truncate: 0..7 units below.
    ASSERT_NEAR(Fnr_Log2(x), std::log2(double(x)) * kQ15 - 3.25, 3.75) << x;
    const int32_t db = Vocrel_RNR_10xlog10(x);
    ASSERT_NEAR(db, 10.0 * std::log10(double(x)) * kQ15, 70.0) << x;
    // The vector form keeps 4 floor(L 24660 / 2^15): a multiple of 4, 0..3 below.
    ASSERT_TRUE(vdb(x) % 4 == 0 && db - vdb(x) >= 0 && db - vdb(x) <= 3) << x;
    if (x > 32768) {
      ASSERT_NEAR(vlog(x), std::log(x / kQ15) * kQ15, 7.0) << x;
    }
    if (x < (1 << 30)) {
      ASSERT_NEAR(vsqrt(x, 0, 0), std::sqrt(double(x)) * 65536.0,
                  std::sqrt(double(x)) * 65536.0 * 3.5e-4);
    }
  });
  for (int32_t v = 1; v < 11 * 32768; v += 97) {  // e^v up to the 32-bit range
    const double exact = std::exp(v / kQ15) * kQ15;
    ASSERT_LE(std::fabs(vpowe(v) - exact), exact * 1.2e-4 + 1.0) << v;
  }
  for (int32_t x = -1; x > -10 * (1 << 26); x -= 65537) {
    const int32_t r = Vocrel_RNR_fnExp10(x);
    const double exact = std::pow(10.0, x / double(1 << 26)) * 2147483648.0;
    ASSERT_LE(std::fabs(r - exact), exact * 4e-3 + 1.0) << x;  // quadratic fit of 2^u
  }
  for (int32_t t = 0; t <= 308830; t += 13) {
    ASSERT_EQ(Vocrel_RNR_cos(t), Vocrel_RNR_cos(-t)) << t;
    ASSERT_NEAR(Vocrel_RNR_cos(t), std::cos(t / 16384.0) * kQ15, 32.0) << t;
  }
  for (double v = 1.0; v < 4.6e18; v = v * 1.0037 + 1.0) {
    const auto x = static_cast<int64_t>(v);
    const int32_t r = Vocrel_RNR_sqrt_i64(x);
    // Two Newton steps with a fixed slope, plus two roundings (the first may
    // saturate and lose up to one unit).
    ASSERT_LE(std::fabs(r - std::sqrt(double(x))), std::sqrt(double(x)) * 2.5e-7 + 2.2) << x;
  }
}

// The vector forms are pinned by the golden digest.
TEST(MathScalar, DivisionAccuracy) {
  vocrel_test::SplitMix rng{12345};
  for (int i = 0; i < 20000; ++i) {
    const int32_t n = rng.wide(), d = rng.wide();
    const auto q = static_cast<int32_t>(rng.next() % 32);
    const int32_t r = Vocrel_RNR_L_divide_Q(n, d, q);
    if (d == 0) continue;
    const double exact = std::ldexp(double(n), q) / d;
    if (std::fabs(exact) > 2.2e9) {
      ASSERT_EQ(r, exact > 0 ? kMax32 : kMin32) << n << "/" << d << " Q" << q;
    } else if (std::fabs(exact) < 2.1e9) {
      // Truncated from a reciprocal ~1e-9 low, then floored by the final shift.
      ASSERT_NEAR(r, exact, 2.0 + std::fabs(exact) * 2e-9) << n << "/" << d << " Q" << q;
    }
  }
}

// Compile-time tables against the C library: every rule value
// lies at least 0.004 from a rounding tie, so double precision decides.
TEST(MathScalar, GeneratedTablesFollowTheirRules) {
  auto round_half_up = [](double v) { return static_cast<int32_t>(std::floor(v + 0.5)); };
  for (int i = 0; i <= 32; ++i) {
    EXPECT_EQ(vocrel_rnr_log2Table[i], round_half_up(32767.0 * std::log2(1.0 + i / 32.0))) << i;
    EXPECT_EQ(vocrel_rnr_pow2table[i],
              std::min(32767, round_half_up(16384.0 * std::exp2(i / 32.0))));
  }
  for (int i = 0; i < 64; ++i)  // cos(pi/2) in double is 6e-17, not 0: skip it
    EXPECT_EQ(vocrel_rnr_cos_y[i],
              std::min(32767, round_half_up(32768.0 * std::cos(i * std::acos(-1.0) / 128.0))));
}

TEST(MathVector, CopiesAreAscendingElementLoops) {
  // Every length around the 16-byte blocks, every small forward overlap: the
  // element loop replicates the first `lag` values; n <= 0 writes nothing.
  // One form of each width and argument order (the golden digest runs the
  // other two over overlaps).
  for (int32_t n = -1; n <= 19; ++n) {
    for (int32_t lag = 1; lag <= 9; ++lag) {
      V32 want(40), b32(40);
      std::vector<int16_t> a16(40);
      for (int i = 0; i < 40; ++i) want[i] = b32[i] = a16[i] = int16_t(100 + i);
      for (int32_t i = 0; i < n; ++i) want[3 + lag + i] = want[3 + i];
      Vocrel_RNR_vecCopyInt16(&a16[3], n, &a16[3 + lag]);
      FnrCopyInt(&b32[3 + lag], &b32[3], n);
      ASSERT_EQ(b32, want) << n << " " << lag;
      ASSERT_EQ(V32(a16.begin(), a16.end()), want) << n << " " << lag;
    }
  }
}

TEST(MathVector, SumsMeanAndArgMax) {
  // Two lanes: even saturates at 2^31 - 1, odd is -1 (an ascending sum gives
  // 2147483645); an odd last element joins the even lane.
  const int32_t a[4] = {kMax32, 1, 1, -2}, b[3] = {kMax32, -5, 10};
  EXPECT_EQ(Vocrel_RNR_vecSum32Int32(a, 4), 2147483646);
  EXPECT_EQ(Vocrel_RNR_vecSum32Int32(b, 3), kMax32 - 5);
  const int32_t lows[5] = {kMin32, kMin32, kMin32, kMin32, kMin32};
  EXPECT_EQ(Vocrel_RNR_vecSum64Int32(lows, 5), int64_t{kMin32} * 5);
  const int16_t t[7] = {-1, 2, -3, 4, -5, 6, 32767};
  EXPECT_EQ(Vocrel_RNR_vecSum32Int16(t, 7), 32770);

  V32 v(48, -1);
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v.data(), 32), -1);  // floor, not 0
  for (int i = 0; i < 48; ++i) v[i] = i;
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v.data(), 48), 1128 / 32);  // largest power of two <= n
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v.data(), 0), 0);
  v.assign(48, kMax32);
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v.data(), 3), kMax32);  // 64-bit sum, saturated mean

  const int32_t m8[8] = {4, -2, 9, 9, kMin32, 9, 0, -2};
  int32_t m = 0;
  Vocrel_RNR_vecMinInt32(m8, 0, &m);  // in[0] is the starting value regardless
  EXPECT_EQ(m, 4);
  EXPECT_EQ(Vocrel_RNR_VecMaxItemInt32(m8, 0, 7, &m), 2);  // ties keep the lowest index
  EXPECT_EQ(Vocrel_RNR_VecMaxItemInt32(m8, 4, 4, &m), 4);
  EXPECT_EQ(m, kMin32);
  V32 big(40000, 0);  // the index comes back as a sign-extended 16-bit value
  big[33000] = 1;
  EXPECT_EQ(Vocrel_RNR_VecMaxItemInt32(big.data(), 0, 39999, &m), 33000 - 65536);
}

TEST(MathVector, SmoothingFillsAndClamps) {
  EXPECT_EQ(FnrSmoothTwoInt(1000000, 2000000, 26214, 6553),
            (1000000LL * 26214 + 2000000LL * 6553) >> 15);
  EXPECT_EQ(FnrSmoothTwoInt(-1, 0, 1, 0), -1);                         // floor
  EXPECT_EQ(FnrSmoothTwoInt(kMin32, 0, kMin32, 0), -1);                // doubled product saturates
  EXPECT_EQ(FnrSmoothTwoShort(-32768, -32768, 32767, 32767), -32768);  // saturates before the shift
  EXPECT_EQ(FnrSmoothTwoShort(32767, 32767, 32767, 32767), 32767);
  EXPECT_EQ(FnrSmoothTwoShort(0x10000 + 1000, 2000, 22937, 9830),  // low 16 bits of the operands
            static_cast<int32_t>((2LL * 1000 * 22937 + 2LL * 2000 * 9830) >> 16));
  // Two saturated products: the 64-bit sum clamps before the third is added.
  EXPECT_EQ(FnrSmoothThreeInt(kMin32, kMin32, -1, kMin32, kMin32, 1),
            static_cast<int32_t>(static_cast<uint32_t>((INT64_MAX - 2) >> 16)));

  int8_t b[3];
  int16_t s[3];
  Vocrel_RNR_vecSetInt8(b, 3, 0x1FF);
  Vocrel_RNR_vecSetINT16(s, 3, 0x18000);
  EXPECT_EQ(b[2], -1);
  EXPECT_EQ(s[2], -32768);
  std::vector<int16_t> f = {-5, 0, 3, -32768, 32767};
  Vocrel_RNR_vecFloorInt16(f.data(), 5, 0x10002);  // floor taken as int16: 2
  EXPECT_EQ(f, (std::vector<int16_t>{2, 2, 3, 2, 32767}));
  V32 c = {kMin32, 10, 11, kMax32};
  Vocrel_RNR_vecCeilInt32(c.data(), 4, 10);
  EXPECT_EQ(c, (V32{kMin32, 10, 10, 10}));
}

// One FNV-1a 64 digest over the outputs of every arithmetic routine on a
// fixed pseudo-random input set. The value is pinned: it must come out the
// same on x86-64 and on 32-bit ARM, and any change to a truncation, a
// saturation or a table shows up here.
using vocrel_test::SplitMix;

constexpr int32_t kN = 1024;  // even, as the vector logarithms require

uint64_t digest_all_routines() {
  SplitMix rng{0x5EED2026};
  vocrel_test::Fnv h;
  std::vector<int32_t> in(kN);
  std::vector<int32_t> out(kN);

  for (int32_t& x : in) x = rng.wide();
  in[0] = 0;
  in[1] = 1;
  in[2] = INT32_MAX;
  in[3] = INT32_MIN;
  for (const int32_t x : in) {
    h.add32(Vocrel_RNR_10xlog10(x));
    h.add32(Fnr_10xlog10(x));
    h.add32(Fnr_Log2(x));
    h.add32(Vocrel_RNR_fnExp10(x));
    h.add32(Vocrel_Fnr_fnExp10(x < 0 ? x : -x - 1));
    h.add32(Vocrel_RNR_cos(x));
    h.add32(Vocrel_RNR_cos(rng.range(-320000, 320000)));
  }
  Vocrel_RNR_vec_10xlog10(in.data(), kN, out.data());
  h.add_all(out);
  Vocrel_RNR_vec_log(in.data(), kN, out.data());
  h.add_all(out);
  std::vector<int32_t> small(kN);
  for (int32_t& x : small) x = rng.range(-40000, 12 * 32768);
  Vocrel_RNR_vec_powe(small.data(), kN, out.data());
  h.add_all(out);

  const int32_t sqrt_modes[4][2] = {{32768, 9}, {0, 1}, {0, 16}, {-100, -3}};
  for (const auto& m : sqrt_modes) {
    Vocrel_RNR_vec_sqrt32(in.data(), m[0], m[1], kN - 1, out.data());
    h.add_all(out);
    Vocrel_fnr_vec_sqrt32(in.data(), m[0], m[1], kN - 1, out.data());
    h.add_all(out);
  }
  for (int i = 0; i < kN; ++i) {
    const uint64_t r = rng.next();
    const auto x = static_cast<int64_t>(r >> (1 + (r & 63) % 63));
    h.add32(Vocrel_RNR_sqrt_i64(x));
    h.add32(Vocrel_RNR_sqrt_i64(-x));
    h.add32(Fnr_sqrt_i64_vec(x));
  }

  std::vector<int32_t> den(kN);
  for (int i = 0; i < kN; ++i) {
    den[i] = i % 61 == 0 ? 0 : rng.wide();
    const int32_t q = rng.range(-4, 40);
    h.add32(Vocrel_RNR_L_divide_Q(in[i], den[i], q));
    h.add32(Fnr_L_divide_Q(in[i], den[i], q));
  }
  std::vector<int16_t> out16(kN);
  Vocrel_RNR_vecvec2s_L_divide_Q(in.data(), den.data(), 15, kN - 1, out16.data());
  h.add_all(out16);
  for (const int32_t d : {1, -3, 0, 1000, INT32_MIN}) {
    for (const int32_t q : {0, 15, 31, 33}) {
      Vocrel_RNR_vecscl2i_L_divide_Q(in.data(), d, q, kN - 1, out.data());
      h.add_all(out);
    }
  }

  // Vector primitives over random spans.
  std::vector<int16_t> s16(kN);
  for (int16_t& x : s16) x = static_cast<int16_t>(rng.wide() >> 16);
  for (int t = 0; t < 64; ++t) {
    const int32_t n = rng.range(0, kN - 65);  // spans start at t < 64
    h.add32(Vocrel_RNR_vecSum32Int16(s16.data(), n));
    h.add32(Vocrel_RNR_vecSum32Int32(in.data(), n));
    h.add64(Vocrel_RNR_vecSum64Int32(in.data(), n));
    h.add32(Vocrel_RNR_vecMeanInt32(in.data(), n + 1));
    int32_t m = 0;
    Vocrel_RNR_vecMinInt32(in.data() + t, n + 1, &m);
    h.add32(m);
    h.add32(Vocrel_RNR_VecMaxItemInt32(in.data(), t, t + n / 2, &m));
    h.add32(m);
    const int32_t a = rng.wide();
    const int32_t b = rng.wide();
    const int32_t c = rng.wide();
    const int32_t w = rng.range(0, 32767);
    h.add32(FnrSmoothTwoInt(a, b, w, 32767 - w));
    const int32_t wb = rng.wide();  // drawn one per statement: argument order is unspecified
    const int32_t wc = rng.wide();
    h.add32(FnrSmoothThreeInt(a, b, c, w, wb, wc));
    h.add32(FnrSmoothTwoShort(a, b, w, wb));
  }
  std::vector<int32_t> c32 = in;
  Vocrel_RNR_vecCopyInt32(c32.data(), kN - 7, c32.data() + 3);
  Vocrel_RNR_vecCeilInt32(c32.data(), kN, 1 << 20);
  h.add_all(c32);
  std::vector<int16_t> c16 = s16;
  FnrCopyShort(c16.data() + 1, c16.data(), kN - 9);
  Vocrel_RNR_vecFloorInt16(c16.data(), kN, -1000);
  h.add_all(c16);
  return h.h;
}

TEST(MathGolden, DigestOfEveryRoutineIsPinned) {
  EXPECT_EQ(digest_all_routines(), 0x24016DB12FE4E599ULL) << std::hex << digest_all_routines();
}

}  // namespace
