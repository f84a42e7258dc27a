// The portable vector kernels and the choice of the table this machine runs.
#include "math/vec_kernels.h"

#include <algorithm>

#include "base/cpu_features.h"
#include "math/fixed.h"

namespace vocrel {

void vec_gain_pairs_c(std::int32_t* pairs, const std::int16_t* g, std::int32_t count) {
  for (std::int32_t k = 0; k < count; ++k) {
    for (int part = 0; part < 2; ++part) {
      std::int32_t& x = pairs[2 * k + part];
      // The doubled product is below 2^47 in magnitude: no saturation.
      x = lo32((2 * mul64(x, g[k]) + 32767) >> 16);
    }
  }
}

std::int32_t vec_window_pairs_c(const std::int16_t* x, const std::int16_t* w, std::int32_t count,
                                std::int32_t* pairs) {
  std::int32_t peak = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    const std::int32_t v = mul_dbl16(x[k], w[k]);
    pairs[2 * k] = v;
    pairs[2 * k + 1] = 0;
    peak = abs_sat32(v) > peak ? abs_sat32(v) : peak;
  }
  return peak;
}

void vec_window_ola_c(const std::int32_t* pairs, const std::int16_t* w, std::int32_t count,
                      std::int32_t shift, std::int16_t* out, std::int16_t* tail) {
  auto windowed = [pairs, w, shift](std::int32_t i) {
    const std::int16_t v = sat16(shift_sat32(pairs[2 * i], shift));
    return sat16(mul_dbl16(w[i], v) >> 16);
  };
  for (std::int32_t k = 0; k < count; ++k) {
    out[k] = add_sat16(windowed(k), tail[k]);
    tail[k] = windowed(count + k);
  }
}

std::uint32_t vec_magnitude_bits_c(const std::int32_t* words, std::int32_t count) {
  std::uint32_t bits = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const auto u = static_cast<std::uint32_t>(words[i]);
    const std::uint32_t sign = words[i] < 0 ? ~0u : 0u;
    bits |= (u ^ sign) - sign;  // |x| modulo 2^32
  }
  return bits;
}

void vec_shift_words_c(std::int32_t* words, std::int32_t count, std::int32_t s) {
  // The sign test sits outside the loops so that they run branch-free.
  if (s >= 0) {
    for (std::int32_t i = 0; i < count; ++i) words[i] = shl_wrap32(words[i], s);
  } else {
    for (std::int32_t i = 0; i < count; ++i) words[i] = shr32(words[i], -s);
  }
}

void vec_bin_powers_c(const std::int32_t* pairs, std::int32_t shift, std::int32_t count,
                      std::int64_t* power) {
  for (std::int32_t k = 0; k < count; ++k) {
    const std::int32_t re = abs_sat32(shift_sat32(pairs[2 * k], shift));
    const std::int32_t im = shift_sat32(pairs[2 * k + 1], shift);
    const std::int32_t r = re > 1 ? re : 1;
    power[k] = mul64(r, r) + mul64(im, im);
  }
}

#if VOCREL_MODE1
std::uint64_t vec_pair_powers_c(const std::int32_t* pairs, std::int32_t count,
                                std::int64_t* power) {
  std::uint64_t bits = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    const std::int32_t re = pairs[2 * k];
    const std::int32_t im = pairs[2 * k + 1];
    power[k] = add_sat64(mul64(re, re), mul64(im, im));
    bits |= static_cast<std::uint64_t>(power[k]);
  }
  return bits;
}

void vec_power_words_c(const std::int64_t* power, std::int32_t count, std::int32_t s,
                       std::int32_t* out) {
  for (std::int32_t k = 0; k < count; ++k) {
    const std::int64_t p = power[k];
    out[k] = lo32(s > 0 ? add_sat64(p, std::int64_t{1} << (s - 1)) >> s : shl_wrap64(p, -s));
  }
}

void vec_smooth_magnitudes_c(std::int32_t* mag, std::int32_t* prev, std::int32_t count,
                             std::int32_t shift, std::int32_t w, bool smooth) {
  for (std::int32_t k = 0; k < count; ++k) {
    std::int32_t m = shift_sat32(mag[k], shift);
    if (smooth) {
      const std::int32_t d = sub_sat32(m, prev[k]);
      m = add_sat32(prev[k], sat32(2 * ((std::int64_t{d} * w) >> 16)));
    }
    mag[k] = m;
    prev[k] = m;
  }
}

void vec_gain_mirror_c(std::int32_t* pairs, const std::int16_t* g, std::int32_t half) {
  for (std::int32_t k = 0; k <= half; ++k) {
    const std::int32_t g31 = std::int32_t{g[k]} * 65536;  // Q15 -> Q31
    pairs[2 * k] = mul_dbl_hi32(pairs[2 * k], g31);
    pairs[2 * k + 1] = mul_dbl_hi32(pairs[2 * k + 1], g31);
  }
  for (std::int32_t k = 1; k < half; ++k) {
    pairs[2 * (2 * half - k)] = pairs[2 * k];
    pairs[2 * (2 * half - k) + 1] = neg_sat32(pairs[2 * k + 1]);
  }
}

