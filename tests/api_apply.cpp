// Instance layout in caller memory, the checks of Vocrel_RNR_Apply with
// nothing written on failure, frame counters and the trace record.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "api_test_util.h"

using namespace vocrel_test;

namespace {

constexpr std::size_t kInstanceBytes = 28256;
constexpr std::size_t kEndGuardWord = 7063;
constexpr std::size_t kPathState = 14528;
constexpr std::size_t kRnrChanBytes = 6860;
constexpr std::size_t kRnrFrameCntOffset = 2260;  // within a channel state
constexpr std::size_t kFnrFrameCntOffset = 4;     // second word of the floor-noise state
constexpr std::uint32_t kGuard = 0x6AAAAAAAu;

std::uint32_t& word_at(void* handle, std::size_t byte) {
  return *reinterpret_cast<std::uint32_t*>(static_cast<char*>(handle) + byte);
}

struct Frame {
  explicit Frame(std::uint32_t n) : in0(n, 100), in1(n, -100), out0(n, 7), out1(n, 7) {
    io = {in0.data(), in1.data(), n, out0.data(), out1.data()};
  }
  std::vector<std::int16_t> in0, in1, out0, out1;
  Vocrel_RNR_FrameIo io;
};

}  // namespace

TEST(Layout, InstanceSitsAtTheNextMultipleOfEight) {
  for (std::size_t mis : {0u, 1u, 4u, 7u}) {
    Block b(VOCREL_RNR_MEM_SIZE, mis);
    void* h = nullptr;
    auto p = params_for(48000, 1, 0);
    ASSERT_EQ(Vocrel_RNR_Init(&h, b.mem, VOCREL_RNR_MEM_SIZE, &p), 0);
    const auto offset = static_cast<std::size_t>(static_cast<std::uint8_t*>(h) - b.mem);
    EXPECT_EQ(offset, mis == 0 ? 0 : 8 - mis);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(h) % 8, 0u);
    // The end guard ends inside the block: one byte before its end when the
    // block started one byte past a multiple of 8.
    const std::size_t guard_end = offset + 4 * (kEndGuardWord + 1);
    EXPECT_LE(guard_end, VOCREL_RNR_MEM_SIZE);
    if (mis == 1) {
      EXPECT_EQ(guard_end, VOCREL_RNR_MEM_SIZE - 1);
    }
    EXPECT_EQ(static_cast<std::uint32_t*>(h)[kEndGuardWord], kGuard);
  }
}

TEST(Layout, HeaderWords) {
  struct {
    std::int32_t rate, channels, mode;
    std::uint32_t frame;
  } cases[] = {{8000, 1, 0, 80},
               {16000, 2, 0, 160},
               {48000, 2, 0, 480},
               {8000, 2, 1, 80},
               {16000, 1, 1, 160}};
  for (const auto& c : cases) {
    auto p = params_for(c.rate, c.channels, c.mode);
    p.maxNr = 9;
    p.levelThrDb = -44;
    Instance inst(p);
    ASSERT_EQ(inst.status, 0);
    const std::uint32_t* w = inst.words();
    EXPECT_EQ(w[0], kGuard);
    EXPECT_EQ(w[1], c.frame);
    EXPECT_EQ(w[2], 28264u);
    EXPECT_EQ(w[3], 0x414E5249u);
    EXPECT_EQ(static_cast<std::int32_t>(w[4]), 9);
    EXPECT_EQ(static_cast<std::int32_t>(w[6]), -44);
    EXPECT_EQ(static_cast<std::int32_t>(w[16]), c.rate);
    EXPECT_EQ(static_cast<std::int32_t>(w[17]), c.channels);
    EXPECT_EQ(static_cast<std::int32_t>(w[18]), c.mode);
    EXPECT_EQ(w[kEndGuardWord], kGuard);
  }
}

