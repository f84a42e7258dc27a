// Separate instances on separate threads: the engine shares nothing mutable
// between instances (nor the host wrapper between handles), so running them
// concurrently gives exactly the output of running them one after another. Built with
// ThreadSanitizer this also reports any data race on shared state.
#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

#include "signals.h"
#include "test_util.h"
#include "vocrel_rnr_host.h"

namespace {

using vocrel_test::fnv1a;

struct Config {
  std::int32_t rate, channels, mode;
};

// Every accepted configuration: both paths, every rate, mono and stereo.
constexpr Config kConfigs[] = {
    {8000, 1, 0},  {16000, 1, 0}, {48000, 1, 0}, {8000, 2, 0}, {16000, 2, 0},
    {48000, 2, 0}, {8000, 1, 1},  {16000, 1, 1}, {8000, 2, 1}, {16000, 2, 1},
};

// Seeded speech over pink noise, 1.2 s unless given.
sig::Samples input(std::int32_t rate, std::uint64_t seed, std::size_t len = 0) {
  if (len == 0) len = static_cast<std::size_t>(rate) * 12 / 10;
  return sig::add(sig::speech_like(rate, len, 4000 + 300 * static_cast<std::int32_t>(seed)).x,
                  sig::noise(sig::Colour::Pink, 200, len, seed));
}

// Runs one instance and returns the digest of everything it wrote (0 on any
// failure); `start` lines the threads up so that they really run at once.
// Concurrent runs pass a trace record on odd frames, sequential runs none:
// the trace must not change the audio.
std::uint64_t run_instance(const Config& c, std::uint64_t seed, std::latch* start) {
  Vocrel_RNR_Params p = vocrel_test::params_for(c.rate, c.channels, c.mode);
  p.maxNr = 8 + static_cast<std::int32_t>(seed % 10);
  const sig::Samples a = input(c.rate, seed), b = input(c.rate, seed + 1000);
  vocrel_test::Instance inst(p);
  sig::Samples oa(a.size()), ob(a.size());
  Vocrel_RNR_TraceRec trace{};
  if (start) start->arrive_and_wait();
  const std::size_t n = inst.frame_len();
  for (std::size_t i = 0, f = 0; inst.status == 0 && i + n <= a.size(); i += n, ++f) {
    const bool two = c.channels == 2;
    if (inst.frame(&a[i], &oa[i], two ? &b[i] : nullptr, two ? &ob[i] : nullptr,
                   (start && (f & 1)) ? &trace : nullptr) != 0)
      return 0;
  }
  return inst.status == 0 ? fnv1a(ob, fnv1a(oa)) : 0;
}

// Runs fn(t, start) for t = 0..threads-1 first one after another, then all at
// once, and expects the same results.
template <typename Fn>
void expect_concurrent_equals_sequential(int threads, Fn fn) {
  std::vector<std::uint64_t> sequential(threads), concurrent(threads);
  for (int t = 0; t < threads; ++t) sequential[t] = fn(t, nullptr);
  std::latch start(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back([&, t] { concurrent[t] = fn(t, &start); });
  for (auto& th : pool) th.join();
  for (int t = 0; t < threads; ++t) {
    EXPECT_NE(sequential[t], 0u) << "thread " << t << " failed";
    EXPECT_EQ(concurrent[t], sequential[t]) << "thread " << t;
  }
}

}  // namespace

TEST(Threads, InstancesMatchSequentialRuns) {
  constexpr int kCount = static_cast<int>(std::size(kConfigs));
  // Two rounds of eight cover all ten configurations, in different company;
  // then identical configurations, which touch the same read-only tables at
  // the same moments.
  for (int shift : {0, 2}) {
    expect_concurrent_equals_sequential(8, [shift](int t, std::latch* start) {
      return run_instance(kConfigs[(t + shift) % kCount], t, start);
    });
  }
  for (int c = 0; c < kCount; c += 3) {
    expect_concurrent_equals_sequential(
        4, [c](int t, std::latch* start) { return run_instance(kConfigs[c], t, start); });
  }
}

TEST(Threads, HostWrapperHandlesAreIndependent) {
  // Settings {useCustom, mode, maxNr, levelThr} at a rate, blocks of 960
  // samples (whole frames at every frame length).
  struct {
    std::int32_t rate, mode;
  } const handles[] = {{8000, 0}, {16000, 1}, {48000, 0}, {8000, 1}};
  expect_concurrent_equals_sequential(4, [&](int t, std::latch* start) -> std::uint64_t {
    const TQ_RNR_NrSettings settings{1, handles[t].mode, 12, -40};
    const TQ_RNR_ModeConfig cfg{{0, 0, 0}, &settings};
    void* h = nullptr;
    if (TQ_RNR_Init(&h, handles[t].rate, &cfg) != 0) return 0;
    sig::Samples in = input(handles[t].rate, t, 960 * 40), out(960);
    TQ_RNR_AudioFrame ia{nullptr, 0, {0, 0}, 1920}, oa{out.data(), 0, {0, 0}, 0};
    if (start) start->arrive_and_wait();
    std::uint64_t digest = 1;
    for (std::size_t b = 0; b < in.size(); b += 960) {
      ia.data = &in[b];
      if (TQ_RNR_Process(h, &ia, &oa) != 0) return 0;
      digest = fnv1a(out, digest);
    }
    TQ_RNR_DeInit(h);
    return digest;
  });
}
