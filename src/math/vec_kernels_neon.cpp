// NEON vector kernels (armhf; the target always has NEON).
#include "math/vec_kernels.h"

#if VOCREL_SIMD && defined(__ARM_NEON)

#include <arm_neon.h>

#include <cstring>

#include "math/constants.h"
#include "math/fixed.h"
#include "math/vocrel_math.h"

namespace vocrel {
namespace {

// Bits 16..47 of 2 p + 32767 per 64-bit lane: the narrowing shift keeps the
// low 32 bits of the shifted value, as lo32 does.
int32x2_t round_gain(int64x2_t p) {
  return vshrn_n_s64(vaddq_s64(vaddq_s64(p, p), vdupq_n_s64(32767)), 16);
}

// Four pairs per step, split into real and imaginary words.
void gain_pairs(std::int32_t* pairs, const std::int16_t* g, std::int32_t count) {
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const int32x4x2_t x = vld2q_s32(pairs + 2 * k);
    const int32x4_t gg = vmovl_s16(vld1_s16(g + k));
    int32x4x2_t y;
    for (int part = 0; part < 2; ++part) {
      y.val[part] =
          vcombine_s32(round_gain(vmull_s32(vget_low_s32(x.val[part]), vget_low_s32(gg))),
                       round_gain(vmull_s32(vget_high_s32(x.val[part]), vget_high_s32(gg))));
    }
    vst2q_s32(pairs + 2 * k, y);
  }
  if (k < count) vec_gain_pairs_c(pairs + 2 * k, g + k, count - k);
}

// Four samples per step: the saturating doubling long multiply is mul_dbl16
// lane by lane, the saturating absolute value abs_sat32.
std::int32_t window_pairs(const std::int16_t* x, const std::int16_t* w, std::int32_t count,
                          std::int32_t* pairs) {
  int32x4_t peak = vdupq_n_s32(0);
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const int32x4_t v = vqdmull_s16(vld1_s16(x + k), vld1_s16(w + k));
    peak = vmaxq_s32(peak, vqabsq_s32(v));
    vst2q_s32(pairs + 2 * k, int32x4x2_t{{v, vdupq_n_s32(0)}});
  }
  const int32x2_t half = vpmax_s32(vget_low_s32(peak), vget_high_s32(peak));
  const std::int32_t m = vget_lane_s32(vpmax_s32(half, half), 0);
  const std::int32_t tail = vec_window_pairs_c(x + k, w + k, count - k, pairs + 2 * k);
  return tail > m ? tail : m;
}

// Four words: the saturating shift by a register count (negative counts shift
// right arithmetically; counts past +-32 act as +-32, clamped first since
// only the count's low byte is read), saturating narrow, saturating
// doubling multiply, and the high halves (which always fit 16 bits).
int16x4_t windowed(const std::int32_t* pairs, const std::int16_t* w, int32x4_t shift) {
  const int32x4_t x = vld2q_s32(pairs).val[0];
  const int16x4_t v = vqmovn_s32(vqshlq_s32(x, shift));
  return vshrn_n_s32(vqdmull_s16(vld1_s16(w), v), 16);
}

void window_ola(const std::int32_t* pairs, const std::int16_t* w, std::int32_t count,
                std::int32_t shift, std::int16_t* out, std::int16_t* tail) {
  const int32x4_t s = vdupq_n_s32(shift > 32 ? 32 : (shift < -32 ? -32 : shift));
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    vst1_s16(out + k, vqadd_s16(windowed(pairs + 2 * k, w + k, s), vld1_s16(tail + k)));
    vst1_s16(tail + k, windowed(pairs + 2 * (count + k), w + count + k, s));
  }
  for (; k < count; ++k) {
    const std::int32_t two[4] = {pairs[2 * k], 0, pairs[2 * (count + k)], 0};
    const std::int16_t ww[2] = {w[k], w[count + k]};
    vec_window_ola_c(two, ww, 1, shift, out + k, tail + k);
  }
}

