// AVX2 stage kernels (x86-64, built with -mavx2 and run only on processors
// that have it). Eight complex values per step, held as a vector of real
// parts and one of imaginary parts, in their natural order; four groups fill
// the lanes from two sub-transforms, and other stage shapes narrower than
// eight lanes run the SSE4.1 kernels.
#include "fft/stage_kernels.h"

#if VOCREL_SIMD && defined(__x86_64__)

#include <immintrin.h>

#include "fft/stage_simd.h"

namespace vocrel::fft::avx2 {
namespace {

struct Lanes {
  __m256i v;
};

// Plain 32-bit lane arithmetic wraps, as the portable butterflies do; the
// halving forms are the overflow-free identities of the SSE4.1 kernels.
template <bool H>
Lanes add(Lanes x, Lanes y) {
  if constexpr (H) {
    return {_mm256_add_epi32(_mm256_and_si256(x.v, y.v),
                             _mm256_srai_epi32(_mm256_xor_si256(x.v, y.v), 1))};
  } else {
    return {_mm256_add_epi32(x.v, y.v)};
  }
}

template <bool H>
Lanes sub(Lanes x, Lanes y) {
  if constexpr (H) {
    return {_mm256_sub_epi32(_mm256_srai_epi32(_mm256_xor_si256(x.v, y.v), 1),
                             _mm256_andnot_si256(x.v, y.v))};
  } else {
    return {_mm256_sub_epi32(x.v, y.v)};
  }
}

struct CLanes {
  Lanes re;
  Lanes im;
};

__m256i mul_even(__m256i a, __m256i b) { return _mm256_mul_epi32(a, b); }
__m256i odd_to_even(__m256i a) { return _mm256_shuffle_epi32(a, 0xF5); }

__m256i round_q31(__m256i p) {
  return _mm256_srli_epi64(_mm256_add_epi64(p, _mm256_set1_epi64x(std::int64_t{1} << 30)), 31);
}

Lanes mul_sqrt_half(Lanes x) {
  const __m256i c = _mm256_set1_epi32(kSqrtHalfQ31);
  const __m256i round = _mm256_set1_epi64x(std::int64_t{1} << 31);
  const __m256i pe = mul_even(x.v, c);
  const __m256i po = mul_even(odd_to_even(x.v), c);
  const __m256i e = _mm256_add_epi64(_mm256_add_epi64(pe, pe), round);
  const __m256i o = _mm256_add_epi64(_mm256_add_epi64(po, po), round);
  return {_mm256_blend_epi32(_mm256_srli_epi64(e, 32), o, 0xAA)};
}

__m256i merge(__m256i even, __m256i odd) {
  return _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
}

template <bool Minus>
__m256i dot(__m256i a0, __m256i b0, __m256i a1, __m256i b1) {
  const __m256i p0e = mul_even(a0, b0);
  const __m256i p1e = mul_even(a1, b1);
  const __m256i p0o = mul_even(odd_to_even(a0), odd_to_even(b0));
  const __m256i p1o = mul_even(odd_to_even(a1), odd_to_even(b1));
  const __m256i e = Minus ? _mm256_sub_epi64(p0e, p1e) : _mm256_add_epi64(p0e, p1e);
  const __m256i o = Minus ? _mm256_sub_epi64(p0o, p1o) : _mm256_add_epi64(p0o, p1o);
  return merge(round_q31(e), round_q31(o));
}

// Real and imaginary parts of the eight pairs in lo (pairs 0..3) and hi
// (4..7): the in-lane shuffle leaves the 64-bit blocks in the order 0 2 1 3,
// which the cross-lane permute puts right.
CLanes split(__m256i lo, __m256i hi) {
  const __m256 l = _mm256_castsi256_ps(lo);
  const __m256 h = _mm256_castsi256_ps(hi);
  const __m256i re = _mm256_castps_si256(_mm256_shuffle_ps(l, h, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i im = _mm256_castps_si256(_mm256_shuffle_ps(l, h, _MM_SHUFFLE(3, 1, 3, 1)));
  return {{_mm256_permute4x64_epi64(re, 0xD8)}, {_mm256_permute4x64_epi64(im, 0xD8)}};
}

// Four butterflies' inputs (16 pairs at p) as four-lane real and imaginary
// vectors over the butterflies, one per input q.
void butterflies4(const std::int32_t* p, __m128i* re, __m128i* im) {
  __m128i r[4];
  __m128i s[4];
  for (int i = 0; i < 4; ++i) {
    const __m128 lo =
        _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8 * i)));
    const __m128 hi =
        _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8 * i + 4)));
    r[i] = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
    s[i] = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
  }
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

struct Isa {
  using CLanes = avx2::CLanes;
  static constexpr std::int32_t kLanes = 8;
  static const StageKernels* narrower() { return stage_kernels_sse41(); }

  static CLanes load(const std::int32_t* p) {
    return split(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 8)));
  }

  static void store(std::int32_t* p, CLanes c) {
    const __m256i re = _mm256_permute4x64_epi64(c.re.v, 0xD8);
    const __m256i im = _mm256_permute4x64_epi64(c.im.v, 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_unpacklo_epi32(re, im));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 8), _mm256_unpackhi_epi32(re, im));
  }

  static void load_butterflies(const std::int32_t* p, CLanes* a) {
    __m128i re[2][4];
    __m128i im[2][4];
    butterflies4(p, re[0], im[0]);
    butterflies4(p + 32, re[1], im[1]);
    for (int q = 0; q < 4; ++q) {
      a[q] = {{_mm256_set_m128i(re[1][q], re[0][q])}, {_mm256_set_m128i(im[1][q], im[0][q])}};
    }
  }

  static CLanes load_pairs(const std::int32_t* p, std::int32_t stride) {
    const auto* base = reinterpret_cast<const long long*>(p);
    const __m256i step = _mm256_set_epi64x(3, 2, 1, 0);
    const __m256i s = _mm256_set1_epi64x(stride);
    const __m256i i0 = _mm256_mul_epi32(step, s);
    const __m256i i1 = _mm256_add_epi64(i0, _mm256_slli_epi64(s, 2));
    return split(_mm256_i64gather_epi64(base, i0, 8), _mm256_i64gather_epi64(base, i1, 8));
  }

  static CLanes load_halves(const std::int32_t* p, const std::int32_t* q) {
    return split(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
  }

  static CLanes broadcast_halves(Cplx v, Cplx w) {
    return {{_mm256_set_m128i(_mm_set1_epi32(w.re), _mm_set1_epi32(v.re))},
            {_mm256_set_m128i(_mm_set1_epi32(w.im), _mm_set1_epi32(v.im))}};
  }

  static CLanes broadcast(Cplx w) { return {{_mm256_set1_epi32(w.re)}, {_mm256_set1_epi32(w.im)}}; }

  static CLanes negate(CLanes a) {
    const __m256i zero = _mm256_setzero_si256();
    return {{_mm256_sub_epi32(zero, a.re.v)}, {_mm256_sub_epi32(zero, a.im.v)}};
  }

  template <Direction D>
  static CLanes twiddle_mul(CLanes a, CLanes w) {
    constexpr bool kFwd = D == Direction::kForward;
    return {{dot<kFwd>(a.re.v, w.re.v, a.im.v, w.im.v)},
            {dot<!kFwd>(a.im.v, w.re.v, a.re.v, w.im.v)}};
  }
};

constexpr StageKernels kTable = simd::kernel_table<Isa>();

}  // namespace
}  // namespace vocrel::fft::avx2

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_avx2() { return &avx2::kTable; }

#else

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_avx2() { return nullptr; }

#endif
