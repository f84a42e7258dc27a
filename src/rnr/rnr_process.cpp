// Frame driver of the environment-noise path: analysis, block-floating-point
// bookkeeping around the forward transform, the stages, the driver's own
// trackers (harmonic hangover, level tracker, low-level counter), the gain
// floor and the weighted overlap-add synthesis.
//
// Scales: the forward transform reports e = s + 16 and r = s + 16 + log2 L
// for its block shift s. magShift puts every magnitude on one fixed scale
// (256 x |DFT| of the windowed frame in sample units); powShift keeps the
// 32-bit powers below 2^30 with the parity of the power exponent P so that the
// band roots land on the same scale. With the high-pass on, one bit less of
// shift restores the filter's gain of one half.
#include <algorithm>
#include <array>

#include "base/layout.h"
#include "base/trace.h"
#include "dsp/block_fft.h"
#include "dsp/window.h"
#include "math/constants.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"
#include "rnr/rnr.h"
#include "rnr/rnr_internal.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"

namespace {

using namespace vocrel;
using namespace vocrel::rnr;

// Stage boundaries reported to the caller's trace record.
enum TraceCode : std::uint32_t {
  kTraceStart = 2,
  kTraceAnalysed = 3,
  kTraceSpectrum = 4,
  kTraceCepstrum = 5,
  kTraceVad1 = 6,
  kTraceNoise = 7,
  kTraceSnr = 9,
  kTraceGain = 10,
  kTraceInterpolate = 14,
  kTraceApply = 15,
  kTraceSynthesis = 16,
  kTraceWindow = 17,
};

constexpr int kMaxSpecPairs = 512;  // complex pairs at 16 kHz; the cepstrum uses all 512
constexpr int kMaxWin = 320;
constexpr int kMaxLd = 65;
constexpr std::int32_t kMagSmoothQ15 = math::q15(0.6);
constexpr int kHarmHoldLast = 9;
constexpr int kLevelStep = 6;     // level tracker follows at 1/64 per frame
constexpr int kLevelRise = 2;     // target at most 4 x the tracker during speech
constexpr int kMinBinBands = 37;  // 4 x (mcraMin^2 >> 37) above the single bins
constexpr std::int16_t kLowLevelRunHold = 30;
constexpr std::int16_t kLowLevelHold = 10;
constexpr int kForcedBins = 4;  // bins 0..3 always take the minimum gain
static_assert(kMagSmoothQ15 == 19661);

void trace_code(Vocrel_RNR_TraceRec* trace, std::uint32_t code) {
  if (trace != nullptr) write_trace(trace, code);
}

}  // namespace

namespace vocrel::rnr {

// Keeps harmonicRun non-zero for a while after the last harmonic frame.
void update_harmonic_hangover(RnrChanState* st, std::int32_t harmonicFlag) {
  if (harmonicFlag == 1) {
    ++st->harmonicRun;
    st->harmonicHold = 0;
  } else if (st->harmonicRun != 0) {
    ++st->harmonicHold;
    const std::uint32_t idx = std::min<std::uint32_t>(st->harmonicRun - 1, kHarmHoldLast);
    if (st->harmonicHold > vocrel_rnr_harmHoldTab[idx]) {
      st->harmonicRun = 0;
      st->harmonicHold = 0;
    }
  }
}

// Slow level tracker, bounded below by the tracked noise minimum.
void update_level_tracker(RnrChanState* st, const RateView& v, std::int32_t vad1) {
  if (st->harmonicRun != 0) return;
  const std::int32_t energy = st->frameEnergy;
  std::int32_t level = st->levelTrack;
  if (vad1 == 1) {
    const std::int32_t target = std::min(shl_sat32(level, kLevelRise), energy);
    level = add_sat32(level, sub_sat32(target, level) >> kLevelStep);
  } else if (level > energy) {
    level = add_sat32(level, sub_sat32(energy, level) >> kLevelStep);
  }
  std::int32_t floorEnergy = 0;
  for (int k = 0; k < v.B; ++k) {
    const std::int32_t term =
        static_cast<std::int32_t>(mul64(st->mcraMin[k], st->mcraMin[k]) >> kMinBinBands);
    floorEnergy = add_sat32(floorEnergy, k < kLowBands ? term : 4 * term);
  }
  st->levelTrack = std::max({level, floorEnergy, std::int32_t{1}});
}

// Counts frames below the level floor, with a hold after long runs.
void update_low_level_counter(RnrChanState* st) {
  if (st->levelTrack < st->levelFloor) {
    st->lowLevelRun = lo16(std::int32_t{st->lowLevelRun} + 1);
    if (st->lowLevelRun > kLowLevelRunHold) st->lowLevelHold = kLowLevelHold;
  } else if (st->lowLevelHold <= 0) {
    st->lowLevelRun = 0;
  } else {
    --st->lowLevelHold;
  }
}

}  // namespace vocrel::rnr