// vabs wraps -2^31 to itself, which is 2^31 modulo 2^32, as the twin has it.
std::uint32_t magnitude_bits(const std::int32_t* words, std::int32_t count) {
  uint32x4_t bits = vdupq_n_u32(0);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    bits = vorrq_u32(bits, vreinterpretq_u32_s32(vabsq_s32(vld1q_s32(words + i))));
  }
  const uint32x2_t half = vorr_u32(vget_low_u32(bits), vget_high_u32(bits));
  return vget_lane_u32(half, 0) | vget_lane_u32(half, 1) |
         vec_magnitude_bits_c(words + i, count - i);
}

// A shift by a register count: negative counts shift right arithmetically;
// +32 gives 0 and -32 the sign, as the twin has it.
void shift_words(std::int32_t* words, std::int32_t count, std::int32_t s) {
  const int32x4_t n = vdupq_n_s32(s > 32 ? 32 : (s < -32 ? -32 : s));
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) vst1q_s32(words + i, vshlq_s32(vld1q_s32(words + i), n));
  vec_shift_words_c(words + i, count - i, s);
}

// Two roots per step in 64-bit lanes. The doubled products use vqdmull,
// which clamps only (-2^31)^2: the seeds are positive and y1 > -2^31, so it
// is the plain doubled product here. vqadd is add_sat32, and the rounding
// narrowing shift by 31 adds 2^30 first and keeps the low word.
void roots_i64(const std::int64_t* x, std::int32_t count, const std::int32_t (*seeds)[2],
               std::int32_t* out) {
  const int32x2_t sqrt_half = vdup_n_s32(math::kSqrtHalfQ31);
  std::int32_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const int64x2_t v = vld1q_s64(x + i);
    const int64x2_t xp = vbicq_s64(v, vshrq_n_s64(v, 63));  // negatives to 0
    const int32x2_t low = vmovn_s64(xp);
    const int32x2_t high = vshrn_n_s64(xp, 32);
    const uint32x2_t nonzero = vtst_s32(vorr_s32(low, high), vorr_s32(low, high));
    // clz64 from the halves (vclz gives 32 for 0), then e = (clz64 - 1) & ~1.
    const int32x2_t clz = vbsl_s32(vceq_s32(high, vdup_n_s32(0)),
                                   vadd_s32(vclz_s32(low), vdup_n_s32(32)), vclz_s32(high));
    const int32x2_t e = vand_s32(vsub_s32(clz, vdup_n_s32(1)), vdup_n_s32(~1));
    const int64x2_t xn = vshlq_s64(xp, vmovl_s32(e));
    const int32x2_t k = vshr_n_s32(vshrn_n_s64(xn, 32), 24);
    const int32x2x2_t ab =
        vzip_s32(vld1_s32(seeds[vget_lane_s32(k, 0)]), vld1_s32(seeds[vget_lane_s32(k, 1)]));
    const int32x2_t a = ab.val[0];
    const int32x2_t b = ab.val[1];
    const int32x2_t r1 = vshrn_n_s64(vsubq_s64(xn, vqdmull_s32(a, a)), 32);
    const int32x2_t y1 = vqadd_s32(a, vshrn_n_s64(vqdmull_s32(b, r1), 32));
    const int32x2_t r2 = vshrn_n_s64(vsubq_s64(xn, vqdmull_s32(y1, y1)), 32);
    const int32x2_t y2 = vqadd_s32(y1, vshrn_n_s64(vqdmull_s32(b, r2), 32));
    // h = (e - 32) / 2; the half unit 2^(h + 15) (1 >> 1 = 0 for h = -16),
    // then the arithmetic right shift by h + 16.
    const int32x2_t h = vsub_s32(vshr_n_s32(e, 1), vdup_n_s32(16));
    const int32x2_t half_unit = vshl_s32(vdup_n_s32(1), vadd_s32(h, vdup_n_s32(15)));
    const int32x2_t z = vshl_s32(vqadd_s32(y2, half_unit), vsub_s32(vdup_n_s32(-16), h));
    const int32x2_t root = vrshrn_n_s64(vqdmull_s32(z, sqrt_half), 31);
    vst1_s32(out + i, vand_s32(root, vreinterpret_s32_u32(nonzero)));
  }
  vec_roots_i64_c(x + i, count - i, seeds, out + i);
}

