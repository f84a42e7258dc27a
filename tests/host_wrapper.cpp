// Host wrapper: configuration mapping, failure messages and codes, block
// cutting, and equivalence with driving the API directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/instance.h"
#include "fnr/fnr_state.h"
#include "host/wrapper.h"
#include "rnr/rnr_state.h"
#include "vocrel_rnr_host.h"

namespace {

using vocrel::host::WrapperHandle;

std::string message(const char* entry, int line, const char* text) {
  return std::string("\n\n\033[40m\033[31m\033[1m**Err In ") + entry + "-" + std::to_string(line) +
         ":  " + text + "**\033[0m\n\n";
}

struct Settings {
  std::int32_t flag, mode, maxNr, levelThr;
};

// Runs TQ_RNR_Init with stderr captured.
struct InitResult {
  std::int32_t status;
  void* handle;
  std::string err;
};
InitResult init(std::int32_t rate, Settings s) {
  TQ_RNR_NrSettings nr = {s.flag, s.mode, s.maxNr, s.levelThr};
  TQ_RNR_ModeConfig cfg = {{0, 0, 0}, &nr};
  void* sentinel = reinterpret_cast<void*>(std::uintptr_t{0x5A5A5A5A});
  InitResult r{0, sentinel, {}};
  testing::internal::CaptureStderr();
  r.status = TQ_RNR_Init(&r.handle, rate, &cfg);
  r.err = testing::internal::GetCapturedStderr();
  if (r.status != 0) {
    EXPECT_EQ(r.handle, sentinel) << "a failing init must not store a handle";
    r.handle = nullptr;
  }
  return r;
}

WrapperHandle* wrapper(void* h) { return static_cast<WrapperHandle*>(h); }

std::int32_t fnr_frame_count(void* h) {
  const auto* st = reinterpret_cast<const FnrState*>(static_cast<char*>(wrapper(h)->engine) +
                                                     vocrel::kPathStateOffset);
  return st->frameCnt;
}

// Seeded noise plus a tone: enough structure for the paths to do real work.
std::vector<std::int16_t> test_signal(std::size_t n, std::uint32_t seed) {
  std::vector<std::int16_t> x(n);
  std::uint32_t s = seed;
  for (std::size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    const int noise = static_cast<int>(s >> 20) - 2048;
    const int tone = (i / 40) % 2 ? 3000 : -3000;
    x[i] = static_cast<std::int16_t>(noise + tone);
  }
  return x;
}

TEST(HostDescriptor, NameAndEntryPoints) {
  const TQ_RNR_ModuleDesc& d = g_Audio_RNR_WorkHandle;
  EXPECT_STREQ(d.name, "RNR");
  for (int i = 3; i < TQ_RNR_MODULE_NAME_LEN; ++i) EXPECT_EQ(d.name[i], 0) << "byte " << i;
  EXPECT_EQ(d.init, &TQ_RNR_Init);
  EXPECT_EQ(d.process, &TQ_RNR_Process);
  EXPECT_EQ(d.deinit, &TQ_RNR_DeInit);
}

// What the engine ends up running for each host configuration.
TEST(HostInit, ConfigurationReachesTheEngine) {
  struct Case {
    std::int32_t rate;
    Settings s;
    std::int32_t engineRate, frameLen, mode, maxNr, levelThr;
  };
  const Case cases[] = {
      // Default settings: floor-noise path, and 8/16 kHz run the 48 kHz configuration.
      {16000, {0, 0, 3, -70}, 48000, 480, 0, 10, -50},
      {8000, {0, 0, 3, -70}, 48000, 480, 0, 10, -50},
      {48000, {0, 0, 3, -70}, 48000, 480, 0, 10, -50},
      // The host mode word decides the substitution even when the flag is 0,
      // while the flag still forces the floor-noise path.
      {16000, {0, 1, 3, -70}, 16000, 160, 0, 10, -50},
      {8000, {0, 1, 3, -70}, 8000, 80, 0, 10, -50},
      // Custom settings.
      {8000, {1, 1, 12, -60}, 8000, 80, 1, 12, -60},
      {16000, {1, 1, 2, -80}, 16000, 160, 1, 2, -80},
      {16000, {1, 0, 20, -20}, 48000, 480, 0, 20, -20},
      {48000, {7, 0, 5, -30}, 48000, 480, 0, 5, -30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "rate " << c.rate << " flag " << c.s.flag << " mode " << c.s.mode);
    InitResult r = init(c.rate, c.s);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    Vocrel_RNR_Params p;
    std::memset(&p, 0x7F, sizeof p);
    ASSERT_EQ(Vocrel_RNR_GetParams(wrapper(r.handle)->engine, &p), 0);
    EXPECT_EQ(p.sampleRate, c.engineRate);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.mode, c.mode);
    EXPECT_EQ(p.maxNr, c.maxNr);
    EXPECT_EQ(p.levelThrDb, c.levelThr);
    EXPECT_EQ(p.hpFilterOn, 0);
    EXPECT_EQ(p.levelAdaptOff, 1);
    EXPECT_EQ(p.vadBandThr, 50);
    EXPECT_EQ(wrapper(r.handle)->frameLen, static_cast<std::uint32_t>(c.frameLen));
    EXPECT_EQ(wrapper(r.handle)->trace.count, 0u);
    EXPECT_EQ(TQ_RNR_DeInit(r.handle), 0);
  }
}

