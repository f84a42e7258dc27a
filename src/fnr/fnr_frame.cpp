// Floor-noise frame pipeline: pre-filter, analysis window and frame level,
// forward transform, band magnitudes, the per-channel stage sequence, and
// synthesis with overlap-add.
#include <algorithm>

#include "base/layout.h"
#include "dsp/block_fft.h"
#include "dsp/highpass.h"
#include "dsp/window.h"
#include "fnr/fnr_internal.h"
#include "math/constants.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;
using fnr::kBands;
using fnr::RateCfg;

constexpr std::int32_t kFillMag = 2;                 // magnitude of the bins above M/2 at 8/16 kHz
constexpr std::int32_t kTimeNew = math::kTime07Q15;  // 0.7 of this frame
constexpr std::int32_t kTimeOld = math::kTime03Q15;  // 0.3 of the previous one
constexpr std::int32_t kFreqSide = math::q15(0.2);
constexpr std::int32_t kFreqMid = 32768 - 2 * kFreqSide;  // 0.6: the three weights sum to 1.0
static_assert(kFreqSide == 6554 && kFreqMid == 19660);
constexpr std::int32_t kStartUpFrames = 10;  // frames 1..9 use the start-up VAD
constexpr std::int32_t kLoudHoldQ5 = 320;    // 10 dB above levelThrDb holds noise updates

// Stage 2: bin magnitudes of bins 0..M/2-1 from the block-scaled spectrum.
// With r <= 2^31 - 1 and |im| <= 2^31 the power r^2 + im^2 stays below 2^63,
// so its saturating sum is a plain one.
// Powers and roots run as vector kernels over blocks of bins.
void magnitudes(const std::int32_t* spec, std::int32_t e, std::int32_t halfM, std::int32_t* mag) {
  constexpr std::int32_t kBlock = 64;
  std::int64_t power[kBlock];
  for (std::int32_t k0 = 0; k0 < halfM; k0 += kBlock) {
    const std::int32_t n = halfM - k0 < kBlock ? halfM - k0 : kBlock;
    vec_kernels().bin_powers(spec + 2 * k0, -e, n, power);
    vec_kernels().roots_i64(power, n, sqrt_seed_rows(iFnrSqrtTab), mag + k0);
  }
}

// Stage 4: mean magnitude of each band (rounded by a quarter unit). Each
// doubled product is below 2^48 in magnitude and a band has fewer than 2^9
// bins, so neither the products nor their sum can saturate: plain 64-bit sums,
// which makes their order free. Bins from halfM on (above the 8/16 kHz
// Nyquist bin) all hold kFillMag: their terms are added as one product.
template <bool Fill>
void band_magnitudes(const std::int32_t* mag, std::int32_t halfM, std::int32_t* bandMag) {
  for (std::int32_t b = 0; b < kBands; ++b) {
    const std::int64_t weight =
        2 * std::int64_t{usFnrNumDown_48k[b]};  // doubled Q15 reciprocal width
    const std::int32_t lo = usFnrBarkId_48k[b], hi = usFnrBarkId_48k[b + 1];
    const std::int32_t split = Fill ? std::clamp(halfM, lo, hi) : hi;
    std::int64_t sum = 0;  // exact, so the magnitudes are summed first and weighted once
    for (std::int32_t k = lo; k < split; ++k) sum += mag[k];
    std::int64_t acc = sum * weight;
    if constexpr (Fill) acc += std::int64_t{hi - split} * (kFillMag * weight);
    bandMag[b] = lo32((acc + 16384) >> 16);
  }
}

// Stages 5 and 6: 0.7/0.3 time smoothing (not on the first frame), then
// 0.2/0.6/0.2 smoothing across the inner bands, as lane-wise weighted sums
// (with Q15 weights the saturating smoothing forms never clamp).
void smooth_bands(const FnrState* st, FnrChanState* ch, std::int32_t* bandMag) {
  const VecKernels& k = vec_kernels();
  if (st->frameCnt != 1) {
    k.mix_words(bandMag, ch->bandPrev, bandMag, kTimeNew, kTimeOld, 0, kBands, bandMag);
  }
  math::copy_ascending(ch->bandPrev, bandMag, kBands);
  const std::int32_t* prev = ch->bandPrev;
  k.mix_words(prev + 1, prev, prev + 2, kFreqMid, kFreqSide, kFreqSide, kBands - 2, bandMag + 1);
}

// Synthesis step 1: the gain of the band that holds each bin 0..M/2.
void bin_gains(const FnrChanState* ch, const RateCfg& cfg, std::int16_t* g) {
  const std::int32_t halfM = cfg.M / 2;
  const std::int32_t last =
      halfM < kFnrHalfBins ? halfM : kFnrHalfBins - 1;  // bins inside the layout
  for (std::int32_t b = 0; b < kBands && usFnrBarkId_48k[b] <= last; ++b) {
    const std::int32_t end = std::min<std::int32_t>(usFnrBarkId_48k[b + 1], last + 1);
    std::fill(g + usFnrBarkId_48k[b], g + end, ch->bandGain[b]);
  }
  if (halfM == kFnrHalfBins) g[kFnrHalfBins] = ch->bandGain[kBands - 1];
}

