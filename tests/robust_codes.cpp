// Every status code of every entry point, each from its documented cause and,
// where several faults meet, from the check that comes first. A failing call
// writes nothing: not the instance, not the caller's records or buffers (a
// mode-1 frame counter is the one thing counted before its channel's check).
// The table as a whole must reach every code the API defines except -23,
// which needs an FFT set-up to fail and no accepted configuration can make
// one fail.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <vector>

#include "api_test_util.h"

using namespace vocrel_test;

namespace {

constexpr std::size_t kInstanceBytes = 28256;
constexpr std::size_t kEndGuard = 28252;
constexpr std::size_t kRnrChan[2] = {14528, 21388};
constexpr std::size_t kRnrFrameCnt = 2260;
constexpr std::size_t kRnrClosingGuard8k = 5704;   // after gainBin, 8 kHz layout
constexpr std::size_t kRnrClosingGuard16k = 6856;  // after gainBin, 16 kHz layout: the last word
constexpr std::size_t kFnrInitCheck = 14528 + 11732;

std::uint32_t& word_at(void* handle, std::size_t byte) {
  return *reinterpret_cast<std::uint32_t*>(static_cast<char*>(handle) + byte);
}

// A valid instance, a valid frame for it, a trace record and scratch records,
// all of which a failing call must leave alone.
struct Fixture {
  Fixture(std::int32_t rate, std::int32_t channels, std::int32_t mode)
      : inst(params_for(rate, channels, mode)),
        n(inst.frame_len()),
        in0(n, 300),
        in1(n, -300),
        out0(n, 7),
        out1(n, 7) {
    io = {in0.data(), in1.data(), n, out0.data(), out1.data()};
    trace.base = 40;
    trace.count = 3;
    std::memset(&record, 0x5C, sizeof record);
    params = inst.params;
  }
  void break_magic() { word_at(inst.handle, 12) ^= 0x10; }
  // Plants a fault in the instance, then records what a failing call must
  // leave as it is.
  void plant(std::size_t byte, std::uint32_t value) {
    word_at(inst.handle, byte) = value;
    arm();
  }
  void arm() {
    instBefore = snapshot(inst.handle, kInstanceBytes);
    traceBefore = snapshot(&trace, sizeof trace);
  }
  std::vector<std::uint8_t> instBefore, traceBefore;
  Instance inst;
  std::uint32_t n;
  std::vector<std::int16_t> in0, in1, out0, out1;
  Vocrel_RNR_FrameIo io;
  Vocrel_RNR_TraceRec trace{};
  Vocrel_RNR_Params record;  // GetParams output
  Vocrel_RNR_Params params;  // Init / SetParams input
  Vocrel_RNR_MemInfo info{11, 22, 33};
  Vocrel_RNR_StreamCfg stream{8000, 1, 0};
};

struct Case {
  const char* entry;
  std::int32_t code;
  const char* cause;
  std::int32_t rate, channels, mode;
  std::function<std::int32_t(Fixture&)> call;
  bool countsFirstChannel = false;  // mode-1 guard failure: channel 0 counted
};

std::int32_t init_with(Fixture& f, std::uint32_t size, bool nullHandle = false,
                       bool nullMem = false, bool nullParams = false) {
  Block b(VOCREL_RNR_MEM_SIZE, 3);
  const auto before = snapshot(b.mem, VOCREL_RNR_MEM_SIZE);
  void* h = &f;
  const std::int32_t rc = Vocrel_RNR_Init(nullHandle ? nullptr : &h, nullMem ? nullptr : b.mem,
                                          size, nullParams ? nullptr : &f.params);
  EXPECT_EQ(snapshot(b.mem, VOCREL_RNR_MEM_SIZE), before) << "Init wrote into the block";
  EXPECT_EQ(h, static_cast<void*>(&f)) << "Init stored a handle";
  return rc;
}

constexpr std::uint32_t kSize = VOCREL_RNR_MEM_SIZE;

// Each call reads as one expression: set up the faults (comma operator), then
// make the call whose status is checked.
const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      // GetSize: output record, stream record, then the stream check.
      {"GetSize", -10, "both records null", 8000, 1, 0,
       [](Fixture&) { return Vocrel_RNR_GetSize(nullptr, nullptr); }},
      {"GetSize", -11, "stream record null", 8000, 1, 0,
       [](Fixture& f) { return Vocrel_RNR_GetSize(&f.info, nullptr); }},
      {"GetSize", -13, "rate 44100, channels 3", 8000, 1, 0,
       [](Fixture& f) {
         return f.stream = {44100, 3, 0}, Vocrel_RNR_GetSize(&f.info, &f.stream);
       }},
      {"GetSize", -14, "channels 0, mode 9", 8000, 1, 0,
       [](Fixture& f) {
         return f.stream = {8000, 0, 9}, Vocrel_RNR_GetSize(&f.info, &f.stream);
       }},
      {"GetSize", -22, "mode -1 at 48000", 8000, 1, 0,
       [](Fixture& f) {
         return f.stream = {48000, 1, -1}, Vocrel_RNR_GetSize(&f.info, &f.stream);
       }},
      {"GetSize", -24, "mode 1 at 48000", 8000, 1, 0,
       [](Fixture& f) {
         return f.stream = {48000, 2, 1}, Vocrel_RNR_GetSize(&f.info, &f.stream);
       }},