void vec_scale_words_c(const std::int32_t* x, std::int32_t f, std::int32_t s, std::int32_t count,
                       std::int32_t* out) {
  for (std::int32_t i = 0; i < count; ++i) out[i] = lo32(shift_wrap64(mul_dbl64(x[i], f), s));
}

void vec_floor_words16_c(std::int16_t* w, std::int32_t count, std::int16_t floor) {
  for (std::int32_t i = 0; i < count; ++i) w[i] = w[i] < floor ? floor : w[i];
}
#endif

namespace {

// sat32(2 a b) >> 16 = (a b) >> 15 clamped to 16 bits, for a b within 32
// bits: every product of the gain smoothing (16-bit words, and 32767 - coef
// up to 65535 by a 16-bit word).
std::int32_t dbl_hi16(std::int32_t a, std::int32_t b) {
  return std::clamp((a * b) >> 15, kInt16Min, kInt16Max);
}

}  // namespace

void vec_follow_gains_c(const std::int16_t* s, const std::int16_t* target, std::int32_t count,
                        bool first, std::int16_t rise, std::int16_t keep, std::int16_t* coef,
                        std::int16_t* gain) {
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t c = coef[i];
    const std::int32_t up = dbl_hi16(s[i], rise) + dbl_hi16(keep, c);
    coef[i] = static_cast<std::int16_t>(s[i] < c ? s[i] : std::clamp(up, kInt16Min, kInt16Max));
  }
  if (first) {
    for (std::int32_t i = 0; i < count; ++i) gain[i] = target[i];
    return;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t c = coef[i];
    const std::int32_t g = dbl_hi16(c, gain[i]) + dbl_hi16(32767 - c, target[i]);
    gain[i] = static_cast<std::int16_t>(std::clamp(g, kInt16Min, kInt16Max));
  }
}

void vec_mix_words_c(const std::int32_t* a, const std::int32_t* b, const std::int32_t* c,
                     std::int16_t wa, std::int16_t wb, std::int16_t wc, std::int32_t count,
                     std::int32_t* out) {
  if (wc == 0) {  // two terms (the third weighs nothing)
    for (std::int32_t i = 0; i < count; ++i)
      out[i] = lo32((mul64(a[i], wa) + mul64(b[i], wb)) >> 15);
    return;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    out[i] = lo32((mul64(a[i], wa) + mul64(b[i], wb) + mul64(c[i], wc)) >> 15);
  }
}

void vec_follow_extremes_c(const std::int32_t* x, std::int32_t count, std::int16_t rise,
                           std::int32_t floor, std::int32_t* mn, std::int32_t* pk) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (x[i] <= mn[i]) {
      mn[i] = x[i];
    } else {
      // The doubled product is below 2^48 in magnitude: neither it nor the
      // rounding add can saturate.
      const std::int64_t up = (2 * mul64(sub_sat32(x[i], mn[i]), rise) + 32768) >> 16;
      mn[i] = sat32(mn[i] + up);
    }
    if (mn[i] <= floor) mn[i] = floor;
    pk[i] = x[i] >= pk[i] ? x[i] : add_sat32(pk[i], sub_sat32(x[i], pk[i]) >> 1);
  }
}

void vec_mirror_conjugates_c(std::int32_t* pairs, std::int32_t n) {
  for (std::int32_t k = 1; k < n / 2; ++k) {
    pairs[2 * (n - k)] = pairs[2 * k];
    pairs[2 * (n - k) + 1] = neg_wrap32(pairs[2 * k + 1]);
  }
}

namespace {

constexpr VecKernels kPortable = {
    &vec_gain_pairs_c,      &vec_window_pairs_c,
    &vec_window_ola_c,      &vec_magnitude_bits_c,
    &vec_shift_words_c,     &vec_roots_i64_c,
    &vec_roots_q16_c,       &vec_bin_powers_c,
    &vec_divide_q_c,        &vec_exp10_q31_c,
    &vec_follow_gains_c,    &vec_mix_words_c,
    &vec_follow_extremes_c, &vec_mirror_conjugates_c,
#if VOCREL_MODE1
    &vec_ln_q15_c,          &vec_pair_powers_c,
    &vec_power_words_c,     &vec_smooth_magnitudes_c,
    &vec_gain_mirror_c,     &vec_scale_words_c,
    &vec_floor_words16_c,
#endif
};

}  // namespace

const VecKernels* vec_kernels_c() { return &kPortable; }

#if VOCREL_SIMD && defined(__ARM_NEON)

const VecKernels& vec_kernels() { return *vec_kernels_neon(); }

#elif VOCREL_SIMD && defined(__x86_64__)

namespace {

const VecKernels& avx2_kernels() { return *vec_kernels_avx2(); }
const VecKernels& sse41_kernels() { return *vec_kernels_sse41(); }
const VecKernels& portable_kernels() { return kPortable; }

// Resolved once by the loader (an indirect function).
VOCREL_RESOLVER const VecKernels& (*vocrel_resolve_vec_kernels())() {
  return choose_by_cpu(&avx2_kernels, &sse41_kernels, &portable_kernels);
}

}  // namespace

const VecKernels& vec_kernels() __attribute__((ifunc("vocrel_resolve_vec_kernels")));

#else

const VecKernels& vec_kernels() { return kPortable; }

#endif

}  // namespace vocrel
