// Fixed-point arithmetic primitives shared by every module of the engine.
//
// One exact definition per operation, identical on every target. Names give
// the width and the overflow rule: `_sat` clamps to the signed range of the
// result width, `_wrap` is modulo 2^width (done in unsigned arithmetic, so it
// is defined behaviour). Right shifts of signed values are arithmetic (toward
// minus infinity). Shift counts at or beyond the operand width are spelled
// out: left shifts give 0 (wrap) or the clamp (sat), right shifts give 0 or -1.
#pragma once

#include <cstdint>

namespace vocrel {

inline constexpr std::int32_t kInt16Max = 32767;
inline constexpr std::int32_t kInt16Min = -32768;
inline constexpr std::int32_t kInt32Max = 2147483647;
inline constexpr std::int32_t kInt32Min = -2147483647 - 1;
inline constexpr std::int64_t kInt64Max = 9223372036854775807LL;
inline constexpr std::int64_t kInt64Min = -9223372036854775807LL - 1;

// ---- clamps --------------------------------------------------------------

constexpr std::int16_t sat16(std::int64_t x) {
  return static_cast<std::int16_t>(x > kInt16Max ? kInt16Max : (x < kInt16Min ? kInt16Min : x));
}

constexpr std::int32_t sat32(std::int64_t x) {
  return static_cast<std::int32_t>(x > kInt32Max ? kInt32Max : (x < kInt32Min ? kInt32Min : x));
}

// Low 32 bits of a 64-bit value, reinterpreted as signed.
constexpr std::int32_t lo32(std::int64_t x) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(x)));
}

// Low 16 bits, reinterpreted as signed.
constexpr std::int16_t lo16(std::int64_t x) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(x)));
}

// Upper signed 32-bit word of a 64-bit value (x >> 32).
constexpr std::int32_t hi32(std::int64_t x) { return static_cast<std::int32_t>(x >> 32); }

// ---- 16-bit ----------------------------------------------------------------

constexpr std::int16_t add_sat16(std::int32_t a, std::int32_t b) {
  return sat16(std::int64_t{a} + b);
}
constexpr std::int16_t sub_sat16(std::int32_t a, std::int32_t b) {
  return sat16(std::int64_t{a} - b);
}
constexpr std::int16_t neg_sat16(std::int16_t a) { return sat16(-std::int64_t{a}); }
constexpr std::int16_t abs_sat16(std::int16_t a) { return sat16(a < 0 ? -std::int64_t{a} : a); }

// ---- 32-bit ----------------------------------------------------------------

// The sums detect overflow with the compiler's checked arithmetic (the flags of
// one 32-bit add); on overflow the exact sum lies beyond the limit of b's sign.
constexpr std::int32_t add_sat32(std::int32_t a, std::int32_t b) {
  std::int32_t r = 0;
  if (__builtin_add_overflow(a, b, &r)) return b < 0 ? kInt32Min : kInt32Max;
  return r;
}
constexpr std::int32_t sub_sat32(std::int32_t a, std::int32_t b) {
  std::int32_t r = 0;
  if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? kInt32Max : kInt32Min;
  return r;
}
constexpr std::int32_t neg_sat32(std::int32_t a) { return a == kInt32Min ? kInt32Max : -a; }
constexpr std::int32_t abs_sat32(std::int32_t a) {
  return a >= 0 ? a : (a == kInt32Min ? kInt32Max : -a);
}
static_assert(add_sat32(kInt32Max, 1) == kInt32Max && add_sat32(kInt32Min, -1) == kInt32Min &&
              sub_sat32(0, kInt32Min) == kInt32Max && sub_sat32(-2, kInt32Max) == kInt32Min &&
              abs_sat32(kInt32Min) == kInt32Max && neg_sat32(kInt32Min) == kInt32Max);

