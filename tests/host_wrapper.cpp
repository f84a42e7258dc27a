// Host wrapper: configuration mapping, failure messages and codes, block
// cutting, and equivalence with driving the API directly. Its allocations:
// each failing allocation gives its message and -1, and every path returns
// what it took. malloc and free are wrapped at link time (-Wl,--wrap) so that
// the test can fail the n-th allocation and count what is still held; calloc
// is wrapped to see that it is never used.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/layout.h"
#include "fnr/fnr_state.h"
#include "host/wrapper.h"
#include "rnr/rnr_state.h"
#include "test_util.h"
#include "vocrel_rnr_host.h"

extern "C" void* __real_malloc(std::size_t n);
extern "C" void* __real_calloc(std::size_t n, std::size_t size);
extern "C" void __real_free(void* p);

namespace {

int g_failAt = 0;  // 1-based allocation to refuse while armed; 0 none
int g_calls = 0;   // allocations seen while armed
long g_held = 0;   // allocations minus frees while armed
bool g_armed = false;
int g_callocs = 0;  // calloc calls while armed

}  // namespace

extern "C" void* __wrap_malloc(std::size_t n) {
  if (!g_armed) return __real_malloc(n);
  if (++g_calls == g_failAt) return nullptr;
  void* p = __real_malloc(n);
  if (p != nullptr) ++g_held;
  return p;
}

// Hosts that supply malloc and free must see every allocation: calloc (which
// a compiler may make of malloc followed by clearing) must not appear.
extern "C" void* __wrap_calloc(std::size_t n, std::size_t size) {
  if (g_armed) ++g_callocs;
  return __real_calloc(n, size);
}

extern "C" void __wrap_free(void* p) {
  if (g_armed && p != nullptr) --g_held;
  __real_free(p);
}

