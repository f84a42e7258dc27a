// The FFT stages over lanes of kLanes butterflies, for the SIMD kernel
// files. Each defines, in its own namespace (the x86 widths share theirs,
// stage_x86.h),
//   Lanes                  kLanes int32 lanes, with add<H> / sub<H>;
//   CLanes {Lanes re, im}  kLanes complex values, one per lane;
// and a struct Isa with
//   kLanes                 4 or 8;
//   narrower()             the table that runs shapes these lanes do not fit;
//   load(p) / store(p, c)  kLanes consecutive interleaved pairs at p;
//   load_butterflies(p, a) the four inputs of kLanes consecutive last-stage
//                          butterflies (4 kLanes pairs at p) into a[0..3];
//   load_pairs(p, stride)  pairs p[0], p[stride], ... (kLanes of them);
//   (optional) load_even_pairs(p)  pairs p[0], p[2], ... (kLanes of them),
//                          reading the 2 kLanes pairs from p;
//   (optional) load_halves(p, q) and broadcast_halves(v, w): kLanes / 2
//                          consecutive pairs from p then from q, and pair v in
//                          the lower half of the lanes, w in the upper one;
//   broadcast(w)           one pair in every lane;
//   twiddle_mul<D>(a, w)   the rounded Q31 twiddle product, lane by lane;
//   mul_sqrt_half(x)       (2 x kSqrtHalfQ31 + 2^31) >> 32 per lane (never
//                          saturates: the constant is not -2^31).
// The butterfly itself is the one the portable twin runs (fft_kernels.h).
#pragma once

#include "fft/fft_kernels.h"
#include "fft/stage_compact.h"
#include "fft/stage_kernels.h"

