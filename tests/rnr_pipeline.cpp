// The environment-noise path. Whole frames through the public API: silence,
// the high-pass scale, state references, the gain floor, the third detector's
// switch, stereo independence, in-place buffers, arbitrary state contents,
// noise-reduction figures on synthetic signals and golden output digests
// (identical on x86-64 and armhf). Stage-level worked values: framing, the
// harmonic grid, the detectors' counting rules, minimum tracking, the noise
// update forms, the gain rule and the driver's counters, each following from
// the Q formats of its stage worked by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/layout.h"
#include "math/fixed.h"
#include "rnr/rnr.h"
#include "rnr/rnr_internal.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"
#include "signals.h"
#include "test_util.h"

namespace {

using namespace sig;
using vocrel_test::Instance;

constexpr int kRates[] = {8000, 16000};

Vocrel_RNR_Params env(int rate, int channels = 1, int maxNr = 15) {
  Vocrel_RNR_Params p = vocrel_test::params_for(rate, channels, 1);
  p.maxNr = maxNr;
  return p;
}
RnrChanState* chan(const Instance& i, int c) {
  return &i.at<RnrChanState>(vocrel::kRnrChanOffset(c));
}

TEST(RnrPipeline, SilenceGivesSilenceFromTheFirstFrame) {
  for (int rate : kRates) {
    for (int hp : {0, 1}) {
      auto p = env(rate, 2);
      p.hpFilterOn = hp;
      const Samples zero(rate / 2, 0);
      Samples o0, o1;
      Instance(p).run2(zero, zero, o0, o1);
      EXPECT_TRUE(o0 == zero && o1 == zero) << rate;
    }
  }
}

// The filter halves the signal and the exponent rule gives the bit back, so
// a tone above the corner has the same magnitudes with the filter on or off.
TEST(RnrPipeline, MagnitudeScaleIndependentOfHighPass) {
  for (int rate : kRates) {
    Samples tone(static_cast<std::size_t>(rate) / 10);
    for (std::size_t i = 0; i < tone.size(); ++i)
      tone[i] =
          static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * M_PI * 1000.0 * i / rate)));
    std::int32_t peak[2];
    for (int hp : {0, 1}) {
      auto p = env(rate);
      p.hpFilterOn = hp;
      Instance inst(p);
      inst.run(tone);
      peak[hp] = chan(inst, 0)->prevMag[32];  // 1 kHz = bin 32 at 31.25 Hz per bin
    }
    EXPECT_GT(peak[0], 1 << 20);
    EXPECT_NEAR(static_cast<double>(peak[1]) / peak[0], 1.0, 0.05) << rate;
  }
}

// A second channel state whose rate or FFT references disagree with the
// instance fails before anything is written or counted. Tunables word 5 = 1
// enables the third detector in both channel states, any other value not.
TEST(RnrPipeline, StateReferencesAndThirdDetectorSwitch) {
  const Samples in(80, 1000);
  for (int field : {0, 1, 2}) {
    Instance inst(env(8000, 2));
    RnrChanState* st1 = chan(inst, 1);
    (field == 0 ? st1->sampleRate : field == 1 ? st1->fftSpecA : st1->fftSpecB) += 4;
    Samples c(80, 55), d(80, 66);
    EXPECT_EQ(inst.frame(in.data(), c.data(), in.data(), d.data()), VOCREL_RNR_E_CORRUPT);
    EXPECT_EQ(c, Samples(80, 55));
    EXPECT_EQ(chan(inst, 0)->frameCnt, 0u);
  }
  for (int word5 : {0, 1, 2}) {
    auto p = env(16000);
    p.vad3On = word5;
    Instance inst(p);
    EXPECT_TRUE(chan(inst, 0)->vad3On == (word5 == 1) && chan(inst, 1)->vad3On == (word5 == 1));
  }
}

