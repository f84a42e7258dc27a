// Floor-noise path: frame VADs and the per-band noise tracking stages.
// Band quantities are magnitudes in sample units (the DFT of the windowed
// frame); levels are Q5 dB (32 = 1 dB); weights are Q15.
#include <algorithm>

#include "fnr/fnr_internal.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;
using fnr::clamp_count;
using fnr::kBands;

constexpr int32_t kCounterLimit = 268435455;  // run counters restart at 1000 here
constexpr int32_t kCounterRestart = 1000;

// Start-up VAD: summed band-to-band roughness over two ranges.
constexpr int32_t kRoughLowMax = 32000;   // bands 2..18
constexpr int32_t kRoughHighMax = 64000;  // bands 18..50

// Frame VAD.
constexpr int16_t kMinRise = 197;                     // bandMin rises by 197/32768 of the gap
constexpr int32_t kMinFloor = 50;                     // bandMin never below this
constexpr int32_t kMeanMinFloor = 40;                 // bands counted in meanMin
constexpr int32_t kFlatCoefQ8 = 360;                  // 1.40625 in Q8
constexpr int32_t kGroupCoefQ8[3] = {461, 512, 512};  // 1.80, 2.0, 2.0 in Q8
constexpr int32_t kActiveRunReset = 30;
constexpr int32_t kHangFrames = 6;      // hangover granted while hangCnt <= 6
constexpr int32_t kPeakLimitEven = 40;  // small-peak limits of a band pair
constexpr int32_t kPeakLimitOdd = 101;

// Start-up learning.
constexpr int32_t kStartUpLoudQ5 = -1120;  // -35 dB
constexpr int32_t kStartUpCap = 3500;

// Level adaptation and tracking, Q5 dB.
constexpr int32_t kAdaptSnrQ5 = 64;        // 2 dB
constexpr int32_t kForceActiveQ5 = -1920;  // -60 dB
constexpr int32_t kRingSpanQ5 = 96;        // 3 dB
constexpr int32_t kRingCeilQ5 = 6400;
constexpr int32_t kQuietFloorQ5 = -2560;  // -80 dB
constexpr int32_t kSteadyDropQ5 = 31;

// Re-learning after a level drop.
constexpr int32_t kRelearnDropQ5 = 160;    // 5 dB
constexpr int32_t kRelearnArmQ5 = -1280;   // -40 dB
constexpr int32_t kRelearnRiseQ5 = -1440;  // -45 dB
constexpr int32_t kRelearnFrames = 200;
constexpr int32_t kRelearnMaxDist = 1500000;

// Band noise update.
constexpr int32_t kStillFrames = 15;  // stationary/flat branches from frame 16
constexpr int32_t kFlatMinMag = 40;
constexpr int32_t kFastRuns = 4;

// Rounded Q8 scaling (2 x c + 512) >> 9 = x * c / 256, kept in 64 bits, with
// the doubling and the rounding add saturating. Only x = c = -2^31 clamps
// there; every other product gives (x c + 256) >> 8.
constexpr int64_t scale_q8(int32_t x, int32_t cQ8) {
  if (x == kInt32Min && cQ8 == kInt32Min) return kInt64Max >> 9;
  return (mul64(x, cQ8) + 256) >> 8;
}
static_assert(scale_q8(kInt32Min, kInt32Min) ==
                  (add_sat64(mul_dbl64(kInt32Min, kInt32Min), 512) >> 9) &&
              scale_q8(kInt32Min, kInt32Max) ==
                  (add_sat64(mul_dbl64(kInt32Min, kInt32Max), 512) >> 9) &&
              scale_q8(-1001, 461) == (add_sat64(mul_dbl64(-1001, 461), 512) >> 9));

uint32_t count_up(uint32_t n) {
  const uint32_t next = n + 1u;
  return next >= static_cast<uint32_t>(kCounterLimit) ? static_cast<uint32_t>(kCounterRestart)
                                                      : next;
}

// One stationarity test: the peak stays below both c * bandMin and
// bandMin + off, or below a small absolute limit.
bool band_is_still(const FnrChanState* ch, int32_t j, int32_t cQ8, int64_t off, int32_t limit) {
  const int64_t u = scale_q8(ch->bandMin[j], cQ8);
  const int32_t v = sat32(ch->bandMin[j] + off);
  return (ch->bandPeak[j] < u && ch->bandPeak[j] < v) || ch->bandPeak[j] < limit;
}

