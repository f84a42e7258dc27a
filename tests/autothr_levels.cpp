// Automatic level threshold: argument and state checks, the threshold it
// settles on against a sweep of fixed thresholds on noisy speech at several
// noise levels and rates, and a digest of its choices that every platform
// must reproduce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "signals.h"
#include "test_util.h"
#include "vocrel_rnr.h"
#include "vocrel_rnr_autothr.h"

namespace {

struct Cleaned {
  sig::Samples out;
  std::vector<std::int32_t> thr;  // threshold in force at each frame
};

// Below the fixed thresholds' range: the automatic threshold.
constexpr std::int32_t kAuto = VOCREL_RNR_LEVEL_THR_MIN - 1;

// Mode 0 mono over x; fixedThr kAuto means automatic.
Cleaned run(const sig::Samples& x, int rate, std::int32_t fixedThr) {
  Vocrel_RNR_Params p = vocrel_test::params_for(rate);
  const bool autoThr = fixedThr == kAuto;
  if (!autoThr) p.levelThrDb = fixedThr;
  vocrel_test::Instance inst(p);
  void* h = inst.handle;
  Vocrel_RNR_AutoThr at;
  EXPECT_EQ(Vocrel_RNR_AutoThrInit(&at, rate, 1, p.levelThrDb), 0);
  const std::size_t n = static_cast<std::size_t>(rate / 100);
  Cleaned r{sig::Samples(x.size()), {}};
  for (std::size_t k = 0; k + n <= x.size(); k += n) {
    Vocrel_RNR_FrameIo io = {&x[k], nullptr, static_cast<std::uint32_t>(n), &r.out[k], nullptr};
    std::int32_t thr = p.levelThrDb;
    if (autoThr) {
      EXPECT_GE(Vocrel_RNR_AutoThrUpdate(&at, h, &io, &thr), 0);
    }
    EXPECT_EQ(Vocrel_RNR_Apply(h, &io, nullptr), 0);
    r.thr.push_back(thr);
  }
  return r;
}

TEST(AutoThr, RefusesBadArgumentsAndDamagedState) {
  Vocrel_RNR_AutoThr at;
  EXPECT_EQ(Vocrel_RNR_AutoThrInit(nullptr, 16000, 1, -55), VOCREL_RNR_AUTOTHR_E_NULL);
  EXPECT_EQ(Vocrel_RNR_AutoThrInit(&at, 44100, 1, -55), VOCREL_RNR_E_SAMPLE_RATE);
  EXPECT_EQ(Vocrel_RNR_AutoThrInit(&at, 16000, 3, -55), VOCREL_RNR_E_CHANNELS);
  EXPECT_EQ(Vocrel_RNR_AutoThrInit(&at, 16000, 1, VOCREL_RNR_LEVEL_THR_MAX + 1),
            VOCREL_RNR_E_LEVEL_THR);
  ASSERT_EQ(Vocrel_RNR_AutoThrInit(&at, 16000, 2, -55), 0);

  vocrel_test::Instance inst(vocrel_test::params_for(16000, 2));
  void* h = inst.handle;
  std::int16_t buf[160];
  for (int i = 0; i < 160; ++i)
    buf[i] = static_cast<std::int16_t>(i % 2 ? 900 : -900);  // not a gap
  Vocrel_RNR_FrameIo io = {buf, nullptr, 160, buf, buf};
  EXPECT_EQ(Vocrel_RNR_AutoThrUpdate(&at, h, nullptr, nullptr), VOCREL_RNR_AUTOTHR_E_NULL);
  EXPECT_EQ(Vocrel_RNR_AutoThrUpdate(&at, h, &io, nullptr), VOCREL_RNR_E_NULL_INPUT);
  io.inCh1 = buf;
  io.frameLen = 80;
  EXPECT_EQ(Vocrel_RNR_AutoThrUpdate(&at, h, &io, nullptr), VOCREL_RNR_E_FRAME_LEN);
  io.frameLen = 160;
  Vocrel_RNR_AutoThr bad = at;
  bad.blockIdx = 8;  // an index past its array is refused, never followed
  EXPECT_EQ(Vocrel_RNR_AutoThrUpdate(&bad, h, &io, nullptr), VOCREL_RNR_AUTOTHR_E_STATE);
  for (auto damage : {+[](Vocrel_RNR_AutoThr& s) { s.magic = 0; },
                      +[](Vocrel_RNR_AutoThr& s) { s.prevEnergy[1] = -1; },  // sums never wrap
                      +[](Vocrel_RNR_AutoThr& s) { s.blockFrames = INT32_MAX; },
                      +[](Vocrel_RNR_AutoThr& s) { s.smoothLevelQ5 = INT32_MIN; }}) {
    bad = at;
    damage(bad);
    EXPECT_EQ(Vocrel_RNR_AutoThrUpdate(&bad, h, &io, nullptr), VOCREL_RNR_AUTOTHR_E_STATE);
  }
  // The engine's refusal comes back and the threshold in force stays.
  std::int32_t thr = 0;
  std::fill(inst.block.storage.begin(), inst.block.storage.end(), 0);
  EXPECT_EQ(Vocrel_RNR_AutoThrUpdate(&at, h, &io, &thr), VOCREL_RNR_E_MAGIC);
  EXPECT_EQ(thr, -55);
}

// Noisy speech: 3 s of noise alone, then syllables with pauses. The noise
// alone is measured from 1.5 s on, the pauses from 4 s on.
TEST(AutoThr, PauseAttenuationMatchesTheBestFixedThreshold) {
  for (int rate : {8000, 16000, 48000}) {
    for (sig::Colour colour : {sig::Colour::White, sig::Colour::Pink}) {
      for (double noiseDbfs : {-45.0, -30.0}) {
        const std::size_t n = static_cast<std::size_t>(rate) * 7, lead = 3 * rate;
        const double rms = 32768.0 * std::pow(10.0, noiseDbfs / 20);
        sig::Voiced s = sig::speech_like(rate, n - lead, static_cast<std::int32_t>(rms * 4));
        s.x.insert(s.x.begin(), lead, 0);
        s.pause.insert(s.pause.begin(), lead, false);
        std::vector<bool> alone(n, false);
        std::fill(alone.begin() + rate * 3 / 2, alone.begin() + lead, true);
        const sig::Samples x = sig::add(s.x, sig::noise(colour, rms, n, 17));
        const std::size_t from = lead + rate, lag = rate / 100;
        double best = 0;
        for (std::int32_t t = VOCREL_RNR_LEVEL_THR_MIN; t <= VOCREL_RNR_LEVEL_THR_MAX; t += 10)
          best = std::min(best, sig::gain_db(x, run(x, rate, t).out, lag, from, &s.pause));
        const Cleaned a = run(x, rate, kAuto);
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << sig::name(colour) << " at "
                                        << noiseDbfs << " dBFS, threshold " << a.thr.back());
        EXPECT_LE(sig::gain_db(x, a.out, lag, from, &s.pause), best + 1.5);
        if (rate == 48000) {  // where the library's default leaves loud noise alone
          EXPECT_LE(sig::gain_db(x, a.out, lag, 0, &alone), -10.0);
          if (noiseDbfs > -40) {
            EXPECT_GT(sig::gain_db(x, run(x, rate, -55).out, lag, 0, &alone), -1.0);
          }
        }
      }
    }
  }
}