namespace {

using vocrel::host::WrapperHandle;
using vocrel_test::Samples;

std::string message(const char* entry, int line, const char* text, int code = 0) {
  return std::string("\n\n\033[40m\033[31m\033[1m**Err In ") + entry + "-" + std::to_string(line) +
         ":  " + text + "**\033[0m\n\n" + (code ? "ERROR ID: " + std::to_string(code) + "\n" : "");
}

// TQ_RNR_Init with stderr captured; a failing init stores no handle.
struct Host {
  Host(std::int32_t rate, TQ_RNR_NrSettings s) {
    const TQ_RNR_ModeConfig cfg = {{0, 0, 0}, &s};
    testing::internal::CaptureStderr();
    void* const sentinel = &status;
    handle = sentinel;
    status = TQ_RNR_Init(&handle, rate, &cfg);
    err = testing::internal::GetCapturedStderr();
    if (status != 0) {
      EXPECT_EQ(handle, sentinel);
      handle = nullptr;
    }
  }
  ~Host() { EXPECT_EQ(TQ_RNR_DeInit(handle), 0); }
  WrapperHandle* w() const { return static_cast<WrapperHandle*>(handle); }
  template <typename T>
  T& state(std::size_t at) const {
    return *reinterpret_cast<T*>(static_cast<char*>(w()->engine) + at);
  }
  std::int32_t process(std::int16_t* in, std::int16_t* out, std::uint32_t bytes) {
    TQ_RNR_AudioFrame fin = {in, 0xC0FFEE, {1, 2}, bytes}, fout = {out, 0, {3, 4}, 0};
    const std::int32_t rc = TQ_RNR_Process(handle, &fin, &fout);
    if (rc == 0) {
      EXPECT_TRUE(fout.tag == 0xC0FFEE && fout.lengthBytes == bytes && fout.unused[0] == 3);
    }
    return rc;
  }
  void* handle = nullptr;
  std::int32_t status;
  std::string err;
};

// The tunables' range ends: the last accepted values and one past them.
constexpr std::int32_t kNrLo = VOCREL_RNR_MAX_NR_MIN, kNrHi = VOCREL_RNR_MAX_NR_MAX;
constexpr std::int32_t kThrHi = VOCREL_RNR_LEVEL_THR_MAX;

Samples test_signal(std::size_t n, std::uint32_t seed) {
  vocrel_test::Lcg32 rng{seed};
  Samples x(n);
  for (std::size_t i = 0; i < n; ++i)
    x[i] = static_cast<std::int16_t>(rng.uniform(2048) + ((i / 40) % 2 ? 3000 : -3000));
  return x;
}

TEST(HostInit, ConfigurationReachesTheEngine) {
  // Default settings run the floor-noise path at 48 kHz whatever the host
  // rate; the host mode word alone keeps 8/16 kHz, while the flag still forces
  // the floor-noise path; custom settings pass through.
  const struct {
    std::int32_t rate;
    TQ_RNR_NrSettings s;
    std::int32_t engineRate, mode, maxNr, levelThr;
  } cases[] = {
      {16000, {0, 0, 3, -70}, 48000, 0, 10, -50},
      {8000, {0, 1, 3, -70}, 8000, 0, 10, -50},
      {8000, {1, 1, 12, -60}, 8000, 1, 12, -60},
      {16000, {1, 0, kNrHi, kThrHi}, 48000, 0, kNrHi, kThrHi},
      {48000, {7, 0, 5, -30}, 48000, 0, 5, -30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "rate " << c.rate << " custom " << c.s.useCustom);
    Host h(c.rate, c.s);
    ASSERT_EQ(h.status, 0);
    EXPECT_EQ(h.err, "");
    Vocrel_RNR_Params p{};
    ASSERT_EQ(Vocrel_RNR_GetParams(h.w()->engine, &p), 0);
    const std::int32_t want[15] = {c.maxNr, 0, c.levelThr, 1, 50,           p.vad3On, 0,     0,
                                   0,       0, 0,          0, c.engineRate, 1,        c.mode};
    std::int32_t got[15];
    std::memcpy(got, &p, sizeof got);
    EXPECT_EQ(std::vector<std::int32_t>(got, got + 15), std::vector<std::int32_t>(want, want + 15));
    EXPECT_EQ(h.w()->frameLen, static_cast<std::uint32_t>(c.engineRate / 100));
  }
}

// Every failure prints its fixed line and returns its code.
TEST(HostInit, FailuresPrintTheirLine) {
  const char* e = "TQ_RNR_Init";
  const struct {
    std::int32_t rate;
    TQ_RNR_NrSettings s;
    std::string err;
  } cases[] = {
      {48000, {1, 1, 10, -50}, message(e, 52, "Reducing ENV noise mode not support 48000Hz!")},
      {16000, {1, 0, kNrLo - 1, -50}, message(e, 135, "Vocrel_RNR_Init Fail!", -15)},
      {8000, {1, 1, 10, kThrHi + 1}, message(e, 135, "Vocrel_RNR_Init Fail!", -19)},
      {44100, {0, 0, 10, -50}, message(e, 115, "Vocrel_RNR_GetSize Fail!", -13)},
      {16000, {1, 2, 10, -50}, message(e, 115, "Vocrel_RNR_GetSize Fail!", -22)},
  };
  for (const auto& c : cases) {
    Host h(c.rate, c.s);
    EXPECT_NE(h.status, 0);
    EXPECT_EQ(h.err, c.err);
  }
  void* handle = nullptr;
  testing::internal::CaptureStderr();
  const TQ_RNR_ModeConfig noSettings = {{1, 2, 3}, nullptr};
  EXPECT_EQ(TQ_RNR_Init(&handle, 16000, nullptr), -1);
  EXPECT_EQ(TQ_RNR_Init(&handle, 16000, &noSettings), -1);
  const std::string nullMsg = message(e, 36, "pstModeConfig is NULL!");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), nullMsg + nullMsg);
  EXPECT_EQ(handle, nullptr);
}

