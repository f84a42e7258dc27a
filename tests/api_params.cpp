// Tunables validation, read-back and change, version record and the dB/gain
// conversion tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "api_test_util.h"

using namespace vocrel_test;

namespace {

struct TunableCase {
  const char* name;
  int word;
  std::int32_t value;
  std::int32_t status;
};

// Boundary values of every validated tunable, including values that only an
// unsigned range test rejects.
const TunableCase kTunableCases[] = {
    {"maxNr 2", 0, 2, 0},
    {"maxNr 20", 0, 20, 0},
    {"maxNr 1", 0, 1, -15},
    {"maxNr 21", 0, 21, -15},
    {"maxNr min", 0, INT32_MIN, -15},
    {"hp 0", 1, 0, 0},
    {"hp 1", 1, 1, 0},
    {"hp 2", 1, 2, -16},
    {"hp -1", 1, -1, -16},
    {"thr -80", 2, -80, 0},
    {"thr -20", 2, -20, 0},
    {"thr -81", 2, -81, -19},
    {"thr -19", 2, -19, -19},
    {"thr max", 2, INT32_MAX, -19},
    {"adapt 0", 3, 0, 0},
    {"adapt 2", 3, 2, -20},
    {"vad 45", 4, 45, 0},
    {"vad 65", 4, 65, 0},
    {"vad 44", 4, 44, -21},
    {"vad 66", 4, 66, -21},
    {"vad3On 2 is not validated", 5, 2, 0},
};

void set_word(Vocrel_RNR_Params& p, int word, std::int32_t v) {
  std::memcpy(reinterpret_cast<std::int32_t*>(&p) + word, &v, sizeof v);
}

}  // namespace

TEST(Params, DefaultRecords) {
  const auto& f = g_Vocrel_RNR_Params_Flr_48k_MONO;
  const auto& e = g_Vocrel_RNR_Params_Env_8k_MONO;
  EXPECT_EQ(sizeof(Vocrel_RNR_Params), 96u);
  EXPECT_EQ(offsetof(Vocrel_RNR_Params, sampleRate), 48u);
  EXPECT_EQ(offsetof(Vocrel_RNR_Params, mode), 56u);
  const std::int32_t flr[15] = {15, 0, -55, 1, 50, 0, 0, 0, 0, 0, 0, 0, 48000, 1, 0};
  const std::int32_t env[15] = {15, 1, -55, 1, 50, 0, 0, 0, 0, 0, 0, 0, 8000, 1, 1};
  for (int w = 0; w < 24; ++w) {
    const auto* fw = reinterpret_cast<const std::int32_t*>(&f);
    const auto* ew = reinterpret_cast<const std::int32_t*>(&e);
    EXPECT_EQ(fw[w], w < 15 ? flr[w] : 0) << "word " << w;
    EXPECT_EQ(ew[w], w < 15 ? env[w] : 0) << "word " << w;
  }
}

TEST(Params, InitAndSetParamsValidateEveryTunable) {
  for (int mode = 0; mode < 2; ++mode) {
    for (const auto& c : kTunableCases) {
      auto p = params_for(16000, 1, mode);
      set_word(p, c.word, c.value);
      Instance inst(p);
      EXPECT_EQ(inst.status, c.status) << c.name << " mode " << mode;

      Instance good(params_for(16000, 1, mode));
      ASSERT_EQ(good.status, 0);
      const auto before = snapshot(good.handle, 28256);
      EXPECT_EQ(Vocrel_RNR_SetParams(good.handle, &p), c.status) << c.name;
      if (c.status != 0) {
        EXPECT_EQ(snapshot(good.handle, 28256), before) << c.name;
      }
    }
  }
}

TEST(Params, StreamCheckOrderAndCodes) {
  struct {
    std::int32_t rate, channels, mode, status;
  } cases[] = {
      {44100, 3, 7, -13},  {16000, 3, 7, -14}, {16000, 0, 0, -14}, {16000, 2, 2, -22},
      {16000, 2, -1, -22}, {48000, 1, 1, -24}, {48000, 2, 0, 0},   {8000, 2, 1, 0},
  };
  for (const auto& c : cases) {
    Vocrel_RNR_StreamCfg s{c.rate, c.channels, c.mode};
    Vocrel_RNR_MemInfo info{1, 2, 3};
    EXPECT_EQ(Vocrel_RNR_GetSize(&info, &s), c.status) << c.rate << " " << c.mode;
    if (c.status != 0) {
      EXPECT_EQ(info.memSize, 1u);  // nothing written on failure
    } else {
      EXPECT_EQ(info.memSize, 28264u);
      EXPECT_EQ(info.inFrameLen, static_cast<std::uint32_t>(c.rate / 100));
      EXPECT_EQ(info.outFrameLen, info.inFrameLen);
    }
    // Init runs the same stream check before the tunables check.
    auto p = params_for(8000, 1, 0);
    p.sampleRate = c.rate;
    p.channels = c.channels;
    p.mode = c.mode;
    p.maxNr = 99;
    Instance inst(p);
    EXPECT_EQ(inst.status, c.status != 0 ? c.status : -15);
  }
}