// The lowest four bins always take the floor gain of maxNr; a new maxNr
// applies from the next frame.
TEST(RnrPipeline, GainFloorAndLowestBins) {
  for (int rate : kRates) {
    Instance inst(env(rate, 1, 6));
    const auto v = vocrel::rnr::view_of(chan(inst, 0));
    const auto p = env(rate, 1, 20);
    inst.run(to_pcm(noise_d(Colour::Pink, 3000, rate, 9, rate)), [&](std::size_t k) {
      const std::int16_t floorGain = k <= 50 ? 16422 : 3276;
      ASSERT_EQ(Samples(v.gainBin, v.gainBin + 4), Samples(4, floorGain)) << k;
      ASSERT_GE(*std::min_element(v.gainBin + 4, v.gainBin + v.K), floorGain) << k;
      ASSERT_EQ(k == 50 ? Vocrel_RNR_SetParams(inst.handle, &p) : 0, 0);
    });
  }
}

// Each stereo channel equals a mono instance fed the same signal, whether
// the other channel is silent or loud; output over the input is the same.
TEST(RnrPipeline, StereoChannelsAreIndependentAndInPlaceWorks) {
  for (int rate : kRates) {
    const std::size_t n = static_cast<std::size_t>(rate);
    const Samples x = to_pcm(noise_d(Colour::Pink, 2500, n, 31, rate));
    const Samples ref = Instance(env(rate)).run(x);
    for (const Samples& c0 : {Samples(n, 0), to_pcm(noise_d(Colour::White, 9000, n, 32, rate))}) {
      Samples o0, o1;
      Instance(env(rate, 2)).run2(c0, x, o0, o1);
      EXPECT_EQ(o1, ref) << rate;
    }
    Instance inplace(env(rate));
    Samples buf = x;
    for (std::size_t f = 0; f < n; f += inplace.frame_len()) inplace.frame(&buf[f], &buf[f]);
    EXPECT_EQ(buf, ref);
  }
}

// Every byte of the channel state except the words Apply verifies is
// scrambled; frames must run (ASan/UBSan builds check the accesses).
TEST(RnrPipeline, ArbitraryStateContentsStayInBounds) {
  for (int rate : kRates) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      Instance inst(env(rate));
      RnrChanState* st = chan(inst, 0);
      Lcg64 rng{seed};
      auto* bytes = reinterpret_cast<std::uint8_t*>(st);
      for (std::size_t i = 0; i < sizeof(RnrChanState); ++i)
        bytes[i] = seed == 1 ? 0xFF : static_cast<std::uint8_t>(rng.next() >> 56);
      st->sampleRate = rate;
      Vocrel_RNR_InitMemDetect(st);
      RnrAttachFft(st, &inst.at<char>(vocrel::kFftSpecAOffset),
                   &inst.at<char>(vocrel::kFftSpecBOffset));
      inst.run(to_pcm(noise_d(Colour::White, 20000, rate / 100 * 30, seed, rate)),
               [&](std::size_t) { ASSERT_EQ(inst.last, 0); });
    }
  }
}

