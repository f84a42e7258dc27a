// Stage-level tests of the environment-noise path: framing arithmetic, the
// detectors' start-up and counting rules, minimum tracking, the noise update
// forms, the gain rule and the driver's trackers. Values pinned here come from
// the Q formats of each stage worked by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "api/instance.h"
#include "math/fixed.h"
#include "rnr/rnr.h"
#include "rnr/rnr_internal.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"
#include "signals.h"
#include "test_util.h"

namespace {

Vocrel_RNR_Params env(int rate, int maxNr = 15) {
  Vocrel_RNR_Params p = vocrel_test::params_for(rate, 1, 1);
  p.maxNr = maxNr;
  return p;
}

// A channel state in its start state, for stages that need no transform.
struct LoneState {
  explicit LoneState(int rate, int vad3On = 0) : mem(new RnrChanState) {
    Vocrel_RNR_Params p = env(rate);
    p.vad3On = vad3On;
    Vocrel_RNR_ResetConfig(mem.get(), &p, sizeof(RnrChanState));
  }
  RnrChanState* operator->() { return mem.get(); }
  RnrChanState* get() { return mem.get(); }
  vocrel::rnr::RateView view() { return vocrel::rnr::view_of(mem.get()); }
  std::unique_ptr<RnrChanState> mem;
};

constexpr int kRates[] = {8000, 16000};

TEST(RnrConfig, ResetGuardsAndTunables) {
  for (int rate : kRates) {
    for (int vad3 : {0, 1, 2}) {
      LoneState st(rate, vad3);
      const auto v = st.view();
      EXPECT_EQ(st->vad3On, vad3 == 1 ? 1 : 0);
      EXPECT_EQ(st->stateSize, 6860);
      EXPECT_EQ(st->winLen, 2 * st->frameLen);
      EXPECT_EQ(st->fftSize, rate == 8000 ? 256 : 512);
      EXPECT_EQ(st->minGain, 5827);  // maxNr 15
      EXPECT_EQ(st->maxNrNegDb, -15);
      EXPECT_EQ(st->levelTrack, 100);
      EXPECT_EQ(st->levelFloor, 100);
      EXPECT_EQ(st->bandSmoothWeight, 10813);
      EXPECT_EQ(v.bandSmoothCoef[v.B - 1], 31129);
      EXPECT_EQ(v.bandSmoothGain[0], 3277);
    }
    // Guard words written at their byte offsets in the record.
    LoneState st(rate);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(st.get());
    auto word = [&](std::size_t off) {
      std::uint32_t w;
      std::memcpy(&w, bytes + off, 4);
      return w;
    };
    const std::vector<std::size_t> guards =
        rate == 8000
            ? std::vector<std::size_t>{0, 4, 3880, 4320, 4440, 4624, 4976, 5208, 5440, 5704}
            : std::vector<std::size_t>{0, 4, 3880, 4704, 4888, 5072, 5616, 5976, 6336, 6856};
    for (std::size_t off : guards) EXPECT_EQ(word(off), vocrel::kGuard) << rate << " @" << off;
    EXPECT_EQ(word(rate == 8000 ? 5700 : 6852) >> 16, 0x6AAAu) << "half guard after gainBin";
    EXPECT_EQ(Vocrel_RNR_MemErrDetect(st.get()), 0);
    // The closing guard is read where the record's own rate puts it: the
    // other layout's position, or the 16 kHz one (inside the record) for
    // any rate but 8000.
    st->sampleRate = rate == 8000 ? 16000 : 8000;
    EXPECT_EQ(Vocrel_RNR_MemErrDetect(st.get()), VOCREL_RNR_E_CORRUPT);
    st->sampleRate = 123456;
    EXPECT_EQ(Vocrel_RNR_MemErrDetect(st.get()), rate == 8000 ? VOCREL_RNR_E_CORRUPT : 0);
    st->sampleRate = rate;

    auto p = env(rate, 20);
    p.hpFilterOn = 0;
    RnrSetParams(st.get(), &p);
    EXPECT_EQ(st->minGain, 3276);
    EXPECT_EQ(st->maxNrNegDb, -20);
    EXPECT_EQ(st->hpFilterOn, 0);
  }
}

TEST(RnrFraming, EnergyFilterAndWindow) {
  for (int rate : kRates) {
    LoneState st(rate);
    const auto v = st.view();
    std::vector<std::int16_t> in(v.N, 32767), frame(v.W);
    std::vector<std::int32_t> spec(2 * v.L, -1);
    st->hpFilterOn = 0;
    Vocrel_RNR_PreProcess(st.get(), in.data(), frame.data(), spec.data());
    // 32767^2 >> 7 = 8388096 per sample.
    EXPECT_EQ(st->frameEnergy, rate == 8000 ? 671047680 : 1342095360);
    for (int n = 0; n < v.N; ++n) ASSERT_EQ(frame[v.N + n], 32767);
    for (int n = 2 * v.W; n < 2 * v.L; ++n) ASSERT_EQ(spec[n], 0) << "zero padding";

    // The next frame starts with the previous one.
    std::vector<std::int16_t> ramp(v.N);
    for (int n = 0; n < v.N; ++n) ramp[n] = static_cast<std::int16_t>(n * 100);
    Vocrel_RNR_PreProcess(st.get(), ramp.data(), frame.data(), spec.data());
    EXPECT_EQ(frame[0], 32767);
    EXPECT_EQ(frame[v.N + 5], 500);

    // DC through the high-pass decays toward 0 within a few frames.
    LoneState hp(rate);
    ASSERT_EQ(hp->hpFilterOn, 1);
    std::vector<std::int16_t> dc(v.N, 8000);
    for (int f = 0; f < 8; ++f)
      Vocrel_RNR_PreProcess(hp.get(), dc.data(), frame.data(), spec.data());
    for (int n = 0; n < v.N; ++n) ASSERT_LE(std::abs(frame[v.N + n]), 40) << rate;
  }
}

TEST(RnrFraming, BandMagnitudesOfFlatPower) {
  // Equal powers 2^20: groups and smoothing keep 2^20 exactly (6554 + 19660 +
  // 6554 = 1.0 in Q15); the root of 2^20 is 2^25 at (offset 0, shift 1).
  for (int L : {256, 512}) {
    std::vector<std::int32_t> pow(L / 2 + 1, 1 << 20), ld(L / 8 + 1);
    Vocrel_RNR_CalcSpecLD(pow.data(), L, 0, ld.data());
    for (std::int32_t x : ld) ASSERT_EQ(x, 1 << 25);
    Vocrel_RNR_CalcSpecLD(pow.data(), L, 10, ld.data());
    for (std::int32_t x : ld) ASSERT_EQ(x, 1 << 15);  // rounded shift
    Vocrel_RNR_CalcSpecLD(pow.data(), L, -6, ld.data());
    for (std::int32_t x : ld) ASSERT_EQ(x, 2147483647);  // saturating left shift
  }
}

TEST(RnrFraming, GainAppliedToLowerHalfAndMirrored) {
  sig::Lcg64 rng{11};
  for (int L : {256, 512}) {
    std::vector<std::int32_t> spec(2 * L), orig;
    for (auto& x : spec) x = static_cast<std::int32_t>(rng.next() >> 32);
    spec[3] = -2147483647 - 1;  // imaginary part of bin 1
    orig = spec;
    std::vector<std::int16_t> gain(L / 2 + 1, 32767);
    vocrel_rnr_GetNrSpec(L, gain.data(), spec.data());
    auto floor_gain = [](std::int64_t v) {
      const std::int64_t p = v * 32767;
      return static_cast<std::int32_t>(p >= 0 ? p / 32768 : -((-p + 32767) / 32768));
    };
    for (int k = 0; k <= L / 2; ++k) {
      ASSERT_EQ(spec[2 * k], floor_gain(orig[2 * k])) << k;
      ASSERT_EQ(spec[2 * k + 1], floor_gain(orig[2 * k + 1])) << k;
    }
    for (int k = 1; k < L / 2; ++k) {
      ASSERT_EQ(spec[2 * (L - k)], spec[2 * k]);
      ASSERT_EQ(spec[2 * (L - k) + 1], vocrel::neg_sat32(spec[2 * k + 1]));
    }
    std::fill(gain.begin(), gain.end(), 0);
    vocrel_rnr_GetNrSpec(L, gain.data(), spec.data());
    for (auto x : spec) ASSERT_EQ(x, 0);
  }
}

TEST(RnrCepstrum, HarmonicGrid) {
  struct Row {
    int first, last, spacing, count;
  };
  const Row rows[] = {{26, 26, 10, 12}, {27, 30, 9, 14},  {31, 34, 8, 15},
                      {35, 39, 7, 18},  {40, 46, 6, 21},  {47, 56, 5, 25},
                      {57, 73, 4, 31},  {74, 102, 3, 42}, {103, 114, 2, 63}};
  for (const Row& r : rows) {
    for (int q0 = r.first; q0 <= r.last; ++q0) {
      int spacing = 0, count = 0;
      vocrel::rnr::harmonic_grid(q0, &spacing, &count);
      EXPECT_EQ(spacing, r.spacing) << q0;
      EXPECT_EQ(count, r.count) << q0;
    }
  }
}

TEST(RnrCepstrum, SilenceAndHarmonicSpectrum) {
  for (int rate : kRates) {
    vocrel_test::Instance inst(env(rate));
    RnrChanState* st = &inst.at<RnrChanState>(vocrel::kRnrChanOffset(0));
    alignas(32) std::array<std::int32_t, 1024> work;
    std::array<std::int32_t, 257> mag{};
    std::array<std::int32_t, 129> hd, valley;
    std::int32_t peak = -1, smPeak = -1;
    EXPECT_EQ(Vocrel_RNR_CalcSpec_HD(st, work.data(), mag.data(), &peak, &smPeak, hd.data(),
                                     valley.data()),
              0);
    EXPECT_EQ(peak, 0);
    EXPECT_EQ(smPeak, 0);
    EXPECT_EQ(hd, valley);

    // Harmonics every 8 bins (250 Hz, pitch quefrency 32) over a flat floor.
    for (int k = 0; k < 257; ++k) {
      const int d = k % 8 < 4 ? k % 8 : 8 - k % 8;
      mag[k] = 200000 >> (3 * d);
    }
    const std::int32_t flag = Vocrel_RNR_CalcSpec_HD(st, work.data(), mag.data(), &peak, &smPeak,
                                                     hd.data(), valley.data());
    EXPECT_EQ(flag, 1);
    EXPECT_GT(smPeak, 4000);
    int below = 0;
    for (int k = 0; k < 129; ++k) {
      ASSERT_LE(valley[k], hd[k]) << k;  // the valley spectrum never exceeds the smoothed one
      if (k % 8 == 0 && k > 0 && k < 120 && valley[k] < hd[k] / 3) ++below;
    }
    EXPECT_GE(below, 10) << "valley follows the floor under the harmonic peaks";
  }
}

TEST(RnrVad, Vad1CountsStationaryFramesAndResets) {
  for (int rate : kRates) {
    LoneState st(rate);
    std::vector<std::int32_t> steady(st.view().G + 1, 1 << 20), quiet(st.view().G + 1, 0);
    for (int f = 1; f <= 50; ++f) {
      st->frameCnt = f;
      EXPECT_EQ(Vocrel_RNR_VAD1_Frame(st.get(), steady.data()), f == 50 ? 1 : 0) << f;
    }
    EXPECT_EQ(st->vad1StatCnt, 50);
    // Frames with E < 100 say "noise" without counting; six keep the count,
    // the seventh in a row clears it.
    for (int f = 51; f <= 56; ++f) {
      st->frameCnt = f;
      EXPECT_EQ(Vocrel_RNR_VAD1_Frame(st.get(), quiet.data()), 1);
    }
    EXPECT_EQ(st->vad1StatCnt, 50);
    st->frameCnt = 57;
    EXPECT_EQ(Vocrel_RNR_VAD1_Frame(st.get(), quiet.data()), 1);
    EXPECT_EQ(st->vad1StatCnt, 0);
  }
}

TEST(RnrVad, Vad2StartsAtFrame100AndWrapsItsRing) {
  LoneState st(8000);
  const auto v = st.view();
  std::fill(v.noiseEst, v.noiseEst + v.B, 40000);
  std::vector<std::int32_t> same(v.G + 1, 90000), other(v.G + 1, 90000);
  for (int j = 0; j <= v.G; j += 2) other[j] = 2000;

  st->frameCnt = 99;
  EXPECT_EQ(Vocrel_RNR_VAD2_Frame(st.get(), same.data()), 0);  // too early
  st->frameCnt = 100;
  st->vad2HistIdx = 100;  // out of range: wrapped before the store
  EXPECT_EQ(Vocrel_RNR_VAD2_Frame(st.get(), same.data()), 1);
  EXPECT_EQ(st->vad2HistIdx, 0);
  st->vad2HistIdx = 65535;
  st->vad2Hist.fill(0);
  EXPECT_EQ(Vocrel_RNR_VAD2_Frame(st.get(), other.data()), 0);  // shape differs
  EXPECT_GT(st->vad2Hist[0], 4096);
  st->lowNoiseCnt = 3;
  EXPECT_EQ(Vocrel_RNR_VAD2_Frame(st.get(), same.data()), 0);  // switched off when quiet
}

TEST(RnrVad, Vad3LinearFitResidual) {
  for (int rate : kRates) {
    LoneState st(rate, 1);
    const auto v = st.view();
    std::vector<std::int32_t> y(v.B);
    auto spread = [&](std::int32_t unit) {
      for (int i = 0; i < v.B; ++i)
        v.noiseEst[i] = unit / 2 + static_cast<std::int32_t>(std::int64_t{unit} * (i % 7) / 6);
      std::copy(v.noiseEst, v.noiseEst + v.B, y.begin());
    };
    spread(1048576);
    EXPECT_EQ(Vocrel_RNR_VAD3_Frame(st.get(), y.data()), 1) << "scaled copy of the noise";
    for (int i = 0; i < v.B; i += 6) y[i] += 1048576;
    EXPECT_EQ(Vocrel_RNR_VAD3_Frame(st.get(), y.data()), 0) << "own spectral structure";
    spread(65536);  // variances quantise to 1: R = 1 against Q = 1 at 8 kHz, 5 at 16 kHz
    EXPECT_EQ(Vocrel_RNR_VAD3_Frame(st.get(), y.data()), rate == 8000 ? 0 : 1);
    std::fill(v.noiseEst, v.noiseEst + v.B, 500000);  // constant X: variance clamped to 1
    std::fill(y.begin(), y.end(), 500000);
    EXPECT_EQ(Vocrel_RNR_VAD3_Frame(st.get(), y.data()), 1);
  }
}

TEST(RnrNoise, MinimumTrackerWindowsAndLowNoise) {
  for (int rate : kRates) {
    LoneState st(rate);
    const int B = st.view().B;
    std::vector<std::int32_t> y(B, 1000000), low(B, 1000);
    for (std::uint32_t f = 1; f <= 130; ++f) {
      st->frameCnt = f;
      Vocrel_RNR_Mcra(st.get(), f == 30 ? low.data() : y.data());
      const std::int32_t expect = f < 30 || f >= 120 ? 1000000 : 1000;
      ASSERT_EQ(st->mcraMin[0], std::min<std::int32_t>(expect, 1000000)) << f;
      ASSERT_EQ(st->mcraMin[B - 1], expect) << f;
    }
    EXPECT_EQ(st->lowNoiseCnt, 0);
    // The first frame caps the minima: 50 x 65536 low, 25 x 65536 high.
    LoneState loud(rate);
    std::vector<std::int32_t> big(B, 2000000000);
    loud->frameCnt = 1;
    Vocrel_RNR_Mcra(loud.get(), big.data());
    EXPECT_EQ(loud->mcraMin[0], 3276800);
    EXPECT_EQ(loud->mcraSubMin[B - 1][3], 1638400);

    // A floor of zeros counts up to 1000; the count survives ten louder frames.
    LoneState q(rate);
    std::vector<std::int32_t> zero(B, 0);
    for (std::uint32_t f = 1; f <= 1100; ++f) {
      q->frameCnt = f;
      Vocrel_RNR_Mcra(q.get(), zero.data());
    }
    EXPECT_EQ(q->lowNoiseCnt, 1000);
    for (int k = 0; k < B; ++k) q->mcraMin[k] = q->mcraCurMin[k] = 1000000;
    for (auto& s : q->mcraSubMin) s.fill(1000000);
    for (int f = 1; f <= 11; ++f) {
      q->frameCnt = 1100 + f;
      Vocrel_RNR_Mcra(q.get(), y.data());
      EXPECT_EQ(q->lowNoiseCnt, f <= 10 ? 1000 : 0) << f;
    }
    // A corrupted ring position stays inside the four sub-windows.
    q->mcraSubIdx = 200;
    q->mcraSubCnt = 19;
    Vocrel_RNR_Mcra(q.get(), y.data());
    EXPECT_EQ(q->mcraSubIdx, 1);
  }
}

TEST(RnrNoise, FrequencyFlagsThresholdsAndHangover) {
  LoneState st(16000);
  const int B = st.view().B;
  std::fill(st->mcraMin.begin(), st->mcraMin.end(), 8000);
  std::vector<std::int32_t> y(B, 8 * 1800);  // 1800 lies between 1.5x and 2x of the floor
  std::vector<std::int16_t> flags(B);
  Vocrel_RNR_McraFreqVad(st.get(), y.data(), flags.data(), B);
  EXPECT_EQ(flags[10], 1);  // band < 32: factor 1.5
  EXPECT_EQ(flags[40], 0);  // bands 32..47: factor 2.0
  EXPECT_EQ(flags[60], 0);  // bands 48..: factor 2.5
  st->lowNoiseCnt = 1;      // very quiet: 1.5 everywhere
  Vocrel_RNR_McraFreqVad(st.get(), y.data(), flags.data(), B);
  EXPECT_EQ(flags[40], 1);
  EXPECT_EQ(flags[60], 1);

  // Seven speech frames in a low band hold the flag for ten more frames.
  st->lowNoiseCnt = 0;
  std::vector<std::int32_t> silent(B, 0);
  for (int f = 0; f < 7; ++f) Vocrel_RNR_McraFreqVad(st.get(), y.data(), flags.data(), B);
  for (int f = 1; f <= 11; ++f) {
    Vocrel_RNR_McraFreqVad(st.get(), silent.data(), flags.data(), B);
    EXPECT_EQ(flags[3], f <= 10 ? 1 : 0) << f;
    EXPECT_EQ(flags[20], 0);
  }
  // A band count beyond the layout is clamped.
  std::vector<std::int16_t> wide(200, -1);
  Vocrel_RNR_McraFreqVad(st.get(), silent.data(), wide.data(), 200);
  EXPECT_EQ(wide[B], -1);
}

TEST(RnrNoise, StartupCeilingsAndUpdateForms) {
  for (int vad3 : {0, 1}) {
    LoneState st(8000, vad3);
    const auto v = st.view();
    std::vector<std::int32_t> hd(129, 5000000), valley(129, 4000000), ld(v.G + 1, 3000000),
        mcra(v.B);
    for (std::uint32_t f = 1; f <= 2; ++f) {
      st->frameCnt = f;
      Vocrel_RNR_EstimateNoiseLevel(st.get(), f == 2, 0, hd.data(), valley.data(), ld.data(),
                                    mcra.data());
      EXPECT_EQ(mcra[40], 3000000) << "no rebuild of the upper bands yet";
    }
    EXPECT_EQ(st->vad2Hist[0], 20480);
    EXPECT_EQ(v.noiseEst[0], vad3 ? 90000 : 90000);  // harmonic frame 2: ceiling 90000
    LoneState plain(8000, vad3);
    const auto pv = plain.view();
    plain->frameCnt = 1;
    Vocrel_RNR_EstimateNoiseLevel(plain.get(), 0, 0, hd.data(), valley.data(), ld.data(),
                                  mcra.data());
    EXPECT_EQ(pv.noiseEst[0], vad3 ? 327680 : 4000000);
    EXPECT_EQ(pv.noiseEst[40], vad3 ? 163840 : 3000000);
  }

  // Guarded form (vad3On, frame > 100): a target below 65536 and below a
  // quarter of the estimate moves it at 0.05, otherwise at 0.1.
  LoneState st(8000, 1);
  const auto v = st.view();
  std::vector<std::int32_t> hd(129, 80000), valley(129, 80000), ld(v.G + 1, 80000), mcra(v.B);
  valley[0] = 10000;
  valley[1] = 30000;
  std::fill(v.noiseEst, v.noiseEst + v.B, 80000);
  st->frameCnt = 200;
  Vocrel_RNR_EstimateNoiseLevel(st.get(), 0, 1, hd.data(), valley.data(), ld.data(), mcra.data());
  EXPECT_NEAR(v.noiseEst[0], 80000 - 0.05 * 70000, 2);
  EXPECT_NEAR(v.noiseEst[1], 80000 - 0.10 * 50000, 2);
  EXPECT_EQ(v.noiseEst[2], 80000);

  // A noise frame inside the harmonic hangover updates nothing; a speech
  // frame still updates its speech-free bands.
  st->harmonicRun = 3;
  valley[2] = 40000;
  const std::int32_t before = v.noiseEst[2];
  Vocrel_RNR_EstimateNoiseLevel(st.get(), 0, 1, hd.data(), valley.data(), ld.data(), mcra.data());
  EXPECT_EQ(v.noiseEst[2], before);
  st->vad3On = 0;       // detectors 2 and 3 silent: a speech frame
  st->lowNoiseCnt = 1;  // (this also sets every flag threshold to 1.5)
  std::fill(st->mcraMin.begin(), st->mcraMin.end(), 80000);
  Vocrel_RNR_EstimateNoiseLevel(st.get(), 1, 0, hd.data(), valley.data(), ld.data(), mcra.data());
  EXPECT_LT(v.noiseEst[2], before);
}

TEST(RnrGain, DepthRuleAndFirstFrame) {
  LoneState st(16000);
  const auto v = st.view();
  std::vector<std::int16_t> snr(v.B, 256);
  st->frameCnt = 1;
  // Quiet surroundings (E' <= 3338): every gain is 1.0.
  std::fill(v.noiseEst, v.noiseEst + v.B, 100);
  Vocrel_RNR_CalcGain2(st.get(), snr.data());
  for (int k = 0; k < v.B; ++k) ASSERT_EQ(v.bandSmoothGain[k], 32767);

  // Loud noise: the depth stops at -maxNr (15 dB), or -8 dB in a low-level run.
  std::fill(v.noiseEst, v.noiseEst + v.B, 1 << 24);
  snr[5] = 512;    // D = -417790: -12.75 dB
  snr[6] = 32767;  // q saturates: gain 1.0
  Vocrel_RNR_CalcGain2(st.get(), snr.data());
  EXPECT_NEAR(v.bandSmoothGain[0], 32768 * std::pow(10.0, -15.0 / 20), 40);
  EXPECT_NEAR(v.bandSmoothGain[5], 32768 * std::pow(10.0, -417790.0 / 32768 / 20), 40);
  EXPECT_EQ(v.bandSmoothGain[6], 32767);
  st->lowLevelRun = 11;
  Vocrel_RNR_CalcGain2(st.get(), snr.data());
  EXPECT_NEAR(v.bandSmoothGain[0], 32768 * std::pow(10.0, -8.0 / 20), 40);
}

TEST(RnrGain, SmoothingWeightFollowsSnrRoot) {
  // The weight of the previous gain drops at once to 32768 - clamp(sqrt(snr)
  // in Q15 - 1.25, 328, 32440).
  LoneState st(8000);
  const auto v = st.view();
  std::vector<std::int16_t> snr(v.B, 256), gain(v.B, 1000);
  snr[1] = 512;
  snr[2] = 1024;
  snr[3] = 1282;
  snr[4] = 20000;
  st->frameCnt = 5;
  Vocrel_RNR_SmoothGain(st.get(), gain.data(), snr.data());
  EXPECT_EQ(v.bandSmoothCoef[1], 27320);
  EXPECT_EQ(v.bandSmoothCoef[2], 8128);
  EXPECT_EQ(v.bandSmoothCoef[3], 328);
  EXPECT_EQ(v.bandSmoothCoef[4], 328);
  EXPECT_GT(v.bandSmoothCoef[0], 31129) << "low SNR: the weight rises towards 0.99";
  // Low total noise for more than 10 frames switches the rise weight to 0.6.
  for (int f = 0; f < 11; ++f) Vocrel_RNR_SmoothGain(st.get(), gain.data(), snr.data());
  EXPECT_EQ(st->bandSmoothWeight, 19661);
  Vocrel_RNR_InterpolateGain(st.get());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v.gainBin[33 + i], v.bandSmoothGain[33]);
  EXPECT_EQ(v.gainBin[128], v.bandSmoothGain[56]);
}

