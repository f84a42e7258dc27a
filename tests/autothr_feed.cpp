// The automatic level threshold and the frame feed around Apply. The
// threshold: argument and state checks, the threshold it settles on against a
// sweep of fixed thresholds on noisy speech at several noise levels and rates,
// and a digest of its choices that every platform must reproduce. The feed:
// its refusals, and what the silence hold promises: a recording that starts
// with digital silence cleans exactly as without it, silence inside a
// recording costs no learnt noise and leaves no click, tunables set during
// silence stay, a block stuck at one level is held over like silence, and
// without silence the feed is the threshold tracker plus Apply, sample for
// sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "signals.h"
#include "test_util.h"
#include "vocrel_rnr_autothr.h"
#include "vocrel_rnr_feed.h"

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

struct Stream {
  vocrel_test::Instance inst;
  void* h = inst.handle;
  std::vector<unsigned char> spare = std::vector<unsigned char>(VOCREL_RNR_FEED_SPARE_SIZE);
  Vocrel_RNR_Feed feed{};
  std::size_t n = inst.frame_len();

  Stream(int rate, int mode, std::uint32_t flags) : inst(vocrel_test::params_for(rate, 1, mode)) {
    EXPECT_EQ(inst.status, 0);
    EXPECT_EQ(Vocrel_RNR_FeedInit(&feed, h, flags), 0);
  }
  // Cleans whole frames of x; the output keeps the engine's one-frame delay.
  sig::Samples run(const sig::Samples& x) {
    sig::Samples y(x.size());
    for (std::size_t k = 0; k + n <= x.size(); k += n) {
      Vocrel_RNR_FrameIo io = {&x[k], nullptr, static_cast<std::uint32_t>(n), &y[k], nullptr};
      EXPECT_GE(Vocrel_RNR_FeedFrame(&feed, h, spare.data(), &io, nullptr), 0);
    }
    return y;
  }
};

double rms_db(const sig::Samples& x, std::size_t from, std::size_t to) {
  double e = 0;
  for (std::size_t i = from; i < to; ++i) e += double(x[i]) * x[i];
  return 10 * std::log10(e / double(to - from) + 1e-9);
}

constexpr std::uint32_t kAll = VOCREL_RNR_FEED_DEFAULT;

TEST(Feed, RefusesBadArgumentsAndDamagedState) {
  Stream s(16000, 0, kAll);
  Vocrel_RNR_Feed f{};
  EXPECT_EQ(Vocrel_RNR_FeedInit(nullptr, s.h, kAll), VOCREL_RNR_AUTOTHR_E_NULL);
  EXPECT_EQ(Vocrel_RNR_FeedInit(&f, s.h, 4), VOCREL_RNR_FEED_E_STATE);
  EXPECT_EQ(f.magic, 0) << "nothing written on a refusal";
  std::int16_t in[160] = {}, out[160] = {};
  Vocrel_RNR_FrameIo io = {in, nullptr, 160, out, nullptr};
  EXPECT_EQ(Vocrel_RNR_FeedFrame(&f, s.h, s.spare.data(), &io, nullptr), VOCREL_RNR_FEED_E_STATE);
  EXPECT_EQ(Vocrel_RNR_FeedFrame(&s.feed, s.h, nullptr, &io, nullptr), VOCREL_RNR_FEED_E_SPARE);
  io.frameLen = 80;
  EXPECT_EQ(Vocrel_RNR_FeedFrame(&s.feed, s.h, s.spare.data(), &io, nullptr),
            VOCREL_RNR_E_FRAME_LEN);
  Vocrel_RNR_Feed bad = s.feed;
  bad.holding = 7;
  io.frameLen = 160;
  EXPECT_EQ(Vocrel_RNR_FeedFrame(&bad, s.h, s.spare.data(), &io, nullptr), VOCREL_RNR_FEED_E_STATE);
  // A header claiming a third channel is refused before any channel is measured.
  s.inst.at(68) = 3;
  EXPECT_EQ(Vocrel_RNR_FeedFrame(&s.feed, s.h, s.spare.data(), &io, nullptr), VOCREL_RNR_E_CORRUPT);
  s.inst.at(68) = 1;
  std::fill(s.inst.block.storage.begin(), s.inst.block.storage.end(), 0);
  EXPECT_EQ(Vocrel_RNR_FeedFrame(&s.feed, s.h, s.spare.data(), &io, nullptr), VOCREL_RNR_E_MAGIC);
}

// Without digital silence the feed is the tracker and Apply, nothing more.
TEST(Feed, WithoutSilenceEqualsTheTrackerAndApply) {
  const int rate = 48000;
  const sig::Samples x = sig::noise(sig::Colour::Pink, 1500, 3 * rate, 3);
  Stream s(rate, 0, kAll);
  EXPECT_EQ(s.run(x), run(x, rate, kAuto).out);
  EXPECT_EQ(s.feed.silentFrames, 0u);
}

