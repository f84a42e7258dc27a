// Vector primitives: the cases where a plausible implementation goes wrong:
// overlapping copies, lane order of saturating sums, tie-breaking, the floor
// mean, and where the smoothing saturates.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "math/vocrel_math.h"

namespace {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();

TEST(MathVector, CopiesAreAscendingElementLoops) {
  // Every length around the 16-byte blocks, every small forward overlap.
  for (int32_t n = 0; n <= 19; ++n) {
    for (int32_t lag = 1; lag <= 9; ++lag) {
      std::vector<int32_t> want(40), a32(40), b32(40);
      std::vector<int16_t> a16(40), b16(40);
      for (int i = 0; i < 40; ++i) want[i] = a32[i] = b32[i] = a16[i] = b16[i] = int16_t(100 + i);
      for (int32_t i = 0; i < n; ++i) want[3 + lag + i] = want[3 + i];
      Vocrel_RNR_vecCopyInt16(&a16[3], n, &a16[3 + lag]);
      Vocrel_RNR_vecCopyInt32(&a32[3], n, &a32[3 + lag]);
      FnrCopyShort(&b16[3 + lag], &b16[3], n);
      FnrCopyInt(&b32[3 + lag], &b32[3], n);
      ASSERT_EQ(a32, want) << n << " " << lag;
      ASSERT_EQ(b32, want) << n << " " << lag;
      ASSERT_EQ(std::vector<int32_t>(a16.begin(), a16.end()), want) << n << " " << lag;
      ASSERT_EQ(std::vector<int32_t>(b16.begin(), b16.end()), want) << n << " " << lag;
    }
  }
  // A backward overlap is a plain shift; non-positive counts write nothing.
  int16_t w[5] = {1, 2, 3, 4, 5};
  FnrCopyShort(w, w + 1, 4);
  Vocrel_RNR_vecCopyInt16(w + 1, -3, w);
  EXPECT_EQ(std::vector<int16_t>(w, w + 5), (std::vector<int16_t>{2, 3, 4, 5, 5}));
}

TEST(MathVector, FillsAndClampsUseTheLowBits) {
  int8_t b[19];
  int16_t s[19];
  int32_t l[19];
  Vocrel_RNR_vecSetInt8(b, 19, 0x1FF);
  Vocrel_RNR_vecSetINT16(s, 19, 0x18000);
  Vocrel_RNR_vecSetINT32(l, 19, kMin32);
  Vocrel_RNR_vecSetINT16(s, 0, 1);
  EXPECT_EQ(std::vector<int8_t>(b, b + 19), std::vector<int8_t>(19, -1));
  EXPECT_EQ(std::vector<int16_t>(s, s + 19), std::vector<int16_t>(19, -32768));
  EXPECT_EQ(std::vector<int32_t>(l, l + 19), std::vector<int32_t>(19, kMin32));

  std::vector<int16_t> f = {-5, 0, 3, -32768, 32767, 2, 1};
  const std::vector<int16_t> f_want = {2, 2, 3, 2, 32767, 2, 2};
  Vocrel_RNR_vecFloorInt16(f.data(), 7, 0x10002);  // floor taken as int16: 2
  EXPECT_EQ(f, f_want);
  Vocrel_RNR_vecFloorInt16(f.data(), 7, 0xFFFF8000);  // -32768 changes nothing
  EXPECT_EQ(f, f_want);
  std::vector<int32_t> c = {kMin32, 10, 11, kMax32, 9};
  Vocrel_RNR_vecCeilInt32(c.data(), 5, 10);
  EXPECT_EQ(c, (std::vector<int32_t>{kMin32, 10, 10, 10, 9}));
}

TEST(MathVector, MinimumAndArgMax) {
  const int32_t v[8] = {4, -2, 9, 9, kMin32, 9, 0, -2};
  int32_t m = 0;
  Vocrel_RNR_vecMinInt32(v, 8, &m);
  EXPECT_EQ(m, kMin32);
  Vocrel_RNR_vecMinInt32(v, 0, &m);  // in[0] is the starting value regardless
  EXPECT_EQ(m, 4);

  EXPECT_EQ(Vocrel_RNR_VecMaxItemInt32(v, 0, 7, &m), 2);  // ties keep the lowest index
  EXPECT_EQ(m, 9);
  EXPECT_EQ(Vocrel_RNR_VecMaxItemInt32(v, 3, 7, &m), 3);
  EXPECT_EQ(Vocrel_RNR_VecMaxItemInt32(v, 4, 4, &m), 4);
  EXPECT_EQ(m, kMin32);
  const int32_t flat[4] = {-7, -7, -7, -7};
  EXPECT_EQ(Vocrel_RNR_VecMaxItemInt32(flat, 1, 3, &m), 1);
  EXPECT_EQ(m, -7);

  // The index comes back as a sign-extended 16-bit value.
  std::vector<int32_t> big(40000, 0);
  big[33000] = 1;
  EXPECT_EQ(Vocrel_RNR_VecMaxItemInt32(big.data(), 0, 39999, &m), 33000 - 65536);
  EXPECT_EQ(m, 1);
}

TEST(MathVector, SaturatingSumsFollowTheirLaneOrder) {
  // Two lanes: even saturates at 2^31 - 1, odd is -1; ascending order would
  // give 2147483645.
  const int32_t a[4] = {kMax32, 1, 1, -2};
  EXPECT_EQ(Vocrel_RNR_vecSum32Int32(a, 4), 2147483646);
  // An odd last element joins the even lane.
  const int32_t b[3] = {kMax32, -5, 10};
  EXPECT_EQ(Vocrel_RNR_vecSum32Int32(b, 3), kMax32 - 5);
  EXPECT_EQ(Vocrel_RNR_vecSum32Int32(b, 0), 0);
  EXPECT_EQ(Vocrel_RNR_vecSum64Int32(a, 4), int64_t{kMax32} - 0);
  const int32_t lows[5] = {kMin32, kMin32, kMin32, kMin32, kMin32};
  EXPECT_EQ(Vocrel_RNR_vecSum64Int32(lows, 5), int64_t{kMin32} * 5);

  // Four int16 lanes: lanes 0 and 1 saturate high, lanes 2 and 3 low, so the
  // pairwise combination gives -1, then the tail adds 3. An ascending sum
  // would never saturate.
  constexpr int32_t kGroups = 65540;
  std::vector<int16_t> s(4 * kGroups + 3);
  for (int32_t g = 0; g < kGroups; ++g) {
    s[4 * g] = 32767;
    s[4 * g + 1] = 32767;
    s[4 * g + 2] = -32768;
    s[4 * g + 3] = -32768;
  }
  s[4 * kGroups] = 1;
  s[4 * kGroups + 1] = 1;
  s[4 * kGroups + 2] = 1;
  EXPECT_EQ(Vocrel_RNR_vecSum32Int16(s.data(), static_cast<int32_t>(s.size())), 2);
  const int16_t t[7] = {-1, 2, -3, 4, -5, 6, 32767};
  EXPECT_EQ(Vocrel_RNR_vecSum32Int16(t, 7), 32770);
  EXPECT_EQ(Vocrel_RNR_vecSum32Int16(t, 3), -2);
}

TEST(MathVector, MeanShiftsByFloorLog2OfCount) {
  int32_t v[48];
  for (int32_t& x : v) x = -1;
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v, 32), -1);  // floor, not 0
  for (int i = 0; i < 48; ++i) v[i] = i;
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v, 32), 496 / 32);
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v, 48), 1128 / 32);  // largest power of two <= n
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v, 1), 0);
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v + 5, 1), 5);
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v, 0), 0);
  // The 64-bit sum does not saturate; the mean does.
  for (int32_t& x : v) x = kMax32;
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v, 32), kMax32);
  EXPECT_EQ(Vocrel_RNR_vecMeanInt32(v, 3), kMax32);  // 3 * (2^31 - 1) / 2
}

