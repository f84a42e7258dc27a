// Floor-noise path: frame VADs and the per-band noise tracking stages.
// Band quantities are magnitudes in sample units (the DFT of the windowed
// frame); levels are Q5 dB (32 = 1 dB); weights are Q15.
#include <algorithm>

#include "fnr/fnr_internal.h"
#include "math/constants.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;
using fnr::clamp_count;
using fnr::kBands;
using math::kTime03Q15;
using math::kTime07Q15;
using math::q15;
using math::q15_rest;

constexpr std::int32_t kCounterLimit = 268435455;  // run counters restart at 1000 here
constexpr std::int32_t kCounterRestart = 1000;

// Start-up VAD: summed band-to-band roughness over two ranges.
constexpr std::int32_t kRoughLowMax = 32000;   // bands 2..18
constexpr std::int32_t kRoughHighMax = 64000;  // bands 18..50

// Frame VAD.
constexpr std::int32_t kMinRise = q15(0.006);              // bandMin rises by 0.6 % of the gap
constexpr std::int32_t kMinFloor = 50;                     // bandMin never below this
constexpr std::int32_t kMeanMinFloor = 40;                 // bands counted in meanMin
constexpr std::int32_t kFlatCoefQ8 = 360;                  // 1.40625 in Q8
constexpr std::int32_t kGroupCoefQ8[3] = {461, 512, 512};  // 1.80, 2.0, 2.0 in Q8
constexpr std::int32_t kActiveRunReset = 30;
constexpr std::int32_t kHangFrames = 6;      // hangover granted while hangCnt <= 6
constexpr std::int32_t kPeakLimitEven = 40;  // small-peak limits of a band pair
constexpr std::int32_t kPeakLimitOdd = 101;

// Start-up learning.
constexpr std::int32_t kStartUpLoudQ5 = -1120;  // -35 dB
constexpr std::int32_t kStartUpCap = 3500;

// Level adaptation and tracking, Q5 dB.
constexpr std::int32_t kAdaptSnrQ5 = 64;        // 2 dB
constexpr std::int32_t kForceActiveQ5 = -1920;  // -60 dB
constexpr std::int32_t kRingSpanQ5 = 96;        // 3 dB
constexpr std::int32_t kRingCeilQ5 = 6400;
constexpr std::int32_t kQuietFloorQ5 = -2560;  // -80 dB
constexpr std::int32_t kSteadyDropQ5 = 31;

// Re-learning after a level drop.
constexpr std::int32_t kRelearnDropQ5 = 160;    // 5 dB
constexpr std::int32_t kRelearnArmQ5 = -1280;   // -40 dB
constexpr std::int32_t kRelearnRiseQ5 = -1440;  // -45 dB
constexpr std::int32_t kRelearnFrames = 200;
constexpr std::int32_t kRelearnMaxDist = 1500000;

// Band noise update.
constexpr std::int32_t kAboveTestQ15 = 26216;  // 0.80005: the band lies below 0.8 of the estimate
constexpr std::int32_t kDecayQ15 = q15_rest(0.05);  // 0.95 of the estimate
constexpr std::int32_t kStillFrames = 15;           // stationary/flat branches from frame 16
constexpr std::int32_t kFlatMinMag = 40;
constexpr std::int32_t kFastRuns = 4;

// The weight pairs below sum to 32767: one weight rounded, the other the rest.
static_assert(q15_rest(0.1) == 29490 && q15(0.1) == 3277);
static_assert(q15(0.8) == 26214 && q15_rest(0.8) == 6553);
static_assert(q15_rest(0.08) == 30146 && q15(0.08) == 2621);
static_assert(q15_rest(0.05) == 31129 && q15(0.05) == 1638);
static_assert(q15_rest(0.4) == 19660 && q15(0.4) == 13107);
static_assert(kMinRise == 197);

