// Square roots: a table-interpolated 32-bit vector form (Q16 result) and a
// 64-bit form refined by two Newton steps from a 128-segment seed table.
#include <algorithm>
#include <cstdint>

#include "math/constants.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;

// sqrt(x) in Q16 (x an integer), saturating to 2^31 - 1 for x >= 2^30;
// then (root + offset) >> shift. Non-positive x give 0 >> shift: no offset.
std::int32_t sqrt32_q16(std::int32_t x, std::int32_t offset, std::int32_t shift,
                        const std::int16_t* table) {
  std::int32_t r = 0;
  if (x > 0) {
    const int c = norm32(x);
    const std::int32_t xn = shl_wrap32(x, c);
    // Odd shifts keep one more bit so the mantissa g / 2^19 lies in [2, 4)
    // (even: [1, 2)) and the exponent left to undo is even.
    const std::int32_t g = (c & 1) != 0 ? xn >> 10 : xn >> 11;
    const std::int32_t h = g >> 16;    // 8..31: table segment h - 8, 1/8 wide
    const std::int32_t f = g & 65535;  // Q16 weight inside the segment
    const std::int64_t s0 = static_cast<std::uint16_t>(table[h - 8]);
    const std::int64_t s1 = static_cast<std::uint16_t>(table[h - 7]);
    // Both terms are >= 0, so the inner saturation never changes the outer:
    // sat32(sat32(s0 (2^16 - f)) + s1 f) = min(s0 (2^16 - f) + s1 f, 2^31 - 1).
    const auto v = static_cast<std::int32_t>(
        std::min(s0 * (65536 - f) + s1 * f, std::int64_t{kInt32Max}));  // mantissa root, Q30
    const int e = -c / 2 - (c & 1) + 1;                                 // floor(-c / 2) + 1
    r = add_sat32(shift_sat32(v, e), offset);  // sqrt(x) in Q16, plus offset
  }
  return shift >= 0 ? shr32(r, shift) : shl_sat32(r, -shift);
}

// Rounded integer root of x (0 <= x < 2^63). Products are doubled and saturated
// to 64 bits; additions saturate. The seeds a and b lie in (0, 2^31) (the
// table rule checked in tables.cpp), and y1, y2 exceed -2^31 since a > 0: so
// every doubled square or product below is under 2^63 in magnitude, and the
// differences of two values in [0, 2^63) fit, so none of those steps can
// saturate and they run as plain 64-bit arithmetic. The two 32-bit sums can.
std::int32_t sqrt_i64(std::int64_t x, const std::int32_t (*seeds)[2]) {
  // Even normalising shift: the redundant sign bits of x (clz64(x) - 1 for
  // x >= 0) rounded down to even; x = 0 and x = 1 both give 62.
  const int e = (clz64(static_cast<std::uint64_t>(x)) - 1) & ~1;
  const std::int64_t xn = shl_wrap64(x, e);  // [2^60, 2^63) for 0 < x
  const int h = (e - 32) / 2;
  const std::int32_t k = static_cast<std::int32_t>(xn >> 56);  // 16..127 (0 for x = 0)
  const std::int32_t a = seeds[k][0];  // ~ sqrt(xn / 2) at the segment middle
  const std::int32_t b = seeds[k][1];  // ~ 2^61 / a
  // Newton steps on y^2 = xn / 2: y += (xn - 2 y^2) b / 2^63.
  const std::int64_t r1 = xn - 2 * mul64(a, a);
  const std::int32_t y1 = add_sat32(a, hi32(2 * mul64(b, hi32(r1))));
  const std::int64_t r2 = xn - 2 * mul64(y1, y1);
  const std::int32_t y2 = add_sat32(y1, hi32(2 * mul64(b, hi32(r2))));
  // Undo the normalisation with rounding: z ~ sqrt(x / 2). The rounding add
  // saturates in 32 bits (so x = 1 gives z = 0).
  const std::int32_t half_unit = h + 15 >= 0 ? shl_wrap32(1, h + 15) : 0;
  const std::int32_t z = shr32(add_sat32(y2, half_unit), h + 16);
  // Multiply by sqrt 2 = 2 * sqrt(1/2) with rounding (|2 z c| + 2^30 < 2^63).
  const std::int64_t scaled = 2 * mul64(z, math::kSqrtHalfQ31) + (std::int64_t{1} << 30);
  return lo32(scaled >> 31);
}

}  // namespace

void vocrel::vec_roots_q16_c(const std::int32_t* in, std::int32_t offset, std::int32_t shift,
                             std::int32_t count, const std::int16_t* table, std::int32_t* out) {
  for (std::int32_t i = 0; i < count; ++i) out[i] = sqrt32_q16(in[i], offset, shift, table);
}

void vocrel::vec_roots_i64_c(const std::int64_t* x, std::int32_t count,
                             const std::int32_t (*seeds)[2], std::int32_t* out) {
  for (std::int32_t i = 0; i < count; ++i) out[i] = x[i] > 0 ? sqrt_i64(x[i], seeds) : 0;
}

namespace vocrel::math {

// Both families read the one root table, so one routine serves both.
void roots_q16(const std::int32_t* in, std::int32_t offset, std::int32_t shift, std::int32_t n,
               std::int32_t* out) {
  vec_kernels().roots_q16(in, offset, shift, n, vocrel_fnr_sqrt_table.data(), out);
}

// The scalar root serves callers outside the engine (the frames take the
// root kernels): built for size. 0 gives 0 through the arithmetic itself; a
// negative argument would normalise outside the seed table, so it gives 0.
[[gnu::cold]] std::int32_t root_i64(std::int64_t x) {
  if (x <= 0) return 0;
  return sqrt_i64(x, sqrt_seed_rows(iFnrSqrtTab));
}

}  // namespace vocrel::math
