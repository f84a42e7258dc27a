// Every SIMD vector kernel built for this target writes the same words (and
// returns the same peak) as its portable twin: seeded random words mixed with
// INT32_MIN / INT32_MAX, Q15 values over the whole range with -32768 and
// 32767 (-32768 squared is the one doubling that clamps), every count from
// 0 to 37 (the tails past whole vectors), buffers one word off alignment.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "base/cpu_features.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"
#include "test_util.h"

namespace {

using vocrel::VecKernels;

struct Variant {
  const char* name;
  const VecKernels* table;
};

std::vector<Variant> built_variants() {
  std::vector<Variant> v;
  if (const VecKernels* t = vocrel::vec_kernels_neon()) v.push_back({"neon", t});
#if defined(__x86_64__)
  if (const VecKernels* t = vocrel::vec_kernels_avx2(); t != nullptr && vocrel::has_avx2()) {
    v.push_back({"avx2", t});
  }
  if (const VecKernels* t = vocrel::vec_kernels_sse41(); t != nullptr && vocrel::has_sse41()) {
    v.push_back({"sse41", t});
  }
#endif
  return v;
}

class MathKernels : public ::testing::TestWithParam<Variant> {};

// n words of type T: one in `oneIn` (none when 0) one of the edges, the others
// random (32-bit words shifted right by up to `shifts` - 1 bits when shifts is
// not 0).
template <typename T, std::size_t N>
std::vector<T> draws(vocrel_test::Lcg32& rng, std::size_t n, const T (&edges)[N], unsigned oneIn,
                     unsigned shifts = 0) {
  std::vector<T> v(n);
  for (auto& e : v) {
    if (oneIn != 0 && rng.next() % oneIn == 0) {
      e = edges[rng.next() % N];
    } else if constexpr (sizeof(T) == 2) {
      e = static_cast<T>(rng.next() >> 16);
    } else {
      e = static_cast<T>(static_cast<int32_t>(rng.next()) >> (shifts ? rng.next() % shifts : 0));
    }
  }
  return v;
}

TEST_P(MathKernels, GainPairsEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{7};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, -1, 0, 1};
  static constexpr int16_t kEdgeGains[] = {-32768, 32767, -1, 0, 1};
  for (int count = 0; count <= 37; ++count) {
    for (int round = 0; round < 8; ++round) {
      const auto words = draws(rng, 2 * count + 1, kEdgeWords, 4);
      const auto gains = draws(rng, count + 1, kEdgeGains, 4);
      std::vector<int32_t> a = words, b = words;
      GetParam().table->gain_pairs(a.data() + 1, gains.data() + 1, count);
      vocrel::vec_gain_pairs_c(b.data() + 1, gains.data() + 1, count);
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " round " << round;
    }
  }
}

TEST_P(MathKernels, WindowPairsEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{11};
  static constexpr int16_t kEdges[] = {-32768, 32767, -1, 0, 1};
  for (int count = 0; count <= 37; ++count) {
    for (int round = 0; round < 8; ++round) {
      auto x = draws(rng, count + 1, kEdges, 3), w = draws(rng, count + 1, kEdges, 3);
      if (round == 0) x.assign(x.size(), -32768), w.assign(w.size(), -32768);  // the clamp
      std::vector<int32_t> a(static_cast<std::size_t>(2 * count + 1), 0x5A5A5A5A), b = a;
      const int32_t pa =
          GetParam().table->window_pairs(x.data() + 1, w.data() + 1, count, a.data() + 1);
      const int32_t pb =
          vocrel::vec_window_pairs_c(x.data() + 1, w.data() + 1, count, b.data() + 1);
      ASSERT_EQ(pa, pb) << GetParam().name << " count " << count << " round " << round;
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " round " << round;
    }
  }
}