TEST(Layout, InitArgumentChecksWriteNothing) {
  auto p = params_for(16000, 1, 0);
  Block b;
  const auto before = snapshot(b.mem, VOCREL_RNR_MEM_SIZE);
  void* h = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(Vocrel_RNR_Init(nullptr, b.mem, VOCREL_RNR_MEM_SIZE, &p), -1);
  EXPECT_EQ(Vocrel_RNR_Init(&h, nullptr, VOCREL_RNR_MEM_SIZE, &p), -2);
  EXPECT_EQ(Vocrel_RNR_Init(&h, b.mem, VOCREL_RNR_MEM_SIZE, nullptr), -7);
  EXPECT_EQ(Vocrel_RNR_Init(&h, b.mem, VOCREL_RNR_MEM_SIZE - 1, &p), -3);
  EXPECT_EQ(Vocrel_RNR_Init(&h, b.mem, 0, &p), -3);
  EXPECT_EQ(h, reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(snapshot(b.mem, VOCREL_RNR_MEM_SIZE), before);
  EXPECT_EQ(Vocrel_RNR_GetSize(nullptr, nullptr), -10);
  Vocrel_RNR_MemInfo info{};
  EXPECT_EQ(Vocrel_RNR_GetSize(&info, nullptr), -11);
}

struct ApplyCase {
  const char* name;
  std::int32_t status;
  std::function<void(Vocrel_RNR_FrameIo&, void*&)> mutate;
};

// Every check of Apply, in order; each failing call must leave the instance,
// the output buffers and the trace record exactly as they were.
TEST(Apply, ChecksInOrderAndWriteNothing) {
  const std::size_t check_word[1] = {kPathState + 11732};  // initCheck of the floor-noise state
  const ApplyCase cases[] = {
      {"null handle", -1, [](auto&, void*& h) { h = nullptr; }},
      {"magic", -4, [](auto&, void*& h) { word_at(h, 12) = 0; }},
      {"null descriptor", -8, nullptr},
      {"in0", -17, [](auto& io, void*&) { io.inCh0 = nullptr; }},
      {"out0", -18, [](auto& io, void*&) { io.outCh0 = nullptr; }},
      {"in1", -17, [](auto& io, void*&) { io.inCh1 = nullptr; }},
      {"out1", -18, [](auto& io, void*&) { io.outCh1 = nullptr; }},
      {"in1 before length", -17,
       [](auto& io, void*&) {
         io.inCh1 = nullptr;
         io.frameLen = 160;
       }},
      {"out0 before in1", -18,
       [](auto& io, void*&) {
         io.inCh1 = nullptr;
         io.outCh0 = nullptr;
       }},
      {"length", -9, [](auto& io, void*&) { io.frameLen = 160; }},
      {"length before guard", -9,
       [](auto& io, void*& h) {
         io.frameLen = 0;
         word_at(h, 0) = 0;
       }},
      {"head guard", -5, [](auto&, void*& h) { word_at(h, 0) ^= 1; }},
      {"end guard", -5, [](auto&, void*& h) { word_at(h, 4 * kEndGuardWord) = 0; }},
      {"header rate", -5, [](auto&, void*& h) { word_at(h, 64) = 48000; }},
      {"header channels", -5, [](auto&, void*& h) { word_at(h, 68) = 3; }},
  };
  for (int mode = 0; mode < 2; ++mode) {
    std::vector<ApplyCase> all(std::begin(cases), std::end(cases));
    if (mode == 0) {
      all.push_back({"floor-noise check value", -5,
                     [&](auto&, void*& h) { word_at(h, check_word[0]) ^= 0x100; }});
    }
    for (const auto& c : all) {
      Instance inst(params_for(8000, 2, mode));
      ASSERT_EQ(inst.status, 0);
      Frame f(80);
      void* handle = inst.handle;
      Vocrel_RNR_FrameIo* io = &f.io;
      if (c.mutate) {
        c.mutate(f.io, handle);
      } else {
        io = nullptr;
      }
      Vocrel_RNR_TraceRec trace{};
      trace.count = 99;
      trace.base = 5;
      const auto inst_before = snapshot(inst.handle, kInstanceBytes);
      const auto trace_before = snapshot(&trace, sizeof trace);
      EXPECT_EQ(Vocrel_RNR_Apply(handle, io, &trace), c.status) << c.name << " mode " << mode;
      EXPECT_EQ(snapshot(inst.handle, kInstanceBytes), inst_before) << c.name;
      EXPECT_EQ(snapshot(&trace, sizeof trace), trace_before) << c.name;
      EXPECT_EQ(f.out0, std::vector<std::int16_t>(80, 7)) << c.name;
      EXPECT_EQ(f.out1, std::vector<std::int16_t>(80, 7)) << c.name;
    }
  }
}

TEST(Apply, MonoInstanceIgnoresSecondChannel) {
  for (int mode = 0; mode < 2; ++mode) {
    Instance inst(params_for(16000, 1, mode));
    ASSERT_EQ(inst.status, 0);
    Frame f(160);
    f.io.inCh1 = nullptr;
    f.io.outCh1 = nullptr;
    if (mode == 1) word_at(inst.handle, kPathState + kRnrChanBytes) = 0;  // unused state
    EXPECT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0) << mode;
  }
}

// A broken channel-state guard is found after that channel was counted and the
// trace record cleared, and before anything of the frame is written.
TEST(Apply, FirstChannelGuardStopsBeforeAnyOutput) {
  Instance inst(params_for(8000, 2, 1));
  ASSERT_EQ(inst.status, 0);
  Frame f(80);
  word_at(inst.handle, kPathState) = 0;
  Vocrel_RNR_TraceRec trace{};
  trace.count = 99;
  EXPECT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, &trace), -5);
  EXPECT_EQ(trace.count, 0u);
  EXPECT_EQ(f.out0, std::vector<std::int16_t>(80, 7));
  EXPECT_EQ(f.out1, std::vector<std::int16_t>(80, 7));
  EXPECT_EQ(word_at(inst.handle, kPathState + kRnrFrameCntOffset), 1u);
  EXPECT_EQ(word_at(inst.handle, kPathState + kRnrChanBytes + kRnrFrameCntOffset), 0u);
}

