// Constant tables of the fixed-point scalar routines, both families.
//
// Every table that a rule gives is built here from that rule at compile time;
// the logarithm, power and cosine rules use the compile-time series of
// const_math.h, and every one of their values lies at least 0.004 away from a
// rounding tie, so the series' error never decides a value. The tests compare
// them with the C library's functions. The three tables no rule gives are
// listed as data. The two families hold the same values, each in its own copy.
#include <array>
#include <cstdint>

#include "math/const_math.h"
#include "math/fixed.h"
#include "math/vocrel_math.h"

namespace {

namespace cmath = vocrel::cmath;

// round() of a non-negative value.
constexpr std::int32_t round_up_half(double v) { return static_cast<std::int32_t>(v + 0.5); }

// log2(1 + i/32) in Q15 (32767 = 1.0), i = 0..32.
constexpr std::array<std::int16_t, 33> log2_table() {
  std::array<std::int16_t, 33> t{};
  for (int i = 0; i <= 32; ++i)
    t[i] = static_cast<std::int16_t>(
        round_up_half(32767.0 * cmath::log_series(1.0 + i / 32.0) / cmath::kLn2));
  return t;
}

// min(32767, round(16384 * 2^(i/32))): 2^(i/32) in Q14, i = 0..32.
constexpr std::array<std::int16_t, 33> pow2_table() {
  std::array<std::int16_t, 33> t{};
  for (int i = 0; i <= 32; ++i) {
    const std::int32_t v = round_up_half(16384.0 * cmath::exp_series(i * cmath::kLn2 / 32.0));
    t[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : v);
  }
  return t;
}

// min(32767, round(32768 * cos(i pi/128))), i = 0..64 (entry 64 is exactly 0).
constexpr std::array<std::int16_t, 65> cos_table() {
  std::array<std::int16_t, 65> t{};
  for (int i = 0; i <= 64; ++i) {
    const std::int32_t v = round_up_half(32768.0 * cmath::sin_pi_ratio(64 - i, 128));
    t[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : v);
  }
  return t;
}

// Two int16 halves in one word: (high << 16) | (low & 0xFFFF).
constexpr std::int32_t pack16(std::int32_t high, std::int32_t low) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) |
                                   (static_cast<std::uint32_t>(low) & 0xFFFFu));
}

// Packed segments of a table of N + 1 points: (base[j], base[j] - base[j+1]).
template <std::size_t N>
constexpr std::array<std::int32_t, N> packed_slopes(const std::array<std::int16_t, N + 1>& base) {
  std::array<std::int32_t, N> t{};
  for (std::size_t j = 0; j < N; ++j) t[j] = pack16(base[j], base[j] - base[j + 1]);
  return t;
}

// Packed cosine segments: (Y[i+1], slope[i]).
constexpr std::array<std::int32_t, 64> cos_segments(const std::array<std::int16_t, 65>& y,
                                                    const std::array<std::int16_t, 65>& slope) {
  std::array<std::int32_t, 64> t{};
  for (int i = 0; i < 64; ++i) t[i] = pack16(y[i + 1], slope[i]);
  return t;
}

// floor(sqrt(n)) for any 64-bit unsigned n, bit by bit.
constexpr std::uint64_t isqrt64(std::uint64_t n) {
  std::uint64_t root = 0;
  for (int bit = 31; bit >= 0; --bit) {
    const std::uint64_t trial = root | (std::uint64_t{1} << bit);
    if (trial * trial <= n) root = trial;
  }
  return root;
}

// floor(2^70 / d) for odd d > 64 (the quotient then fits 64 bits).
constexpr std::uint64_t div_pow2_70(std::uint64_t d) {
  std::uint64_t q = 0;
  std::uint64_t rem = 1;
  for (int i = 0; i < 70; ++i) {
    rem <<= 1;
    q <<= 1;
    if (rem >= d) {
      rem -= d;
      q |= 1;
    }
  }
  return q;
}

// Newton seeds of the 64-bit root, segment k covering [k, k+1) 2^56 of the
// normalised argument: a_k = round(sqrt((k + 1/2) 2^55)) = round(sqrt((2k+1)
// 2^56) / 2); b_k = min(2^31 - 1, round(2^34 / sqrt(2k+1))), which clamps for
// 2k+1 < 64.
constexpr vocrel::SqrtSeeds sqrt_seeds() {
  vocrel::SqrtSeeds t{};
  for (std::uint64_t k = 0; k < 128; ++k) {
    t[k][0] = static_cast<std::int32_t>((isqrt64((2 * k + 1) << 56) + 1) / 2);
    t[k][1] = k < 32 ? vocrel::kInt32Max
                     : static_cast<std::int32_t>((isqrt64(div_pow2_70(2 * k + 1)) + 1) / 2);
  }
  return t;
}

// floor(2^39 / (257 + 2k)): 1 / (1 + (k + 1/2)/128) in Q31, truncated.
constexpr std::array<std::int32_t, 128> reciprocal_seeds() {
  std::array<std::int32_t, 128> t{};
  for (std::int64_t k = 0; k < 128; ++k)
    t[k] = static_cast<std::int32_t>((std::int64_t{1} << 39) / (257 + 2 * k));
  return t;
}

