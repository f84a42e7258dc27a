// Whole-frame tests of the environment-noise path through the public API:
// silence, trace, corrupted channel states, the gain floor, start-up rules,
// the third detector, stereo independence, in-place buffers, robustness
// against arbitrary state contents, noise-reduction figures on synthetic
// signals and golden output digests (identical on x86-64 and armhf).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "rnr_signals.h"
#include "rnr_test_util.h"

using rnr_test::Colour;
using rnr_test::env_params;
using rnr_test::EnvInstance;

namespace {

constexpr int kRates[] = {8000, 16000};

double energy_db(const std::vector<std::int16_t>& x, std::size_t from, std::size_t to) {
  double e = 0;
  for (std::size_t i = from; i < to; ++i) e += static_cast<double>(x[i]) * x[i];
  return 10 * std::log10(e / static_cast<double>(to - from) + 1e-9);
}

TEST(RnrPipeline, SilenceGivesSilenceFromTheFirstFrame) {
  for (int rate : kRates) {
    for (int hp : {0, 1}) {
      auto p = env_params(rate, 2);
      p.hpFilterOn = hp;
      EnvInstance inst(p);
      std::vector<std::int16_t> zero(inst.N, 0), out0(inst.N, 1), out1(inst.N, 1);
      for (int f = 0; f < 150; ++f) {
        ASSERT_EQ(inst.frame(zero.data(), out0.data(), zero.data(), out1.data()), 0);
        for (std::size_t n = 0; n < inst.N; ++n) ASSERT_EQ(out0[n] | out1[n], 0) << f;
      }
    }
  }
}

TEST(RnrPipeline, MagnitudeScaleIndependentOfHighPass) {
  // The filter halves the signal; the exponent rule gives it the bit back, so
  // a tone above the corner has the same magnitudes with the filter on or off.
  for (int rate : kRates) {
    std::vector<std::int16_t> tone(static_cast<std::size_t>(rate) / 10);
    for (std::size_t i = 0; i < tone.size(); ++i) {
      tone[i] = static_cast<std::int16_t>(
          std::lround(12000 * std::sin(2 * 3.14159265358979 * 1000.0 * i / rate)));
    }
    std::int32_t peak[2] = {0, 0};
    for (int hp : {0, 1}) {
      auto p = env_params(rate);
      p.hpFilterOn = hp;
      EnvInstance inst(p);
      inst.run(tone);
      peak[hp] = inst.chan(0)->prevMag[32];  // 1 kHz = bin 32 at 31.25 Hz per bin
    }
    EXPECT_GT(peak[0], 1 << 20);
    EXPECT_NEAR(static_cast<double>(peak[1]) / peak[0], 1.0, 0.05) << rate;
  }
}

TEST(RnrPipeline, TraceCodesPerChannel) {
  for (int channels : {1, 2}) {
    EnvInstance inst(env_params(16000, channels));
    std::vector<std::int16_t> in(inst.N, 100), out0(inst.N), out1(inst.N);
    Vocrel_RNR_TraceRec trace{};
    trace.base = 200;
    ASSERT_EQ(inst.frame(in.data(), out0.data(), in.data(), out1.data(), &trace), 0);
    EXPECT_EQ(trace.count, 13u * channels);  // code 1 and the driver's twelve
    EXPECT_EQ(trace.slot[0], 217u) << "the last code of a frame is 17";

    // The driver alone writes exactly its twelve codes and nothing without a record.
    RnrChanState* st = inst.chan(0);
    Vocrel_RNR_TraceRec own{};
    own.base = 1000;
    ++st->frameCnt;
    Vocrel_RNR_Process(st, in.data(), out0.data(), &own);
    EXPECT_EQ(own.count, 12u);
    EXPECT_EQ(own.slot[0], 1017u);
  }
}

TEST(RnrPipeline, CorruptedSecondChannelFailsAfterTheFirstIsWritten) {
  auto in = rnr_test::to_pcm(rnr_test::noise(Colour::White, 2000, 1600, 5, 16000));
  for (int which : {0, 1}) {  // 0: leading guard, 1: closing guard after gainBin
    EnvInstance ref(env_params(16000, 2)), inst(env_params(16000, 2));
    std::vector<std::int16_t> a(inst.N), b(inst.N), c(inst.N), d(inst.N, 77);
    ASSERT_EQ(ref.frame(in.data(), a.data(), in.data(), b.data()), 0);
    RnrChanState* st1 = inst.chan(1);
    if (which == 0) st1->guard0 = 0;
    if (which == 1) st1->tail.r16.endGuard = 0;
    EXPECT_EQ(inst.frame(in.data(), c.data(), in.data(), d.data()), VOCREL_RNR_E_CORRUPT);
    EXPECT_EQ(a, c) << "channel 0 processed";
    EXPECT_EQ(d, std::vector<std::int16_t>(inst.N, 77)) << "channel 1 untouched";
    EXPECT_EQ(inst.chan(0)->frameCnt, 1u);
    EXPECT_EQ(st1->frameCnt, 1u) << "the failing channel was counted";
  }
  // A state whose rate or FFT references disagree with the instance fails
  // before anything is written or counted.
  for (int field : {0, 1, 2}) {
    EnvInstance inst(env_params(8000, 2));
    RnrChanState* st1 = inst.chan(1);
    if (field == 0) st1->sampleRate = 16000;
    if (field == 1) st1->fftSpecA += 4;
    if (field == 2) st1->fftSpecB = 0;
    std::vector<std::int16_t> c(inst.N, 55), d(inst.N, 66);
    EXPECT_EQ(inst.frame(in.data(), c.data(), in.data(), d.data()), VOCREL_RNR_E_CORRUPT);
    EXPECT_EQ(c, std::vector<std::int16_t>(inst.N, 55));
    EXPECT_EQ(inst.chan(0)->frameCnt, 0u);
  }
}

TEST(RnrPipeline, GuardCheckFollowsTheRecordsRate) {
  for (int rate : kRates) {
    rnr_test::LoneState st(rate);
    EXPECT_EQ(Vocrel_RNR_MemErrDetect(st.get()), 0);
    const std::int32_t other = rate == 8000 ? 16000 : 8000;
    st->sampleRate = other;  // now the other layout's closing guard is read
    EXPECT_EQ(Vocrel_RNR_MemErrDetect(st.get()), VOCREL_RNR_E_CORRUPT);
    st->sampleRate = 123456;  // anything but 8000 reads the 16 kHz position, inside the record
    EXPECT_EQ(Vocrel_RNR_MemErrDetect(st.get()), rate == 8000 ? VOCREL_RNR_E_CORRUPT : 0);
  }
}

TEST(RnrPipeline, GainFloorAndLowestBins) {
  for (int rate : kRates) {
    EnvInstance inst(env_params(rate, 1, 6));
    auto in = rnr_test::to_pcm(rnr_test::noise(Colour::Pink, 3000, rate * 2, 9, rate));
    std::vector<std::int16_t> out(inst.N);
    const auto v = vocrel::rnr::view_of(inst.chan(0));
    for (std::size_t f = 0; f + inst.N <= in.size(); f += inst.N) {
      if (f == in.size() / 2) {  // new depth between frames
        auto p = env_params(rate, 1, 20);
        ASSERT_EQ(Vocrel_RNR_SetParams(inst.inst.handle, &p), 0);
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
    EnvInstance inst(env_params(rate));
    RnrChanState* st = inst.chan(0);
    const auto v = vocrel::rnr::view_of(st);
    auto in = rnr_test::to_pcm(rnr_test::noise(Colour::White, 1500, rate, 21, rate));
    std::vector<std::int16_t> out(inst.N);
    for (int f = 1; f <= 3; ++f) {
      inst.frame(in.data() + (f - 1) * inst.N, out.data());
      EXPECT_EQ(st->frameCnt, static_cast<std::uint32_t>(f));
      EXPECT_EQ(st->vad2HistIdx, f);
      EXPECT_EQ(st->vad2Hist[0], 20480);
      EXPECT_EQ(st->vad2Hist[1], 0) << "no shape distance stored on frames 1 and 2";
      EXPECT_EQ(st->vad2Hist[2] != 0, f == 3);
      if (f == 1) {
        // First frame: gains taken over unsmoothed, minima primed from the frame.
        for (int k = 0; k < v.B; ++k) ASSERT_EQ(st->mcraSubMin[k][3], st->mcraMin[k]);
        EXPECT_EQ(st->mcraSubCnt, 1);
      }
    }
    // The shape detector decides from frame 100 on: the history then holds
    // the one-per-frame distances from frame 3.
    for (int f = 4; f <= 100; ++f) inst.frame(in.data() + (f % 90) * inst.N, out.data());
    EXPECT_EQ(st->vad2HistIdx, 100);
    EXPECT_EQ(st->mcraSubIdx, 1);  // sub-windows completed at frames 20, 40, 60, 80, 100
  }
}

TEST(RnrPipeline, ThirdDetectorOnAndOff) {
  for (int rate : kRates) {
    const std::size_t n = static_cast<std::size_t>(rate) * 3;
    auto sig = rnr_test::noise(Colour::Modulated, 8000, n, 4, rate);
    auto in = rnr_test::to_pcm(sig);
    std::vector<std::int16_t> outs[2];
    for (int on : {0, 1}) {
      auto p = env_params(rate);
      p.vad3On = on ? 1 : 2;  // any value but 1 means off
      EnvInstance inst(p);
      EXPECT_EQ(inst.chan(0)->vad3On, on);
      EXPECT_EQ(inst.chan(1)->vad3On, on);
      std::vector<std::int16_t> out(inst.N);
      inst.frame(in.data(), out.data());
      const auto v = vocrel::rnr::view_of(inst.chan(0));
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

TEST(RnrPipeline, StereoChannelsAreIndependentAndInPlaceWorks) {
  for (int rate : kRates) {
    const std::size_t n = static_cast<std::size_t>(rate) * 2;
    auto x = rnr_test::to_pcm(rnr_test::noise(Colour::Pink, 2500, n, 31, rate));
    auto other = rnr_test::to_pcm(rnr_test::noise(Colour::White, 9000, n, 32, rate));
    EnvInstance mono(env_params(rate));
    const auto ref = mono.run(x);
    for (int variant : {0, 1}) {  // channel 0 silent / loud and different
      EnvInstance st(env_params(rate, 2));
      std::vector<std::int16_t> zero(n, 0), o0(n), o1(n);
      const auto& c0 = variant == 0 ? zero : other;
      for (std::size_t f = 0; f + st.N <= n; f += st.N) {
        st.frame(c0.data() + f, o0.data() + f, x.data() + f, o1.data() + f);
      }
      EXPECT_EQ(o1, ref) << rate << " " << variant;
    }
    // Output written over the input buffer gives the same samples.
    EnvInstance inplace(env_params(rate));
    auto buf = x;
    for (std::size_t f = 0; f + inplace.N <= n; f += inplace.N) {
      inplace.frame(buf.data() + f, buf.data() + f);
    }
    EXPECT_EQ(buf, ref);
  }
}

TEST(RnrPipeline, ArbitraryStateContentsStayInBounds) {
  // Every byte of the channel state except the words Apply verifies is
  // scrambled; frames must run (ASan/UBSan builds check the accesses).
  for (int rate : kRates) {
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
      EnvInstance inst(env_params(rate));
      RnrChanState* st = inst.chan(0);
      rnr_test::Rng rng(seed);
      auto* bytes = reinterpret_cast<std::uint8_t*>(st);
      for (std::size_t i = 0; i < sizeof(RnrChanState); ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed == 1 ? 0xFF : (rng.uniform() + 1) * 128);
      }
      st->sampleRate = rate;
      Vocrel_RNR_InitMemDetect(st);
      RnrAttachFft(st, static_cast<char*>(inst.inst.handle) + vocrel::kFftSpecAOffset,
                   static_cast<char*>(inst.inst.handle) + vocrel::kFftSpecBOffset);
      auto in = rnr_test::to_pcm(rnr_test::noise(Colour::White, 20000, inst.N * 30, seed, rate));
      std::vector<std::int16_t> out(inst.N);
      for (std::size_t f = 0; f + inst.N <= in.size(); f += inst.N) {
        ASSERT_EQ(inst.frame(in.data() + f, out.data()), 0);
      }
    }
  }
}

struct Figure {
  int rate, maxNr;
  Colour colour;
  double minAtt;  // dB of attenuation required after convergence
};

TEST(RnrPipeline, NoiseAttenuation) {
  const char* names[] = {"white", "pink", "brown", "modulated"};
  const Figure figures[] = {
      {8000, 6, Colour::White, 5},        {8000, 15, Colour::White, 13},
      {8000, 15, Colour::Pink, 13},       {8000, 15, Colour::Brown, 13},
      {8000, 15, Colour::Modulated, 10},  {16000, 6, Colour::White, 5},
      {16000, 15, Colour::White, 13},     {16000, 15, Colour::Pink, 13},
      {16000, 15, Colour::Brown, 13},     {16000, 6, Colour::Modulated, 4},
      {16000, 15, Colour::Modulated, 10},
  };
  for (const Figure& f : figures) {
    const std::size_t n = static_cast<std::size_t>(f.rate) * 8;
    auto in = rnr_test::to_pcm(rnr_test::noise(f.colour, 1000, n, 7, f.rate));
    EnvInstance inst(env_params(f.rate, 1, f.maxNr));
    const auto out = inst.run(in);
    const std::size_t from = static_cast<std::size_t>(f.rate) * 4;
    const double att = energy_db(in, from, n) - energy_db(out, from, n);
    std::printf("  %5d Hz maxNr %2d %-9s noise: %5.1f dB attenuation\n", f.rate, f.maxNr,
                names[static_cast<int>(f.colour)], att);
    EXPECT_GE(att, f.minAtt);
    EXPECT_LE(att, f.maxNr + 16.0) << "beyond the floor and the high-pass";
  }
}

TEST(RnrPipeline, VoicedSpeechKeptPausesAttenuated) {
  for (int rate : kRates) {
    for (int maxNr : {6, 15}) {
      const std::size_t n = static_cast<std::size_t>(rate) * 10;
      std::vector<bool> voiced;
      const auto clean = rnr_test::speech_like(3000, n, rate, &voiced);
      const auto nz = rnr_test::noise(Colour::Pink, 600, n, 3, rate);
      std::vector<double> mix(n);
      for (std::size_t i = 0; i < n; ++i) mix[i] = clean[i] + nz[i];
      const auto in = rnr_test::to_pcm(mix);
      EnvInstance inst(env_params(rate, 1, maxNr));
      const auto out = inst.run(in);
      const std::size_t lag = inst.N;  // output lags by one frame
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
}

TEST(RnrPipeline, GoldenDigests) {
  struct Golden {
    int rate, channels, maxNr, hp, vad3;
    std::uint64_t digest;
  };
  const Golden golden[] = {
      {8000, 1, 15, 1, 0, 0x95d6b1c193c48e90ull},  {8000, 2, 6, 0, 1, 0x0e1e128a7b2687f8ull},
      {16000, 1, 15, 1, 0, 0x362ce65477246634ull}, {16000, 2, 20, 1, 1, 0xeb777055d48025e3ull},
      {16000, 1, 2, 0, 0, 0xfffc5490ea7128b6ull},
  };
  for (const Golden& g : golden) {
    auto p = env_params(g.rate, g.channels, g.maxNr);
    p.hpFilterOn = g.hp;
    p.vad3On = g.vad3;
    EnvInstance inst(p);
    const std::size_t n = static_cast<std::size_t>(g.rate) * 3;
    std::vector<bool> voiced;
    const auto s = rnr_test::speech_like(4000, n, g.rate, &voiced);
    const auto nz0 = rnr_test::noise(Colour::Pink, 800, n, 41, g.rate);
    const auto nz1 = rnr_test::noise(Colour::Modulated, 1200, n, 42, g.rate);
    std::vector<double> m0(n), m1(n);
    for (std::size_t i = 0; i < n; ++i) {
      m0[i] = s[i] + nz0[i];
      m1[i] = 0.5 * s[i] + nz1[i];
    }
    const auto in0 = rnr_test::to_pcm(m0), in1 = rnr_test::to_pcm(m1);
    std::vector<std::int16_t> o0(n), o1(n);
    for (std::size_t f = 0; f + inst.N <= n; f += inst.N) {
      ASSERT_EQ(inst.frame(in0.data() + f, o0.data() + f, in1.data() + f, o1.data() + f), 0);
    }
    std::uint64_t h = vocrel_test::fnv1a(o0.data(), n);
    if (g.channels == 2) h = vocrel_test::fnv1a(o1.data(), n, h);
    EXPECT_EQ(h, g.digest) << g.rate << " Hz, " << g.channels << " ch, maxNr " << g.maxNr
                           << std::hex << ": 0x" << h;
  }
}

}  // namespace
