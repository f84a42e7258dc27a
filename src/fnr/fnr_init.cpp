// Floor-noise path: initial state, tunables, state check and frame counting.
#include <cstring>

#include "base/checks.h"
#include "fft/vocrel_fft.h"
#include "fnr/fnr_internal.h"
#include "math/fixed.h"

namespace {

using namespace vocrel;

constexpr int32_t kInitNoise = 50;           // band noise before any learning
constexpr int16_t kInitGainCoef = 31129;     // 0.95 in Q15
constexpr int32_t kInitHangCnt = 10;         // no hangover before the first reset
constexpr int16_t kInitNoiseDb = -100;       // Q5 dB
constexpr int32_t kInitBandFloor = 1000000;  // floor tracker starts high
constexpr int32_t kInitDevThr = 2621440;     // 80 in units of 32768
constexpr int32_t kFrameCntLimit = 268435455;
constexpr int32_t kFrameCntRestart = 1000;

// Offset of the FFT set-up from the path state in every instance.

void take_tunables(FnrState* st, const Vocrel_RNR_Params* p) {
  st->levelThrDb = static_cast<int16_t>(p->levelThrDb);
  st->levelAdaptOff = static_cast<uint16_t>(p->levelAdaptOff);
  st->vadBandThr = static_cast<uint16_t>(p->vadBandThr);
  st->maxNr = static_cast<uint16_t>(p->maxNr);
  st->hpFilterOn = p->hpFilterOn;
}

}  // namespace

extern "C" {

void FnrInit(FnrState* st, void* fftSpecA, const Vocrel_RNR_Params* p) {
  std::memset(st, 0, sizeof(FnrState));
  st->initCheck = kFnrCheck;
  st->reserved = 0;

  st->sampleRate = p->sampleRate;
  st->channels = static_cast<uint16_t>(p->channels);
  take_tunables(st, p);
  st->fftSpec = make_ref(fftSpecA, st);

  const fnr::RateCfg cfg = fnr::rate_cfg(p->sampleRate);
  st->fftLen = cfg.M;
  st->winLen = cfg.W;
  const Ref32 hpTable =
      p->sampleRate == 16000 ? kTable16k : (p->sampleRate == 8000 ? kTable8k : kTableNone);
  for (FnrChanState& ch : st->chan) {
    ch.hp.coefA = hpTable;
    ch.hp.coefB = hpTable;
  }

  Vocrel_FFTInit_C_SC32(fftSpecA, cfg.order);

  st->bandNum = fnr::kBands;
  FnrInitBarkNoise(st);
  std::memcpy(st->initTag, "ITIV", 4);
  st->reserved = 0;
  for (FnrChanState& ch : st->chan) ch.tonal.devThr = kInitDevThr;
}

void FnrSetParams(FnrState* st, const Vocrel_RNR_Params* p) { take_tunables(st, p); }

int32_t FnrCheckState(const FnrState* st, int32_t sampleRate, int32_t channels) {
  if (st->initCheck != kFnrCheck) return VOCREL_RNR_E_CORRUPT;
  if (st->sampleRate != sampleRate || st->channels != channels) return VOCREL_RNR_E_CORRUPT;
  if (sampleRate != 8000 && sampleRate != 16000 && sampleRate != 48000) return VOCREL_RNR_E_CORRUPT;
  if (channels != 1 && channels != 2) return VOCREL_RNR_E_CORRUPT;
  if (st->fftSpec != kFnrFftSpecRef) return VOCREL_RNR_E_CORRUPT;
  return VOCREL_RNR_OK;
}

int32_t FnrCheckStage(const FnrState* st, const FnrChanState* ch) {
  if (st == nullptr) return VOCREL_RNR_E_CORRUPT;
  if (ch != nullptr && ch != &st->chan[0] && ch != &st->chan[1]) return VOCREL_RNR_E_CORRUPT;
  return FnrCheckState(st, st->sampleRate, st->channels);
}

void FnrBeginFrame(FnrState* st, int32_t traceGiven) {
  st->trace = traceGiven;
  const int32_t next = add_wrap32(st->frameCnt, 1);
  st->frameCnt = next >= kFrameCntLimit ? kFrameCntRestart : next;
}

void FnrInitBarkNoise(FnrState* st) {
  const int32_t bands = fnr::clamp_count(st->bandNum, fnr::kBands);
  for (FnrChanState& ch : st->chan) {
    for (int32_t b = 0; b < bands; ++b) {
      ch.bandNoise[b] = kInitNoise;
      ch.gainCoef[b] = kInitGainCoef;
    }
    ch.hangCnt = kInitHangCnt;
    ch.noiseDb = kInitNoiseDb;
    for (int32_t& f : ch.bandFloor) f = kInitBandFloor;
  }
}

}  // extern "C"
