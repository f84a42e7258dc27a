// Fixed-point scalar functions, their tables, and the vector primitives
// shared by both noise-reduction paths.
//
// The exported C names come in two families: the environment-noise family
// (Vocrel_RNR_*, tables vocrel_rnr_*) and the floor-noise family (Fnr*,
// Vocrel_Fnr_*, Vocrel_fnr_*, tables sFnr*/iFnr*/vocrel_fnr_*). Each is a
// forward in exports.cpp to the routine in vocrel::math below that does the
// work; where the two families compute the same values bit for bit, one
// routine serves both. The engine calls the vocrel::math names.
//
// Q formats: Qn = n fractional bits. Logarithms return Q15, 10^x returns Q31,
// the cosine returns Q15 for a Q14 angle (pi = 51472).
#pragma once

#include <array>
#include <cstdint>

namespace vocrel {
using SqrtSeeds = std::array<std::array<std::int32_t, 2>, 128>;

// The seed table as the rows of two words that the root kernels index; an
// array of two-word arrays has exactly that layout.
inline const std::int32_t (*sqrt_seed_rows(const SqrtSeeds& seeds))[2] {
  static_assert(sizeof(SqrtSeeds) == 128 * 2 * sizeof(std::int32_t));
  return reinterpret_cast<const std::int32_t(*)[2]>(seeds.data());
}
}  // namespace vocrel

