// Block exponents of the scaled transforms against the rule they implement:
// s = sat16(norm(M) - order) for the largest saturating magnitude M of the
// words the path inspects (all of them for the environment-noise family, the
// blocks of 16 from the end for the floor-noise one). The blocks mix signs,
// zeros, -2^31 and exact powers of two, where a peak search can slip by a bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fft/vocrel_fft.h"
#include "math/fixed.h"
#include "test_util.h"

namespace {

using namespace vocrel;

struct SetupMem {
  explicit SetupMem(int order) {
    int32_t size = 0;
    Vocrel_FFTGetBufSize_C_SC32(order, &size);
    bytes.assign(static_cast<std::size_t>(size), 0);
    Vocrel_FFTInit_C_SC32(bytes.data(), order);
  }
  Vocrel_FFTSpec_C_SC32* spec() { return reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(bytes.data()); }
  std::vector<std::uint8_t> bytes;
};

int32_t expected_shift(const std::vector<int32_t>& w, std::size_t first, int order) {
  int32_t m = 0;
  for (std::size_t i = first; i < w.size(); ++i) m = std::max(m, abs_sat32(w[i]));
  return sat16(norm32(m) - order);
}

// Words of one of several shapes: random widths, one extreme word, or zeros.
std::vector<int32_t> block(vocrel_test::SplitMix& rng, int n, int shape) {
  std::vector<int32_t> w(static_cast<std::size_t>(2 * n), 0);
  if (shape == 0) return w;
  for (auto& x : w) x = rng.wide() >> (shape % 8);
  const auto at = static_cast<std::size_t>(rng.next() % w.size());
  const int bit = static_cast<int>(rng.next() % 31);
  switch (shape % 4) {
    case 1:
      w[at] = kInt32Min;
      break;
    case 2:
      w[at] = -(int32_t{1} << bit);
      break;
    case 3:
      w[at] = int32_t{1} << bit;
      break;
    default:
      break;
  }
  return w;
}

TEST(BlockExponent, FollowsTheLargestSaturatingMagnitude) {
  vocrel_test::SplitMix rng{0xB10C};
  for (const int order : {4, 8, 9}) {
    const int n = 1 << order;
    SetupMem s(order);
    std::vector<int32_t> dst(static_cast<std::size_t>(2 * n));
    for (int shape = 0; shape < 64; ++shape) {
      std::vector<int32_t> w = block(rng, n, shape);
      const int32_t rnr = expected_shift(w, 0, order);
      ASSERT_EQ(Vocrel_RNR_IFFT(s.spec(), n, w.data(), dst.data()), rnr) << order << " " << shape;
      w = block(rng, n, shape);
      // The floor-noise blocks leave out the first 2n mod 16 words.
      const int32_t fnr = expected_shift(w, static_cast<std::size_t>(2 * n % 16), order);
      ASSERT_EQ(Vocrel_FNR_IFFT(n, w.data(), dst.data(), s.spec()), fnr) << order << " " << shape;
    }
  }
}

}  // namespace