// Every failure prints its fixed line, returns its code and keeps nothing
// allocated (the sanitizer build's leak check covers the last part).
TEST(HostInit, FailuresPrintTheirLineAndRelease) {
  struct Case {
    std::int32_t rate;
    Settings s;
    std::int32_t status;
    std::string err;
  };
  const char* e = "TQ_RNR_Init";
  const Case cases[] = {
      {48000, {1, 1, 10, -50}, -1, message(e, 52, "Reducing ENV noise mode not support 48000Hz!")},
      {16000, {1, 1, 25, -50}, -15, message(e, 135, "Vocrel_RNR_Init Fail!") + "ERROR ID: -15\n"},
      {16000, {1, 0, 1, -50}, -15, message(e, 135, "Vocrel_RNR_Init Fail!") + "ERROR ID: -15\n"},
      {8000, {1, 1, 10, -10}, -19, message(e, 135, "Vocrel_RNR_Init Fail!") + "ERROR ID: -19\n"},
      {44100,
       {0, 0, 10, -50},
       -13,
       message(e, 115, "Vocrel_RNR_GetSize Fail!") + "ERROR ID: -13\n"},
      {0, {1, 1, 10, -50}, -13, message(e, 115, "Vocrel_RNR_GetSize Fail!") + "ERROR ID: -13\n"},
      {16000,
       {1, 2, 10, -50},
       -22,
       message(e, 115, "Vocrel_RNR_GetSize Fail!") + "ERROR ID: -22\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "rate " << c.rate << " mode " << c.s.mode << " maxNr " << c.s.maxNr);
    InitResult r = init(c.rate, c.s);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
  }

  void* h = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(TQ_RNR_Init(&h, 16000, nullptr), -1);
  const TQ_RNR_ModeConfig noSettings = {{1, 2, 3}, nullptr};
  EXPECT_EQ(TQ_RNR_Init(&h, 16000, &noSettings), -1);
  const std::string nullMsg = message(e, 36, "pstModeConfig is NULL!");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), nullMsg + nullMsg);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(TQ_RNR_DeInit(nullptr), 0);
}

TEST(HostProcess, OneBlockOfOneFrameLeavesTheTrace) {
  InitResult r = init(16000, {0, 0, 0, 0});
  ASSERT_EQ(r.status, 0);
  std::vector<std::int16_t> in = test_signal(480, 1), out(480, 0);
  TQ_RNR_AudioFrame fin = {in.data(), 0xC0FFEE, {1, 2}, 960};
  TQ_RNR_AudioFrame fout = {out.data(), 0, {3, 4}, 0};
  EXPECT_EQ(TQ_RNR_Process(r.handle, &fin, &fout), 0);
  EXPECT_EQ(fout.tag, std::uintptr_t{0xC0FFEE});
  EXPECT_EQ(fout.lengthBytes, 960u);
  EXPECT_EQ(fout.unused[0], 3u);
  const Vocrel_RNR_TraceRec& t = wrapper(r.handle)->trace;
  EXPECT_EQ(t.base, 200u);
  EXPECT_EQ(t.count, 2u);  // 273 + 200, then 546 + 200
  EXPECT_EQ(t.slot[0], 746u);
  EXPECT_EQ(fnr_frame_count(r.handle), 1);
  TQ_RNR_DeInit(r.handle);
}