// Listed: about 16384 sqrt(1 + k/8), biased slightly upward for the linear
// interpolation; no rule gives them. Entry 24 is 32768, stored as the bit
// pattern 0x8000 and read unsigned.
constexpr std::array<std::int16_t, 25> kSqrtPoints = {
    16384, 17382, 18322, 19215, 20069, 20888, 21676, 22437, 23172, 23885, 24578, 25251, 25907,
    26546, 27171, 27782, 28379, 28964, 29538, 30100, 30652, 31195, 31728, 32253, -32768};

// Listed: the quadratic fit c2, c1, c0 (Q15) of 2^u on [-1, 0); no rule gives it.
constexpr std::array<std::int16_t, 3> kExp2Fit = {5615, 21871, 32701};

}  // namespace

extern "C" {

// ---- Environment-noise family -----------------------------------------------
extern constexpr std::array<std::int32_t, 32> vocrel_rnr_Log2Tab = packed_slopes<32>(log2_table());
#if VOCREL_MODE1
extern constexpr std::array<std::int16_t, 33> vocrel_rnr_pow2table = pow2_table();
extern constexpr std::array<std::int32_t, 32> vocrel_rnr_Pow2Tab = packed_slopes<32>(pow2_table());
extern constexpr std::array<std::int16_t, 65> vocrel_rnr_cos_y = cos_table();
// Listed: the cosine segment slopes, close to (Y[i+1] - Y[i]) 128/402 with
// some entries tuned by hand; no rule gives them.
extern constexpr std::array<std::int16_t, 65> vocrel_rnr_cos_dy = {
    -3,   -9,   -16,  -22,  -28,  -34,  -41,  -47,  -53,  -59,  -65,  -71,  -77,
    -83,  -89,  -95,  -101, -107, -112, -118, -123, -129, -134, -140, -145, -150,
    -155, -160, -165, -170, -174, -179, -183, -188, -192, -196, -200, -204, -207,
    -211, -215, -218, -221, -224, -227, -230, -233, -235, -238, -240, -242, -244,
    -246, -248, -249, -250, -252, -253, -254, -254, -255, -256, -256, -260, -260};
extern constexpr std::array<std::int32_t, 64> vocrel_rnr_cos_tab =
    cos_segments(vocrel_rnr_cos_y, vocrel_rnr_cos_dy);
#endif

// ---- Both families ------------------------------------------------------------
// Stored once under the floor-noise name; the environment-noise name is a
// second symbol (an alias) for the same words.
extern constexpr std::array<std::int16_t, 33> sFnrlog2Table = log2_table();
extern constexpr std::array<std::int16_t, 25> vocrel_fnr_sqrt_table = kSqrtPoints;
extern constexpr vocrel::SqrtSeeds iFnrSqrtTab = sqrt_seeds();
extern constexpr std::array<std::int32_t, 128> iFnr_tab_invQ30 = reciprocal_seeds();
extern constexpr std::array<std::int16_t, 3> vocrel_fnr_exp2Coef = kExp2Fit;

#if VOCREL_MODE1
extern const std::array<std::int16_t, 33> vocrel_rnr_log2Table
    __attribute__((alias("sFnrlog2Table")));
extern const std::array<std::int16_t, 25> vocrel_rnr_sqrt_table
    __attribute__((alias("vocrel_fnr_sqrt_table")));
extern const vocrel::SqrtSeeds vocrel_rnr_sqrt_32_tab __attribute__((alias("iFnrSqrtTab")));
extern const std::array<std::int32_t, 128> vocrel_rnr_tab_invQ30
    __attribute__((alias("iFnr_tab_invQ30")));
extern const std::array<std::int16_t, 3> vocrel_rnr_exp2Coef
    __attribute__((alias("vocrel_fnr_exp2Coef")));
#endif

}  // extern "C"

// Stated values of the rules.
static_assert(sFnrlog2Table[0] == 0 && sFnrlog2Table[1] == 1455 && sFnrlog2Table[16] == 19167 &&
              sFnrlog2Table[32] == 32767);
#if VOCREL_MODE1
static_assert(vocrel_rnr_pow2table[0] == 16384 && vocrel_rnr_pow2table[32] == 32767);
static_assert(vocrel_rnr_cos_y[0] == 32767 && vocrel_rnr_cos_y[64] == 0);
#endif
static_assert(iFnr_tab_invQ30[0] == 2139127680 && iFnr_tab_invQ30[127] == 1075843080);
static_assert(iFnrSqrtTab[0][0] == 134217728 && iFnrSqrtTab[0][1] == 2147483647);
static_assert(iFnrSqrtTab[32][1] == 2130900515);
static_assert(iFnrSqrtTab[127][0] == 2143285240);
static_assert(static_cast<std::uint16_t>(vocrel_fnr_sqrt_table[24]) == 32768);