TEST_P(MathKernels, WindowOlaEqualsThePortableTwin) {
  vocrel_test::Lcg32 rng{13};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, 32767, -32768, -1, 1};
  for (int count = 0; count <= 21; ++count) {
    for (const int32_t shift : {-40, -32, -31, -17, -1, 0, 1, 5, 16, 30, 31, 32, 40}) {
      const auto pairs = draws(rng, 4 * count + 1, kEdgeWords, 3, 24);
      const auto w = draws(rng, 2 * count + 1, {int16_t{-32768}}, 4);
      const auto tail = draws(rng, w.size(), {int16_t{0}}, 0);
      std::vector<int16_t> out_a(w.size()), out_b(w.size()), tail_a = tail, tail_b = tail;
      GetParam().table->window_ola(pairs.data() + 1, w.data() + 1, count, shift, out_a.data() + 1,
                                   tail_a.data() + 1);
      vocrel::vec_window_ola_c(pairs.data() + 1, w.data() + 1, count, shift, out_b.data() + 1,
                               tail_b.data() + 1);
      ASSERT_EQ(out_a, out_b) << GetParam().name << " count " << count << " shift " << shift;
      ASSERT_EQ(tail_a, tail_b) << GetParam().name << " count " << count << " shift " << shift;
    }
  }
}

TEST_P(MathKernels, MagnitudeBitsAndShiftsEqualThePortableTwins) {
  vocrel_test::Lcg32 rng{17};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, -1, 0, 1};
  for (int count = 0; count <= 37; ++count) {
    const auto words = draws(rng, count + 1, kEdgeWords, 3, 31);
    ASSERT_EQ(GetParam().table->magnitude_bits(words.data() + 1, count),
              vocrel::vec_magnitude_bits_c(words.data() + 1, count))
        << GetParam().name << " count " << count;
    for (const int32_t s : {-32, -31, -7, -1, 0, 1, 9, 31, 32}) {
      std::vector<int32_t> a = words, b = words;
      GetParam().table->shift_words(a.data() + 1, count, s);
      vocrel::vec_shift_words_c(b.data() + 1, count, s);
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " shift " << s;
    }
  }
}

// Words of every width 0..63 with the edges of each width, negatives and
// INT64_MIN, through the seed table (both families read the one copy).
TEST_P(MathKernels, RootsEqualThePortableTwin) {
  vocrel_test::SplitMix rng{0x5EED};
  for (const auto* seeds : {vocrel::sqrt_seed_rows(iFnrSqrtTab)}) {
    for (int count = 0; count <= 37; ++count) {
      for (int round = 0; round < 24; ++round) {
        std::vector<int64_t> x(static_cast<std::size_t>(count + 1));
        for (auto& v : x) {
          const int bits = static_cast<int>(rng.next() % 64);
          const uint64_t top = bits == 0 ? 0 : (~0ull >> (64 - bits));
          v = static_cast<int64_t>(rng.next() % 4 == 0 ? top - rng.next() % 3 : rng.next() & top);
          if (rng.next() % 16 == 0) v = rng.next() % 2 == 0 ? INT64_MIN : -v;
        }
        std::vector<int32_t> a(x.size(), 0x5A5A5A5A), b = a;
        GetParam().table->roots_i64(x.data() + 1, count, seeds, a.data() + 1);
        vocrel::vec_roots_i64_c(x.data() + 1, count, seeds, b.data() + 1);
        ASSERT_EQ(a, b) << GetParam().name << " count " << count << " round " << round;
      }
    }
  }
}