// Noise stepping from -70 to -30 dBFS and back at 16 kHz: the thresholds
// chosen frame by frame, folded into one word; x86-64 and armhf must agree.
TEST(AutoThr, ChoicesAreTheSameOnEveryPlatform) {
  const int rate = 16000;
  sig::Samples x;
  for (int step = 0; step < 6; ++step) {
    const double dbfs = step < 3 ? -70 + 20 * step : -30 - 20 * (step - 3);
    const sig::Samples part =
        sig::noise(sig::Colour::Pink, 32768.0 * std::pow(10.0, dbfs / 20), 4 * rate, step + 1u);
    x.insert(x.end(), part.begin(), part.end());
  }
  const Cleaned r = run(x, rate, kAuto);
  std::uint32_t h = 2166136261u;
  for (std::int32_t t : r.thr) h = (h ^ static_cast<std::uint32_t>(t)) * 16777619u;
  EXPECT_EQ(r.thr[4 * rate / 160 - 1], -70) << "threshold after the first step";
  // Rising noise is followed within 2 s, not after the 5 s window.
  EXPECT_GE(r.thr[6 * rate / 160], -61) << "2 s after the noise rose to -50 dBFS";
  EXPECT_GE(r.thr[10 * rate / 160], -51) << "2 s after the noise rose to -30 dBFS";
  EXPECT_EQ(h, 2270734800u);
}

}  // namespace
