// Tunables: default records, validation, read-back and change, version record
// and the dB-to-gain conversion tables.
#include "api/params.h"

#include <array>
#include <cstdint>

#include "api/api.h"
#include "base/layout.h"
#include "fnr/fnr.h"
#include "math/const_math.h"
#if VOCREL_MODE1
#include "rnr/rnr.h"
#endif

namespace vocrel {
namespace {

// Range test on the offset value as unsigned, so any value outside the range
// fails whatever its size.
constexpr bool in_range(std::int32_t v, std::int32_t lo, std::int32_t hi) {
  return static_cast<std::uint32_t>(v) - static_cast<std::uint32_t>(lo) <=
         static_cast<std::uint32_t>(hi - lo);
}

constexpr Vocrel_RNR_Params make_defaults(std::int32_t hp, std::int32_t rate, std::int32_t mode) {
  Vocrel_RNR_Params p{};
  p.maxNr = 15;
  p.hpFilterOn = hp;
  p.levelThrDb = -55;
  p.levelAdaptOff = 1;
  p.vadBandThr = 50;
  p.sampleRate = rate;
  p.channels = 1;
  p.mode = mode;
  return p;
}

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
constexpr std::int16_t min_gain_q15(int db) {
  auto g = static_cast<std::uint32_t>(32768.0 / cmath::exp_series(db * cmath::kLn10 / 20.0));
  while (!gain_fits(g, db)) --g;
  while (gain_fits(g + 1, db)) ++g;
  return static_cast<std::int16_t>(g > 32767 ? 32767 : g);
}
template <std::size_t... I>
constexpr std::array<std::int16_t, sizeof...(I)> min_gain_table(std::index_sequence<I...>) {
  return {min_gain_q15(static_cast<int>(I))...};
}

// Factors 0.25, 0.30, ..., 0.60 in Q15, rounded to nearest: round(32768 * (25 + 5i) / 100).
constexpr std::int16_t nr_factor_q15(int i) {
  return static_cast<std::int16_t>((32768 * (25 + 5 * i) * 2 + 100) / 200);
}

}  // namespace

std::int32_t check_stream(std::int32_t sampleRate, std::int32_t channels, std::int32_t mode) {
  if (sampleRate != 8000 && sampleRate != 16000 && sampleRate != 48000) {
    return VOCREL_RNR_E_SAMPLE_RATE;
  }
  if (channels != 1 && channels != 2) return VOCREL_RNR_E_CHANNELS;
  if (static_cast<std::uint32_t>(mode) >= 2u) return VOCREL_RNR_E_MODE;
  // A build without the environment-noise path knows mode 0 only.
  if (mode == 1 && !VOCREL_MODE1) return VOCREL_RNR_E_MODE;
  if (mode == 1 && sampleRate == 48000) return VOCREL_RNR_E_MODE_RATE;
  return VOCREL_RNR_OK;
}

std::int32_t check_tunables(const Vocrel_RNR_Params& p) {
  if (!in_range(p.maxNr, VOCREL_RNR_MAX_NR_MIN, VOCREL_RNR_MAX_NR_MAX)) return VOCREL_RNR_E_MAX_NR;
  if (!in_range(p.hpFilterOn, 0, 1)) return VOCREL_RNR_E_HP_FILTER;
  if (!in_range(p.levelThrDb, VOCREL_RNR_LEVEL_THR_MIN, VOCREL_RNR_LEVEL_THR_MAX))
    return VOCREL_RNR_E_LEVEL_THR;
  if (!in_range(p.levelAdaptOff, 0, 1)) return VOCREL_RNR_E_LEVEL_ADAPT;
  if (!in_range(p.vadBandThr, VOCREL_RNR_VAD_BAND_THR_MIN, VOCREL_RNR_VAD_BAND_THR_MAX))
    return VOCREL_RNR_E_VAD_BAND_THR;
  return VOCREL_RNR_OK;
}

}  // namespace vocrel

using namespace vocrel;

namespace {
constexpr auto kMinGainCfg = min_gain_table(std::make_index_sequence<21>{});
static_assert(kMinGainCfg[0] == 32767 && kMinGainCfg[1] == 29204 && kMinGainCfg[10] == 10362 &&
              kMinGainCfg[15] == 5827 && kMinGainCfg[20] == 3276);
static_assert(nr_factor_q15(0) == 8192 && nr_factor_q15(1) == 9830 && nr_factor_q15(7) == 19661);

template <std::size_t N>
constexpr std::int32_t find_entry(const std::int16_t (&table)[N], std::int32_t value) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i] == value) return static_cast<std::int32_t>(i);
  }
  return static_cast<std::int32_t>(N);
}