TEST(RnrDriver, HarmonicHangover) {
  struct Case {
    int run, hold;
  };
  for (const Case c : {Case{1, 5}, Case{4, 10}, Case{7, 15}, Case{9, 20}, Case{12, 30}}) {
    LoneState st(8000);
    for (int f = 0; f < c.run; ++f) vocrel::rnr::update_harmonic_hangover(st.get(), 1);
    EXPECT_EQ(st->harmonicRun, static_cast<std::uint32_t>(c.run));
    for (int f = 1; f <= c.hold + 1; ++f) {
      vocrel::rnr::update_harmonic_hangover(st.get(), 0);
      EXPECT_EQ(st->harmonicRun == 0, f == c.hold + 1) << c.run << " " << f;
    }
  }
}

TEST(RnrDriver, LevelTrackerAndLowLevelCounter) {
  LoneState st(8000);
  const auto v = st.view();
  // Below the floor for 31 frames: the hold is set; above it, the hold counts
  // down and the run clears on the 11th frame.
  st->levelTrack = 50;
  for (int f = 0; f < 31; ++f) vocrel::rnr::update_low_level_counter(st.get());
  EXPECT_EQ(st->lowLevelRun, 31);
  EXPECT_EQ(st->lowLevelHold, 10);
  st->levelTrack = 500;
  for (int f = 1; f <= 11; ++f) {
    vocrel::rnr::update_low_level_counter(st.get());
    EXPECT_EQ(st->lowLevelRun, f <= 10 ? 31 : 0) << f;
  }

  // Speech frames rise by 1/64 towards at most 4x; noise frames only fall.
  st->levelTrack = 6400;
  st->frameEnergy = 1000000;
  vocrel::rnr::update_level_tracker(st.get(), v, 1);
  EXPECT_EQ(st->levelTrack, 6400 + (25600 - 6400) / 64);
  const std::int32_t up = st->levelTrack;
  vocrel::rnr::update_level_tracker(st.get(), v, 0);
  EXPECT_EQ(st->levelTrack, up);
  st->frameEnergy = 0;
  vocrel::rnr::update_level_tracker(st.get(), v, 0);
  EXPECT_EQ(st->levelTrack, up - ((up + 63) / 64));
  // Never below the tracked minimum's energy (single bins x1, groups x4).
  std::fill(st->mcraMin.begin(), st->mcraMin.end(), 1 << 20);  // 2^40 >> 37 = 8
  st->levelTrack = 1;
  vocrel::rnr::update_level_tracker(st.get(), v, 0);
  EXPECT_EQ(st->levelTrack, 33 * 8 + 24 * 32);
  st->harmonicRun = 1;
  st->levelTrack = 7;
  vocrel::rnr::update_level_tracker(st.get(), v, 1);
  EXPECT_EQ(st->levelTrack, 7) << "stands still in the harmonic hangover";
}

}  // namespace
