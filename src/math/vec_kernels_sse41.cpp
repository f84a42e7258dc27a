// SSE4.1 vector kernels (x86-64, built with -msse4.1 and run only on
// processors that have it).
#include "math/vec_kernels.h"

#if VOCREL_SIMD && defined(__x86_64__)

#include <smmintrin.h>

#include <climits>

#include "math/fixed.h"
#include "math/vec_kernels_sse41.h"

namespace vocrel {
// A named namespace: the AVX2 table reuses these kernels (vec_kernels_sse41.h).
namespace sse41 {
namespace {

// Bits 16..47 of 2 p + 32767 for the two 64-bit lanes, in their low words.
__m128i round_gain(__m128i p) {
  return _mm_srli_epi64(_mm_add_epi64(_mm_add_epi64(p, p), _mm_set1_epi64x(32767)), 16);
}

}  // namespace

// Two pairs per step: the gains of pairs k and k+1 spread to both words.
void gain_pairs(std::int32_t* pairs, const std::int16_t* g, std::int32_t count) {
  std::int32_t k = 0;
  for (; k + 2 <= count; k += 2) {
    auto* p = reinterpret_cast<__m128i*>(pairs + 2 * k);
    const __m128i x = _mm_loadu_si128(p);
    const __m128i gg = _mm_setr_epi32(g[k], g[k], g[k + 1], g[k + 1]);
    const __m128i even = round_gain(_mm_mul_epi32(x, gg));
    const __m128i odd =
        round_gain(_mm_mul_epi32(_mm_shuffle_epi32(x, 0xF5), _mm_shuffle_epi32(gg, 0xF5)));
    _mm_storeu_si128(p, _mm_blend_epi16(even, _mm_slli_epi64(odd, 32), 0xCC));
  }
  if (k < count) vec_gain_pairs_c(pairs + 2 * k, g + k, count - k);
}

// Four samples per step. The 32-bit product x w is exact (at most 2^30);
// doubling it wraps only for 2^30 (both -32768), where the all-ones mask
// turns the wrapped -2^31 into 2^31 - 1, the saturated value. The peak is
// kept as unsigned magnitudes, where a wrapped abs(-2^31) counts as 2^31.
std::int32_t window_pairs(const std::int16_t* x, const std::int16_t* w, std::int32_t count,
                          std::int32_t* pairs) {
  const __m128i limit = _mm_set1_epi32(1 << 30);
  __m128i peak = _mm_setzero_si128();
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const __m128i xv = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + k)));
    const __m128i wv = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + k)));
    const __m128i p = _mm_mullo_epi32(xv, wv);
    const __m128i v = _mm_xor_si128(_mm_add_epi32(p, p), _mm_cmpeq_epi32(p, limit));
    peak = _mm_max_epu32(peak, _mm_abs_epi32(v));
    auto* out = reinterpret_cast<__m128i*>(pairs + 2 * k);
    _mm_storeu_si128(out, _mm_unpacklo_epi32(v, _mm_setzero_si128()));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(v, _mm_setzero_si128()));
  }
  alignas(16) std::uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), peak);
  std::uint32_t m = vec_window_pairs_c(x + k, w + k, count - k, pairs + 2 * k);
  for (const std::uint32_t l : lanes) m = l > m ? l : m;
  return m > std::uint32_t{kInt32Max} ? kInt32Max : static_cast<std::int32_t>(m);
}

namespace {

// Real words of four pairs, shifted like shift_sat32: right shifts are the
// arithmetic shift (counts past 31 fill with the sign); left shifts clamp the
// words beyond the limits that the shift keeps exact.
__m128i shifted(const std::int32_t* pairs, std::int32_t shift) {
  const __m128 lo = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs)));
  const __m128 hi = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 4)));
  const __m128i x = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
  if (shift <= 0) return _mm_sra_epi32(x, _mm_cvtsi32_si128(shift < -32 ? 32 : -shift));
  const int s = shift > 31 ? 31 : shift;
  const __m128i hi_lim = _mm_set1_epi32(kInt32Max >> s);
  const __m128i lo_lim = _mm_set1_epi32(kInt32Min >> s);
  __m128i y = _mm_sll_epi32(x, _mm_cvtsi32_si128(s));
  y = _mm_blendv_epi8(y, _mm_set1_epi32(kInt32Max), _mm_cmpgt_epi32(x, hi_lim));
  return _mm_blendv_epi8(y, _mm_set1_epi32(kInt32Min), _mm_cmplt_epi32(x, lo_lim));
}

