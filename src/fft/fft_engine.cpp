// Mixed-radix self-sorting complex FFT on interleaved int32 pairs.
#include "fft/fft_engine.h"

#include "fft/fft_setup.h"
#include "fft/stage_compact.h"
#include "fft/stage_kernels.h"
#include "math/fixed.h"

namespace vocrel::fft {
namespace {

// Kernel for one planned stage that is not a real-input or real-head
// special case; radix 8 only ever runs first. The radix-4 and radix-8 stages
// (all the work of the frames) come from the machine's kernel table; radix 2
// (short or partly scaled transforms only) runs the compact stage.
void run_stage_of(const StageKernels& kernels, const Stage& stage, bool first, bool inverse,
                  const std::int32_t* in, std::int32_t* out, const std::int32_t* tw, std::int32_t n,
                  std::int32_t len) {
  switch (stage.radix) {
    case 8:
      kernels.radix8_first[inverse][stage.halving](in, out, tw, n, len);
      break;
    case 4:
      (first ? kernels.radix4_first : kernels.radix4)[inverse][stage.halving](in, out, tw, n, len);
      break;
    default:
      run_stage_compact(in, out, tw, n, len, StageForm{2, first, inverse, stage.halving});
  }
}

// The unhalved forward radix-8 first stage over real input, when the table
// has one that skips zeros; false when the general kernel must run.
bool run_first_real(const StageKernels& kernels, const Stage& stage, bool inverse,
                    const std::int32_t* src, std::int32_t* out, std::int32_t n) {
  return kernels.radix8_first_real != nullptr && !inverse && !stage.halving && stage.radix == 8 &&
         kernels.radix8_first_real(src, out, n);
}

// The later last stage of radix 2 or 4 writing only the real parts of
// outputs 0..kept-1.
void run_head_of(const StageKernels& kernels, const Stage& stage, bool inverse,
                 const std::int32_t* in, std::int32_t* out, const std::int32_t* tw, std::int32_t n,
                 std::int32_t kept) {
  if (stage.radix == 4) {
    kernels.radix4_head[inverse][stage.halving](in, out, tw, n, kept);
  } else {
    run_head_compact(in, out, tw, n, kept, StageForm{2, false, inverse, stage.halving});
  }
}

// Runs the plan; with kept < n (and a later last stage) the last stage
// writes only the real parts of outputs 0..kept-1.
void run_plan(const StagePlan& plan, const std::int32_t* src, std::int32_t* dst,
              const Vocrel_FFTSpec_C_SC32* spec, std::int32_t kept, bool inverse) {
  const std::int32_t n = std::int32_t{1} << plan.order;
  if (plan.stage_count == 0) {
    dst[0] = src[0];
    dst[1] = src[1];
    return;
  }
  const SetupArrays arrays = setup_arrays(spec, n);
  const StageKernels& kernels = stage_kernels();
  const std::int32_t* in = src;
  std::int32_t* out = plan.first_to_dst ? dst : arrays.scratch;
  std::int32_t len = 1;  // sub-transform length before the stage
  for (int i = 0; i < plan.stage_count; ++i) {
    const Stage& stage = plan.stages[static_cast<std::size_t>(i)];
    if (i == 0 && run_first_real(kernels, stage, inverse, src, out, n)) {
      // The zero-skipping first stage has written out.
    } else if (i == plan.stage_count - 1 && i > 0 && kept < n) {
      run_head_of(kernels, stage, inverse, in, out, arrays.twiddle, n, kept);
    } else {
      run_stage_of(kernels, stage, i == 0, inverse, in, out, arrays.twiddle, n, len);
    }
    len *= stage.radix;
    in = out;
    out = (out == dst) ? arrays.scratch : dst;
  }
}

}  // namespace

void transform(const std::int32_t* src, std::int32_t* dst, const Vocrel_FFTSpec_C_SC32* spec,
               int order, std::int32_t scale, Direction dir) {
  transform_real_head(src, dst, spec, order, scale, dir, std::int32_t{1} << order);
}

void transform_real_head(const std::int32_t* src, std::int32_t* dst,
                         const Vocrel_FFTSpec_C_SC32* spec, int order, std::int32_t scale,
                         Direction dir, std::int32_t kept) {
  const StagePlan plan = make_plan(order, scale, dir);
  const std::int32_t n = std::int32_t{1} << order;
  if (kept < 0) kept = 0;
  if (kept > n) kept = n;
  run_plan(plan, src, dst, spec, kept, dir == Direction::kInverse);
  if (plan.final_shift > 0) {
    const std::int32_t words = 2 * n;
    for (std::int32_t i = 0; i < words; ++i) dst[i] = shr_round32(dst[i], plan.final_shift);
  }
}

}  // namespace vocrel::fft