namespace vocrel::rnr {

void process(RnrChanState* st, const std::int16_t* in, std::int16_t* out,
             Vocrel_RNR_TraceRec* trace) {
  const RateView v = view_of(st);
  const auto* specB = ref_target<Vocrel_FFTSpec_C_SC32>(st, st->fftSpecB);

  alignas(32) std::array<std::int32_t, 2 * kMaxSpecPairs> specIn;  // also cepstral work
  alignas(32) std::array<std::int32_t, 2 * kMaxSpecPairs> specOut;
  std::array<std::int16_t, kMaxWin> frame;  // analysis frame
  std::array<std::int32_t, kMaxBins> magSpec;
  std::array<std::int32_t, kMaxLd> specLD;
  std::array<std::int32_t, kCepsBins> specHD;
  std::array<std::int32_t, kCepsBins> specValley;
  std::array<std::int32_t, kMaxBands> mcraSpec;
  std::array<std::int16_t, kMaxBands> postSnr;

  postSnr.fill(0);
  trace_code(trace, kTraceStart);
  analyse_frame(st, in, frame.data(), specIn.data());
  // mcraSpec travels by argument; the record only marks that none is stored.
  if (v.wide) {
    st->tail.r16.mcraSpecPtr = 0;
  } else {
    st->tail.r8.mcraSpecPtr = 0;
  }
  trace_code(trace, kTraceAnalysed);

  std::int16_t e = 0;
  const std::int16_t r = dsp::rnr_fft(specB, v.L, specIn.data(), specOut.data(), &e);
  const bool filtered = st->hpFilterOn == 1;
  const int magShift = (filtered ? 9 : 8) - e;
  const int powExp = 2 * e + (filtered ? 12 : 14);
  const std::int16_t outShiftBase = filtered ? sat16(std::int32_t{r} - 1) : r;

  const VecKernels& kern = vec_kernels();
  std::array<std::int64_t, kMaxBins> power;
  const std::uint64_t powBits = kern.pair_powers(specOut.data(), v.K, power.data());
  // The OR of the powers has the largest power's leading bit.
  int powShift = powBits == 0 ? 33 : 34 - clz64(powBits);
  if ((powExp - powShift) % 2 != 0) ++powShift;

  kern.roots_i64(power.data(), v.K, sqrt_seed_rows(vocrel_rnr_sqrt_32_tab), magSpec.data());
  // The transform input is spent: the 32-bit powers take its place.
  std::int32_t* powSpec = specIn.data();
  kern.power_words(power.data(), v.K, powShift, powSpec);
  kern.smooth_magnitudes(magSpec.data(), st->prevMag.data(), v.K, magShift, kMagSmoothQ15,
                         st->frameCnt > 1);

  trace_code(trace, kTraceSpectrum);
  low_res_spectrum(powSpec, v.L, static_cast<std::int16_t>((powExp - powShift) / 2), specLD.data());

  trace_code(trace, kTraceCepstrum);
  std::int32_t cepsPeak = 0, cepsSmPeak = 0;
  const std::int32_t harmonicFlag = harmonic_spectrum(
      st, specIn.data(), magSpec.data(), &cepsPeak, &cepsSmPeak, specHD.data(), specValley.data());
  update_harmonic_hangover(st, harmonicFlag);

  trace_code(trace, kTraceVad1);
  const std::int32_t vad1 = level_vad(st, specLD.data());

  trace_code(trace, kTraceNoise);
  estimate_noise(st, harmonicFlag, vad1, specHD.data(), specValley.data(), specLD.data(),
                 mcraSpec.data());
  update_level_tracker(st, v, vad1);
  update_low_level_counter(st);

  trace_code(trace, kTraceSnr);
  posterior_snr(st, mcraSpec.data(), postSnr.data());
  trace_code(trace, kTraceGain);
  frame_gains(st, postSnr.data());
  trace_code(trace, kTraceInterpolate);
  expand_band_gains(st);
  trace_code(trace, kTraceApply);
  ++st->vad2HistIdx;

  vocrel::math::raise_to_floor(v.gainBin, v.K, st->minGain);
  std::fill(v.gainBin, v.gainBin + kForcedBins, st->minGain);
  apply_bin_gains(v.L, v.gainBin, specOut.data());

  trace_code(trace, kTraceSynthesis);
  // Only the real parts of the W windowed outputs are read back.
  const std::int32_t r2 = dsp::rnr_ifft_real_head(specB, v.L, specOut.data(), specIn.data(), v.W);
  trace_code(trace, kTraceWindow);
  dsp::window_overlap_add(specIn.data(), -sat16(std::int64_t{r2} + outShiftBase), v.win, v.N,
                          v.overlapBuf, out);
}

}  // namespace vocrel::rnr
