// Floor-noise path: initial state, tunables, state check and frame counting.
#include <cstring>

#include "base/checks.h"
#include "fft/fft_setup.h"
#include "fnr/fnr_internal.h"
#include "math/constants.h"
#include "math/fixed.h"

namespace {

using namespace vocrel;

constexpr std::int32_t kInitNoise = 50;                       // band noise before any learning
constexpr std::int16_t kInitGainCoef = math::q15_rest(0.05);  // 0.95
constexpr std::int32_t kInitHangCnt = 10;                     // no hangover before the first reset
constexpr std::int16_t kInitNoiseDb = -100;                   // Q5 dB
constexpr std::int32_t kInitBandFloor = 1000000;              // floor tracker starts high
constexpr std::int32_t kInitDevThr = 2621440;                 // 80 in units of 32768
constexpr std::int32_t kFrameCntLimit = 268435455;
constexpr std::int32_t kFrameCntRestart = 1000;
static_assert(kInitGainCoef == 31129);

}  // namespace

namespace vocrel::fnr {

void take_tunables(FnrState* st, const Vocrel_RNR_Params* p) {
  st->levelThrDb = static_cast<std::int16_t>(p->levelThrDb);
  st->levelAdaptOff = static_cast<std::uint16_t>(p->levelAdaptOff);
  st->vadBandThr = static_cast<std::uint16_t>(p->vadBandThr);
  st->maxNr = static_cast<std::uint16_t>(p->maxNr);
  st->hpFilterOn = p->hpFilterOn;
}

void init(FnrState* st, void* fftSetup, const Vocrel_RNR_Params* p) {
  std::memset(st, 0, sizeof(FnrState));
  st->initCheck = kFnrCheck;
  st->reserved = 0;

  st->sampleRate = p->sampleRate;
  st->channels = static_cast<std::uint16_t>(p->channels);
  take_tunables(st, p);
  st->fftSpec = make_ref(fftSetup, st);

  const RateCfg cfg = rate_cfg(p->sampleRate);
  st->fftLen = cfg.M;
  st->winLen = cfg.W;
  const Ref32 hpTable =
      p->sampleRate == 16000 ? kTable16k : (p->sampleRate == 8000 ? kTable8k : kTableNone);
  for (FnrChanState& ch : st->chan) {
    ch.hp.coefA = hpTable;
    ch.hp.coefB = hpTable;
  }

  // Cannot refuse: the rate's order is within the engine's range.
  fft::build_setup(fftSetup, cfg.order);

  st->bandNum = kBands;
  init_band_noise(st);
  std::memcpy(st->initTag, "ITIV", 4);
  st->reserved = 0;
  for (FnrChanState& ch : st->chan) ch.tonal.devThr = kInitDevThr;
}

bool state_consistent(const FnrState* st, std::int32_t sampleRate, std::int32_t channels) {
  return st->initCheck == kFnrCheck && st->sampleRate == sampleRate && st->channels == channels &&
         (sampleRate == 8000 || sampleRate == 16000 || sampleRate == 48000) &&
         (channels == 1 || channels == 2) && st->fftSpec == kFnrFftSpecRef;
}

void begin_frame(FnrState* st, std::int32_t traceGiven) {
  st->trace = traceGiven;
  const std::int32_t next = add_wrap32(st->frameCnt, 1);
  st->frameCnt = next >= kFrameCntLimit ? kFrameCntRestart : next;
}

void init_band_noise(FnrState* st) {
  const std::int32_t bands = clamp_count(st->bandNum, kBands);
  for (FnrChanState& ch : st->chan) {
    for (std::int32_t b = 0; b < bands; ++b) {
      ch.bandNoise[b] = kInitNoise;
      ch.gainCoef[b] = kInitGainCoef;
    }
    ch.hangCnt = kInitHangCnt;
    ch.noiseDb = kInitNoiseDb;
    for (std::int32_t& f : ch.bandFloor) f = kInitBandFloor;
  }
}

}  // namespace vocrel::fnr
