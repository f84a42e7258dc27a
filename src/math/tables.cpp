// Constant tables of the fixed-point scalar routines, both families.
//
// The values come from tools/gen_math_tables.py (math_tables.inc); the
// integer rules, the packing and the twin copies are re-checked here at
// compile time, so an edited or stale table fails the build.
#include <cstddef>
#include <cstdint>

#include "math/math_tables.inc"
#include "math/vocrel_math.h"

namespace {

using std::int16_t;
using std::int32_t;
using std::int64_t;
using std::size_t;
using std::uint64_t;

template <typename T, size_t N>
constexpr bool same_table(const T (&a)[N], const T (&b)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

template <size_t N>
constexpr bool same_pairs(const int32_t (&a)[N][2], const int32_t (&b)[N][2]) {
  for (size_t i = 0; i < N; ++i)
    if (a[i][0] != b[i][0] || a[i][1] != b[i][1]) return false;
  return true;
}

// Two int16 halves in one word: (high << 16) | (low & 0xFFFF).
constexpr int32_t pack16(int32_t high, int32_t low) {
  return static_cast<int32_t>((static_cast<std::uint32_t>(high) << 16) |
                              (static_cast<std::uint32_t>(low) & 0xFFFFu));
}

// Packed segment tables: (base[j], base[j] - base[j+1]).
template <size_t N>
constexpr bool packs_slopes(const int32_t (&packed)[N], const int16_t (&base)[N + 1]) {
  for (size_t j = 0; j < N; ++j)
    if (packed[j] != pack16(base[j], base[j] - base[j + 1])) return false;
  return true;
}

constexpr bool cos_tab_packs() {
  for (size_t i = 0; i < 64; ++i)
    if (vocrel_rnr_cos_tab[i] != pack16(vocrel_rnr_cos_y[i + 1], vocrel_rnr_cos_dy[i]))
      return false;
  return true;
}

constexpr bool inv_q30_rule(const int32_t (&r)[128]) {
  for (int64_t k = 0; k < 128; ++k)
    if (r[k] != (int64_t{1} << 39) / (257 + 2 * k)) return false;
  return true;
}

// floor(sqrt(n)) for any 64-bit unsigned n, bit by bit.
constexpr uint64_t isqrt64(uint64_t n) {
  uint64_t root = 0;
  for (int bit = 31; bit >= 0; --bit) {
    const uint64_t trial = root | (uint64_t{1} << bit);
    if (trial * trial <= n) root = trial;
  }
  return root;
}

// floor(2^70 / d) for odd d > 64 (the quotient then fits 64 bits).
constexpr uint64_t div_pow2_70(uint64_t d) {
  uint64_t q = 0;
  uint64_t rem = 1;
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

// a_k = round(sqrt((k + 1/2) 2^55)) = round(sqrt((2k+1) 2^56) / 2);
// b_k = min(2^31 - 1, round(2^34 / sqrt(2k+1))), which clamps for 2k+1 < 64.
constexpr bool sqrt_pairs_rule(const int32_t (&t)[128][2]) {
  for (uint64_t k = 0; k < 128; ++k) {
    const uint64_t a = (isqrt64((2 * k + 1) << 56) + 1) / 2;
    const uint64_t b = k < 32 ? 2147483647u : (isqrt64(div_pow2_70(2 * k + 1)) + 1) / 2;
    if (static_cast<uint64_t>(t[k][0]) != a || static_cast<uint64_t>(t[k][1]) != b) return false;
  }
  return true;
}

static_assert(same_table(vocrel_rnr_log2Table, sFnrlog2Table));
static_assert(same_table(vocrel_rnr_sqrt_table, vocrel_fnr_sqrt_table));
static_assert(same_pairs(vocrel_rnr_sqrt_32_tab, iFnrSqrtTab));
static_assert(same_table(vocrel_rnr_tab_invQ30, iFnr_tab_invQ30));
static_assert(same_table(vocrel_rnr_exp2Coef, vocrel_fnr_exp2Coef));

static_assert(packs_slopes(vocrel_rnr_Log2Tab, vocrel_rnr_log2Table));
static_assert(packs_slopes(vocrel_rnr_Pow2Tab, vocrel_rnr_pow2table));
static_assert(cos_tab_packs());
static_assert(inv_q30_rule(vocrel_rnr_tab_invQ30));
static_assert(sqrt_pairs_rule(vocrel_rnr_sqrt_32_tab));

// End points of the rule tables.
static_assert(vocrel_rnr_log2Table[0] == 0 && vocrel_rnr_log2Table[32] == 32767);
static_assert(vocrel_rnr_pow2table[0] == 16384 && vocrel_rnr_pow2table[32] == 32767);
static_assert(vocrel_rnr_cos_y[0] == 32767 && vocrel_rnr_cos_y[64] == 0);
static_assert(vocrel_rnr_tab_invQ30[0] == 2139127680 && vocrel_rnr_tab_invQ30[127] == 1075843080);
static_assert(vocrel_rnr_sqrt_32_tab[0][0] == 134217728 &&
              vocrel_rnr_sqrt_32_tab[0][1] == 2147483647);
static_assert(vocrel_rnr_sqrt_32_tab[127][0] == 2143285240);
static_assert(static_cast<std::uint16_t>(vocrel_rnr_sqrt_table[24]) == 32768);

}  // namespace
