// AVX2 stage kernels (x86-64, built with -mavx2 and run only on processors
// that have it). Eight complex values per step, held as a vector of real
// parts and one of imaginary parts, in their natural order; the lane
// arithmetic is the one both x86 widths share (stage_x86.h); four groups fill
// the lanes from two sub-transforms, and other stage shapes narrower than
// eight lanes run the SSE4.1 kernels.
#include "fft/stage_kernels.h"

#if VOCREL_SIMD && defined(__x86_64__)

#include <immintrin.h>

#include "fft/stage_simd.h"
#include "fft/stage_x86.h"

namespace vocrel::fft::avx2 {
namespace {

using V = x86::V256;
using CL = x86::CLanes<V>;

// Real and imaginary parts of the eight pairs in lo (pairs 0..3) and hi
// (4..7): the in-lane shuffle leaves the 64-bit blocks in the order 0 2 1 3,
// which the cross-lane permute puts right.
CL split(__m256i lo, __m256i hi) {
  const __m256 l = _mm256_castsi256_ps(lo);
  const __m256 h = _mm256_castsi256_ps(hi);
  const __m256i re = _mm256_castps_si256(_mm256_shuffle_ps(l, h, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i im = _mm256_castps_si256(_mm256_shuffle_ps(l, h, _MM_SHUFFLE(3, 1, 3, 1)));
  return {{_mm256_permute4x64_epi64(re, 0xD8)}, {_mm256_permute4x64_epi64(im, 0xD8)}};
}

struct Isa : x86::LaneOps<V> {
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

  // Two runs of four butterflies, the second in the high half.
  static void load_butterflies(const std::int32_t* p, CLanes* a) {
    __m128i re[2][4];
    __m128i im[2][4];
    x86::butterflies4(p, re[0], im[0]);
    x86::butterflies4(p + 32, re[1], im[1]);
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
};

constexpr StageKernels kTable = simd::kernel_table<Isa>();

}  // namespace
}  // namespace vocrel::fft::avx2

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_avx2() { return &avx2::kTable; }

#else

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_avx2() { return nullptr; }

#endif
