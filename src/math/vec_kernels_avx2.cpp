// AVX2 vector kernels (x86-64, built with -mavx2 and run only on processors
// that have it); the SSE4.1 forms finish the words past the last whole
// vector.
#include "math/vec_kernels.h"

#if VOCREL_SIMD && defined(__x86_64__)

#include <immintrin.h>

#include "math/constants.h"
#include "math/fixed.h"
#include "math/vec_kernels_sse41.h"
#include "math/vocrel_math.h"

namespace vocrel {

namespace {

// In the root lanes below each 64-bit lane carries its 32-bit values in its
// low word; the high words are don't-care.

// The wrapped result s where `over` is clear, else the clamp toward a's sign.
__m256i clamp_where(__m256i s, __m256i a, __m256i over) {
  const __m256i clamp = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(kInt32Max));
  return _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(s), _mm256_castsi256_ps(clamp),
                                              _mm256_castsi256_ps(over)));
}

// add_sat32 on every 32-bit word: where both addends agree in sign and the
// wrapped sum does not, the sum clamps toward the addends' sign.
__m256i add_sat32_lanes(__m256i a, __m256i b) {
  const __m256i s = _mm256_add_epi32(a, b);
  return clamp_where(s, a, _mm256_andnot_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(a, s)));
}

// sub_sat32 on every 32-bit word: where the operands differ in sign and the
// wrapped difference differs from the minuend, it clamps toward the minuend.
__m256i sub_sat32_lanes(__m256i a, __m256i b) {
  const __m256i s = _mm256_sub_epi32(a, b);
  return clamp_where(s, a, _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(a, s)));
}

// hi32(2 a b) of the low words: the doubled product is below 2^63 in
// magnitude for the operands of the Newton steps; a logical shift leaves
// the same bits 32..63 in the low word as an arithmetic one.
__m256i hi_doubled(__m256i a, __m256i b) {
  const __m256i p = _mm256_mul_epi32(a, b);
  return _mm256_srli_epi64(_mm256_add_epi64(p, p), 32);
}

// The index of the leading bit of each positive lane (0 for 0 and 1): the
// nonzero half is turned into a double exactly (2^52 + u has u in its
// mantissa) and its exponent read back.
__m256i leading_bit(__m256i x) {
  const __m256i high = _mm256_srli_epi64(x, 32);
  const __m256i high_zero = _mm256_cmpeq_epi64(high, _mm256_setzero_si256());
  const __m256i half =
      _mm256_blendv_epi8(high, _mm256_and_si256(x, _mm256_set1_epi64x(0xFFFFFFFF)), high_zero);
  const __m256i magic = _mm256_set1_epi64x(0x4330000000000000);  // 2^52 as a double
  const __m256d d =
      _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(half, magic)), _mm256_castsi256_pd(magic));
  const __m256i exponent =
      _mm256_sub_epi64(_mm256_srli_epi64(_mm256_castpd_si256(d), 52), _mm256_set1_epi64x(1023));
  const __m256i bit =
      _mm256_add_epi64(exponent, _mm256_andnot_si256(high_zero, _mm256_set1_epi64x(32)));
  // 0 gives -1023: clamp to 0 (the word-wise max also clears its high word).
  return _mm256_max_epi32(bit, _mm256_setzero_si256());
}

