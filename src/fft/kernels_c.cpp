// The portable stage kernels (the reference every SIMD variant equals) and
// the choice of the table this machine runs.
#include <cstddef>
#include <utility>

#include "base/cpu_features.h"
#include "fft/fft_kernels.h"
#include "fft/stage_compact.h"
#include "fft/stage_kernels.h"

namespace vocrel::fft {

#if VOCREL_SIMD && defined(__ARM_NEON)

// The NEON stages run every frame: the portable twins only serve the shapes
// too small for the lanes, so they are the compact stages.
const StageKernels* stage_kernels_c() { return stage_kernels_compact(); }

// The target always has NEON: chosen at compile time.
const StageKernels& stage_kernels() { return *stage_kernels_neon(); }

#else

namespace {

constexpr auto kF = Direction::kForward;
constexpr auto kI = Direction::kInverse;

// Number of leading input blocks (of n / R pairs each) that hold a nonzero
// word when every imaginary part of src is zero; -1 when one is not.
std::int32_t real_live_blocks(const std::int32_t* src, std::int32_t n, int radix) {
  std::uint32_t im = 0;
  for (std::int32_t i = 0; i < n; ++i) im |= static_cast<std::uint32_t>(src[2 * i + 1]);
  if (im != 0) return -1;
  const std::int32_t block = n / radix;
  int live = radix;
  for (; live > 1; --live) {
    std::uint32_t re = 0;
    for (std::int32_t i = (live - 1) * block; i < live * block; ++i) {
      re |= static_cast<std::uint32_t>(src[2 * i]);
    }
    if (re != 0) break;
  }
  return live;
}

template <std::size_t... L>
void radix8_first_real_live(const std::int32_t* in, std::int32_t* out, std::int32_t n, int live,
                            std::index_sequence<L...>) {
  constexpr StageFn kFns[] = {&run_first_stage_real<8, kF, false, static_cast<int>(L) + 1>...};
  kFns[live - 1](in, out, nullptr, n, 1);
}

bool radix8_first_real(const std::int32_t* in, std::int32_t* out, std::int32_t n) {
  const std::int32_t live = real_live_blocks(in, n, 8);
  if (live < 0) return false;
  radix8_first_real_live(in, out, n, live, std::make_index_sequence<8>{});
  return true;
}

// Specialised where a frame runs the form (forward plain, inverse plain and
// halving), compact elsewhere.
constexpr StageKernels kPortable = {
    {{&run_stage<4, false, kF, false>, &compact_stage<4, false, kF, true>},
     {&run_stage<4, false, kI, false>, &run_stage<4, false, kI, true>}},
    {{&run_stage<4, true, kF, false>, &compact_stage<4, true, kF, true>},
     {&run_stage<4, true, kI, false>, &run_stage<4, true, kI, true>}},
    {{&compact_head4<kF, false>, &compact_head4<kF, true>},
     {&run_last_stage_real<4, kI, false>, &run_last_stage_real<4, kI, true>}},
    {{&run_stage<8, true, kF, false>, &compact_stage<8, true, kF, true>},
     {&run_stage<8, true, kI, false>, &run_stage<8, true, kI, true>}},
    &radix8_first_real};

}  // namespace

const StageKernels* stage_kernels_c() { return &kPortable; }

#if VOCREL_SIMD && defined(__x86_64__)

namespace {

const StageKernels& avx2_kernels() { return *stage_kernels_avx2(); }
const StageKernels& sse41_kernels() { return *stage_kernels_sse41(); }
const StageKernels& portable_kernels() { return kPortable; }

// Resolved once by the loader (an indirect function), so the choice costs
// nothing per call and lives in no variable of the engine.
VOCREL_RESOLVER const StageKernels& (*vocrel_resolve_stage_kernels())() {
  return choose_by_cpu(&avx2_kernels, &sse41_kernels, &portable_kernels);
}

}  // namespace

const StageKernels& stage_kernels() __attribute__((ifunc("vocrel_resolve_stage_kernels")));

#else

const StageKernels& stage_kernels() { return kPortable; }

#endif
#endif

}  // namespace vocrel::fft
