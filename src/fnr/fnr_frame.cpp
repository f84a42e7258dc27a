// Floor-noise frame pipeline: pre-filter, analysis window and frame level,
// forward transform, band magnitudes, the per-channel stage sequence, and
// synthesis with overlap-add.
#include <algorithm>

#include "api/instance.h"
#include "fft/vocrel_fft.h"
#include "fnr/fnr_internal.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"
#include "rnr/rnr.h"

namespace {

using namespace vocrel;
using fnr::kBands;
using fnr::RateCfg;

constexpr int32_t kTonalMode = 3;       // handed on unchanged to the tonal detector
constexpr int32_t kFillMag = 2;         // magnitude of the bins above M/2 at 8/16 kHz
constexpr int32_t kTimeNew = 22937;     // 0.7 in Q15
constexpr int32_t kTimeOld = 9830;      // 0.3
constexpr int32_t kFreqMid = 19660;     // 0.6
constexpr int32_t kFreqSide = 6554;     // 0.2
constexpr int32_t kStartUpFrames = 10;  // frames 1..9 use the start-up VAD
constexpr int32_t kLoudHoldQ5 = 320;    // 10 dB above levelThrDb holds noise updates

// Coefficients of the pre-filter chosen by its table code.
bool hp_tables(const FnrHpState* hp, const int16_t** a, const int16_t** b) {
  if (hp->coefA == kTable8k && hp->coefB == kTable8k) {
    *a = vocrel_rnr_hpFilterCoefA_8k;
    *b = vocrel_rnr_hpFilterCoefB_8k;
    return true;
  }
  if (hp->coefA == kTable16k && hp->coefB == kTable16k) {
    *a = vocrel_rnr_hpFilterCoefA_16k;
    *b = vocrel_rnr_hpFilterCoefB_16k;
    return true;
  }
  return false;
}

// Direct-form high-pass, Q12 coefficients, state y in Q16 sample units.
void hp_filter(FnrHpState* hp, const int16_t* a, const int16_t* b, const int16_t* in, int32_t n,
               int16_t* out) {
  for (int32_t i = 0; i < n; ++i) {
    const int16_t x = in[i];
    // (y * a) >> 16 is a 48-bit product brought back to 32 bits.
    int32_t t = add_sat32(sat32(2 * ((int64_t{hp->y2} * a[2]) >> 16)),
                          sat32(2 * ((int64_t{hp->y1} * a[1]) >> 16)));
    t = add_sat32(t, mul_dbl16(b[2], hp->x2));
    t = add_sat32(t, mul_dbl16(b[1], hp->x1));
    t = add_sat32(t, mul_dbl16(b[0], x));
    const int32_t y = shl_sat32(t, 3);
    out[i] = static_cast<int16_t>(sat32(int64_t{y} + 32768) >> 16);
    hp->x2 = hp->x1;
    hp->x1 = x;
    hp->y2 = hp->y1;
    hp->y1 = y;
  }
}

// Stage 2: bin magnitudes of bins 0..M/2-1 from the block-scaled spectrum.
// With r <= 2^31 - 1 and |im| <= 2^31 the power r^2 + im^2 stays below 2^63,
// so its saturating sum is a plain one.
// Powers and roots run as vector kernels over blocks of bins.
void magnitudes(const int32_t* spec, int32_t e, int32_t halfM, int32_t* mag) {
  constexpr int32_t kBlock = 64;
  int64_t power[kBlock];
  for (int32_t k0 = 0; k0 < halfM; k0 += kBlock) {
    const int32_t n = halfM - k0 < kBlock ? halfM - k0 : kBlock;
    vec_kernels().bin_powers(spec + 2 * k0, -e, n, power);
    vec_kernels().roots_i64(power, n, iFnrSqrtTab, mag + k0);
  }
}

// Stage 4: mean magnitude of each band (rounded by a quarter unit). Each
// doubled product is below 2^48 in magnitude and a band has fewer than 2^9
// bins, so neither the products nor their sum can saturate: plain 64-bit sums,
// which makes their order free. Bins from halfM on (above the 8/16 kHz
// Nyquist bin) all hold kFillMag: their terms are added as one product.
template <bool Fill>
void band_magnitudes(const int32_t* mag, int32_t halfM, int32_t* bandMag) {
  for (int32_t b = 0; b < kBands; ++b) {
    const int64_t weight = 2 * int64_t{usFnrNumDown_48k[b]};  // doubled Q15 reciprocal width
    const int32_t lo = usFnrBarkId_48k[b], hi = usFnrBarkId_48k[b + 1];
    const int32_t split = Fill ? std::clamp(halfM, lo, hi) : hi;
    int64_t sum = 0;  // exact, so the magnitudes are summed first and weighted once
    for (int32_t k = lo; k < split; ++k) sum += mag[k];
    int64_t acc = sum * weight;
    if constexpr (Fill) acc += int64_t{hi - split} * (kFillMag * weight);
    bandMag[b] = lo32((acc + 16384) >> 16);
  }
}

// Stages 5 and 6: 0.7/0.3 time smoothing (not on the first frame), then
// 0.2/0.6/0.2 smoothing across the inner bands.
void smooth_bands(const FnrState* st, FnrChanState* ch, int32_t* bandMag) {
  if (st->frameCnt != 1) {
    for (int32_t b = 0; b < kBands; ++b)
      bandMag[b] = vocrel::smooth_two_int(bandMag[b], ch->bandPrev[b], kTimeNew, kTimeOld);
  }
  FnrCopyInt(ch->bandPrev, bandMag, kBands);
  for (int32_t b = 1; b < kBands - 1; ++b)
    bandMag[b] = vocrel::smooth_three_int(ch->bandPrev[b], ch->bandPrev[b - 1], ch->bandPrev[b + 1],
                                          kFreqMid, kFreqSide, kFreqSide);
}

// Synthesis step 1: the gain of the band that holds each bin 0..M/2.
void bin_gains(const FnrChanState* ch, const RateCfg& cfg, int16_t* g) {
  const int32_t halfM = cfg.M / 2;
  const int32_t last = halfM < kFnrHalfBins ? halfM : kFnrHalfBins - 1;  // bins inside the layout
  int32_t b = 0;
  for (int32_t k = 0; k <= last; ++k) {
    if (usFnrBarkId_48k[b + 1] <= k) ++b;
    g[k] = ch->bandGain[b];
  }
  if (halfM == kFnrHalfBins) g[kFnrHalfBins] = ch->bandGain[kBands - 1];
}

// Synthesis steps 2 to 7: weighting with conjugate symmetry, inverse
// transform, output exponent, synthesis window and overlap-add.
void synthesis(const FnrState* st, FnrChanState* ch, const RateCfg& cfg, int32_t* spec,
               int32_t* work, const Vocrel_FFTSpec_C_SC32* fft, int32_t e, int16_t* out) {
  int16_t g[kFnrHalfBins + 1];
  bin_gains(ch, cfg, g);
  const int32_t M = cfg.M, halfM = M / 2;
  vec_kernels().gain_pairs(spec, g, halfM + 1);
  for (int32_t k = 1; k < halfM; ++k) {
    spec[2 * (M - k)] = spec[2 * k];
    spec[2 * (M - k) + 1] = neg_wrap32(spec[2 * k + 1]);
  }

  // Only the real parts of the W windowed outputs are read back.
  const int32_t f = fft::fnr_ifft_real_head(M, spec, work, fft, cfg.W);
  int32_t S = sat16(int64_t{f} + e);
  if (fnr::hp_active(st, cfg)) S -= 1;  // undo the pre-filter's halving

  // The W windowed output samples: the first N overlap-added onto the saved
  // tail, the last N saved as the next tail.
  vec_kernels().window_ola(work, cfg.win, cfg.N, -S, out, ch->olaTail);
}

}  // namespace