TEST(MathVector, SmoothingWeightsAndSaturation) {
  // (a wa + b wb) >> 15, truncated toward minus infinity.
  EXPECT_EQ(FnrSmoothTwoInt(1000000, 2000000, 26214, 6553),
            (1000000LL * 26214 + 2000000LL * 6553) >> 15);
  EXPECT_EQ(FnrSmoothTwoInt(-1, 0, 1, 0), -1);
  EXPECT_EQ(FnrSmoothTwoInt(kMax32, kMax32, 32767, 32767),
            static_cast<int32_t>((int64_t{kMax32} * 65534) >> 15));
  // Only -2^31 * -2^31 saturates the doubled product.
  EXPECT_EQ(FnrSmoothTwoInt(kMin32, 0, kMin32, 0), -1);
  EXPECT_EQ(FnrSmoothThreeInt(300, 600, 900, 19660, 6554, 6554),
            (300LL * 19660 + 600LL * 6554 + 900LL * 6554) >> 15);
  // Two saturated products: the 64-bit sum clamps before the third is added.
  EXPECT_EQ(
      FnrSmoothThreeInt(kMin32, kMin32, -1, kMin32, kMin32, 1),
      static_cast<int32_t>(static_cast<uint32_t>((std::numeric_limits<int64_t>::max() - 2) >> 16)));

  // Short form: operands are the low 16 bits; the 32-bit sum saturates first.
  EXPECT_EQ(FnrSmoothTwoShort(-32768, -32768, 32767, 32767), -32768);
  EXPECT_EQ(FnrSmoothTwoShort(32767, 32767, 32767, 32767), 32767);  // not 65532
  EXPECT_EQ(FnrSmoothTwoShort(0x10000 + 1000, 2000, 22937, 9830),
            static_cast<int32_t>((2LL * 1000 * 22937 + 2LL * 2000 * 9830) >> 16));
  EXPECT_EQ(FnrSmoothTwoShort(-32768, 0, -32768, 0), 32767);  // 2^31 clamps to 2^31 - 1
}

}  // namespace
