// Cepstral harmonic model. The real cepstrum of the 0..4 kHz log magnitude
// spectrum (256-point transform at both rates, quefrency q = q/8000 s) tells
// voiced frames by the pitch peak at q = 26..114 (about 70..308 Hz). For a
// strong peak the pitch structure is liftered out and the envelope is lowered
// per harmonic interval to the deepest valley: the harmonic-valley spectrum.
#include <algorithm>
#include <array>

#include "base/layout.h"
#include "dsp/block_fft.h"
#include "math/fixed.h"
#include "math/vocrel_math.h"
#include "rnr/rnr.h"
#include "rnr/rnr_internal.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"

namespace {

using namespace vocrel;
using namespace vocrel::rnr;

constexpr int kHalf = kCepsLen / 2;     // 128
constexpr int kCepsKept = 132;          // cepstrum values kept compactly
constexpr int kVecLen = kCepsBins + 1;  // pairwise vector routines: even count
constexpr int kPitchFirst = 26;
constexpr int kPitchLast = 114;
constexpr int kLifterHalfWidth = 3;
constexpr std::int32_t kSmPeakThr = 4000;
constexpr std::int32_t kRawPeakThr = 7208;
constexpr int kWorkSecondHalf = 2 * kHalf * 2;  // word offset of byte 2048

// Five-tap cepstrum smoothing weights in Q31 (q-2..q+2).
constexpr std::array<std::int32_t, 5> kCepsSmooth = {178913280, 536870912, 715784192, 536870912,
                                                     178978816};

const Vocrel_FFTSpec_C_SC32* spec_a(const RnrChanState* st) {
  return ref_target<Vocrel_FFTSpec_C_SC32>(st, st->fftSpecA);
}

// ln of bins 0..128 in Q15 for magnitudes in Q15, computed in out (130
// entries; entry 129 is a pad for the pairwise routine).
void log_bins(const std::int32_t* mag, std::int32_t* out) {
  std::copy(mag, mag + kCepsBins, out);
  out[kCepsBins] = 0;
  math::ln_q15(out, kVecLen, out);
}

// Real, even 256-point sequence from values 0..128 (imaginary parts 0).
template <typename F>
void build_even(std::int32_t* x, F value) {
  x[0] = value(0);
  x[1] = 0;
  for (int k = 1; k < kHalf; ++k) {
    const std::int32_t v = value(k);
    x[2 * k] = v;
    x[2 * k + 1] = 0;
    x[2 * (kCepsLen - k)] = v;
    x[2 * (kCepsLen - k) + 1] = 0;
  }
  x[2 * kHalf] = value(kHalf);
  x[2 * kHalf + 1] = 0;
}

// Three-tap 1/4, 1/2, 1/4 smoothing of bins 0..128 (ends unchanged).
void smooth_bins(const std::int32_t* in, std::int32_t* out) {
  out[0] = in[0];
  for (int k = 1; k < kHalf; ++k) {
    out[k] = add_sat32(add_sat32(in[k - 1] >> 2, in[k] >> 1), in[k + 1] >> 2);
  }
  out[kHalf] = in[kHalf];
}

}  // namespace

namespace vocrel::rnr {

// Bins per harmonic interval (about 256 / q0) and the number of intervals
// (about 128 / spacing), by two reciprocal divisions.
void harmonic_grid(std::int32_t q0, int* spacing, int* count) {
  constexpr std::int32_t kOneQ29 = std::int32_t{1} << 29;
  const int n = norm32(q0);
  const std::int32_t t = shift_sat32(math::divide_q(kOneQ29, shl_sat32(q0, n), 31), n - 37);
  const std::int32_t sp = add_sat32(t, 16384) >> 15;
  const int n2 = norm32(sp);
  const std::int32_t t2 = shift_sat32(math::divide_q(kOneQ29, shl_sat32(sp, n2), 31), n2 - 52);
  *spacing = sp;
  *count = t2 >> 1;
}

}  // namespace vocrel::rnr

