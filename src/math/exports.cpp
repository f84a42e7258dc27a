// Exported C names of the scalar functions, the vector primitives and the
// smoothing forms, each a forward to the routine in vocrel::math that does
// the work (log_exp.cpp, divide.cpp, sqrt.cpp, cos.cpp, vector.cpp,
// vocrel_math.h). Where the two families compute the same values, both
// names forward to one routine. The environment-noise family exists only
// with that path.
#include <cstdint>

#include "math/vocrel_math.h"

using namespace vocrel;

extern "C" {

// ---- logarithms and exponentials ------------------------------------------------

std::int32_t Fnr_10xlog10(std::int32_t x) { return math::ten_log10_q15(x); }
std::int32_t Fnr_Log2(std::int32_t x) { return math::log2_q15(x); }
std::int32_t Vocrel_Fnr_fnExp10(std::int32_t x) { return math::exp10_q31(x); }
#if VOCREL_MODE1
// The twins of the floor-noise names: second symbols for the same code.
std::int32_t Vocrel_RNR_10xlog10(std::int32_t x) __attribute__((alias("Fnr_10xlog10")));
std::int32_t Vocrel_RNR_fnExp10(std::int32_t x) __attribute__((alias("Vocrel_Fnr_fnExp10")));
void Vocrel_RNR_vec_10xlog10(const std::int32_t in[], std::int32_t n, std::int32_t out[]) {
  math::ten_log10_q15_coarse(in, n, out);
}
void Vocrel_RNR_vec_log(const std::int32_t in[], std::int32_t n, std::int32_t out[]) {
  math::ln_q15(in, n, out);
}
void Vocrel_RNR_vec_powe(const std::int32_t in[], std::int32_t n, std::int32_t out[]) {
  math::exp_q15(in, n, out);
}

// ---- cosine -----------------------------------------------------------------------

std::int32_t Vocrel_RNR_cos(std::int32_t theta) { return math::cos_q15(theta); }
#endif

// ---- square roots -----------------------------------------------------------------

void Vocrel_fnr_vec_sqrt32(const std::int32_t in[], std::int32_t offset, std::int32_t shift,
                           std::int32_t n, std::int32_t out[]) {
  math::roots_q16(in, offset, shift, n, out);
}
std::int32_t Fnr_sqrt_i64_vec(std::int64_t x) { return math::root_i64(x); }
#if VOCREL_MODE1
void Vocrel_RNR_vec_sqrt32(const std::int32_t in[], std::int32_t offset, std::int32_t shift,
                           std::int32_t n, std::int32_t out[])
    __attribute__((alias("Vocrel_fnr_vec_sqrt32")));
std::int32_t Vocrel_RNR_sqrt_i64(std::int64_t x) __attribute__((alias("Fnr_sqrt_i64_vec")));
#endif

// ---- divisions --------------------------------------------------------------------

std::int32_t Fnr_L_divide_Q(std::int32_t num, std::int32_t den, std::int32_t q) {
  return math::divide_q(num, den, q);
}
#if VOCREL_MODE1
std::int32_t Vocrel_RNR_L_divide_Q(std::int32_t num, std::int32_t den, std::int32_t q)
    __attribute__((alias("Fnr_L_divide_Q")));
void Vocrel_RNR_vecscl2i_L_divide_Q(const std::int32_t num[], std::int32_t den, std::int32_t q,
                                    std::int32_t n, std::int32_t out[]) {
  math::divide_by_scalar(num, den, q, n, out);
}
void Vocrel_RNR_vecvec2s_L_divide_Q(const std::int32_t num[], const std::int32_t den[],
                                    std::int32_t q, std::int32_t n, std::int16_t out[]) {
  math::divide_pairs_sat16(num, den, q, n, out);
}
#endif

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
