// Mixed-radix self-sorting complex FFT on interleaved int32 pairs.
#include "fft/fft_engine.h"

#include <utility>

#include "fft/fft_kernels.h"
#include "fft/fft_setup.h"
#include "fft/stage_kernels.h"
#include "math/fixed.h"

namespace vocrel::fft {
namespace {

template <int R, bool First, Direction D>
constexpr StageFn pick_halving(bool halving) {
  return halving ? &run_stage<R, First, D, true> : &run_stage<R, First, D, false>;
}

// Kernel for one planned stage; radix 8 only ever runs first. The later
// radix-4 stages (most of the work) come from the machine's kernel table.
template <Direction D>
StageFn pick_kernel(const StageKernels& kernels, const Stage& stage, bool first) {
  switch (stage.radix) {
    case 8:
      return kernels.radix8_first[D == Direction::kInverse][stage.halving];
    case 4:
      return first ? kernels.radix4_first[D == Direction::kInverse][stage.halving]
                   : kernels.radix4[D == Direction::kInverse][stage.halving];
    default:
      return first ? pick_halving<2, true, D>(stage.halving)
                   : pick_halving<2, false, D>(stage.halving);
  }
}

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

template <int R, Direction D, std::size_t... L>
constexpr StageFn pick_first_real(int live, std::index_sequence<L...>) {
  constexpr StageFn kFns[] = {&run_first_stage_real<R, D, false, static_cast<int>(L) + 1>...};
  return kFns[live - 1];
}

// Unhalved forward radix-8 first stage over real input with zero tail
// blocks (the windowed frames), or null when the general kernel must run.
// (The general radix-4 first stage vectorises and costs less than the test.)
template <Direction D>
StageFn first_stage_real(const Stage& stage, const std::int32_t* src, std::int32_t n) {
  if (D != Direction::kForward || stage.halving || stage.radix != 8) return nullptr;
  const std::int32_t live = real_live_blocks(src, n, stage.radix);
  if (live < 0) return nullptr;
  return pick_first_real<8, D>(live, std::make_index_sequence<8>{});
}

using LastStageFn = void (*)(const std::int32_t*, std::int32_t*, const std::int32_t*, std::int32_t,
                             std::int32_t);

// Real-head kernel for a later last stage of radix 2 or 4.
template <Direction D>
LastStageFn pick_last_real(const StageKernels& kernels, const Stage& stage) {
  if (stage.radix == 4) return kernels.radix4_head[D == Direction::kInverse][stage.halving];
  return stage.halving ? &run_last_stage_real<2, D, true> : &run_last_stage_real<2, D, false>;
}

// Runs the plan; with kept < n (and a later last stage) the last stage
// writes only the real parts of outputs 0..kept-1.
template <Direction D>
void run_plan(const StagePlan& plan, const std::int32_t* src, std::int32_t* dst,
              const Vocrel_FFTSpec_C_SC32* spec, std::int32_t kept) {
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
    const StageFn real_first =
        i == 0 && kernels.real_first_stage ? first_stage_real<D>(stage, src, n) : nullptr;
    if (real_first != nullptr) {
      real_first(in, out, arrays.twiddle, n, len);
    } else if (i == plan.stage_count - 1 && i > 0 && kept < n) {
      pick_last_real<D>(kernels, stage)(in, out, arrays.twiddle, n, kept);
    } else {
      pick_kernel<D>(kernels, stage, i == 0)(in, out, arrays.twiddle, n, len);
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
  if (dir == Direction::kForward) {
    run_plan<Direction::kForward>(plan, src, dst, spec, kept);
  } else {
    run_plan<Direction::kInverse>(plan, src, dst, spec, kept);
  }
  if (plan.final_shift > 0) {
    const std::int32_t words = 2 * n;
    for (std::int32_t i = 0; i < words; ++i) dst[i] = shr_round32(dst[i], plan.final_shift);
  }
}

}  // namespace vocrel::fft

namespace {

// The exported transforms trust nothing in the record: a length that is not a
// power of two from 1 to 4096 (or a scale out of range) leaves every buffer
// untouched. Returns the order, or -1 when the call must be refused.
int usable_order(const int32_t* src, const int32_t* dst, const Vocrel_FFTSpec_C_SC32* spec) {
  if (src == nullptr || dst == nullptr || spec == nullptr) return -1;
  const std::int32_t n = spec->N;
  return vocrel::fft::valid_length(n) ? vocrel::fft::order_of_length(n) : -1;
}

}  // namespace

extern "C" int32_t Vocrel_FFTFwd_C_SC32(const int32_t* src, int32_t* dst,
                                        const Vocrel_FFTSpec_C_SC32* spec, int32_t scale) {
  using namespace vocrel::fft;
  const int order = usable_order(src, dst, spec);
  if (order < 0 || scale < 0) return 0;
  transform(src, dst, spec, order, scale, Direction::kForward);
  return 0;
}

extern "C" int32_t Vocrel_FFTInv_C_SC32(const int32_t* src, int32_t* dst,
                                        const Vocrel_FFTSpec_C_SC32* spec, int32_t scale) {
  using namespace vocrel::fft;
  const int order = usable_order(src, dst, spec);
  if (order < 0 || scale < -order) return 0;
  transform(src, dst, spec, order, scale, Direction::kInverse);
  return 0;
}
