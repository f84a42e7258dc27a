// Every status code of every entry point, each from its documented cause and,
// where several faults meet, from the check that comes first. A failing call
// writes nothing: not the instance, not the caller's records or buffers (a
// mode-1 frame counter is the one thing counted before its channel's check).
// The table must reach every code the API defines except -23, which is unused:
// the FFT set-ups cannot fail. The exported stages that follow a state's FFT
// references, called directly on a state Apply would refuse, write nothing.
// Frame counters at their wrap points.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "fnr/fnr.h"
#include "rnr/rnr.h"
#include "rnr/rnr_state.h"
#include "signals.h"
#include "test_util.h"

using namespace vocrel_test;

namespace {

constexpr std::size_t kRnrChan0Count = 14528 + 2260;
constexpr std::uint32_t kSize = VOCREL_RNR_MEM_SIZE;
// Words of the tunables record.
constexpr int kMaxNr = 0, kHp = 1, kThr = 2, kAdapt = 3, kBand = 4, kRate = 12, kCh = 13,
              kMode = 14;
// The tunables' ranges: one past each end is refused.
constexpr int kNrLo = VOCREL_RNR_MAX_NR_MIN, kNrHi = VOCREL_RNR_MAX_NR_MAX;
constexpr int kThrLo = VOCREL_RNR_LEVEL_THR_MIN, kThrHi = VOCREL_RNR_LEVEL_THR_MAX;
constexpr int kBandLo = VOCREL_RNR_VAD_BAND_THR_MIN;

// A tunables word set before the call (word -1: none).
struct Edit {
  int word;
  std::int32_t value;
};
constexpr Edit kNoEdit{-1, 0};

// A valid instance, a valid frame for it, a trace record and scratch records,
// all of which a failing call must leave alone.
struct Fixture {
  Fixture(std::int32_t rate, std::int32_t channels, std::int32_t mode)
      : inst(params_for(rate, channels, mode)),
        in0(inst.frame_len(), 300),
        in1(inst.frame_len(), -300),
        out0(inst.frame_len(), 7),
        out1(out0) {
    io = {in0.data(), in1.data(), inst.frame_len(), out0.data(), out1.data()};
    trace.base = 40;
    trace.count = 3;
    std::memset(&record, 0x5C, sizeof record);
    params = inst.params;
  }
  void edit(Edit e) {
    if (e.word >= 0) reinterpret_cast<std::int32_t*>(&params)[e.word] = e.value;
  }
  std::int32_t apply() { return Vocrel_RNR_Apply(inst.handle, &io, &trace); }
  std::int32_t apply(std::nullptr_t) { return Vocrel_RNR_Apply(inst.handle, nullptr, &trace); }
  std::int32_t size(std::int32_t rate, std::int32_t ch, std::int32_t mode) {
    stream = {rate, ch, mode};
    return Vocrel_RNR_GetSize(&info, &stream);
  }
  // Init into a fresh block, which must stay as it was, as must the handle.
  std::int32_t init(std::uint32_t size, int nulls = 0) {
    Block b(kSize, 3);
    const auto before = snapshot(b.mem, kSize);
    void* h = this;
    const std::int32_t rc =
        Vocrel_RNR_Init((nulls & 1) ? nullptr : &h, (nulls & 2) ? nullptr : b.mem, size,
                        (nulls & 4) ? nullptr : &params);
    EXPECT_EQ(snapshot(b.mem, kSize), before) << "Init wrote into the block";
    EXPECT_EQ(h, static_cast<void*>(this)) << "Init stored a handle";
    return rc;
  }
  Instance inst;
  std::vector<std::int16_t> in0, in1, out0, out1;
  Vocrel_RNR_FrameIo io;
  Vocrel_RNR_TraceRec trace{};
  Vocrel_RNR_Params record;  // GetParams output
  Vocrel_RNR_Params params;  // Init / SetParams input
  Vocrel_RNR_MemInfo info{11, 22, 33};
  Vocrel_RNR_StreamCfg stream{8000, 1, 0};
};

struct Config {
  std::int32_t rate, channels, mode;
};
constexpr Config k8{8000, 1, 0}, k8s{8000, 2, 0}, k8s1{8000, 2, 1}, k8r{8000, 1, 1},
    k16s{16000, 2, 0}, k16s1{16000, 2, 1}, k16{16000, 1, 0}, k16r{16000, 1, 1}, k48{48000, 1, 0},
    k48s{48000, 2, 0};
// A word planted in the instance before the call (kNone, at an odd byte: none):
// the magic with one bit flipped, the head and end guards, the header's
// stream words, the floor-noise check value, channel 0's closing guard.
struct Plant {
  std::uint32_t at, value;
};
constexpr Plant kNone{1, 0}, kMagic{12, 0x414E5259}, kHead{0, 0}, kHeadBit{0, 0x6AAAAAAB},
    kEnd{28252, 0xEAAAAAAA}, kRateWord{64, 48000}, kChannelsWord{68, 3},
    kFnrCheck{14528 + 11732, 24937}, kClosing8{14528 + 5704, 0x6AAAAAAB},
    kClosing16{14528 + 6856, 0};

using F = Fixture&;
using Call = std::int32_t (*)(F);
std::int32_t init(F f) { return f.init(kSize); }
std::int32_t init0(F f) { return f.init(0); }
std::int32_t init_short(F f) { return f.init(kSize - 1); }
std::int32_t set(F f) { return Vocrel_RNR_SetParams(f.inst.handle, &f.params); }
std::int32_t apply(F f) { return f.apply(); }

struct Case {
  std::int32_t code;
  const char* cause;
  Config cfg;
  Call call;
  Plant plant = kNone;
  Edit e1 = kNoEdit, e2 = kNoEdit;
};

// Each entry point checks pointers first, then the magic, then its records.
const Case kCases[] = {
    {-10, "GetSize: both null", k8, [](F) { return Vocrel_RNR_GetSize(nullptr, nullptr); }},
    {-11, "GetSize: stream null", k8, [](F f) { return Vocrel_RNR_GetSize(&f.info, nullptr); }},
    {-13, "GetSize: rate 44100, channels 3", k8, [](F f) { return f.size(44100, 3, 0); }},
    {-14, "GetSize: channels 0, mode 9", k8, [](F f) { return f.size(8000, 0, 9); }},
    {-22, "GetSize: mode -1", k8, [](F f) { return f.size(48000, 1, -1); }},
    {-24, "GetSize: mode 1 at 48000", k8, [](F f) { return f.size(48000, 2, 1); }},
    {-1, "Init: every pointer null", k8, [](F f) { return f.init(0, 7); }},
    {-2, "Init: block and tunables null", k8, [](F f) { return f.init(0, 6); }},
    {-7, "Init: tunables null, size 0", k8, [](F f) { return f.init(0, 4); }},
    {-13, "Init: rate 0, maxNr 0", k8, init, kNone, {kRate, 0}, {kMaxNr, 0}},
    {-24, "Init: mode 1 at 48000, maxNr 0", k48, init, kNone, {kMode, 1}, {kMaxNr, 0}},
    {-15, "Init: maxNr high, hp 2, size 0", k8, init0, kNone, {kMaxNr, kNrHi + 1}, {kHp, 2}},
    {-16, "Init: hpFilterOn -1, levelThrDb 0", k8, init, kNone, {kHp, -1}, {kThr, 0}},
    {-19, "Init: levelThrDb low, adapt 2", k8, init, kNone, {kThr, kThrLo - 1}, {kAdapt, 2}},
    {-20, "Init: levelAdaptOff -1, vadBandThr 0", k8, init, kNone, {kAdapt, -1}, {kBand, 0}},
    {-21, "Init: vadBandThr low, size one short", k8, init_short, kNone, {kBand, kBandLo - 1}},
    {-3, "Init: size one short", k8, init_short},
    {-1, "Apply: null handle", k8s1,
     [](F f) { return Vocrel_RNR_Apply(nullptr, nullptr, &f.trace); }},
    {-4, "Apply: magic, null descriptor", k8s1, [](F f) { return f.apply(nullptr); }, kMagic},
    {-8, "Apply: null descriptor", k8, [](F f) { return f.apply(nullptr); }},
    {-17, "Apply: channel 1 input null, length 80", k16s,
     [](F f) { return f.io.inCh1 = nullptr, f.io.frameLen = 80, f.apply(); }},
    {-18, "Apply: channel 0 output null, then channel 1 input", k16s1,
     [](F f) { return f.io.outCh0 = nullptr, f.io.inCh1 = nullptr, f.apply(); }},
    {-17, "Apply: channel 0 input null", k8s, [](F f) { return f.io.inCh0 = nullptr, f.apply(); }},
    {-18, "Apply: channel 1 output null", k8s,
     [](F f) { return f.io.outCh1 = nullptr, f.apply(); }},
    {-9, "Apply: length 160 at 8 kHz", k8s1, [](F f) { return f.io.frameLen = 160, f.apply(); }},
    {-9, "Apply: length 0, broken head guard", k48,
     [](F f) { return f.io.frameLen = 0, f.apply(); }, kHead},
    {-5, "Apply: head guard, one bit", k8s1, apply, kHeadBit},
    {-5, "Apply: header rate word", k8s, apply, kRateWord},
    {-5, "Apply: header channels word", k8s1, apply, kChannelsWord},
    {-5, "Apply: end guard", k48s, apply, kEnd},
    {-5, "Apply: floor-noise check value", k16, apply, kFnrCheck},
    {-5, "Apply: channel 0 closing guard, 8 kHz", k8r, apply, kClosing8},
    {-5, "Apply: channel 0 closing guard, 16 kHz", k16s1, apply, kClosing16},
    {-7, "GetParams: null record, broken magic", k8,
     [](F f) { return Vocrel_RNR_GetParams(f.inst.handle, nullptr); }, kMagic},
    {-4, "GetParams: broken magic", k8r,
     [](F f) { return Vocrel_RNR_GetParams(f.inst.handle, &f.record); }, kMagic},
    {-1, "SetParams: null handle", k8, [](F) { return Vocrel_RNR_SetParams(nullptr, nullptr); }},
    {-7, "SetParams: null record, broken magic", k8,
     [](F f) { return Vocrel_RNR_SetParams(f.inst.handle, nullptr); }, kMagic},
    {-4, "SetParams: broken magic, another rate", k8, set, kMagic, {kRate, 16000}},
    {-12, "SetParams: mode changed, maxNr 0", k16s1, set, kNone, {kMode, 0}, {kMaxNr, 0}},
    {-15, "SetParams: maxNr low, hpFilterOn 3", k8s1, set, kNone, {kMaxNr, kNrLo - 1}, {kHp, 3}},
    // vadBandThr is not read in mode 1.
    {-19, "SetParams: levelThrDb high, band 0", k8r, set, kNone, {kThr, kThrHi + 1}, {kBand, 0}},
    {-21, "SetParams: vadBandThr INT32_MIN", k16r, set, kNone, {kBand, INT32_MIN}},
    {-6, "GetVersion: null output", k8, [](F) { return Vocrel_RNR_GetVersion(nullptr); }},
};

TEST(Codes, EveryCodeFromItsCauseWritesNothing) {
  std::set<std::int32_t> reached;
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.code) + " " + c.cause);
    Fixture f(c.cfg.rate, c.cfg.channels, c.cfg.mode);
    ASSERT_EQ(f.inst.status, 0);
    if (c.plant.at != kNone.at) f.inst.at(c.plant.at) = c.plant.value;
    f.edit(c.e1);
    f.edit(c.e2);
    const auto inst = f.inst.bytes(), trace = snapshot(&f.trace, sizeof f.trace);
    const auto record = snapshot(&f.record, sizeof f.record),
               info = snapshot(&f.info, sizeof f.info);
    const auto in0 = f.in0, in1 = f.in1;
    EXPECT_EQ(c.call(f), c.code);
    reached.insert(c.code);

    auto after = f.inst.bytes();
    if (c.cfg.mode == 1 && c.plant.at > kRnrChan0Count) {
      // The failing channel was counted before its guard was checked; the
      // trace record may have been cleared before that.
      EXPECT_EQ(f.inst.at(kRnrChan0Count), 1u);
      std::memcpy(after.data() + kRnrChan0Count, inst.data() + kRnrChan0Count, 4);
    } else {
      EXPECT_EQ(snapshot(&f.trace, sizeof f.trace), trace);
    }
    EXPECT_TRUE(after == inst) << "the instance changed";
    EXPECT_EQ(f.out0, std::vector<std::int16_t>(f.inst.frame_len(), 7));
    EXPECT_EQ(f.out1, f.out0);
    EXPECT_EQ(f.in0, in0);
    EXPECT_EQ(f.in1, in1);
    EXPECT_EQ(snapshot(&f.record, sizeof f.record), record);
    EXPECT_EQ(snapshot(&f.info, sizeof f.info), info);
  }
  for (std::int32_t code = -1; code >= -24; --code) {
    EXPECT_EQ(reached.count(code), code == VOCREL_RNR_E_FFT_INIT ? 0u : 1u) << code;
  }
}