      // Init: pointers, stream check, tunables check, then the size.
      {"Init", -1, "every pointer null", 8000, 1, 0,
       [](Fixture& f) { return init_with(f, 0, true, true, true); }},
      {"Init", -2, "block and tunables null", 8000, 1, 0,
       [](Fixture& f) { return init_with(f, 0, false, true, true); }},
      {"Init", -7, "tunables null, size 0", 8000, 1, 0,
       [](Fixture& f) { return init_with(f, 0, false, false, true); }},
      {"Init", -13, "rate 0 with maxNr 0", 8000, 1, 0,
       [](Fixture& f) { return f.params.sampleRate = 0, f.params.maxNr = 0, init_with(f, kSize); }},
      {"Init", -14, "channels -1 with maxNr 0", 8000, 1, 0,
       [](Fixture& f) { return f.params.channels = -1, f.params.maxNr = 0, init_with(f, kSize); }},
      {"Init", -22, "mode 2 with maxNr 0", 8000, 1, 0,
       [](Fixture& f) { return f.params.mode = 2, f.params.maxNr = 0, init_with(f, kSize); }},
      {"Init", -24, "mode 1 at 48000 with maxNr 0", 48000, 1, 0,
       [](Fixture& f) { return f.params.mode = 1, f.params.maxNr = 0, init_with(f, kSize); }},
      {"Init", -15, "maxNr 21 with hpFilterOn 2, size 0", 8000, 1, 0,
       [](Fixture& f) { return f.params.maxNr = 21, f.params.hpFilterOn = 2, init_with(f, 0); }},
      {"Init", -16, "hpFilterOn -1 with levelThrDb 0", 8000, 1, 0,
       [](Fixture& f) {
         return f.params.hpFilterOn = -1, f.params.levelThrDb = 0, init_with(f, kSize);
       }},
      {"Init", -19, "levelThrDb -81 with levelAdaptOff 2", 8000, 1, 0,
       [](Fixture& f) {
         return f.params.levelThrDb = -81, f.params.levelAdaptOff = 2, init_with(f, kSize);
       }},
      {"Init", -20, "levelAdaptOff -1 with vadBandThr 0", 8000, 1, 0,
       [](Fixture& f) {
         return f.params.levelAdaptOff = -1, f.params.vadBandThr = 0, init_with(f, kSize);
       }},
      {"Init", -21, "vadBandThr 44, size 28263", 8000, 1, 0,
       [](Fixture& f) { return f.params.vadBandThr = 44, init_with(f, kSize - 1); }},
      {"Init", -3, "size 28263", 8000, 1, 0, [](Fixture& f) { return init_with(f, kSize - 1); }},

