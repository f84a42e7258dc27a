// Fixed-point constants written as the real numbers they are, and the facts
// shared by the scalar routines and their vector kernels.
//
// q15(x) and q31(x) round x * 2^15 and x * 2^31 to the nearest integer (half
// away from zero) at compile time; nothing here exists at run time.
#pragma once

#include <cstdint>

namespace vocrel::math {

consteval std::int32_t round_scaled(double x, double scale) {
  const double v = x * scale;
  return static_cast<std::int32_t>(v >= 0 ? v + 0.5 : v - 0.5);
}

// x in Q15 (32768 = 1.0; values of 1.0 and above are allowed in 32 bits).
consteval std::int32_t q15(double x) { return round_scaled(x, 32768.0); }
// x in Q31, |x| < 1.
consteval std::int32_t q31(double x) { return round_scaled(x, 2147483648.0); }

// The largest Q15 value, 1 - 2^-15: the weights of many two-term smoothings
// sum to it rather than to 1.0.
inline constexpr std::int32_t kQ15Max = 32767;
// The partner of the rounded weight w in such a pair: 32767 - q15(w).
consteval std::int32_t q15_rest(double w) { return kQ15Max - q15(w); }

// sqrt(1/2) in Q31, rounded: the twiddle of the eighth of the circle.
inline constexpr std::int32_t kSqrtHalfQ31 = q31(0.70710678118654752440);
static_assert(kSqrtHalfQ31 == 1518500250);

// ln 2 in Q15, rounded, and 15 times it: ln of the Q15 unit 2^15 (not the
// rounded 15 ln 2, which is one more).
inline constexpr double kLn2 = 0.69314718055994530942;
inline constexpr std::int32_t kLn2Q15 = q15(kLn2);
inline constexpr std::int32_t kLn2x15Q15 = 15 * kLn2Q15;
static_assert(kLn2Q15 == 22713 && kLn2x15Q15 == 340695);
// The same Q15 value placed in Q31 (low 16 bits zero), as the logarithms
// multiply by it: not the rounded Q31 ln 2.
inline constexpr std::int32_t kLn2Q15InQ31 = kLn2Q15 << 16;

// The 0.7 / 0.3 weight pair of the time smoothings (band magnitudes, levels,
// fast noise learning), summing to 32767: 0.3 rounded, 0.7 the rest.
inline constexpr std::int32_t kTime03Q15 = q15(0.3);
inline constexpr std::int32_t kTime07Q15 = q15_rest(0.3);
static_assert(kTime07Q15 == 22937 && kTime03Q15 == 9830);

}  // namespace vocrel::math
