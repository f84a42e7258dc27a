// The FFT stage kernels that have SIMD variants, as one table per
// instruction set, and the table this machine runs. Every variant gives the
// same words as the portable twin (kernels_c.cpp), which is the reference.
#pragma once

#include <cstdint>

namespace vocrel::fft {

using StageFn = void (*)(const std::int32_t*, std::int32_t*, const std::int32_t*, std::int32_t,
                         std::int32_t);

struct StageKernels {
  // Later (twiddled) radix-4 stage, [inverse][halving]: in, out, twiddles,
  // points n, sub-transform length before the stage.
  StageFn radix4[2][2];
  // First radix-4 stage (no twiddles), [inverse][halving].
  StageFn radix4_first[2][2];
  // Later radix-4 stage that is the last one, for a caller reading only the
  // real parts of outputs 0..kept-1 (the last argument is kept instead of
  // the length), [inverse][halving].
  StageFn radix4_head[2][2];
  // First radix-8 stage, [inverse][halving].
  StageFn radix8_first[2][2];
  // Whether the engine should run its zero-skipping scalar radix-8 first
  // stage over real frames (it pays only against the portable stage).
  bool real_first_stage;
};

// The portable twins; the SIMD tables, null where the build or the target
// lacks that instruction set.
const StageKernels* stage_kernels_c();
const StageKernels* stage_kernels_sse41();
const StageKernels* stage_kernels_avx2();
const StageKernels* stage_kernels_neon();

// The table chosen once for this machine: NEON on armhf (the target always
// has it); on x86-64 AVX2, else SSE4.1, when the processor has it (decided
// when the library is loaded), else the portable twins. A build with VOCREL_SIMD off
// always gets the portable twins.
const StageKernels& stage_kernels();

}  // namespace vocrel::fft