      // Apply: handle, magic, descriptor, channel pointers, length, guards.
      {"Apply", -1, "null handle and descriptor", 8000, 2, 1,
       [](Fixture& f) { return Vocrel_RNR_Apply(nullptr, nullptr, &f.trace); }},
      {"Apply", -4, "magic with null descriptor", 8000, 2, 1,
       [](Fixture& f) {
         return f.break_magic(), f.arm(), Vocrel_RNR_Apply(f.inst.handle, nullptr, &f.trace);
       }},
      {"Apply", -8, "null descriptor", 8000, 2, 0,
       [](Fixture& f) { return Vocrel_RNR_Apply(f.inst.handle, nullptr, &f.trace); }},
      {"Apply", -17, "channel 1 input null, wrong length", 16000, 2, 0,
       [](Fixture& f) {
         return f.io.inCh1 = nullptr, f.io.frameLen = 80,
                Vocrel_RNR_Apply(f.inst.handle, &f.io, &f.trace);
       }},
      {"Apply", -18, "channel 0 output null before channel 1 input", 16000, 2, 1,
       [](Fixture& f) {
         return f.io.outCh0 = nullptr, f.io.inCh1 = nullptr,
                Vocrel_RNR_Apply(f.inst.handle, &f.io, &f.trace);
       }},
      {"Apply", -9, "length 0 with a broken head guard", 48000, 1, 0,
       [](Fixture& f) {
         return f.io.frameLen = 0, f.plant(0, 0), Vocrel_RNR_Apply(f.inst.handle, &f.io, &f.trace);
       }},
      {"Apply", -5, "end guard", 48000, 2, 0,
       [](Fixture& f) {
         return f.plant(kEndGuard, 0xEAAAAAAA), Vocrel_RNR_Apply(f.inst.handle, &f.io, &f.trace);
       }},
      {"Apply", -5, "floor-noise check value", 16000, 1, 0,
       [](Fixture& f) {
         return f.plant(kFnrInitCheck, 24937), Vocrel_RNR_Apply(f.inst.handle, &f.io, nullptr);
       }},
      {"Apply", -5, "closing guard of channel state 0, 8 kHz", 8000, 1, 1,
       [](Fixture& f) {
         return f.plant(kRnrChan[0] + kRnrClosingGuard8k, 0x6AAAAAAB),
                Vocrel_RNR_Apply(f.inst.handle, &f.io, nullptr);
       },
       true},
      {"Apply", -5, "closing guard of channel state 0, 16 kHz", 16000, 2, 1,
       [](Fixture& f) {
         return f.plant(kRnrChan[0] + kRnrClosingGuard16k, 0),
                Vocrel_RNR_Apply(f.inst.handle, &f.io, nullptr);
       },
       true},

      // GetParams and SetParams: handle, record, magic, then their checks.
      {"GetParams", -1, "null handle and record", 8000, 1, 0,
       [](Fixture&) { return Vocrel_RNR_GetParams(nullptr, nullptr); }},
      {"GetParams", -7, "null record with broken magic", 8000, 1, 0,
       [](Fixture& f) {
         return f.break_magic(), f.arm(), Vocrel_RNR_GetParams(f.inst.handle, nullptr);
       }},
      {"GetParams", -4, "broken magic", 8000, 1, 1,
       [](Fixture& f) {
         return f.break_magic(), f.arm(), Vocrel_RNR_GetParams(f.inst.handle, &f.record);
       }},
      {"SetParams", -1, "null handle and record", 8000, 1, 0,
       [](Fixture&) { return Vocrel_RNR_SetParams(nullptr, nullptr); }},
      {"SetParams", -7, "null record with broken magic", 8000, 1, 0,
       [](Fixture& f) {
         return f.break_magic(), f.arm(), Vocrel_RNR_SetParams(f.inst.handle, nullptr);
       }},
      {"SetParams", -4, "broken magic with another rate", 8000, 1, 0,
       [](Fixture& f) {
         return f.break_magic(), f.arm(), f.params.sampleRate = 16000,
                                          Vocrel_RNR_SetParams(f.inst.handle, &f.params);
       }},
      {"SetParams", -12, "mode changed, maxNr 0", 16000, 2, 1,
       [](Fixture& f) {
         return f.params.mode = 0, f.params.maxNr = 0,
                Vocrel_RNR_SetParams(f.inst.handle, &f.params);
       }},
      {"SetParams", -15, "maxNr 1 with hpFilterOn 3", 8000, 2, 1,
       [](Fixture& f) {
         return f.params.maxNr = 1, f.params.hpFilterOn = 3,
                Vocrel_RNR_SetParams(f.inst.handle, &f.params);
       }},
      {"SetParams", -16, "hpFilterOn 2 with levelThrDb -10", 48000, 1, 0,
       [](Fixture& f) {
         return f.params.hpFilterOn = 2, f.params.levelThrDb = -10,
                Vocrel_RNR_SetParams(f.inst.handle, &f.params);
       }},
      {"SetParams", -19, "levelThrDb -19 with vadBandThr 0 (mode 1 never reads it)", 8000, 1, 1,
       [](Fixture& f) {
         return f.params.levelThrDb = -19, f.params.vadBandThr = 0,
                Vocrel_RNR_SetParams(f.inst.handle, &f.params);
       }},
      {"SetParams", -20, "levelAdaptOff 2 with vadBandThr 100", 16000, 1, 0,
       [](Fixture& f) {
         return f.params.levelAdaptOff = 2, f.params.vadBandThr = 100,
                Vocrel_RNR_SetParams(f.inst.handle, &f.params);
       }},
      {"SetParams", -21, "vadBandThr INT32_MIN", 16000, 1, 1,
       [](Fixture& f) {
         return f.params.vadBandThr = INT32_MIN, Vocrel_RNR_SetParams(f.inst.handle, &f.params);
       }},