void append_still(FnrChanState* ch, int32_t b) {
  const int32_t n = clamp_count(ch->stillNum, kBands);
  if (n >= kBands) return;
  ch->stillList[n] = static_cast<int16_t>(b);
  ch->stillNum = n + 1;
}

// bandFloor / bandNoise update of one band judged stationary.
void still_band_update(FnrChanState* ch, const int32_t* bandMag, int32_t b) {
  if (bandMag[b] <= ch->bandFloor[b]) {
    ch->bandFloor[b] = bandMag[b];
  } else {
    ch->bandFloor[b] = vocrel::smooth_two_int(ch->bandFloor[b], bandMag[b], 26214, 6553);
  }
  ch->bandNoise[b] = vocrel::smooth_two_int(ch->bandNoise[b], ch->bandFloor[b], 30146, 2621);
}

// Grants one hangover frame (reported active).
int32_t grant_hangover(FnrChanState* ch) {
  ch->vadHist = static_cast<uint16_t>(ch->vadHist | 1u);
  ch->hangCnt += 1;
  return 1;
}

}  // namespace

extern "C" {

int32_t FirstFrmVad1(FnrState* st, FnrChanState* ch, const int32_t bandMag[73]) {
  int32_t s1 = 0, s2 = 0;
  for (int32_t i = 2; i <= 17; ++i) {
    const int32_t d = sub_wrap32(bandMag[i + 1], bandMag[i]);
    s1 = add_wrap32(s1, d < 0 ? neg_wrap32(d) : d);
  }
  for (int32_t i = 18; i <= 49; ++i) {
    const int32_t d = sub_wrap32(bandMag[i + 1], bandMag[i]);
    s2 = add_wrap32(s2, d < 0 ? neg_wrap32(d) : d);
  }
  const int32_t vad = (s1 > kRoughLowMax || s2 > kRoughHighMax) ? 1 : 0;

  for (int32_t b = 0; b < kBands; ++b) {
    if (st->frameCnt == 1) {
      ch->bandPeak[b] = bandMag[b];
      ch->bandMin[b] = bandMag[b];
    } else {
      ch->bandPeak[b] = std::max(ch->bandPeak[b], bandMag[b]);
      ch->bandMin[b] = std::min(ch->bandMin[b], bandMag[b]);
    }
  }
  ch->vadHist = static_cast<uint16_t>((ch->vadHist << 1) | static_cast<uint32_t>(vad));
  return vad;
}

int32_t FnrFrameVad(FnrState* st, FnrChanState* ch, const int32_t bandMag[73]) {
  // Followers: slow-rising minimum, fast-rising peak, lane-wise.
  vec_kernels().follow_extremes(bandMag, kBands, kMinRise, kMinFloor, ch->bandMin, ch->bandPeak);

  int32_t sum = 0, count = 0;
  for (int32_t b = 0; b < kBands; ++b) {
    if (ch->bandMin[b] > kMeanMinFloor) {
      sum = add_sat32(sum, ch->bandMin[b]);
      ++count;
    }
  }
  const int32_t meanMin = lo32((int64_t{sum} * Fnr_L_divide_Q(1, count, 15)) >> 15);

  ch->stillNum = 0;
  FnrStillBandGroup(ch, meanMin, kGroupCoefQ8[0], 0, 16, 16);
  FnrStillBandGroup(ch, meanMin, kGroupCoefQ8[1], 16, 56, 40);
  FnrStillBandGroup(ch, meanMin, kGroupCoefQ8[2], 56, kBands, kBands - 56);

  // Flat bands: peak within 1.40625 x of its minimum and of minimum + meanMin.
  st->flatBandNum = 0;
  const int64_t t = scale_q8(meanMin, kFlatCoefQ8);
  for (int32_t b = 0; b < kBands; ++b) {
    const int64_t u = scale_q8(ch->bandMin[b], kFlatCoefQ8);
    const int32_t v = sat32(t + ch->bandMin[b]);
    if (ch->bandPeak[b] < u && ch->bandPeak[b] < v) {
      st->flatBandList[st->flatBandNum] = static_cast<int16_t>(b);
      st->flatBandNum += 1;
    }
  }

  ch->vadHist = static_cast<uint16_t>(ch->vadHist << 1);
  if (ch->stillNum <= st->vadBandThr) {
    ch->vadHist = static_cast<uint16_t>(ch->vadHist | 1u);
    return 1;
  }
  if (ch->activeRun > static_cast<uint32_t>(kActiveRunReset)) {
    ch->hangCnt = 0;
    ch->activeRun = 0;
    return grant_hangover(ch);
  }
  if (ch->hangCnt <= kHangFrames) return grant_hangover(ch);
  // Active only when the four previous decisions (bits 1..4) were active.
  return (ch->vadHist & 0x1Eu) == 0x1Eu ? 1 : 0;
}

void FnrStillBandGroup(FnrChanState* ch, int32_t meanMin, int32_t c, int32_t first, int32_t end,
                       int32_t count) {
  first = clamp_count(first, kBands);
  end = clamp_count(end, kBands);
  const int64_t off = scale_q8(meanMin, c);
  int32_t b = first;
  for (; b < end - 1; b += 2) {
    if (band_is_still(ch, b, c, off, kPeakLimitEven)) append_still(ch, b);
    if (band_is_still(ch, b + 1, c, off, kPeakLimitOdd)) append_still(ch, b + 1);
  }
  if ((count & 1) != 0 && end > first) {
    if (band_is_still(ch, end - 1, c, off, kPeakLimitOdd)) append_still(ch, end - 1);
  }
}

}  // extern "C"

