// Automatic level threshold for the floor-noise mode: a noise-floor tracker on
// the input frames and the rule that turns the floor into levelThrDb. Uses the
// public API only; integer arithmetic, so every platform agrees bit for bit.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "tracker.h"

namespace {

using vocrel::autothr::FrameMeasure;

constexpr std::int32_t kMagic = 0x41544852;  // "ATHR"
constexpr std::int32_t kBlockFrames = 64;    // 0.64 s per block of the minimum window
constexpr std::int32_t kThrMinDb = -80;
constexpr std::int32_t kThrMaxDb = -20;

// Levels are in Q5 dB (32 = 1 dB) on the engine's frame-level scale: the
// energy of the last two frames (2N samples) of 16-bit samples scaled by
// 1/32, relative to 90.3 dB. At 48 kHz that reads the RMS level in dBFS
// (within 0.3 dB); at 16 and 8 kHz 4.8 and 7.8 dB lower (fewer samples).
constexpr std::int32_t kDbQ5 = 32;
constexpr std::int32_t kSilenceQ5 = -2890;  // the scale's value for zero energy
constexpr std::int32_t kLevelMaxQ5 = 1000;  // above any level of 16-bit samples (about +10 dB)
constexpr std::int64_t kFrameEnergyMax = 480ll << 30;  // a full-scale 48 kHz frame
// 10*log10(1024) + 90.3 dB in Q5: the 1/32 sample scaling and the reference.
constexpr std::int32_t kLevelOffsetQ5 = 963 + 2890;

// How far above the floor the threshold goes (Q5 dB), chosen by measurement
// on speech in white, pink, brown, babble, hum and fan noise (bench/quality):
// - kCapMarginQ5: the threshold sits this far above the level at which the
//   engine caps a noise estimate of the floor's level, so the floor is learnt
//   in full. The cap level is, for a flat spectrum, half the frame level plus
//   a rate constant (magnitudes are averaged over the bins, on a 10*log10
//   scale); coloured noise lies lower, so the flat case is the bound.
// - kHoldMarginQ5 (48 kHz): frames more than 10 dB above the threshold do not
//   update the noise; the threshold sits so that frames up to this far above
//   the floor still do, and louder ones (speech) are kept out.
constexpr std::int32_t kCapMarginQ5 = 2 * kDbQ5;
constexpr std::int32_t kHoldMarginQ5 = 6 * kDbQ5;
constexpr std::int32_t kHoldSpanQ5 = 10 * kDbQ5;
constexpr std::int32_t kFloorBiasQ5 = 1 * kDbQ5;  // the window minimum reads low by about this
constexpr std::int32_t kFallHysteresisDb = 2;     // a falling threshold moves only this far or more

// Rising noise: the floor of the recent window (the block being filled and
// the last kRecentBlocks completed ones, 1.28 to 1.92 s) replaces the floor of
// the whole window once it lies more than kRiseMarginQ5 above it. Every frame
// of that span, speech included, then sat that far above the old floor: the
// noise itself has risen (a fan started), and waiting for the old minimum to
// leave the 5 s window would leave the louder noise unlearnt that long.
// Speech alone dips back to the floor between words well within the span.
constexpr std::int32_t kRecentBlocks = 2;
constexpr std::int32_t kRiseMarginQ5 = 6 * kDbQ5;
// While the recent floor stands in for the window's, the engine's noise
// estimate still sits at the old floor and only frames within kHoldSpanQ5 of
// the threshold update it: the threshold sits kRiseExtraQ5 higher so that the
// louder noise is learnt within the seconds after the rise (a +15 dB step of
// brown noise at 48 kHz: 4.5 dB of attenuation 2..4.5 s after it, not 3.4).
constexpr std::int32_t kRiseExtraQ5 = 3 * kDbQ5;

// Cap-level constant per rate (Q5 dB): cap level = frame level / 2 + this.
constexpr std::int32_t cap_offset_q5(std::int32_t rate) {
  return rate == 48000 ? -1027 : rate == 16000 ? -1126 : -1219;  // -32.1, -35.2, -38.1 dB
}

// 10*log10(e) in Q5 dB, e >= 1: the integer part of log2 from the bit length,
// the fraction from a quadratic fit of log2(1 + f) on [0, 1) (error below
// 0.005 in log2, 0.015 dB).
std::int32_t db_q5(std::uint64_t e) {
  const int k = 63 - std::countl_zero(e);
  const std::uint64_t f16 = (k >= 16 ? e >> (k - 16) : e << (16 - k)) & 0xFFFFu;  // Q16
  const auto f = static_cast<std::int64_t>(f16);
  const std::int64_t frac = (f * (88245 - ((22709 * f) >> 16))) >> 16;  // 1.3465 f - 0.3465 f^2
  const std::int64_t log2Q16 = (static_cast<std::int64_t>(k) << 16) + frac;
  return static_cast<std::int32_t>((log2Q16 * 1578264) >> 30);  // * 10*log10(2)*32 / 2^16
}

// Whole dB, rounded up: a threshold never sits below the level it must clear.
std::int32_t ceil_db(std::int32_t q5) { return -((-q5) >> 5); }

std::int32_t clamp_thr(std::int32_t db) { return std::clamp(db, kThrMinDb, kThrMaxDb); }

// Minimum of the block being filled and of the `blocks` completed blocks
// before it (all of them when fewer are done); INT32_MAX when there are none.
std::int32_t recent_min(const Vocrel_RNR_AutoThr& st, std::int32_t blocks) {
  std::int32_t m = st.blockFrames > 0 ? st.blockMinQ5 : INT32_MAX;
  const std::int32_t n = std::min(blocks, st.blocksDone);
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t slot =
        (st.blockIdx - i + VOCREL_RNR_AUTOTHR_BLOCKS) % VOCREL_RNR_AUTOTHR_BLOCKS;
    m = std::min(m, st.blockMin[slot]);
  }
  return m;
}

