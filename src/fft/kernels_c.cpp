// The portable stage kernels (the reference every SIMD variant equals) and
// the choice of the table this machine runs.
#include "fft/fft_kernels.h"
#include "fft/stage_kernels.h"

namespace vocrel::fft {
namespace {

constexpr auto kF = Direction::kForward;
constexpr auto kI = Direction::kInverse;

constexpr StageKernels kPortable = {
    {{&run_stage<4, false, kF, false>, &run_stage<4, false, kF, true>},
     {&run_stage<4, false, kI, false>, &run_stage<4, false, kI, true>}},
    {{&run_stage<4, true, kF, false>, &run_stage<4, true, kF, true>},
     {&run_stage<4, true, kI, false>, &run_stage<4, true, kI, true>}},
    {{&run_last_stage_real<4, kF, false>, &run_last_stage_real<4, kF, true>},
     {&run_last_stage_real<4, kI, false>, &run_last_stage_real<4, kI, true>}},
    {{&run_stage<8, true, kF, false>, &run_stage<8, true, kF, true>},
     {&run_stage<8, true, kI, false>, &run_stage<8, true, kI, true>}},
    true};

}  // namespace

const StageKernels* stage_kernels_c() { return &kPortable; }

#if VOCREL_SIMD && defined(__ARM_NEON)

// The target always has NEON: chosen at compile time.
const StageKernels& stage_kernels() { return *stage_kernels_neon(); }

#elif VOCREL_SIMD && defined(__x86_64__)

namespace {

const StageKernels& avx2_kernels() { return *stage_kernels_avx2(); }
const StageKernels& sse41_kernels() { return *stage_kernels_sse41(); }
const StageKernels& portable_kernels() { return kPortable; }

// Resolved once by the loader (an indirect function), so the choice costs
// nothing per call and lives in no variable of the engine. The resolver runs
// before the sanitizer run-times start, so it is never instrumented.
extern "C" __attribute__((no_sanitize("address", "undefined", "thread")))
const StageKernels& (*vocrel_resolve_stage_kernels())() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return &avx2_kernels;
  if (__builtin_cpu_supports("sse4.1")) return &sse41_kernels;
  return &portable_kernels;
}

}  // namespace

const StageKernels& stage_kernels() __attribute__((ifunc("vocrel_resolve_stage_kernels")));

#else

const StageKernels& stage_kernels() { return kPortable; }

#endif

}  // namespace vocrel::fft
