// SSE4.1 stage kernels (x86-64, built with -msse4.1 and run only on
// processors that have it). Four complex values per step, held as a vector
// of real parts and one of imaginary parts; the lane arithmetic is the one
// both x86 widths share (stage_x86.h).
#include "fft/stage_kernels.h"

#if VOCREL_SIMD && defined(__x86_64__)

#include <smmintrin.h>

#include "fft/stage_simd.h"
#include "fft/stage_x86.h"

namespace vocrel::fft::sse41 {
namespace {

using V = x86::V128;

struct Isa : x86::LaneOps<V> {
  static constexpr std::int32_t kLanes = 4;
  static const StageKernels* narrower() { return stage_kernels_c(); }

  static CLanes load(const std::int32_t* p) {
    CLanes c;
    x86::split4(p, &c.re.v, &c.im.v);
    return c;
  }

  static void store(std::int32_t* p, CLanes c) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi32(c.re.v, c.im.v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 4), _mm_unpackhi_epi32(c.re.v, c.im.v));
  }

  static void load_butterflies(const std::int32_t* p, CLanes* a) {
    __m128i re[4];
    __m128i im[4];
    x86::butterflies4(p, re, im);
    for (int q = 0; q < 4; ++q) a[q] = {{re[q]}, {im[q]}};
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
};

constexpr StageKernels kTable = simd::kernel_table<Isa>();

}  // namespace
}  // namespace vocrel::fft::sse41

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_sse41() { return &sse41::kTable; }

#else

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_sse41() { return nullptr; }

#endif