extern "C" {

// ---- Tables ------------------------------------------------------------

// log2(1 + i/32) in Q15, i = 0..32.
extern const std::array<std::int16_t, 33> vocrel_rnr_log2Table;
extern const std::array<std::int16_t, 33> sFnrlog2Table;
// Packed log2 segments: high half T[j], low half T[j] - T[j+1].
extern const std::array<std::int32_t, 32> vocrel_rnr_Log2Tab;

// 2^(i/32) in Q14 (32767 at i = 32), i = 0..32.
extern const std::array<std::int16_t, 33> vocrel_rnr_pow2table;
// Packed pow2 segments: high half P[j], low half P[j] - P[j+1].
extern const std::array<std::int32_t, 32> vocrel_rnr_Pow2Tab;

// Quarter-wave cosine in Q15 at i*pi/128, i = 0..64, and its segment slopes.
extern const std::array<std::int16_t, 65> vocrel_rnr_cos_y;
extern const std::array<std::int16_t, 65> vocrel_rnr_cos_dy;
// Packed cosine segments: high half Y[i+1], low half cos_dy[i].
extern const std::array<std::int32_t, 64> vocrel_rnr_cos_tab;

// sqrt(1 + k/8) in Q14, k = 0..24; entry 24 is 0x8000, read unsigned.
extern const std::array<std::int16_t, 25> vocrel_rnr_sqrt_table;
extern const std::array<std::int16_t, 25> vocrel_fnr_sqrt_table;

// Newton seeds of the 64-bit root: pair k = {a_k, b_k}, k = 0..127.
extern const vocrel::SqrtSeeds vocrel_rnr_sqrt_32_tab;
extern const vocrel::SqrtSeeds iFnrSqrtTab;

// Reciprocal seeds 2^31 * 256 / (257 + 2k), k = 0..127 (Q31).
extern const std::array<std::int32_t, 128> vocrel_rnr_tab_invQ30;
extern const std::array<std::int32_t, 128> iFnr_tab_invQ30;

// Quadratic 2^u on [-1, 0): {c2, c1, c0} in Q15.
extern const std::array<std::int16_t, 3> vocrel_rnr_exp2Coef;
extern const std::array<std::int16_t, 3> vocrel_fnr_exp2Coef;

/* ---- Scalar functions ------------------------------------------------ */

/* 10*log10(x) in Q15 for integer x >= 1; 0 for x <= 0. */
std::int32_t Vocrel_RNR_10xlog10(std::int32_t x);
std::int32_t Fnr_10xlog10(std::int32_t x);
/* log2(x) in Q15 for x >= 1; 0 for x <= 0. */
std::int32_t Fnr_Log2(std::int32_t x);

/* Vector logarithms / exponential; n must be even; in may equal out. */
void Vocrel_RNR_vec_10xlog10(const std::int32_t in[], std::int32_t n, std::int32_t out[]);
void Vocrel_RNR_vec_log(const std::int32_t in[], std::int32_t n, std::int32_t out[]);
void Vocrel_RNR_vec_powe(const std::int32_t in[], std::int32_t n, std::int32_t out[]);

/* 10^x in Q31 for x in Q26, x < 0. */
std::int32_t Vocrel_RNR_fnExp10(std::int32_t x);
std::int32_t Vocrel_Fnr_fnExp10(std::int32_t x);

/* cos(theta) in Q15 (an int16 widened) for theta in Q14 radians. */
std::int32_t Vocrel_RNR_cos(std::int32_t theta);

/* out[i] = (sqrt(in[i]) in Q16 + offset) >> shift. */
void Vocrel_RNR_vec_sqrt32(const std::int32_t in[], std::int32_t offset, std::int32_t shift,
                           std::int32_t n, std::int32_t out[]);
void Vocrel_fnr_vec_sqrt32(const std::int32_t in[], std::int32_t offset, std::int32_t shift,
                           std::int32_t n, std::int32_t out[]);

/* Rounded integer square root of a 64-bit value (x < 2^62). */
std::int32_t Vocrel_RNR_sqrt_i64(std::int64_t x);
std::int32_t Fnr_sqrt_i64_vec(std::int64_t x);

/* num / den in Qq, Newton-Raphson reciprocal. */
std::int32_t Vocrel_RNR_L_divide_Q(std::int32_t num, std::int32_t den, std::int32_t q);
std::int32_t Fnr_L_divide_Q(std::int32_t num, std::int32_t den, std::int32_t q);
void Vocrel_RNR_vecscl2i_L_divide_Q(const std::int32_t num[], std::int32_t den, std::int32_t q,
                                    std::int32_t n, std::int32_t out[]);
void Vocrel_RNR_vecvec2s_L_divide_Q(const std::int32_t num[], const std::int32_t den[],
                                    std::int32_t q, std::int32_t n, std::int16_t out[]);

/* ---- Vector primitives ----------------------------------------------- */

/* Ascending element copies (overlap gives the element loop's result). */
void Vocrel_RNR_vecCopyInt16(const std::int16_t src[], std::int32_t n, std::int16_t dst[]);
void Vocrel_RNR_vecCopyInt32(const std::int32_t src[], std::int32_t n, std::int32_t dst[]);
void FnrCopyInt(std::int32_t dst[], const std::int32_t src[], std::int32_t n);
void FnrCopyShort(std::int16_t dst[], const std::int16_t src[], std::int32_t n);

/* Fills with the low 8/16/32 bits of value. */
void Vocrel_RNR_vecSetInt8(std::int8_t dst[], std::int32_t n, std::int32_t value);
void Vocrel_RNR_vecSetINT16(std::int16_t dst[], std::int32_t n, std::int32_t value);
void Vocrel_RNR_vecSetINT32(std::int32_t dst[], std::int32_t n, std::int32_t value);

/* In-place clamps: buf[i] = max(buf[i], (int16)floorValue) / min(buf[i], ceiling). */
void Vocrel_RNR_vecFloorInt16(std::int16_t buf[], std::int32_t n, std::int32_t floorValue);
void Vocrel_RNR_vecCeilInt32(std::int32_t buf[], std::int32_t n, std::int32_t ceiling);

/* *minOut = min of in[0..n-1] (in[0] is always read). */
void Vocrel_RNR_vecMinInt32(const std::int32_t in[], std::int32_t n, std::int32_t* minOut);
/* Max over in[first..last]; returns its lowest index as a sign-extended int16. */
std::int32_t Vocrel_RNR_VecMaxItemInt32(const std::int32_t in[], std::int32_t first,
                                        std::int32_t last, std::int32_t* maxOut);

/* Saturating sums (four / two lanes) and the 64-bit two-lane sum. */
std::int32_t Vocrel_RNR_vecSum32Int16(const std::int16_t in[], std::int32_t n);
std::int32_t Vocrel_RNR_vecSum32Int32(const std::int32_t in[], std::int32_t n);
std::int64_t Vocrel_RNR_vecSum64Int32(const std::int32_t in[], std::int32_t n);
/* Sum >> floor(log2 n), saturated to 32 bits. */
std::int32_t Vocrel_RNR_vecMeanInt32(const std::int32_t in[], std::int32_t n);

/* First-order smoothing with Q15 weights. */
std::int32_t FnrSmoothTwoInt(std::int32_t a, std::int32_t b, std::int32_t wa, std::int32_t wb);
std::int32_t FnrSmoothThreeInt(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t wa,
                               std::int32_t wb, std::int32_t wc);
std::int32_t FnrSmoothTwoShort(std::int32_t a, std::int32_t b, std::int32_t wa, std::int32_t wb);

}  // extern "C"

#include "math/fixed.h"

