// Floor-noise path building blocks with worked values: pre-filter, framing,
// the frame VAD's hangover machine, the gain rules, the tonal detector and
// the state check.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "api/instance.h"
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

TEST(FnrWinFrame, TransformInputPeakAndLevel) {
  auto st = zero_state(48000);
  FnrChanState& ch = st->chan[0];
  std::vector<int32_t> work(vocrel::kFnrWorkWords, 123);
  int32_t maxAbs = -1;
  int16_t level = 0;
  Samples frame(480, 0);
  FnrWinFrame(st.get(), &ch, frame.data(), sFnrWinCoef_48k, work.data(), &maxAbs, &level);
  EXPECT_EQ(maxAbs, 0);
  EXPECT_EQ(level, -2890);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(work[i], 0) << i;  // padding and imaginary parts cleared

  // A full-scale negative frame after a full-scale positive one.
  std::fill(frame.begin(), frame.end(), 32767);
  FnrWinFrame(st.get(), &ch, frame.data(), sFnrWinCoef_48k, work.data(), &maxAbs, &level);
  std::fill(frame.begin(), frame.end(), -32768);
  FnrWinFrame(st.get(), &ch, frame.data(), sFnrWinCoef_48k, work.data(), &maxAbs, &level);
  EXPECT_EQ(maxAbs, 2 * 32767 * 32767);         // old half at the window peak; w[N] is 32766
  EXPECT_EQ(work[2 * 479], 2 * 32767 * 32767);  // old half, peak of the window
  EXPECT_EQ(work[2 * 480], -2 * 32768 * sFnrWinCoef_48k[480]);  // new half starts at w[N]
  EXPECT_EQ(ch.inHist[0], -32768);
  // E = 480 (1023^2 + 1024^2): 10 log10 E - 90.30 dB in Q5.
  const double e = 480.0 * (1023.0 * 1023 + 1024.0 * 1024);
  EXPECT_NEAR(level, (10 * std::log10(e) - 2958950 / 32768.0) * 32, 2);

  // At 16 kHz the pre-filter's halving is undone in the level (shift 4).
  auto s16 = zero_state(16000);
  Samples f16(160, 4096);
  int16_t l5 = 0, l4 = 0;
  FnrWinFrame(s16.get(), &s16->chan[0], f16.data(), sFnrWinCoef_16k, work.data(), &maxAbs, &l5);
  s16->hpFilterOn = 1;
  FnrWinFrame(s16.get(), &s16->chan[1], f16.data(), sFnrWinCoef_16k, work.data(), &maxAbs, &l4);
  EXPECT_NEAR(l4 - l5, 6.02 * 32, 1);  // every sample doubled: E x 4
}

// Hangover machine: after more than 30 active frames the first noise-judged
// frame resets the counters; it and the next six are reported active.
TEST(FnrFrameVad, HangoverAfterLongActivityAndPairLimits) {
  auto st = zero_state(16000);
  FnrChanState& ch = st->chan[0];
  int32_t flat[73];
  for (int b = 0; b < 73; ++b) {
    flat[b] = 1000;
    ch.bandMin[b] = ch.bandPeak[b] = 1000;
  }
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
  for (int b = 0; b < 73; ++b) {
    g.bandMin[b] = 1;
    g.bandPeak[b] = 100;
  }
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
  for (int b = 0; b < 73; ++b) ch.bandNoise[b] = 1000;
  int16_t ratio[73];
  std::fill(ratio, ratio + 73, int16_t{256});  // gamma = 1
  ratio[5] = 32767;
  st->frameCnt = 1;
  Fnr_CalcTempGain2(st.get(), &ch, ratio);
  EXPECT_NEAR(ch.bandGain[0], 5827, 8);
  // s = 0.99 while sqrt(gamma) <= 1.26; it is approached with weight 0.33.
  EXPECT_EQ(ch.gainCoef[0], 31559);  // 0.33 x 32440 + 0.67 x 31129, truncated
  EXPECT_EQ(ch.bandGain[5], 32767);
  const int16_t target = ch.bandGain[0];
  st->frameCnt = 2;
  ch.bandGain[0] = 32767;
  for (int k = 0; k < 1000; ++k) Fnr_CalcTempGain2(st.get(), &ch, ratio);
  // The truncating Q15 products settle a little low: the weight 8 units below
  // 0.99 and the gain 75 units (1.1 %) below its target.
  EXPECT_EQ(ch.gainCoef[0], 32432);
  EXPECT_EQ(ch.bandGain[0], target - 75);

  for (int b = 0; b < 73; ++b) ch.bandNoise[b] = 0;
  st->frameCnt = 1;
  Fnr_CalcTempGain2(st.get(), &ch, ratio);
  for (int b = 0; b < 73; ++b) EXPECT_GE(ch.bandGain[b], 32760) << b;

  // The narrow floor is 3277 whatever maxNr is.
  auto s8 = zero_state(8000);
  s8->maxNr = 20;
  int32_t mag[73];
  std::fill(mag, mag + 73, 0);
  s8->frameCnt = 1;
  vocrel::fnr::band_gains_narrow(s8.get(), &s8->chan[0], mag);
  for (int b = 0; b < 73; ++b) EXPECT_GE(s8->chan[0].bandGain[b], 3277);
}