// An index clamped to 0..N-1, so that any argument reads a table entry.
template <std::size_t N>
constexpr std::size_t clamp_index(std::int32_t i, const std::int16_t (&)[N]) {
  if (i < 0) return 0;
  return static_cast<std::uint32_t>(i) >= N ? N - 1 : static_cast<std::size_t>(i);
}

RnrInstHeader* header_of(void* handle) { return static_cast<RnrInstHeader*>(handle); }
}  // namespace

extern "C" {

const Vocrel_RNR_Params g_Vocrel_RNR_Params_Flr_48k_MONO = make_defaults(0, 48000, 0);
const Vocrel_RNR_Params g_Vocrel_RNR_Params_Env_8k_MONO = make_defaults(1, 8000, 1);

const std::int16_t vocrel_rnr_minGainCfg[21] = {
    kMinGainCfg[0],  kMinGainCfg[1],  kMinGainCfg[2],  kMinGainCfg[3],  kMinGainCfg[4],
    kMinGainCfg[5],  kMinGainCfg[6],  kMinGainCfg[7],  kMinGainCfg[8],  kMinGainCfg[9],
    kMinGainCfg[10], kMinGainCfg[11], kMinGainCfg[12], kMinGainCfg[13], kMinGainCfg[14],
    kMinGainCfg[15], kMinGainCfg[16], kMinGainCfg[17], kMinGainCfg[18], kMinGainCfg[19],
    kMinGainCfg[20]};

const std::int16_t vocrel_rnr_nrFactorCfg[8] = {
    nr_factor_q15(0), nr_factor_q15(1), nr_factor_q15(2), nr_factor_q15(3),
    nr_factor_q15(4), nr_factor_q15(5), nr_factor_q15(6), nr_factor_q15(7)};

}  // extern "C"

namespace vocrel::api {

std::int32_t min_gain_for_depth(std::int32_t depthDb) {
  return vocrel_rnr_minGainCfg[clamp_index(depthDb, vocrel_rnr_minGainCfg)];
}
std::int32_t depth_for_min_gain(std::int32_t gainQ15) {
  return find_entry(vocrel_rnr_minGainCfg, gainQ15);
}
std::int32_t nr_factor_for_index(std::int32_t index) {
  return vocrel_rnr_nrFactorCfg[clamp_index(index, vocrel_rnr_nrFactorCfg)];
}
std::int32_t index_for_nr_factor(std::int32_t factorQ15) {
  return find_entry(vocrel_rnr_nrFactorCfg, factorQ15);
}

void read_tunables(const void* handle, Vocrel_RNR_Params* params) {
  const auto* h = static_cast<const RnrInstHeader*>(handle);
  params->sampleRate = h->sampleRate;
  params->channels = h->channels;
  params->mode = h->mode;
  params->maxNr = h->tunables[0];
  params->hpFilterOn = h->tunables[1];
  params->levelThrDb = h->tunables[2];
  params->levelAdaptOff = h->tunables[3];
  params->vadBandThr = h->tunables[4];
}

// The stream fields were checked at Init, but the block may have been
// overwritten since: the path state is only touched for a valid mode.
void take_tunables(void* handle, const Vocrel_RNR_Params& params) {
  RnrInstHeader* h = header_of(handle);
  h->tunables[0] = params.maxNr;
  h->tunables[1] = params.hpFilterOn;
  h->tunables[2] = params.levelThrDb;
  h->tunables[3] = params.levelAdaptOff;
  h->tunables[4] = params.vadBandThr;
  char* inst = static_cast<char*>(handle);
  if (h->mode == 0) {
    fnr::take_tunables(reinterpret_cast<FnrState*>(inst + kPathStateOffset), &params);
  } else {
#if VOCREL_MODE1
    for (int c = 0; c < 2; ++c) {
      rnr::take_tunables(reinterpret_cast<RnrChanState*>(inst + kRnrChanOffset(c)), &params);
    }
#endif
  }
}

}  // namespace vocrel::api

namespace {
constexpr Vocrel_RNR_Version kVersion = {"rvds4.0", "Vocrel Audio V100R002C11 ARM A8 RNR",
                                         "11:32:19 Jun 19 2015"};
}

const Vocrel_RNR_Version* vocrel::api::version() { return &kVersion; }