// Rounded Q8 scaling (2 x c + 512) >> 9 = x * c / 256, kept in 64 bits, with
// the doubling and the rounding add saturating. Only x = c = -2^31 clamps
// there; every other product gives (x c + 256) >> 8.
constexpr std::int64_t scale_q8(std::int32_t x, std::int32_t cQ8) {
  if (x == kInt32Min && cQ8 == kInt32Min) return kInt64Max >> 9;
  return (mul64(x, cQ8) + 256) >> 8;
}
static_assert(scale_q8(kInt32Min, kInt32Min) ==
                  (add_sat64(mul_dbl64(kInt32Min, kInt32Min), 512) >> 9) &&
              scale_q8(kInt32Min, kInt32Max) ==
                  (add_sat64(mul_dbl64(kInt32Min, kInt32Max), 512) >> 9) &&
              scale_q8(-1001, 461) == (add_sat64(mul_dbl64(-1001, 461), 512) >> 9));

std::uint32_t count_up(std::uint32_t n) {
  const std::uint32_t next = n + 1u;
  return next >= static_cast<std::uint32_t>(kCounterLimit)
             ? static_cast<std::uint32_t>(kCounterRestart)
             : next;
}

// One stationarity test: the peak stays below both c * bandMin and
// bandMin + off, or below a small absolute limit.
bool band_is_still(const FnrChanState* ch, std::int32_t j, std::int32_t cQ8, std::int64_t off,
                   std::int32_t limit) {
  const std::int64_t u = scale_q8(ch->bandMin[j], cQ8);
  const std::int32_t v = sat32(ch->bandMin[j] + off);
  return (ch->bandPeak[j] < u && ch->bandPeak[j] < v) || ch->bandPeak[j] < limit;
}

void append_still(FnrChanState* ch, std::int32_t b) {
  const std::int32_t n = clamp_count(ch->stillNum, kBands);
  if (n >= kBands) return;
  ch->stillList[n] = static_cast<std::int16_t>(b);
  ch->stillNum = n + 1;
}

// bandFloor / bandNoise update of one band judged stationary.
void still_band_update(FnrChanState* ch, const std::int32_t* bandMag, std::int32_t b) {
  if (bandMag[b] <= ch->bandFloor[b]) {
    ch->bandFloor[b] = bandMag[b];
  } else {
    ch->bandFloor[b] =
        vocrel::smooth_two_int(ch->bandFloor[b], bandMag[b], q15(0.8), q15_rest(0.8));
  }
  ch->bandNoise[b] =
      vocrel::smooth_two_int(ch->bandNoise[b], ch->bandFloor[b], q15_rest(0.08), q15(0.08));
}

// Grants one hangover frame (reported active).
std::int32_t grant_hangover(FnrChanState* ch) {
  ch->vadHist = static_cast<std::uint16_t>(ch->vadHist | 1u);
  ch->hangCnt += 1;
  return 1;
}

}  // namespace

