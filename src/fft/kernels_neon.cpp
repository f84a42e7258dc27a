// NEON stage kernels (armhf; the target always has NEON). Four complex
// values per step, held as a vector of real parts and one of imaginary parts.
#include "fft/stage_kernels.h"

#if VOCREL_SIMD && defined(__ARM_NEON)

#include <arm_neon.h>

#include "fft/stage_simd.h"

namespace vocrel::fft::neon {
namespace {

struct Lanes {
  int32x4_t v;
};

// Plain lane arithmetic wraps; the halving forms (vhadd, vhsub) are formed
// without overflow and truncate toward minus infinity, as the portable ones.
template <bool H>
Lanes add(Lanes x, Lanes y) {
  return {H ? vhaddq_s32(x.v, y.v) : vaddq_s32(x.v, y.v)};
}

template <bool H>
Lanes sub(Lanes x, Lanes y) {
  return {H ? vhsubq_s32(x.v, y.v) : vsubq_s32(x.v, y.v)};
}

// (2 x sqrt(1/2) + 2^31) >> 32 per lane: the saturating rounding doubling
// high multiply, which cannot saturate here (the constant is not -2^31).
Lanes mul_sqrt_half(Lanes x) { return {vqrdmulhq_n_s32(x.v, kSqrtHalfQ31)}; }

struct CLanes {
  Lanes re;
  Lanes im;
};

// a0 b0 -/+ a1 b1 per lane: a widening multiply and multiply-accumulate
// (exact modulo 2^64), then the rounding narrowing shift, which adds 2^30,
// shifts right by 31 and keeps the low 32 bits.
template <bool Minus>
int32x2_t dot_half(int32x2_t a0, int32x2_t b0, int32x2_t a1, int32x2_t b1) {
  const int64x2_t p = vmull_s32(a0, b0);
  return vrshrn_n_s64(Minus ? vmlsl_s32(p, a1, b1) : vmlal_s32(p, a1, b1), 31);
}

template <bool Minus>
int32x4_t dot(int32x4_t a0, int32x4_t b0, int32x4_t a1, int32x4_t b1) {
  return vcombine_s32(
      dot_half<Minus>(vget_low_s32(a0), vget_low_s32(b0), vget_low_s32(a1), vget_low_s32(b1)),
      dot_half<Minus>(vget_high_s32(a0), vget_high_s32(b0), vget_high_s32(a1), vget_high_s32(b1)));
}

// Lanes over the rows of a 4 x 4 matrix given as its columns.
void transpose(int32x4_t c0, int32x4_t c1, int32x4_t c2, int32x4_t c3, int32x4_t* r) {
  const int32x4x2_t t0 = vtrnq_s32(c0, c1);
  const int32x4x2_t t1 = vtrnq_s32(c2, c3);
  r[0] = vcombine_s32(vget_low_s32(t0.val[0]), vget_low_s32(t1.val[0]));
  r[1] = vcombine_s32(vget_low_s32(t0.val[1]), vget_low_s32(t1.val[1]));
  r[2] = vcombine_s32(vget_high_s32(t0.val[0]), vget_high_s32(t1.val[0]));
  r[3] = vcombine_s32(vget_high_s32(t0.val[1]), vget_high_s32(t1.val[1]));
}

struct Isa {
  using CLanes = neon::CLanes;
  static constexpr std::int32_t kLanes = 4;
  static const StageKernels* narrower() { return stage_kernels_c(); }

  static CLanes load(const std::int32_t* p) {
    const int32x4x2_t v = vld2q_s32(p);
    return {{v.val[0]}, {v.val[1]}};
  }

  static void store(std::int32_t* p, CLanes c) { vst2q_s32(p, int32x4x2_t{{c.re.v, c.im.v}}); }

  static void load_butterflies(const std::int32_t* p, CLanes* a) {
    int32x4_t re[4];
    int32x4_t im[4];
    for (int i = 0; i < 4; ++i) {
      const int32x4x2_t v = vld2q_s32(p + 8 * i);
      re[i] = v.val[0];
      im[i] = v.val[1];
    }
    int32x4_t r[4];
    int32x4_t s[4];
    transpose(re[0], re[1], re[2], re[3], r);
    transpose(im[0], im[1], im[2], im[3], s);
    for (int q = 0; q < 4; ++q) a[q] = {{r[q]}, {s[q]}};
  }

  static CLanes load_pairs(const std::int32_t* p, std::int32_t stride) {
    const int32x4_t lo = vcombine_s32(vld1_s32(p), vld1_s32(p + 2 * stride));
    const int32x4_t hi = vcombine_s32(vld1_s32(p + 4 * stride), vld1_s32(p + 6 * stride));
    const int32x4x2_t v = vuzpq_s32(lo, hi);
    return {{v.val[0]}, {v.val[1]}};
  }

  // One de-interleaving load of eight pairs: lanes 0 and 1 hold the even ones.
  static CLanes load_even_pairs(const std::int32_t* p) {
    const int32x4x4_t v = vld4q_s32(p);
    return {{v.val[0]}, {v.val[1]}};
  }

  static CLanes broadcast(Cplx w) { return {{vdupq_n_s32(w.re)}, {vdupq_n_s32(w.im)}}; }

  template <Direction D>
  static CLanes twiddle_mul(CLanes a, CLanes w) {
    constexpr bool kFwd = D == Direction::kForward;
    return {{dot<kFwd>(a.re.v, w.re.v, a.im.v, w.im.v)},
            {dot<!kFwd>(a.im.v, w.re.v, a.re.v, w.im.v)}};
  }
};

constexpr StageKernels kTable = simd::kernel_table<Isa>();

}  // namespace
}  // namespace vocrel::fft::neon

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_neon() { return &neon::kTable; }

#else

const vocrel::fft::StageKernels* vocrel::fft::stage_kernels_neon() { return nullptr; }

#endif
