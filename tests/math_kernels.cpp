// Every SIMD vector kernel built for this target writes the same words as its
// portable twin: seeded random words mixed with INT32_MIN / INT32_MAX, gains
// over the whole Q15 range with -32768 and 32767, every count from 0 to 37
// (the tails past whole vectors) and buffers one word off their alignment.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "math/vec_kernels.h"
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
  if (const VecKernels* t = vocrel::vec_kernels_sse41();
      t != nullptr && __builtin_cpu_supports("sse4.1")) {
    v.push_back({"sse41", t});
  }
#endif
  return v;
}

class MathKernels : public ::testing::TestWithParam<Variant> {};

TEST_P(MathKernels, GainPairsEqualThePortableTwin) {
  vocrel_test::Lcg32 rng{7};
  static constexpr int32_t kEdgeWords[] = {INT32_MIN, INT32_MAX, -1, 0, 1};
  static constexpr int16_t kEdgeGains[] = {-32768, 32767, -1, 0, 1};
  for (int count = 0; count <= 37; ++count) {
    for (int round = 0; round < 8; ++round) {
      std::vector<int32_t> words(static_cast<std::size_t>(2 * count + 1));
      std::vector<int16_t> gains(static_cast<std::size_t>(count + 1));
      for (auto& w : words) {
        w = rng.next() % 4 == 0 ? kEdgeWords[rng.next() % 5] : static_cast<int32_t>(rng.next());
      }
      for (auto& g : gains) {
        g = rng.next() % 4 == 0 ? kEdgeGains[rng.next() % 5]
                                : static_cast<int16_t>(rng.next() >> 16);
      }
      std::vector<int32_t> a = words, b = words;
      GetParam().table->gain_pairs(a.data() + 1, gains.data() + 1, count);
      vocrel::vec_gain_pairs_c(b.data() + 1, gains.data() + 1, count);
      ASSERT_EQ(a, b) << GetParam().name << " count " << count << " round " << round;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Built, MathKernels, ::testing::ValuesIn(built_variants()),
                         [](const auto& info) { return std::string(info.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(MathKernels);

TEST(MathKernelChoice, SimdBuildsRunTheirTable) {
  const auto variants = built_variants();
  const VecKernels* chosen = &vocrel::vec_kernels();
  EXPECT_EQ(chosen, variants.empty() ? vocrel::vec_kernels_c() : variants.front().table);
}

}  // namespace