TEST(Apply, SecondChannelGuardFailsAfterFirstChannelIsWritten) {
  Instance inst(params_for(8000, 2, 1));
  ASSERT_EQ(inst.status, 0);
  Frame f(80);
  word_at(inst.handle, kPathState + kRnrChanBytes) = 0;
  EXPECT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), -5);
  EXPECT_NE(f.out0, std::vector<std::int16_t>(80, 7));  // channel 0 ran
  EXPECT_EQ(f.out1, std::vector<std::int16_t>(80, 7));
  // Both counters advanced: the failing channel is counted before its check.
  EXPECT_EQ(word_at(inst.handle, kPathState + kRnrFrameCntOffset), 1u);
  EXPECT_EQ(word_at(inst.handle, kPathState + kRnrChanBytes + kRnrFrameCntOffset), 1u);
}

TEST(Apply, TraceCodes) {
  {  // environment-noise path: code 1 and the driver's 12 codes per channel
    Instance inst(params_for(8000, 2, 1));
    ASSERT_EQ(inst.status, 0);
    Frame f(80);
    Vocrel_RNR_TraceRec trace{};
    trace.base = 200;
    ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, &trace), 0);
    EXPECT_EQ(trace.count, 26u);
    EXPECT_EQ(trace.base, 200u);
  }
  {  // floor-noise path: 273 before and 546 after the frame, plus the base
    Instance inst(params_for(48000, 1, 0));
    ASSERT_EQ(inst.status, 0);
    Frame f(480);
    Vocrel_RNR_TraceRec trace{};
    trace.base = 200;
    trace.count = 77;
    ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, &trace), 0);
    EXPECT_EQ(trace.count, 2u);
    EXPECT_EQ(trace.next, 1u);
    // The write index is masked into the slots, so a cleared record receives
    // every code in slot 0 and the last one stays.
    EXPECT_EQ(trace.slot[0], 746u);
  }
}

TEST(Apply, TraceIsOptionalAndChangesNothingElse) {
  for (int mode = 0; mode < 2; ++mode) {
    Instance a(params_for(16000, 2, mode)), b(params_for(16000, 2, mode));
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0);
    Frame fa(160), fb(160);
    for (int i = 0; i < 160; ++i) {
      fa.in0[i] = fb.in0[i] = static_cast<std::int16_t>((i * 977) % 2000 - 1000);
      fa.in1[i] = fb.in1[i] = static_cast<std::int16_t>((i * 331) % 600 - 300);
    }
    Vocrel_RNR_TraceRec trace{};
    for (int k = 0; k < 5; ++k) {
      ASSERT_EQ(Vocrel_RNR_Apply(a.handle, &fa.io, &trace), 0);
      ASSERT_EQ(Vocrel_RNR_Apply(b.handle, &fb.io, nullptr), 0);
      EXPECT_EQ(fa.out0, fb.out0);
      EXPECT_EQ(fa.out1, fb.out1);
    }
  }
}

TEST(Apply, FrameCountersWrap) {
  {  // environment-noise: beyond 0xFFFFFFA0 the count restarts at 100
    Instance inst(params_for(8000, 1, 1));
    ASSERT_EQ(inst.status, 0);
    Frame f(80);
    std::uint32_t& cnt = word_at(inst.handle, kPathState + kRnrFrameCntOffset);
    cnt = 4294967199u;
    ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0);
    EXPECT_EQ(cnt, 4294967200u);
    ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0);
    EXPECT_EQ(cnt, 100u);
  }
  {  // floor-noise: reaching 0x0FFFFFFF the count restarts at 1000
    Instance inst(params_for(8000, 1, 0));
    ASSERT_EQ(inst.status, 0);
    Frame f(80);
    std::uint32_t& cnt = word_at(inst.handle, kPathState + kFnrFrameCntOffset);
    ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0);
    EXPECT_EQ(cnt, 1u);
    cnt = 268435453u;
    ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0);
    EXPECT_EQ(cnt, 268435454u);
    ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0);
    EXPECT_EQ(cnt, 1000u);
  }
}

TEST(Apply, ReinitStartsAFreshInstance) {
  for (int mode = 0; mode < 2; ++mode) {
    auto p = params_for(16000, 1, mode);
    Instance inst(p);
    ASSERT_EQ(inst.status, 0);
    const auto fresh = snapshot(inst.handle, kInstanceBytes);
    Frame f(160);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0);
    void* h2 = nullptr;
    ASSERT_EQ(Vocrel_RNR_Init(&h2, inst.block.mem, VOCREL_RNR_MEM_SIZE, &p), 0);
    EXPECT_EQ(h2, inst.handle);
    // Everything the frames changed is back at its start value, except the
    // FFT scratch arrays, which every transform overwrites.
    const auto again = snapshot(inst.handle, kInstanceBytes);
    EXPECT_TRUE(std::equal(again.begin() + kPathState, again.end(), fresh.begin() + kPathState));
  }
}
