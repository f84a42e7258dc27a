// Internal entry of the complex FFT engine, shared by the exported complex
// transforms and by the block-scaled real-frame transforms.
#pragma once

#include <cstdint>

#include "fft/fft_plan.h"
#include "fft/vocrel_fft.h"

namespace vocrel::fft {

// Transform of 2^order points (0 <= order <= kMaxOrder) from src to dst (n
// interleaved pairs each) using the set-up memory at spec, which must have
// been laid out for exactly this length; spec->N is not read. scale follows
// make_plan. src is read by the first stage only; src, dst and the set-up's
// scratch array must not overlap.
void transform(const std::int32_t* src, std::int32_t* dst, const Vocrel_FFTSpec_C_SC32* spec,
               int order, std::int32_t scale, Direction dir);

// The same transform for a caller that reads only the real parts of outputs
// 0..kept-1 (0 <= kept <= 2^order): those words are identical, the others of
// dst are left unspecified.
void transform_real_head(const std::int32_t* src, std::int32_t* dst,
                         const Vocrel_FFTSpec_C_SC32* spec, int order, std::int32_t scale,
                         Direction dir, std::int32_t kept);

}  // namespace vocrel::fft
