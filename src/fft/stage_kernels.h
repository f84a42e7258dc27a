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
  // Unhalved forward radix-8 first stage over input whose imaginary parts
  // are all zero (the windowed frames), skipping the input blocks (of n / 8
  // pairs) past the last nonzero one: the same words as radix8_first[0][0].
  // Returns false, writing nothing, when an imaginary part is not zero. Null
  // where skipping the zeros does not pay (against the SIMD stages, and where
  // the portable stages never run per frame).
  bool (*radix8_first_real)(const std::int32_t* in, std::int32_t* out, std::int32_t n);
};

// The portable twins; the SIMD tables, null where the build or the target
// lacks that instruction set. The portable table specialises the forms the
// frame path runs (forward plain, inverse plain and halving) where it is
// the frame path, and takes the compact stages (stage_compact.h) for the
// rest; in a build whose SIMD stages always run (NEON) it is the compact
// table throughout.
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
