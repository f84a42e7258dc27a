// Complex engine: exactness on impulses, accuracy of every stage plan against
// a double-precision DFT, round trips, wrapping, and refusal of bad records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fft/vocrel_fft.h"
#include "fft_test_util.h"

namespace {

using fft_test::dft;
using fft_test::random_frame;
using fft_test::SetupMem;
using fft_test::snr_db;

std::vector<int32_t> forward(SetupMem& s, const std::vector<int32_t>& x, int32_t scale) {
  std::vector<int32_t> out(x.size(), 0x5A5A5A5A);
  Vocrel_FFTFwd_C_SC32(x.data(), out.data(), s.spec(), scale);
  return out;
}

std::vector<int32_t> inverse(SetupMem& s, const std::vector<int32_t>& x, int32_t scale) {
  std::vector<int32_t> out(x.size(), 0x5A5A5A5A);
  Vocrel_FFTInv_C_SC32(x.data(), out.data(), s.spec(), scale);
  return out;
}

// SNR floor (dB) for inputs uniform in +-2^(30 - order), divided by
// 2^halvings. Fully halved plans keep 30 - order/2 - halvings bits above a
// noise of about one LSB; the floor sits one bit below that. Unhalved stages
// are limited by the twiddle roundings, about 5.5 dB per level, and each
// halving ahead of them costs one bit more.
double snr_floor(int order, int halvings) {
  if (halvings >= order) return 6.02 * (30.0 - order / 2.0 - halvings) - 1.76 - 6.02;
  return 175.0 - 5.5 * order - (halvings == 0 ? 0.0 : 6.02 * (halvings + 1));
}

TEST(FftEngine, UnitImpulseGivesOnesInEveryBin) {
  for (int order = 0; order <= 12; ++order) {
    SetupMem s(order);
    std::vector<int32_t> x(static_cast<std::size_t>(2 << order), 0);
    x[0] = 1;
    const std::vector<int32_t> y = forward(s, x, 0);
    for (std::size_t k = 0; k < y.size(); k += 2) {
      ASSERT_EQ(y[k], 1) << "order " << order << " bin " << k / 2;
      ASSERT_EQ(y[k + 1], 0) << "order " << order << " bin " << k / 2;
    }
  }
}

// Scales chosen so that every plan shape runs: unscaled radix 8/4, halving
// radix-2 stages followed by unhalved radix-4 (even remainder) or radix-2 (odd
// remainder) stages, full halving, and full halving plus a rounding shift.
// Inputs leave one bit more than the growth of the transform as headroom.
TEST(FftEngine, EveryPlanMatchesTheDftForward) {
  for (int order = 1; order <= 12; ++order) {
    const int n = 1 << order;
    SetupMem s(order, 8);
    const auto x = random_frame(0x1234u + static_cast<uint32_t>(order), n, (1 << (30 - order)) - 1);
    const auto ref = dft(x, n, -1);
    for (const int scale : {0, 1, 2, order, order + 2}) {
      const double snr = snr_db(ref, 1.0 / (1 << scale), forward(s, x, scale));
      EXPECT_GT(snr, snr_floor(order, scale)) << "order " << order << " scale " << scale;
    }
  }
}

TEST(FftEngine, EveryPlanMatchesTheDftInverse) {
  for (int order = 1; order <= 12; ++order) {
    const int n = 1 << order;
    SetupMem s(order, 4);
    const auto x = random_frame(0x8765u + static_cast<uint32_t>(order), n, (1 << (30 - order)) - 1);
    const auto ref = dft(x, n, +1);
    const int first = order <= 3 ? 0 : -order;  // small sizes halve at every stage
    for (const int scale : {first, -order + 1, -order + 2, 0, 2}) {
      if (scale < first) continue;
      const int budget = order <= 3 ? std::max(scale, 0) + order : scale + order;
      const double snr = snr_db(ref, 1.0 / (1 << budget), inverse(s, x, scale));
      EXPECT_GT(snr, snr_floor(order, budget)) << "order " << order << " scale " << scale;
    }
  }
}

TEST(FftEngine, ForwardThenNormalisedInverseReturnsTheInput) {
  for (const int order : {4, 5, 8, 9, 10, 12}) {
    const int n = 1 << order;
    SetupMem s(order);
    const auto x = random_frame(77u + static_cast<uint32_t>(order), n, (1 << (30 - order)) - 1);
    const auto back = inverse(s, forward(s, x, 0), 0);
    int32_t worst = 0;
    for (std::size_t i = 0; i < x.size(); ++i) worst = std::max(worst, std::abs(back[i] - x[i]));
    // Truncating halvings lose under one LSB each, twiddle rounding a little more.
    EXPECT_LE(worst, order + 2) << "order " << order;
  }
}

// Without headroom the butterflies wrap: -2^31 at t = 0 and t = N/2 meet in
// the first stage as -2^32, which wraps to 0, so every bin is 0. Saturating
// arithmetic would leave -2^31 in the even bins.
TEST(FftEngine, MinimumValueWithoutHeadroomWraps) {
  for (const int order : {2, 3, 8, 9, 10}) {
    const int n = 1 << order;
    SetupMem s(order);
    std::vector<int32_t> x(static_cast<std::size_t>(2 * n), 0);
    x[0] = INT32_MIN;
    x[static_cast<std::size_t>(n)] = INT32_MIN;  // t = N/2, real part
    const auto y = forward(s, x, 0);
    for (std::size_t i = 0; i < y.size(); ++i) ASSERT_EQ(y[i], 0) << "order " << order << " " << i;
  }
}

TEST(FftEngine, OnePointIsACopyWithRoundingShift) {
  SetupMem s(0);
  const std::vector<int32_t> x = {-7, 6};
  EXPECT_EQ(forward(s, x, 0), x);
  EXPECT_EQ(forward(s, x, 2), (std::vector<int32_t>{-2, 2}));  // (x + 2) >> 2
  EXPECT_EQ(inverse(s, x, 1), (std::vector<int32_t>{-3, 3}));  // (x + 1) >> 1
}

// A record whose length is not a power of two up to 4096, or a scale out of
// range, is refused without writing dst (or reading past the set-up, which
// the sanitizer build would report).
TEST(FftEngine, RefusesBadRecordsAndScales) {
  SetupMem s(4);
  const auto x = random_frame(5u, 16, 1000);
  for (const int32_t bad_n : {0, -16, 3, 24, 8192, INT32_MIN}) {
    s.spec()->N = bad_n;
    const auto sentinel = std::vector<int32_t>(x.size(), 0x5A5A5A5A);
    EXPECT_EQ(forward(s, x, 0), sentinel) << bad_n;
    EXPECT_EQ(inverse(s, x, 0), sentinel) << bad_n;
  }
  s.spec()->N = 16;
  const auto sentinel = std::vector<int32_t>(x.size(), 0x5A5A5A5A);
  EXPECT_EQ(forward(s, x, -1), sentinel);
  EXPECT_EQ(inverse(s, x, -5), sentinel);
  EXPECT_NE(inverse(s, x, -4), sentinel);
  // A huge scale shifts everything to 0 rather than misbehaving.
  EXPECT_EQ(forward(s, x, INT32_MAX), std::vector<int32_t>(x.size(), 0));
  EXPECT_EQ(inverse(s, x, INT32_MAX), std::vector<int32_t>(x.size(), 0));
}

// Integer outputs of every plan shape at every order on pinned inputs (seeded
// LCG, no floating point), identical on every target: pins the rounding of
// the twiddle products, the halving truncations and the final shifts.
TEST(FftEngine, GoldenDigestOfEveryPlan) {
  fft_test::Fnv1a64 h;
  for (int order = 0; order <= 12; ++order) {
    SetupMem s(order);
    const auto x =
        random_frame(0xC0FFEEu + static_cast<uint32_t>(order), 1 << order, (1 << (30 - order)) - 1);
    for (const int scale : {0, 1, 2, order, order + 3}) {
      h.words(forward(s, x, scale));
      h.words(inverse(s, x, scale - order));
    }
  }
  EXPECT_EQ(h.h, 0x6022fa5fc04b0f5aull) << std::hex << h.h;
}

}  // namespace