void roots_i64(const std::int64_t* x, std::int32_t count, const std::int32_t (*seeds)[2],
               std::int32_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i sqrt_half = _mm256_set1_epi64x(math::kSqrtHalfQ31);
  const __m256i low_words = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
    const __m256i positive = _mm256_cmpgt_epi64(v, zero);
    const __m256i xp = _mm256_and_si256(v, positive);
    // Even normalising shift e, the seed row k of xn = xp << e in [2^60, 2^63).
    const __m256i e = _mm256_andnot_si256(
        _mm256_set1_epi64x(1), _mm256_sub_epi64(_mm256_set1_epi64x(62), leading_bit(xp)));
    const __m256i xn = _mm256_sllv_epi64(xp, e);
    // One 64-bit gather fetches a row: a in the low word, b in the high one.
    const __m256i ab = _mm256_i64gather_epi64(reinterpret_cast<const long long*>(seeds),
                                              _mm256_srli_epi64(xn, 56), 8);
    const __m256i a = ab;
    const __m256i b = _mm256_srli_epi64(ab, 32);
    const __m256i aa = _mm256_mul_epi32(a, a);
    const __m256i r1 = _mm256_sub_epi64(xn, _mm256_add_epi64(aa, aa));
    const __m256i y1 = add_sat32_lanes(a, hi_doubled(b, _mm256_srli_epi64(r1, 32)));
    const __m256i yy = _mm256_mul_epi32(y1, y1);
    const __m256i r2 = _mm256_sub_epi64(xn, _mm256_add_epi64(yy, yy));
    const __m256i y2 = add_sat32_lanes(y1, hi_doubled(b, _mm256_srli_epi64(r2, 32)));
    // h = (e - 32) / 2; the half unit 2^(h + 15) (0 for h = -16: a shift
    // count past 31 gives 0), then the arithmetic shift by h + 16.
    const __m256i h = _mm256_sub_epi32(_mm256_srli_epi32(e, 1), _mm256_set1_epi32(16));
    const __m256i half_unit =
        _mm256_sllv_epi32(_mm256_set1_epi32(1), _mm256_add_epi32(h, _mm256_set1_epi32(15)));
    const __m256i z = _mm256_srav_epi32(add_sat32_lanes(y2, half_unit),
                                        _mm256_add_epi32(h, _mm256_set1_epi32(16)));
    // lo32((2 z c + 2^30) >> 31): bits 31..62, the same for a logical shift.
    const __m256i p = _mm256_mul_epi32(z, sqrt_half);
    const __m256i scaled = _mm256_add_epi64(_mm256_add_epi64(p, p), _mm256_set1_epi64x(1 << 30));
    const __m256i root = _mm256_and_si256(_mm256_srli_epi64(scaled, 31), positive);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(root, low_words)));
  }
  vec_roots_i64_c(x + i, count - i, seeds, out + i);
}

// Table roots eight lanes at a time; the words are clamped to 1 first, so
// every lane indexes inside the table, and masked to 0 at the end.
void roots_q16(const std::int32_t* in, std::int32_t offset, std::int32_t shift, std::int32_t count,
               const std::int16_t* table, std::int32_t* out) {
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i max32 = _mm256_set1_epi32(kInt32Max);
  const __m256i low16 = _mm256_set1_epi32(65535);
  const __m256i off = _mm256_set1_epi32(offset);
  // shr32 for shift >= 0 (counts past 31 fill with the sign), else
  // shl_sat32 by -shift (counts past 31 clamp as 31 does).
  const int left = shift >= 0 ? 0 : (shift < -31 ? 31 : -shift);
  const __m128i right = _mm_cvtsi32_si128(shift > 32 ? 32 : (shift < 0 ? 0 : shift));
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i positive = _mm256_cmpgt_epi32(x, _mm256_setzero_si256());
    const __m256i xq = _mm256_max_epi32(x, one);
    // norm32: x & ~(x >> 1) keeps the leading bit and has no two adjacent
    // ones, so its float conversion cannot round up to the next power.
    const __m256i lead = _mm256_andnot_si256(_mm256_srli_epi32(xq, 1), xq);
    const __m256i msb =
        _mm256_sub_epi32(_mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(lead)), 23),
                         _mm256_set1_epi32(127));
    const __m256i c = _mm256_sub_epi32(_mm256_set1_epi32(30), msb);
    const __m256i xn = _mm256_sllv_epi32(xq, c);
    const __m256i g =
        _mm256_srlv_epi32(xn, _mm256_sub_epi32(_mm256_set1_epi32(11), _mm256_and_si256(c, one)));
    const __m256i f = _mm256_and_si256(g, low16);
    // Entries h - 8 and h - 7 as one 32-bit word read at entry h - 8.
    const __m256i pair =
        _mm256_i32gather_epi32(reinterpret_cast<const int*>(table),
                               _mm256_sub_epi32(_mm256_srli_epi32(g, 16), _mm256_set1_epi32(8)), 2);
    const __m256i s0 = _mm256_and_si256(pair, low16);
    const __m256i s1 = _mm256_srli_epi32(pair, 16);
    // The products are below 2^32 as unsigned words: clamp them and their
    // sum to 2^31 - 1 as the saturating steps do (both terms are >= 0).
    const __m256i t = _mm256_min_epu32(
        _mm256_mullo_epi32(s0, _mm256_sub_epi32(_mm256_set1_epi32(65536), f)), max32);
    const __m256i u = _mm256_min_epu32(_mm256_mullo_epi32(s1, f), max32);
    const __m256i v = _mm256_min_epu32(_mm256_add_epi32(t, u), max32);
    // Exponent e = 1 - (c + 1) / 2: a saturating doubling for c = 0, else a
    // right shift by (c + 1) / 2 - 1.
    const __m256i doubled = _mm256_blendv_epi8(
        _mm256_slli_epi32(v, 1), max32, _mm256_cmpgt_epi32(v, _mm256_set1_epi32((1 << 30) - 1)));
    const __m256i halved =
        _mm256_srlv_epi32(v, _mm256_sub_epi32(_mm256_srli_epi32(_mm256_add_epi32(c, one), 1), one));
    const __m256i scaled =
        _mm256_blendv_epi8(halved, doubled, _mm256_cmpeq_epi32(c, _mm256_setzero_si256()));
    __m256i r = _mm256_and_si256(add_sat32_lanes(scaled, off), positive);
    if (left == 0) {
      r = _mm256_sra_epi32(r, right);
    } else {
      const __m256i hi_lim = _mm256_set1_epi32(kInt32Max >> left);
      const __m256i lo_lim = _mm256_set1_epi32(kInt32Min >> left);
      __m256i y = _mm256_sll_epi32(r, _mm_cvtsi32_si128(left));
      y = _mm256_blendv_epi8(y, max32, _mm256_cmpgt_epi32(r, hi_lim));
      r = _mm256_blendv_epi8(y, _mm256_set1_epi32(kInt32Min), _mm256_cmpgt_epi32(lo_lim, r));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), r);
  }
  vec_roots_q16_c(in + i, offset, shift, count - i, table, out + i);
}

