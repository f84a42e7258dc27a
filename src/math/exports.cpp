// Exported C names of the vector primitives and the smoothing forms, each a
// forward to the routine in vocrel::math (vector.cpp, vocrel_math.h) that
// does the work. The environment-noise family exists only with that path.
#include <cstdint>

#include "math/vocrel_math.h"

using namespace vocrel;

extern "C" {

// ---- copies -------------------------------------------------------------------

#if VOCREL_MODE1
void Vocrel_RNR_vecCopyInt16(const std::int16_t src[], std::int32_t n, std::int16_t dst[]) {
  math::copy_ascending(dst, src, n);
}
void Vocrel_RNR_vecCopyInt32(const std::int32_t src[], std::int32_t n, std::int32_t dst[]) {
  math::copy_ascending(dst, src, n);
}
#endif
void FnrCopyInt(std::int32_t dst[], const std::int32_t src[], std::int32_t n) {
  math::copy_ascending(dst, src, n);
}
void FnrCopyShort(std::int16_t dst[], const std::int16_t src[], std::int32_t n) {
  math::copy_ascending(dst, src, n);
}

#if VOCREL_MODE1
// ---- fills and clamps ----------------------------------------------------------

void Vocrel_RNR_vecSetInt8(std::int8_t dst[], std::int32_t n, std::int32_t value) {
  math::fill_low_bits(dst, n, value);
}
void Vocrel_RNR_vecSetINT16(std::int16_t dst[], std::int32_t n, std::int32_t value) {
  math::fill_low_bits(dst, n, value);
}
void Vocrel_RNR_vecSetINT32(std::int32_t dst[], std::int32_t n, std::int32_t value) {
  math::fill_low_bits(dst, n, value);
}
void Vocrel_RNR_vecFloorInt16(std::int16_t buf[], std::int32_t n, std::int32_t floorValue) {
  math::raise_to_floor(buf, n, floorValue);
}
void Vocrel_RNR_vecCeilInt32(std::int32_t buf[], std::int32_t n, std::int32_t ceiling) {
  math::cap_at_ceiling(buf, n, ceiling);
}

// ---- extremes, sums and the mean -------------------------------------------------

void Vocrel_RNR_vecMinInt32(const std::int32_t in[], std::int32_t n, std::int32_t* minOut) {
  *minOut = math::minimum(in, n);
}
std::int32_t Vocrel_RNR_VecMaxItemInt32(const std::int32_t in[], std::int32_t first,
                                        std::int32_t last, std::int32_t* maxOut) {
  return math::arg_max(in, first, last, maxOut);
}
std::int32_t Vocrel_RNR_vecSum32Int16(const std::int16_t in[], std::int32_t n) {
  return math::sum_sat_four_lanes(in, n);
}
std::int32_t Vocrel_RNR_vecSum32Int32(const std::int32_t in[], std::int32_t n) {
  return math::sum_sat_two_lanes(in, n);
}
std::int64_t Vocrel_RNR_vecSum64Int32(const std::int32_t in[], std::int32_t n) {
  return math::sum_sat64(in, n);
}
std::int32_t Vocrel_RNR_vecMeanInt32(const std::int32_t in[], std::int32_t n) {
  return math::shifted_mean(in, n);
}
#endif

// ---- Q15-weighted smoothing --------------------------------------------------------

std::int32_t FnrSmoothTwoInt(std::int32_t a, std::int32_t b, std::int32_t wa, std::int32_t wb) {
  return smooth_two_int(a, b, wa, wb);
}
std::int32_t FnrSmoothThreeInt(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t wa,
                               std::int32_t wb, std::int32_t wc) {
  return smooth_three_int(a, b, c, wa, wb, wc);
}
std::int32_t FnrSmoothTwoShort(std::int32_t a, std::int32_t b, std::int32_t wa, std::int32_t wb) {
  return smooth_two_short(a, b, wa, wb);
}

}  // extern "C"