// Four words clamped to 1 (so every lane indexes inside a table), their
// norm32 and the normalised words; `positive` marks the lanes that were > 0.
struct Normalised {
  uint32x4_t positive;
  int32x4_t c;
  int32x4_t xn;
};

Normalised normalise(int32x4_t x) {
  const int32x4_t one = vdupq_n_s32(1);
  const int32x4_t xq = vmaxq_s32(x, one);
  const int32x4_t c = vsubq_s32(vclzq_s32(xq), one);  // norm32 of a positive word
  return {vcgtq_s32(x, vdupq_n_s32(0)), c, vshlq_s32(xq, c)};
}

// Table roots four lanes at a time; the words are clamped to 1 first, so
// every lane indexes inside the table, and masked to 0 at the end. vqshl
// is shift_sat32 (saturating left, arithmetic right) and vqadd add_sat32.
void roots_q16(const std::int32_t* in, std::int32_t offset, std::int32_t shift, std::int32_t count,
               const std::int16_t* table, std::int32_t* out) {
  const int32x4_t one = vdupq_n_s32(1);
  const uint32x4_t max32 = vdupq_n_u32(kInt32Max);
  const uint32x4_t low16 = vdupq_n_u32(65535);
  // shr32 for shift >= 0 (a count of -32 fills with the sign), else
  // shl_sat32 by -shift (counts past 31 clamp as 31 does).
  const int32x4_t last =
      vdupq_n_s32(shift >= 0 ? (shift > 32 ? -32 : -shift) : (shift < -31 ? 31 : -shift));
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const auto [positive, c, xn] = normalise(vld1q_s32(in + i));
    const uint32x4_t g =
        vreinterpretq_u32_s32(vshlq_s32(xn, vsubq_s32(vandq_s32(c, one), vdupq_n_s32(11))));
    const uint32x4_t f = vandq_u32(g, low16);
    // Entries h - 8 and h - 7 as one 32-bit word read at entry h - 8.
    const uint32x4_t h = vsubq_u32(vshrq_n_u32(g, 16), vdupq_n_u32(8));
    std::uint32_t index[4], words[4];
    vst1q_u32(index, h);
    for (int lane = 0; lane < 4; ++lane) {
      std::memcpy(&words[lane], table + index[lane], sizeof words[lane]);
    }
    const uint32x4_t pair = vld1q_u32(words);
    const uint32x4_t s0 = vandq_u32(pair, low16);
    const uint32x4_t s1 = vshrq_n_u32(pair, 16);
    // The products are below 2^32 as unsigned words: clamp them and their
    // sum to 2^31 - 1 as the saturating steps do (both terms are >= 0).
    const uint32x4_t t = vminq_u32(vmulq_u32(s0, vsubq_u32(vdupq_n_u32(65536), f)), max32);
    const uint32x4_t u = vminq_u32(vmulq_u32(s1, f), max32);
    const int32x4_t v = vreinterpretq_s32_u32(vminq_u32(vaddq_u32(t, u), max32));
    // Exponent e = 1 - (c + 1) / 2.
    const int32x4_t e = vsubq_s32(one, vshrq_n_s32(vaddq_s32(c, one), 1));
    const int32x4_t r = vreinterpretq_s32_u32(vandq_u32(
        vreinterpretq_u32_s32(vqaddq_s32(vqshlq_s32(v, e), vdupq_n_s32(offset))), positive));
    vst1q_s32(out + i, vqshlq_s32(r, last));
  }
  vec_roots_q16_c(in + i, offset, shift, count - i, table, out + i);
}

