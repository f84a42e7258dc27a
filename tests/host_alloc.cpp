// The wrapper's allocations: each failing allocation gives its message and
// -1, and every path returns what it took. malloc and free are wrapped at
// link time (-Wl,--wrap) so that the test can fail the n-th allocation and
// count what is still held; calloc is wrapped to see that it is never used.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

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

std::string message(int line, const char* text) {
  return "\n\n\033[40m\033[31m\033[1m**Err In TQ_RNR_Init-" + std::to_string(line) + ":  " + text +
         "**\033[0m\n\n";
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
      {1, 16000, {0, 0, 0, 0}, -1, 1, message(59, "Malloc Fail!")},
      {2, 8000, {1, 1, 10, -50}, -1, 2, message(126, "Malloc Fail!")},
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