// Zeros before the first sound are dropped from the engine's history: the
// rest of the output is the output of the recording without them, in both
// modes.
TEST(Feed, LeadingSilenceChangesNothing) {
  for (auto [rate, mode] : {std::pair{8000, 0}, {16000, 0}, {48000, 0}, {16000, 1}}) {
    if (mode == 1 && !VOCREL_MODE1) continue;  // a build without the environment-noise path
    SCOPED_TRACE(testing::Message() << rate << " Hz, mode " << mode);
    const std::size_t lead = rate / 5;  // 0.2 s: whole frames at every rate
    const sig::Samples x = sig::noise(sig::Colour::White, 800, 2 * rate, 9);
    sig::Samples z(lead, 0);
    z.insert(z.end(), x.begin(), x.end());
    const sig::Samples plain = Stream(rate, mode, kAll).run(x);
    Stream held(rate, mode, kAll);
    const sig::Samples y = held.run(z);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), y.begin() + static_cast<long>(lead)));
    EXPECT_EQ(held.feed.silentFrames, 20u);
  }
}

// Cleans x with maxNr lowered to 12 from sample `at` on (a whole frame).
sig::Samples run_changing_max_nr(Stream& s, const sig::Samples& x, std::size_t at) {
  sig::Samples y = s.run(sig::Samples(x.begin(), x.begin() + static_cast<long>(at)));
  Vocrel_RNR_Params p{};
  EXPECT_EQ(Vocrel_RNR_GetParams(s.h, &p), 0);
  p.maxNr = 12;
  EXPECT_EQ(Vocrel_RNR_SetParams(s.h, &p), 0);
  const sig::Samples rest = s.run(sig::Samples(x.begin() + static_cast<long>(at), x.end()));
  y.insert(y.end(), rest.begin(), rest.end());
  return y;
}

// 0.3 s of zeros inside noise, ending inside a frame, with maxNr changed
// during them: afterwards the engine removes as much as on the same noise
// without the zeros (and clearly more than with the hold off), the change is
// still in force, and the first frames after the zeros are neither louder
// than the noise out around them nor lost.
TEST(Feed, SilenceInsideKeepsTheLearntNoise) {
  for (int rate : {16000, 48000}) {
    SCOPED_TRACE(testing::Message() << rate << " Hz");
    const std::size_t n = rate / 100, hole = 300 * n, resume = hole + 30 * n;
    sig::Samples x = sig::noise(sig::Colour::Pink, 600, 7 * rate, 4);
    Stream plain(rate, 0, kAll);
    const sig::Samples plainOut = run_changing_max_nr(plain, x, hole + 10 * n);
    // Sound returns a quarter into a frame: that frame is cleaned whole.
    const std::size_t back = resume + n / 4;
    std::fill(x.begin() + static_cast<long>(hole), x.begin() + static_cast<long>(back), 0);
    Stream held(rate, 0, kAll);
    const sig::Samples y = run_changing_max_nr(held, x, hole + 10 * n);
    Vocrel_RNR_Params p{};
    ASSERT_EQ(Vocrel_RNR_GetParams(held.h, &p), 0);
    EXPECT_EQ(p.maxNr, 12);
    EXPECT_EQ(held.feed.holds, 1u);
    EXPECT_EQ(held.feed.silentFrames, 30u);

    Stream unheld(rate, 0, VOCREL_RNR_FEED_AUTO_THR);
    const sig::Samples lost = run_changing_max_nr(unheld, x, hole + 10 * n);
    // The output lags by one frame.
    const std::size_t from = resume + rate / 2 + n, to = resume + 3 * rate + n;
    const double kept = rms_db(y, from, to), plainDb = rms_db(plainOut, from, to);
    EXPECT_LT(kept, plainDb + 1.0);
    EXPECT_LT(kept, rms_db(lost, from, to) - 1.0) << "the hold made no difference";
    EXPECT_LT(rms_db(y, resume, resume + 2 * n), kept + 3.0) << "a click where sound resumes";
    EXPECT_GT(rms_db(y, back + n, resume + 2 * n), rms_db(plainOut, back + n, resume + 2 * n) - 6.0)
        << "the first sound after the gap is lost";
  }
}

// A block stuck at full scale (float samples far beyond it, clipped to one
// word) for 0.3 s is held over like digital silence, in both modes; a flat
// stretch of three frames (the top of a low sound clipped at full scale) is
// cleaned as sound, exactly as with the hold off.
TEST(Feed, StuckBlocksAreHeldShortFlatStretchesAreSound) {
  for (auto [rate, mode] : {std::pair{16000, 0}, {48000, 0}, {16000, 1}}) {
    if (mode == 1 && !VOCREL_MODE1) continue;  // a build without the environment-noise path
    SCOPED_TRACE(testing::Message() << rate << " Hz, mode " << mode);
    const std::size_t n = rate / 100, at = 300 * n + n / 3, after = at + 30 * n + rate / 2;
    const sig::Samples x = sig::noise(sig::Colour::White, 600, 7 * rate, 5);
    sig::Samples stuck = x, flat = x;
    std::fill_n(stuck.begin() + static_cast<long>(at), 30 * n, 32767);
    std::fill_n(flat.begin() + static_cast<long>(at), 4 * n, 32767);
    const double plain = rms_db(Stream(rate, mode, kAll).run(x), after, after + 2 * rate);
    Stream held(rate, mode, kAll);
    EXPECT_LT(rms_db(held.run(stuck), after, after + 2 * rate), plain + 1.0);
    EXPECT_EQ(held.feed.holds, 1u);
    EXPECT_EQ(held.feed.silentFrames, 0u);
    Stream clipped(rate, mode, kAll);
    EXPECT_EQ(clipped.run(flat), Stream(rate, mode, VOCREL_RNR_FEED_AUTO_THR).run(flat));
    EXPECT_EQ(clipped.feed.holds, 0u);
  }
}

}  // namespace