#if VOCREL_MODE1
// ln in Q15 four lanes at a time; the words are clamped to 1 first, so
// every lane indexes inside the table, and masked to 0 at the end. vqdmulh
// is mul_dbl_hi32 and vqsub sub_sat32.
void ln_q15(const std::int32_t* in, std::int32_t count, std::int32_t* out) {
  const int32x4_t ln2 = vdupq_n_s32(math::kLn2Q15InQ31);
  const int32x4_t unit = vdupq_n_s32(math::kLn2x15Q15);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const auto [positive, c, xn] = normalise(vld1q_s32(in + i));
    std::int32_t seg[4], words[4];
    vst1q_s32(seg, vsubq_s32(vshrq_n_s32(xn, 25), vdupq_n_s32(32)));
    for (int lane = 0; lane < 4; ++lane) words[lane] = vocrel_rnr_Log2Tab[seg[lane]];
    const int32x4_t packed = vld1q_s32(words);
    const int32x4_t f = vandq_s32(vshrq_n_s32(xn, 10), vdupq_n_s32(32767));
    // The left value shifted up 16 is the packed word's high half; the
    // doubled slope product is below 2^31 in magnitude.
    const int32x4_t base = vandq_s32(packed, vdupq_n_s32(-65536));
    const int32x4_t slope = vshrq_n_s32(vshlq_n_s32(packed, 16), 16);
    const int32x4_t p = vmulq_s32(slope, f);
    const int32x4_t frac = vshrq_n_s32(vqsubq_s32(base, vaddq_s32(p, p)), 16);
    const int32x4_t l = vaddq_s32(vshlq_n_s32(vsubq_s32(vdupq_n_s32(30), c), 15), frac);
    const int32x4_t m = vqdmulhq_s32(l, ln2);
    const uint32x4_t keep = vandq_u32(vcgtq_s32(m, vdupq_n_s32(0)), positive);
    vst1q_s32(out + i, vandq_s32(vqsubq_s32(m, unit), vreinterpretq_s32_u32(keep)));
  }
  vec_ln_q15_c(in + i, count - i, out + i);
}
#endif

// Four bins per step: vqshl is shift_sat32 for counts within +-32, vqabs
// abs_sat32; the squares widen into 64-bit lanes.
void bin_powers(const std::int32_t* pairs, std::int32_t shift, std::int32_t count,
                std::int64_t* power) {
  const int32x4_t n = vdupq_n_s32(shift > 32 ? 32 : (shift < -32 ? -32 : shift));
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const int32x4x2_t x = vld2q_s32(pairs + 2 * k);
    const int32x4_t r = vmaxq_s32(vqabsq_s32(vqshlq_s32(x.val[0], n)), vdupq_n_s32(1));
    const int32x4_t im = vqshlq_s32(x.val[1], n);
    vst1q_s64(power + k, vmlal_s32(vmull_s32(vget_low_s32(r), vget_low_s32(r)), vget_low_s32(im),
                                   vget_low_s32(im)));
    vst1q_s64(power + k + 2, vmlal_s32(vmull_s32(vget_high_s32(r), vget_high_s32(r)),
                                       vget_high_s32(im), vget_high_s32(im)));
  }
  vec_bin_powers_c(pairs + 2 * k, shift, count - k, power + k);
}

// Bits S..S+31 of the 64-bit products a b per word: the narrowing shift
// keeps the low 32 bits of the shifted product, as lo32 does.
template <int S>
int32x4_t product_bits(int32x4_t a, int32x4_t b) {
  return vcombine_s32(vshrn_n_s64(vmull_s32(vget_low_s32(a), vget_low_s32(b)), S),
                      vshrn_n_s64(vmull_s32(vget_high_s32(a), vget_high_s32(b)), S));
}

// norm32 per word: vcls counts the redundant sign bits, 31 for 0 as for -1.
int32x4_t norm_words(int32x4_t x) {
  return vbslq_s32(vceqq_s32(x, vdupq_n_s32(0)), vdupq_n_s32(0), vclsq_s32(x));
}