      {"GetVersion", -6, "null output", 8000, 1, 0,
       [](Fixture&) { return Vocrel_RNR_GetVersion(nullptr); }},
  };
  return all;
}

}  // namespace

TEST(Codes, EveryCodeFromItsCauseWritesNothing) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(std::string(c.entry) + " " + std::to_string(c.code) + ": " + c.cause);
    Fixture f(c.rate, c.channels, c.mode);
    ASSERT_EQ(f.inst.status, 0);
    f.arm();
    const auto record = snapshot(&f.record, sizeof f.record);
    const auto info = snapshot(&f.info, sizeof f.info);
    const auto in0 = f.in0, in1 = f.in1;
    EXPECT_EQ(c.call(f), c.code);

    const auto& inst = f.instBefore;
    auto after = snapshot(f.inst.handle, kInstanceBytes);
    if (c.countsFirstChannel) {
      // The failing channel was counted before its guard was checked.
      const std::size_t cnt = kRnrChan[0] + kRnrFrameCnt;
      EXPECT_EQ(word_at(f.inst.handle, cnt), 1u);
      std::memcpy(after.data() + cnt, inst.data() + cnt, 4);
    }
    EXPECT_TRUE(after == inst) << "the instance changed";
    EXPECT_EQ(f.out0, std::vector<std::int16_t>(f.n, 7));
    EXPECT_EQ(f.out1, std::vector<std::int16_t>(f.n, 7));
    EXPECT_EQ(f.in0, in0);
    EXPECT_EQ(f.in1, in1);
    EXPECT_EQ(snapshot(&f.record, sizeof f.record), record);
    EXPECT_EQ(snapshot(&f.info, sizeof f.info), info);
    // Apply clears a given trace record only once every check has passed;
    // a mode-1 guard failure may come after the clear.
    if (!c.countsFirstChannel) {
      EXPECT_EQ(snapshot(&f.trace, sizeof f.trace), f.traceBefore);
    }
  }
}

TEST(Codes, TableReachesEveryCodeButFftFailure) {
  std::set<std::int32_t> reached;
  for (const Case& c : cases()) reached.insert(c.code);
  for (std::int32_t code = -1; code >= -24; --code) {
    if (code == VOCREL_RNR_E_FFT_INIT) {
      EXPECT_FALSE(reached.count(code)) << "an FFT set-up failure became reachable";
    } else {
      EXPECT_TRUE(reached.count(code)) << "no input reaches " << code;
    }
  }
}

TEST(Codes, SecondChannelClosingGuard) {
  for (std::int32_t rate : {8000, 16000}) {
    const std::size_t guard =
        kRnrChan[1] + (rate == 8000 ? kRnrClosingGuard8k : kRnrClosingGuard16k);
    {  // stereo: channel 0 runs and is written, then channel 1 fails
      Fixture f(rate, 2, 1);
      ASSERT_EQ(f.inst.status, 0);
      word_at(f.inst.handle, guard) = 0;
      const auto ch1 = snapshot(static_cast<char*>(f.inst.handle) + kRnrChan[1], 6860);
      EXPECT_EQ(Vocrel_RNR_Apply(f.inst.handle, &f.io, nullptr), -5) << rate;
      EXPECT_NE(f.out0, std::vector<std::int16_t>(f.n, 7));
      EXPECT_EQ(f.out1, std::vector<std::int16_t>(f.n, 7));
      auto ch1After = snapshot(static_cast<char*>(f.inst.handle) + kRnrChan[1], 6860);
      EXPECT_EQ(word_at(f.inst.handle, kRnrChan[1] + kRnrFrameCnt), 1u);
      std::memcpy(ch1After.data() + kRnrFrameCnt, ch1.data() + kRnrFrameCnt, 4);
      EXPECT_EQ(ch1After, ch1) << "only the counter of the failing channel moves";
    }
    {  // mono: the second state is neither counted nor checked
      Fixture f(rate, 1, 1);
      ASSERT_EQ(f.inst.status, 0);
      word_at(f.inst.handle, guard) = 0;
      f.io.inCh1 = nullptr;
      f.io.outCh1 = nullptr;
      EXPECT_EQ(Vocrel_RNR_Apply(f.inst.handle, &f.io, nullptr), 0) << rate;
      EXPECT_EQ(word_at(f.inst.handle, kRnrChan[1] + kRnrFrameCnt), 0u);
    }
  }
}