// 64-bit so that any floor a damaged record holds stays well defined.
std::int32_t target_db(const Vocrel_RNR_AutoThr& st) {
  const std::int64_t floorQ5 = std::int64_t{st.floorQ5} + kFloorBiasQ5;
  std::int64_t t = (floorQ5 >> 1) + cap_offset_q5(st.sampleRate) + kCapMarginQ5;
  const bool rising = st.floorQ5 > recent_min(st, VOCREL_RNR_AUTOTHR_BLOCKS);
  const std::int32_t hold = kHoldMarginQ5 + (rising ? kRiseExtraQ5 : 0);
  if (st.sampleRate == 48000) t = std::max(t, floorQ5 - kHoldSpanQ5 + hold);
  // Clamped in Q5 to whole dB bounds, so rounding up stays inside them.
  return ceil_db(
      static_cast<std::int32_t>(std::clamp<std::int64_t>(t, kThrMinDb * kDbQ5, kThrMaxDb * kDbQ5)));
}

// The noise floor: the minimum over the whole window, or over its recent part
// when the noise has risen (see kRecentBlocks). The recent part counts only
// once it spans kRecentBlocks completed blocks.

std::int32_t window_floor(const Vocrel_RNR_AutoThr& st) {
  const std::int32_t whole = recent_min(st, VOCREL_RNR_AUTOTHR_BLOCKS);
  if (st.blocksDone < kRecentBlocks) return whole;
  const std::int32_t recent = recent_min(st, kRecentBlocks);
  return std::int64_t{recent} > std::int64_t{whole} + kRiseMarginQ5 ? recent : whole;
}

}  // namespace

namespace vocrel::autothr {

bool tracker_ok(const Vocrel_RNR_AutoThr& st) {
  const bool rate = st.sampleRate == 8000 || st.sampleRate == 16000 || st.sampleRate == 48000;
  if (st.magic != kMagic || !rate || st.frameLen != st.sampleRate / 100 ||
      (st.channels != 1 && st.channels != 2) || st.blockIdx < 0 ||
      st.blockIdx >= VOCREL_RNR_AUTOTHR_BLOCKS || st.blocksDone < 0 ||
      st.blocksDone > VOCREL_RNR_AUTOTHR_BLOCKS || st.blockFrames < 0 ||
      st.blockFrames >= kBlockFrames || st.smoothLevelQ5 < kSilenceQ5 ||
      st.smoothLevelQ5 > kLevelMaxQ5)
    return false;
  for (std::int64_t e : st.prevEnergy)
    if (e < 0 || e > kFrameEnergyMax) return false;
  return true;
}

}  // namespace vocrel::autothr