// Four quotients per step. The seeds are read lane by lane (no gather);
// vqshl by the final count, clamped to +-32, is the saturating left shift or
// the arithmetic right shift of the scalar steps.
void divide_q(const std::int32_t* num, const std::int32_t* den, std::int32_t q, std::int32_t count,
              const std::int32_t* seeds, std::int32_t* out) {
  // q - 30 + 1 modulo 2^32: the low 16 bits of the final count come out right.
  const int32x4_t base =
      vdupq_n_s32(static_cast<std::int32_t>(static_cast<std::uint32_t>(q) - 29u));
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int32x4_t n = vld1q_s32(num + i);
    const int32x4_t d = vld1q_s32(den + i);
    const int32x4_t nn1 = norm_words(n);  // nn + 1
    const int32x4_t nd = norm_words(d);
    // |num| in [2^29, 2^30]: shifted by its norm, then halved (exact).
    const int32x4_t n_abs = vabsq_s32(vshrq_n_s32(vshlq_s32(n, nn1), 1));
    const int32x4_t d_abs = vqabsq_s32(vshlq_s32(d, nd));
    const int32x4_t k = vandq_s32(vshrq_n_s32(d_abs, 23), vdupq_n_s32(127));
    int32x4_t y0 = vdupq_n_s32(0);
    y0 = vld1q_lane_s32(seeds + vgetq_lane_s32(k, 0), y0, 0);
    y0 = vld1q_lane_s32(seeds + vgetq_lane_s32(k, 1), y0, 1);
    y0 = vld1q_lane_s32(seeds + vgetq_lane_s32(k, 2), y0, 2);
    y0 = vld1q_lane_s32(seeds + vgetq_lane_s32(k, 3), y0, 3);
    // (p >> 38) and (p >> 37) of products below 2^62: the high word shifted.
    const int32x4_t e1 = product_bits<23>(y0, d_abs);
    const int32x4_t y1 = vqsubq_s32(y0, vshrq_n_s32(product_bits<32>(y0, e1), 6));
    const int32x4_t e2 = product_bits<24>(d_abs, y1);
    const int32x4_t y2 = vqsubq_s32(y1, vshrq_n_s32(product_bits<32>(y1, e2), 5));
    int32x4_t r = product_bits<31>(y2, n_abs);
    const int32x4_t neg = vshrq_n_s32(veorq_s32(n, d), 31);
    r = vsubq_s32(veorq_s32(r, neg), neg);
    // lo16 of the count, then clamped to +-32 (which shift as any larger one).
    const int32x4_t s16 = vshrq_n_s32(vshlq_n_s32(vsubq_s32(vaddq_s32(base, nd), nn1), 16), 16);
    const int32x4_t s = vmaxq_s32(vminq_s32(s16, vdupq_n_s32(32)), vdupq_n_s32(-32));
    vst1q_s32(out + i, vqshlq_s32(r, s));
  }
  vec_divide_q_c(num + i, den + i, q, count - i, seeds, out + i);
}

// 10^x four lanes at a time: the products of the Q26 word by log2(10) / 8
// keep bits 16..47 (exact, below 2^30), vqshl by 3 is the two saturating
// doublings, and the fit's sums stay inside 32 bits for any 16-bit
// coefficients (|u2 c2| and |u c1| are at most 2^30).
void exp10_q31(const std::int32_t* x, std::int32_t count, const std::int16_t* coef,
               std::int32_t* out) {
  const int32x4_t log2_10_q16 = vdupq_n_s32(27213);  // log2(10) / 8 in Q16
  const int32x4_t c2 = vdupq_n_s32(coef[0]);
  const int32x4_t c1 = vdupq_n_s32(coef[1]);
  const int32x4_t c0 =
      vdupq_n_s32(static_cast<std::int32_t>(static_cast<std::uint32_t>(coef[2]) << 16));
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int32x4_t v = vld1q_s32(x + i);
    const int32x4_t t = vqshlq_n_s32(product_bits<16>(v, log2_10_q16), 3);
    const int32x4_t w = vshlq_n_s32(vshrq_n_s32(t, 16), 6);
    const int32x4_t whole = vshrq_n_s32(w, 16);
    const int32x4_t u =
        vshrq_n_s32(vsubq_s32(vandq_s32(w, vdupq_n_s32(65535)), vdupq_n_s32(65536)), 1);
    // u^2 <= 2^30: the saturating doubling and rounding add as the scalar's.
    const int32x4_t u2 =
        vshrq_n_s32(vqaddq_s32(vqshlq_n_s32(vmulq_s32(u, u), 1), vdupq_n_s32(32768)), 16);
    const int32x4_t poly = vmlaq_s32(vmulq_s32(u2, c2), u, c1);
    const int32x4_t p = vqaddq_s32(vshlq_n_s32(poly, 1), c0);
    // shr32 by -1 - whole where that is positive (at most 31).
    const int32x4_t shift = vminq_s32(vaddq_s32(whole, vdupq_n_s32(1)), vdupq_n_s32(0));
    vst1q_s32(out + i, vshlq_s32(p, shift));
  }
  vec_exp10_q31_c(x + i, count - i, coef, out + i);
}

