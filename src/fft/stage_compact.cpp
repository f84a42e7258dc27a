// The compact portable stages: one loop for all forms, built for size (the
// build compiles this file with -Os). A butterfly runs the forward order of
// the specialised butterfly and reorders its outputs for the inverse.
#include "fft/stage_compact.h"

#include "fft/fft_kernels.h"

namespace vocrel::fft {
namespace {

constexpr auto kF = Direction::kForward;
constexpr auto kI = Direction::kInverse;
constexpr int kMaxRadix = 8;

// The butterflies run on this file's own pair type, so that their copies
// built for size stay internal to it and never stand in for the
// specialised kernels' ones.
struct Pair {
  std::int32_t re;
  std::int32_t im;
};

// Forward-order outputs y[0..R) of one butterfly of the given radix and
// stage form.
template <bool H>
void forward_butterfly(int radix, bool first, const Pair* a, Pair* y) {
  if (radix == 8) {
    butterfly<8, true, kF, H, Pair>(a, y);
  } else if (radix == 4) {
    if (first) {
      butterfly<4, true, kF, H, Pair>(a, y);
    } else {
      butterfly<4, false, kF, H, Pair>(a, y);
    }
  } else if (first) {
    butterfly<2, true, kF, H, Pair>(a, y);
  } else {
    butterfly<2, false, kF, H, Pair>(a, y);
  }
}

// One butterfly over inputs in[q * stride], q < R, inputs q >= 1 of a later
// stage first multiplied by w[q]; y in the order of the form's direction
// (the inverse exchanges outputs k and R - k).
void butterfly_any(const std::int32_t* in, std::int32_t stride, const Cplx* w,
                   const StageForm& form, Cplx* y) {
  Pair a[kMaxRadix];
  for (int q = 0; q < form.radix; ++q) {
    Cplx v = load(in, q * stride);
    if (q > 0 && !form.first) {
      v = form.inverse ? twiddle_mul<kI>(v, w[q]) : twiddle_mul<kF>(v, w[q]);
    }
    a[q] = {v.re, v.im};
  }
  Pair x[kMaxRadix];
  if (form.halving) {
    forward_butterfly<true>(form.radix, form.first, a, x);
  } else {
    forward_butterfly<false>(form.radix, form.first, a, x);
  }
  for (int k = 0; k < form.radix; ++k) {
    const Pair& v = x[form.inverse ? (form.radix - k) % form.radix : k];
    y[k] = {v.re, v.im};
  }
}

// Twiddles T[q t] of inputs q = 1..R-1 of a later stage (zero for a first).
void load_twiddles_any(const std::int32_t* tw, std::int32_t t, const StageForm& form, Cplx* w) {
  for (int q = 1; q < form.radix; ++q) w[q] = form.first ? Cplx{0, 0} : load(tw, q * t);
}

}  // namespace

void run_stage_compact(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                       std::int32_t n, std::int32_t len, StageForm form) {
  const std::int32_t groups = n / (form.radix * len);
  const std::int32_t out_stride = n / form.radix;
  for (std::int32_t j = 0; j < len; ++j) {
    Cplx w[kMaxRadix] = {};
    load_twiddles_any(tw, j * groups, form, w);
    for (std::int32_t m = 0; m < groups; ++m) {
      Cplx y[kMaxRadix];
      butterfly_any(in + 2 * (form.radix * j * groups + m), groups, w, form, y);
      for (int k = 0; k < form.radix; ++k) store(out, j * groups + m + k * out_stride, y[k]);
    }
  }
}

void run_head_compact(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                      std::int32_t n, std::int32_t kept, StageForm form) {
  const std::int32_t len = n / form.radix;
  for (std::int32_t j = 0; j < len && j < kept; ++j) {
    Cplx w[kMaxRadix] = {};
    load_twiddles_any(tw, j, form, w);
    Cplx y[kMaxRadix];
    butterfly_any(in + 2 * form.radix * j, 1, w, form, y);
    for (int k = 0; k < form.radix; ++k) {
      if (j + k * len < kept) out[2 * (j + k * len)] = y[k].re;
    }
  }
}

template <int R, bool First, Direction D, bool H>
void compact_stage(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                   std::int32_t n, std::int32_t len) {
  run_stage_compact(in, out, tw, n, len, StageForm{R, First, D == kI, H});
}

template <Direction D, bool H>
void compact_head4(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                   std::int32_t n, std::int32_t kept) {
  run_head_compact(in, out, tw, n, kept, StageForm{4, false, D == kI, H});
}

namespace {

constexpr StageKernels kCompact = {
    {{&compact_stage<4, false, kF, false>, &compact_stage<4, false, kF, true>},
     {&compact_stage<4, false, kI, false>, &compact_stage<4, false, kI, true>}},
    {{&compact_stage<4, true, kF, false>, &compact_stage<4, true, kF, true>},
     {&compact_stage<4, true, kI, false>, &compact_stage<4, true, kI, true>}},
    {{&compact_head4<kF, false>, &compact_head4<kF, true>},
     {&compact_head4<kI, false>, &compact_head4<kI, true>}},
    {{&compact_stage<8, true, kF, false>, &compact_stage<8, true, kF, true>},
     {&compact_stage<8, true, kI, false>, &compact_stage<8, true, kI, true>}},
    nullptr};

}  // namespace

// The entries other files' tables take.
template void compact_stage<4, false, kF, false>(const std::int32_t*, std::int32_t*,
                                                 const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<4, false, kF, true>(const std::int32_t*, std::int32_t*,
                                                const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<4, false, kI, false>(const std::int32_t*, std::int32_t*,
                                                 const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<4, false, kI, true>(const std::int32_t*, std::int32_t*,
                                                const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<4, true, kF, false>(const std::int32_t*, std::int32_t*,
                                                const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<4, true, kF, true>(const std::int32_t*, std::int32_t*,
                                               const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<4, true, kI, false>(const std::int32_t*, std::int32_t*,
                                                const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<4, true, kI, true>(const std::int32_t*, std::int32_t*,
                                               const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<8, true, kF, false>(const std::int32_t*, std::int32_t*,
                                                const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<8, true, kF, true>(const std::int32_t*, std::int32_t*,
                                               const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<8, true, kI, false>(const std::int32_t*, std::int32_t*,
                                                const std::int32_t*, std::int32_t, std::int32_t);
template void compact_stage<8, true, kI, true>(const std::int32_t*, std::int32_t*,
                                               const std::int32_t*, std::int32_t, std::int32_t);
template void compact_head4<kF, false>(const std::int32_t*, std::int32_t*, const std::int32_t*,
                                       std::int32_t, std::int32_t);
template void compact_head4<kF, true>(const std::int32_t*, std::int32_t*, const std::int32_t*,
                                      std::int32_t, std::int32_t);
template void compact_head4<kI, false>(const std::int32_t*, std::int32_t*, const std::int32_t*,
                                       std::int32_t, std::int32_t);
template void compact_head4<kI, true>(const std::int32_t*, std::int32_t*, const std::int32_t*,
                                      std::int32_t, std::int32_t);

const StageKernels* stage_kernels_compact() { return &kCompact; }

}  // namespace vocrel::fft