namespace vocrel::fft::simd {
namespace {

// Twiddle pair i. An own copy with internal linkage: a shared inline function
// built with this file's instruction set could otherwise be the copy the
// linker keeps for the baseline code.
inline Cplx twiddle_at(const std::int32_t* tw, std::int32_t i) {
  return {tw[2 * i], tw[2 * i + 1]};
}

}  // namespace

// Stage with G = n / (4 len) groups, a multiple of kLanes: lanes run over
// consecutive groups m, which share every twiddle. Sub-transform 0 takes the
// table's -1 like any twiddle: its rounded product is the wrapped negation,
// word for word.
template <class Isa, Direction D, bool H>
void grouped_stage(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw,
                   std::int32_t n, std::int32_t len, std::int32_t groups) {
  using CL = typename Isa::CLanes;
  const std::int32_t out_stride = n / 4;
  for (std::int32_t j = 0; j < len; ++j) {
    const Cplx w1 = twiddle_at(tw, j * groups);
    const CL w[4] = {{},
                     Isa::broadcast(w1),
                     Isa::broadcast(twiddle_at(tw, 2 * j * groups)),
                     Isa::broadcast(twiddle_at(tw, 3 * j * groups))};
    const std::int32_t* in_j = in + 2 * 4 * j * groups;
    std::int32_t* out_j = out + 2 * j * groups;
    for (std::int32_t m = 0; m < groups; m += Isa::kLanes) {
      CL a[4];
      a[0] = Isa::load(in_j + 2 * m);
      for (int q = 1; q < 4; ++q) {
        const CL x = Isa::load(in_j + 2 * (q * groups + m));
        a[q] = Isa::template twiddle_mul<D>(x, w[q]);
      }
      CL y[4];
      butterfly<4, false, D, H>(a, y);
      for (int k = 0; k < 4; ++k) Isa::store(out_j + 2 * (m + k * out_stride), y[k]);
    }
  }
}

// Stage with kLanes / 2 groups (len even), for a table whose Isa can fill
// the two halves of its lanes apart: each vector holds the groups of two
// consecutive sub-transforms j and j + 1, whose inputs lie 4 G pairs apart
// and whose outputs are adjacent. The table's -1 needs no plain negation
// here: its rounded product is the wrapped negation, word for word.
template <class Isa, Direction D, bool H>
void paired_stage(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw, std::int32_t n,
                  std::int32_t len, std::int32_t groups) {
  using CL = typename Isa::CLanes;
  const std::int32_t out_stride = n / 4;
  for (std::int32_t j = 0; j < len; j += 2) {
    CL w[4];
    for (int q = 1; q < 4; ++q) {
      w[q] = Isa::broadcast_halves(twiddle_at(tw, q * j * groups),
                                   twiddle_at(tw, q * (j + 1) * groups));
    }
    const std::int32_t* in_j = in + 2 * 4 * j * groups;
    CL a[4];
    a[0] = Isa::load_halves(in_j, in_j + 2 * 4 * groups);
    for (int q = 1; q < 4; ++q) {
      const std::int32_t* p = in_j + 2 * q * groups;
      a[q] = Isa::template twiddle_mul<D>(Isa::load_halves(p, p + 2 * 4 * groups), w[q]);
    }
    CL y[4];
    butterfly<4, false, D, H>(a, y);
    for (int k = 0; k < 4; ++k) Isa::store(out + 2 * (j * groups + k * out_stride), y[k]);
  }
}

// Last stage (one group, len = n / 4): lanes run over consecutive
// butterflies j, each with its own twiddles T[q j]. Butterfly j reads the
// pairs 4j..4j+3 and writes pair j of each output quarter.
// Butterflies 0..count-1 run (count a multiple of kLanes).
template <class Isa, Direction D, bool H>
void last_stage(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw, std::int32_t len,
                std::int32_t count) {
  using CL = typename Isa::CLanes;
  for (std::int32_t j = 0; j < count; j += Isa::kLanes) {
    CL a[4];
    Isa::load_butterflies(in + 2 * 4 * j, a);
    // Twiddles T[q j], T[q (j + 1)], ...: consecutive pairs for q = 1, every
    // other pair for q = 2 (where the Isa loads them at once, reading up to
    // T[2 j + 2 kLanes - 1], below the last pair q = 3 reads).
    a[1] = Isa::template twiddle_mul<D>(a[1], Isa::load(tw + 2 * j));
    if constexpr (requires { Isa::load_even_pairs(tw); }) {
      a[2] = Isa::template twiddle_mul<D>(a[2], Isa::load_even_pairs(tw + 4 * j));
    } else {
      a[2] = Isa::template twiddle_mul<D>(a[2], Isa::load_pairs(tw + 4 * j, 2));
    }
    a[3] = Isa::template twiddle_mul<D>(a[3], Isa::load_pairs(tw + 6 * j, 3));
    CL y[4];
    butterfly<4, false, D, H>(a, y);
    for (int k = 0; k < 4; ++k) Isa::store(out + 2 * (j + k * len), y[k]);
  }
}

// The later radix-4 stage; shapes the lanes do not fit run the narrower
// table (in the end the portable twin), through its table so that no copy of
// it is built with this file's instruction set.
template <class Isa, Direction D, bool H>
void radix4_stage(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw, std::int32_t n,
                  std::int32_t len) {
  const std::int32_t groups = n / (4 * len);
  if (groups == 1 && len % Isa::kLanes == 0) {
    last_stage<Isa, D, H>(in, out, tw, len, len);
  } else if (groups % Isa::kLanes == 0) {
    grouped_stage<Isa, D, H>(in, out, tw, n, len, groups);
  } else if constexpr (requires { Isa::load_halves(in, in); }) {
    if (2 * groups == Isa::kLanes && len % 2 == 0) {
      paired_stage<Isa, D, H>(in, out, tw, n, len, groups);
    } else {
      Isa::narrower()->radix4[D == Direction::kInverse][H](in, out, tw, n, len);
    }
  } else {
    Isa::narrower()->radix4[D == Direction::kInverse][H](in, out, tw, n, len);
  }
}

// First stage of radix R (no twiddles; len = 1): lanes run over
// consecutive groups m. The directions differ only in where the outputs go
// (the inverse exchanges outputs k and R - k), so one body serves both; it
// stays out of line so that the two directions share it.
template <class Isa, int R, bool H>
__attribute__((noinline)) void first_stage_either(const std::int32_t* in, std::int32_t* out,
                                                  const std::int32_t* tw, std::int32_t n,
                                                  std::int32_t len, bool inverse) {
  using CL = typename Isa::CLanes;
  const std::int32_t groups = n / R;
  if (groups % Isa::kLanes != 0) {
    const StageKernels& c = *Isa::narrower();
    (R == 4 ? c.radix4_first : c.radix8_first)[inverse][H](in, out, tw, n, len);
    return;
  }
  // Input q and output k lie q and k blocks of groups pairs on; the inverse
  // takes outputs 1..R-1 backwards from the last block. Each access steps on
  // from the one before (word offsets), so that no table of addresses is kept.
  const std::int32_t block = 2 * groups;
  const std::int32_t out_step = inverse ? -block : block;
  const std::int32_t first_out = inverse ? (R - 1) * block : block;
  for (std::int32_t m = 0; m < groups; m += Isa::kLanes) {
    CL a[R];
    std::int32_t at = 2 * m;
    for (int q = 0; q < R; ++q, at += block) a[q] = Isa::load(in + at);
    CL y[R];
    butterfly<R, true, Direction::kForward, H>(a, y);
    Isa::store(out + 2 * m, y[0]);
    at = 2 * m + first_out;
    for (int k = 1; k < R; ++k, at += out_step) Isa::store(out + at, y[k]);
  }
}

template <class Isa, int R, Direction D, bool H>
void first_stage(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw, std::int32_t n,
                 std::int32_t len) {
  first_stage_either<Isa, R, H>(in, out, tw, n, len, D == Direction::kInverse);
}

// Later last radix-4 stage for a caller that reads only the real parts of
// outputs 0..kept-1: the butterflies j < kept (rounded up to whole lanes)
// run in full, the rest not at all. Output j + k len comes from butterfly j,
// so every kept word is written; the other words are the caller's to ignore.
template <class Isa, Direction D, bool H>
void radix4_head(const std::int32_t* in, std::int32_t* out, const std::int32_t* tw, std::int32_t n,
                 std::int32_t kept) {
  const std::int32_t len = n / 4;
  if (len % Isa::kLanes != 0) {
    Isa::narrower()->radix4_head[D == Direction::kInverse][H](in, out, tw, n, kept);
    return;
  }
  const std::int32_t count =
      kept < len ? (kept + Isa::kLanes - 1) / Isa::kLanes * Isa::kLanes : len;
  last_stage<Isa, D, H>(in, out, tw, len, count);
}

// The kernel table of one instruction set: lanes for the forms a frame runs
// (forward plain and inverse halving for the floor-noise path, inverse plain
// for the environment-noise path when it is built); the compact portable
// stages for the rest, which no frame runs.
template <class Isa>
constexpr StageKernels kernel_table() {
  constexpr auto kF = Direction::kForward;
  constexpr auto kI = Direction::kInverse;
#if VOCREL_MODE1
  return {{{&radix4_stage<Isa, kF, false>, &compact_stage<4, false, kF, true>},
           {&radix4_stage<Isa, kI, false>, &radix4_stage<Isa, kI, true>}},
          {{&first_stage<Isa, 4, kF, false>, &compact_stage<4, true, kF, true>},
           {&first_stage<Isa, 4, kI, false>, &first_stage<Isa, 4, kI, true>}},
          {{&compact_head4<kF, false>, &compact_head4<kF, true>},
           {&radix4_head<Isa, kI, false>, &radix4_head<Isa, kI, true>}},
          {{&first_stage<Isa, 8, kF, false>, &compact_stage<8, true, kF, true>},
           {&first_stage<Isa, 8, kI, false>, &first_stage<Isa, 8, kI, true>}},
          nullptr};
#else
  return {{{&radix4_stage<Isa, kF, false>, &compact_stage<4, false, kF, true>},
           {&compact_stage<4, false, kI, false>, &radix4_stage<Isa, kI, true>}},
          {{&first_stage<Isa, 4, kF, false>, &compact_stage<4, true, kF, true>},
           {&compact_stage<4, true, kI, false>, &first_stage<Isa, 4, kI, true>}},
          {{&compact_head4<kF, false>, &compact_head4<kF, true>},
           {&compact_head4<kI, false>, &radix4_head<Isa, kI, true>}},
          {{&first_stage<Isa, 8, kF, false>, &compact_stage<8, true, kF, true>},
           {&compact_stage<8, true, kI, false>, &first_stage<Isa, 8, kI, true>}},
          nullptr};
#endif
}

}  // namespace vocrel::fft::simd
