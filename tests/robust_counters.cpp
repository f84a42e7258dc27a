// Frame counters at their wrap points. Both paths restart their counter past
// every start-up threshold, so an instance whose counter wraps must go on
// exactly as one that merely counted on: same output, bit for bit, and no
// start-up rule re-entered. The one rule that still looks at the restart value
// (the third detector of the environment-noise path waits for frame 101) may
// change the audio only slightly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "signals.h"
#include "test_util.h"

namespace {

constexpr std::size_t kRnrFrameCnt[2] = {14528 + 2260, 21388 + 2260};
constexpr std::size_t kFnrFrameCnt = 14528 + 4;

TEST(Counters, WrapGoesOnAsCountingOn) {
  struct {
    std::int32_t rate, channels, mode, vad3On;
    std::uint32_t last, restart;  // largest count before the restart, restart value
  } const cases[] = {
      {8000, 1, 0, 0, 0x0FFFFFFEu, 1000},  {16000, 2, 0, 0, 0x0FFFFFFEu, 1000},
      {48000, 1, 0, 0, 0x0FFFFFFEu, 1000}, {8000, 2, 1, 0, 0xFFFFFFA0u, 100},
      {16000, 2, 1, 0, 0xFFFFFFA0u, 100},  {8000, 1, 1, 1, 0xFFFFFFA0u, 100},
      {16000, 1, 1, 1, 0xFFFFFFA0u, 100},
  };
  constexpr std::size_t kWarm = 150, kAfter = 250;
  for (const auto& k : cases) {
    SCOPED_TRACE(::testing::Message()
                 << k.rate << " Hz, mode " << k.mode << ", third detector " << k.vad3On);
    Vocrel_RNR_Params p = vocrel_test::params_for(k.rate, k.channels, k.mode);
    p.vad3On = k.vad3On;
    vocrel_test::Instance ref(p), wrap(p);
    const std::size_t n = ref.frame_len(), len = n * (kWarm + kAfter);
    const sig::Samples a = sig::add(sig::speech_like(k.rate, len, 3000).x,
                                    sig::noise(sig::Colour::Pink, 250, len, 11));
    const sig::Samples b = sig::add(sig::speech_like(k.rate, len, 1500).x,
                                    sig::noise(sig::Colour::White, 400, len, 12));
    sig::Samples ra(len), rb(len), wa(len), wb(len);
    const std::size_t first = k.mode == 1 ? kRnrFrameCnt[0] : kFnrFrameCnt;
    for (std::size_t f = 0; f < kWarm + kAfter; ++f) {
      if (f == kWarm) {
        wrap.at(first) = k.last - 2;
        if (k.mode == 1 && k.channels == 2) wrap.at(kRnrFrameCnt[1]) = k.last - 2;
      }
      const std::size_t i = f * n;
      const bool two = k.channels == 2;
      ASSERT_EQ(ref.frame(&a[i], &ra[i], two ? &b[i] : nullptr, two ? &rb[i] : nullptr), 0);
      ASSERT_EQ(wrap.frame(&a[i], &wa[i], two ? &b[i] : nullptr, two ? &wb[i] : nullptr), 0);
      if (f < kWarm) continue;
      // last - 1, last, then the restart value and on.
      const std::size_t after = f - kWarm;
      const std::uint32_t want = after < 2 ? k.last - 1 + static_cast<std::uint32_t>(after)
                                           : k.restart + static_cast<std::uint32_t>(after - 2);
      ASSERT_EQ(wrap.at(first), want) << "frame " << f;
      if (k.mode == 1 && two) {
        ASSERT_EQ(wrap.at(kRnrFrameCnt[1]), want);
      }
    }
    if (k.vad3On == 0) {
      EXPECT_EQ(wa, ra);
      EXPECT_EQ(wb, rb);
    } else {  // at the restart value the third detector sits out one frame
      const std::size_t from = kWarm * n;
      EXPECT_NEAR(sig::gain_db(ra, wa, 0, from), 0.0, 0.5);
    }
  }
}

}  // namespace
