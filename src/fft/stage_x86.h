// The lane arithmetic of the x86-64 stage kernels, written once over the
// vector width: V128 (SSE4.1, four int32 lanes) and V256 (AVX2, eight). Each
// width names the few instructions the butterflies need; the butterflies'
// lane forms (add<H>, sub<H>, mul_sqrt_half, the rounded twiddle product)
// and the Isa operations that do not depend on the lane order are built from
// them here. Everything has internal linkage: each kernel file builds its own
// copy with its own instruction set.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "fft/fft_kernels.h"

namespace vocrel::fft::x86 {
namespace {

struct V128 {
  using Reg = __m128i;
  static Reg set1_32(std::int32_t x) { return _mm_set1_epi32(x); }
  static Reg set1_64(std::int64_t x) { return _mm_set1_epi64x(x); }
  static Reg add32(Reg a, Reg b) { return _mm_add_epi32(a, b); }
  static Reg sub32(Reg a, Reg b) { return _mm_sub_epi32(a, b); }
  static Reg add64(Reg a, Reg b) { return _mm_add_epi64(a, b); }
  static Reg sub64(Reg a, Reg b) { return _mm_sub_epi64(a, b); }
  static Reg and_(Reg a, Reg b) { return _mm_and_si128(a, b); }
  static Reg andnot(Reg a, Reg b) { return _mm_andnot_si128(a, b); }
  static Reg xor_(Reg a, Reg b) { return _mm_xor_si128(a, b); }
  static Reg half32(Reg a) { return _mm_srai_epi32(a, 1); }
  template <int N>
  static Reg srl64(Reg a) {
    return _mm_srli_epi64(a, N);
  }
  static Reg sll64_32(Reg a) { return _mm_slli_epi64(a, 32); }
  // Exact 64-bit products of the even lanes; the odd lanes moved to the even.
  static Reg mul_even(Reg a, Reg b) { return _mm_mul_epi32(a, b); }
  static Reg odd_to_even(Reg a) { return _mm_shuffle_epi32(a, 0xF5); }
  // The even lanes of a, the odd lanes of b (SSE4.1 blends 16-bit words).
  static Reg even_odd(Reg a, Reg b) { return _mm_blend_epi16(a, b, 0xCC); }
};

#if defined(__AVX2__)
struct V256 {
  using Reg = __m256i;
  static Reg set1_32(std::int32_t x) { return _mm256_set1_epi32(x); }
  static Reg set1_64(std::int64_t x) { return _mm256_set1_epi64x(x); }
  static Reg add32(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
  static Reg sub32(Reg a, Reg b) { return _mm256_sub_epi32(a, b); }
  static Reg add64(Reg a, Reg b) { return _mm256_add_epi64(a, b); }
  static Reg sub64(Reg a, Reg b) { return _mm256_sub_epi64(a, b); }
  static Reg and_(Reg a, Reg b) { return _mm256_and_si256(a, b); }
  static Reg andnot(Reg a, Reg b) { return _mm256_andnot_si256(a, b); }
  static Reg xor_(Reg a, Reg b) { return _mm256_xor_si256(a, b); }
  static Reg half32(Reg a) { return _mm256_srai_epi32(a, 1); }
  template <int N>
  static Reg srl64(Reg a) {
    return _mm256_srli_epi64(a, N);
  }
  static Reg sll64_32(Reg a) { return _mm256_slli_epi64(a, 32); }
  static Reg mul_even(Reg a, Reg b) { return _mm256_mul_epi32(a, b); }
  static Reg odd_to_even(Reg a) { return _mm256_shuffle_epi32(a, 0xF5); }
  static Reg even_odd(Reg a, Reg b) { return _mm256_blend_epi32(a, b, 0xAA); }
};
#endif

template <class V>
struct Lanes {
  typename V::Reg v;
};

// Plain 32-bit lane arithmetic wraps, as the portable butterflies do.
template <bool H, class V>
Lanes<V> add(Lanes<V> x, Lanes<V> y) {
  if constexpr (H) {
    // floor((x + y) / 2) = (x & y) + ((x ^ y) >> 1): no intermediate overflows.
    return {V::add32(V::and_(x.v, y.v), V::half32(V::xor_(x.v, y.v)))};
  } else {
    return {V::add32(x.v, y.v)};
  }
}

template <bool H, class V>
Lanes<V> sub(Lanes<V> x, Lanes<V> y) {
  if constexpr (H) {
    // floor((x - y) / 2) = ((x ^ y) >> 1) - (~x & y), since x - y = (x ^ y) - 2 (~x & y).
    return {V::sub32(V::half32(V::xor_(x.v, y.v)), V::andnot(x.v, y.v))};
  } else {
    return {V::sub32(x.v, y.v)};
  }
}

template <class V>
struct CLanes {
  Lanes<V> re;
  Lanes<V> im;
};

// (2 x sqrt(1/2) + 2^31) >> 32 per lane: doubled exact products plus the
// rounding bit, whose high words are the results.
template <class V>
Lanes<V> mul_sqrt_half(Lanes<V> x) {
  const auto c = V::set1_32(kSqrtHalfQ31);
  const auto round = V::set1_64(std::int64_t{1} << 31);
  const auto pe = V::mul_even(x.v, c);
  const auto po = V::mul_even(V::odd_to_even(x.v), c);
  const auto e = V::add64(V::add64(pe, pe), round);
  const auto o = V::add64(V::add64(po, po), round);
  return {V::even_odd(V::template srl64<32>(e), o)};
}

// Bits 31..62 of (p + 2^30) for each 64-bit lane, left in its low word.
template <class V>
typename V::Reg round_q31(typename V::Reg p) {
  return V::template srl64<31>(V::add64(p, V::set1_64(std::int64_t{1} << 30)));
}

// a0 b0 - a1 b1 (Minus) or a0 b0 + a1 b1 per lane, exact modulo 2^64, then
// rounded to Q31: the even lanes' and the odd lanes' results merged.
template <bool Minus, class V>
typename V::Reg dot(typename V::Reg a0, typename V::Reg b0, typename V::Reg a1,
                    typename V::Reg b1) {
  const auto p0e = V::mul_even(a0, b0);
  const auto p1e = V::mul_even(a1, b1);
  const auto p0o = V::mul_even(V::odd_to_even(a0), V::odd_to_even(b0));
  const auto p1o = V::mul_even(V::odd_to_even(a1), V::odd_to_even(b1));
  const auto e = Minus ? V::sub64(p0e, p1e) : V::add64(p0e, p1e);
  const auto o = Minus ? V::sub64(p0o, p1o) : V::add64(p0o, p1o);
  return V::even_odd(round_q31<V>(e), V::sll64_32(round_q31<V>(o)));
}

// The Isa operations (stage_simd.h) that do not depend on where the lanes
// sit in memory; each kernel file adds its loads and stores.
template <class V>
struct LaneOps {
  using CLanes = x86::CLanes<V>;