namespace vocrel::rnr {

void smooth_cepstrum(const std::int32_t* ceps, std::int32_t len, std::int32_t* out) {
  const int half = len / 2;
  for (int q = 2; q <= half - 3; ++q) {
    std::int32_t s = 0;
    for (int i = 0; i < 5; ++i) s = add_sat32(s, mul_dbl_hi32(ceps[q - 2 + i], kCepsSmooth[i]));
    out[q] = s;
  }
  for (int q : {0, 1, half - 2, half - 1, half}) out[q] = ceps[q];
}

void valley_spectrum(const RnrChanState* st, std::int32_t* fftIn, const std::int32_t* magSpec,
                     std::int32_t len, std::int32_t* ceps, std::int32_t q0, std::int32_t* out) {
  (void)len;  // the model always works on the 256-point cepstrum
  q0 = std::clamp<std::int32_t>(q0, kPitchFirst, kPitchLast);
  for (int q = q0 - kLifterHalfWidth; q <= q0 + kLifterHalfWidth; ++q) ceps[q] = 0;

  build_even(fftIn, [ceps](int k) { return ceps[k]; });
  std::int16_t e = 0;
  dsp::rnr_fft(spec_a(st), kCepsLen, fftIn, ceps, &e);

  // Envelope: log of the real part of exp(re + i im), re a log power in Q15,
  // im an angle in Q14 radians.
  std::array<std::int32_t, kVecLen> env;
  for (int k = 0; k < kCepsBins; ++k) env[k] = math::cos_q15(shift_sat32(ceps[2 * k + 1], 15 - e));
  env[kCepsBins] = 0;
  math::ln_q15(env.data(), kVecLen, env.data());
  for (int k = 0; k < kCepsBins; ++k) env[k] = add_sat32(shift_sat32(ceps[2 * k], 16 - e), env[k]);
  env[kCepsBins] = 0;

  std::array<std::int32_t, kVecLen> logMag;
  log_bins(magSpec, logMag.data());

  int spacing = 0, count = 0;
  harmonic_grid(q0, &spacing, &count);
  for (int j = 0; j < count; ++j) {
    const int first = j * spacing;
    const int last = std::min(first + spacing, kCepsBins);  // exclusive
    if (first >= last) break;
    std::int32_t m = sub_wrap32(sat32(2 * std::int64_t{logMag[first]}), env[first]);
    for (int b = first + 1; b < last; ++b) {
      m = std::min(m, sub_wrap32(sat32(2 * std::int64_t{logMag[b]}), env[b]));
    }
    if (m < 0) m = neg_sat32(m);
    for (int b = first; b < last; ++b) env[b] = sub_sat32(env[b], m) >> 1;
  }

  math::exp_q15(env.data(), kVecLen, env.data());
  for (int k = 0; k < kCepsBins; ++k) out[k] = std::min(env[k], magSpec[k]);
}

std::int32_t harmonic_spectrum(const RnrChanState* st, std::int32_t* work,
                               const std::int32_t* magSpec, std::int32_t* cepsPeak,
                               std::int32_t* cepsSmPeak, std::int32_t* specHD,
                               std::int32_t* specValley) {
  std::int32_t* first = work;                     // transform outputs, cepstrum
  std::int32_t* second = work + kWorkSecondHalf;  // transform inputs, D, V

  log_bins(magSpec, first);  // parked in the first half until the sequence is built
  build_even(second, [first](int k) { return sat32(2 * std::int64_t{first[k]}); });
  // Only the real parts of the kept cepstrum values are read back.
  const std::int32_t r = dsp::rnr_ifft_real_head(spec_a(st), kCepsLen, second, first, kCepsKept);
  const int shift = -7 - sat16(std::int32_t{r} + 1);  // removes 8 + r
  for (int q = 0; q < kCepsKept; ++q) first[q] = shift_sat32(first[2 * q], shift);

  smooth_cepstrum(first, kCepsLen, second);
  math::arg_max(first, kPitchFirst, kPitchLast, cepsPeak);
  const std::int32_t q0 = math::arg_max(second, kPitchFirst, kPitchLast, cepsSmPeak);
  const std::int32_t harmonic = (*cepsSmPeak > kSmPeakThr || *cepsPeak > kRawPeakThr) ? 1 : 0;

  const std::int32_t* valley = magSpec;
  if (*cepsSmPeak > kSmPeakThr) {
    valley_spectrum(st, second, magSpec, kCepsLen, first, q0, second);
    valley = second;
  }
  smooth_bins(valley, specValley);
  smooth_bins(magSpec, specHD);
  return harmonic;
}

}  // namespace vocrel::rnr