#if VOCREL_MODE1
// ln in Q15 eight lanes at a time; the words are clamped to 1 first, so
// every lane indexes inside the table, and masked to 0 at the end.
void ln_q15(const std::int32_t* in, std::int32_t count, std::int32_t* out) {
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i ln2 = _mm256_set1_epi32(math::kLn2Q15InQ31);
  const __m256i unit = _mm256_set1_epi32(math::kLn2x15Q15);
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i positive = _mm256_cmpgt_epi32(x, _mm256_setzero_si256());
    const __m256i xq = _mm256_max_epi32(x, one);
    // The leading bit as for the table roots: exact through the float.
    const __m256i lead = _mm256_andnot_si256(_mm256_srli_epi32(xq, 1), xq);
    const __m256i msb =
        _mm256_sub_epi32(_mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(lead)), 23),
                         _mm256_set1_epi32(127));
    const __m256i xn = _mm256_sllv_epi32(xq, _mm256_sub_epi32(_mm256_set1_epi32(30), msb));
    const __m256i seg = _mm256_sub_epi32(_mm256_srli_epi32(xn, 25), _mm256_set1_epi32(32));
    const __m256i f = _mm256_and_si256(_mm256_srli_epi32(xn, 10), _mm256_set1_epi32(32767));
    const __m256i packed = _mm256_i32gather_epi32(vocrel_rnr_Log2Tab.data(), seg, 4);
    // The left value shifted up 16 is the packed word's high half; the
    // doubled slope product is below 2^31 in magnitude.
    const __m256i base = _mm256_and_si256(packed, _mm256_set1_epi32(-65536));
    const __m256i slope = _mm256_srai_epi32(_mm256_slli_epi32(packed, 16), 16);
    const __m256i p = _mm256_mullo_epi32(slope, f);
    const __m256i frac = _mm256_srai_epi32(sub_sat32_lanes(base, _mm256_add_epi32(p, p)), 16);
    const __m256i l = _mm256_add_epi32(_mm256_slli_epi32(msb, 15), frac);
    // mul_dbl_hi32 by a positive constant: never clamps.
    const __m256i even = _mm256_mul_epi32(l, ln2);
    const __m256i odd = _mm256_mul_epi32(_mm256_srli_epi64(l, 32), ln2);
    const __m256i m = _mm256_blend_epi32(_mm256_srli_epi64(_mm256_add_epi64(even, even), 32),
                                         _mm256_add_epi64(odd, odd), 0xAA);
    const __m256i keep = _mm256_and_si256(_mm256_cmpgt_epi32(m, _mm256_setzero_si256()), positive);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_and_si256(sub_sat32_lanes(m, unit), keep));
  }
  vec_ln_q15_c(in + i, count - i, out + i);
}
#endif