extern "C" {

void VocrelFnrProcess(FnrState* st, const int16_t* in[2], int16_t* out[2]) {
  const RateCfg cfg = fnr::rate_cfg(st->sampleRate);
  alignas(32) int16_t frame[kFnrMaxFrame];
  alignas(32) int32_t work[kFnrWorkWords];
  const int32_t channels = st->channels == 1 ? 1 : 2;
  for (int32_t c = 0; c < channels; ++c) {
    FnrChanState* ch = &st->chan[c];
    if (fnr::hp_active(st, cfg)) {
      // The tables follow the verified rate, whatever the stored codes say.
      const bool is8k = cfg.M == 256;
      hp_filter(&ch->hp, is8k ? vocrel_rnr_hpFilterCoefA_8k : vocrel_rnr_hpFilterCoefA_16k,
                is8k ? vocrel_rnr_hpFilterCoefB_8k : vocrel_rnr_hpFilterCoefB_16k, in[c], cfg.N,
                frame);
    } else {
      FnrCopyShort(frame, in[c], cfg.N);
    }
    int32_t maxAbs = 0;
    int16_t frameLevel = 0;
    FnrWinFrame(st, ch, frame, cfg.win, work, &maxAbs, &frameLevel);
    FnrFrameCore(st, ch, work, out[c], frameLevel, maxAbs);
  }
}

void FnrHpFilter(FnrHpState* hp, const int16_t* in, int32_t n, int16_t* out) {
  const int16_t *a = nullptr, *b = nullptr;
  if (n < 1) return;
  if (hp_tables(hp, &a, &b)) {
    hp_filter(hp, a, b, in, n, out);
  } else {
    FnrCopyShort(out, in, n);  // no filter set up (48 kHz): pass through
  }
}

void FnrWinFrame(FnrState* st, FnrChanState* ch, const int16_t* frame, const int16_t* win,
                 int32_t* fftIn, int32_t* maxAbs, int16_t* frameLevel) {
  const RateCfg cfg = fnr::rate_cfg(st->sampleRate);
  const int32_t N = cfg.N;
  // Energy shift: 5, or 4 to undo the pre-filter's halving.
  const int32_t s = fnr::hp_active(st, cfg) ? 4 : 5;

  // Samples times the Q15 window, doubled (Q16 sample units): the saved
  // half, then the new one; zeros up to the transform length.
  const VecKernels& vk = vec_kernels();
  const int32_t peak = std::max(vk.window_pairs(ch->inHist, win, N, fftIn),
                                vk.window_pairs(frame, win + N, N, fftIn + 2 * N));
  for (int32_t k = 2 * N; k < cfg.M; ++k) {
    fftIn[2 * k] = 0;
    fftIn[2 * k + 1] = 0;
  }
  int32_t energy = 0;  // below 2^31 with these shifts (at most 960 * 2^20 or 320 * 2^22)
  for (int32_t k = 0; k < N; ++k) {
    const int32_t ho = ch->inHist[k] >> s, fo = frame[k] >> s;
    energy += ho * ho + fo * fo;
  }
  FnrCopyShort(ch->inHist, frame, N);
  *maxAbs = peak;
  *frameLevel = static_cast<int16_t>((Fnr_10xlog10(energy) - fnr::kFullScaleQ15Db) >> 10);
}

void FnrFrameCore(FnrState* st, FnrChanState* ch, int32_t* work, int16_t* out, int16_t frameLevel,
                  int32_t maxAbs) {
  const RateCfg cfg = fnr::rate_cfg(st->sampleRate);
  const auto* fft = ref_target<Vocrel_FFTSpec_C_SC32>(st, st->fftSpec);
  alignas(32) int32_t spec[kFnrWorkWords];

  int16_t e16 = 0;
  Vocrel_FNR_FFT(cfg.M, work, spec, fft, maxAbs, &e16);
  const int32_t e = e16;

  int32_t* mag = work;  // bins 0..M/2-1; the bins above count as kFillMag
  int32_t* bandMag = work + kFnrBandMagOffset;
  magnitudes(spec, e, cfg.M / 2, mag);
  if (cfg.M / 2 < kFnrHalfBins) {
    band_magnitudes<true>(mag, cfg.M / 2, bandMag);
  } else {
    band_magnitudes<false>(mag, cfg.M / 2, bandMag);
  }
  smooth_bands(st, ch, bandMag);

  fnr::FrameFlags f;
  if (st->frameCnt < kStartUpFrames) {
    f.vad = FirstFrmVad1(st, ch, bandMag);
    fnr::start_up_learning(ch, bandMag, frameLevel, f);
  } else {
    f.vad = FnrFrameVad(st, ch, bandMag);
  }
  fnr::level_adaptation(st, ch, frameLevel, f);
  if (cfg.wide) f.hold = FNR_TonalStabDet(&ch->tonal, mag, kTonalMode);
  fnr::level_tracking(ch, frameLevel, f);
  if (!cfg.wide) fnr::noise_relearning(ch, bandMag, frameLevel, f);
  if (cfg.wide && frameLevel > fnr::kQ5PerDb * st->levelThrDb + kLoudHoldQ5) f.hold = 1;
  if (st->frameCnt > kStartUpFrames && f.hold == 0) fnr::band_noise_update(st, ch, bandMag, f);
  fnr::fast_down_correction(ch, bandMag);
  fnr::noise_ceiling(st, ch);
  if (cfg.wide) {
    fnr::band_gains_wide(st, ch, bandMag);
  } else {
    fnr::band_gains_narrow(st, ch, bandMag);
  }
  synthesis(st, ch, cfg, spec, work, fft, e, out);
}

}  // extern "C"
