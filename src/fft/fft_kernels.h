// Butterfly kernels of the complex FFT, one per radix, as templates over the
// stage form (first stage without twiddles, or later stage), the direction
// and halving. Values are Q-agnostic int32 pairs; twiddles are Q31.
#pragma once

#include <cstdint>

#include "fft/fft_plan.h"
#include "math/constants.h"
#include "math/fixed.h"

namespace vocrel::fft {

struct Cplx {
  std::int32_t re;
  std::int32_t im;
};

inline constexpr std::int64_t kHalfQ31 = std::int64_t{1} << 30;  // rounding of a Q31 product
using math::kSqrtHalfQ31;

// Twiddle product t = a x w (forward) or a x conj(w) (inverse): each part is
// the exact 64-bit sum of two products plus 2^30, shifted right by 31 and
// truncated to its low 32 bits. The sums are formed modulo 2^64, which leaves
// bits 31..62 (all that the result keeps) exact even if a corrupted twiddle
// made the true sum leave the 64-bit range.
template <Direction D>
inline Cplx twiddle_mul(Cplx a, Cplx w) {
  const std::int64_t rr = mul64(a.re, w.re);
  const std::int64_t ii = mul64(a.im, w.im);
  const std::int64_t ir = mul64(a.im, w.re);
  const std::int64_t ri = mul64(a.re, w.im);
  std::int64_t re = 0;
  std::int64_t im = 0;
  if constexpr (D == Direction::kForward) {
    re = sub_wrap64(rr, ii);
    im = add_wrap64(ir, ri);
  } else {
    re = add_wrap64(rr, ii);
    im = sub_wrap64(ir, ri);
  }
  return {lo32(shr64(add_wrap64(re, kHalfQ31), 31)), lo32(shr64(add_wrap64(im, kHalfQ31), 31))};
}

// Butterfly additions: wrapping, or halving ((x + y) >> 1 without overflow).
template <bool H>
inline std::int32_t add(std::int32_t x, std::int32_t y) {
  if constexpr (H) {
    return add_half32(x, y);
  } else {
    return add_wrap32(x, y);
  }
}

template <bool H>
inline std::int32_t sub(std::int32_t x, std::int32_t y) {
  if constexpr (H) {
    return sub_half32(x, y);
  } else {
    return sub_wrap32(x, y);
  }
}

// The complex forms below serve one pair (Cplx) and the lane vectors of the
// SIMD kernels alike: any type with re and im members whose parts have the
// add<H> / sub<H> above (the kernels declare theirs beside their lane type).
template <class C>
concept ComplexParts = requires(C c) {
  c.re;
  c.im;
};

template <bool H, ComplexParts C>
inline C add(C x, C y) {
  return {add<H>(x.re, y.re), add<H>(x.im, y.im)};
}

template <bool H, ComplexParts C>
inline C sub(C x, C y) {
  return {sub<H>(x.re, y.re), sub<H>(x.im, y.im)};
}

// x + i*y = (x.re - y.im, x.im + y.re)
template <bool H, ComplexParts C>
inline C add_i(C x, C y) {
  return {sub<H>(x.re, y.im), add<H>(x.im, y.re)};
}

// x - i*y = (x.re + y.im, x.im - y.re)
template <bool H, ComplexParts C>
inline C sub_i(C x, C y) {
  return {add<H>(x.re, y.im), sub<H>(x.im, y.re)};
}

// Multiplication by sqrt(1/2) in Q31, rounded.
inline std::int32_t mul_sqrt_half(std::int32_t x) { return mul_dbl_hi_round32(x, kSqrtHalfQ31); }

// Outputs y[k] of one butterfly from inputs a[q]. In later stages a[q], q >= 1,
// already holds the twiddle product, which is the negated rotated input (the
// table stores -e^(-i theta)), hence the subtractions where a textbook
// butterfly adds. The inverse differs only by exchanging y[k] and y[R - k].
template <int R, bool First, Direction D, bool H, class C = Cplx>
inline void butterfly(const C* a, C* y) {
  constexpr bool kInv = D == Direction::kInverse;
  if constexpr (R == 2) {
    if constexpr (First) {
      y[0] = add<H>(a[0], a[1]);
      y[1] = sub<H>(a[0], a[1]);
    } else {
      y[0] = sub<H>(a[0], a[1]);
      y[1] = add<H>(a[0], a[1]);
    }
  } else if constexpr (R == 4) {
    C y1{};
    C y3{};
    if constexpr (First) {
      const C s02 = add<H>(a[0], a[2]);
      const C d02 = sub<H>(a[0], a[2]);
      const C s13 = add<H>(a[1], a[3]);
      const C d13 = sub<H>(a[1], a[3]);
      y[0] = add<H>(s02, s13);
      y1 = sub_i<H>(d02, d13);
      y[2] = sub<H>(s02, s13);
      y3 = add_i<H>(d02, d13);
    } else {
      const C p = add<H>(a[0], a[2]);
      const C q = sub<H>(a[0], a[2]);
      const C u = add<H>(a[1], a[3]);
      const C v = sub<H>(a[1], a[3]);
      y[0] = sub<H>(q, u);
      y1 = add_i<H>(p, v);
      y[2] = add<H>(q, u);
      y3 = sub_i<H>(p, v);
    }
    y[kInv ? 3 : 1] = y1;
    y[kInv ? 1 : 3] = y3;
  } else {
    static_assert(R == 8 && First, "radix 8 runs as the first stage only");
    C e[4];
    C f[4];
    for (int q = 0; q < 4; ++q) {
      e[q] = add<H>(a[q], a[q + 4]);
      f[q] = sub<H>(a[q], a[q + 4]);
    }
    const C e02 = add<H>(e[0], e[2]);
    const C d02 = sub<H>(e[0], e[2]);
    const C e13 = add<H>(e[1], e[3]);
    const C d13 = sub<H>(e[1], e[3]);
    const C g = add_i<H>(f[0], f[2]);
    const C h = sub_i<H>(f[0], f[2]);
    const C u = add_i<H>(f[1], f[3]);
    const C v = sub_i<H>(f[1], f[3]);
    // Rotations by -pi/4 (u) and +pi/4 (v) times sqrt(2): the two sums inside
    // them never halve (plain wrapping add<false> / sub<false>).
    const auto ur = mul_sqrt_half(u.re);
    const auto ui = mul_sqrt_half(u.im);
    const auto vr = mul_sqrt_half(v.re);
    const auto vi = mul_sqrt_half(v.im);
    const C ru{sub<false>(ur, ui), add<false>(ur, ui)};
    const C rv{add<false>(vr, vi), sub<false>(vi, vr)};
    y[0] = add<H>(e02, e13);
    y[4] = sub<H>(e02, e13);
    y[kInv ? 6 : 2] = sub_i<H>(d02, d13);
    y[kInv ? 2 : 6] = add_i<H>(d02, d13);
    y[kInv ? 7 : 1] = add<H>(h, rv);
    y[kInv ? 5 : 3] = sub<H>(g, ru);
    y[kInv ? 3 : 5] = sub<H>(h, rv);
    y[kInv ? 1 : 7] = add<H>(g, ru);
  }
}

// Pair i of an interleaved array.
inline Cplx load(const std::int32_t* p, std::int32_t i) { return {p[2 * i], p[2 * i + 1]}; }

inline void store(std::int32_t* p, std::int32_t i, Cplx v) {
  p[2 * i] = v.re;
  p[2 * i + 1] = v.im;
}

// The twiddle -1 (-2^31, 0): its product in either direction is -a * 2^31
// plus 2^30, which the shift by 31 brings back to exactly -a, wrapped to 32
// bits; butterflies that share it skip the four multiplications.
inline bool is_minus_one(Cplx w) { return w.re == kInt32Min && w.im == 0; }

inline Cplx neg_wrap(Cplx a) { return {neg_wrap32(a.re), neg_wrap32(a.im)}; }

// One butterfly reading in[q * in_stride] and writing out[k * out_stride]
// (pair indices); in later stages input q >= 1 is first multiplied by w[q]
// (negated instead when MinusOne says every w[q] is -1).
template <int R, bool First, Direction D, bool H, bool MinusOne = false>
inline void butterfly_at(const std::int32_t* in, std::int32_t in_stride, std::int32_t* out,
                         std::int32_t out_stride, const Cplx* w) {
  Cplx a[R];
  a[0] = load(in, 0);
  for (int q = 1; q < R; ++q) {
    a[q] = load(in, q * in_stride);
    if constexpr (MinusOne) {
      a[q] = neg_wrap(a[q]);
    } else if constexpr (!First) {
      a[q] = twiddle_mul<D>(a[q], w[q]);
    }
  }
  Cplx y[R];
  butterfly<R, First, D, H>(a, y);
  for (int k = 0; k < R; ++k) store(out, k * out_stride, y[k]);
}

// Twiddles T[q*t] of inputs q = 1..R-1 (later stages), loaded once for all
// the butterflies that share them (the compiler cannot hoist them past the
// stores to out, which it must assume may alias the table).
template <int R, bool First>
inline void load_twiddles(const std::int32_t* tw, std::int32_t t, Cplx* w) {
  if constexpr (!First) {
    for (int q = 1; q < R; ++q) w[q] = load(tw, q * t);
  }
}

// One self-sorting stage over n points whose input holds n/len interleaved
// sub-transforms of length len. With G = n / (R * len), butterfly (j, m) reads
// in[(j*R + q)*G + m] and writes out[j*G + m + k*n/R]; later stages first
// multiply input q >= 1 by twiddle T[q*j*G]. The last stage (G = 1) runs as a
// single loop over j, without the per-j set-up of an inner loop of one pass.
template <int R, bool First, Direction D, bool H>
void run_stage(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw, std::int32_t n,
               std::int32_t len) {
  const std::int32_t groups = n / (R * len);
  const std::int32_t out_stride = n / R;
  Cplx w[R] = {};
  if (groups == 1) {
    for (std::int32_t j = 0; j < len; ++j) {
      load_twiddles<R, First>(tw, j, w);
      butterfly_at<R, First, D, H>(in + 2 * R * j, 1, out + 2 * j, out_stride, w);
    }
    return;
  }
  std::int32_t j0 = 0;
  if constexpr (!First) {
    // Sub-transform 0 takes every input at twiddle T[0], the table's -1.
    load_twiddles<R, First>(tw, 0, w);
    if (len > 0 && is_minus_one(w[1])) {
      for (std::int32_t m = 0; m < groups; ++m) {
        butterfly_at<R, First, D, H, true>(in + 2 * m, groups, out + 2 * m, out_stride, w);
      }
      j0 = 1;
    }
  }
  for (std::int32_t j = j0; j < len; ++j) {
    load_twiddles<R, First>(tw, j * groups, w);
    const std::int32_t* in_j = in + 2 * R * j * groups;
    std::int32_t* out_j = out + 2 * j * groups;
    for (std::int32_t m = 0; m < groups; ++m) {
      butterfly_at<R, First, D, H>(in_j + 2 * m, groups, out_j + 2 * m, out_stride, w);
    }
  }
}

// First stage of radix 8 over real input (every imaginary part zero)
// whose inputs q >= Live are all zero (pairs from Live * n / R on): the same
// butterflies with those loads replaced by the zeros they would read.
template <int R, Direction D, bool H, int Live>
void run_first_stage_real(const std::int32_t* in, std::int32_t* out, const std::int32_t*,
                          std::int32_t n, std::int32_t) {
  const std::int32_t groups = n / R;
  for (std::int32_t m = 0; m < groups; ++m) {
    Cplx a[R];
    for (int q = 0; q < R; ++q) a[q] = q < Live ? Cplx{in[2 * (q * groups + m)], 0} : Cplx{0, 0};
    Cplx y[R];
    butterfly<R, true, D, H>(a, y);
    for (int k = 0; k < R; ++k) store(out, m + k * groups, y[k]);
  }
}

// The last stage (one group: len = n / R) of a later radix-2/4 stage for a
// caller that reads only the real parts of outputs 0..kept-1: the same
// butterflies, storing just those words (the imaginary parts, and the
// products that feed only them, drop out).
template <int R, Direction D, bool H>
void run_last_stage_real(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                         std::int32_t n, std::int32_t kept) {
  static_assert(R == 2 || R == 4, "radix 8 runs as the first stage only");
  const std::int32_t len = n / R;
  Cplx w[R] = {};
  for (std::int32_t j = 0; j < len && j < kept; ++j) {
    load_twiddles<R, false>(tw, j, w);
    Cplx a[R];
    a[0] = load(in, R * j);
    for (int q = 1; q < R; ++q) a[q] = twiddle_mul<D>(load(in, R * j + q), w[q]);
    Cplx y[R];
    butterfly<R, false, D, H>(a, y);
    for (int k = 0; k < R; ++k) {
      if (j + k * len < kept) out[2 * (j + k * len)] = y[k].re;
    }
  }
}

}  // namespace vocrel::fft
