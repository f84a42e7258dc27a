// Whole-frame tests of the environment-noise path through the public API:
// silence, the high-pass scale, state references, the gain floor, the third
// detector's switch, stereo independence, in-place buffers,
// arbitrary state contents, noise-reduction figures on synthetic signals and
// golden output digests (identical on x86-64 and armhf).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "base/layout.h"
#include "rnr/rnr.h"
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

// The windows begin with the listed entries (the rounding rule for the rest
// and the every-other-entry relation are checked where the tables are built).
TEST(RnrPipeline, WindowTablesHoldTheListedEntries) {
  const std::int16_t listed16[] = {321, 642, 963, 1288, 1609};
  const std::int16_t listed8[] = {642, 1288, 1930, 2572, 3211};
  for (int n = 0; n < 5; ++n) {
    EXPECT_EQ(vocrel_rnr_fftWinCoef_16k[n], listed16[n]) << n;
    EXPECT_EQ(vocrel_rnr_fftWinCoef_8k[n], listed8[n]) << n;
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

}  // namespace
