// Fixed-point scalar functions, their tables, and the vector primitives
// shared by both noise-reduction paths.
//
// Two name families exist: the environment-noise family (Vocrel_RNR_*,
// tables vocrel_rnr_*) and the floor-noise family (Fnr*, Vocrel_Fnr_*,
// Vocrel_fnr_*, tables sFnr*/iFnr*/vocrel_fnr_*). Twins compute the same
// values bit for bit, each over its own copy of the tables.
//
// Q formats: Qn = n fractional bits. Logarithms return Q15, 10^x returns Q31,
// the cosine returns Q15 for a Q14 angle (pi = 51472).
#ifndef VOCREL_MATH_VOCREL_MATH_H
#define VOCREL_MATH_VOCREL_MATH_H

#include <stdint.h>

#include <array>

namespace vocrel {
using SqrtSeeds = std::array<std::array<int32_t, 2>, 128>;

// The seed table as the rows of two words that the root kernels index; an
// array of two-word arrays has exactly that layout.
inline const int32_t (*sqrt_seed_rows(const SqrtSeeds& seeds))[2] {
  static_assert(sizeof(SqrtSeeds) == 128 * 2 * sizeof(int32_t));
  return reinterpret_cast<const int32_t(*)[2]>(seeds.data());
}
}  // namespace vocrel

