// The portable FFT stages built for size: one loop for every radix and stage
// form, the direction and halving taken at run time. They write the same
// words as the specialised templates of fft_kernels.h and serve every form
// that no frame runs (radix 2, halving forward stages, the forward head, the
// shapes too small for the SIMD lanes).
#pragma once

#include <cstdint>

#include "fft/fft_plan.h"
#include "fft/stage_kernels.h"

namespace vocrel::fft {

// Four bytes, so that it travels in one register: every kernel-table entry
// below is a call with the form as a constant.
struct StageForm {
  std::int8_t radix;  // 2, 4 or 8 (8 only as the first stage)
  bool first;         // first stage: no twiddles
  bool inverse;       // Direction::kInverse
  bool halving;       // every butterfly addition is (x + y) >> 1
};

// run_stage<form> of fft_kernels.h: n points, sub-transform length len
// before the stage.
void run_stage_compact(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                       std::int32_t n, std::int32_t len, StageForm form);

// run_last_stage_real<form> of fft_kernels.h (a later radix-2 or radix-4
// last stage; only the real parts of outputs 0..kept-1 are written).
void run_head_compact(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                      std::int32_t n, std::int32_t kept, StageForm form);

// The same as kernel-table entries (defined for the forms of StageKernels).
template <int R, bool First, Direction D, bool H>
void compact_stage(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                   std::int32_t n, std::int32_t len);
template <Direction D, bool H>
void compact_head4(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                   std::int32_t n, std::int32_t kept);

// Every entry compact (radix8_first_real null).
const StageKernels* stage_kernels_compact();

}  // namespace vocrel::fft