// Words of every width with the edges of each width, zero and negatives,
// every offset and shift form (right past 31, saturating left), in place;
// the logarithm over the same words.
TEST_P(MathKernels, TableRootsAndLogEqualThePortableTwins) {
  vocrel_test::Lcg32 rng{19};
  static constexpr int32_t kModes[][2] = {{32768, 9}, {0, 1},  {0, 16},         {-100, -3},
                                          {0, 0},     {7, 40}, {INT32_MAX, -1}, {INT32_MIN, -31},
                                          {-5, -40},  {1, 32}};
  for (const int16_t* table : {vocrel_fnr_sqrt_table.data()}) {
    for (int count = 0; count <= 37; ++count) {
      std::vector<int32_t> x(static_cast<std::size_t>(count + 1));
      for (auto& v : x) {
        const int32_t top = static_cast<int32_t>(0x7FFFFFFFu >> (rng.next() % 32));
        v = rng.next() % 4 == 0 ? top - static_cast<int32_t>(rng.next() % 3)
                                : static_cast<int32_t>(rng.next()) & top;
        if (rng.next() % 8 == 0) v = rng.next() % 2 == 0 ? INT32_MIN : -v;
      }
      for (const auto& m : kModes) {
        std::vector<int32_t> a = x, b = x;
        GetParam().table->roots_q16(a.data() + 1, m[0], m[1], count, table, a.data() + 1);
        vocrel::vec_roots_q16_c(b.data() + 1, m[0], m[1], count, table, b.data() + 1);
        ASSERT_EQ(a, b) << GetParam().name << " count " << count << " mode " << m[0] << "," << m[1];
      }
#if VOCREL_MODE1
      std::vector<int32_t> a = x, b = x;  // the logarithm over the same words
      GetParam().table->ln_q15(a.data() + 1, count, a.data() + 1);
      vocrel::vec_ln_q15_c(b.data() + 1, count, b.data() + 1);
      ASSERT_EQ(a, b) << GetParam().name << " ln, count " << count;
#endif
    }
  }
}

// Pairs with the extreme words through every shift form (saturating left
// past the limits, right past 31).
TEST_P(MathKernels, BinPowersEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{23};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, -1, 0, 1};
  for (int count = 0; count <= 21; ++count) {
    const auto pairs = draws(rng, 2 * count + 1, kEdgeWords, 3, 31);
    for (const int32_t s : {-40, -32, -31, -9, -1, 0, 1, 7, 30, 31, 32, 40}) {
      std::vector<int64_t> a(static_cast<std::size_t>(count + 1), 0x5A5A), b = a;
      GetParam().table->bin_powers(pairs.data() + 1, s, count, a.data() + 1);
      vocrel::vec_bin_powers_c(pairs.data() + 1, s, count, b.data() + 1);
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " shift " << s;
    }
  }
}

// Quotients of words of every size (random magnitudes, the extremes, 0 and
// -1 on either side) through every form of the final shift: right past 31,
// saturating left, and counts whose low 16 bits alone decide. The twin is
// the scalar division word by word; the variants may write over num.
TEST_P(MathKernels, DivisionEqualsThePortableTwin) {
  vocrel_test::Lcg32 rng{29};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, 1 << 30, -(1 << 30), -1, 0, 1};
  for (int count = 0; count <= 37; ++count) {
    const auto num = draws(rng, count + 1, kEdgeWords, 3, 32);
    const auto den = draws(rng, count + 1, kEdgeWords, 3, 32);
    for (const int32_t q : {-70, -1, 0, 6, 8, 15, 31, 45, 65536 + 8, INT32_MIN, INT32_MAX}) {
      std::vector<int32_t> a = num, b(num.size(), 0x5A5A);
      GetParam().table->divide_q(a.data() + 1, den.data() + 1, q, count, iFnr_tab_invQ30.data(),
                                 a.data() + 1);
      vocrel::vec_divide_q_c(num.data() + 1, den.data() + 1, q, count, iFnr_tab_invQ30.data(),
                             b.data() + 1);
      b[0] = num[0];
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " q " << q;
    }
  }
}

// Powers of ten over the whole word range (the contract's negative words
// and the clamps of the doublings) with the stored fit and random 16-bit
// coefficients, the extremes included.
TEST_P(MathKernels, PowersOfTenEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{31};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, -(1 << 28), (1 << 28) - 1, -1, 0};
  for (int count = 0; count <= 37; ++count) {
    const auto x = draws(rng, count + 1, kEdgeWords, 4, 32);
    for (int round = 0; round < 4; ++round) {
      std::array<int16_t, 3> coef = vocrel_fnr_exp2Coef;
      if (round == 1) coef = {-32768, -32768, -32768};
      if (round == 2) coef = {32767, -32768, 32767};
      if (round == 3) {
        for (auto& c : coef) c = static_cast<int16_t>(rng.next() >> 16);
      }
      std::vector<int32_t> a = x, b(x.size(), 0x5A5A);
      GetParam().table->exp10_q31(a.data() + 1, count, coef.data(), a.data() + 1);
      vocrel::vec_exp10_q31_c(x.data() + 1, count, coef.data(), b.data() + 1);
      b[0] = x[0];
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " round " << round;
    }
  }
}