// sat16 of the shifted words (a saturating pack), the doubled product with
// the Q15 window (clamped like mul_dbl16), its high half.
__m128i windowed(const std::int32_t* pairs, const std::int16_t* w, std::int32_t shift) {
  const __m128i v16 = _mm_packs_epi32(shifted(pairs, shift), _mm_setzero_si128());
  const __m128i v = _mm_cvtepi16_epi32(v16);
  const __m128i wv = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w)));
  const __m128i p = _mm_mullo_epi32(v, wv);
  const __m128i d = _mm_xor_si128(_mm_add_epi32(p, p), _mm_cmpeq_epi32(p, _mm_set1_epi32(1 << 30)));
  return _mm_srai_epi32(d, 16);
}

}  // namespace

void window_ola(const std::int32_t* pairs, const std::int16_t* w, std::int32_t count,
                std::int32_t shift, std::int16_t* out, std::int16_t* tail) {
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const __m128i t = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tail + k));
    const __m128i a = _mm_packs_epi32(windowed(pairs + 2 * k, w + k, shift), _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_adds_epi16(a, t));
    const __m128i b = windowed(pairs + 2 * (count + k), w + count + k, shift);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(tail + k), _mm_packs_epi32(b, _mm_setzero_si128()));
  }
  for (; k < count; ++k) {
    const std::int32_t two[4] = {pairs[2 * k], 0, pairs[2 * (count + k)], 0};
    const std::int16_t ww[2] = {w[k], w[count + k]};
    vec_window_ola_c(two, ww, 1, shift, out + k, tail + k);
  }
}

// pabsd wraps -2^31 to itself, which is 2^31 modulo 2^32, as the twin has it.
std::uint32_t magnitude_bits(const std::int32_t* words, std::int32_t count) {
  __m128i bits = _mm_setzero_si128();
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    bits = _mm_or_si128(
        bits, _mm_abs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i))));
  }
  bits = _mm_or_si128(bits, _mm_shuffle_epi32(bits, 0x4E));
  bits = _mm_or_si128(bits, _mm_shuffle_epi32(bits, 0xB1));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(bits)) |
         vec_magnitude_bits_c(words + i, count - i);
}

// Shift counts past 31 give 0 (left) or the sign (right), as the twin has it.
void shift_words(std::int32_t* words, std::int32_t count, std::int32_t s) {
  const __m128i n = _mm_cvtsi32_si128(s >= 0 ? s : -s);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    auto* p = reinterpret_cast<__m128i*>(words + i);
    const __m128i x = _mm_loadu_si128(p);
    _mm_storeu_si128(p, s >= 0 ? _mm_sll_epi32(x, n) : _mm_sra_epi32(x, n));
  }
  vec_shift_words_c(words + i, count - i, s);
}

