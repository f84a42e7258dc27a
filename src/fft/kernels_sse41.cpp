// SSE4.1 stage kernels (x86-64, built with -msse4.1 and run only on
// processors that have it). Four complex values per step, held as a vector
// of real parts and one of imaginary parts.
#include "fft/stage_kernels.h"

#if VOCREL_SIMD && defined(__x86_64__)

#include <smmintrin.h>

#include "fft/stage_simd.h"

namespace vocrel::fft::sse41 {
namespace {

struct Lanes {
  __m128i v;
};

// Plain 32-bit lane arithmetic wraps, as the portable butterflies do.
template <bool H>
Lanes add(Lanes x, Lanes y) {
  if constexpr (H) {
    // floor((x + y) / 2) = (x & y) + ((x ^ y) >> 1): no intermediate overflows.
    return {_mm_add_epi32(_mm_and_si128(x.v, y.v), _mm_srai_epi32(_mm_xor_si128(x.v, y.v), 1))};
  } else {
    return {_mm_add_epi32(x.v, y.v)};
  }
}

template <bool H>
Lanes sub(Lanes x, Lanes y) {
  if constexpr (H) {
    // floor((x - y) / 2) = ((x ^ y) >> 1) - (~x & y), since x - y = (x ^ y) - 2 (~x & y).
    return {_mm_sub_epi32(_mm_srai_epi32(_mm_xor_si128(x.v, y.v), 1), _mm_andnot_si128(x.v, y.v))};
  } else {
    return {_mm_sub_epi32(x.v, y.v)};
  }
}

struct CLanes {
  Lanes re;
  Lanes im;
};

// Exact 64-bit products of the even lanes (0, 2) and of the odd lanes (1, 3).
__m128i mul_even(__m128i a, __m128i b) { return _mm_mul_epi32(a, b); }
__m128i odd_to_even(__m128i a) { return _mm_shuffle_epi32(a, 0xF5); }

// Bits 31..62 of (p + 2^30) for the two 64-bit lanes, left in their low words.
__m128i round_q31(__m128i p) {
  return _mm_srli_epi64(_mm_add_epi64(p, _mm_set1_epi64x(std::int64_t{1} << 30)), 31);
}

// (2 x sqrt(1/2) + 2^31) >> 32 per lane: doubled exact products plus the
// rounding bit, whose high words are the results.
Lanes mul_sqrt_half(Lanes x) {
  const __m128i c = _mm_set1_epi32(kSqrtHalfQ31);
  const __m128i round = _mm_set1_epi64x(std::int64_t{1} << 31);
  const __m128i pe = mul_even(x.v, c);
  const __m128i po = mul_even(odd_to_even(x.v), c);
  const __m128i e = _mm_add_epi64(_mm_add_epi64(pe, pe), round);
  const __m128i o = _mm_add_epi64(_mm_add_epi64(po, po), round);
  return {_mm_blend_epi16(_mm_srli_epi64(e, 32), o, 0xCC)};
}

// Low words of the even-lane results and of the odd-lane results, merged.
__m128i merge(__m128i even, __m128i odd) {
  return _mm_blend_epi16(even, _mm_slli_epi64(odd, 32), 0xCC);
}

// x.re * y.re -/+ x.im * y.im (Minus) or x.im * y.re +/- x.re * y.im, per lane,
// exact modulo 2^64, then rounded to Q31.
template <bool Minus>
__m128i dot(__m128i a0, __m128i b0, __m128i a1, __m128i b1) {
  const __m128i p0e = mul_even(a0, b0);
  const __m128i p1e = mul_even(a1, b1);
  const __m128i p0o = mul_even(odd_to_even(a0), odd_to_even(b0));
  const __m128i p1o = mul_even(odd_to_even(a1), odd_to_even(b1));
  const __m128i e = Minus ? _mm_sub_epi64(p0e, p1e) : _mm_add_epi64(p0e, p1e);
  const __m128i o = Minus ? _mm_sub_epi64(p0o, p1o) : _mm_add_epi64(p0o, p1o);
  return merge(round_q31(e), round_q31(o));
}

struct Isa {
  using CLanes = sse41::CLanes;
  static constexpr std::int32_t kLanes = 4;
  static const StageKernels* narrower() { return stage_kernels_c(); }

  static CLanes load(const std::int32_t* p) {
    const __m128 lo = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m128 hi = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4)));
    return {{_mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)))},
            {_mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)))}};
  }

  static void store(std::int32_t* p, CLanes c) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi32(c.re.v, c.im.v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 4), _mm_unpackhi_epi32(c.re.v, c.im.v));
  }

  // Four butterflies of four inputs each: load each butterfly's inputs as
  // lanes over q, then transpose to lanes over the butterflies.
  static void load_butterflies(const std::int32_t* p, CLanes* a) {
    CLanes b[4];
    for (int i = 0; i < 4; ++i) b[i] = load(p + 8 * i);
    auto transpose = [](__m128i r0, __m128i r1, __m128i r2, __m128i r3, Lanes CLanes::*part,
                        CLanes* out) {
      const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
      const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
      const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
      const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
      (out[0].*part).v = _mm_unpacklo_epi64(t0, t1);
      (out[1].*part).v = _mm_unpackhi_epi64(t0, t1);
      (out[2].*part).v = _mm_unpacklo_epi64(t2, t3);
      (out[3].*part).v = _mm_unpackhi_epi64(t2, t3);
    };
    transpose(b[0].re.v, b[1].re.v, b[2].re.v, b[3].re.v, &CLanes::re, a);
    transpose(b[0].im.v, b[1].im.v, b[2].im.v, b[3].im.v, &CLanes::im, a);
  }

  static CLanes load_pairs(const std::int32_t* p, std::int32_t stride) {
    auto pair = [p, stride](int i) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 2 * stride * i));
    };
    alignas(16) std::int32_t words[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(words), _mm_unpacklo_epi64(pair(0), pair(1)));
    _mm_store_si128(reinterpret_cast<__m128i*>(words + 4), _mm_unpacklo_epi64(pair(2), pair(3)));
    return load(words);
  }

  static CLanes broadcast(Cplx w) { return {{_mm_set1_epi32(w.re)}, {_mm_set1_epi32(w.im)}}; }

  static CLanes negate(CLanes a) {
    const __m128i zero = _mm_setzero_si128();
    return {{_mm_sub_epi32(zero, a.re.v)}, {_mm_sub_epi32(zero, a.im.v)}};
  }

  // Forward: (a.re w.re - a.im w.im, a.im w.re + a.re w.im); inverse with
  // the signs of the w.im terms exchanged.
  template <Direction D>
  static CLanes twiddle_mul(CLanes a, CLanes w) {
    constexpr bool kFwd = D == Direction::kForward;
    return {{dot<kFwd>(a.re.v, w.re.v, a.im.v, w.im.v)},
            {dot<!kFwd>(a.im.v, w.re.v, a.re.v, w.im.v)}};
  }
};

constexpr StageKernels kTable = simd::kernel_table<Isa>();

}  // namespace
}  // namespace vocrel::fft::sse41

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_sse41() { return &sse41::kTable; }

#else

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_sse41() { return nullptr; }

#endif
