// Set-up memory: size query, record layout and the twiddle tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "fft/vocrel_fft.h"
#include "fft_test_util.h"

namespace {

using fft_test::SetupMem;

// round(2^31 v), half away from zero, clamped to the int32 range: the rule
// every twiddle value follows.
int32_t q31(long double v) {
  const long long r = std::llround(v * 2147483648.0L);
  return static_cast<int32_t>(r > 2147483647LL ? 2147483647LL : r);
}

TEST(FftSetup, SizeQueryFollowsTheLayoutRule) {
  const struct {
    int order;
    int32_t bytes;
  } cases[] = {{0, 16},
               {1, 78 + 8 * 3},
               {2, 78 + 8 * 7},
               {8, 3662},
               {9, 7246},
               {10, 14414},
               {12, 78 + 8 * (4096 + 3072)}};
  for (const auto& c : cases) {
    int32_t size = -1;
    EXPECT_EQ(Vocrel_FFTGetBufSize_C_SC32(c.order, &size), 0);
    EXPECT_EQ(size, c.bytes) << "order " << c.order;
  }
  int32_t size = -1;
  Vocrel_FFTGetBufSize_C_SC32(13, &size);
  EXPECT_EQ(size, 0) << "orders past the master table are not set up";
}

TEST(FftSetup, MasterTableFollowsItsRule) {
  EXPECT_EQ(Vocrel_FFT_S32TwiddleTable[0][0], INT32_MIN);
  EXPECT_EQ(Vocrel_FFT_S32TwiddleTable[0][1], 0);
  EXPECT_EQ(Vocrel_FFT_S32TwiddleTable[512][0], -1518500250);
  EXPECT_EQ(Vocrel_FFT_S32TwiddleTable[512][1], 1518500250);
  for (int k = 0; k <= 512; ++k) {
    const long double theta = 2.0L * 3.14159265358979323846264338327950288L * k / 4096.0L;
    // -round(2^31 cos) is exactly -2^31 at k = 0, so it is negated unclamped.
    EXPECT_EQ(Vocrel_FFT_S32TwiddleTable[k][0], -std::llround(std::cos(theta) * 2147483648.0L))
        << "k " << k;
    EXPECT_EQ(Vocrel_FFT_S32TwiddleTable[k][1], q31(std::sin(theta))) << "k " << k;
  }
}

// Layout, record fields and every twiddle of every order, for records at
// several alignments modulo 32; nothing may be written past the queried size.
TEST(FftSetup, RecordAndTwiddleArrayForEveryOrder) {
  for (int order = 1; order <= 12; ++order) {
    for (const int offset : {0, 4, 8, 12, 24}) {
      const int32_t size = SetupMem(order).size;
      std::vector<std::uint8_t> mem(static_cast<std::size_t>(offset + size + 64), 0xA5);
      std::uint8_t* base = mem.data() + offset;
      Vocrel_FFTInit_C_SC32(base, order);
      for (std::size_t i = static_cast<std::size_t>(offset + size); i < mem.size(); ++i) {
        ASSERT_EQ(mem[i], 0xA5) << "write past the set-up, order " << order;
      }
      for (int i = 0; i < offset; ++i) ASSERT_EQ(mem[static_cast<std::size_t>(i)], 0xA5);

      const auto* spec = reinterpret_cast<const Vocrel_FFTSpec_C_SC32*>(base);
      const int n = 1 << order;
      const int count = 3 * n / 4;
      ASSERT_EQ(spec->N, n);
      EXPECT_EQ(spec->reserved, 0);
      const auto addr = reinterpret_cast<std::uintptr_t>(base);
      EXPECT_EQ((addr + static_cast<std::uintptr_t>(spec->pTwiddle)) % 32, 0u);
      EXPECT_EQ((addr + static_cast<std::uintptr_t>(spec->pBuf)) % 32, 0u);
      EXPECT_GE(spec->pTwiddle, 16);
      EXPECT_LT(spec->pTwiddle, 16 + 32);
      EXPECT_GE(spec->pBuf, spec->pTwiddle + 8 * count);
      EXPECT_LT(spec->pBuf, spec->pTwiddle + 8 * count + 32);
      EXPECT_LE(spec->pBuf + 8 * n, size);

      const auto* tw = reinterpret_cast<const int32_t*>(base + spec->pTwiddle);
      for (int j = 0; j < count; ++j) {
        const long double phi = 2.0L * 3.14159265358979323846264338327950288L * j / n;
        const int32_t re = j == 0 ? INT32_MIN : q31(-std::cos(phi));
        ASSERT_EQ(tw[2 * j], re) << "order " << order << " j " << j;
        ASSERT_EQ(tw[2 * j + 1], q31(std::sin(phi))) << "order " << order << " j " << j;
      }
      if (n >= 4) {
        EXPECT_EQ(tw[2 * (n / 4) + 1], 2147483647);  // +1.0 stored as 2^31 - 1
        EXPECT_EQ(tw[2 * (n / 2)], 2147483647);
      }
    }
  }
}

TEST(FftSetup, SmallSetups) {
  SetupMem four(2);
  const auto* tw = reinterpret_cast<const int32_t*>(four.bytes.data() + four.spec()->pTwiddle);
  const int32_t expected[] = {INT32_MIN, 0, 0, 2147483647, 2147483647, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(tw[i], expected[i]);

  // Order 0 is the length word alone.
  std::uint8_t one[16];
  std::fill(std::begin(one), std::end(one), 0xA5);
  Vocrel_FFTInit_C_SC32(one, 0);
  int32_t n = 0;
  std::memcpy(&n, one, 4);
  EXPECT_EQ(n, 1);
  for (int i = 4; i < 16; ++i) EXPECT_EQ(one[i], 0xA5);
}

}  // namespace