// Settled attenuation of stationary and level-modulated noise, and speech in
// pink noise: pauses reduced by maxNr, voiced parts at their clean level.
TEST(RnrPipeline, NoiseAndSpeechFigures) {
  const struct {
    int rate, maxNr;
    Colour colour;
    double minAtt;  // dB after convergence
  } figures[] = {{8000, 15, Colour::White, 13},
                 {16000, 15, Colour::Pink, 13},
                 {8000, 15, Colour::Brown, 13},
                 {16000, 6, Colour::Modulated, 4}};
  for (const auto& f : figures) {
    const Samples in = to_pcm(noise_d(f.colour, 1000, f.rate * 4, 7, f.rate));
    const double att = -gain_db(in, Instance(env(f.rate, 1, f.maxNr)).run(in), 0, f.rate * 2);
    std::printf("  %5d Hz maxNr %2d %-9s noise: %5.1f dB attenuation\n", f.rate, f.maxNr,
                name(f.colour), att);
    EXPECT_GE(att, f.minAtt);
    EXPECT_LE(att, f.maxNr + 16.0) << "beyond the floor and the high-pass";
  }
  for (const auto& [rate, maxNr] : {std::pair{8000, 15}, std::pair{16000, 6}}) {
    const std::size_t n = static_cast<std::size_t>(rate) * 6, lag = rate / 100;
    std::vector<bool> voiced, pause(n);
    const auto clean = speech_d(3000, n, rate, &voiced),
               nz = noise_d(Colour::Pink, 600, n, 3, rate);
    std::vector<double> mix(n);
    for (std::size_t i = 0; i < n; ++i) {
      mix[i] = clean[i] + nz[i];
      pause[i] = !voiced[i] && clean[i] == 0;
    }
    const Samples in = to_pcm(mix), out = Instance(env(rate, 1, maxNr)).run(in);
    const double pauseAtt = -gain_db(in, out, lag, rate * 2, &pause);
    const double voicedLevel = gain_db(to_pcm(clean), out, lag, rate * 2, &voiced);
    std::printf("  %5d Hz maxNr %2d speech: pauses -%.1f dB, voiced parts %+.2f dB vs clean\n",
                rate, maxNr, pauseAtt, voicedLevel);
    EXPECT_GE(pauseAtt, maxNr - 1.0);
    EXPECT_NEAR(voicedLevel, 0.0, 1.5);
  }
}

TEST(RnrPipeline, GoldenDigests) {
  const struct {
    int rate, channels, maxNr, hp, vad3;
    std::uint64_t digest;
  } golden[] = {
      {8000, 1, 15, 1, 0, 0x899b034fffd90844ull},  {8000, 2, 6, 0, 1, 0xee089e32cb79e042ull},
      {16000, 1, 15, 1, 0, 0xc3b6b3f27ae12f86ull}, {16000, 2, 20, 1, 1, 0xc529882cd6c6c6a6ull},
      {16000, 1, 2, 0, 0, 0x2dba04a25ab15b7cull},
  };
  for (const auto& g : golden) {
    auto p = env(g.rate, g.channels, g.maxNr);
    p.hpFilterOn = g.hp;
    p.vad3On = g.vad3;
    const std::size_t n = static_cast<std::size_t>(g.rate) * 3;
    std::vector<bool> voiced;
    const auto s = speech_d(4000, n, g.rate, &voiced);
    const auto nz0 = noise_d(Colour::Pink, 800, n, 41, g.rate);
    const auto nz1 = noise_d(Colour::Modulated, 1200, n, 42, g.rate);
    std::vector<double> m0(n), m1(n);
    for (std::size_t i = 0; i < n; ++i) {
      m0[i] = s[i] + nz0[i];
      m1[i] = 0.5 * s[i] + nz1[i];
    }
    Samples o0, o1;
    Instance(p).run2(to_pcm(m0), to_pcm(m1), o0, o1);
    const std::uint64_t h = vocrel_test::fnv1a(o0);
    EXPECT_EQ(g.channels == 2 ? vocrel_test::fnv1a(o1, h) : h, g.digest)
        << g.rate << " Hz, " << g.channels << " ch, maxNr " << g.maxNr;
  }
}

using V32 = std::vector<std::int32_t>;
using V16 = std::vector<std::int16_t>;

// A channel state in its start state, for stages that need no transform.
struct LoneState {
  explicit LoneState(int rate, int vad3On = 0) : mem(new RnrChanState) {
    Vocrel_RNR_Params p = vocrel_test::params_for(rate, 1, 1);
    p.vad3On = vad3On;
    Vocrel_RNR_ResetConfig(mem.get(), &p, sizeof(RnrChanState));
  }
  RnrChanState* operator->() { return mem.get(); }
  RnrChanState* get() { return mem.get(); }
  vocrel::rnr::RateView view() { return vocrel::rnr::view_of(mem.get()); }
  std::unique_ptr<RnrChanState> mem;
};