  static CLanes broadcast(Cplx w) { return {{V::set1_32(w.re)}, {V::set1_32(w.im)}}; }

  // Forward: (a.re w.re - a.im w.im, a.im w.re + a.re w.im); inverse with
  // the signs of the w.im terms exchanged.
  template <Direction D>
  static CLanes twiddle_mul(CLanes a, CLanes w) {
    constexpr bool kFwd = D == Direction::kForward;
    return {{dot<kFwd, V>(a.re.v, w.re.v, a.im.v, w.im.v)},
            {dot<!kFwd, V>(a.im.v, w.re.v, a.re.v, w.im.v)}};
  }
};

// Real and imaginary parts of four consecutive pairs at p.
inline void split4(const std::int32_t* p, __m128i* re, __m128i* im) {
  const __m128 lo = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  const __m128 hi = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4)));
  *re = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
  *im = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
}

// The inputs of four last-stage butterflies (16 pairs at p, butterfly j
// reading pairs 4j..4j+3) as four-lane real and imaginary vectors over the
// butterflies, one per input q: each butterfly's inputs loaded as lanes over
// q, then transposed.
inline void butterflies4(const std::int32_t* p, __m128i* re, __m128i* im) {
  __m128i r[4];
  __m128i s[4];
  for (int i = 0; i < 4; ++i) split4(p + 8 * i, &r[i], &s[i]);
  auto transpose = [](const __m128i* c, __m128i* out) {
    const __m128i t0 = _mm_unpacklo_epi32(c[0], c[1]);
    const __m128i t1 = _mm_unpacklo_epi32(c[2], c[3]);
    const __m128i t2 = _mm_unpackhi_epi32(c[0], c[1]);
    const __m128i t3 = _mm_unpackhi_epi32(c[2], c[3]);
    out[0] = _mm_unpacklo_epi64(t0, t1);
    out[1] = _mm_unpackhi_epi64(t0, t1);
    out[2] = _mm_unpacklo_epi64(t2, t3);
    out[3] = _mm_unpackhi_epi64(t2, t3);
  };
  transpose(r, re);
  transpose(s, im);
}

}  // namespace
}  // namespace vocrel::fft::x86
