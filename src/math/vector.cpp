// Array primitives: copies, fills, clamps, minimum / arg-max, saturating sums
// in a fixed lane order, a power-of-two mean, and Q15-weighted smoothing.
//
// The copies are ascending element loops on purpose: callers shift arrays in
// place, and an overlapping copy must give exactly the element loop's result.
// The lane order of the saturating sums decides where saturation happens, so
// it is part of the result.
#include <cstdint>

#include "math/fixed.h"
#include "math/vec_kernels.h"
#include "math/vocrel_math.h"

namespace {

using std::int16_t;
using std::int32_t;
using std::int64_t;
using std::int8_t;
using namespace vocrel;

template <typename T>
void copy_ascending(T* dst, const T* src, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] = src[i];
}

template <typename T>
void fill(T* dst, int32_t n, T value) {
  for (int32_t i = 0; i < n; ++i) dst[i] = value;
}

#if VOCREL_MODE1
// Two 64-bit lanes: even indices (plus an odd last element) and odd indices.
struct LanePair {
  int64_t even;
  int64_t odd;
};

LanePair sum_two_lanes64(const int32_t in[], int32_t n) {
  LanePair s{0, 0};
  int32_t i = 0;
  for (; i + 1 < n; i += 2) {
    s.even = add_sat64(s.even, in[i]);
    s.odd = add_sat64(s.odd, in[i + 1]);
  }
  if (i < n) s.even = add_sat64(s.even, in[i]);
  return s;
}
#endif

}  // namespace

extern "C" {

#if VOCREL_MODE1
void Vocrel_RNR_vecCopyInt16(const int16_t src[], int32_t n, int16_t dst[]) {
  copy_ascending(dst, src, n);
}
void Vocrel_RNR_vecCopyInt32(const int32_t src[], int32_t n, int32_t dst[]) {
  copy_ascending(dst, src, n);
}
#endif
void FnrCopyInt(int32_t dst[], const int32_t src[], int32_t n) { copy_ascending(dst, src, n); }
void FnrCopyShort(int16_t dst[], const int16_t src[], int32_t n) { copy_ascending(dst, src, n); }

#if VOCREL_MODE1
void Vocrel_RNR_vecSetInt8(int8_t dst[], int32_t n, int32_t value) {
  fill(dst, n, static_cast<int8_t>(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value))));
}
void Vocrel_RNR_vecSetINT16(int16_t dst[], int32_t n, int32_t value) { fill(dst, n, lo16(value)); }
void Vocrel_RNR_vecSetINT32(int32_t dst[], int32_t n, int32_t value) { fill(dst, n, value); }

void Vocrel_RNR_vecFloorInt16(int16_t buf[], int32_t n, int32_t floorValue) {
  vocrel::vec_kernels().floor_words16(buf, n, lo16(floorValue));
}

void Vocrel_RNR_vecCeilInt32(int32_t buf[], int32_t n, int32_t ceiling) {
  for (int32_t i = 0; i < n; ++i)
    if (buf[i] > ceiling) buf[i] = ceiling;
}

void Vocrel_RNR_vecMinInt32(const int32_t in[], int32_t n, int32_t* minOut) {
  int32_t m = in[0];
  for (int32_t i = 1; i < n; ++i)
    if (in[i] < m) m = in[i];
  *minOut = m;
}

// Only a strictly larger value moves the maximum, so ties keep the lowest index.
int32_t Vocrel_RNR_VecMaxItemInt32(const int32_t in[], int32_t first, int32_t last,
                                   int32_t* maxOut) {
  int32_t best = in[first];
  int32_t at = first;
  for (int32_t i = first + 1; i <= last; ++i) {
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
int32_t Vocrel_RNR_vecSum32Int16(const int16_t in[], int32_t n) {
  int32_t lane[4] = {0, 0, 0, 0};
  int32_t i = 0;
  for (; i + 3 < n; i += 4)
    for (int32_t j = 0; j < 4; ++j) lane[j] = add_sat32(lane[j], in[i + j]);
  int32_t sum = add_sat32(add_sat32(lane[0], lane[1]), add_sat32(lane[2], lane[3]));
  for (; i < n; ++i) sum = add_sat32(sum, in[i]);
  return sum;
}

// Even and odd lanes (an odd last element joins the even lane), then their sum.
int32_t Vocrel_RNR_vecSum32Int32(const int32_t in[], int32_t n) {
  int32_t even = 0;
  int32_t odd = 0;
  int32_t i = 0;
  for (; i + 1 < n; i += 2) {
    even = add_sat32(even, in[i]);
    odd = add_sat32(odd, in[i + 1]);
  }
  if (i < n) even = add_sat32(even, in[i]);
  return add_sat32(even, odd);
}

int64_t Vocrel_RNR_vecSum64Int32(const int32_t in[], int32_t n) {
  const LanePair s = sum_two_lanes64(in, n);
  return add_sat64(s.even, s.odd);
}

// Sum >> floor(log2 n): the floor mean for powers of two.
int32_t Vocrel_RNR_vecMeanInt32(const int32_t in[], int32_t n) {
  const LanePair s = sum_two_lanes64(in, n);
  const int shift = sub_sat16(30, norm32(n));
  return sat32(shift_sat64(add_sat64(s.even, s.odd), -shift));
}
#endif

// (a wa + b wb) >> 15 with the doubled products and their sum saturated in 64 bits.
int32_t FnrSmoothTwoInt(int32_t a, int32_t b, int32_t wa, int32_t wb) {
  return smooth_two_int(a, b, wa, wb);
}

int32_t FnrSmoothThreeInt(int32_t a, int32_t b, int32_t c, int32_t wa, int32_t wb, int32_t wc) {
  return smooth_three_int(a, b, c, wa, wb, wc);
}

// Q15 operands (low 16 bits of each argument); the 32-bit sum saturates
// before the shift.
int32_t FnrSmoothTwoShort(int32_t a, int32_t b, int32_t wa, int32_t wb) {
  return smooth_two_short(a, b, wa, wb);
}

}  // extern "C"