extern "C" {

// ---- Tables ------------------------------------------------------------

// log2(1 + i/32) in Q15, i = 0..32.
extern const std::array<int16_t, 33> vocrel_rnr_log2Table;
extern const std::array<int16_t, 33> sFnrlog2Table;
// Packed log2 segments: high half T[j], low half T[j] - T[j+1].
extern const std::array<int32_t, 32> vocrel_rnr_Log2Tab;

// 2^(i/32) in Q14 (32767 at i = 32), i = 0..32.
extern const std::array<int16_t, 33> vocrel_rnr_pow2table;
// Packed pow2 segments: high half P[j], low half P[j] - P[j+1].
extern const std::array<int32_t, 32> vocrel_rnr_Pow2Tab;

// Quarter-wave cosine in Q15 at i*pi/128, i = 0..64, and its segment slopes.
extern const std::array<int16_t, 65> vocrel_rnr_cos_y;
extern const std::array<int16_t, 65> vocrel_rnr_cos_dy;
// Packed cosine segments: high half Y[i+1], low half cos_dy[i].
extern const std::array<int32_t, 64> vocrel_rnr_cos_tab;

// sqrt(1 + k/8) in Q14, k = 0..24; entry 24 is 0x8000, read unsigned.
extern const std::array<int16_t, 25> vocrel_rnr_sqrt_table;
extern const std::array<int16_t, 25> vocrel_fnr_sqrt_table;

// Newton seeds of the 64-bit root: pair k = {a_k, b_k}, k = 0..127.
extern const vocrel::SqrtSeeds vocrel_rnr_sqrt_32_tab;
extern const vocrel::SqrtSeeds iFnrSqrtTab;

// Reciprocal seeds 2^31 * 256 / (257 + 2k), k = 0..127 (Q31).
extern const std::array<int32_t, 128> vocrel_rnr_tab_invQ30;
extern const std::array<int32_t, 128> iFnr_tab_invQ30;

// Quadratic 2^u on [-1, 0): {c2, c1, c0} in Q15.
extern const std::array<int16_t, 3> vocrel_rnr_exp2Coef;
extern const std::array<int16_t, 3> vocrel_fnr_exp2Coef;

/* ---- Scalar functions ------------------------------------------------ */

/* 10*log10(x) in Q15 for integer x >= 1; 0 for x <= 0. */
int32_t Vocrel_RNR_10xlog10(int32_t x);
int32_t Fnr_10xlog10(int32_t x);
/* log2(x) in Q15 for x >= 1; 0 for x <= 0. */
int32_t Fnr_Log2(int32_t x);

/* Vector logarithms / exponential; n must be even; in may equal out. */
void Vocrel_RNR_vec_10xlog10(const int32_t in[], int32_t n, int32_t out[]);
void Vocrel_RNR_vec_log(const int32_t in[], int32_t n, int32_t out[]);
void Vocrel_RNR_vec_powe(const int32_t in[], int32_t n, int32_t out[]);

/* 10^x in Q31 for x in Q26, x < 0. */
int32_t Vocrel_RNR_fnExp10(int32_t x);
int32_t Vocrel_Fnr_fnExp10(int32_t x);

/* cos(theta) in Q15 (an int16 widened) for theta in Q14 radians. */
int32_t Vocrel_RNR_cos(int32_t theta);

/* out[i] = (sqrt(in[i]) in Q16 + offset) >> shift. */
void Vocrel_RNR_vec_sqrt32(const int32_t in[], int32_t offset, int32_t shift, int32_t n,
                           int32_t out[]);
void Vocrel_fnr_vec_sqrt32(const int32_t in[], int32_t offset, int32_t shift, int32_t n,
                           int32_t out[]);

/* Rounded integer square root of a 64-bit value (x < 2^62). */
int32_t Vocrel_RNR_sqrt_i64(int64_t x);
int32_t Fnr_sqrt_i64_vec(int64_t x);

/* num / den in Qq, Newton-Raphson reciprocal. */
int32_t Vocrel_RNR_L_divide_Q(int32_t num, int32_t den, int32_t q);
int32_t Fnr_L_divide_Q(int32_t num, int32_t den, int32_t q);
void Vocrel_RNR_vecscl2i_L_divide_Q(const int32_t num[], int32_t den, int32_t q, int32_t n,
                                    int32_t out[]);
void Vocrel_RNR_vecvec2s_L_divide_Q(const int32_t num[], const int32_t den[], int32_t q, int32_t n,
                                    int16_t out[]);

/* ---- Vector primitives ----------------------------------------------- */

/* Ascending element copies (overlap gives the element loop's result). */
void Vocrel_RNR_vecCopyInt16(const int16_t src[], int32_t n, int16_t dst[]);
void Vocrel_RNR_vecCopyInt32(const int32_t src[], int32_t n, int32_t dst[]);
void FnrCopyInt(int32_t dst[], const int32_t src[], int32_t n);
void FnrCopyShort(int16_t dst[], const int16_t src[], int32_t n);

/* Fills with the low 8/16/32 bits of value. */
void Vocrel_RNR_vecSetInt8(int8_t dst[], int32_t n, int32_t value);
void Vocrel_RNR_vecSetINT16(int16_t dst[], int32_t n, int32_t value);
void Vocrel_RNR_vecSetINT32(int32_t dst[], int32_t n, int32_t value);

/* In-place clamps: buf[i] = max(buf[i], (int16)floorValue) / min(buf[i], ceiling). */
void Vocrel_RNR_vecFloorInt16(int16_t buf[], int32_t n, int32_t floorValue);
void Vocrel_RNR_vecCeilInt32(int32_t buf[], int32_t n, int32_t ceiling);

/* *minOut = min of in[0..n-1] (in[0] is always read). */
void Vocrel_RNR_vecMinInt32(const int32_t in[], int32_t n, int32_t* minOut);
/* Max over in[first..last]; returns its lowest index as a sign-extended int16. */
int32_t Vocrel_RNR_VecMaxItemInt32(const int32_t in[], int32_t first, int32_t last,
                                   int32_t* maxOut);

/* Saturating sums (four / two lanes) and the 64-bit two-lane sum. */
int32_t Vocrel_RNR_vecSum32Int16(const int16_t in[], int32_t n);
int32_t Vocrel_RNR_vecSum32Int32(const int32_t in[], int32_t n);
int64_t Vocrel_RNR_vecSum64Int32(const int32_t in[], int32_t n);
/* Sum >> floor(log2 n), saturated to 32 bits. */
int32_t Vocrel_RNR_vecMeanInt32(const int32_t in[], int32_t n);

/* First-order smoothing with Q15 weights. */
int32_t FnrSmoothTwoInt(int32_t a, int32_t b, int32_t wa, int32_t wb);
int32_t FnrSmoothThreeInt(int32_t a, int32_t b, int32_t c, int32_t wa, int32_t wb, int32_t wc);
int32_t FnrSmoothTwoShort(int32_t a, int32_t b, int32_t wa, int32_t wb);

}  // extern "C"

#include "math/fixed.h"

namespace vocrel {
// The smoothing forms above, inline for the per-band loops (the exported
// functions return these).
// (a wa + b wb) >> 15 with the doubled products and their sum saturated in 64 bits.
constexpr int32_t smooth_two_int(int32_t a, int32_t b, int32_t wa, int32_t wb) {
  return lo32(add_sat64(mul_dbl64(a, wa), mul_dbl64(b, wb)) >> 16);
}
constexpr int32_t smooth_three_int(int32_t a, int32_t b, int32_t c, int32_t wa, int32_t wb,
                                   int32_t wc) {
  return lo32(add_sat64(add_sat64(mul_dbl64(a, wa), mul_dbl64(b, wb)), mul_dbl64(c, wc)) >> 16);
}
// Q15 operands (low 16 bits of each argument); the 32-bit sum saturates
// before the shift.
constexpr int32_t smooth_two_short(int32_t a, int32_t b, int32_t wa, int32_t wb) {
  return add_sat32(mul_dbl16(lo16(a), lo16(wa)), mul_dbl16(lo16(b), lo16(wb))) >> 16;
}
}  // namespace vocrel

#endif  // VOCREL_MATH_VOCREL_MATH_H