// Four bins per step: the shifted words of four pairs in one vector, the
// real words made magnitudes (abs wraps -2^31 to itself, which the unsigned
// minimum clamps to 2^31 - 1) at least 1, then the squares of the even and
// the odd words in 64-bit lanes, which are the bins in order.
void bin_powers(const std::int32_t* pairs, std::int32_t shift, std::int32_t count,
                std::int64_t* power) {
  const __m256i max32 = _mm256_set1_epi32(kInt32Max);
  const __m256i min32 = _mm256_set1_epi32(kInt32Min);
  const int left = shift > 31 ? 31 : (shift < 0 ? 0 : shift);
  const __m128i right = _mm_cvtsi32_si128(shift >= 0 ? 0 : (shift < -32 ? 32 : -shift));
  const __m256i hi_lim = _mm256_set1_epi32(kInt32Max >> left);
  const __m256i lo_lim = _mm256_set1_epi32(kInt32Min >> left);
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + 2 * k));
    __m256i v;
    if (shift >= 0) {  // shl_sat32: clamp the words the shift cannot keep
      v = _mm256_sll_epi32(x, _mm_cvtsi32_si128(left));
      v = _mm256_blendv_epi8(v, max32, _mm256_cmpgt_epi32(x, hi_lim));
      v = _mm256_blendv_epi8(v, min32, _mm256_cmpgt_epi32(lo_lim, x));
    } else {
      v = _mm256_sra_epi32(x, right);
    }
    const __m256i r =
        _mm256_max_epi32(_mm256_min_epu32(_mm256_abs_epi32(v), max32), _mm256_set1_epi32(1));
    const __m256i re = _mm256_blend_epi32(v, r, 0x55);
    const __m256i im = _mm256_srli_epi64(v, 32);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(power + k),
                        _mm256_add_epi64(_mm256_mul_epi32(re, re), _mm256_mul_epi32(im, im)));
  }
  vec_bin_powers_c(pairs + 2 * k, shift, count - k, power + k);
}

// Bits S..S+31 of the 64-bit products a b of every word (0 < S <= 32): the
// even and the odd words multiply apart; a logical shift leaves the same
// bits as an arithmetic one.
template <int S>
__m256i product_bits(__m256i a, __m256i b) {
  const __m256i even = _mm256_srli_epi64(_mm256_mul_epi32(a, b), S);
  const __m256i odd = _mm256_mul_epi32(_mm256_srli_epi64(a, 32), _mm256_srli_epi64(b, 32));
  return _mm256_blend_epi32(even, _mm256_slli_epi64(_mm256_srli_epi64(odd, S), 32), 0xAA);
}

// norm32 per word: 30 minus the leading bit of x XOR its sign (exact
// through the float as for the table roots), 0 for 0 and 31 for -1.
__m256i norm_words(__m256i x) {
  const __m256i sign = _mm256_srai_epi32(x, 31);
  const __m256i t = _mm256_xor_si256(x, sign);
  const __m256i lead = _mm256_andnot_si256(_mm256_srli_epi32(t, 1), t);
  const __m256i msb = _mm256_sub_epi32(
      _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(lead)), 23), _mm256_set1_epi32(127));
  return _mm256_blendv_epi8(_mm256_sub_epi32(_mm256_set1_epi32(30), msb),
                            _mm256_and_si256(sign, _mm256_set1_epi32(31)),
                            _mm256_cmpeq_epi32(t, _mm256_setzero_si256()));
}