constexpr std::int32_t add_wrap32(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr std::int32_t sub_wrap32(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
constexpr std::int32_t neg_wrap32(std::int32_t a) {
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
}

// Halving sum and difference (a +/- b) >> 1, truncated toward minus infinity
// (the result always fits). A 64-bit target forms the exact sum in one
// register; a 32-bit one forms the same value from the bits the operands
// share and the bits they differ in, a + b = 2 (a & b) + (a ^ b) and
// a - b = (a ^ b) - 2 (~a & b), where no step overflows: each form is the
// shorter one on its target, and the two are pinned equal below.
constexpr std::int32_t add_half32_wide(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>((std::int64_t{a} + b) >> 1);
}
constexpr std::int32_t sub_half32_wide(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>((std::int64_t{a} - b) >> 1);
}
constexpr std::int32_t add_half32_narrow(std::int32_t a, std::int32_t b) {
  return (a & b) + ((a ^ b) >> 1);
}
constexpr std::int32_t sub_half32_narrow(std::int32_t a, std::int32_t b) {
  return ((a ^ b) >> 1) - (~a & b);
}
inline constexpr bool kWideRegisters = sizeof(void*) == 8;
constexpr std::int32_t add_half32(std::int32_t a, std::int32_t b) {
  return kWideRegisters ? add_half32_wide(a, b) : add_half32_narrow(a, b);
}
constexpr std::int32_t sub_half32(std::int32_t a, std::int32_t b) {
  return kWideRegisters ? sub_half32_wide(a, b) : sub_half32_narrow(a, b);
}
// Both forms on the extremes, both signs of an odd sum and a carry through bit 31.
constexpr bool halving_forms_agree() {
  constexpr std::int32_t kValues[] = {0,          1,           -1,        2,        -3,
                                      0x40000000, -0x40000001, kInt32Max, kInt32Min};
  for (const std::int32_t a : kValues) {
    for (const std::int32_t b : kValues) {
      if (add_half32_wide(a, b) != add_half32_narrow(a, b)) return false;
      if (sub_half32_wide(a, b) != sub_half32_narrow(a, b)) return false;
    }
  }
  return true;
}
static_assert(halving_forms_agree());
static_assert(add_half32(-3, 0) == -2 && sub_half32(0, 3) == -2);

// Plain left shift modulo 2^32 (s >= 0; s >= 32 gives 0).
constexpr std::int32_t shl_wrap32(std::int32_t x, int s) {
  return s >= 32 ? 0 : static_cast<std::int32_t>(static_cast<std::uint32_t>(x) << s);
}

// Arithmetic right shift (s >= 0; s >= 32 gives 0 or -1).
constexpr std::int32_t shr32(std::int32_t x, int s) {
  return s >= 32 ? (x < 0 ? -1 : 0) : static_cast<std::int32_t>(x >> s);
}

// Left shift clamped to the 32-bit range (s >= 0, any size).
// For s <= 30, x << s is exact when kInt32Min >> s <= x <= kInt32Max >> s,
// which keeps the work in 32 bits (and lets loops over arrays vectorise).
constexpr std::int32_t shl_sat32(std::int32_t x, int s) {
  if (s >= 31) return x > 0 ? kInt32Max : (x < 0 ? kInt32Min : 0);
  if (x > (kInt32Max >> s)) return kInt32Max;
  if (x < (kInt32Min >> s)) return kInt32Min;
  return shl_wrap32(x, s);
}
static_assert(shl_sat32(-1, 31) == kInt32Min && shl_sat32(1, 30) == 1 << 30 &&
              shl_sat32(2, 30) == kInt32Max && shl_sat32(-3, 30) == kInt32Min);

// Shift by a signed count: left (saturating) for s > 0, arithmetic right for s < 0.
constexpr std::int32_t shift_sat32(std::int32_t x, int s) {
  return s >= 0 ? shl_sat32(x, s) : shr32(x, -s);
}

// Shift by a signed count: plain wrapping left for s > 0, arithmetic right for s < 0.
constexpr std::int32_t shift_wrap32(std::int32_t x, int s) {
  return s >= 0 ? shl_wrap32(x, s) : shr32(x, -s);
}

// Rounding right shift: (x + 2^(s-1)) >> s computed in 64 bits (s >= 0).
constexpr std::int32_t shr_round32(std::int32_t x, int s) {
  if (s <= 0) return x;
  if (s >= 63) return 0;
  return static_cast<std::int32_t>((std::int64_t{x} + (std::int64_t{1} << (s - 1))) >> s);
}

// ---- 64-bit ----------------------------------------------------------------

// Overflow detected as in add_sat32 / sub_sat32.
constexpr std::int64_t add_sat64(std::int64_t a, std::int64_t b) {
  std::int64_t r = 0;
  if (__builtin_add_overflow(a, b, &r)) return b < 0 ? kInt64Min : kInt64Max;
  return r;
}
constexpr std::int64_t sub_sat64(std::int64_t a, std::int64_t b) {
  std::int64_t r = 0;
  if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? kInt64Max : kInt64Min;
  return r;
}
static_assert(add_sat64(kInt64Max, 1) == kInt64Max && add_sat64(kInt64Min, -1) == kInt64Min &&
              sub_sat64(-1, kInt64Max) == kInt64Min && sub_sat64(0, kInt64Min) == kInt64Max);
constexpr std::int64_t add_wrap64(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
constexpr std::int64_t sub_wrap64(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}

constexpr std::int64_t shl_wrap64(std::int64_t x, int s) {
  return s >= 64 ? 0 : static_cast<std::int64_t>(static_cast<std::uint64_t>(x) << s);
}
constexpr std::int64_t shr64(std::int64_t x, int s) {
  return s >= 64 ? (x < 0 ? -1 : 0) : (x >> s);
}
constexpr std::int64_t shl_sat64(std::int64_t x, int s) {
  if (x == 0) return 0;
  if (s >= 63) return x > 0 ? kInt64Max : kInt64Min;
  const std::int64_t limit = kInt64Max >> s;
  if (x > limit) return kInt64Max;
  if (x < -limit - 1) return kInt64Min;
  return shl_wrap64(x, s);
}
constexpr std::int64_t shift_sat64(std::int64_t x, int s) {
  return s >= 0 ? shl_sat64(x, s) : shr64(x, -s);
}
constexpr std::int64_t shift_wrap64(std::int64_t x, int s) {
  return s >= 0 ? shl_wrap64(x, s) : shr64(x, -s);
}

// ---- bit counts ------------------------------------------------------------

// The builtins are one instruction on both targets (and usable in constant
// expressions); they are undefined for 0, which is handled first.
constexpr int clz32(std::uint32_t x) { return x == 0 ? 32 : __builtin_clz(x); }

constexpr int clz64(std::uint64_t x) { return x == 0 ? 64 : __builtin_clzll(x); }
static_assert(clz32(1) == 31 && clz32(0x80000000u) == 0 && clz64(0xFFFFFFFFu) == 32);

// Redundant sign bits of a 32-bit value: leading zeros of (x XOR 2x), mod 32.
// norm32(0) = 0, norm32(-1) = 31; for other x the left shift that brings x
// into [2^30, 2^31 - 1] or [-2^31, -2^30 - 1].
constexpr int norm32(std::int32_t x) {
  const auto u = static_cast<std::uint32_t>(x);
  return clz32(u ^ (u << 1)) & 31;
}

// The same for 64-bit values: norm64(0) = 0, norm64(-1) = 63.
constexpr int norm64(std::int64_t x) {
  const auto u = static_cast<std::uint64_t>(x);
  return clz64(u ^ (u << 1)) & 63;
}

// ---- multiplies ------------------------------------------------------------

// Q31 x Q31 -> Q31, truncated: saturate((2ab) >> 32). Only -2^31 * -2^31 clamps.
constexpr std::int32_t mul_dbl_hi32(std::int32_t a, std::int32_t b) {
  if (a == kInt32Min && b == kInt32Min) return kInt32Max;
  return hi32(std::int64_t{a} * b * 2);
}

// Q31 x Q31 -> Q31, rounded: saturate((2ab + 2^31) >> 32).
constexpr std::int32_t mul_dbl_hi_round32(std::int32_t a, std::int32_t b) {
  if (a == kInt32Min && b == kInt32Min) return kInt32Max;
  return hi32(std::int64_t{a} * b * 2 + (std::int64_t{1} << 31));
}

// Q15 x Q15 -> Q31: saturate32(2ab).
// |ab| <= 2^30, and only (-2^15)^2 doubles past 2^31 - 1: the work stays in
// 32 bits.
constexpr std::int32_t mul_dbl16(std::int16_t a, std::int16_t b) {
  const std::int32_t p = std::int32_t{a} * b;
  return p == (std::int32_t{1} << 30) ? kInt32Max : 2 * p;
}
static_assert(mul_dbl16(-32768, -32768) == kInt32Max && mul_dbl16(-32768, 32767) == -2147418112);

// 32 x 32 -> 64 doubled: saturate64(2ab).
constexpr std::int64_t mul_dbl64(std::int32_t a, std::int32_t b) {
  const std::int64_t p = std::int64_t{a} * b;
  if (p > (kInt64Max >> 1)) return kInt64Max;
  if (p < (kInt64Min >> 1)) return kInt64Min;
  return p * 2;
}

// Exact 32 x 32 -> 64 product.
constexpr std::int64_t mul64(std::int32_t a, std::int32_t b) { return std::int64_t{a} * b; }

}  // namespace vocrel