#if VOCREL_MODE1  // the kernels only the environment-noise path runs
// The environment-noise spectrum: powers of pairs with the extreme words
// (two -2^31 words give the one sum that clamps), their rounding shifts to
// 32 bits over every shift form (the powers' own and others), the
// magnitudes' saturating shift and smoothing (Q15 weights 0 and 32767 among
// them), and the gains with the conjugate mirror (gain -32768 on -2^31
// clamps, as does the negated -2^31), at every count and half length.
TEST_P(MathKernels, SpectrumKernelsEqualThePortableTwins) {
  vocrel_test::Lcg32 rng{31};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, -1, 0, 1};
  static constexpr int16_t kEdgeGains[] = {-32768, 32767, -1, 0, 1};
  const auto& t = *GetParam().table;
  for (int count = 0; count <= 37; ++count) {
    const auto n = static_cast<std::size_t>(count + 1);
    const auto pairs = draws(rng, 2 * n + 1, kEdgeWords, 3, 31);
    std::vector<int64_t> pa(n, 0x5A5A), pb = pa;
    ASSERT_EQ(t.pair_powers(pairs.data() + 1, count, pa.data() + 1),
              vocrel::vec_pair_powers_c(pairs.data() + 1, count, pb.data() + 1))
        << GetParam().name << " count " << count;
    ASSERT_EQ(pa, pb) << GetParam().name << " powers, count " << count;
    for (const int32_t s : {-63, -30, -1, 0, 1, 2, 17, 33, 34, 63}) {
      std::vector<int32_t> a(n, 0x5A5A), b = a;
      t.power_words(pa.data() + 1, count, s, a.data() + 1);
      vocrel::vec_power_words_c(pa.data() + 1, count, s, b.data() + 1);
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " shift " << s;
    }
    const auto mag = draws(rng, n, kEdgeWords, 3, 31), prev = draws(rng, n, kEdgeWords, 3, 31);
    for (const int32_t s : {-40, -32, -9, -1, 0, 1, 7, 31, 40}) {
      for (const int32_t w : {0, 19661, 32767}) {
        for (const bool smooth : {false, true}) {
          std::vector<int32_t> ma = mag, mb = mag, qa = prev, qb = prev;
          t.smooth_magnitudes(ma.data() + 1, qa.data() + 1, count, s, w, smooth);
          vocrel::vec_smooth_magnitudes_c(mb.data() + 1, qb.data() + 1, count, s, w, smooth);
          ASSERT_EQ(ma, mb) << GetParam().name << " count " << count << " shift " << s;
          ASSERT_EQ(qa, qb) << GetParam().name << " count " << count << " shift " << s;
        }
      }
    }
    const int half = count;  // pairs 0..2 half - 1
    const auto spec = draws(rng, 4 * half + 3, kEdgeWords, 3, 31);
    const auto gains = draws(rng, n + 1, kEdgeGains, 4);
    std::vector<int32_t> a = spec, b = spec;
    t.gain_mirror(a.data() + 1, gains.data() + 1, half);
    vocrel::vec_gain_mirror_c(b.data() + 1, gains.data() + 1, half);
    ASSERT_EQ(a, b) << GetParam().name << " half " << half;
  }
}

