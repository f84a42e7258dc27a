// Tables given by a floating-point rule, recomputed in double and compared
// entry by entry (the integer rules, the packed forms and the twin copies are
// checked at compile time next to the tables). Every rule value lies at least
// 0.004 from a rounding tie, so double precision decides each entry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "math/vocrel_math.h"

namespace {

int32_t round_half_up(double v) { return static_cast<int32_t>(std::floor(v + 0.5)); }

TEST(MathTables, RulesInDouble) {
  for (int i = 0; i <= 32; ++i) {
    EXPECT_EQ(vocrel_rnr_log2Table[i], round_half_up(32767.0 * std::log2(1.0 + i / 32.0))) << i;
    EXPECT_EQ(sFnrlog2Table[i], vocrel_rnr_log2Table[i]) << i;
    const int32_t p = round_half_up(16384.0 * std::exp2(i / 32.0));
    EXPECT_EQ(vocrel_rnr_pow2table[i], p > 32767 ? 32767 : p) << i;
  }
  const double pi = std::acos(-1.0);
  for (int i = 0; i < 64; ++i) {  // cos(pi/2) in double is 6e-17, not 0: skip it
    const int32_t y = round_half_up(32768.0 * std::cos(i * pi / 128.0));
    EXPECT_EQ(vocrel_rnr_cos_y[i], y > 32767 ? 32767 : y) << i;
  }
  EXPECT_EQ(vocrel_rnr_cos_y[64], 0);
}

TEST(MathTables, PackedHalvesAndListedValues) {
  // Segment slopes of the log2 table lie in -1455..-744.
  for (int j = 0; j < 32; ++j) {
    const int32_t slope = static_cast<int16_t>(vocrel_rnr_Log2Tab[j] & 0xFFFF);
    EXPECT_GE(slope, -1455);
    EXPECT_LE(slope, -744);
    EXPECT_EQ(vocrel_rnr_Log2Tab[j] >> 16, vocrel_rnr_log2Table[j]);
  }
  EXPECT_EQ(vocrel_rnr_Log2Tab[0], (0 << 16) | (-1455 & 0xFFFF));
  EXPECT_EQ(vocrel_rnr_cos_tab[63] >> 16, 0);
  EXPECT_EQ(static_cast<int16_t>(vocrel_rnr_cos_tab[63] & 0xFFFF), -260);
  EXPECT_EQ(vocrel_rnr_cos_dy[0], -3);
  EXPECT_EQ(vocrel_rnr_cos_dy[64], -260);
  // The last root entry is 32768, only representable read as unsigned.
  EXPECT_EQ(static_cast<uint16_t>(vocrel_fnr_sqrt_table[24]), 32768u);
  EXPECT_EQ(vocrel_rnr_sqrt_table[8], 23172);
  EXPECT_EQ(vocrel_fnr_exp2Coef[0], 5615);
  EXPECT_EQ(vocrel_fnr_exp2Coef[2], 32701);
  EXPECT_EQ(iFnr_tab_invQ30[127], 1075843080);
  EXPECT_EQ(iFnrSqrtTab[127][0], 2143285240);
  // Root seeds: a_k^2 ~ (k + 1/2) 2^55 and a_k b_k ~ 2^61 where b is not clamped.
  for (int k = 32; k < 128; ++k) {
    const double a = vocrel_rnr_sqrt_32_tab[k][0];
    const double b = vocrel_rnr_sqrt_32_tab[k][1];
    EXPECT_NEAR(a * a / std::ldexp(k + 0.5, 55), 1.0, 1e-9) << k;
    EXPECT_NEAR(a * b / std::ldexp(1.0, 61), 1.0, 1e-9) << k;
  }
}

}  // namespace