// A host block of several frames gives exactly what the API gives frame by
// frame with the same tunables (in place too), and leaves the floor-noise
// trace codes over base 200. An engine failure is printed and returned, and a
// broken guard word stops the block at its first frame.
TEST(HostProcess, MatchesTheApiFrameByFrameAndReportsFailures) {
  Host h(16000, {0, 0, 0, 0});
  const Samples x = test_signal(480 * 12, 7);
  Vocrel_RNR_Params p = vocrel_test::params_for(48000);
  p.maxNr = 10;
  p.levelThrDb = -50;
  const Samples ref = vocrel_test::Instance(p).run(x);
  Samples buf = x, out(x.size(), 0);
  ASSERT_EQ(h.process(&buf[0], &out[0], 2 * 480 * 2), 0);
  ASSERT_EQ(h.process(&buf[960], &buf[960], 4 * 480 * 2), 0);
  std::copy(&buf[960], &buf[960 + 1920], &out[960]);
  ASSERT_EQ(h.process(&buf[2880], &out[2880], 6 * 480 * 2), 0);
  EXPECT_EQ(out, ref);
  EXPECT_EQ(h.state<FnrState>(vocrel::kPathStateOffset).frameCnt, 12);
  EXPECT_EQ(h.w()->trace.count, 2u);  // 273 + 200, then 546 + 200
  EXPECT_EQ(h.w()->trace.slot[0], 746u);

  testing::internal::CaptureStderr();
  EXPECT_EQ(h.process(nullptr, out.data(), 1920), -17);
  h.state<std::uint32_t>(0) = 0;
  EXPECT_EQ(h.process(buf.data(), out.data(), 1920), -5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            message("TQ_RNR_Process", 189, "Vocrel_RNR_Apply Fail!", -17) +
                message("TQ_RNR_Process", 189, "Vocrel_RNR_Apply Fail!", -5));
  EXPECT_EQ(h.state<FnrState>(vocrel::kPathStateOffset).frameCnt, 12);
}

// Blocks that do not hold whole frames: the loop stops before the partial
// frame. The blocks have their exact size, so ASan reports any access past them.
TEST(HostProcess, PartialFramesAreNeverRunPast) {
  Host h(8000, {1, 1, 10, -50});  // environment path, 80-sample frames
  for (std::uint32_t bytes : {0u, 2u, 158u, 161u, 2 * 80 * 2 + 6u, 3 * 80 * 2 + 1u}) {
    auto* in = static_cast<std::int16_t*>(std::malloc(bytes));
    auto* out = static_cast<std::uint8_t*>(std::malloc(bytes));
    std::memset(in, 0x11, bytes);
    std::memset(out, 0x77, bytes);
    EXPECT_EQ(h.process(in, reinterpret_cast<std::int16_t*>(out), bytes), 0);
    for (std::uint32_t b = bytes / 160 * 160; b < bytes; ++b) EXPECT_EQ(out[b], 0x77) << bytes;
    std::free(in);
    std::free(out);
  }
  EXPECT_EQ(h.state<RnrChanState>(vocrel::kRnrChanOffset(0)).frameCnt, 6u);
}

// Success takes two allocations and DeInit returns both; a refused handle
// record or instance block gives its message and -1 and returns the other;
// engine refusals return both; a refused mode allocates nothing.
TEST(HostAlloc, EveryPathReturnsWhatItTook) {
  const struct {
    int failAt;  // allocation to refuse, 0 none
    std::int32_t rate;
    TQ_RNR_NrSettings s;
    std::int32_t status;
    int calls;
    std::string err;
  } cases[] = {
      {0, 16000, {0, 0, 0, 0}, 0, 2, ""},
      {1, 16000, {0, 0, 0, 0}, -1, 1, message("TQ_RNR_Init", 59, "Malloc Fail!")},
      {2, 8000, {1, 1, 10, -50}, -1, 2, message("TQ_RNR_Init", 126, "Malloc Fail!")},
      {0, 11025, {0, 0, 0, 0}, VOCREL_RNR_E_SAMPLE_RATE, 1, ""},
      {0, 16000, {1, 1, 10, -90}, VOCREL_RNR_E_LEVEL_THR, 2, ""},
      {0, 48000, {1, 1, 10, -50}, -1, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "refused " << c.failAt << ", " << c.rate << " Hz");
    const TQ_RNR_ModeConfig cfg = {{0, 0, 0}, &c.s};
    void* handle = nullptr;
    testing::internal::CaptureStderr();
    g_failAt = c.failAt;
    g_calls = g_held = g_callocs = 0;
    g_armed = true;
    const std::int32_t status = TQ_RNR_Init(&handle, c.rate, &cfg);
    const int calls = g_calls;
    if (status == 0) TQ_RNR_DeInit(handle);
    g_armed = false;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(g_held, 0);
    EXPECT_EQ(g_callocs, 0);
    EXPECT_TRUE(c.status != -1 || handle == nullptr);
    EXPECT_TRUE(c.err.empty() || err == c.err) << err;
  }
}

}  // namespace
