// Whole-frame tests of the environment-noise path through the public API:
// silence, the high-pass scale, state references, the gain floor, start-up
// rules, the third detector, stereo independence, in-place buffers,
// arbitrary state contents, noise-reduction figures on synthetic signals and
// golden output digests (identical on x86-64 and armhf).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "api/instance.h"
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

double energy_db(const Samples& x, std::size_t from, std::size_t to) {
  double e = 0;
  for (std::size_t i = from; i < to; ++i) e += static_cast<double>(x[i]) * x[i];
  return 10 * std::log10(e / static_cast<double>(to - from) + 1e-9);
}

TEST(RnrPipeline, SilenceGivesSilenceFromTheFirstFrame) {
  for (int rate : kRates) {
    for (int hp : {0, 1}) {
      auto p = env(rate, 2);
      p.hpFilterOn = hp;
      Instance inst(p);
      const Samples zero(rate / 2, 0);
      Samples o0, o1;
      inst.run2(zero, zero, o0, o1);
      EXPECT_EQ(o0, zero);
      EXPECT_EQ(o1, zero);
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
    std::int32_t peak[2] = {0, 0};
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
// instance fails before anything is written or counted.
TEST(RnrPipeline, StateReferencesAreVerified) {
  const Samples in = to_pcm(noise_d(Colour::White, 2000, 80, 5, 8000));
  for (int field : {0, 1, 2}) {
    Instance inst(env(8000, 2));
    RnrChanState* st1 = chan(inst, 1);
    if (field == 0) st1->sampleRate = 16000;
    if (field == 1) st1->fftSpecA += 4;
    if (field == 2) st1->fftSpecB = 0;
    Samples c(80, 55), d(80, 66);
    EXPECT_EQ(inst.frame(in.data(), c.data(), in.data(), d.data()), VOCREL_RNR_E_CORRUPT);
    EXPECT_EQ(c, Samples(80, 55));
    EXPECT_EQ(chan(inst, 0)->frameCnt, 0u);
  }
}

// The lowest four bins always take the floor gain of maxNr; a new maxNr
// applies from the next frame.
TEST(RnrPipeline, GainFloorAndLowestBins) {
  for (int rate : kRates) {
    Instance inst(env(rate, 1, 6));
    const Samples in = to_pcm(noise_d(Colour::Pink, 3000, rate, 9, rate));
    Samples out(inst.frame_len());
    const auto v = vocrel::rnr::view_of(chan(inst, 0));
    for (std::size_t f = 0; f + inst.frame_len() <= in.size(); f += inst.frame_len()) {
      if (f == in.size() / 2) {
        auto p = env(rate, 1, 20);
        ASSERT_EQ(Vocrel_RNR_SetParams(inst.handle, &p), 0);
      }
      ASSERT_EQ(inst.frame(in.data() + f, out.data()), 0);
      const std::int16_t floorGain = f < in.size() / 2 ? 16422 : 3276;
      for (int k = 0; k < 4; ++k) ASSERT_EQ(v.gainBin[k], floorGain);
      for (int k = 4; k < v.K; ++k) ASSERT_GE(v.gainBin[k], floorGain);
    }
  }
}

TEST(RnrPipeline, StartupRulesByFrameCount) {
  for (int rate : kRates) {
    Instance inst(env(rate));
    RnrChanState* st = chan(inst, 0);
    const auto v = vocrel::rnr::view_of(st);
    const Samples in = to_pcm(noise_d(Colour::White, 1500, rate, 21, rate));
    const std::size_t N = inst.frame_len();
    Samples out(N);
    for (int f = 1; f <= 3; ++f) {
      inst.frame(in.data() + (f - 1) * N, out.data());
      EXPECT_EQ(st->frameCnt, static_cast<std::uint32_t>(f));
      EXPECT_EQ(st->vad2HistIdx, f);
      EXPECT_EQ(st->vad2Hist[0], 20480);
      EXPECT_EQ(st->vad2Hist[1], 0) << "no shape distance stored on frames 1 and 2";
      EXPECT_EQ(st->vad2Hist[2] != 0, f == 3);
      if (f == 1) {  // gains taken over unsmoothed, minima primed from the frame
        for (int k = 0; k < v.B; ++k) ASSERT_EQ(st->mcraSubMin[k][3], st->mcraMin[k]);
        EXPECT_EQ(st->mcraSubCnt, 1);
      }
    }
    // The shape detector decides from frame 100 on: the history then holds
    // the one-per-frame distances from frame 3.
    for (int f = 4; f <= 100; ++f) inst.frame(in.data() + (f % 90) * N, out.data());
    EXPECT_EQ(st->vad2HistIdx, 100);
    EXPECT_EQ(st->mcraSubIdx, 1);  // sub-windows completed at frames 20, 40, 60, 80, 100
  }
}

// Tunables word 5 = 1 enables the third detector in both channel states
// (any other value disables it); it caps a loud start in the noise estimate.
TEST(RnrPipeline, ThirdDetectorOnAndOff) {
  for (int rate : kRates) {
    const Samples in = to_pcm(noise_d(Colour::Modulated, 8000, rate * 2, 4, rate));
    Samples outs[2];
    for (int on : {0, 1}) {
      auto p = env(rate);
      p.vad3On = on ? 1 : 2;
      Instance inst(p);
      EXPECT_EQ(chan(inst, 0)->vad3On, on);
      EXPECT_EQ(chan(inst, 1)->vad3On, on);
      Samples out(inst.frame_len());
      inst.frame(in.data(), out.data());
      const auto v = vocrel::rnr::view_of(chan(inst, 0));
      const std::int32_t hi = *std::max_element(v.noiseEst, v.noiseEst + 33);
      if (on) {
        EXPECT_LE(hi, 327680) << "loud start capped in bands 0..32";
        EXPECT_LE(*std::max_element(v.noiseEst + 33, v.noiseEst + v.B), 163840);
      } else {
        EXPECT_GT(hi, 327680);
      }
      outs[on] = inst.run(in);
    }
    EXPECT_NE(outs[0], outs[1]);
  }
}

// Each stereo channel equals a mono instance fed the same signal, whether
// the other channel is silent or loud; output over the input is the same.
TEST(RnrPipeline, StereoChannelsAreIndependentAndInPlaceWorks) {
  for (int rate : kRates) {
    const std::size_t n = static_cast<std::size_t>(rate) * 2;
    const Samples x = to_pcm(noise_d(Colour::Pink, 2500, n, 31, rate));
    const Samples other = to_pcm(noise_d(Colour::White, 9000, n, 32, rate));
    Instance mono(env(rate));
    const Samples ref = mono.run(x);
    for (const Samples& c0 : {Samples(n, 0), other}) {
      Instance st(env(rate, 2));
      Samples o0, o1;
      st.run2(c0, x, o0, o1);
      EXPECT_EQ(o1, ref) << rate;
    }
    Instance inplace(env(rate));
    Samples buf = x;
    for (std::size_t f = 0; f + inplace.frame_len() <= n; f += inplace.frame_len())
      inplace.frame(buf.data() + f, buf.data() + f);
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
      RnrAttachFft(st, static_cast<char*>(inst.handle) + vocrel::kFftSpecAOffset,
                   static_cast<char*>(inst.handle) + vocrel::kFftSpecBOffset);
      const Samples in = to_pcm(noise_d(Colour::White, 20000, inst.frame_len() * 30, seed, rate));
      Samples out(inst.frame_len());
      for (std::size_t f = 0; f + inst.frame_len() <= in.size(); f += inst.frame_len())
        ASSERT_EQ(inst.frame(in.data() + f, out.data()), 0);
    }
  }
}

// Settled attenuation of stationary and level-modulated noise, a few
// representative configurations.
TEST(RnrPipeline, NoiseAttenuation) {
  const struct {
    int rate, maxNr;
    Colour colour;
    double minAtt;  // dB after convergence
  } figures[] = {{8000, 15, Colour::White, 13},
                 {16000, 15, Colour::Pink, 13},
                 {8000, 15, Colour::Brown, 13},
                 {16000, 6, Colour::Modulated, 4}};
  for (const auto& f : figures) {
    const std::size_t n = static_cast<std::size_t>(f.rate) * 6;
    const Samples in = to_pcm(noise_d(f.colour, 1000, n, 7, f.rate));
    Instance inst(env(f.rate, 1, f.maxNr));
    const Samples out = inst.run(in);
    const std::size_t from = static_cast<std::size_t>(f.rate) * 3;
    const double att = energy_db(in, from, n) - energy_db(out, from, n);
    std::printf("  %5d Hz maxNr %2d %-9s noise: %5.1f dB attenuation\n", f.rate, f.maxNr,
                name(f.colour), att);
    EXPECT_GE(att, f.minAtt);
    EXPECT_LE(att, f.maxNr + 16.0) << "beyond the floor and the high-pass";
  }
}

TEST(RnrPipeline, VoicedSpeechKeptPausesAttenuated) {
  for (const auto& [rate, maxNr] : {std::pair{8000, 15}, std::pair{16000, 6}}) {
    const std::size_t n = static_cast<std::size_t>(rate) * 8;
    std::vector<bool> voiced;
    const auto clean = speech_d(3000, n, rate, &voiced);
    const auto nz = noise_d(Colour::Pink, 600, n, 3, rate);
    std::vector<double> mix(n);
    for (std::size_t i = 0; i < n; ++i) mix[i] = clean[i] + nz[i];
    const Samples in = to_pcm(mix);
    Instance inst(env(rate, 1, maxNr));
    const Samples out = inst.run(in);
    const std::size_t lag = inst.frame_len();
    double pauseIn = 0, pauseOut = 0, voicedClean = 0, voicedOut = 0;
    for (std::size_t i = static_cast<std::size_t>(rate) * 3; i + lag < n; ++i) {
      const double o = out[i + lag];
      if (voiced[i]) {
        voicedOut += o * o;
        voicedClean += clean[i] * clean[i];
      } else if (clean[i] == 0) {
        pauseOut += o * o;
        pauseIn += static_cast<double>(in[i]) * in[i];
      }
    }
    const double pauseAtt = 10 * std::log10(pauseIn / pauseOut);
    const double voicedLevel = 10 * std::log10(voicedOut / voicedClean);
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
      {8000, 1, 15, 1, 0, 0x95d6b1c193c48e90ull},  {8000, 2, 6, 0, 1, 0x0e1e128a7b2687f8ull},
      {16000, 1, 15, 1, 0, 0x362ce65477246634ull}, {16000, 2, 20, 1, 1, 0xeb777055d48025e3ull},
      {16000, 1, 2, 0, 0, 0xfffc5490ea7128b6ull},
  };
  for (const auto& g : golden) {
    auto p = env(g.rate, g.channels, g.maxNr);
    p.hpFilterOn = g.hp;
    p.vad3On = g.vad3;
    Instance inst(p);
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
    inst.run2(to_pcm(m0), to_pcm(m1), o0, o1);
    std::uint64_t h = vocrel_test::fnv1a(o0);
    if (g.channels == 2) h = vocrel_test::fnv1a(o1, h);
    EXPECT_EQ(h, g.digest) << g.rate << " Hz, " << g.channels << " ch, maxNr " << g.maxNr
                           << std::hex << ": 0x" << h;
  }
}

}  // namespace