// Eight quotients per step. The final count shifts right (srav fills with
// the sign past 31), then left where it is positive, clamped toward the
// word's sign where the left shift does not come back.
void divide_q(const std::int32_t* num, const std::int32_t* den, std::int32_t q, std::int32_t count,
              const std::int32_t* seeds, std::int32_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i max32 = _mm256_set1_epi32(kInt32Max);
  // q - 30 + 1 modulo 2^32: the low 16 bits of the final count come out right.
  const __m256i base =
      _mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(q) - 29u));
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i n = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(num + i));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(den + i));
    const __m256i nn1 = norm_words(n);  // nn + 1
    const __m256i nd = norm_words(d);
    // |num| in [2^29, 2^30]: shifted by its norm, then halved (exact).
    const __m256i n_abs = _mm256_abs_epi32(_mm256_srai_epi32(_mm256_sllv_epi32(n, nn1), 1));
    const __m256i d_abs = _mm256_min_epu32(_mm256_abs_epi32(_mm256_sllv_epi32(d, nd)), max32);
    const __m256i k = _mm256_and_si256(_mm256_srli_epi32(d_abs, 23), _mm256_set1_epi32(127));
    const __m256i y0 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(seeds), k, 4);
    // (p >> 38) and (p >> 37) of products below 2^62: the high word shifted.
    const __m256i e1 = product_bits<23>(y0, d_abs);
    const __m256i y1 = sub_sat32_lanes(y0, _mm256_srai_epi32(product_bits<32>(y0, e1), 6));
    const __m256i e2 = product_bits<24>(d_abs, y1);
    const __m256i y2 = sub_sat32_lanes(y1, _mm256_srai_epi32(product_bits<32>(y1, e2), 5));
    __m256i r = product_bits<31>(y2, n_abs);
    const __m256i neg = _mm256_srai_epi32(_mm256_xor_si256(n, d), 31);
    r = _mm256_sub_epi32(_mm256_xor_si256(r, neg), neg);
    // lo16 of the count.
    const __m256i s = _mm256_srai_epi32(
        _mm256_slli_epi32(_mm256_sub_epi32(_mm256_add_epi32(base, nd), nn1), 16), 16);
    r = _mm256_srav_epi32(r, _mm256_max_epi32(_mm256_sub_epi32(zero, s), zero));
    const __m256i left = _mm256_max_epi32(s, zero);
    const __m256i shifted = _mm256_sllv_epi32(r, left);
    const __m256i kept = _mm256_cmpeq_epi32(_mm256_srav_epi32(shifted, left), r);
    const __m256i clamp = _mm256_xor_si256(_mm256_srai_epi32(r, 31), max32);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_blendv_epi8(clamp, shifted, kept));
  }
  vec_divide_q_c(num + i, den + i, q, count - i, seeds, out + i);
}

// 10^x eight lanes at a time: the products of the Q26 word by log2(10) / 8
// keep bits 16..47 (exact, below 2^30), then clamp as the two saturating
// doublings; the fit's sums stay inside 32 bits for any 16-bit
// coefficients (|u2 c2| and |u c1| are at most 2^30).
void exp10_q31(const std::int32_t* x, std::int32_t count, const std::int16_t* coef,
               std::int32_t* out) {
  const __m256i log2_10_q16 = _mm256_set1_epi32(27213);  // log2(10) / 8 in Q16
  const __m256i max32 = _mm256_set1_epi32(kInt32Max);
  const __m256i c2 = _mm256_set1_epi32(coef[0]);
  const __m256i c1 = _mm256_set1_epi32(coef[1]);
  const __m256i c0 =
      _mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(coef[2]) << 16));
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
    const __m256i t0 = product_bits<16>(v, log2_10_q16);
    __m256i t = _mm256_slli_epi32(t0, 3);
    t = _mm256_blendv_epi8(t, max32, _mm256_cmpgt_epi32(t0, _mm256_set1_epi32(kInt32Max >> 3)));
    t = _mm256_blendv_epi8(t, _mm256_set1_epi32(kInt32Min),
                           _mm256_cmpgt_epi32(_mm256_set1_epi32(kInt32Min >> 3), t0));
    const __m256i w = _mm256_slli_epi32(_mm256_srai_epi32(t, 16), 6);
    const __m256i whole = _mm256_srai_epi32(w, 16);
    const __m256i u = _mm256_srai_epi32(
        _mm256_sub_epi32(_mm256_and_si256(w, _mm256_set1_epi32(65535)), _mm256_set1_epi32(65536)),
        1);
    // u^2 <= 2^30; only u = -2^15 saturates the doubling and the rounding add
    // (as an unsigned word it gives 32768 there, clamped to 32767).
    const __m256i uu = _mm256_mullo_epi32(u, u);
    const __m256i u2 = _mm256_min_epi32(
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(uu, uu), _mm256_set1_epi32(32768)), 16),
        _mm256_set1_epi32(32767));
    const __m256i poly = _mm256_add_epi32(_mm256_mullo_epi32(u2, c2), _mm256_mullo_epi32(u, c1));
    const __m256i p = add_sat32_lanes(_mm256_slli_epi32(poly, 1), c0);
    // shr32 by -1 - whole where that is positive (at most 31).
    const __m256i shift =
        _mm256_max_epi32(_mm256_sub_epi32(_mm256_set1_epi32(-1), whole), _mm256_setzero_si256());
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_srav_epi32(p, shift));
  }
  vec_exp10_q31_c(x + i, count - i, coef, out + i);
}