TEST(RnrFraming, EnergyBandsAndGainMirror) {
  for (int rate : kRates) {
    LoneState st(rate);
    const auto v = st.view();
    V16 in(v.N, 32767), frame(v.W);
    V32 spec(2 * v.L, -1);
    st->hpFilterOn = 0;
    Vocrel_RNR_PreProcess(st.get(), in.data(), frame.data(), spec.data());
    EXPECT_EQ(st->frameEnergy, v.N * 8388096);  // 32767^2 >> 7 per sample
    EXPECT_TRUE(std::all_of(spec.begin() + 2 * v.W, spec.end(), [](int x) { return x == 0; }));
  }
  for (int L : {256, 512}) {
    // Equal powers 2^20 stay 2^20 through groups and smoothing (6554 + 19660
    // + 6554 = 1.0 in Q15); the root is 2^25, then the rounded or saturating shift.
    V32 pow(L / 2 + 1, 1 << 20), ld(L / 8 + 1);
    const std::pair<int, std::int32_t> shifts[] = {{0, 1 << 25}, {10, 1 << 15}, {-6, INT32_MAX}};
    for (const auto& [shift, want] : shifts) {
      Vocrel_RNR_CalcSpecLD(pow.data(), L, shift, ld.data());
      EXPECT_EQ(ld, V32(ld.size(), want)) << L << " shift " << shift;
    }
    // Gains of 32767 give floor(v 32767 / 32768) in the lower half and its
    // conjugate mirror above.
    vocrel_test::SplitMix rng{11};
    V32 x(2 * L);
    for (auto& w : x) w = static_cast<std::int32_t>(rng.next());
    x[3] = INT32_MIN;
    V32 y = x;
    V16 gain(L / 2 + 1, 32767);
    vocrel_rnr_GetNrSpec(L, gain.data(), y.data());
    for (int i = 0; i <= L + 1; ++i)
      ASSERT_EQ(y[i], static_cast<std::int32_t>(std::floor(x[i] * (32767.0 / 32768.0)))) << i;
    for (int k = 1; k < L / 2; ++k) {
      ASSERT_EQ(y[2 * (L - k)], y[2 * k]);
      ASSERT_EQ(y[2 * (L - k) + 1], vocrel::neg_sat32(y[2 * k + 1]));
    }
  }
}

TEST(RnrCepstrum, HarmonicGrid) {
  const int rows[][4] = {{26, 26, 10, 12}, {27, 30, 9, 14},  {31, 34, 8, 15},
                         {35, 39, 7, 18},  {40, 46, 6, 21},  {47, 56, 5, 25},
                         {57, 73, 4, 31},  {74, 102, 3, 42}, {103, 114, 2, 63}};
  for (const auto& r : rows) {
    for (int q0 = r[0]; q0 <= r[1]; ++q0) {
      int spacing = 0, count = 0;
      vocrel::rnr::harmonic_grid(q0, &spacing, &count);
      EXPECT_TRUE(spacing == r[2] && count == r[3]) << q0 << ": " << spacing << " x " << count;
    }
  }
}