// Two bins per step, as the AVX2 form: the shifted words of two pairs, the
// real words made magnitudes at least 1, the squares in 64-bit lanes.
void bin_powers(const std::int32_t* pairs, std::int32_t shift, std::int32_t count,
                std::int64_t* power) {
  const __m128i max32 = _mm_set1_epi32(kInt32Max);
  const int left = shift > 31 ? 31 : (shift < 0 ? 0 : shift);
  const __m128i right = _mm_cvtsi32_si128(shift >= 0 ? 0 : (shift < -32 ? 32 : -shift));
  const __m128i hi_lim = _mm_set1_epi32(kInt32Max >> left);
  const __m128i lo_lim = _mm_set1_epi32(kInt32Min >> left);
  std::int32_t k = 0;
  for (; k + 2 <= count; k += 2) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 2 * k));
    __m128i v;
    if (shift >= 0) {  // shl_sat32: clamp the words the shift cannot keep
      v = _mm_sll_epi32(x, _mm_cvtsi32_si128(left));
      v = _mm_blendv_epi8(v, max32, _mm_cmpgt_epi32(x, hi_lim));
      v = _mm_blendv_epi8(v, _mm_set1_epi32(kInt32Min), _mm_cmplt_epi32(x, lo_lim));
    } else {
      v = _mm_sra_epi32(x, right);
    }
    const __m128i r = _mm_max_epi32(_mm_min_epu32(_mm_abs_epi32(v), max32), _mm_set1_epi32(1));
    const __m128i re = _mm_blend_epi16(v, r, 0x33);
    const __m128i im = _mm_srli_epi64(v, 32);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(power + k),
                     _mm_add_epi64(_mm_mul_epi32(re, re), _mm_mul_epi32(im, im)));
  }
  vec_bin_powers_c(pairs + 2 * k, shift, count - k, power + k);
}

#if VOCREL_MODE1
// Two pairs per step: the squares in 64-bit lanes, their sum below 2^63
// except for two -2^31 words, whose 2^63 (the only sum with the top bit set)
// becomes 2^63 - 1 by subtracting that bit.
std::uint64_t pair_powers(const std::int32_t* pairs, std::int32_t count, std::int64_t* power) {
  __m128i bits = _mm_setzero_si128();
  std::int32_t k = 0;
  for (; k + 2 <= count; k += 2) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 2 * k));
    const __m128i im = _mm_srli_epi64(x, 32);
    const __m128i sum = _mm_add_epi64(_mm_mul_epi32(x, x), _mm_mul_epi32(im, im));
    const __m128i p = _mm_sub_epi64(sum, _mm_srli_epi64(sum, 63));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(power + k), p);
    bits = _mm_or_si128(bits, p);
  }
  bits = _mm_or_si128(bits, _mm_unpackhi_epi64(bits, bits));
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(bits)) |
         vec_pair_powers_c(pairs + 2 * k, count - k, power + k);
}

// Two powers per step. For non-negative powers the sum with the half unit
// stays below 2^64 and saturates exactly when its top bit is set, and the
// logical right shift is the arithmetic one.
void power_words(const std::int64_t* power, std::int32_t count, std::int32_t s, std::int32_t* out) {
  const __m128i round = _mm_set1_epi64x(s > 0 ? std::int64_t{1} << (s - 1) : 0);
  const __m128i n = _mm_cvtsi32_si128(s > 0 ? s : -s);
  const __m128i top = _mm_set1_epi64x(static_cast<std::int64_t>(0x8000000000000000u));
  std::int32_t k = 0;
  for (; k + 2 <= count; k += 2) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(power + k));
    __m128i y;
    if (s > 0) {
      const __m128i sum = _mm_add_epi64(p, round);
      const __m128i over = _mm_cmpeq_epi64(_mm_and_si128(sum, top), top);
      y = _mm_srl_epi64(_mm_blendv_epi8(sum, _mm_set1_epi64x(INT64_MAX), over), n);
    } else {
      y = _mm_sll_epi64(p, n);
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_shuffle_epi32(y, 0x08));
  }
  vec_power_words_c(power + k, count - k, s, out + k);
}

namespace {

// Lanes of b where the sign bit of the mask lane is set, else of a.
__m128i select_by_sign(__m128i a, __m128i b, __m128i mask) {
  return _mm_castps_si128(
      _mm_blendv_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _mm_castsi128_ps(mask)));
}

