// The rate route on its own, with frames passed through unchanged: at every
// rate it converts, the clicks of a long train come out the same number of
// samples late, whatever the host's block sizes, with the FIFO never empty nor
// full, and that delay is the route's latency less the engine's one frame.
#include <gtest/gtest.h>

#ifndef VOCREL_RATE_ROUTE
// Without libsoxr (a cross build without its package) there is no route.
TEST(RateRoute, NeedsLibsoxr) { GTEST_SKIP() << "the rate route is not built"; }
#else
#include <algorithm>
#include <cmath>
#include <vector>

#include "rate_route.h"
#include "test_util.h"

namespace {

using vocrel::stream::engine_rate_for;
using vocrel::stream::Route;

void pass_through(void*, const Route& route, const float* in, float* out) {
  std::copy_n(in, route.frame_len() * route.channels(), out);
}

// Where each click of the output peaks, less where it went in; INT_MIN for a
// click that did not come out.
std::vector<long> click_lags(double rate, int mode, unsigned channels, double seconds,
                             std::uint32_t seed, long& latency, double& frameDelay) {
  Route route;
  const std::int32_t engineRate = engine_rate_for(rate, mode);
  EXPECT_TRUE(route.create(rate, engineRate, channels));
  latency = route.latency();
  frameDelay = static_cast<double>(route.frame_len()) * rate / engineRate;
  const auto frames = static_cast<std::size_t>(seconds * rate);
  const auto period = static_cast<std::size_t>(0.1 * rate) + 7;  // not a chunk multiple
  std::vector<float> in(frames * channels, 0.0f), out(frames * channels, 0.0f);
  for (std::size_t k = period / 2; k < frames; k += period)
    for (unsigned c = 0; c < channels; ++c) in[k * channels + c] = c == 0 ? 0.5f : -0.5f;
  vocrel_test::Lcg32 rng{seed};
  for (std::size_t done = 0; done < frames;) {
    const std::size_t n = std::min<std::size_t>(frames - done, 1 + rng.next() % 4096);
    route.feed(in.data() + done * channels, out.data() + done * channels, n, pass_through, nullptr);
    done += n;
  }
  EXPECT_EQ(route.underruns(), 0u);
  EXPECT_EQ(route.overruns(), 0u);
  std::vector<long> lags;
  const long expected = std::lround(static_cast<double>(latency) - frameDelay);
  for (std::size_t k = period / 2; k + static_cast<std::size_t>(latency) + 64 < frames;
       k += period) {
    long best = INT32_MIN;
    float peak = 0.02f;  // a click comes out at 0.04 (192 to 16 kHz) to 0.5
    for (long d = expected - 64; d <= expected + 64; ++d)
      for (unsigned c = 0; c < channels; ++c) {
        const float v = out[(k + static_cast<std::size_t>(d)) * channels + c] * (c == 0 ? 1 : -1);
        if (v > peak) peak = v, best = d;
      }
    lags.push_back(best);
  }
  return lags;
}

TEST(RateRoute, EveryClickKeepsItsDelay) {
  const double rates[] = {11025, 22050, 32000, 37800, 44100, 88200, 96000, 192000, 7999, 44056};
  std::uint32_t seed = 1;
  for (const double rate : rates)
    for (int mode : {0, 1}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, mode " << mode);
      long latency = 0;
      double frameDelay = 0;
      const std::vector<long> lags =
          click_lags(rate, mode, mode == 0 ? 2 : 1, 30.0, seed++, latency, frameDelay);
      ASSERT_GT(lags.size(), 250u);
      EXPECT_NEAR(static_cast<double>(lags.front()), latency - frameDelay, 1.0);
      EXPECT_EQ(std::count(lags.begin(), lags.end(), lags.front()), std::ptrdiff_t(lags.size()))
          << "delay " << lags.front() << " first, " << *std::min_element(lags.begin(), lags.end())
          << ".." << *std::max_element(lags.begin(), lags.end()) << " in all";
    }
}

// The same stream through a route reset in between gives the same samples.
TEST(RateRoute, ResetStartsAfresh) {
  Route route;
  ASSERT_TRUE(route.create(44100, 48000, 1));
  std::vector<float> in(44100), first(in.size()), second(in.size());
  vocrel_test::Lcg32 rng{5};
  for (float& v : in) v = static_cast<float>(rng.uniform(3000)) / 32768.0f;
  route.feed(in.data(), first.data(), in.size(), pass_through, nullptr);
  ASSERT_TRUE(route.reset());
  route.feed(in.data(), second.data(), 1000, pass_through, nullptr);
  route.feed(in.data() + 1000, second.data() + 1000, in.size() - 1000, pass_through, nullptr);
  EXPECT_EQ(first, second);
}

}  // namespace
#endif  // VOCREL_RATE_ROUTE