#if VOCREL_MODE1
// Four pairs per step: the squares as long products, their saturating sum
// (2^63 only for two -2^31 words), the OR kept in two 64-bit lanes.
std::uint64_t pair_powers(const std::int32_t* pairs, std::int32_t count, std::int64_t* power) {
  uint64x2_t bits = vdupq_n_u64(0);
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const int32x4x2_t x = vld2q_s32(pairs + 2 * k);
    const int64x2_t lo = vqaddq_s64(vmull_s32(vget_low_s32(x.val[0]), vget_low_s32(x.val[0])),
                                    vmull_s32(vget_low_s32(x.val[1]), vget_low_s32(x.val[1])));
    const int64x2_t hi = vqaddq_s64(vmull_s32(vget_high_s32(x.val[0]), vget_high_s32(x.val[0])),
                                    vmull_s32(vget_high_s32(x.val[1]), vget_high_s32(x.val[1])));
    vst1q_s64(power + k, lo);
    vst1q_s64(power + k + 2, hi);
    bits = vorrq_u64(bits, vreinterpretq_u64_s64(vorrq_s64(lo, hi)));
  }
  return vgetq_lane_u64(bits, 0) | vgetq_lane_u64(bits, 1) |
         vec_pair_powers_c(pairs + 2 * k, count - k, power + k);
}

// Four powers per step: the saturating add of the half unit, the shift by a
// register count (negative counts shift right arithmetically), the low words.
void power_words(const std::int64_t* power, std::int32_t count, std::int32_t s, std::int32_t* out) {
  const int64x2_t round = vdupq_n_s64(s > 0 ? std::int64_t{1} << (s - 1) : 0);
  const int64x2_t n = vdupq_n_s64(-s);
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const int64x2_t a = vshlq_s64(vqaddq_s64(vld1q_s64(power + k), round), n);
    const int64x2_t b = vshlq_s64(vqaddq_s64(vld1q_s64(power + k + 2), round), n);
    vst1q_s32(out + k, vcombine_s32(vmovn_s64(a), vmovn_s64(b)));
  }
  vec_power_words_c(power + k, count - k, s, out + k);
}

// Four words per step: the saturating shift by a register count (clamped to
// +-32 first, as only its low byte is read); (d w) >> 16 is the doubling
// multiply high by w 2^15, exact for a Q15 weight.
void smooth_magnitudes(std::int32_t* mag, std::int32_t* prev, std::int32_t count,
                       std::int32_t shift, std::int32_t w, bool smooth) {
  const int32x4_t n = vdupq_n_s32(shift > 32 ? 32 : (shift < -32 ? -32 : shift));
  const std::int32_t w31 = w * 32768;
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    int32x4_t m = vqshlq_s32(vld1q_s32(mag + k), n);
    if (smooth) {
      const int32x4_t p = vld1q_s32(prev + k);
      const int32x4_t step = vqdmulhq_n_s32(vqsubq_s32(m, p), w31);
      m = vqaddq_s32(p, vshlq_n_s32(step, 1));
    }
    vst1q_s32(mag + k, m);
    vst1q_s32(prev + k, m);
  }
  vec_smooth_magnitudes_c(mag + k, prev + k, count - k, shift, w, smooth);
}