// add_sat32 / sub_sat32 lane by lane: the wrapped result, replaced where it
// overflowed (operands of one sign, result of the other) by the limit on the
// side of a.
__m128i clamp_toward(__m128i a) {
  return _mm_xor_si128(_mm_srai_epi32(a, 31), _mm_set1_epi32(INT32_MAX));
}
__m128i add_sat_epi32(__m128i a, __m128i b) {
  const __m128i r = _mm_add_epi32(a, b);
  return select_by_sign(r, clamp_toward(a),
                        _mm_andnot_si128(_mm_xor_si128(a, b), _mm_xor_si128(a, r)));
}
__m128i sub_sat_epi32(__m128i a, __m128i b) {
  const __m128i r = _mm_sub_epi32(a, b);
  return select_by_sign(r, clamp_toward(a),
                        _mm_and_si128(_mm_xor_si128(a, b), _mm_xor_si128(a, r)));
}

// shift_sat32 lane by lane for one count: right shifts arithmetic (counts
// past 31 fill with the sign), left shifts clamping the words beyond the
// limits that the shift keeps exact.
__m128i shift_sat_epi32(__m128i x, std::int32_t shift) {
  if (shift <= 0) return _mm_sra_epi32(x, _mm_cvtsi32_si128(shift < -32 ? 32 : -shift));
  const int s = shift > 31 ? 31 : shift;
  __m128i y = _mm_sll_epi32(x, _mm_cvtsi32_si128(s));
  y = _mm_blendv_epi8(y, _mm_set1_epi32(INT32_MAX),
                      _mm_cmpgt_epi32(x, _mm_set1_epi32(INT32_MAX >> s)));
  return _mm_blendv_epi8(y, _mm_set1_epi32(INT32_MIN),
                         _mm_cmplt_epi32(x, _mm_set1_epi32(INT32_MIN >> s)));
}

}  // namespace

// Four words per step. (d w) >> 16 lies within 2^30 in magnitude, so bits
// 16..47 of each 64-bit product are the shifted value.
void smooth_magnitudes(std::int32_t* mag, std::int32_t* prev, std::int32_t count,
                       std::int32_t shift, std::int32_t w, bool smooth) {
  const __m128i wv = _mm_set1_epi32(w);
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    __m128i m = shift_sat_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mag + k)), shift);
    if (smooth) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + k));
      const __m128i d = sub_sat_epi32(m, p);
      const __m128i even = _mm_srli_epi64(_mm_mul_epi32(d, wv), 16);
      const __m128i odd =
          _mm_slli_epi64(_mm_srli_epi64(_mm_mul_epi32(_mm_srli_epi64(d, 32), wv), 16), 32);
      const __m128i step = _mm_blend_epi16(even, odd, 0xCC);
      m = add_sat_epi32(p, _mm_add_epi32(step, step));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mag + k), m);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(prev + k), m);
  }
  vec_smooth_magnitudes_c(mag + k, prev + k, count - k, shift, w, smooth);
}

namespace {

// Two pairs per step: (x g) >> 15 from bits 15..46 of the 64-bit products.
// The true value is never -2^31, so a -2^31 lane is the one product that
// clamps (-2^31 times -32768) and turns into 2^31 - 1; neg_sat32 likewise.
__m128i mul_gain_q15(__m128i x, __m128i g) {
  const __m128i even = _mm_srli_epi64(_mm_mul_epi32(x, g), 15);
  const __m128i odd =
      _mm_slli_epi64(_mm_srli_epi64(_mm_mul_epi32(_mm_srli_epi64(x, 32), g), 15), 32);
  const __m128i y = _mm_blend_epi16(even, odd, 0xCC);
  return _mm_xor_si128(y, _mm_cmpeq_epi32(y, _mm_set1_epi32(INT32_MIN)));
}

}  // namespace