TEST(RnrVad, CountingRulesOfTheThreeDetectors) {
  for (int rate : kRates) {
    LoneState st(rate, 1);
    const auto v = st.view();
    // VAD1: the 50th stationary frame says noise; frames with E < 100 say
    // noise without counting, six keep the count and the seventh clears it.
    V32 steady(v.G + 1, 1 << 20), quiet(v.G + 1, 0);
    for (std::uint32_t f = 1; f <= 57; ++f) {
      st->frameCnt = f;
      EXPECT_EQ(Vocrel_RNR_VAD1_Frame(st.get(), f <= 50 ? steady.data() : quiet.data()), f >= 50)
          << f;
      EXPECT_EQ(st->vad1StatCnt, f < 50 ? f : (f < 57 ? 50 : 0)) << f;
    }
    // VAD3: a scaled copy of the noise fits (1), own structure does not (0);
    // at about 65536 the variances quantise to 1: R = 1 against Q = 1 (8 kHz)
    // or 5 (16 kHz); a constant noise has its variance clamped to 1.
    V32 y(v.B);
    auto spread = [&](std::int32_t unit) {
      for (int i = 0; i < v.B; ++i)
        y[i] = v.noiseEst[i] =
            unit / 2 + static_cast<std::int32_t>(std::int64_t{unit} * (i % 7) / 6);
    };
    spread(1048576);
    EXPECT_EQ(Vocrel_RNR_VAD3_Frame(st.get(), y.data()), 1);
    for (int i = 0; i < v.B; i += 6) y[i] += 1048576;
    EXPECT_EQ(Vocrel_RNR_VAD3_Frame(st.get(), y.data()), 0);
    spread(65536);
    EXPECT_EQ(Vocrel_RNR_VAD3_Frame(st.get(), y.data()), rate == 8000 ? 0 : 1);
    std::fill(v.noiseEst, v.noiseEst + v.B, 500000);
    std::fill(y.begin(), y.end(), 500000);
    EXPECT_EQ(Vocrel_RNR_VAD3_Frame(st.get(), y.data()), 1);
  }
  // VAD2: silent before frame 100 and while lowNoiseCnt is set; a history
  // index of 100 or more wraps to 0 before the store.
  LoneState st(8000);
  const auto v = st.view();
  std::fill(v.noiseEst, v.noiseEst + v.B, 40000);
  V32 same(v.G + 1, 90000), other(v.G + 1, 90000);
  for (int j = 0; j <= v.G; j += 2) other[j] = 2000;
  st->frameCnt = 99;
  EXPECT_EQ(Vocrel_RNR_VAD2_Frame(st.get(), same.data()), 0);
  st->frameCnt = 100;
  st->vad2HistIdx = 100;
  EXPECT_EQ(Vocrel_RNR_VAD2_Frame(st.get(), same.data()), 1);
  EXPECT_EQ(st->vad2HistIdx, 0);
  st->vad2Hist.fill(0);
  EXPECT_EQ(Vocrel_RNR_VAD2_Frame(st.get(), other.data()), 0);  // shape differs
  st->lowNoiseCnt = 3;
  EXPECT_EQ(Vocrel_RNR_VAD2_Frame(st.get(), same.data()), 0);
}

TEST(RnrNoise, MinimumTrackerAndFrequencyFlags) {
  for (int rate : kRates) {
    // A single low frame lowers the minimum at once and leaves with its
    // sub-window, 90 frames later here; the first frame caps the minima.
    LoneState st(rate);
    const int B = st.view().B;
    V32 y(B, 1000000), low(B, 1000), zero(B, 0);
    for (std::uint32_t f = 1; f <= 130; ++f) {
      st->frameCnt = f;
      Vocrel_RNR_Mcra(st.get(), f == 30 ? low.data() : y.data());
      ASSERT_EQ(st->mcraMin[B - 1], f < 30 || f >= 120 ? 1000000 : 1000) << f;
    }
    LoneState loud(rate);
    V32 big(B, 2000000000);
    loud->frameCnt = 1;
    Vocrel_RNR_Mcra(loud.get(), big.data());
    EXPECT_EQ(loud->mcraMin[0], 50 * 65536);
    EXPECT_EQ(loud->mcraSubMin[B - 1][3], 25 * 65536);
    // A floor of zeros counts up to 1000 and stops; a corrupted ring position
    // stays inside the four sub-windows.
    for (std::uint32_t f = 1; f <= 1100; ++f) {
      st->frameCnt = f;
      Vocrel_RNR_Mcra(st.get(), zero.data());
    }
    EXPECT_EQ(st->lowNoiseCnt, 1000);
    st->mcraSubIdx = 200;
    st->mcraSubCnt = 19;
    Vocrel_RNR_Mcra(st.get(), y.data());
    EXPECT_EQ(st->mcraSubIdx, 1);
  }
  // Flag thresholds 1.5 / 2.0 / 2.5 times the floor by band (1.5 everywhere
  // when very quiet); seven speech frames hold a low band for ten more.
  LoneState st(16000);
  const int B = st.view().B;
  std::fill(st->mcraMin.begin(), st->mcraMin.end(), 8000);
  V32 y(B, 8 * 1800), silent(B, 0);
  V16 flags(B);
  Vocrel_RNR_McraFreqVad(st.get(), y.data(), flags.data(), B);
  EXPECT_EQ(V16({flags[10], flags[40], flags[60]}), V16({1, 0, 0}));
  st->lowNoiseCnt = 1;
  Vocrel_RNR_McraFreqVad(st.get(), y.data(), flags.data(), B);
  EXPECT_EQ(V16({flags[10], flags[40], flags[60]}), V16({1, 1, 1}));
  st->lowNoiseCnt = 0;
  for (int f = 0; f < 6; ++f) Vocrel_RNR_McraFreqVad(st.get(), y.data(), flags.data(), B);
  for (int f = 1; f <= 11; ++f) {
    Vocrel_RNR_McraFreqVad(st.get(), silent.data(), flags.data(), B);
    EXPECT_EQ(flags[3], f <= 10) << f;
  }
  V16 wide(200, -1);  // a band count beyond the layout is clamped
  Vocrel_RNR_McraFreqVad(st.get(), silent.data(), wide.data(), 200);
  EXPECT_EQ(wide[B], -1);
}