// The doubling multiply high is mul_dbl_hi32 lane by lane. The mirror moves
// two pairs at a time in reverse order, imaginary words negated saturating.
void gain_mirror(std::int32_t* pairs, const std::int16_t* g, std::int32_t half) {
  std::int32_t k = 0;
  for (; k + 4 <= half + 1; k += 4) {
    const int32x4x2_t x = vld2q_s32(pairs + 2 * k);
    const int32x4_t g31 = vshlq_n_s32(vmovl_s16(vld1_s16(g + k)), 16);
    vst2q_s32(pairs + 2 * k,
              int32x4x2_t{{vqdmulhq_s32(x.val[0], g31), vqdmulhq_s32(x.val[1], g31)}});
  }
  for (; k <= half; ++k) {
    const std::int32_t g31 = std::int32_t{g[k]} * 65536;
    pairs[2 * k] = mul_dbl_hi32(pairs[2 * k], g31);
    pairs[2 * k + 1] = mul_dbl_hi32(pairs[2 * k + 1], g31);
  }
  const uint32x4_t imag = vreinterpretq_u32_u64(vdupq_n_u64(0xFFFFFFFF00000000u));
  std::int32_t j = 1;
  for (; j + 2 <= half; j += 2) {  // pairs j, j + 1 to 2 half - j, 2 half - j - 1
    const int32x4_t x = vld1q_s32(pairs + 2 * j);
    const int32x4_t swapped = vcombine_s32(vget_high_s32(x), vget_low_s32(x));
    vst1q_s32(pairs + 2 * (2 * half - j - 1), vbslq_s32(imag, vqnegq_s32(swapped), swapped));
  }
  for (; j < half; ++j) {
    pairs[2 * (2 * half - j)] = pairs[2 * j];
    pairs[2 * (2 * half - j) + 1] = neg_sat32(pairs[2 * j + 1]);
  }
}

// Four words per step: the saturating doubling long multiply is mul_dbl64,
// the shift by a register count is the wrapping left shift (64 gives 0) or
// the arithmetic right shift (-64 gives the sign), the narrow keeps lo32.
void scale_words(const std::int32_t* x, std::int32_t f, std::int32_t s, std::int32_t count,
                 std::int32_t* out) {
  const int32x2_t ff = vdup_n_s32(f);
  const int64x2_t n = vdupq_n_s64(s);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int32x4_t v = vld1q_s32(x + i);
    const int64x2_t lo = vshlq_s64(vqdmull_s32(vget_low_s32(v), ff), n);
    const int64x2_t hi = vshlq_s64(vqdmull_s32(vget_high_s32(v), ff), n);
    vst1q_s32(out + i, vcombine_s32(vmovn_s64(lo), vmovn_s64(hi)));
  }
  vec_scale_words_c(x + i, f, s, count - i, out + i);
}

void floor_words16(std::int16_t* w, std::int32_t count, std::int16_t floor) {
  const int16x8_t f = vdupq_n_s16(floor);
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) vst1q_s16(w + i, vmaxq_s16(vld1q_s16(w + i), f));
  vec_floor_words16_c(w + i, count - i, floor);
}
#endif

// Adaptive gain smoothing four lanes at a time. Every product of the scalar
// steps fits 32 bits ((32767 - coef) t as well), and sat32(2 a b) >> 16 is
// (a b) >> 15 clamped to 16 bits: the saturating narrow; the sums add
// saturating in 16 bits.
void follow_gains(const std::int16_t* s, const std::int16_t* target, std::int32_t count, bool first,
                  std::int16_t rise, std::int16_t keep, std::int16_t* coef, std::int16_t* gain) {
  auto h = [](int32x4_t a, int32x4_t b) { return vqmovn_s32(vshrq_n_s32(vmulq_s32(a, b), 15)); };
  const int32x4_t rise32 = vdupq_n_s32(rise);
  const int32x4_t keep32 = vdupq_n_s32(keep);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int16x4_t sv = vld1_s16(s + i);
    const int16x4_t c0 = vld1_s16(coef + i);
    const int16x4_t up = vqadd_s16(h(vmovl_s16(sv), rise32), h(keep32, vmovl_s16(c0)));
    const int16x4_t c = vbsl_s16(vclt_s16(sv, c0), sv, up);
    vst1_s16(coef + i, c);
    const int16x4_t t = vld1_s16(target + i);
    if (first) {
      vst1_s16(gain + i, t);
    } else {
      const int32x4_t c32 = vmovl_s16(c);
      const int16x4_t g = vqadd_s16(h(c32, vmovl_s16(vld1_s16(gain + i))),
                                    h(vsubq_s32(vdupq_n_s32(32767), c32), vmovl_s16(t)));
      vst1_s16(gain + i, g);
    }
  }
  vec_follow_gains_c(s + i, target + i, count - i, first, rise, keep, coef + i, gain + i);
}

