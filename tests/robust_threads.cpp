// Separate instances on separate threads: the engine shares nothing mutable
// between instances (nor the host wrapper between handles), so running them
// concurrently gives exactly the output of running them one after another. Built with
// ThreadSanitizer this also reports any data race on shared state.
#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

#include "robust_signal.h"
#include "vocrel_rnr.h"
#include "vocrel_rnr_host.h"

namespace {

struct Config {
  std::int32_t rate, channels, mode;
};

// Every accepted configuration: both paths, every rate, mono and stereo.
constexpr Config kConfigs[] = {
    {8000, 1, 0},  {16000, 1, 0}, {48000, 1, 0}, {8000, 2, 0}, {16000, 2, 0},
    {48000, 2, 0}, {8000, 1, 1},  {16000, 1, 1}, {8000, 2, 1}, {16000, 2, 1},
};
constexpr int kFrames = 120;

// Runs one instance over kFrames frames of seeded audio and returns the
// digest of everything it wrote. `start` lines the threads up so that they
// really run at the same time.
std::uint64_t run_instance(const Config& c, std::uint64_t seed, std::latch* start) {
  Vocrel_RNR_Params p =
      c.mode == 1 ? g_Vocrel_RNR_Params_Env_8k_MONO : g_Vocrel_RNR_Params_Flr_48k_MONO;
  p.sampleRate = c.rate;
  p.channels = c.channels;
  p.mode = c.mode;
  p.maxNr = 8 + static_cast<std::int32_t>(seed % 10);
  std::vector<std::uint8_t> block(VOCREL_RNR_MEM_SIZE);
  void* h = nullptr;
  if (Vocrel_RNR_Init(&h, block.data(), VOCREL_RNR_MEM_SIZE, &p) != 0) return 0;
  const std::size_t n = static_cast<std::size_t>(c.rate / 100);
  robust::SpeechLike s0(c.rate, seed), s1(c.rate, seed + 1000);
  std::vector<std::int16_t> in0(n), in1(n), out0(n), out1(n);
  Vocrel_RNR_FrameIo io{in0.data(), in1.data(), static_cast<std::uint32_t>(n), out0.data(),
                        out1.data()};
  Vocrel_RNR_TraceRec trace{};
  if (start) start->arrive_and_wait();
  std::uint64_t digest = robust::kFnvBasis;
  for (int f = 0; f < kFrames; ++f) {
    s0.fill(in0.data(), n, -20, -45);
    s1.fill(in1.data(), n, -26, -40);
    if (Vocrel_RNR_Apply(h, &io, (f & 1) ? &trace : nullptr) != 0) return 0;
    digest = robust::fnv1a(out0.data(), n, digest);
    if (c.channels == 2) digest = robust::fnv1a(out1.data(), n, digest);
  }
  return digest;
}

// Threads t = 0..N-1 each run configuration pick(t) with seed t.
template <typename Pick>
void expect_concurrent_equals_sequential(int threads, Pick pick) {
  std::vector<std::uint64_t> sequential(threads), concurrent(threads);
  for (int t = 0; t < threads; ++t) sequential[t] = run_instance(kConfigs[pick(t)], t, nullptr);
  std::latch start(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] { concurrent[t] = run_instance(kConfigs[pick(t)], t, &start); });
  }
  for (auto& th : pool) th.join();
  for (int t = 0; t < threads; ++t) {
    const Config& c = kConfigs[pick(t)];
    EXPECT_NE(sequential[t], 0u) << "instance failed: rate " << c.rate << " mode " << c.mode;
    EXPECT_EQ(concurrent[t], sequential[t]) << "thread " << t << ": rate " << c.rate << " channels "
                                            << c.channels << " mode " << c.mode;
  }
}

}  // namespace

TEST(Threads, MixedConfigurationsMatchSequentialRuns) {
  constexpr int kCount = static_cast<int>(std::size(kConfigs));
  // Two rounds of eight cover all ten configurations, in different company.
  expect_concurrent_equals_sequential(8, [](int t) { return t; });
  expect_concurrent_equals_sequential(8, [](int t) { return (t + 2) % kCount; });
}

TEST(Threads, SameConfigurationOnEveryThread) {
  // Identical configurations touch the same read-only tables and the same
  // code paths at the same moments; each config once with 4 threads.
  for (int c = 0; c < static_cast<int>(std::size(kConfigs)); c += 3) {
    expect_concurrent_equals_sequential(4, [c](int) { return c; });
  }
}

namespace {

// One host-wrapper handle: settings {useCustom, mode, maxNr, levelThr} at a
// rate, blocks of 960 samples (whole frames at every frame length).
std::uint64_t run_wrapper(std::int32_t rate, std::int32_t mode, std::uint64_t seed,
                          std::latch* start) {
  const TQ_RNR_NrSettings settings{1, mode, 12, -40};
  const TQ_RNR_ModeConfig cfg{{0, 0, 0}, &settings};
  void* h = nullptr;
  if (TQ_RNR_Init(&h, rate, &cfg) != 0) return 0;
  robust::SpeechLike s(rate, seed);
  std::vector<std::int16_t> in(960), out(960);
  TQ_RNR_AudioFrame ia{in.data(), 0, {0, 0}, 1920}, oa{out.data(), 0, {0, 0}, 0};
  if (start) start->arrive_and_wait();
  std::uint64_t digest = robust::kFnvBasis;
  for (int b = 0; b < 40; ++b) {
    s.fill(in.data(), in.size(), -20, -45);
    if (TQ_RNR_Process(h, &ia, &oa) != 0) return 0;
    digest = robust::fnv1a(out.data(), out.size(), digest);
  }
  TQ_RNR_DeInit(h);
  return digest;
}

}  // namespace

TEST(Threads, HostWrapperHandlesAreIndependent) {
  struct {
    std::int32_t rate, mode;
  } const handles[] = {{8000, 0}, {16000, 1}, {48000, 0}, {8000, 1}};
  constexpr int kCount = static_cast<int>(std::size(handles));
  std::uint64_t sequential[kCount], concurrent[kCount];
  for (int t = 0; t < kCount; ++t) {
    sequential[t] = run_wrapper(handles[t].rate, handles[t].mode, t, nullptr);
  }
  std::latch start(kCount);
  std::vector<std::thread> pool;
  for (int t = 0; t < kCount; ++t) {
    pool.emplace_back(
        [&, t] { concurrent[t] = run_wrapper(handles[t].rate, handles[t].mode, t, &start); });
  }
  for (auto& th : pool) th.join();
  for (int t = 0; t < kCount; ++t) {
    EXPECT_NE(sequential[t], 0u) << "handle " << t << " failed";
    EXPECT_EQ(concurrent[t], sequential[t]) << "handle " << t;
  }
}
