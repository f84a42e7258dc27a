// Division num / den in a chosen Q format through a Newton-Raphson
// reciprocal seeded from a 128-entry table. The refined reciprocal is a hair
// low, so exact quotients can come out one unit short; callers depend on it.
// A zero divisor is not special: it runs the same steps (seed 0, no
// refinement) and gives about num * 2^(q - 30).
#include <cstdint>

#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;

std::int32_t divide_with_seeds(std::int32_t num, std::int32_t den, std::int32_t q,
                               const std::int32_t* seeds) {
  const int nn = norm32(num) - 1;  // -1 for norm 0: shift right by one instead
  const std::int32_t n_abs = abs_sat32(shift_wrap32(num, nn));  // [2^29, 2^30] unless num = 0
  const int nd = norm32(den);
  const std::int32_t d_abs = abs_sat32(shl_wrap32(den, nd));  // [2^30, 2^31 - 1] unless den = 0
  const std::int32_t k = (d_abs >> 23) & 127;                 // segment of D / 2^30 in [1, 2)
  const std::int32_t y0 = seeds[k];                           // ~ 2^61 / D
  // Error terms: the 32 bits of y D around its 2^61 target, i.e. y D - 2^61
  // scaled down by 2^23 (then 2^24 for the second step).
  const std::int32_t e1 = lo32((std::int64_t{y0} * d_abs) >> 23);
  const std::int32_t y1 = sat32(std::int64_t{y0} - ((std::int64_t{y0} * e1) >> 38));
  const std::int32_t e2 = lo32((std::int64_t{d_abs} * y1) >> 24);
  const std::int32_t y2 = sat32(std::int64_t{y1} - ((std::int64_t{y1} * e2) >> 37));
  std::int32_t r = lo32((std::int64_t{y2} * n_abs) >> 31);  // |quotient| ~ 2^30 N / D
  if ((num ^ den) < 0) r = neg_wrap32(r);
  const std::int32_t s = lo16(std::int64_t{q} - 30 + nd - nn);
  return s <= 0 ? shr32(r, -s) : shl_sat32(r, s);
}

}  // namespace

void vocrel::vec_divide_q_c(const std::int32_t* num, const std::int32_t* den, std::int32_t q,
                            std::int32_t count, const std::int32_t* seeds, std::int32_t* out) {
  for (std::int32_t i = 0; i < count; ++i) out[i] = divide_with_seeds(num[i], den[i], q, seeds);
}

namespace vocrel::math {

// Both families read the one seed table, so one routine serves both.
std::int32_t divide_q(std::int32_t num, std::int32_t den, std::int32_t q) {
  return divide_with_seeds(num, den, q, iFnr_tab_invQ30.data());
}

#if VOCREL_MODE1
// One reciprocal 1/den in Q31, then num[i] * recip doubled (Q32) and shifted
// to Qq; the low 32 bits are kept.
void divide_by_scalar(const std::int32_t* num, std::int32_t den, std::int32_t q, std::int32_t n,
                      std::int32_t* out) {
  const std::int32_t recip = divide_q(1, den, 31);
  const std::int64_t shift = std::int64_t{q} - 32;
  const int s = shift > 64 ? 64 : (shift < -64 ? -64 : static_cast<int>(shift));
  vec_kernels().scale_words(num, recip, s, n, out);
}

// The quotients run as the lane-wise division kernel over blocks of words.
void divide_pairs_sat16(const std::int32_t* num, const std::int32_t* den, std::int32_t q,
                        std::int32_t n, std::int16_t* out) {
  constexpr std::int32_t kBlock = 64;
  std::int32_t quotient[kBlock];
  for (std::int32_t i0 = 0; i0 < n; i0 += kBlock) {
    const std::int32_t count = n - i0 < kBlock ? n - i0 : kBlock;
    vec_kernels().divide_q(num + i0, den + i0, q, count, iFnr_tab_invQ30.data(), quotient);
    for (std::int32_t i = 0; i < count; ++i) out[i0 + i] = sat16(quotient[i]);
  }
}
#endif

}  // namespace vocrel::math