// Weighted sums four lanes at a time: the widening multiply-accumulates are
// exact, the narrowing shift keeps the low word.
void mix_words(const std::int32_t* a, const std::int32_t* b, const std::int32_t* c, std::int16_t wa,
               std::int16_t wb, std::int16_t wc, std::int32_t count, std::int32_t* out) {
  const int32x2_t va = vdup_n_s32(wa), vb = vdup_n_s32(wb), vc = vdup_n_s32(wc);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int32x4_t x = vld1q_s32(a + i), y = vld1q_s32(b + i), z = vld1q_s32(c + i);
    int64x2_t lo = vmull_s32(vget_low_s32(x), va);
    int64x2_t hi = vmull_s32(vget_high_s32(x), va);
    lo = vmlal_s32(lo, vget_low_s32(y), vb);
    hi = vmlal_s32(hi, vget_high_s32(y), vb);
    lo = vmlal_s32(lo, vget_low_s32(z), vc);
    hi = vmlal_s32(hi, vget_high_s32(z), vc);
    vst1q_s32(out + i, vcombine_s32(vshrn_n_s64(lo, 15), vshrn_n_s64(hi, 15)));
  }
  vec_mix_words_c(a + i, b + i, c + i, wa, wb, wc, count - i, out + i);
}

// Extreme followers four lanes at a time: vqrdmulh by rise << 16 is
// (2 d rise + 2^15) >> 16 (it clamps only for d = rise << 16 = -2^31, in
// lanes where the minimum drops instead); the sums saturate as vqadd does.
void follow_extremes(const std::int32_t* x, std::int32_t count, std::int16_t rise,
                     std::int32_t floor, std::int32_t* mn, std::int32_t* pk) {
  const int32x4_t r =
      vdupq_n_s32(static_cast<std::int32_t>(static_cast<std::uint32_t>(rise) << 16));
  const int32x4_t lo = vdupq_n_s32(floor);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int32x4_t v = vld1q_s32(x + i);
    const int32x4_t m = vld1q_s32(mn + i);
    const int32x4_t up = vqaddq_s32(m, vqrdmulhq_s32(vqsubq_s32(v, m), r));
    vst1q_s32(mn + i, vmaxq_s32(vbslq_s32(vcleq_s32(v, m), v, up), lo));
    const int32x4_t p = vld1q_s32(pk + i);
    const int32x4_t down = vqaddq_s32(p, vshrq_n_s32(vqsubq_s32(v, p), 1));
    vst1q_s32(pk + i, vbslq_s32(vcgeq_s32(v, p), v, down));
  }
  vec_follow_extremes_c(x + i, count - i, rise, floor, mn + i, pk + i);
}

// Two pairs per step: the halves exchanged, the imaginary words negated
// (vneg wraps); the pairs past the last whole step as the twin does them.
void mirror_conjugates(std::int32_t* pairs, std::int32_t n) {
  const uint32x4_t odd = vreinterpretq_u32_u64(vdupq_n_u64(0xFFFFFFFF00000000u));
  std::int32_t k = 1;
  for (; k + 2 <= n / 2; k += 2) {
    const int32x4_t v = vld1q_s32(pairs + 2 * k);
    const int32x4_t swapped = vcombine_s32(vget_high_s32(v), vget_low_s32(v));
    vst1q_s32(pairs + 2 * (n - k - 1), vbslq_s32(odd, vnegq_s32(swapped), swapped));
  }
  for (; k < n / 2; ++k) {
    pairs[2 * (n - k)] = pairs[2 * k];
    pairs[2 * (n - k) + 1] = neg_wrap32(pairs[2 * k + 1]);
  }
}

constexpr VecKernels kTable = {
    &gain_pairs,   &window_pairs,  &window_ola,      &magnitude_bits,    &shift_words,
    &roots_i64,    &roots_q16,     &bin_powers,      &divide_q,          &exp10_q31,
    &follow_gains, &mix_words,     &follow_extremes, &mirror_conjugates,
#if VOCREL_MODE1
    &ln_q15,       &pair_powers,   &power_words,     &smooth_magnitudes, &gain_mirror,
    &scale_words,  &floor_words16,
#endif
};

}  // namespace

const VecKernels* vec_kernels_neon() { return &kTable; }

}  // namespace vocrel

#else

const vocrel::VecKernels* vocrel::vec_kernels_neon() { return nullptr; }

#endif
