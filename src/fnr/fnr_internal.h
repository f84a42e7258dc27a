// Internal helpers of the floor-noise path shared by its modules.
#pragma once

#include <cstdint>

#include "fnr/fnr.h"

namespace vocrel::fnr {

inline constexpr std::int32_t kBands = kFnrBands;
inline constexpr std::int32_t kFullScaleQ15Db = 2958950;  // 90.30 dB (10 log10 2^30) in Q15
inline constexpr std::int32_t kQ5PerDb = 32;              // levels are Q5 dB

// Geometry of one rate. The rate is the only trusted input: every length,
// table and flag below is derived from it, never read from the state.
struct RateCfg {
  std::int32_t N;      // new samples per frame
  std::int32_t W;      // window length 2N
  std::int32_t M;      // transform length
  std::int32_t order;  // log2 M
  const std::int16_t* win;
  bool wide;  // 48 kHz: tonal hold, excess gain rule, no pre-filter
};

inline RateCfg rate_cfg(std::int32_t sampleRate) {
  if (sampleRate == 8000) return {80, 160, 256, 8, sFnrWinCoef_8k.data(), false};
  if (sampleRate == 16000) return {160, 320, 512, 9, sFnrWinCoef_16k.data(), false};
  return {480, 960, 1024, 10, sFnrWinCoef_48k.data(), true};
}

// The pre-filter runs (and its 6 dB halving is compensated) only at 8/16 kHz
// with hpFilterOn exactly 1.
inline bool hp_active(const FnrState* st, const RateCfg& cfg) {
  return !cfg.wide && st->hpFilterOn == 1;
}

// ---- frame pipeline (fnr_frame.cpp) -------------------------------------------

// Second-order high-pass over n samples with the coefficients named by hp's
// table codes; a pass-through copy when they name none (48 kHz).
void high_pass(FnrHpState* hp, const std::int16_t* in, std::int32_t n, std::int16_t* out);
// Windowed transform input (kFnrWorkWords words), its largest real magnitude
// and the frame level in Q5 dB; moves the frame into inHist.
void window_frame(const FnrState* st, const RateCfg& cfg, FnrChanState* ch,
                  const std::int16_t* frame, const std::int16_t* win, std::int32_t* fftIn,
                  std::int32_t* maxAbs, std::int16_t* frameLevel);
// Forward transform to overlap-add for one channel of a consistent state;
// work is window_frame's output and is overwritten.
void frame_core(FnrState* st, const RateCfg& cfg, FnrChanState* ch, std::int32_t* work,
                std::int16_t* out, std::int16_t frameLevel, std::int32_t maxAbs);

// ---- frame VADs (fnr_noise.cpp) ---------------------------------------------------

// Start values of the band noise, gain weights, hangover and floor trackers.
void init_band_noise(FnrState* st);
// Start-up VAD of frames 1..9: band-to-band roughness; seeds the followers.
std::int32_t start_up_vad(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag);
// Running VAD: minimum/peak followers, stationary and flat bands, hangover.
std::int32_t frame_vad(FnrState* st, FnrChanState* ch, const std::int32_t* bandMag);
// Appends the stationary bands of first..end-1 (a group of count bands, peak
// limits by pair position, minimum multiplier cQ8) to the channel's list.
void mark_still_bands(FnrChanState* ch, std::int32_t meanMin, std::int32_t cQ8, std::int32_t first,
                      std::int32_t end, std::int32_t count);

// ---- temporal gain (fnr_gain.cpp) --------------------------------------------------

// Band gains from the band SNR ratios (Q8), limited by the noise level and maxNr.
void temporal_gain(const FnrState* st, FnrChanState* ch, const std::int16_t* ratio);

// ---- tonal and long-voice detection (fnr_tonal.cpp) -------------------------------

// 1 while the spectrum holds a steady tone (noise learning is held).
std::int32_t tonal_hold(FnrTonalState* T, const std::int32_t* mag);
// Log2 (Q10) of the two-frame bin magnitudes 0..127 and their valleys;
// returns the number of valleys.
std::int16_t log_spectrum_valleys(FnrTonalState* T, const std::int32_t* mag, std::int16_t* logE,
                                  std::int16_t* valleys);
// Per-segment correlation with the previous frame of the detrended log
// spectrum between consecutive valleys (dev, Q15) and the residuals (Q7).
void segment_correlations(FnrTonalState* T, const std::int16_t* logE, const std::int16_t* valleys,
                          std::int32_t count, std::int16_t* dev, std::int16_t* resid);
// Time-smoothed stabilities, their sum (returned, also added to *sum) and the
// strong flag and history of this frame.
std::int32_t smooth_stability(FnrTonalState* T, const std::int16_t* dev, std::int16_t thr,
                              std::int16_t* strong, std::int32_t* sum);
// Hold decision from the run of flagged frames and the tonal history.
std::int32_t long_voice_hold(FnrTonalState* T, std::int32_t flag);

// Values of one frame handed between the noise-tracking stages.
struct FrameFlags {
  std::int32_t vad = 0;     // activity decision (possibly forced to 1)
  std::int32_t hold = 0;    // tonal or loud-frame hold of the noise updates
  std::int32_t stable = 0;  // last three frame levels within 3 dB
  std::int32_t steady = 0;  // noise frame at a stable level near its average
  std::int16_t drop = 0;    // levelDb - frameLevel, Q5 dB
};

// Noise-tracking stages of the core, in their order of execution.
void start_up_learning(FnrChanState* ch, const std::int32_t* bandMag, std::int16_t frameLevel,
                       FrameFlags& f);
void level_adaptation(const FnrState* st, FnrChanState* ch, std::int16_t frameLevel, FrameFlags& f);
void level_tracking(FnrChanState* ch, std::int16_t frameLevel, FrameFlags& f);
void noise_relearning(FnrChanState* ch, const std::int32_t* bandMag, std::int16_t frameLevel,
                      const FrameFlags& f);
void band_noise_update(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag,
                       const FrameFlags& f);
void fast_down_correction(FnrChanState* ch, const std::int32_t* bandMag);
void noise_ceiling(const FnrState* st, FnrChanState* ch);

// Band gains: the excess rule with its floor (48 kHz), and the ratio rule
// with its floor (8/16 kHz).
void band_gains_wide(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag);
void band_gains_narrow(const FnrState* st, FnrChanState* ch, const std::int32_t* bandMag);

// Reciprocal 2^29 / m in Q14 of a Q15 mantissa m in [2^14, 2^15), truncated;
// 2^15 (m = 2^14) gives 32767. This is what sixteen restoring
// shift-and-subtract steps of 2^29 by m * 2^15 leave in their low 16 bits, for
// every such m (the tests compare the two over the whole range); one integer
// division replaces their serial chain.
constexpr std::int16_t reciprocal_q14(std::int32_t m) {
  const std::int32_t inv = (std::int32_t{1} << 29) / m;
  return static_cast<std::int16_t>(inv > 32767 ? 32767 : inv);
}

// Clamp of a count read from the state to 0..limit.
constexpr std::int32_t clamp_count(std::int32_t n, std::int32_t limit) {
  return n < 0 ? 0 : (n > limit ? limit : n);
}

}  // namespace vocrel::fnr