namespace vocrel::fnr {

std::int32_t start_up_vad(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag) {
  std::int32_t s1 = 0, s2 = 0;
  for (std::int32_t i = 2; i <= 17; ++i) {
    const std::int32_t d = sub_wrap32(bandMag[i + 1], bandMag[i]);
    s1 = add_wrap32(s1, d < 0 ? neg_wrap32(d) : d);
  }
  for (std::int32_t i = 18; i <= 49; ++i) {
    const std::int32_t d = sub_wrap32(bandMag[i + 1], bandMag[i]);
    s2 = add_wrap32(s2, d < 0 ? neg_wrap32(d) : d);
  }
  const std::int32_t vad = (s1 > kRoughLowMax || s2 > kRoughHighMax) ? 1 : 0;

  for (std::int32_t b = 0; b < kBands; ++b) {
    if (st->frameCnt == 1) {
      ch->bandPeak[b] = bandMag[b];
      ch->bandMin[b] = bandMag[b];
    } else {
      ch->bandPeak[b] = std::max(ch->bandPeak[b], bandMag[b]);
      ch->bandMin[b] = std::min(ch->bandMin[b], bandMag[b]);
    }
  }
  ch->vadHist = static_cast<std::uint16_t>((ch->vadHist << 1) | static_cast<std::uint32_t>(vad));
  return vad;
}

std::int32_t frame_vad(FnrState* st, FnrChanState* ch, const std::int32_t* bandMag) {
  // Followers: slow-rising minimum, fast-rising peak, lane-wise.
  vec_kernels().follow_extremes(bandMag, kBands, kMinRise, kMinFloor, ch->bandMin, ch->bandPeak);

  std::int32_t sum = 0, count = 0;
  for (std::int32_t b = 0; b < kBands; ++b) {
    if (ch->bandMin[b] > kMeanMinFloor) {
      sum = add_sat32(sum, ch->bandMin[b]);
      ++count;
    }
  }
  const std::int32_t meanMin = lo32((std::int64_t{sum} * math::divide_q(1, count, 15)) >> 15);

  ch->stillNum = 0;
  mark_still_bands(ch, meanMin, kGroupCoefQ8[0], 0, 16, 16);
  mark_still_bands(ch, meanMin, kGroupCoefQ8[1], 16, 56, 40);
  mark_still_bands(ch, meanMin, kGroupCoefQ8[2], 56, kBands, kBands - 56);

  // Flat bands: peak within 1.40625 x of its minimum and of minimum + meanMin.
  st->flatBandNum = 0;
  const std::int64_t t = scale_q8(meanMin, kFlatCoefQ8);
  for (std::int32_t b = 0; b < kBands; ++b) {
    const std::int64_t u = scale_q8(ch->bandMin[b], kFlatCoefQ8);
    const std::int32_t v = sat32(t + ch->bandMin[b]);
    if (ch->bandPeak[b] < u && ch->bandPeak[b] < v) {
      st->flatBandList[st->flatBandNum] = static_cast<std::int16_t>(b);
      st->flatBandNum += 1;
    }
  }

  ch->vadHist = static_cast<std::uint16_t>(ch->vadHist << 1);
  if (ch->stillNum <= st->vadBandThr) {
    ch->vadHist = static_cast<std::uint16_t>(ch->vadHist | 1u);
    return 1;
  }
  if (ch->activeRun > static_cast<std::uint32_t>(kActiveRunReset)) {
    ch->hangCnt = 0;
    ch->activeRun = 0;
    return grant_hangover(ch);
  }
  if (ch->hangCnt <= kHangFrames) return grant_hangover(ch);
  // Active only when the four previous decisions (bits 1..4) were active.
  return (ch->vadHist & 0x1Eu) == 0x1Eu ? 1 : 0;
}

void mark_still_bands(FnrChanState* ch, std::int32_t meanMin, std::int32_t c, std::int32_t first,
                      std::int32_t end, std::int32_t count) {
  first = clamp_count(first, kBands);
  end = clamp_count(end, kBands);
  const std::int64_t off = scale_q8(meanMin, c);
  std::int32_t b = first;
  for (; b < end - 1; b += 2) {
    if (band_is_still(ch, b, c, off, kPeakLimitEven)) append_still(ch, b);
    if (band_is_still(ch, b + 1, c, off, kPeakLimitOdd)) append_still(ch, b + 1);
  }
  if ((count & 1) != 0 && end > first) {
    if (band_is_still(ch, end - 1, c, off, kPeakLimitOdd)) append_still(ch, end - 1);
  }
}

void start_up_learning(FnrChanState* ch, const std::int32_t* bandMag, std::int16_t frameLevel,
                       FrameFlags& f) {
  if (frameLevel > kStartUpLoudQ5) {
    f.vad = 1;  // loud start: no learning, history bit unchanged
    return;
  }
  if (f.vad != 0) return;
  for (std::int32_t b = 0; b < kBands; ++b) {
    ch->bandMin[b] = std::min(ch->bandMin[b], kStartUpCap);
    ch->bandNoise[b] = vocrel::smooth_two_int(ch->bandNoise[b], std::min(bandMag[b], kStartUpCap),
                                              q15_rest(0.1), q15(0.1));
  }
  ch->noiseDb = static_cast<std::int16_t>(
      vocrel::smooth_two_short(ch->noiseDb, frameLevel, kTime07Q15, kTime03Q15));
}

void level_adaptation(const FnrState* st, FnrChanState* ch, std::int16_t frameLevel,
                      FrameFlags& f) {
  if (st->levelAdaptOff != 0) return;
  if (frameLevel <= kQ5PerDb * st->levelThrDb) return;
  const auto snr = static_cast<std::int16_t>(frameLevel - ch->noiseDb);
  if ((f.vad == 0 && snr < kAdaptSnrQ5) || snr < 0)
    ch->noiseDb = static_cast<std::int16_t>(
        vocrel::smooth_two_short(ch->noiseDb, frameLevel, q15_rest(0.05), q15(0.05)));
  if (f.vad == 0 && snr > kAdaptSnrQ5 && frameLevel > kForceActiveQ5) {
    f.vad = 1;
    ch->vadHist = static_cast<std::uint16_t>(ch->vadHist | 1u);
  }
}

void level_tracking(FnrChanState* ch, std::int16_t frameLevel, FrameFlags& f) {
  std::int32_t idx = ch->ringIdx + 1;
  if (idx >= 3 || idx < 0) idx = 0;
  ch->ringIdx = static_cast<std::int16_t>(idx);
  ch->levelRing[idx] = frameLevel;

  std::int32_t hi = -kRingCeilQ5, lo = kRingCeilQ5;
  for (const std::int16_t v : ch->levelRing) {
    hi = std::max<std::int32_t>(hi, v);
    lo = std::min<std::int32_t>(lo, v);
  }
  f.stable = (hi - lo < kRingSpanQ5 && frameLevel < hi) ? 1 : 0;

  if (f.vad == 0 && f.hold == 0 && f.stable == 1 && frameLevel > kQuietFloorQ5)
    ch->noiseDb = static_cast<std::int16_t>(
        vocrel::smooth_two_short(ch->noiseDb, frameLevel, q15_rest(0.1), q15(0.1)));
  ch->levelDb = static_cast<std::int16_t>(
      vocrel::smooth_two_short(ch->levelDb, frameLevel, q15_rest(0.1), q15(0.1)));
  f.drop = static_cast<std::int16_t>(ch->levelDb - frameLevel);

  f.steady = (f.vad == 0 && f.drop >= -kSteadyDropQ5 && f.drop <= kSteadyDropQ5 && f.hold == 0 &&
              f.stable == 1)
                 ? 1
                 : 0;
  if (f.vad == 0 && f.hold == 0) {
    ch->noiseRun = count_up(ch->noiseRun);
  } else {
    ch->noiseRun = 0;
    ch->activeRun = count_up(ch->activeRun);
  }
}

void noise_relearning(FnrChanState* ch, const std::int32_t* bandMag, std::int16_t frameLevel,
                      const FrameFlags& f) {
  if (f.drop > kRelearnDropQ5 && frameLevel < kRelearnArmQ5 && ch->relearnOn == 0) {
    ch->relearnOn = 1;
    ch->relearnCnt = 0;
    math::copy_ascending(ch->snapBand, bandMag, kFnrSnapBands);
    math::copy_ascending(ch->snapNoise, ch->bandNoise, kFnrSnapBands);
  }
  if (ch->relearnCnt < kRelearnFrames && ch->relearnOn == 1) {
    ch->relearnCnt += 1;
    if (f.drop < -kRelearnDropQ5 && frameLevel > kRelearnRiseQ5) {
      std::int32_t dist = 0;
      for (std::int32_t b = 0; b < kFnrSnapBands; ++b)
        dist = add_sat32(dist, abs_sat32(sub_sat32(bandMag[b], ch->snapBand[b])));
      if (dist < kRelearnMaxDist) {
        for (std::int32_t b = 0; b < kFnrSnapBands; ++b)
          ch->bandNoise[b] = std::max(ch->bandNoise[b], ch->snapNoise[b]);
      }
      ch->relearnOn = 0;
    }
  } else {
    ch->relearnOn = 0;
    ch->relearnCnt = 0;
  }
}

void band_noise_update(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag,
                       const FrameFlags& f) {
  if (f.steady == 1) {
    for (std::int32_t b = 0; b < kBands; ++b) {
      const std::int32_t t =
          bandMag[b] > ch->bandFloor[b]
              ? vocrel::smooth_two_int(ch->bandFloor[b], bandMag[b], q15(0.8), q15_rest(0.8))
              : bandMag[b];
      ch->bandFloor[b] = t;
      ch->bandNoise[b] = vocrel::smooth_two_int(ch->bandNoise[b], t, q15_rest(0.1), q15(0.1));
    }
    return;
  }
  // Decay of an estimate that lies well above the band (0.8 test, 0.95 decay).
  for (std::int32_t b = 0; b < kBands; ++b) {
    if (bandMag[b] < sat32(mul_dbl64(ch->bandNoise[b], kAboveTestQ15) >> 16))
      ch->bandNoise[b] = sat32(mul_dbl64(ch->bandNoise[b], kDecayQ15) >> 16);
  }
  if (f.vad == 0) {
    if (st->frameCnt > kStillFrames) {
      const std::int32_t n = clamp_count(ch->stillNum, kBands);
      for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t b = ch->stillList[i];
        if (b >= 0 && b < kBands) still_band_update(ch, bandMag, b);
      }
    }
    if (ch->noiseRun < static_cast<std::uint32_t>(kFastRuns)) {
      for (std::int32_t b = 0; b < kBands; ++b) {
        if (bandMag[b] < ch->bandNoise[b]) {
          ch->bandFloor[b] = bandMag[b];
          ch->bandNoise[b] =
              vocrel::smooth_two_int(ch->bandNoise[b], bandMag[b], kTime07Q15, kTime03Q15);
        }
      }
    }
  } else if (st->frameCnt > kStillFrames && st->flatBandNum > 0) {
    // During activity only an unbroken run of flat bands up to band 72 learns.
    std::int32_t j = kBands;
    for (std::int32_t i = clamp_count(st->flatBandNum, kBands) - 1; i >= 0; --i) {
      if (st->flatBandList[i] != j - 1) break;
      j = st->flatBandList[i];
    }
    if (j < kBands) {
      bool audible = false;
      for (std::int32_t b = j; b < kBands; ++b) audible = audible || bandMag[b] > kFlatMinMag;
      if (audible) {
        for (std::int32_t b = j; b < kBands; ++b) still_band_update(ch, bandMag, b);
      }
    }
  }
}

