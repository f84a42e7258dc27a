// SSE4.1 vector kernels (x86-64, built with -msse4.1 and run only on
// processors that have it).
#include "math/vec_kernels.h"

#if VOCREL_SIMD && defined(__x86_64__)

#include <smmintrin.h>

namespace vocrel {
namespace {

// Bits 16..47 of 2 p + 32767 for the two 64-bit lanes, in their low words.
__m128i round_gain(__m128i p) {
  return _mm_srli_epi64(_mm_add_epi64(_mm_add_epi64(p, p), _mm_set1_epi64x(32767)), 16);
}

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

constexpr VecKernels kTable = {&gain_pairs};

}  // namespace

const VecKernels* vec_kernels_sse41() { return &kTable; }

}  // namespace vocrel

#else

const vocrel::VecKernels* vocrel::vec_kernels_sse41() { return nullptr; }

#endif
