// The portable vector kernels and the choice of the table this machine runs.
#include "math/vec_kernels.h"

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

namespace {

// sat16((sat32(2 a b) >> 16) + (sat32(2 c d) >> 16)): a two-term Q15 blend.
std::int16_t blend_q15(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
  return sat16(std::int64_t{sat32(2 * std::int64_t{a} * b) >> 16} +
               (sat32(2 * std::int64_t{c} * d) >> 16));
}

}  // namespace

void vec_smooth_band_gains_c(std::int16_t* coef, std::int16_t* gain, const std::int16_t* target,
                             const std::int16_t* gainNew, std::int32_t count, std::int16_t rise,
                             std::int16_t keep, bool first) {
  for (std::int32_t k = 0; k < count; ++k) {
    const std::int16_t h =
        target[k] < coef[k] ? target[k] : blend_q15(target[k], rise, keep, coef[k]);
    coef[k] = h;
    gain[k] = first ? gainNew[k] : blend_q15(h, gain[k], 32767 - h, gainNew[k]);
  }
}

namespace {

constexpr VecKernels kPortable = {
    &vec_gain_pairs_c,    &vec_window_pairs_c,      &vec_window_ola_c,  &vec_magnitude_bits_c,
    &vec_shift_words_c,   &vec_roots_i64_c,         &vec_roots_q16_c,   &vec_ln_q15_c,
    &vec_bin_powers_c,    &vec_divide_q_c,          &vec_exp10_q31_c,   &vec_pair_powers_c,
    &vec_power_words_c,   &vec_smooth_magnitudes_c, &vec_gain_mirror_c, &vec_scale_words_c,
    &vec_floor_words16_c, &vec_smooth_band_gains_c};

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