// Words over a divisor through its reciprocal: every shift form (left past
// 63, right within and past one word, the limits +-64) with the extreme
// factors (-2^31 on -2^31 is the doubling that clamps), in place; and the
// 16-bit floor at its extremes.
TEST_P(MathKernels, ScaleAndFloorEqualThePortableTwins) {
  vocrel_test::Lcg32 rng{37};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, -1, 0, 1};
  const auto& t = *GetParam().table;
  for (int count = 0; count <= 37; ++count) {
    const auto x = draws(rng, count + 1, kEdgeWords, 3, 31);
    for (const int32_t f : {INT32_MIN, INT32_MAX, -1, 1, 1 << 20, -12345678}) {
      for (const int32_t s : {-64, -63, -40, -33, -32, -31, -17, -1, 0, 1, 31, 33, 63, 64}) {
        std::vector<int32_t> a = x, b(x.size(), 0x5A5A);
        t.scale_words(a.data() + 1, f, s, count, a.data() + 1);
        vocrel::vec_scale_words_c(x.data() + 1, f, s, count, b.data() + 1);
        b[0] = x[0];
        ASSERT_EQ(a, b) << GetParam().name << " count " << count << " f " << f << " s " << s;
      }
    }
    const auto w = draws(rng, count + 1, {int16_t{0}}, 0);
    for (const int16_t floor : {INT16_MIN, -1, 0, 328, INT16_MAX}) {
      std::vector<int16_t> a = w, b = w;
      t.floor_words16(a.data() + 1, count, floor);
      vocrel::vec_floor_words16_c(b.data() + 1, count, floor);
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " floor " << floor;
    }
  }
}
#endif

// Gain smoothing over 16-bit words with the extremes (-32768 in every
// product, 32767 - coef past 16 bits), first frame or not, the weights of
// the gain rule and random ones.
TEST_P(MathKernels, FollowGainsEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{37};
  static constexpr int16_t kEdges[] = {-32768, 32767, -1, 0, 1, 328, 32440};
  for (int count = 0; count <= 37; ++count) {
    for (int round = 0; round < 8; ++round) {
      const auto s = draws(rng, count + 1, kEdges, 3), target = draws(rng, count + 1, kEdges, 3);
      const auto coef = draws(rng, count + 1, kEdges, 3), gain = draws(rng, count + 1, kEdges, 3);
      const bool first = round % 4 == 0;
      const int16_t rise = round < 4 ? int16_t{10813} : draws(rng, 1, kEdges, 3)[0];
      const int16_t keep = round < 4 ? int16_t{21954} : draws(rng, 1, kEdges, 3)[0];
      std::vector<int16_t> ca = coef, ga = gain, cb = coef, gb = gain;
      GetParam().table->follow_gains(s.data() + 1, target.data() + 1, count, first, rise, keep,
                                     ca.data() + 1, ga.data() + 1);
      vocrel::vec_follow_gains_c(s.data() + 1, target.data() + 1, count, first, rise, keep,
                                 cb.data() + 1, gb.data() + 1);
      ASSERT_EQ(ca, cb) << GetParam().name << " count " << count << " round " << round;
      ASSERT_EQ(ga, gb) << GetParam().name << " count " << count << " round " << round;
    }
  }
}

// Weighted sums of words over the whole range with 16-bit weights, the
// extremes included, and with out over the first input.
TEST_P(MathKernels, MixedWordsEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{41};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, -1, 0, 1};
  static constexpr int16_t kEdgeWeights[] = {-32768, 32767, 0, 22937, 9830};
  for (int count = 0; count <= 37; ++count) {
    const auto a = draws(rng, count + 1, kEdgeWords, 4), b = draws(rng, count + 1, kEdgeWords, 4),
               c = draws(rng, count + 1, kEdgeWords, 4);
    for (int round = 0; round < 4; ++round) {
      int16_t w[3];
      for (auto& e : w) {
        e = round == 0 ? kEdgeWeights[rng.next() % 5] : static_cast<int16_t>(rng.next() >> 16);
      }
      std::vector<int32_t> x = a, y(a.size(), 0x5A5A);
      GetParam().table->mix_words(x.data() + 1, b.data() + 1, c.data() + 1, w[0], w[1], w[2], count,
                                  x.data() + 1);
      vocrel::vec_mix_words_c(a.data() + 1, b.data() + 1, c.data() + 1, w[0], w[1], w[2], count,
                              y.data() + 1);
      y[0] = a[0];
      ASSERT_EQ(x, y) << GetParam().name << " count " << count << " round " << round;
    }
  }
}