TEST(RnrNoise, StartupCeilingsAndUpdateForms) {
  V32 hd(129, 5000000), valley(129, 4000000), ld(129, 3000000), mcra(129);
  for (int vad3 : {0, 1}) {
    // A harmonic frame 2 caps every band at 90000; detector 3 caps a loud
    // first frame at 5 x 65536 (low bands) and 2.5 x 65536 (high bands).
    LoneState st(8000, vad3), plain(8000, vad3);
    for (std::uint32_t f = 1; f <= 2; ++f) {
      st->frameCnt = f;
      Vocrel_RNR_EstimateNoiseLevel(st.get(), f == 2, 0, hd.data(), valley.data(), ld.data(),
                                    mcra.data());
    }
    EXPECT_EQ(st.view().noiseEst[0], 90000);
    plain->frameCnt = 1;
    Vocrel_RNR_EstimateNoiseLevel(plain.get(), 0, 0, hd.data(), valley.data(), ld.data(),
                                  mcra.data());
    EXPECT_EQ(plain.view().noiseEst[0], vad3 ? 327680 : 4000000);
    EXPECT_EQ(plain.view().noiseEst[40], vad3 ? 163840 : 3000000);
  }
  // Guarded form in a noise frame: a target of 10000 against 80000 moves the
  // estimate by 0.05 of the difference, 30000 by 0.1.
  LoneState st(8000, 1);
  const auto v = st.view();
  std::fill(hd.begin(), hd.end(), 80000);
  std::fill(valley.begin(), valley.end(), 80000);
  std::fill(ld.begin(), ld.end(), 80000);
  valley[0] = 10000;
  valley[1] = 30000;
  std::fill(v.noiseEst, v.noiseEst + v.B, 80000);
  st->frameCnt = 200;
  Vocrel_RNR_EstimateNoiseLevel(st.get(), 0, 1, hd.data(), valley.data(), ld.data(), mcra.data());
  EXPECT_NEAR(v.noiseEst[0], 80000 - 0.05 * 70000, 2);
  EXPECT_NEAR(v.noiseEst[1], 80000 - 0.10 * 50000, 2);
  // In the harmonic hangover a noise frame updates nothing, while a speech
  // frame still updates its speech-free bands.
  st->harmonicRun = 3;
  valley[2] = 40000;
  Vocrel_RNR_EstimateNoiseLevel(st.get(), 0, 1, hd.data(), valley.data(), ld.data(), mcra.data());
  EXPECT_EQ(v.noiseEst[2], 80000);
  st->vad3On = 0;
  st->lowNoiseCnt = 1;
  std::fill(st->mcraMin.begin(), st->mcraMin.end(), 80000);
  Vocrel_RNR_EstimateNoiseLevel(st.get(), 1, 0, hd.data(), valley.data(), ld.data(), mcra.data());
  EXPECT_LT(v.noiseEst[2], 80000);
}