// Words that make a path state unusable for a stage: a moved FFT reference, a
// broken guard, a rate no path runs at.
TEST(Codes, StagesCalledDirectlyOnABrokenStateWriteNothing) {
  constexpr std::size_t kPath = 14528, kRnrRefA = 48, kFnrRef = 11720;
  const Samples in(480, 1200);
  for (int mode = 0; mode < 2; ++mode) {
    const std::size_t refAt = kPath + (mode == 0 ? kFnrRef : kRnrRefA);
    const std::size_t rateAt =
        kPath + (mode == 0 ? offsetof(FnrState, sampleRate) : offsetof(RnrChanState, sampleRate));
    for (const auto& [at, value] : {std::pair{refAt, 8u}, std::pair{kPath, 1u}, {rateAt, 44100u}}) {
      if (mode == 0 && at == kPath) continue;  // the floor-noise state opens with data
      Instance inst(params_for(16000, 1, mode));
      for (int k = 0; k < 3; ++k) {
        Samples out(480);
        inst.frame(in.data(), out.data());
      }
      inst.at(at) += value;
      const auto before = inst.bytes();
      alignas(32) static std::int32_t work[4096];
      std::fill(std::begin(work), std::end(work), 5000);
      Samples out(480, 7);
      if (mode == 0) {
        auto* st = &inst.at<FnrState>(kPath);
        const std::int16_t* ins[2] = {in.data(), in.data()};
        std::int16_t* outs[2] = {out.data(), out.data()};
        VocrelFnrProcess(st, ins, outs);
        FnrFrameCore(st, &st->chan[0], work, out.data(), 0, 1000);
      } else {
        auto* st = &inst.at<RnrChanState>(kPath);
        Vocrel_RNR_Process(st, in.data(), out.data(), nullptr);
        std::int32_t p0 = 0, p1 = 0;
        EXPECT_EQ(Vocrel_RNR_CalcSpec_HD(st, work, work + 1024, &p0, &p1, work + 2048, work + 3072),
                  0);
        Vocrel_RNR_CalcValleySpec(st, work, work + 1024, 256, work + 2048, 40, work + 3072);
        EXPECT_EQ(work[3072], 5000);
      }
      EXPECT_TRUE(inst.bytes() == before) << mode << " at " << at;
      EXPECT_EQ(out, Samples(480, 7)) << mode << " at " << at;
    }
  }
}

// Frame counters at their wrap points. Both paths restart their counter past
// every start-up threshold, so an instance whose counter wraps must go on
// exactly as one that merely counted on: same output, bit for bit, and no
// start-up rule re-entered. The one rule that still looks at the restart value
// (the third detector of the environment-noise path waits for frame 101) may
// change the audio only slightly.
constexpr std::size_t kRnrFrameCnt[2] = {kRnrChan0Count, 21388 + 2260};
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