// Synthesis steps 2 to 7: weighting with conjugate symmetry, inverse
// transform, output exponent, synthesis window and overlap-add.
void synthesis(const FnrState* st, FnrChanState* ch, const RateCfg& cfg, std::int32_t* spec,
               std::int32_t* work, const Vocrel_FFTSpec_C_SC32* fft, std::int32_t e,
               std::int16_t* out) {
  std::int16_t g[kFnrHalfBins + 1];
  bin_gains(ch, cfg, g);
  const std::int32_t M = cfg.M, halfM = M / 2;
  vec_kernels().gain_pairs(spec, g, halfM + 1);
  vec_kernels().mirror_conjugates(spec, M);

  // Only the real parts of the W windowed outputs are read back.
  const std::int32_t f = dsp::fnr_ifft_real_head(M, spec, work, fft, cfg.W);
  std::int32_t S = sat16(std::int64_t{f} + e);
  if (fnr::hp_active(st, cfg)) S -= 1;  // undo the pre-filter's halving
  dsp::window_overlap_add(work, -S, cfg.win, cfg.N, ch->olaTail, out);
}

}  // namespace

namespace vocrel::fnr {

void process(FnrState* st, const std::int16_t* const in[2], std::int16_t* const out[2]) {
  const RateCfg cfg = rate_cfg(st->sampleRate);
  alignas(32) std::int16_t frame[kFnrMaxFrame];
  alignas(32) std::int32_t work[kFnrWorkWords];
  const std::int32_t channels = st->channels == 1 ? 1 : 2;
  for (std::int32_t c = 0; c < channels; ++c) {
    FnrChanState* ch = &st->chan[c];
    if (hp_active(st, cfg)) {
      // The tables follow the verified rate, whatever the stored codes say.
      dsp::hp_filter(ch->hp, dsp::hp_coefs(cfg.M == 256), in[c], cfg.N, frame);
    } else {
      math::copy_ascending(frame, in[c], cfg.N);
    }
    std::int32_t maxAbs = 0;
    std::int16_t frameLevel = 0;
    window_frame(st, cfg, ch, frame, cfg.win, work, &maxAbs, &frameLevel);
    frame_core(st, cfg, ch, work, out[c], frameLevel, maxAbs);
  }
}

void high_pass(FnrHpState* hp, const std::int16_t* in, std::int32_t n, std::int16_t* out) {
  dsp::HpCoefs coefs{};
  if (n < 1) return;
  if (dsp::hp_coefs_of(*hp, &coefs)) {
    dsp::hp_filter(*hp, coefs, in, n, out);
  } else {
    math::copy_ascending(out, in, n);  // no filter set up (48 kHz): pass through
  }
}

void window_frame(const FnrState* st, const RateCfg& cfg, FnrChanState* ch,
                  const std::int16_t* frame, const std::int16_t* win, std::int32_t* fftIn,
                  std::int32_t* maxAbs, std::int16_t* frameLevel) {
  const std::int32_t N = cfg.N;
  // Energy shift: 5, or 4 to undo the pre-filter's halving.
  const std::int32_t s = hp_active(st, cfg) ? 4 : 5;

  const std::int32_t peak = dsp::analysis_window(ch->inHist, frame, win, N, fftIn);
  for (std::int32_t k = 2 * N; k < cfg.M; ++k) {
    fftIn[2 * k] = 0;
    fftIn[2 * k + 1] = 0;
  }
  std::int32_t energy = 0;  // below 2^31 with these shifts (at most 960 * 2^20 or 320 * 2^22)
  for (std::int32_t k = 0; k < N; ++k) {
    const std::int32_t ho = ch->inHist[k] >> s, fo = frame[k] >> s;
    energy += ho * ho + fo * fo;
  }
  math::copy_ascending(ch->inHist, frame, N);
  *maxAbs = peak;
  *frameLevel = static_cast<std::int16_t>((math::ten_log10_q15(energy) - kFullScaleQ15Db) >> 10);
}

void frame_core(FnrState* st, const RateCfg& cfg, FnrChanState* ch, std::int32_t* work,
                std::int16_t* out, std::int16_t frameLevel, std::int32_t maxAbs) {
  const auto* fft = ref_target<Vocrel_FFTSpec_C_SC32>(st, st->fftSpec);
  alignas(32) std::int32_t spec[kFnrWorkWords];

  const std::int32_t e = dsp::fnr_fft(cfg.M, work, spec, fft, maxAbs);

  std::int32_t* mag = work;  // bins 0..M/2-1; the bins above count as kFillMag
  std::int32_t* bandMag = work + kFnrBandMagOffset;
  magnitudes(spec, e, cfg.M / 2, mag);
  if (cfg.M / 2 < kFnrHalfBins) {
    band_magnitudes<true>(mag, cfg.M / 2, bandMag);
  } else {
    band_magnitudes<false>(mag, cfg.M / 2, bandMag);
  }
  smooth_bands(st, ch, bandMag);

  FrameFlags f;
  if (st->frameCnt < kStartUpFrames) {
    f.vad = start_up_vad(st, ch, bandMag);
    start_up_learning(ch, bandMag, frameLevel, f);
  } else {
    f.vad = frame_vad(st, ch, bandMag);
  }
  level_adaptation(st, ch, frameLevel, f);
  if (cfg.wide) f.hold = tonal_hold(&ch->tonal, mag);
  level_tracking(ch, frameLevel, f);
  if (!cfg.wide) noise_relearning(ch, bandMag, frameLevel, f);
  if (cfg.wide && frameLevel > kQ5PerDb * st->levelThrDb + kLoudHoldQ5) f.hold = 1;
  if (st->frameCnt > kStartUpFrames && f.hold == 0) band_noise_update(st, ch, bandMag, f);
  fast_down_correction(ch, bandMag);
  noise_ceiling(st, ch);
  if (cfg.wide) {
    band_gains_wide(st, ch, bandMag);
  } else {
    band_gains_narrow(st, ch, bandMag);
  }
  synthesis(st, ch, cfg, spec, work, fft, e, out);
}

}  // namespace vocrel::fnr