TEST(RnrGain, DepthRuleAndSmoothingWeight) {
  LoneState st(16000);
  const auto v = st.view();
  V16 snr(v.B, 256);
  st->frameCnt = 1;                              // first frame: the smoothed gain is the new gain
  std::fill(v.noiseEst, v.noiseEst + v.B, 100);  // E' <= 3338: every gain 1.0
  Vocrel_RNR_CalcGain2(st.get(), snr.data());
  EXPECT_EQ(*std::min_element(v.bandSmoothGain, v.bandSmoothGain + v.B), 32767);
  // Loud noise: the depth stops at -maxNr (15 dB), or -8 dB in a low-level
  // run; postSnr 512 gives D = -417790 (-12.75 dB), 32767 a gain of 1.0.
  std::fill(v.noiseEst, v.noiseEst + v.B, 1 << 24);
  snr[5] = 512;
  snr[6] = 32767;
  auto db = [](double d) { return 32768 * std::pow(10.0, d / 20); };
  Vocrel_RNR_CalcGain2(st.get(), snr.data());
  EXPECT_NEAR(v.bandSmoothGain[0], db(-15), 40);
  EXPECT_NEAR(v.bandSmoothGain[5], db(-417790.0 / 32768), 40);
  EXPECT_EQ(v.bandSmoothGain[6], 32767);
  st->lowLevelRun = 11;
  Vocrel_RNR_CalcGain2(st.get(), snr.data());
  EXPECT_NEAR(v.bandSmoothGain[0], db(-8), 40);

  // The previous gain's weight drops at once to 32768 - clamp(sqrt(snr) in
  // Q15 - 1.25, 328, 32440); each four-bin band gives its gain to its bins.
  LoneState s8(8000);
  const auto v8 = s8.view();
  const std::pair<std::int16_t, std::int16_t> weights[] = {
      {512, 27320}, {1024, 8128}, {1282, 328}, {20000, 328}};
  V16 snr8(v8.B, 256), gain(v8.B, 1000);
  for (int i = 0; i < 4; ++i) snr8[i] = weights[i].first;
  s8->frameCnt = 5;
  Vocrel_RNR_SmoothGain(s8.get(), gain.data(), snr8.data());
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(v8.bandSmoothCoef[i], weights[i].second) << weights[i].first;
  Vocrel_RNR_InterpolateGain(s8.get());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v8.gainBin[33 + i], v8.bandSmoothGain[33]);
}

TEST(RnrDriver, HangoverAndLowLevelCounters) {
  // A harmonic run of r frames is held for 5..30 further frames.
  const std::pair<int, int> holds[] = {{1, 5}, {4, 10}, {7, 15}, {9, 20}, {12, 30}};
  for (const auto& [run, hold] : holds) {
    LoneState st(8000);
    for (int f = 0; f < run; ++f) vocrel::rnr::update_harmonic_hangover(st.get(), 1);
    for (int f = 1; f <= hold + 1; ++f) {
      vocrel::rnr::update_harmonic_hangover(st.get(), 0);
      EXPECT_EQ(st->harmonicRun == 0, f == hold + 1) << run << " " << f;
    }
  }
  // 31 frames below the floor set the hold to 10; above it the hold counts
  // down and the run clears on the 11th frame.
  LoneState st(8000);
  st->levelTrack = 50;
  for (int f = 0; f < 31; ++f) vocrel::rnr::update_low_level_counter(st.get());
  EXPECT_EQ(st->lowLevelHold, 10);
  st->levelTrack = 500;
  for (int f = 1; f <= 11; ++f) {
    vocrel::rnr::update_low_level_counter(st.get());
    EXPECT_EQ(st->lowLevelRun, f <= 10 ? 31 : 0) << f;
  }
}

}  // namespace
