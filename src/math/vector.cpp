// Array primitives: copies, fills, clamps, minimum / arg-max, saturating sums
// in a fixed lane order and a power-of-two mean.
//
// The copies are ascending element loops on purpose: callers shift arrays in
// place, and an overlapping copy must give exactly the element loop's result.
// The lane order of the saturating sums decides where saturation happens, so
// it is part of the result.
#include <cstdint>

#include "math/fixed.h"
#include "math/vocrel_math.h"

namespace {

using namespace vocrel;

template <typename T>
void copy_elements(T* dst, const T* src, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) dst[i] = src[i];
}

template <typename T>
void fill(T* dst, std::int32_t n, T value) {
  for (std::int32_t i = 0; i < n; ++i) dst[i] = value;
}

#if VOCREL_MODE1
// Two 64-bit lanes: even indices (plus an odd last element) and odd indices.
struct LanePair {
  std::int64_t even;
  std::int64_t odd;
};

LanePair sum_two_lanes64(const std::int32_t in[], std::int32_t n) {
  LanePair s{0, 0};
  std::int32_t i = 0;
  for (; i + 1 < n; i += 2) {
    s.even = add_sat64(s.even, in[i]);
    s.odd = add_sat64(s.odd, in[i + 1]);
  }
  if (i < n) s.even = add_sat64(s.even, in[i]);
  return s;
}
#endif

}  // namespace

namespace vocrel::math {

void copy_ascending(std::int16_t* dst, const std::int16_t* src, std::int32_t n) {
  copy_elements(dst, src, n);
}
void copy_ascending(std::int32_t* dst, const std::int32_t* src, std::int32_t n) {
  copy_elements(dst, src, n);
}

#if VOCREL_MODE1
void fill_low_bits(std::int8_t* dst, std::int32_t n, std::int32_t value) {
  fill(dst, n,
       static_cast<std::int8_t>(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value))));
}
void fill_low_bits(std::int16_t* dst, std::int32_t n, std::int32_t value) {
  fill(dst, n, lo16(value));
}
void fill_low_bits(std::int32_t* dst, std::int32_t n, std::int32_t value) { fill(dst, n, value); }

void raise_to_floor(std::int16_t* buf, std::int32_t n, std::int32_t floorValue) {
  const std::int16_t lower = lo16(floorValue);
  for (std::int32_t i = 0; i < n; ++i)
    if (buf[i] < lower) buf[i] = lower;
}

void cap_at_ceiling(std::int32_t* buf, std::int32_t n, std::int32_t ceiling) {
  for (std::int32_t i = 0; i < n; ++i)
    if (buf[i] > ceiling) buf[i] = ceiling;
}

std::int32_t minimum(const std::int32_t* in, std::int32_t n) {
  std::int32_t m = in[0];
  for (std::int32_t i = 1; i < n; ++i)
    if (in[i] < m) m = in[i];
  return m;
}

// Only a strictly larger value moves the maximum, so ties keep the lowest index.
std::int32_t arg_max(const std::int32_t* in, std::int32_t first, std::int32_t last,
                     std::int32_t* maxOut) {
  std::int32_t best = in[first];
  std::int32_t at = first;
  for (std::int32_t i = first + 1; i <= last; ++i) {
    if (in[i] > best) {
      best = in[i];
      at = i;
    }
  }
  *maxOut = best;
  return lo16(at);
}

// Four lanes over the complete groups of four, combined as (0 + 1) + (2 + 3),
// then the remaining elements in ascending order; every addition saturates.
std::int32_t sum_sat_four_lanes(const std::int16_t* in, std::int32_t n) {
  std::int32_t lane[4] = {0, 0, 0, 0};
  std::int32_t i = 0;
  for (; i + 3 < n; i += 4)
    for (std::int32_t j = 0; j < 4; ++j) lane[j] = add_sat32(lane[j], in[i + j]);
  std::int32_t sum = add_sat32(add_sat32(lane[0], lane[1]), add_sat32(lane[2], lane[3]));
  for (; i < n; ++i) sum = add_sat32(sum, in[i]);
  return sum;
}

// Even and odd lanes (an odd last element joins the even lane), then their sum.
std::int32_t sum_sat_two_lanes(const std::int32_t* in, std::int32_t n) {
  std::int32_t even = 0;
  std::int32_t odd = 0;
  std::int32_t i = 0;
  for (; i + 1 < n; i += 2) {
    even = add_sat32(even, in[i]);
    odd = add_sat32(odd, in[i + 1]);
  }
  if (i < n) even = add_sat32(even, in[i]);
  return add_sat32(even, odd);
}

std::int64_t sum_sat64(const std::int32_t* in, std::int32_t n) {
  const LanePair s = sum_two_lanes64(in, n);
  return add_sat64(s.even, s.odd);
}

// Sum >> floor(log2 n): the floor mean for powers of two.
std::int32_t shifted_mean(const std::int32_t* in, std::int32_t n) {
  const LanePair s = sum_two_lanes64(in, n);
  const int shift = sub_sat16(30, norm32(n));
  return sat32(shift_sat64(add_sat64(s.even, s.odd), -shift));
}
#endif

}  // namespace vocrel::math
