// Tables given by a floating-point rule, recomputed in double and compared
// entry by entry. The integer rules, the packed forms and the twin copies are
// checked at compile time next to the tables, so they need no test here. Every rule value lies at
// least 0.004 from a rounding tie, so double precision decides each entry.
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

}  // namespace
