// Tunables: default records, validation, read-back and change, version record
// and the conversions between tunables and gains (the minimum-gain table
// itself is in math/gain_table.cpp).
#include "api/params.h"

#include <cstdint>

#include "api/api.h"
#include "base/layout.h"
#include "fnr/fnr.h"
#include "math/vocrel_math.h"
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

const std::int16_t vocrel_rnr_nrFactorCfg[8] = {
    nr_factor_q15(0), nr_factor_q15(1), nr_factor_q15(2), nr_factor_q15(3),
    nr_factor_q15(4), nr_factor_q15(5), nr_factor_q15(6), nr_factor_q15(7)};

}  // extern "C"

namespace vocrel::api {

std::int32_t min_gain_for_depth(std::int32_t depthDb) { return math::min_gain_q15(depthDb); }
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