void gain_mirror(std::int32_t* pairs, const std::int16_t* g, std::int32_t half) {
  std::int32_t k = 0;
  for (; k + 2 <= half + 1; k += 2) {
    auto* p = reinterpret_cast<__m128i*>(pairs + 2 * k);
    const __m128i gg = _mm_setr_epi32(g[k], g[k], g[k + 1], g[k + 1]);
    _mm_storeu_si128(p, mul_gain_q15(_mm_loadu_si128(p), gg));
  }
  for (; k <= half; ++k) {
    const std::int32_t g31 = std::int32_t{g[k]} * 65536;
    pairs[2 * k] = mul_dbl_hi32(pairs[2 * k], g31);
    pairs[2 * k + 1] = mul_dbl_hi32(pairs[2 * k + 1], g31);
  }
  const __m128i imag = _mm_setr_epi32(0, -1, 0, -1);
  std::int32_t j = 1;
  for (; j + 2 <= half; j += 2) {  // pairs j, j + 1 to 2 half - j, 2 half - j - 1
    const __m128i x =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 2 * j)), 0x4E);
    const __m128i neg = _mm_sub_epi32(_mm_setzero_si128(), x);
    const __m128i negsat = _mm_xor_si128(neg, _mm_cmpeq_epi32(x, _mm_set1_epi32(INT32_MIN)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 2 * (2 * half - j - 1)),
                     _mm_blendv_epi8(x, negsat, imag));
  }
  for (; j < half; ++j) {
    pairs[2 * (2 * half - j)] = pairs[2 * j];
    pairs[2 * (2 * half - j) + 1] = neg_sat32(pairs[2 * j + 1]);
  }
}

namespace {

// Low words of the doubled products (2 x f for two -2^31 words clamps to
// 2^63 - 1) shifted by s, from the two even lanes of x: left shifts past 63
// give 0; right shifts up to 32 take bits r..r+31 of the 64-bit lane,
// longer ones shift its high word arithmetically (past 31 to the sign).
__m128i scaled_even(__m128i x, __m128i f, std::int32_t s) {
  const __m128i p = _mm_mul_epi32(x, f);
  const __m128i clamp = _mm_cmpeq_epi64(p, _mm_set1_epi64x(std::int64_t{1} << 62));
  const __m128i d = _mm_blendv_epi8(_mm_add_epi64(p, p), _mm_set1_epi64x(INT64_MAX), clamp);
  if (s >= 0) return _mm_sll_epi64(d, _mm_cvtsi32_si128(s));
  if (s >= -32) return _mm_srl_epi64(d, _mm_cvtsi32_si128(-s));
  return _mm_sra_epi32(_mm_srli_epi64(d, 32), _mm_cvtsi32_si128(-s - 32));
}

}  // namespace

// Four words per step.
void scale_words(const std::int32_t* x, std::int32_t f, std::int32_t s, std::int32_t count,
                 std::int32_t* out) {
  const __m128i ff = _mm_set1_epi32(f);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    const __m128i even = scaled_even(v, ff, s);
    const __m128i odd = _mm_slli_epi64(scaled_even(_mm_srli_epi64(v, 32), ff, s), 32);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_blend_epi16(even, odd, 0xCC));
  }
  vec_scale_words_c(x + i, f, s, count - i, out + i);
}

void floor_words16(std::int16_t* w, std::int32_t count, std::int16_t floor) {
  const __m128i f = _mm_set1_epi16(floor);
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    auto* p = reinterpret_cast<__m128i*>(w + i);
    _mm_storeu_si128(p, _mm_max_epi16(_mm_loadu_si128(p), f));
  }
  vec_floor_words16_c(w + i, count - i, floor);
}
#endif

// Adaptive gain smoothing four lanes at a time, as the AVX2 form: every
// product fits 32 bits, sat32(2 a b) >> 16 is (a b) >> 15 clamped to 16
// bits, and the sums clamp again.
void follow_gains(const std::int16_t* s, const std::int16_t* target, std::int32_t count, bool first,
                  std::int16_t rise, std::int16_t keep, std::int16_t* coef, std::int16_t* gain) {
  const __m128i hi16 = _mm_set1_epi32(32767);
  auto clamp16 = [hi16](__m128i x) {
    return _mm_max_epi32(_mm_min_epi32(x, hi16), _mm_set1_epi32(-32768));
  };
  auto h = [clamp16](__m128i a, __m128i b) {
    return clamp16(_mm_srai_epi32(_mm_mullo_epi32(a, b), 15));
  };
  auto load = [](const std::int16_t* p) {
    return _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  };
  auto store = [](std::int16_t* p, __m128i v) {  // the values fit 16 bits
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(v, v));
  };
  const __m128i rise32 = _mm_set1_epi32(rise);
  const __m128i keep32 = _mm_set1_epi32(keep);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i sv = load(s + i);
    const __m128i c0 = load(coef + i);
    const __m128i up = clamp16(_mm_add_epi32(h(sv, rise32), h(keep32, c0)));
    const __m128i c = _mm_blendv_epi8(up, sv, _mm_cmpgt_epi32(c0, sv));
    store(coef + i, c);
    const __m128i t = load(target + i);
    if (first) {
      store(gain + i, t);
    } else {
      store(gain + i, clamp16(_mm_add_epi32(h(c, load(gain + i)), h(_mm_sub_epi32(hi16, c), t))));
    }
  }
  vec_follow_gains_c(s + i, target + i, count - i, first, rise, keep, coef + i, gain + i);
}