// Four pairs per step, as the SSE4.1 form: the gains spread to both words of
// their pair, the even and the odd words multiplied apart.
void gain_pairs(std::int32_t* pairs, const std::int16_t* g, std::int32_t count) {
  const __m256i spread = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
  const __m256i round = _mm256_set1_epi64x(32767);
  auto rounded = [round](__m256i p) {  // bits 16..47 of 2 p + 32767
    return _mm256_srli_epi64(_mm256_add_epi64(_mm256_add_epi64(p, p), round), 16);
  };
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    auto* p = reinterpret_cast<__m256i*>(pairs + 2 * k);
    const __m256i x = _mm256_loadu_si256(p);
    const __m256i gg = _mm256_permutevar8x32_epi32(
        _mm256_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(g + k))), spread);
    const __m256i even = rounded(_mm256_mul_epi32(x, gg));
    const __m256i odd =
        rounded(_mm256_mul_epi32(_mm256_srli_epi64(x, 32), _mm256_srli_epi64(gg, 32)));
    _mm256_storeu_si256(p, _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA));
  }
  sse41::gain_pairs(pairs + 2 * k, g + k, count - k);
}

// Eight samples per step, as the SSE4.1 form: the exact product doubled,
// the one wrapped doubling (2^30) turned into 2^31 - 1, the peak kept as
// unsigned magnitudes.
std::int32_t window_pairs(const std::int16_t* x, const std::int16_t* w, std::int32_t count,
                          std::int32_t* pairs) {
  const __m256i limit = _mm256_set1_epi32(1 << 30);
  __m256i peak = _mm256_setzero_si256();
  std::int32_t k = 0;
  for (; k + 8 <= count; k += 8) {
    const __m256i xv =
        _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + k)));
    const __m256i wv =
        _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k)));
    const __m256i p = _mm256_mullo_epi32(xv, wv);
    const __m256i v = _mm256_xor_si256(_mm256_add_epi32(p, p), _mm256_cmpeq_epi32(p, limit));
    peak = _mm256_max_epu32(peak, _mm256_abs_epi32(v));
    auto* out = reinterpret_cast<__m256i*>(pairs + 2 * k);
    _mm256_storeu_si256(out, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(v)));
    _mm256_storeu_si256(out + 1, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(v, 1)));
  }
  alignas(32) std::uint32_t lanes[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), peak);
  std::uint32_t m = 0;
  for (const std::uint32_t l : lanes) m = l > m ? l : m;
  const std::int32_t tail = sse41::window_pairs(x + k, w + k, count - k, pairs + 2 * k);
  const std::int32_t head = m > std::uint32_t{kInt32Max} ? kInt32Max : static_cast<std::int32_t>(m);
  return head > tail ? head : tail;
}

// The windowed outputs of eight pairs (16 words at pairs), as the SSE4.1
// form: the real words shifted like shift_sat32, clamped to 16 bits, the
// doubled product with the Q15 window (clamped like mul_dbl16), its high half.
__m256i windowed(const std::int32_t* pairs, const std::int16_t* w, std::int32_t shift) {
  const __m256 lo =
      _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs)));
  const __m256 hi =
      _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + 8)));
  const __m256i x = _mm256_permute4x64_epi64(
      _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))), 0xD8);
  __m256i v;
  if (shift <= 0) {
    v = _mm256_sra_epi32(x, _mm_cvtsi32_si128(shift < -32 ? 32 : -shift));
  } else {
    const int s = shift > 31 ? 31 : shift;
    v = _mm256_sll_epi32(x, _mm_cvtsi32_si128(s));
    v = _mm256_blendv_epi8(v, _mm256_set1_epi32(kInt32Max),
                           _mm256_cmpgt_epi32(x, _mm256_set1_epi32(kInt32Max >> s)));
    v = _mm256_blendv_epi8(v, _mm256_set1_epi32(kInt32Min),
                           _mm256_cmpgt_epi32(_mm256_set1_epi32(kInt32Min >> s), x));
  }
  v = _mm256_max_epi32(_mm256_min_epi32(v, _mm256_set1_epi32(32767)), _mm256_set1_epi32(-32768));
  const __m256i wv = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w)));
  const __m256i p = _mm256_mullo_epi32(v, wv);
  const __m256i d =
      _mm256_xor_si256(_mm256_add_epi32(p, p), _mm256_cmpeq_epi32(p, _mm256_set1_epi32(1 << 30)));
  return _mm256_srai_epi32(d, 16);
}

