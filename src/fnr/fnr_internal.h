// Internal helpers of the floor-noise path shared by its modules.
#pragma once

#include <cstdint>

#include "fnr/fnr.h"

namespace vocrel::fnr {

inline constexpr int32_t kBands = kFnrBands;
inline constexpr int32_t kFullScaleQ15Db = 2958950;  // 90.30 dB (10 log10 2^30) in Q15
inline constexpr int32_t kQ5PerDb = 32;              // levels are Q5 dB

// Geometry of one rate. The rate is the only trusted input: every length,
// table and flag below is derived from it, never read from the state.
struct RateCfg {
  int32_t N;      // new samples per frame
  int32_t W;      // window length 2N
  int32_t M;      // transform length
  int32_t order;  // log2 M
  const int16_t* win;
  bool wide;  // 48 kHz: tonal hold, excess gain rule, no pre-filter
};

inline RateCfg rate_cfg(int32_t sampleRate) {
  if (sampleRate == 8000) return {80, 160, 256, 8, sFnrWinCoef_8k.data(), false};
  if (sampleRate == 16000) return {160, 320, 512, 9, sFnrWinCoef_16k.data(), false};
  return {480, 960, 1024, 10, sFnrWinCoef_48k.data(), true};
}

// The pre-filter runs (and its 6 dB halving is compensated) only at 8/16 kHz
// with hpFilterOn exactly 1.
inline bool hp_active(const FnrState* st, const RateCfg& cfg) {
  return !cfg.wide && st->hpFilterOn == 1;
}

// Values of one frame handed between the noise-tracking stages.
struct FrameFlags {
  int32_t vad = 0;     // activity decision (possibly forced to 1)
  int32_t hold = 0;    // tonal or loud-frame hold of the noise updates
  int32_t stable = 0;  // last three frame levels within 3 dB
  int32_t steady = 0;  // noise frame at a stable level near its average
  int16_t drop = 0;    // levelDb - frameLevel, Q5 dB
};

// Noise-tracking stages of the core, in their order of execution.
void start_up_learning(FnrChanState* ch, const int32_t* bandMag, int16_t frameLevel, FrameFlags& f);
void level_adaptation(const FnrState* st, FnrChanState* ch, int16_t frameLevel, FrameFlags& f);
void level_tracking(FnrChanState* ch, int16_t frameLevel, FrameFlags& f);
void noise_relearning(FnrChanState* ch, const int32_t* bandMag, int16_t frameLevel,
                      const FrameFlags& f);
void band_noise_update(const FnrState* st, FnrChanState* ch, const int32_t* bandMag,
                       const FrameFlags& f);
void fast_down_correction(FnrChanState* ch, const int32_t* bandMag);
void noise_ceiling(const FnrState* st, FnrChanState* ch);

// Band gains: the excess rule with its floor (48 kHz), and the ratio rule
// with its floor (8/16 kHz).
void band_gains_wide(const FnrState* st, FnrChanState* ch, const int32_t* bandMag);
void band_gains_narrow(FnrState* st, FnrChanState* ch, const int32_t* bandMag);

// Reciprocal 2^29 / m in Q14 of a Q15 mantissa m in [2^14, 2^15), truncated;
// 2^15 (m = 2^14) gives 32767. This is what sixteen restoring
// shift-and-subtract steps of 2^29 by m * 2^15 leave in their low 16 bits, for
// every such m (the tests compare the two over the whole range); one integer
// division replaces their serial chain.
constexpr int16_t reciprocal_q14(int32_t m) {
  const int32_t inv = (int32_t{1} << 29) / m;
  return static_cast<int16_t>(inv > 32767 ? 32767 : inv);
}

// Clamp of a count read from the state to 0..limit.
constexpr int32_t clamp_count(int32_t n, int32_t limit) {
  return n < 0 ? 0 : (n > limit ? limit : n);
}

}  // namespace vocrel::fnr
