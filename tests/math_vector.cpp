// Vector primitives where a plausible implementation goes wrong: overlapping
// copies, lane order of saturating sums, ties, the floor mean, where the
// smoothing saturates, and fills and clamps that take the value's low bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "math/vocrel_math.h"

namespace {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
using V32 = std::vector<int32_t>;

TEST(MathVector, CopiesAreAscendingElementLoops) {
  // Every length around the 16-byte blocks, every small forward overlap: the
  // element loop replicates the first `lag` values; n <= 0 writes nothing.
  for (int32_t n = -1; n <= 19; ++n) {
    for (int32_t lag = 1; lag <= 9; ++lag) {
      V32 want(40), a32(40), b32(40);
      std::vector<int16_t> a16(40), b16(40);
      for (int i = 0; i < 40; ++i) want[i] = a32[i] = b32[i] = a16[i] = b16[i] = int16_t(100 + i);
      for (int32_t i = 0; i < n; ++i) want[3 + lag + i] = want[3 + i];
      Vocrel_RNR_vecCopyInt16(&a16[3], n, &a16[3 + lag]);
      Vocrel_RNR_vecCopyInt32(&a32[3], n, &a32[3 + lag]);
      FnrCopyShort(&b16[3 + lag], &b16[3], n);
      FnrCopyInt(&b32[3 + lag], &b32[3], n);
      ASSERT_EQ(a32, want) << n << " " << lag;
      ASSERT_EQ(b32, want) << n << " " << lag;
      ASSERT_EQ(V32(a16.begin(), a16.end()), want) << n << " " << lag;
      ASSERT_EQ(V32(b16.begin(), b16.end()), want) << n << " " << lag;
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

}  // namespace
