// Floor-noise path building blocks at the edge cases their rules name: the
// frame VAD's band pairs, the gain rules and the long-voice judge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "fnr/fnr_internal.h"

namespace {

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

// A group of odd length ends with its last band tested alone: small-peak
// limits 40 for the first band of a pair, 101 for the second and the last.
TEST(FnrFrameVad, PairLimitsAndTheOddLastBand) {
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
