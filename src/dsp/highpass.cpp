// Second-order high-pass pre-filter: y = 8 (b0 x + b1 x1 + b2 x2 + a1 y1 +
// a2 y2) with Q12 coefficients, every sum saturating; the output sample is y
// rounded from Q16.
#include "dsp/highpass.h"

#include "math/fixed.h"

namespace vocrel::dsp {
namespace {

constexpr int kOutShift = 3;  // Q12 coefficients, doubled products

// 2 * ((y * a) >> 16), saturated: a 32-bit filter state times a Q12 coefficient.
std::int32_t feedback_term(std::int32_t y, std::int16_t a) {
  return sat32(2 * ((std::int64_t{y} * a) >> 16));
}

}  // namespace

HpCoefs hp_coefs(bool is8k) {
  if (is8k) return {vocrel_rnr_hpFilterCoefA_8k, vocrel_rnr_hpFilterCoefB_8k};
  return {vocrel_rnr_hpFilterCoefA_16k, vocrel_rnr_hpFilterCoefB_16k};
}

bool hp_coefs_of(const HpState& s, HpCoefs* c) {
  if (s.coefA != s.coefB || (s.coefA != kTable8k && s.coefA != kTable16k)) return false;
  *c = hp_coefs(s.coefA == kTable8k);
  return true;
}

void hp_filter(HpState& s, HpCoefs c, const std::int16_t* in, std::int32_t n, std::int16_t* out) {
  const std::int16_t b0 = c.b[0], b1 = c.b[1], b2 = c.b[2];
  const std::int16_t a1 = c.a[1], a2 = c.a[2];
  std::int16_t x2 = s.x2, x1 = s.x1;
  std::int32_t y2 = s.y2, y1 = s.y1;
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int16_t x = in[i];
    std::int32_t acc = add_sat32(feedback_term(y2, a2), feedback_term(y1, a1));
    acc = add_sat32(acc, mul_dbl16(b2, x2));
    acc = add_sat32(acc, mul_dbl16(b1, x1));
    acc = add_sat32(acc, mul_dbl16(b0, x));
    const std::int32_t y = shl_sat32(acc, kOutShift);  // Q16 sample
    out[i] = static_cast<std::int16_t>(sat32(std::int64_t{y} + 32768) >> 16);
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
  }
  s.x2 = x2;
  s.x1 = x1;
  s.y2 = y2;
  s.y1 = y1;
}

}  // namespace vocrel::dsp

extern "C" {

// Design values of the two sections, Q12.
extern constexpr std::int16_t vocrel_rnr_hpFilterCoefA_8k[3] = {-4096, 7828, -3748};
extern constexpr std::int16_t vocrel_rnr_hpFilterCoefB_8k[3] = {1959, -3918, 1959};
extern constexpr std::int16_t vocrel_rnr_hpFilterCoefA_16k[3] = {-4096, 8010, -3918};
extern constexpr std::int16_t vocrel_rnr_hpFilterCoefB_16k[3] = {2003, -4006, 2003};

}  // extern "C"