TEST(Params, SetParamsComparesStreamFieldsFirst) {
  Instance inst(params_for(8000, 2, 1));
  ASSERT_EQ(inst.status, 0);
  auto p = inst.params;
  p.mode = 0;
  p.maxNr = 99;
  EXPECT_EQ(Vocrel_RNR_SetParams(inst.handle, &p), -12);
  p = inst.params;
  p.channels = 1;
  EXPECT_EQ(Vocrel_RNR_SetParams(inst.handle, &p), -12);
  p = inst.params;
  p.sampleRate = 16000;
  EXPECT_EQ(Vocrel_RNR_SetParams(inst.handle, &p), -12);
}

TEST(Params, GetParamsReturnsLastAcceptedValuesOnly) {
  Instance inst(params_for(16000, 2, 0));
  ASSERT_EQ(inst.status, 0);
  auto next = inst.params;
  next.maxNr = 7;
  next.hpFilterOn = 1;
  next.levelThrDb = -33;
  next.levelAdaptOff = 0;
  next.vadBandThr = 61;
  next.vad3On = 1;
  ASSERT_EQ(Vocrel_RNR_SetParams(inst.handle, &next), 0);

  Vocrel_RNR_Params got;
  std::memset(&got, 0x5C, sizeof got);
  ASSERT_EQ(Vocrel_RNR_GetParams(inst.handle, &got), 0);
  const auto* w = reinterpret_cast<const std::uint32_t*>(&got);
  const std::int32_t expect[5] = {7, 1, -33, 0, 61};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(static_cast<std::int32_t>(w[i]), expect[i]);
  EXPECT_EQ(got.sampleRate, 16000);
  EXPECT_EQ(got.channels, 2);
  EXPECT_EQ(got.mode, 0);
  for (int i : {5, 6, 7, 8, 9, 10, 11, 15, 16, 17, 18, 19, 20, 21, 22, 23}) {
    EXPECT_EQ(w[i], 0x5C5C5C5Cu) << "word " << i << " must stay untouched";
  }
}

TEST(Params, NullAndForeignHandles) {
  Vocrel_RNR_Params p = params_for(8000, 1, 0);
  EXPECT_EQ(Vocrel_RNR_GetParams(nullptr, &p), -1);
  EXPECT_EQ(Vocrel_RNR_SetParams(nullptr, &p), -1);
  Instance inst(p);
  ASSERT_EQ(inst.status, 0);
  EXPECT_EQ(Vocrel_RNR_GetParams(inst.handle, nullptr), -7);
  EXPECT_EQ(Vocrel_RNR_SetParams(inst.handle, nullptr), -7);
  inst.words()[3] ^= 1;  // magic
  const auto before = snapshot(inst.handle, 28256);
  Vocrel_RNR_Params got = p;
  EXPECT_EQ(Vocrel_RNR_GetParams(inst.handle, &got), -4);
  EXPECT_EQ(Vocrel_RNR_SetParams(inst.handle, &p), -4);
  EXPECT_EQ(snapshot(inst.handle, 28256), before);
}

TEST(Params, Version) {
  EXPECT_EQ(Vocrel_RNR_GetVersion(nullptr), -6);
  const Vocrel_RNR_Version* v = nullptr;
  ASSERT_EQ(Vocrel_RNR_GetVersion(&v), 0);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(sizeof(Vocrel_RNR_Version), 192u);
  EXPECT_STREQ(v->toolTag, "rvds4.0");
  EXPECT_STREQ(v->verText, "Vocrel Audio V100R002C11 ARM A8 RNR");
  EXPECT_STREQ(v->buildTime, "11:32:19 Jun 19 2015");
  for (std::size_t i = std::strlen(v->verText); i < 64; ++i) EXPECT_EQ(v->verText[i], 0);
}

TEST(Params, ConversionTables) {
  const std::int16_t listed[21] = {32767, 29204, 26028, 23197, 20675, 18426, 16422,
                                   14636, 13045, 11626, 10362, 9235,  8230,  7335,
                                   6538,  5827,  5193,  4628,  4125,  3676,  3276};
  for (int i = 0; i < 21; ++i) {
    EXPECT_EQ(vocrel_rnr_minGainCfg[i], listed[i]) << i;
    EXPECT_EQ(Vocrel_RNR_WtMaxNr(i), listed[i]);
    EXPECT_EQ(Vocrel_RNR_RdMaxNr(listed[i]), i);
    // The rule the table follows, checked in double precision away from ties.
    const double exact = 32768.0 * std::pow(10.0, -i / 20.0);
    EXPECT_EQ(listed[i], std::min(32767, static_cast<int>(std::floor(exact))));
  }
  const std::int16_t factors[8] = {8192, 9830, 11469, 13107, 14746, 16384, 18022, 19661};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(vocrel_rnr_nrFactorCfg[i], factors[i]);
    EXPECT_EQ(Vocrel_RNR_WtNrFactor(i), factors[i]);
    EXPECT_EQ(Vocrel_RNR_RdNrFactor(factors[i]), i);
  }
  EXPECT_EQ(Vocrel_RNR_RdMaxNr(1000), 21);
  EXPECT_EQ(Vocrel_RNR_RdNrFactor(0), 8);
}
