// Floor-noise path building blocks with worked values: pre-filter, framing,
// the frame VAD's hangover machine, the gain rules and the tonal detector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "base/layout.h"
#include "fnr/fnr_internal.h"
#include "signals.h"
#include "test_util.h"

namespace {

using namespace sig;

std::unique_ptr<FnrState> zero_state(int rate) {
  auto st = std::make_unique<FnrState>();
  std::memset(st.get(), 0, sizeof(FnrState));
  st->sampleRate = rate;
  st->channels = 1;
  st->bandNum = 73;
  FnrInitBarkNoise(st.get());
  st->maxNr = 15;
  st->vadBandThr = 50;
  st->levelThrDb = -55;
  return st;
}

// The pre-filter: DC decays to zero, 1 kHz passes at half amplitude, a
// full-scale step saturates its way, a split call continues exactly, and
// without coefficient tables (48 kHz) the input passes unchanged.
TEST(FnrHpFilter, HalfGainPassbandBlocksDcAndKeepsStateAcrossCalls) {
  auto filter = [](vocrel::Ref32 table, const Samples& in, int32_t split = 0) {
    FnrHpState hp{};
    hp.coefA = hp.coefB = table;
    Samples out(in.size());
    FnrHpFilter(&hp, in.data(), split, out.data());
    FnrHpFilter(&hp, in.data() + split, static_cast<int32_t>(in.size()) - split,
                out.data() + split);
    return out;
  };
  for (const vocrel::Ref32 table : {vocrel::kTable8k, vocrel::kTable16k}) {
    const int rate = table * 1000;
    EXPECT_LE(std::abs(filter(table, Samples(rate / 4, 10000)).back()), 1);
    Samples s(rate / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<int16_t>(sine1920(static_cast<int64_t>(i) * 40 * 48000 / rate) / 2);
    const Samples o = filter(table, s);
    EXPECT_NEAR(*std::max_element(o.begin() + s.size() / 2, o.end()), 16383 / 2, 330) << rate;
    EXPECT_EQ(filter(table, s, 37), o);
  }
  Samples step(200, -32768);
  std::fill(step.begin() + 100, step.end(), 32767);
  EXPECT_GT(filter(vocrel::kTable16k, step)[100], 30000);
  EXPECT_EQ(filter(vocrel::kTableNone, step), step);
}

// Hangover machine: after more than 30 active frames the first noise-judged
// frame resets the counters; it and the next six are reported active.
TEST(FnrFrameVad, HangoverAfterLongActivityAndPairLimits) {
  auto st = zero_state(16000);
  FnrChanState& ch = st->chan[0];
  int32_t flat[73];
  std::fill(flat, flat + 73, 1000);
  std::fill(ch.bandMin, ch.bandMin + 73, 1000);
  std::fill(ch.bandPeak, ch.bandPeak + 73, 1000);
  ch.activeRun = 31;
  ch.vadHist = 0;
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(FnrFrameVad(st.get(), &ch, flat), 1) << k;
    EXPECT_EQ(ch.stillNum, 73);
    EXPECT_EQ(ch.hangCnt, k + 1);
    EXPECT_EQ(ch.activeRun, 0u);
  }
  EXPECT_EQ(st->flatBandNum, 73);
  // Hangover spent; the four previous decisions were active, so still 1 ...
  EXPECT_EQ(FnrFrameVad(st.get(), &ch, flat), 1);
  EXPECT_EQ(ch.vadHist & 1, 0);
  // ... and noise once one of them was not.
  for (int k = 0; k < 3; ++k) FnrFrameVad(st.get(), &ch, flat);
  EXPECT_EQ(FnrFrameVad(st.get(), &ch, flat), 0);

  // Small-peak limits: 40 for the first band of a pair, 101 for the second
  // and for the odd last band of a group.
  FnrChanState g{};
  std::fill(g.bandMin, g.bandMin + 73, 1);
  std::fill(g.bandPeak, g.bandPeak + 73, 100);
  FnrStillBandGroup(&g, 0, 512, 56, 73, 17);
  ASSERT_EQ(g.stillNum, 9);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(g.stillList[i], 57 + 2 * i);
  EXPECT_EQ(g.stillList[8], 72);
}

// Ratio rule (8/16 kHz): a band at its noise level gets the full attenuation
// 10^(-maxNr/20), approached with the slow weight 0.99; 42 dB above the noise
// gives unity gain; vanishing noise limits the attenuation to nothing.
TEST(FnrGain, RatioRuleExamples) {
  auto st = zero_state(16000);
  FnrChanState& ch = st->chan[0];
  std::fill(ch.bandNoise, ch.bandNoise + 73, 1000);
  int16_t ratio[73];
  std::fill(ratio, ratio + 73, int16_t{256});  // gamma = 1
  ratio[5] = 32767;
  st->frameCnt = 1;
  Fnr_CalcTempGain2(st.get(), &ch, ratio);
  EXPECT_NEAR(ch.bandGain[0], 5827, 8);
  // s = 0.99 while sqrt(gamma) <= 1.26; it is approached with weight 0.33.
  EXPECT_EQ(ch.gainCoef[0], 31559);  // 0.33 x 32440 + 0.67 x 31129, truncated
  EXPECT_EQ(ch.bandGain[5], 32767);

  std::fill(ch.bandNoise, ch.bandNoise + 73, 0);
  st->frameCnt = 1;
  Fnr_CalcTempGain2(st.get(), &ch, ratio);
  EXPECT_GE(*std::min_element(ch.bandGain, ch.bandGain + 73), 32760);

  // The narrow floor is 3277 whatever maxNr is.
  auto s8 = zero_state(8000);
  s8->maxNr = 20;
  int32_t mag[73] = {};
  s8->frameCnt = 1;
  vocrel::fnr::band_gains_narrow(s8.get(), &s8->chan[0], mag);
  EXPECT_GE(*std::min_element(s8->chan[0].bandGain, s8->chan[0].bandGain + 73), 3277);
}

// Excess rule (48 kHz): no excess ends at the maxNr floor; a fall of more
// than half switches to the fast weight 0.15.
TEST(FnrGain, ExcessRuleFloorAndFastFall) {
  auto st = zero_state(48000);
  FnrChanState& ch = st->chan[0];
  int32_t mag[73];
  std::fill(mag, mag + 73, 40);
  std::fill(ch.bandNoise, ch.bandNoise + 73, 50);
  std::fill(ch.bandGain, ch.bandGain + 73, 20000);
  std::fill(ch.bandExcess, ch.bandExcess + 73, 0);
  st->frameCnt = 5;
  vocrel::fnr::band_gains_wide(st.get(), &ch, mag);
  EXPECT_EQ(ch.gainCoef[72], 4915);
  EXPECT_EQ(ch.bandGain[72], sFnrMinGain[15 - 2]);  // 0.15 x 20000 is below the floor
  // A large excess over a tiny noise (raised to 10): the Wiener gain is near one.
  std::fill(mag, mag + 73, 1000000);
  std::fill(ch.bandNoise, ch.bandNoise + 73, 3);
  std::fill(ch.bandExcess, ch.bandExcess + 73, 1000000);
  st->frameCnt = 1;
  vocrel::fnr::band_gains_wide(st.get(), &ch, mag);
  EXPECT_EQ(ch.bandNoise[0], 10);
  EXPECT_GE(ch.bandGain[0], 32766);
}

// Long-voice judge: hold from the 16th flagged frame; 10 frames of tail after
// a short run, 50 after a run longer than 60; 37 of 40 stable frames hold too.
TEST(FnrTonal, LongVoiceJudgeRunsAndTails) {
  for (int run : {20, 61}) {
    FnrTonalState T{};
    for (int k = 1; k <= run; ++k) EXPECT_EQ(FNR_LongVoiceJudge(&T, 1), k >= 16 ? 1 : 0) << k;
    int tail = 0;
    while (FNR_LongVoiceJudge(&T, 0) == 1 && tail < 100) ++tail;
    EXPECT_EQ(tail, run > 60 ? 50 : 10);
    EXPECT_EQ(T.latched, 0);
  }
  FnrTonalState T{};
  std::memset(T.tonalHist, 1, 36);
  EXPECT_EQ(FNR_LongVoiceJudge(&T, 0), 0);
  T.tonalHist[39] = 1;
  EXPECT_EQ(FNR_LongVoiceJudge(&T, 0), 1);
}

}  // namespace