// Extreme followers over the whole word range (saturating gaps and sums),
// with the frame VAD's rise and floor and random ones.
TEST_P(MathKernels, ExtremeFollowersEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{43};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, -1, 0, 1, 50};
  for (int count = 0; count <= 37; ++count) {
    for (int round = 0; round < 6; ++round) {
      const auto x = draws(rng, count + 1, kEdgeWords, 3, 32);
      const auto mn = draws(rng, count + 1, kEdgeWords, 3, 32),
                 pk = draws(rng, count + 1, kEdgeWords, 3, 32);
      const auto rise = round < 3 ? int16_t{197} : static_cast<int16_t>(rng.next() >> 16);
      const int32_t floor = round < 3 ? 50 : draws(rng, 1, kEdgeWords, 3, 32)[0];
      std::vector<int32_t> ma = mn, pa = pk, mb = mn, pb = pk;
      GetParam().table->follow_extremes(x.data() + 1, count, rise, floor, ma.data() + 1,
                                        pa.data() + 1);
      vocrel::vec_follow_extremes_c(x.data() + 1, count, rise, floor, mb.data() + 1, pb.data() + 1);
      ASSERT_EQ(ma, mb) << GetParam().name << " count " << count << " round " << round;
      ASSERT_EQ(pa, pb) << GetParam().name << " count " << count << " round " << round;
    }
  }
}

// Conjugate mirrors of every even length to 80 pairs (the tails past whole
// vectors), the extremes among the words.
TEST_P(MathKernels, ConjugateMirrorsEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{47};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, -1, 0, 1};
  for (int n = 0; n <= 80; n += 2) {
    const auto pairs = draws(rng, 2 * n + 1, kEdgeWords, 4);
    std::vector<int32_t> a = pairs, b = pairs;
    GetParam().table->mirror_conjugates(a.data() + 1, n);
    vocrel::vec_mirror_conjugates_c(b.data() + 1, n);
    ASSERT_EQ(a, b) << GetParam().name << " n " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Built, MathKernels, ::testing::ValuesIn(built_variants()),
                         [](const auto& info) { return std::string(info.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(MathKernels);

// The portable weighted sums are the smoothing forms with Q15 weights. (The
// portable division and 10^x run the scalar routines' own word step.)
TEST(MathKernelTwins, WeightedSumsAreTheSmoothingForm) {
  const int32_t p[] = {INT32_MAX, INT32_MIN, -77777, 123456789};
  const int32_t q[] = {INT32_MAX, INT32_MAX, 5, -987654321};
  int32_t out[4];
  vocrel::vec_mix_words_c(p, q, p, 19660, 6554, 0, 4, out);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], FnrSmoothTwoInt(p[i], q[i], 19660, 6554)) << i;
}

TEST(MathKernelChoice, SimdBuildsRunTheirTable) {
  const auto variants = built_variants();
  const VecKernels* chosen = &vocrel::vec_kernels();
  EXPECT_EQ(chosen, variants.empty() ? vocrel::vec_kernels_c() : variants.front().table);
}

#if VOCREL_MODE1
// The tables both families read are one copy under two names.
TEST(MathTables, BothFamiliesShareOneCopy) {
  EXPECT_EQ(&vocrel_rnr_sqrt_32_tab, &iFnrSqrtTab);
  EXPECT_EQ(&vocrel_rnr_sqrt_table, &vocrel_fnr_sqrt_table);
  EXPECT_EQ(&vocrel_rnr_tab_invQ30, &iFnr_tab_invQ30);
  EXPECT_EQ(&vocrel_rnr_log2Table, &sFnrlog2Table);
  EXPECT_EQ(&vocrel_rnr_exp2Coef, &vocrel_fnr_exp2Coef);
}
#endif

}  // namespace