void fast_down_correction(FnrChanState* ch, const std::int32_t* bandMag) {
  for (std::int32_t b = 0; b < kBands; ++b) {
    if (ch->bandNoise[b] > (3 * std::int64_t{bandMag[b]}) >> 1)
      ch->bandNoise[b] =
          vocrel::smooth_two_int(ch->bandNoise[b], bandMag[b], q15_rest(0.4), q15(0.4));
  }
}

void noise_ceiling(const FnrState* st, FnrChanState* ch) {
  std::int64_t total = 0;  // noise magnitudes summed over all bins
  for (std::int32_t b = 0; b < kBands; ++b)
    total += std::int64_t{ch->bandNoise[b]} * (usFnrBarkId_48k[b + 1] - usFnrBarkId_48k[b]);
  const std::int32_t perBin = sat32(total >> 9);
  const auto nl = static_cast<std::int16_t>((math::ten_log10_q15(perBin) - kFullScaleQ15Db) >> 15);
  if (st->levelThrDb < nl) {
    const std::int32_t d = nl - st->levelThrDb;
    const std::int32_t c = d <= 30 ? sFnrNoiseCtrTab[d - 1] : 32;
    for (std::int32_t b = 0; b < kBands; ++b)
      ch->bandNoise[b] = sat32(mul_dbl64(ch->bandNoise[b], c) >> 16);
  }
}

}  // namespace vocrel::fnr
