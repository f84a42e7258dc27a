// Vector kernels of the signal loops, as one table per instruction set, and
// the table this machine runs. Every SIMD variant gives the same words as its
// portable twin (the _c functions), which is the reference.
#pragma once

#include <cstdint>

// The tables' layout depends on whether the environment-noise path is built.
#ifndef VOCREL_MODE1
#error "VOCREL_MODE1 must be defined (0 or 1) wherever the kernel tables are seen"
#endif

namespace vocrel {

struct VecKernels {
  // Gain products over interleaved pairs: both words of pair k become
  // lo32((2 x g[k] + 32767) >> 16), x times the Q15 gain rounded to the
  // word's own units, for k < count.
  void (*gain_pairs)(std::int32_t* pairs, const std::int16_t* g, std::int32_t count);
  // Windowing products into interleaved pairs: pair k becomes
  // (sat32(2 x[k] w[k]), 0), the Q15 window applied to a sample and doubled
  // (Q16 sample units), for k < count. Returns the largest saturating
  // magnitude abs_sat32 among the products (0 for count <= 0).
  std::int32_t (*window_pairs)(const std::int16_t* x, const std::int16_t* w, std::int32_t count,
                               std::int32_t* pairs);
  // Synthesis window and overlap-add over the real words of 2 count pairs:
  // with v(i) = sat16(mul_dbl16(w[i], sat16(shift_sat32(pairs[2i], shift))) >> 16),
  // out[k] = add_sat16(v(k), tail[k]), then tail[k] = v(count + k), for
  // k < count (shift > 0 left and saturating, < 0 arithmetic right).
  void (*window_ola)(const std::int32_t* pairs, const std::int16_t* w, std::int32_t count,
                     std::int32_t shift, std::int16_t* out, std::int16_t* tail);
  // The OR of the magnitudes |x| modulo 2^32 of words[0..count) (-2^31
  // gives 2^31): its leading bit is that of the largest magnitude.
  std::uint32_t (*magnitude_bits)(const std::int32_t* words, std::int32_t count);
  // Every word shifted by s in -32..32: plain wrapping left for s >= 0 (32
  // gives 0), arithmetic right otherwise (-32 gives 0 or -1).
  void (*shift_words)(std::int32_t* words, std::int32_t count, std::int32_t s);
  // Rounded square roots of 64-bit words from a 128-row seed table (rows of
  // a ~ sqrt(xn / 2) and b ~ 2^61 / a): out[i] is the root that two Newton
  // steps refine from the seed, 0 for x[i] <= 0, for i < count.
  void (*roots_i64)(const std::int64_t* x, std::int32_t count, const std::int32_t (*seeds)[2],
                    std::int32_t* out);
  // Table-interpolated square roots in Q16 of 32-bit words (25-entry root
  // table over the mantissa [1, 4)), saturating to 2^31 - 1, plus offset,
  // then shifted right by shift (left and saturating for shift < 0); x <= 0
  // gives 0 without the offset. out may be in.
  void (*roots_q16)(const std::int32_t* in, std::int32_t offset, std::int32_t shift,
                    std::int32_t count, const std::int16_t* table, std::int32_t* out);
  // Powers of interleaved (re, im) pairs after a block shift: with
  // x' = shift_sat32(x, shift) and r = max(abs_sat32(re'), 1), power[k] =
  // r^2 + im'^2 (below 2^63, no saturation), for k < count.
  void (*bin_powers)(const std::int32_t* pairs, std::int32_t shift, std::int32_t count,
                     std::int64_t* power);
  // Quotients num[i] / den[i] in Qq through the reciprocal seeded from the
  // 128-entry table and refined by two Newton steps, lane by lane exactly as
  // the scalar division (one unit short on some exact quotients; a zero
  // divisor runs the same steps), for i < count. out may be num or den.
  void (*divide_q)(const std::int32_t* num, const std::int32_t* den, std::int32_t q,
                   std::int32_t count, const std::int32_t* seeds, std::int32_t* out);
  // 10^x in Q31 of Q26 words x < 0 through the quadratic fit coef = {c2, c1,
  // c0} of 2^u on [-1, 0), with the truncations of the scalar steps, for
  // i < count. out may be x.
  void (*exp10_q31)(const std::int32_t* x, std::int32_t count, const std::int16_t* coef,
                    std::int32_t* out);
  // Adaptive smoothing of Q15 gains toward targets, for i < count, with
  // h(a, b) = sat32(2 a b) >> 16: the weight coef[i] drops to s[i] at once,
  // else becomes sat16(h(s[i], rise) + h(keep, coef[i])); then gain[i]
  // becomes target[i] when first, else
  // sat16(h(coef[i], gain[i]) + h(32767 - coef[i], target[i])).
  void (*follow_gains)(const std::int16_t* s, const std::int16_t* target, std::int32_t count,
                       bool first, std::int16_t rise, std::int16_t keep, std::int16_t* coef,
                       std::int16_t* gain);
  // Weighted sums of three word arrays with 16-bit (Q15) weights:
  // out[i] = lo32((a[i] wa + b[i] wb + c[i] wc) >> 15), exact (the sum is
  // below 2^48 in magnitude), for i < count; the saturating smoothing forms
  // with Q15 weights give these words. out may be any input at the same i.
  void (*mix_words)(const std::int32_t* a, const std::int32_t* b, const std::int32_t* c,
                    std::int16_t wa, std::int16_t wb, std::int16_t wc, std::int32_t count,
                    std::int32_t* out);
  // Minimum and peak followers of a word array, for i < count: mn[i] drops
  // to x[i] at once, else rises by sat64(2 d rise + 2^15) >> 16 of the gap
  // d = sub_sat32(x[i], mn[i]) (the sum saturating), and stays at least
  // floor; pk[i] rises to x[i] at once, else falls by half the saturated gap.
  void (*follow_extremes)(const std::int32_t* x, std::int32_t count, std::int16_t rise,
                          std::int32_t floor, std::int32_t* mn, std::int32_t* pk);
  // Conjugate-symmetric completion of n interleaved (re, im) pairs (n even):
  // pair n - k becomes (re_k, -im_k) (the negation wraps) for 0 < k < n / 2.
  void (*mirror_conjugates)(std::int32_t* pairs, std::int32_t n);
#if VOCREL_MODE1
  // The kernels only the environment-noise path runs (left out without it).
  // Natural logarithm in Q15 of Q15 words through the 32-segment log2
  // table: out[i] = max(0, ln(in[i] / 2^15)) with the truncations of the
  // base-2 core; 0 for words of 1 and below. out may be in.
  void (*ln_q15)(const std::int32_t* in, std::int32_t count, std::int32_t* out);
  // Powers of interleaved (re, im) pairs: power[k] = re^2 + im^2, the 64-bit
  // sum saturated (2^63 only for two -2^31 words), for k < count. Returns the
  // OR of the powers, whose leading bit is that of the largest.
  std::uint64_t (*pair_powers)(const std::int32_t* pairs, std::int32_t count, std::int64_t* power);
  // Non-negative 64-bit powers as 32-bit words after a rounding shift by s in
  // -63..63: out[k] = lo32(add_sat64(p, 2^(s - 1)) >> s) for s > 0, the low
  // word of the wrapping left shift p << -s otherwise.
  void (*power_words)(const std::int64_t* power, std::int32_t count, std::int32_t s,
                      std::int32_t* out);
  // Magnitudes brought to one scale and smoothed in time: m = shift_sat32(
  // mag[k], shift); when smooth, m = add_sat32(prev[k], 2 x ((sub_sat32(m,
  // prev[k]) x w) >> 16)) for the Q15 weight w in 0..32767 (the doubled step
  // cannot overflow); then mag[k] = prev[k] = m, for k < count.
  void (*smooth_magnitudes)(std::int32_t* mag, std::int32_t* prev, std::int32_t count,
                            std::int32_t shift, std::int32_t w, bool smooth);
  // Gains of a real signal's half spectrum, mirrored: both words of pair
  // k <= half become mul_dbl_hi32(x, g[k] x 2^16) (x times the Q15 gain,
  // truncated), then pair 2 half - k becomes pair k conjugated (neg_sat32 of
  // the imaginary word) for 0 < k < half.
  void (*gain_mirror)(std::int32_t* pairs, const std::int16_t* g, std::int32_t half);
  // Words times one factor, doubled and shifted: out[i] =
  // lo32(shift_wrap64(mul_dbl64(x[i], f), s)) for s in -64..64 (a word over
  // a divisor through its Q31 reciprocal f). out may be x.
  void (*scale_words)(const std::int32_t* x, std::int32_t f, std::int32_t s, std::int32_t count,
                      std::int32_t* out);
  // 16-bit words raised to a floor: w[i] = max(w[i], floor), for i < count.
  void (*floor_words16)(std::int16_t* w, std::int32_t count, std::int16_t floor);
#endif
};

// Where the SIMD table always runs (NEON), the portable twins only finish the
// few elements past the last whole vector, so they are built for size there.
#if VOCREL_SIMD && defined(__ARM_NEON)
#define VOCREL_TWIN [[gnu::cold]]
#else
#define VOCREL_TWIN
#endif

VOCREL_TWIN void vec_gain_pairs_c(std::int32_t* pairs, const std::int16_t* g, std::int32_t count);
VOCREL_TWIN std::int32_t vec_window_pairs_c(const std::int16_t* x, const std::int16_t* w,
                                            std::int32_t count, std::int32_t* pairs);
VOCREL_TWIN void vec_window_ola_c(const std::int32_t* pairs, const std::int16_t* w,
                                  std::int32_t count, std::int32_t shift, std::int16_t* out,
                                  std::int16_t* tail);
VOCREL_TWIN std::uint32_t vec_magnitude_bits_c(const std::int32_t* words, std::int32_t count);
VOCREL_TWIN void vec_shift_words_c(std::int32_t* words, std::int32_t count, std::int32_t s);
VOCREL_TWIN void vec_roots_i64_c(const std::int64_t* x, std::int32_t count,
                                 const std::int32_t (*seeds)[2], std::int32_t* out);
VOCREL_TWIN void vec_bin_powers_c(const std::int32_t* pairs, std::int32_t shift, std::int32_t count,
                                  std::int64_t* power);
VOCREL_TWIN void vec_divide_q_c(const std::int32_t* num, const std::int32_t* den, std::int32_t q,
                                std::int32_t count, const std::int32_t* seeds, std::int32_t* out);
VOCREL_TWIN void vec_exp10_q31_c(const std::int32_t* x, std::int32_t count,
                                 const std::int16_t* coef, std::int32_t* out);
VOCREL_TWIN void vec_follow_gains_c(const std::int16_t* s, const std::int16_t* target,
                                    std::int32_t count, bool first, std::int16_t rise,
                                    std::int16_t keep, std::int16_t* coef, std::int16_t* gain);
VOCREL_TWIN void vec_mix_words_c(const std::int32_t* a, const std::int32_t* b,
                                 const std::int32_t* c, std::int16_t wa, std::int16_t wb,
                                 std::int16_t wc, std::int32_t count, std::int32_t* out);
VOCREL_TWIN void vec_follow_extremes_c(const std::int32_t* x, std::int32_t count, std::int16_t rise,
                                       std::int32_t floor, std::int32_t* mn, std::int32_t* pk);
VOCREL_TWIN void vec_mirror_conjugates_c(std::int32_t* pairs, std::int32_t n);
VOCREL_TWIN void vec_roots_q16_c(const std::int32_t* in, std::int32_t offset, std::int32_t shift,
                                 std::int32_t count, const std::int16_t* table, std::int32_t* out);
#if VOCREL_MODE1
VOCREL_TWIN void vec_ln_q15_c(const std::int32_t* in, std::int32_t count, std::int32_t* out);
VOCREL_TWIN std::uint64_t vec_pair_powers_c(const std::int32_t* pairs, std::int32_t count,
                                            std::int64_t* power);
VOCREL_TWIN void vec_power_words_c(const std::int64_t* power, std::int32_t count, std::int32_t s,
                                   std::int32_t* out);
VOCREL_TWIN void vec_smooth_magnitudes_c(std::int32_t* mag, std::int32_t* prev, std::int32_t count,
                                         std::int32_t shift, std::int32_t w, bool smooth);
VOCREL_TWIN void vec_gain_mirror_c(std::int32_t* pairs, const std::int16_t* g, std::int32_t half);
VOCREL_TWIN void vec_scale_words_c(const std::int32_t* x, std::int32_t f, std::int32_t s,
                                   std::int32_t count, std::int32_t* out);
VOCREL_TWIN void vec_floor_words16_c(std::int16_t* w, std::int32_t count, std::int16_t floor);
#endif

// The portable twins; the SIMD tables, null where the build or the target
// lacks that instruction set.
const VecKernels* vec_kernels_c();
const VecKernels* vec_kernels_sse41();
const VecKernels* vec_kernels_avx2();
const VecKernels* vec_kernels_neon();

// The table chosen once for this machine, as for the transform stages: NEON
// on armhf, AVX2 or else SSE4.1 on x86-64 when the processor has it (decided
// when the library is loaded), else (and with VOCREL_SIMD off) the portable
// twins.
const VecKernels& vec_kernels();

}  // namespace vocrel