// Eight samples of the 16-bit results at once: a saturating pack of the two
// halves (the values already fit).
__m128i narrowed(__m256i v) {
  return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

void window_ola(const std::int32_t* pairs, const std::int16_t* w, std::int32_t count,
                std::int32_t shift, std::int16_t* out, std::int16_t* tail) {
  std::int32_t k = 0;
  for (; k + 8 <= count; k += 8) {
    auto* t = reinterpret_cast<__m128i*>(tail + k);
    const __m128i a = narrowed(windowed(pairs + 2 * k, w + k, shift));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_adds_epi16(a, _mm_loadu_si128(t)));
    _mm_storeu_si128(t, narrowed(windowed(pairs + 2 * (count + k), w + count + k, shift)));
  }
  // The rest as the SSE4.1 form runs it: its halves lie count pairs apart.
  for (; k < count; ++k) {
    const std::int32_t two[4] = {pairs[2 * k], 0, pairs[2 * (count + k)], 0};
    const std::int16_t ww[2] = {w[k], w[count + k]};
    vec_window_ola_c(two, ww, 1, shift, out + k, tail + k);
  }
}

// vpabsd wraps -2^31 to itself, which is 2^31 modulo 2^32, as the twin has it.
std::uint32_t magnitude_bits(const std::int32_t* words, std::int32_t count) {
  __m256i bits = _mm256_setzero_si256();
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    bits = _mm256_or_si256(
        bits, _mm256_abs_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i))));
  }
  __m128i b = _mm_or_si128(_mm256_castsi256_si128(bits), _mm256_extracti128_si256(bits, 1));
  b = _mm_or_si128(b, _mm_shuffle_epi32(b, 0x4E));
  b = _mm_or_si128(b, _mm_shuffle_epi32(b, 0xB1));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(b)) |
         sse41::magnitude_bits(words + i, count - i);
}

// Shift counts past 31 give 0 (left) or the sign (right), as the twin has it.
void shift_words(std::int32_t* words, std::int32_t count, std::int32_t s) {
  const __m128i n = _mm_cvtsi32_si128(s >= 0 ? s : -s);
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    auto* p = reinterpret_cast<__m256i*>(words + i);
    const __m256i x = _mm256_loadu_si256(p);
    _mm256_storeu_si256(p, s >= 0 ? _mm256_sll_epi32(x, n) : _mm256_sra_epi32(x, n));
  }
  sse41::shift_words(words + i, count - i, s);
}

// Adaptive gain smoothing eight lanes at a time, as the NEON form: every
// product fits 32 bits, sat32(2 a b) >> 16 is (a b) >> 15 clamped to 16
// bits, and the sums clamp again.
void follow_gains(const std::int16_t* s, const std::int16_t* target, std::int32_t count, bool first,
                  std::int16_t rise, std::int16_t keep, std::int16_t* coef, std::int16_t* gain) {
  const __m256i lo16 = _mm256_set1_epi32(-32768);
  const __m256i hi16 = _mm256_set1_epi32(32767);
  auto clamp16 = [lo16, hi16](__m256i x) {
    return _mm256_max_epi32(_mm256_min_epi32(x, hi16), lo16);
  };
  auto h = [clamp16](__m256i a, __m256i b) {
    return clamp16(_mm256_srai_epi32(_mm256_mullo_epi32(a, b), 15));
  };
  auto load = [](const std::int16_t* p) {
    return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  };
  auto store = [](std::int16_t* p, __m256i v) {  // the values fit 16 bits
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
  };
  const __m256i rise32 = _mm256_set1_epi32(rise);
  const __m256i keep32 = _mm256_set1_epi32(keep);
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i sv = load(s + i);
    const __m256i c0 = load(coef + i);
    const __m256i up = clamp16(_mm256_add_epi32(h(sv, rise32), h(keep32, c0)));
    const __m256i c = _mm256_blendv_epi8(up, sv, _mm256_cmpgt_epi32(c0, sv));
    store(coef + i, c);
    const __m256i t = load(target + i);
    if (first) {
      store(gain + i, t);
    } else {
      store(gain + i,
            clamp16(_mm256_add_epi32(h(c, load(gain + i)), h(_mm256_sub_epi32(hi16, c), t))));
    }
  }
  vec_follow_gains_c(s + i, target + i, count - i, first, rise, keep, coef + i, gain + i);
}