// Blocks that do not hold whole frames: the loop stops before the partial
// frame. The blocks are allocated to their exact size, so a read or write
// past them trips AddressSanitizer.
TEST(HostProcess, PartialFramesAreNeverRunPast) {
  InitResult r = init(8000, {1, 1, 10, -50});  // environment path, 80-sample frames
  ASSERT_EQ(r.status, 0);
  const std::uint32_t sizes[] = {0, 2, 158, 161, 2 * 80 * 2 + 6, 3 * 80 * 2 + 1};
  std::int32_t frames = 0;
  for (std::uint32_t bytes : sizes) {
    SCOPED_TRACE(bytes);
    auto* in = static_cast<std::int16_t*>(std::malloc(bytes));
    auto* out = static_cast<std::int16_t*>(std::malloc(bytes));
    std::memset(in, 0x11, bytes);
    std::memset(out, 0x77, bytes);
    TQ_RNR_AudioFrame fin = {in, 0, {0, 0}, bytes};
    TQ_RNR_AudioFrame fout = {out, 0, {0, 0}, 0};
    EXPECT_EQ(TQ_RNR_Process(r.handle, &fin, &fout), 0);
    frames += static_cast<std::int32_t>(bytes / 160);
    const std::uint32_t done = bytes / 160 * 160;
    for (std::uint32_t b = done; b < bytes; ++b)
      EXPECT_EQ(reinterpret_cast<unsigned char*>(out)[b], 0x77) << "byte " << b;
    std::free(in);
    std::free(out);
  }
  const auto* ch = reinterpret_cast<const RnrChanState*>(
      static_cast<char*>(wrapper(r.handle)->engine) + vocrel::kRnrChanOffset(0));
  EXPECT_EQ(ch->frameCnt, static_cast<std::uint32_t>(frames));
  EXPECT_EQ(frames, 6);
  TQ_RNR_DeInit(r.handle);
}

// A host block of several frames gives exactly what the API gives frame by
// frame with the same tunables; in-place blocks too.
TEST(HostProcess, MatchesTheApiFrameByFrame) {
  InitResult r = init(16000, {0, 0, 0, 0});
  ASSERT_EQ(r.status, 0);
  const std::size_t n = 480 * 12;
  const std::vector<std::int16_t> x = test_signal(n, 7);

  Vocrel_RNR_Params p = g_Vocrel_RNR_Params_Flr_48k_MONO;
  p.maxNr = 10;
  p.levelThrDb = -50;
  std::vector<unsigned char> mem(VOCREL_RNR_MEM_SIZE);
  void* eng = nullptr;
  ASSERT_EQ(Vocrel_RNR_Init(&eng, mem.data(), VOCREL_RNR_MEM_SIZE, &p), 0);
  std::vector<std::int16_t> ref(n);
  for (std::size_t f = 0; f < n / 480; ++f) {
    Vocrel_RNR_FrameIo io = {&x[f * 480], nullptr, 480, &ref[f * 480], nullptr};
    ASSERT_EQ(Vocrel_RNR_Apply(eng, &io, nullptr), 0);
  }

  // Blocks of 2, 4 (in place) and 6 frames.
  std::vector<std::int16_t> buf = x, out(n, 0);
  const std::size_t blocks[] = {2, 4, 6};
  std::size_t at = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::uint32_t bytes = static_cast<std::uint32_t>(blocks[k] * 480 * 2);
    std::int16_t* dst = k == 1 ? &buf[at] : &out[at];
    TQ_RNR_AudioFrame fin = {&buf[at], 0, {0, 0}, bytes};
    TQ_RNR_AudioFrame fout = {dst, 0, {0, 0}, 0};
    ASSERT_EQ(TQ_RNR_Process(r.handle, &fin, &fout), 0);
    if (k == 1) std::copy(dst, dst + blocks[k] * 480, &out[at]);
    at += blocks[k] * 480;
  }
  EXPECT_EQ(out, ref);
  EXPECT_EQ(fnr_frame_count(r.handle), 12);
  TQ_RNR_DeInit(r.handle);
}

TEST(HostProcess, EngineFailuresAreReported) {
  InitResult r = init(48000, {0, 0, 0, 0});
  ASSERT_EQ(r.status, 0);
  std::vector<std::int16_t> out(960);
  TQ_RNR_AudioFrame fin = {nullptr, 0, {0, 0}, 1920};
  TQ_RNR_AudioFrame fout = {out.data(), 0, {0, 0}, 0};
  testing::internal::CaptureStderr();
  EXPECT_EQ(TQ_RNR_Process(r.handle, &fin, &fout), -17);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            message("TQ_RNR_Process", 189, "Vocrel_RNR_Apply Fail!") + "ERROR ID: -17\n");

  // A broken guard word stops the block at its first frame.
  std::vector<std::int16_t> in = test_signal(960, 3);
  fin.data = in.data();
  auto* guard = static_cast<std::uint32_t*>(wrapper(r.handle)->engine);
  *guard = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(TQ_RNR_Process(r.handle, &fin, &fout), -5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            message("TQ_RNR_Process", 189, "Vocrel_RNR_Apply Fail!") + "ERROR ID: -5\n");
  EXPECT_EQ(fnr_frame_count(r.handle), 0);

  // Missing records are refused without touching anything.
  testing::internal::CaptureStderr();
  EXPECT_EQ(TQ_RNR_Process(nullptr, &fin, &fout), -1);
  EXPECT_EQ(TQ_RNR_Process(r.handle, nullptr, &fout), -1);
  EXPECT_EQ(TQ_RNR_Process(r.handle, &fin, nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  TQ_RNR_DeInit(r.handle);
}

}  // namespace
