// The instance and its tunables: placement and header, trace codes, re-init,
// default records, the range of every validated tunable, stream fields,
// read-back, the version record and the dB/gain conversion tables. Every
// status code from its cause and check order, and the counter wraps, are in
// robust_codes.cpp; the floor-noise trace codes in host_wrapper.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/layout.h"
#include "math/vocrel_math.h"
#include "test_util.h"

using namespace vocrel_test;

namespace {

std::int32_t* words(Vocrel_RNR_Params& p) { return reinterpret_cast<std::int32_t*>(&p); }

TEST(Params, DefaultRecords) {
  static_assert(sizeof(Vocrel_RNR_Params) == 96 && offsetof(Vocrel_RNR_Params, mode) == 56);
  Vocrel_RNR_Params f = g_Vocrel_RNR_Params_Flr_48k_MONO, e = g_Vocrel_RNR_Params_Env_8k_MONO;
  const std::int32_t flr[15] = {15, 0, -55, 1, 50, 0, 0, 0, 0, 0, 0, 0, 48000, 1, 0};
  const std::int32_t env[15] = {15, 1, -55, 1, 50, 0, 0, 0, 0, 0, 0, 0, 8000, 1, 1};
  for (int w = 0; w < 24; ++w) {
    EXPECT_EQ(words(f)[w], w < 15 ? flr[w] : 0) << "word " << w;
    EXPECT_EQ(words(e)[w], w < 15 ? env[w] : 0) << "word " << w;
  }
}

// Both ends of every range the header publishes, one step past each, and a
// far value only an unsigned range test rejects; vad3On (word 5) is not
// validated. A refused SetParams leaves the instance as it was.
TEST(Params, InitAndSetParamsValidateEveryTunable) {
  const struct {
    int word;
    std::int32_t lo, hi, refusal, far;
  } ranges[] = {
      {0, VOCREL_RNR_MAX_NR_MIN, VOCREL_RNR_MAX_NR_MAX, VOCREL_RNR_E_MAX_NR, INT32_MIN},
      {1, 0, 1, VOCREL_RNR_E_HP_FILTER, INT32_MAX},
      {2, VOCREL_RNR_LEVEL_THR_MIN, VOCREL_RNR_LEVEL_THR_MAX, VOCREL_RNR_E_LEVEL_THR, INT32_MAX},
      {3, 0, 1, VOCREL_RNR_E_LEVEL_ADAPT, INT32_MIN},
      {4, VOCREL_RNR_VAD_BAND_THR_MIN, VOCREL_RNR_VAD_BAND_THR_MAX, VOCREL_RNR_E_VAD_BAND_THR,
       INT32_MIN},
  };
  std::vector<std::array<std::int32_t, 3>> cases = {{5, 2, VOCREL_RNR_OK}};
  for (const auto& r : ranges)
    for (const std::int32_t v : {r.lo, r.hi, r.lo - 1, r.hi + 1, r.far})
      cases.push_back({r.word, v, v >= r.lo && v <= r.hi ? VOCREL_RNR_OK : r.refusal});
  for (int mode = 0; mode < 2; ++mode) {
    for (const auto& [word, value, status] : cases) {
      auto p = params_for(16000, 1, mode);
      words(p)[word] = value;
      EXPECT_EQ(Instance(p).status, status) << "word " << word << " = " << value;
      Instance good(params_for(16000, 1, mode));
      const auto before = good.bytes();
      EXPECT_EQ(Vocrel_RNR_SetParams(good.handle, &p), status) << word << " = " << value;
      if (status != 0) {
        EXPECT_EQ(good.bytes(), before);
      }
    }
  }
}

TEST(Params, StreamFields) {
  const std::int32_t ok[][3] = {{48000, 2, 0}, {8000, 2, 1}, {16000, 1, 1}};
  for (const auto& s : ok) {
    Vocrel_RNR_StreamCfg cfg{s[0], s[1], s[2]};
    Vocrel_RNR_MemInfo info{};
    ASSERT_EQ(Vocrel_RNR_GetSize(&info, &cfg), 0);
    EXPECT_EQ(info.memSize, 28264u);
    EXPECT_EQ(info.inFrameLen, static_cast<std::uint32_t>(s[0] / 100));
    EXPECT_EQ(info.outFrameLen, info.inFrameLen);
  }
}

TEST(Params, GetParamsReturnsLastAcceptedValuesOnly) {
  Instance inst(params_for(16000, 2, 0));
  auto next = inst.params;
  const std::int32_t set[6] = {7, 1, -33, 0, 61, 1};
  std::memcpy(&next, set, sizeof set);
  ASSERT_EQ(Vocrel_RNR_SetParams(inst.handle, &next), 0);
  Vocrel_RNR_Params got;
  std::memset(&got, 0x5C, sizeof got);
  ASSERT_EQ(Vocrel_RNR_GetParams(inst.handle, &got), 0);
  for (int w = 0; w < 24; ++w) {
    const std::int32_t want =
        w < 5 ? set[w] : (w == 12 ? 16000 : (w == 13 ? 2 : (w == 14 ? 0 : 0x5C5C5C5C)));
    EXPECT_EQ(words(got)[w], want) << "word " << w;
  }
}

TEST(Params, VersionAndConversionTables) {
  const Vocrel_RNR_Version* v = nullptr;
  ASSERT_EQ(Vocrel_RNR_GetVersion(&v), 0);
  EXPECT_EQ(sizeof(Vocrel_RNR_Version), 192u);
  EXPECT_STREQ(v->toolTag, "rvds4.0");
  EXPECT_STREQ(v->verText, "Vocrel Audio V100R002C11 ARM A8 RNR");
  EXPECT_STREQ(v->buildTime, "11:32:19 Jun 19 2015");
  for (std::size_t i = std::strlen(v->verText); i < 64; ++i) EXPECT_EQ(v->verText[i], 0);

  // Gains floor(2^15 10^(-i/20)) capped at 32767 (3276 at 20 dB); factors
  // 0.25 + 0.05 i in Q15, rounded.
  for (int i = 0; i < 21; ++i) {
    const auto gain = static_cast<std::int16_t>(
        std::min(32767.0, std::floor(32768.0 * std::pow(10.0, -i / 20.0))));
    EXPECT_EQ(vocrel_rnr_minGainCfg[i], gain) << i;
    EXPECT_EQ(Vocrel_RNR_WtMaxNr(i), gain);
    EXPECT_EQ(Vocrel_RNR_RdMaxNr(gain), i);
  }
  for (int i = 0; i < 8; ++i) {
    const auto factor = static_cast<std::int16_t>(std::lround(8192 * (1 + 0.2 * i)));
    EXPECT_EQ(vocrel_rnr_nrFactorCfg[i], factor);
    EXPECT_EQ(Vocrel_RNR_WtNrFactor(i), factor);
    EXPECT_EQ(Vocrel_RNR_RdNrFactor(factor), i);
  }
  EXPECT_EQ(vocrel_rnr_minGainCfg[20], 3276);
  EXPECT_EQ(Vocrel_RNR_RdMaxNr(1000), 21);  // not listed
  EXPECT_EQ(Vocrel_RNR_RdNrFactor(0), 8);

  // Out-of-range indices clamp to the table ends (ASan catches a stray read).
  for (const std::int32_t i : {INT32_MIN, INT32_MIN + 1, -1}) {
    EXPECT_EQ(Vocrel_RNR_WtMaxNr(i), vocrel_rnr_minGainCfg[0]) << i;
    EXPECT_EQ(Vocrel_RNR_WtNrFactor(i), vocrel_rnr_nrFactorCfg[0]) << i;
  }
  for (const std::int32_t i : {21, 22, INT32_MAX}) {
    EXPECT_EQ(Vocrel_RNR_WtMaxNr(i), vocrel_rnr_minGainCfg[20]) << i;
  }
  for (const std::int32_t i : {8, 9, INT32_MAX}) {
    EXPECT_EQ(Vocrel_RNR_WtNrFactor(i), vocrel_rnr_nrFactorCfg[7]) << i;
  }
  for (const std::int32_t v : {INT32_MIN, -1, 32768, INT32_MAX}) {
    EXPECT_EQ(Vocrel_RNR_RdMaxNr(v), 21) << v;
    EXPECT_EQ(Vocrel_RNR_RdNrFactor(v), 8) << v;
  }

  // The exported scalar routines (one symbol under both families' names) take
  // any argument: the sanitizer builds catch a table read out of range, an
  // overflow or an oversized shift.
  const std::int32_t edges[] = {INT32_MIN, INT32_MIN + 1, -65536, -1, 0, 1, 65536, INT32_MAX};
  std::uint64_t sink = 0;
  const auto keep = [&sink](std::int64_t v) { sink = sink * 31 + static_cast<std::uint64_t>(v); };
  for (const std::int32_t a : edges) {
    for (auto f : {Fnr_10xlog10, Fnr_Log2, Vocrel_Fnr_fnExp10, Vocrel_RNR_cos}) keep(f(a));
    keep(Fnr_sqrt_i64_vec(std::int64_t{a} * 65536));
    keep(Fnr_sqrt_i64_vec(std::int64_t{a} * a));
    for (const std::int32_t b : edges) {
      keep(FnrSmoothTwoInt(a, b, a, b));
      keep(FnrSmoothTwoShort(a, b, b, a));
      keep(FnrSmoothThreeInt(a, b, a, b, a, b));
      for (const std::int32_t q : {INT32_MIN, -1, 0, 15, 31, 32, 64, INT32_MAX})
        keep(Fnr_L_divide_Q(a, b, q));
    }
  }
  for (const std::int64_t x : {INT64_MIN, std::int64_t{-1}, std::int64_t{0}, INT64_MAX})
    keep(Fnr_sqrt_i64_vec(x));
  EXPECT_NE(sink, 1u);  // keeps the calls
}

struct Frame {
  explicit Frame(std::uint32_t n) : in0(n, 100), in1(n, -100), out0(n, 7), out1(n, 7) {
    io = {in0.data(), in1.data(), n, out0.data(), out1.data()};
  }
  Samples in0, in1, out0, out1;
  Vocrel_RNR_FrameIo io;
};

TEST(Layout, PlacementAndHeaderWords) {
  for (std::size_t mis : {0u, 1u, 4u, 7u}) {
    Instance inst(params_for(48000), mis);
    ASSERT_EQ(inst.status, 0);
    const auto offset =
        static_cast<std::size_t>(static_cast<std::uint8_t*>(inst.handle) - inst.block.mem);
    EXPECT_EQ(offset, mis == 0 ? 0 : 8 - mis);
    EXPECT_LE(offset + vocrel::kInstanceBytes, VOCREL_RNR_MEM_SIZE);  // one byte to spare at mis 1
  }
  const std::int32_t cases[][4] = {{8000, 1, 0, 80},
                                   {16000, 2, 0, 160},
                                   {48000, 2, 0, 480},
                                   {8000, 2, 1, 80},
                                   {16000, 1, 1, 160}};
  for (const auto& c : cases) {
    auto p = params_for(c[0], c[1], c[2]);
    p.maxNr = 9;
    p.levelThrDb = -44;
    Instance inst(p);
    ASSERT_EQ(inst.status, 0);
    const std::uint32_t want[][2] = {{0, vocrel::kGuard},
                                     {1, std::uint32_t(c[3])},
                                     {2, 28264},
                                     {3, vocrel::kMagic},
                                     {4, 9},
                                     {6, std::uint32_t(-44)},
                                     {16, std::uint32_t(c[0])},
                                     {17, std::uint32_t(c[1])},
                                     {18, std::uint32_t(c[2])},
                                     {7063, vocrel::kGuard}};
    for (const auto& w : want) EXPECT_EQ(inst.at(4 * w[0]), w[1]) << "word " << w[0];
  }
}

// Environment-noise path: code 1 and the driver's 12 codes per channel, the
// last 17. Whether a trace is given changes no output (robust_threads.cpp).
TEST(Apply, TraceCodes) {
  Instance inst(params_for(8000, 2, 1));
  Frame f(80);
  Vocrel_RNR_TraceRec trace{};
  trace.base = 200;
  ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, &trace), 0);
  EXPECT_EQ(trace.count, 26u);
  EXPECT_EQ(trace.base, 200u);
  // Slot (next AND 60) of a cleared record is slot 0 for every write: the
  // count tells how many codes ran, slot 0 holds the last.
  EXPECT_EQ(trace.slot[0], 217u);
  for (int i = 1; i < VOCREL_RNR_TRACE_SLOTS; ++i) EXPECT_EQ(trace.slot[i], 0u) << i;
}

// Everything the frames changed is back at its start value, except the FFT
// scratch arrays, which every transform overwrites.
TEST(Apply, ReinitStartsAFreshInstance) {
  for (int mode = 0; mode < 2; ++mode) {
    Instance inst(params_for(16000, 1, mode));
    const auto fresh = inst.bytes();
    Frame f(160);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0);
    void* h2 = nullptr;
    ASSERT_EQ(Vocrel_RNR_Init(&h2, inst.block.mem, VOCREL_RNR_MEM_SIZE, &inst.params), 0);
    EXPECT_EQ(h2, inst.handle);
    const auto again = inst.bytes();
    EXPECT_TRUE(std::equal(again.begin() + vocrel::kPathStateOffset, again.end(),
                           fresh.begin() + vocrel::kPathStateOffset));
  }
}

}  // namespace