namespace vocrel::fnr {

void start_up_learning(FnrChanState* ch, const int32_t* bandMag, int16_t frameLevel,
                       FrameFlags& f) {
  if (frameLevel > kStartUpLoudQ5) {
    f.vad = 1;  // loud start: no learning, history bit unchanged
    return;
  }
  if (f.vad != 0) return;
  for (int32_t b = 0; b < kBands; ++b) {
    ch->bandMin[b] = std::min(ch->bandMin[b], kStartUpCap);
    ch->bandNoise[b] =
        vocrel::smooth_two_int(ch->bandNoise[b], std::min(bandMag[b], kStartUpCap), 29490, 3277);
  }
  ch->noiseDb =
      static_cast<int16_t>(vocrel::smooth_two_short(ch->noiseDb, frameLevel, 22937, 9830));
}

void level_adaptation(const FnrState* st, FnrChanState* ch, int16_t frameLevel, FrameFlags& f) {
  if (st->levelAdaptOff != 0) return;
  if (frameLevel <= kQ5PerDb * st->levelThrDb) return;
  const auto snr = static_cast<int16_t>(frameLevel - ch->noiseDb);
  if ((f.vad == 0 && snr < kAdaptSnrQ5) || snr < 0)
    ch->noiseDb =
        static_cast<int16_t>(vocrel::smooth_two_short(ch->noiseDb, frameLevel, 31129, 1638));
  if (f.vad == 0 && snr > kAdaptSnrQ5 && frameLevel > kForceActiveQ5) {
    f.vad = 1;
    ch->vadHist = static_cast<uint16_t>(ch->vadHist | 1u);
  }
}

void level_tracking(FnrChanState* ch, int16_t frameLevel, FrameFlags& f) {
  int32_t idx = ch->ringIdx + 1;
  if (idx >= 3 || idx < 0) idx = 0;
  ch->ringIdx = static_cast<int16_t>(idx);
  ch->levelRing[idx] = frameLevel;

  int32_t hi = -kRingCeilQ5, lo = kRingCeilQ5;
  for (const int16_t v : ch->levelRing) {
    hi = std::max<int32_t>(hi, v);
    lo = std::min<int32_t>(lo, v);
  }
  f.stable = (hi - lo < kRingSpanQ5 && frameLevel < hi) ? 1 : 0;

  if (f.vad == 0 && f.hold == 0 && f.stable == 1 && frameLevel > kQuietFloorQ5)
    ch->noiseDb =
        static_cast<int16_t>(vocrel::smooth_two_short(ch->noiseDb, frameLevel, 29490, 3277));
  ch->levelDb =
      static_cast<int16_t>(vocrel::smooth_two_short(ch->levelDb, frameLevel, 29490, 3277));
  f.drop = static_cast<int16_t>(ch->levelDb - frameLevel);

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

void noise_relearning(FnrChanState* ch, const int32_t* bandMag, int16_t frameLevel,
                      const FrameFlags& f) {
  if (f.drop > kRelearnDropQ5 && frameLevel < kRelearnArmQ5 && ch->relearnOn == 0) {
    ch->relearnOn = 1;
    ch->relearnCnt = 0;
    FnrCopyInt(ch->snapBand, bandMag, kFnrSnapBands);
    FnrCopyInt(ch->snapNoise, ch->bandNoise, kFnrSnapBands);
  }
  if (ch->relearnCnt < kRelearnFrames && ch->relearnOn == 1) {
    ch->relearnCnt += 1;
    if (f.drop < -kRelearnDropQ5 && frameLevel > kRelearnRiseQ5) {
      int32_t dist = 0;
      for (int32_t b = 0; b < kFnrSnapBands; ++b)
        dist = add_sat32(dist, abs_sat32(sub_sat32(bandMag[b], ch->snapBand[b])));
      if (dist < kRelearnMaxDist) {
        for (int32_t b = 0; b < kFnrSnapBands; ++b)
          ch->bandNoise[b] = std::max(ch->bandNoise[b], ch->snapNoise[b]);
      }
      ch->relearnOn = 0;
    }
  } else {
    ch->relearnOn = 0;
    ch->relearnCnt = 0;
  }
}

void band_noise_update(const FnrState* st, FnrChanState* ch, const int32_t* bandMag,
                       const FrameFlags& f) {
  if (f.steady == 1) {
    for (int32_t b = 0; b < kBands; ++b) {
      const int32_t t = bandMag[b] > ch->bandFloor[b]
                            ? vocrel::smooth_two_int(ch->bandFloor[b], bandMag[b], 26214, 6553)
                            : bandMag[b];
      ch->bandFloor[b] = t;
      ch->bandNoise[b] = vocrel::smooth_two_int(ch->bandNoise[b], t, 29490, 3277);
    }
    return;
  }
  // Decay of an estimate that lies well above the band (0.8 test, 0.95 decay).
  for (int32_t b = 0; b < kBands; ++b) {
    if (bandMag[b] < sat32(mul_dbl64(ch->bandNoise[b], 26216) >> 16))
      ch->bandNoise[b] = sat32(mul_dbl64(ch->bandNoise[b], 31129) >> 16);
  }
  if (f.vad == 0) {
    if (st->frameCnt > kStillFrames) {
      const int32_t n = clamp_count(ch->stillNum, kBands);
      for (int32_t i = 0; i < n; ++i) {
        const int32_t b = ch->stillList[i];
        if (b >= 0 && b < kBands) still_band_update(ch, bandMag, b);
      }
    }
    if (ch->noiseRun < static_cast<uint32_t>(kFastRuns)) {
      for (int32_t b = 0; b < kBands; ++b) {
        if (bandMag[b] < ch->bandNoise[b]) {
          ch->bandFloor[b] = bandMag[b];
          ch->bandNoise[b] = vocrel::smooth_two_int(ch->bandNoise[b], bandMag[b], 22937, 9830);
        }
      }
    }
  } else if (st->frameCnt > kStillFrames && st->flatBandNum > 0) {
    // During activity only an unbroken run of flat bands up to band 72 learns.
    int32_t j = kBands;
    for (int32_t i = clamp_count(st->flatBandNum, kBands) - 1; i >= 0; --i) {
      if (st->flatBandList[i] != j - 1) break;
      j = st->flatBandList[i];
    }
    if (j < kBands) {
      bool audible = false;
      for (int32_t b = j; b < kBands; ++b) audible = audible || bandMag[b] > kFlatMinMag;
      if (audible) {
        for (int32_t b = j; b < kBands; ++b) still_band_update(ch, bandMag, b);
      }
    }
  }
}

void fast_down_correction(FnrChanState* ch, const int32_t* bandMag) {
  for (int32_t b = 0; b < kBands; ++b) {
    if (ch->bandNoise[b] > (3 * int64_t{bandMag[b]}) >> 1)
      ch->bandNoise[b] = vocrel::smooth_two_int(ch->bandNoise[b], bandMag[b], 19660, 13107);
  }
}

void noise_ceiling(const FnrState* st, FnrChanState* ch) {
  int64_t total = 0;  // noise magnitudes summed over all bins
  for (int32_t b = 0; b < kBands; ++b)
    total += int64_t{ch->bandNoise[b]} * (usFnrBarkId_48k[b + 1] - usFnrBarkId_48k[b]);
  const int32_t perBin = sat32(total >> 9);
  const auto nl = static_cast<int16_t>((Fnr_10xlog10(perBin) - kFullScaleQ15Db) >> 15);
  if (st->levelThrDb < nl) {
    const int32_t d = nl - st->levelThrDb;
    const int32_t c = d <= 30 ? sFnrNoiseCtrTab[d - 1] : 32;
    for (int32_t b = 0; b < kBands; ++b)
      ch->bandNoise[b] = sat32(mul_dbl64(ch->bandNoise[b], c) >> 16);
  }
}

}  // namespace vocrel::fnr