extern "C" {

std::int32_t Vocrel_RNR_AutoThrInit(Vocrel_RNR_AutoThr* st, std::int32_t sampleRate,
                                    std::int32_t channels, std::int32_t thrDb) {
  if (st == nullptr) return VOCREL_RNR_AUTOTHR_E_NULL;
  if (sampleRate != 8000 && sampleRate != 16000 && sampleRate != 48000)
    return VOCREL_RNR_E_SAMPLE_RATE;
  if (channels != 1 && channels != 2) return VOCREL_RNR_E_CHANNELS;
  if (thrDb < kThrMinDb || thrDb > kThrMaxDb) return VOCREL_RNR_E_LEVEL_THR;
  *st = Vocrel_RNR_AutoThr{};
  st->magic = kMagic;
  st->sampleRate = sampleRate;
  st->frameLen = sampleRate / 100;
  st->channels = channels;
  st->smoothLevelQ5 = kSilenceQ5;
  st->thrDb = thrDb;
  return VOCREL_RNR_OK;
}

std::int32_t Vocrel_RNR_AutoThrUpdate(Vocrel_RNR_AutoThr* st, void* handle,
                                      const Vocrel_RNR_FrameIo* io, std::int32_t* thrDb) {
  using namespace vocrel::autothr;
  if (st == nullptr || handle == nullptr || io == nullptr) return VOCREL_RNR_AUTOTHR_E_NULL;
  if (!tracker_ok(*st)) return VOCREL_RNR_AUTOTHR_E_STATE;
  if (io->frameLen != static_cast<std::uint32_t>(st->frameLen)) return VOCREL_RNR_E_FRAME_LEN;
  const std::int16_t* in[2] = {io->inCh0, io->inCh1};
  for (std::int32_t c = 0; c < st->channels; ++c)
    if (in[c] == nullptr) return VOCREL_RNR_E_NULL_INPUT;
  return track_frame(*st, handle, measure_frame(in, st->channels, st->frameLen), thrDb);
}

}  // extern "C"

std::int32_t vocrel::autothr::track_frame(Vocrel_RNR_AutoThr& st, void* handle,
                                          const FrameMeasure& m, std::int32_t* thrDb) {
  // Digital silence, dropouts (a mute, a lost packet, an edit) and frames
  // stuck at one level say nothing about the noise: such frames leave the
  // tracker as it was.
  if (m.gap || m.still) {
    if (thrDb != nullptr) *thrDb = st.thrDb;
    return VOCREL_RNR_OK;
  }

  // Frame level of the louder channel over this and the previous frame.
  std::int64_t e = 0;
  for (std::int32_t c = 0; c < st.channels; ++c) {
    const std::int64_t now = m.energy[c];
    // The first frame has no predecessor: count it twice rather than read 3 dB low.
    const std::int64_t pair = now + (st.frames == 0 ? now : st.prevEnergy[c]);
    st.prevEnergy[c] = now;
    if (pair > e) e = pair;
  }
  std::int32_t levelQ5 = e > 0 ? db_q5(static_cast<std::uint64_t>(e)) - kLevelOffsetQ5 : kSilenceQ5;
  if (levelQ5 < kSilenceQ5) levelQ5 = kSilenceQ5;

  // Smoothed level (3/4 old, 1/4 new) and its minimum over the last
  // BLOCKS blocks plus the block being filled.
  st.smoothLevelQ5 = st.frames == 0 ? levelQ5 : (3 * st.smoothLevelQ5 + levelQ5) >> 2;
  if (st.frames < UINT32_MAX) ++st.frames;
  if (st.blockFrames == 0 || st.smoothLevelQ5 < st.blockMinQ5) st.blockMinQ5 = st.smoothLevelQ5;
  if (++st.blockFrames == kBlockFrames) {
    st.blockMin[st.blockIdx] = st.blockMinQ5;
    st.blockIdx = (st.blockIdx + 1) % VOCREL_RNR_AUTOTHR_BLOCKS;
    if (st.blocksDone < VOCREL_RNR_AUTOTHR_BLOCKS) ++st.blocksDone;
    st.blockFrames = 0;
  }
  st.floorQ5 = window_floor(st);

  // Rise at once (the floor must be learnt), fall with some hysteresis.
  const std::int32_t target = target_db(st);
  const std::int32_t cur = clamp_thr(st.thrDb);
  std::int32_t status = VOCREL_RNR_OK;
  if (target > cur || target <= cur - kFallHysteresisDb || st.thrDb != cur) {
    Vocrel_RNR_Params p{};
    status = Vocrel_RNR_GetParams(handle, &p);
    if (status == VOCREL_RNR_OK) {
      p.levelThrDb = target;
      status = Vocrel_RNR_SetParams(handle, &p);
    }
    if (status == VOCREL_RNR_OK) {
      st.thrDb = target;
      if (st.changes < UINT32_MAX) ++st.changes;
      status = 1;
    }
  }
  if (thrDb != nullptr) *thrDb = st.thrDb;
  return status;
}

// The same layout on 32- and 64-bit targets (the Python binding declares it).
static_assert(sizeof(Vocrel_RNR_AutoThr) == 104);
static_assert(offsetof(Vocrel_RNR_AutoThr, prevEnergy) == 16);