// Excess rule (48 kHz): no excess ends at the maxNr floor; a fall of more
// than half switches to the fast weight 0.15.
TEST(FnrGain, ExcessRuleFloorAndFastFall) {
  auto st = zero_state(48000);
  FnrChanState& ch = st->chan[0];
  int32_t mag[73];
  for (int b = 0; b < 73; ++b) {
    mag[b] = 40;
    ch.bandNoise[b] = 50;
    ch.bandGain[b] = 20000;
    ch.bandExcess[b] = 0;
  }
  st->frameCnt = 5;
  vocrel::fnr::band_gains_wide(st.get(), &ch, mag);
  for (int b = 0; b < 73; ++b) {
    EXPECT_EQ(ch.gainCoef[b], 4915);
    EXPECT_EQ(ch.bandGain[b], sFnrMinGain[15 - 2]);  // 0.15 x 20000 is below the floor
  }
  // A large excess over a tiny noise: the Wiener gain saturates near one.
  for (int b = 0; b < 73; ++b) {
    mag[b] = 1000000;
    ch.bandNoise[b] = 3;  // raised to 10 and stored
    ch.bandExcess[b] = 1000000;
  }
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

// Segment correlation: an unchanged spectrum correlates fully inside the
// valley-to-valley segments and leaves bins outside them at zero.
TEST(FnrTonal, SegmentsBetweenValleysCorrelate) {
  FnrTonalState T{};
  int32_t mag[512] = {};
  int16_t logE[128], valleys[128], dev[128] = {}, resid[128] = {};
  EXPECT_EQ(FNR_TonalDet_MiniFreqEnerg(&T, mag, logE, valleys, 3), 0);  // silence: flat -1024
  EXPECT_EQ(logE[77], -1024);
  for (int k = 0; k < 128; ++k) mag[k] = 1000 + 900 * sine1920(k * 1920 / 16) / 32767 + 7 * k;
  FNR_TonalDet_MiniFreqEnerg(&T, mag, logE, valleys, 3);
  const int16_t n = FNR_TonalDet_MiniFreqEnerg(&T, mag, logE, valleys, 3);
  ASSERT_GE(n, 7);
  FNR_TonalDet_EnergDev_Relation(&T, logE, valleys, n, dev, resid, 3);
  std::memcpy(T.prevResid, resid, sizeof resid);
  std::memset(dev, 0, sizeof dev);
  FNR_TonalDet_EnergDev_Relation(&T, logE, valleys, n, dev, resid, 3);
  for (int k = 0; k < 128; ++k) {
    const bool inside = k >= valleys[0] && k < valleys[n - 1];
    if (inside) {
      ASSERT_GE(dev[k], 32000) << k;
    } else {
      ASSERT_EQ(dev[k], 0) << k;
    }
  }
  // The smoother does nothing until the detector is primed.
  int16_t strong = 0;
  int32_t sum = 0;
  EXPECT_EQ(FNR_EngerDev_Smooth(&T, dev, 29491, &strong, 3, &sum), 0);
  EXPECT_EQ(T.devSm[valleys[0]], 0);
}

TEST(FnrState, InitCheckAndNewTunables) {
  vocrel_test::Instance f(vocrel_test::params_for(16000, 2));
  FnrState* st = &f.at<FnrState>(vocrel::kPathStateOffset);
  EXPECT_EQ(st->fftLen, 512);
  EXPECT_EQ(st->winLen, 320);
  EXPECT_EQ(std::memcmp(st->initTag, "ITIV", 4), 0);
  EXPECT_EQ(st->chan[1].hp.coefA, vocrel::kTable16k);
  EXPECT_EQ(st->chan[1].tonal.devThr, 2621440);
  EXPECT_EQ(st->chan[1].bandFloor[72], 1000000);
  EXPECT_EQ(FnrCheckState(st, 16000, 2), 0);
  EXPECT_EQ(FnrCheckState(st, 8000, 2), -5);
  EXPECT_EQ(FnrCheckState(st, 16000, 1), -5);
  st->fftSpec += 8;
  EXPECT_EQ(FnrCheckState(st, 16000, 2), -5);
  st->fftSpec -= 8;
  st->initCheck = 0;
  EXPECT_EQ(FnrCheckState(st, 16000, 2), -5);

  // New tunables take effect without touching the adaptive state.
  Vocrel_RNR_Params p = vocrel_test::params_for(16000, 2);
  p.maxNr = 7;
  p.levelThrDb = -70;
  const int32_t noise = st->chan[0].bandNoise[3];
  FnrSetParams(st, &p);
  EXPECT_EQ(st->maxNr, 7);
  EXPECT_EQ(st->levelThrDb, -70);
  EXPECT_EQ(st->chan[0].bandNoise[3], noise);
}

}  // namespace
