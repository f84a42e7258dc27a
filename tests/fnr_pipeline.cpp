// End-to-end behaviour of the floor-noise path through the public API, and
// its building blocks at the edge cases their rules name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/layout.h"
#include "fnr/fnr_internal.h"
#include "fnr/fnr_state.h"
#include "signals.h"
#include "test_util.h"

namespace {

using namespace sig;
using vocrel_test::Instance;

constexpr int kRates[] = {8000, 16000, 48000};

Vocrel_RNR_Params params(int rate, int channels = 1, int hp = 0) {
  Vocrel_RNR_Params p = vocrel_test::params_for(rate, channels, 0);
  p.hpFilterOn = hp;
  return p;
}
FnrState& state(const Instance& f) { return f.at<FnrState>(vocrel::kPathStateOffset); }

// Digital silence gives exact silence (level -90.3 dB); full-scale square
// waves saturate everywhere, so the output follows the delayed input's sign
// and never flips to the opposite rail.
TEST(FnrPipeline, SilenceAndFullScale) {
  for (int rate : kRates) {
    const int N = rate / 100;
    for (int hp : {0, 1}) {
      Instance f(params(rate, 2, hp));
      const Samples zero(N * 30, 0);
      Samples o0, o1;
      f.run2(zero, zero, o0, o1);
      EXPECT_EQ(o0, zero) << rate;
      EXPECT_EQ(o1, zero) << rate;
      EXPECT_EQ(state(f).chan[0].levelRing[state(f).chan[0].ringIdx], -2890);
    }
    Instance f(params(rate));  // a high-passed square wave droops across zero by itself
    Samples in(N * 50);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = (i / (N / 4)) % 2 ? -32768 : 32767;
    const Samples out = f.run(in);
    int flips = 0, nearRail = 0;
    for (std::size_t i = 5 * N; i + N < out.size(); ++i) {
      const int pos = static_cast<int>(i % (N / 4));
      if (pos <= N / 16 || pos >= N / 4 - N / 16) continue;
      flips += (in[i] > 0) != (out[i + N] > 0) && std::abs(out[i + N]) > 8192;
      nearRail += std::abs(out[i + N]) > 16384;
    }
    EXPECT_EQ(flips, 0) << rate;
    EXPECT_GT(nearRail, 0) << rate;
  }
}

// A loud broadband signal keeps gains high, so the output is the input
// delayed by one frame: the cross-correlation peaks at exactly N samples (at
// 48 kHz, with gains near one, the samples agree within a few units). The
// first frame only carries what the weighting spreads backwards.
TEST(FnrPipeline, OutputLagsInputByOneFrame) {
  for (int rate : kRates) {
    Instance f(params(rate));
    const Samples in = noise(Colour::White, 6000, rate / 100 * 30, 7), out = f.run(in);
    const std::size_t N = rate / 100;
    std::vector<double> corr(2 * N + 1);
    int worst = 0;
    for (std::size_t i = 10 * N; i + 2 * N < out.size(); ++i) {
      for (std::size_t lag = 0; lag <= 2 * N; ++lag) corr[lag] += double(in[i]) * out[i + lag];
      worst = std::max(worst, std::abs(out[i + N] - in[i]));
    }
    EXPECT_EQ(std::max_element(corr.begin(), corr.end()) - corr.begin(), N) << rate;
    EXPECT_LE(worst, rate == 48000 ? 8 : 32767) << rate;
    EXPECT_LT(gain_db(Samples(in.begin() + N, in.begin() + 2 * N),
                      Samples(out.begin(), out.begin() + N), 0, 0),
              -6);
  }
}

// Stereo runs two independent channels, each equal to a mono instance fed
// the same signal; output written over the input gives the same samples.
TEST(FnrPipeline, StereoChannelsAreIndependentAndInPlaceWorks) {
  for (int rate : kRates) {
    const Samples a =
        add(speech_like(rate, rate / 2, 4000).x, noise(Colour::White, 60, rate / 2, 3));
    const Samples b = noise(Colour::Brown, 300, rate / 2, 4);
    Instance st(params(rate, 2, 1)), ma(params(rate, 1, 1)), mb(params(rate, 1, 1)),
        inplace(params(rate, 2, 1));
    Samples oa, ob, ia = a, ib = b;
    st.run2(a, b, oa, ob);
    EXPECT_EQ(oa, ma.run(a)) << rate;
    EXPECT_EQ(ob, mb.run(b)) << rate;
    for (std::size_t i = 0; i < ia.size(); i += rate / 100)
      inplace.frame(&ia[i], &ia[i], &ib[i], &ib[i]);
    EXPECT_EQ(ia, oa) << rate;
    EXPECT_EQ(ib, ob) << rate;
  }
}

// hpFilterOn changes nothing at 48 kHz and filters at 16 kHz; a new maxNr
// acts from the next frame.
TEST(FnrPipeline, TunablesHighPassAndMaxNr) {
  for (int rate : {16000, 48000}) {
    Instance a(params(rate, 1, 0)), b(params(rate, 1, 1));
    const Samples x = add(speech_like(rate, rate, 3000).x, noise(Colour::Brown, 300, rate, 14));
    EXPECT_EQ(a.run(x) == b.run(x), rate == 48000);
  }
  Instance f(params(16000));
  const Samples n = noise(Colour::White, 20, 16000 * 4, 15);
  const Samples first(n.begin(), n.begin() + 32000), second(n.begin() + 32000, n.end());
  const double g15 = gain_db(first, f.run(first), 160, 16000);
  Vocrel_RNR_Params p = params(16000);
  p.maxNr = 6;
  ASSERT_EQ(Vocrel_RNR_SetParams(f.handle, &p), 0);
  EXPECT_LT(g15, -12.0);
  EXPECT_NEAR(gain_db(second, f.run(second), 160, 16000), -6.0, 1.5);
}

// Start-up by frame count: learning from quiet frames 1..9 (band minima
// capped at 3500), the frame VAD from frame 10, band floor updates from frame
// 11.
TEST(FnrPipeline, StartUpPhasesFollowTheFrameCounter) {
  Instance f(params(16000));
  const FnrChanState& ch = state(f).chan[0];
  std::int32_t noiseBefore = ch.bandNoise[20];
  f.run(noise(Colour::White, 30, 160 * 25, 5), [&](std::size_t k) {
    ASSERT_EQ(state(f).frameCnt, std::int32_t(k));
    EXPECT_TRUE(k != 1 || std::equal(ch.bandPeak, ch.bandPeak + 73, ch.bandMin));
    EXPECT_EQ(ch.stillNum > 0, k > 9) << k;
    EXPECT_TRUE(k > 9 || (ch.bandMin[20] <= 3500 && ch.bandNoise[20] != noiseBefore)) << k;
    EXPECT_TRUE(k > 10 || ch.bandFloor[30] == 1000000) << k;
    noiseBefore = ch.bandNoise[20];
  });
  EXPECT_NE(ch.bandFloor[30], 1000000) << "band updates by frame 25";
}

// A steady tone latches the 48 kHz tonal hold, so it is never learnt as
// noise and keeps its level; at 16 kHz (no tonal detector) the same tone is
// learnt and attenuated.
TEST(FnrPipeline, SteadyToneIsHeldFromNoiseLearningAt48k) {
  for (int rate : {16000, 48000}) {
    const int N = rate / 100;
    Samples tone(static_cast<std::size_t>(N) * 300);
    for (std::size_t i = 0; i < tone.size(); ++i)  // 500 Hz at -18 dBFS
      tone[i] = static_cast<int16_t>(sine1920(static_cast<int64_t>(i) * 20 * 48000 / rate) / 8);
    const Samples in = add(tone, noise(Colour::White, 20, tone.size(), 6));
    Instance f(params(rate));
    const double late = gain_db(in, f.run(in), N, static_cast<std::size_t>(N) * 200);
    const FnrTonalState& T = state(f).chan[0].tonal;
    if (rate == 16000) {
      EXPECT_LT(late, -6.0);
      EXPECT_EQ(T.primed, 0);  // the detector never runs below 48 kHz
      continue;
    }
    EXPECT_NEAR(late, 0.0, 0.5);
    EXPECT_TRUE(T.latched == 1 && T.holdCnt == 50);
  }
}

// State bytes that no check covers are set at random: wrong audio is
// allowed, reading or writing outside the instance is not (ASan/UBSan runs).
TEST(FnrPipeline, CorruptedStateStaysInBounds) {
  for (int rate : kRates) {
    Instance f(params(rate));
    Lcg64 r{static_cast<std::uint64_t>(rate)};
    for (int round = 0; round < 6; ++round) {
      auto* bytes = reinterpret_cast<uint8_t*>(&state(f));
      for (std::size_t i = offsetof(FnrState, bandNum); i < offsetof(FnrState, hpFilterOn); ++i)
        bytes[i] = static_cast<uint8_t>(r.u16());
      state(f).frameCnt = r.u16() * 65536 + r.u16();
      state(f).levelThrDb = static_cast<int16_t>(r.u16());
      f.run(noise(Colour::Pink, 3000, rate / 100 * 3, 9),
            [&](std::size_t) { ASSERT_EQ(f.last, 0); });
    }
  }
}

// Attenuation figures on seeded synthetic signals, one noise colour per
// rate. Quiet noise (-65 dBFS) lies below levelThrDb (-55) and is reduced by
// about maxNr (15 dB); loud noise (-12 dBFS) is hardly touched; voiced speech
// keeps its level while its pauses are reduced. Figures are also given above
// 200 Hz: the lowest bands hold one bin each, where the noise estimate stays
// near the low end of a single bin's spread.
TEST(FnrPipeline, AttenuationOfNoiseAndVoicedSpeech) {
  std::printf("%-6s %-6s %15s %15s %21s %7s\n", "rate", "noise", "-65dBFS all/hp", "-12dBFS all/hp",
              "speech pauses all/hp", "voiced");
  const std::pair<int, Colour> configs[] = {
      {8000, Colour::Brown}, {16000, Colour::White}, {48000, Colour::Pink}};
  for (const auto& [rate, c] : configs) {
    const int N = rate / 100;
    const std::size_t len = static_cast<std::size_t>(rate) * 2;
    const double quiet = 32768 * std::pow(10, -65 / 20.0);
    Instance q(params(rate)), l(params(rate)), s(params(rate));
    const Samples nq = noise(c, quiet, len, 11), oq = q.run(nq);
    const Samples nl = noise(c, 32768 * std::pow(10, -12 / 20.0), len, 12), ol = l.run(nl);
    const double gq = gain_db(nq, oq, N, len / 2), gl = gain_db(nl, ol, N, len / 2);
    const double gqh = gain_db(highpass(nq, rate), highpass(oq, rate), N, len / 2);
    const double glh = gain_db(highpass(nl, rate), highpass(ol, rate), N, len / 2);
    // Speech-like voiced signal after one second of the quiet noise alone.
    const Voiced v = speech_like(rate, len, 6000);
    Samples x(len + rate, 0);
    std::vector<bool> pause(x.size()), voiced(x.size());
    for (std::size_t i = 0; i < len; ++i) {
      x[i + rate] = v.x[i];
      pause[i + rate] = v.pause[i];
      voiced[i + rate] = v.voiced[i];
    }
    const Samples in = add(x, noise(c, quiet, x.size(), 13)), out = s.run(in);
    const double gp = gain_db(in, out, N, 0, &pause), gv = gain_db(in, out, N, 0, &voiced);
    const double gph = gain_db(highpass(in, rate), highpass(out, rate), N, 0, &pause);
    std::printf("%-6d %-6s %7.2f/%7.2f %7.2f/%7.2f %10.2f/%10.2f %7.2f\n", rate, name(c), gq, gqh,
                gl, glh, gp, gph, gv);
    SCOPED_TRACE(std::to_string(rate) + " " + name(c));
    EXPECT_GT(gq, -15.5);  // never beyond the maxNr floor
    EXPECT_LT(gq, -0.9);
    EXPECT_GT(gl, -2.0);
    EXPECT_NEAR(gv, 0.0, 1.0);
    if (c == Colour::White) {
      EXPECT_LT(gq, -12.5);
      EXPECT_GT(gl, gq + 10.0);
      EXPECT_LT(gp, -9.0);
    } else if (c == Colour::Pink) {
      EXPECT_LT(gqh, -12.0);
      EXPECT_GT(glh, gqh + 6.0);
      EXPECT_LT(gph, -7.0);
    } else {
      EXPECT_LT(gqh, -5.0);
      EXPECT_LT(gph, -4.5);
    }
  }
}

// Per-frame working storage lives on the stack and stays below 24 KiB
// (sanitizer builds enlarge frames and are skipped).
TEST(FnrPipeline, StackUseOfOneFrameIsBounded) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "stack depth is not representative under AddressSanitizer";
#endif
  for (int rate : kRates) {
    Instance f(params(rate, 2));
    const Samples in = noise(Colour::Pink, 300, rate / 100, 3);
    Samples o0(in.size()), o1(in.size());
    const std::size_t used =
        vocrel_test::stack_high_water([&] { f.frame(in.data(), o0.data(), in.data(), o1.data()); });
    std::printf("stack of one %d Hz stereo frame: %zu bytes\n", rate, used);
    EXPECT_LT(used, 24u * 1024u) << rate;
    EXPECT_GT(used, 8u * 1024u) << rate;  // the painter did see the frame's buffers
  }
}