// Weighted sums four lanes at a time, as the AVX2 form.
void mix_words(const std::int32_t* a, const std::int32_t* b, const std::int32_t* c, std::int16_t wa,
               std::int16_t wb, std::int16_t wc, std::int32_t count, std::int32_t* out) {
  const __m128i va = _mm_set1_epi32(wa), vb = _mm_set1_epi32(wb), vc = _mm_set1_epi32(wc);
  auto sum = [va, vb, vc](__m128i p, __m128i q, __m128i r) {
    return _mm_add_epi64(_mm_add_epi64(_mm_mul_epi32(p, va), _mm_mul_epi32(q, vb)),
                         _mm_mul_epi32(r, vc));
  };
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
    const __m128i even = _mm_srli_epi64(sum(x, y, z), 15);
    const __m128i odd = _mm_srli_epi64(
        sum(_mm_srli_epi64(x, 32), _mm_srli_epi64(y, 32), _mm_srli_epi64(z, 32)), 15);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_blend_epi16(even, _mm_slli_epi64(odd, 32), 0xCC));
  }
  vec_mix_words_c(a + i, b + i, c + i, wa, wb, wc, count - i, out + i);
}

// Two pairs per step: the pairs exchanged, the imaginary words negated
// (psignd wraps).
void mirror_conjugates(std::int32_t* pairs, std::int32_t n) {
  const __m128i signs = _mm_setr_epi32(1, -1, 1, -1);
  std::int32_t k = 1;
  for (; k + 2 <= n / 2; k += 2) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 2 * k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 2 * (n - k - 1)),
                     _mm_sign_epi32(_mm_shuffle_epi32(v, 0x4E), signs));
  }
  // Pairs k..n/2-1 are the twin's completion of the n - 2 (k - 1) pairs
  // from pair k - 1.
  vec_mirror_conjugates_c(pairs + 2 * (k - 1), n - 2 * (k - 1));
}

}  // namespace sse41

namespace {

// The roots, the logarithm, the division and 10^x keep the portable twins:
// their steps shift every lane by its own count or look up a table per lane,
// which SSE4.1 cannot do in lanes. The extreme followers keep theirs as
// well: only processors without AVX2 run this table.
constexpr VecKernels kTable = {
    &sse41::gain_pairs,     &sse41::window_pairs,
    &sse41::window_ola,     &sse41::magnitude_bits,
    &sse41::shift_words,    &vec_roots_i64_c,
    &vec_roots_q16_c,       &sse41::bin_powers,
    &vec_divide_q_c,        &vec_exp10_q31_c,
    &sse41::follow_gains,   &sse41::mix_words,
    &vec_follow_extremes_c, &sse41::mirror_conjugates,
#if VOCREL_MODE1
    &vec_ln_q15_c,          &sse41::pair_powers,
    &sse41::power_words,    &sse41::smooth_magnitudes,
    &sse41::gain_mirror,    &sse41::scale_words,
    &sse41::floor_words16,
#endif
};

}  // namespace

const VecKernels* vec_kernels_sse41() { return &kTable; }

}  // namespace vocrel

#else

const vocrel::VecKernels* vocrel::vec_kernels_sse41() { return nullptr; }

#endif
