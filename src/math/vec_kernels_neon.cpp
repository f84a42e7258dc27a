// NEON vector kernels (armhf; the target always has NEON).
#include "math/vec_kernels.h"

#if VOCREL_SIMD && defined(__ARM_NEON)

#include <arm_neon.h>

namespace vocrel {
namespace {

// Bits 16..47 of 2 p + 32767 per 64-bit lane: the narrowing shift keeps the
// low 32 bits of the shifted value, as lo32 does.
int32x2_t round_gain(int64x2_t p) {
  return vshrn_n_s64(vaddq_s64(vaddq_s64(p, p), vdupq_n_s64(32767)), 16);
}

// Four pairs per step, split into real and imaginary words.
void gain_pairs(std::int32_t* pairs, const std::int16_t* g, std::int32_t count) {
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const int32x4x2_t x = vld2q_s32(pairs + 2 * k);
    const int32x4_t gg = vmovl_s16(vld1_s16(g + k));
    int32x4x2_t y;
    for (int part = 0; part < 2; ++part) {
      y.val[part] =
          vcombine_s32(round_gain(vmull_s32(vget_low_s32(x.val[part]), vget_low_s32(gg))),
                       round_gain(vmull_s32(vget_high_s32(x.val[part]), vget_high_s32(gg))));
    }
    vst2q_s32(pairs + 2 * k, y);
  }
  if (k < count) vec_gain_pairs_c(pairs + 2 * k, g + k, count - k);
}

// Four samples per step: the saturating doubling long multiply is mul_dbl16
// lane by lane, the saturating absolute value abs_sat32.
std::int32_t window_pairs(const std::int16_t* x, const std::int16_t* w, std::int32_t count,
                          std::int32_t* pairs) {
  int32x4_t peak = vdupq_n_s32(0);
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const int32x4_t v = vqdmull_s16(vld1_s16(x + k), vld1_s16(w + k));
    peak = vmaxq_s32(peak, vqabsq_s32(v));
    vst2q_s32(pairs + 2 * k, int32x4x2_t{{v, vdupq_n_s32(0)}});
  }
  const int32x2_t half = vpmax_s32(vget_low_s32(peak), vget_high_s32(peak));
  const std::int32_t m = vget_lane_s32(vpmax_s32(half, half), 0);
  const std::int32_t tail = vec_window_pairs_c(x + k, w + k, count - k, pairs + 2 * k);
  return tail > m ? tail : m;
}

// Four words: the saturating shift by a register count (negative counts shift
// right arithmetically; counts past +-32 act as +-32, clamped first since
// only the count's low byte is read), saturating narrow, saturating
// doubling multiply, and the high halves (which always fit 16 bits).
int16x4_t windowed(const std::int32_t* pairs, const std::int16_t* w, int32x4_t shift) {
  const int32x4_t x = vld2q_s32(pairs).val[0];
  const int16x4_t v = vqmovn_s32(vqshlq_s32(x, shift));
  return vshrn_n_s32(vqdmull_s16(vld1_s16(w), v), 16);
}

void window_ola(const std::int32_t* pairs, const std::int16_t* w, std::int32_t count,
                std::int32_t shift, std::int16_t* out, std::int16_t* tail) {
  const int32x4_t s = vdupq_n_s32(shift > 32 ? 32 : (shift < -32 ? -32 : shift));
  std::int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    vst1_s16(out + k, vqadd_s16(windowed(pairs + 2 * k, w + k, s), vld1_s16(tail + k)));
    vst1_s16(tail + k, windowed(pairs + 2 * (count + k), w + count + k, s));
  }
  for (; k < count; ++k) {
    const std::int32_t two[4] = {pairs[2 * k], 0, pairs[2 * (count + k)], 0};
    const std::int16_t ww[2] = {w[k], w[count + k]};
    vec_window_ola_c(two, ww, 1, shift, out + k, tail + k);
  }
}

// vabs wraps -2^31 to itself, which is 2^31 modulo 2^32, as the twin has it.
std::uint32_t magnitude_bits(const std::int32_t* words, std::int32_t count) {
  uint32x4_t bits = vdupq_n_u32(0);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    bits = vorrq_u32(bits, vreinterpretq_u32_s32(vabsq_s32(vld1q_s32(words + i))));
  }
  const uint32x2_t half = vorr_u32(vget_low_u32(bits), vget_high_u32(bits));
  return vget_lane_u32(half, 0) | vget_lane_u32(half, 1) |
         vec_magnitude_bits_c(words + i, count - i);
}

// A shift by a register count: negative counts shift right arithmetically;
// +32 gives 0 and -32 the sign, as the twin has it.
void shift_words(std::int32_t* words, std::int32_t count, std::int32_t s) {
  const int32x4_t n = vdupq_n_s32(s > 32 ? 32 : (s < -32 ? -32 : s));
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) vst1q_s32(words + i, vshlq_s32(vld1q_s32(words + i), n));
  vec_shift_words_c(words + i, count - i, s);
}

constexpr VecKernels kTable = {&gain_pairs, &window_pairs, &window_ola, &magnitude_bits,
                               &shift_words};

}  // namespace

const VecKernels* vec_kernels_neon() { return &kTable; }

}  // namespace vocrel

#else

const vocrel::VecKernels* vocrel::vec_kernels_neon() { return nullptr; }

#endif
