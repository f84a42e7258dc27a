// Real arithmetic for tables built at compile time.
//
// These functions exist only for constexpr table generators: the engine has
// no floating point at run time. Evaluated by the compiler in IEEE double, so
// every target gets the same tables. The series are summed well past the
// point where their terms vanish in double precision; every table built from
// them keeps a margin far above that error from its rounding steps, which the
// tables' own checks pin.
#pragma once

namespace vocrel::cmath {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kLn10 = 2.30258509299404568402;
inline constexpr double kLn2 = 0.69314718055994530942;

// sin x for |x| <= pi/4, Taylor series.
constexpr double sin_series(double x) {
  double term = x, sum = x;
  for (int k = 1; k < 30; ++k) {
    term *= -x * x / ((2.0 * k) * (2.0 * k + 1.0));
    sum += term;
  }
  return sum;
}

// cos x for |x| <= pi/4, Taylor series.
constexpr double cos_series(double x) {
  double term = 1.0, sum = 1.0;
  for (int k = 1; k < 30; ++k) {
    term *= -x * x / ((2.0 * k - 1.0) * (2.0 * k));
    sum += term;
  }
  return sum;
}

// sin(pi i / W) for 0 <= i <= W, folded into the first octant with integer
// arithmetic, so that the peak (2i = W) is exactly 1 and both ends exactly 0.
constexpr double sin_pi_ratio(int i, int W) {
  if (2 * i > W) i = W - i;  // sin(pi - a) = sin a
  if (4 * i <= W) return sin_series(kPi * i / W);
  return cos_series(kPi * (W - 2 * i) / (2.0 * W));  // sin a = cos(pi/2 - a)
}

// e^x for 0 <= x <= 8, Taylor series.
constexpr double exp_series(double x) {
  double term = 1.0, sum = 1.0;
  for (int k = 1; k < 60; ++k) {
    term *= x / k;
    sum += term;
  }
  return sum;
}

// ln y for 1 <= y <= 2: 2 atanh(z) with z = (y - 1) / (y + 1) <= 1/3, series.
constexpr double log_series(double y) {
  const double z = (y - 1.0) / (y + 1.0);
  double term = z, sum = z;
  for (int k = 1; k < 30; ++k) {
    term *= z * z;
    sum += term / (2.0 * k + 1.0);
  }
  return 2.0 * sum;
}

}  // namespace vocrel::cmath
