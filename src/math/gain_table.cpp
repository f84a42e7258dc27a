// The minimum gains of the reduction depths: the Q15 gain that an
// attenuation of 0..20 dB leaves, as the exported table and the lookup that
// the instance's tunables and the environment-noise path share.
#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "math/const_math.h"
#include "math/vocrel_math.h"
#include "vocrel_rnr.h"

namespace {

namespace cmath = vocrel::cmath;

// Linear gain of an attenuation of i dB in Q15: min(32767, floor(32768 * 10^(-i/20))).
// Generated exactly at compile time: g is the largest value with (g / 32768)^20 <= 10^-i, compared
// as g^20 * 10^i <= 32768^20 in multiple-precision integers.
struct Big {  // little-endian base 2^32, enough for 32768^20 * 10^20 (< 2^367)
  std::array<std::uint32_t, 13> w{};
};
constexpr Big big_mul(const Big& a, std::uint32_t m) {
  Big r{};
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < a.w.size(); ++i) {
    const std::uint64_t t = std::uint64_t{a.w[i]} * m + carry;
    r.w[i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  return r;
}
constexpr bool big_le(const Big& a, const Big& b) {
  for (std::size_t i = a.w.size(); i-- > 0;) {
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i];
  }
  return true;
}
constexpr Big big_pow(std::uint32_t base, int e) {
  Big r{};
  r.w[0] = 1;
  for (int k = 0; k < e; ++k) r = big_mul(r, base);
  return r;
}
// g^20 * 10^db <= 32768^20: g / 32768 is at most 10^(-db/20).
constexpr bool gain_fits(std::uint32_t g, int db) {
  Big lhs = big_pow(g, 20);
  for (int k = 0; k < db; ++k) lhs = big_mul(lhs, 10);
  return big_le(lhs, big_pow(32768, 20));
}
// A double estimate first, then the exact comparison settles the floor (a
// bisection over the whole range would cost the compiler fifteen of them).
constexpr std::int16_t exact_min_gain_q15(int db) {
  auto g = static_cast<std::uint32_t>(32768.0 / cmath::exp_series(db * cmath::kLn10 / 20.0));
  while (!gain_fits(g, db)) --g;
  while (gain_fits(g + 1, db)) ++g;
  return static_cast<std::int16_t>(g > 32767 ? 32767 : g);
}
template <std::size_t... I>
constexpr std::array<std::int16_t, sizeof...(I)> min_gain_table(std::index_sequence<I...>) {
  return {exact_min_gain_q15(static_cast<int>(I))...};
}

constexpr auto kMinGainCfg = min_gain_table(std::make_index_sequence<21>{});
static_assert(kMinGainCfg[0] == 32767 && kMinGainCfg[1] == 29204 && kMinGainCfg[10] == 10362 &&
              kMinGainCfg[15] == 5827 && kMinGainCfg[20] == 3276);

}  // namespace

extern "C" const std::int16_t vocrel_rnr_minGainCfg[21] = {
    kMinGainCfg[0],  kMinGainCfg[1],  kMinGainCfg[2],  kMinGainCfg[3],  kMinGainCfg[4],
    kMinGainCfg[5],  kMinGainCfg[6],  kMinGainCfg[7],  kMinGainCfg[8],  kMinGainCfg[9],
    kMinGainCfg[10], kMinGainCfg[11], kMinGainCfg[12], kMinGainCfg[13], kMinGainCfg[14],
    kMinGainCfg[15], kMinGainCfg[16], kMinGainCfg[17], kMinGainCfg[18], kMinGainCfg[19],
    kMinGainCfg[20]};

// Depths outside 0..20 read the nearest end of the table.
std::int32_t vocrel::math::min_gain_q15(std::int32_t depthDb) {
  return vocrel_rnr_minGainCfg[std::clamp(depthDb, std::int32_t{0}, std::int32_t{20})];
}