namespace vocrel::math {

// ---- Scalar functions (log_exp.cpp, divide.cpp, sqrt.cpp, cos.cpp); the
// exported names above forward here --------------------------------------

// log2(x) in Q15 for x >= 1; 0 for x <= 0.
std::int32_t log2_q15(std::int32_t x);
// 10*log10(x) in Q15 for x >= 1, truncated; 0 for x <= 0.
std::int32_t ten_log10_q15(std::int32_t x);
// 10*log10 in Q15 of each in[i] with the Q15 logarithm truncated to a
// multiple of 4 (the two lowest bits are 0); in may equal out.
void ten_log10_q15_coarse(const std::int32_t* in, std::int32_t n, std::int32_t* out);
// ln of Q15 values in Q15, 0 for values of 1.0 and below; in may equal out.
void ln_q15(const std::int32_t* in, std::int32_t n, std::int32_t* out);
// e^max(v, 0) in Q15 for Q15 values, saturating at 2^31 - 1; in may equal out.
void exp_q15(const std::int32_t* in, std::int32_t n, std::int32_t* out);
// 10^x in Q31 for x in Q26, x < 0.
std::int32_t exp10_q31(std::int32_t x_q26);

// cos(theta) in Q15 (an int16 widened) for theta in Q14 radians.
std::int32_t cos_q15(std::int32_t theta_q14);

// out[i] = (sqrt(in[i]) in Q16 + offset) >> shift; in may equal out.
void roots_q16(const std::int32_t* in, std::int32_t offset, std::int32_t shift, std::int32_t n,
               std::int32_t* out);
// Rounded integer square root of a 64-bit value (x < 2^62); 0 for x <= 0.
std::int32_t root_i64(std::int64_t x);

// num / den in Qq through the Newton-Raphson reciprocal.
std::int32_t divide_q(std::int32_t num, std::int32_t den, std::int32_t q);
// num[i] / den in Qq through one reciprocal of den (low 32 bits kept).
void divide_by_scalar(const std::int32_t* num, std::int32_t den, std::int32_t q, std::int32_t n,
                      std::int32_t* out);
// num[i] / den[i] in Qq, saturated to 16 bits.
void divide_pairs_sat16(const std::int32_t* num, const std::int32_t* den, std::int32_t q,
                        std::int32_t n, std::int16_t* out);

// Minimum gain in Q15 for a reduction depth of depthDb dB, the exported
// table's entry min(32767, floor(32768 * 10^(-depthDb/20))); depths outside
// 0..20 give the nearest end (gain_table.cpp).
std::int32_t min_gain_q15(std::int32_t depthDb);

// ---- Vector primitives (vector.cpp); the exported names above forward here --

// Ascending element copies (overlap gives the element loop's result).
void copy_ascending(std::int16_t* dst, const std::int16_t* src, std::int32_t n);
void copy_ascending(std::int32_t* dst, const std::int32_t* src, std::int32_t n);

// Fills with the low 8/16/32 bits of value.
void fill_low_bits(std::int8_t* dst, std::int32_t n, std::int32_t value);
void fill_low_bits(std::int16_t* dst, std::int32_t n, std::int32_t value);
void fill_low_bits(std::int32_t* dst, std::int32_t n, std::int32_t value);

// In place: buf[i] = max(buf[i], (int16)floorValue); buf[i] = min(buf[i], ceiling).
void raise_to_floor(std::int16_t* buf, std::int32_t n, std::int32_t floorValue);
void cap_at_ceiling(std::int32_t* buf, std::int32_t n, std::int32_t ceiling);

// Smallest of in[0..n-1] (in[0] is always read).
std::int32_t minimum(const std::int32_t* in, std::int32_t n);
// Largest of in[first..last] into *maxOut; returns its lowest index as a
// sign-extended int16.
std::int32_t arg_max(const std::int32_t* in, std::int32_t first, std::int32_t last,
                     std::int32_t* maxOut);

// Saturating sums in a fixed lane order: four lanes (int16 input), two lanes
// (int32), and two 64-bit lanes.
std::int32_t sum_sat_four_lanes(const std::int16_t* in, std::int32_t n);
std::int32_t sum_sat_two_lanes(const std::int32_t* in, std::int32_t n);
std::int64_t sum_sat64(const std::int32_t* in, std::int32_t n);
// Sum >> floor(log2 n), saturated to 32 bits.
std::int32_t shifted_mean(const std::int32_t* in, std::int32_t n);

}  // namespace vocrel::math

namespace vocrel {
// The smoothing forms above, inline for the per-band loops (the exported
// functions return these).
// (a wa + b wb) >> 15 with the doubled products and their sum saturated in 64 bits.
constexpr std::int32_t smooth_two_int(std::int32_t a, std::int32_t b, std::int32_t wa,
                                      std::int32_t wb) {
  return lo32(add_sat64(mul_dbl64(a, wa), mul_dbl64(b, wb)) >> 16);
}
constexpr std::int32_t smooth_three_int(std::int32_t a, std::int32_t b, std::int32_t c,
                                        std::int32_t wa, std::int32_t wb, std::int32_t wc) {
  return lo32(add_sat64(add_sat64(mul_dbl64(a, wa), mul_dbl64(b, wb)), mul_dbl64(c, wc)) >> 16);
}
// Q15 operands (low 16 bits of each argument); the 32-bit sum saturates
// before the shift.
constexpr std::int32_t smooth_two_short(std::int32_t a, std::int32_t b, std::int32_t wa,
                                        std::int32_t wb) {
  return add_sat32(mul_dbl16(lo16(a), lo16(wa)), mul_dbl16(lo16(b), lo16(wb))) >> 16;
}
}  // namespace vocrel