// Golden digests of the output for fixed inputs: identical on every target.
TEST(FnrPipeline, GoldenDigests) {
  const struct {
    int rate, channels, hp;
    uint64_t digest;
  } cases[] = {
      {8000, 1, 0, 0x4e7732dd6dc21a61ull},  {8000, 2, 1, 0xbf215849b205b9a9ull},
      {16000, 1, 1, 0x77b1745a8778c5ceull}, {16000, 2, 0, 0xf1a300edf8b1068dull},
      {48000, 1, 0, 0x5bfcfed9ecea8e47ull}, {48000, 2, 0, 0x3acef597ded01dbaull},
  };
  Samples a, b;  // inputs of the current rate (the cases come in rate order)
  for (const auto& k : cases) {
    Vocrel_RNR_Params p = params(k.rate, k.channels, k.hp);
    p.levelAdaptOff = 0;  // exercise the level adaptation as well
    const std::size_t len = static_cast<std::size_t>(k.rate) * 3;
    if (a.size() != len) {
      a = add(speech_like(k.rate, len, 5000).x, noise(Colour::Pink, 40, len, 21));
      b = add(noise(Colour::White, 25, len, 22), noise(Colour::Brown, 400, len, 23));
    }
    Samples oa, ob;
    Instance(p).run2(a, b, oa, ob);  // a mono instance ignores b
    const uint64_t h =
        k.channels == 2 ? vocrel_test::fnv1a(ob, vocrel_test::fnv1a(oa)) : vocrel_test::fnv1a(oa);
    EXPECT_EQ(h, k.digest) << k.rate << " ch " << k.channels << std::hex << " 0x" << h;
  }
}

// Floor-noise path building blocks at the edge cases their rules name: the
// frame VAD's band pairs, the gain rules and the long-voice judge.
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