// Weighted sums eight lanes at a time: the even and the odd words multiply
// apart into exact 64-bit sums, of which bits 15..46 are kept.
void mix_words(const std::int32_t* a, const std::int32_t* b, const std::int32_t* c, std::int16_t wa,
               std::int16_t wb, std::int16_t wc, std::int32_t count, std::int32_t* out) {
  const __m256i va = _mm256_set1_epi32(wa), vb = _mm256_set1_epi32(wb), vc = _mm256_set1_epi32(wc);
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    const __m256i z = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + i));
    auto sum = [va, vb, vc](__m256i p, __m256i q, __m256i r) {
      return _mm256_add_epi64(_mm256_add_epi64(_mm256_mul_epi32(p, va), _mm256_mul_epi32(q, vb)),
                              _mm256_mul_epi32(r, vc));
    };
    const __m256i even = _mm256_srli_epi64(sum(x, y, z), 15);
    const __m256i odd = _mm256_srli_epi64(
        sum(_mm256_srli_epi64(x, 32), _mm256_srli_epi64(y, 32), _mm256_srli_epi64(z, 32)), 15);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA));
  }
  vec_mix_words_c(a + i, b + i, c + i, wa, wb, wc, count - i, out + i);
}

// Extreme followers eight lanes at a time: the rise of the minimum from the
// exact 64-bit products of the even and the odd words (bits 16..47 of
// 2 d rise + 2^15), the sums saturating.
void follow_extremes(const std::int32_t* x, std::int32_t count, std::int16_t rise,
                     std::int32_t floor, std::int32_t* mn, std::int32_t* pk) {
  const __m256i r = _mm256_set1_epi32(rise);
  const __m256i half = _mm256_set1_epi64x(32768);
  const __m256i lo = _mm256_set1_epi32(floor);
  auto up_bits = [half](__m256i p) {
    return _mm256_srli_epi64(_mm256_add_epi64(_mm256_add_epi64(p, p), half), 16);
  };
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
    const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mn + i));
    const __m256i d = sub_sat32_lanes(v, m);
    const __m256i even = up_bits(_mm256_mul_epi32(d, r));
    const __m256i odd = up_bits(_mm256_mul_epi32(_mm256_srli_epi64(d, 32), r));
    const __m256i up =
        add_sat32_lanes(m, _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA));
    const __m256i keep_v = _mm256_or_si256(_mm256_cmpgt_epi32(m, v), _mm256_cmpeq_epi32(v, m));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(mn + i),
                        _mm256_max_epi32(_mm256_blendv_epi8(up, v, keep_v), lo));
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pk + i));
    const __m256i down = add_sat32_lanes(p, _mm256_srai_epi32(sub_sat32_lanes(v, p), 1));
    const __m256i rise_v = _mm256_or_si256(_mm256_cmpgt_epi32(v, p), _mm256_cmpeq_epi32(v, p));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pk + i), _mm256_blendv_epi8(down, v, rise_v));
  }
  vec_follow_extremes_c(x + i, count - i, rise, floor, mn + i, pk + i);
}

// Four pairs per step: the pairs reversed, the imaginary words negated
// (vpsignd wraps).
void mirror_conjugates(std::int32_t* pairs, std::int32_t n) {
  const __m256i reverse = _mm256_setr_epi32(6, 7, 4, 5, 2, 3, 0, 1);
  const __m256i signs = _mm256_setr_epi32(1, -1, 1, -1, 1, -1, 1, -1);
  std::int32_t k = 1;
  for (; k + 4 <= n / 2; k += 4) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + 2 * k));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pairs + 2 * (n - k - 3)),
                        _mm256_sign_epi32(_mm256_permutevar8x32_epi32(v, reverse), signs));
  }
  // Pairs k..n/2-1 are the twin's completion of the n - 2 (k - 1) pairs
  // from pair k - 1.
  vec_mirror_conjugates_c(pairs + 2 * (k - 1), n - 2 * (k - 1));
}

constexpr VecKernels kTable = {
    &gain_pairs,
    &window_pairs,
    &window_ola,
    &magnitude_bits,
    &shift_words,
    &roots_i64,
    &roots_q16,
    &bin_powers,
    &divide_q,
    &exp10_q31,
    &follow_gains,
    &mix_words,
    &follow_extremes,
    &mirror_conjugates,
#if VOCREL_MODE1
    &ln_q15,
    // The spectrum kernels of the environment-noise driver run the SSE4.1
    // forms: their loops are a few hundred words a frame, bound by loads and
    // stores.
    &sse41::pair_powers,
    &sse41::power_words,
    &sse41::smooth_magnitudes,
    &sse41::gain_mirror,
    &sse41::scale_words,
    &sse41::floor_words16,
#endif
};

}  // namespace

const VecKernels* vec_kernels_avx2() { return &kTable; }

}  // namespace vocrel

#else

const vocrel::VecKernels* vocrel::vec_kernels_avx2() { return nullptr; }

#endif
