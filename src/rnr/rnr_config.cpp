// Channel-state life cycle: reset, guard words, FFT references, tunables,
// the consistency check run before every frame and the frame counter.
#include <cstring>

#include "base/checks.h"
#include "rnr/rnr.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"

namespace {

using namespace vocrel;
using namespace vocrel::rnr;

constexpr std::int16_t kBandEnergyThr = 610;            // units of 32768
constexpr std::int16_t kBandSmoothCoefStart = 31129;    // 0.95 Q15
constexpr std::int16_t kBandSmoothGainStart = 3277;     // 0.1 Q15
constexpr std::int16_t kBandSmoothWeightStart = 10813;  // 0.33 Q15
constexpr std::int32_t kLevelStart = 100;
constexpr std::uint32_t kFrameCntLimit = 0xFFFFFFA0u;
constexpr std::uint32_t kFrameCntRestart = 100;

template <typename Tail>
void write_common_tail_guards(Tail& t) {
  t.coefGuard16 = kGuard16;
  t.coefGuard = kGuard;
  for (auto& r : t.reservedI16) {
    r.guard16 = kGuard16;
    r.guard = kGuard;
  }
  t.gainGuard16 = kGuard16;
  t.noiseGuard = kGuard;
  for (auto& r : t.reservedI32) r.guard = kGuard;
  t.binGuard16 = kGuard16;
  t.endGuard = kGuard;
}

}  // namespace

extern "C" {

std::int32_t Vocrel_RNR_ResetConfig(RnrChanState* st, const Vocrel_RNR_Params* p,
                                    std::int32_t size) {
  if (st == nullptr || p == nullptr) return VOCREL_RNR_E_NULL_HANDLE;
  std::memset(st, 0, sizeof(RnrChanState));
  st->stateSize = size;
  st->sampleRate = p->sampleRate;
  st->channels = static_cast<std::int16_t>(p->channels);
  const Ref32 table = is_narrow(p->sampleRate) ? kTable8k : kTable16k;
  const RateView v = view_of(st);
  st->fftSize = static_cast<std::int16_t>(v.L);
  st->frameLen = static_cast<std::int16_t>(v.N);
  st->winLen = static_cast<std::int16_t>(v.W);
  st->hp.coefA = table;
  st->hp.coefB = table;
  st->winCoef = table;
  st->hpFilterOn = static_cast<std::int16_t>(p->hpFilterOn);
  st->minGain = static_cast<std::int16_t>(Vocrel_RNR_WtMaxNr(p->maxNr));
  st->maxNrNegDb = static_cast<std::int16_t>(-p->maxNr);
  st->bandEnergyThr = kBandEnergyThr;
  for (int k = 0; k < v.B; ++k) {
    v.bandSmoothCoef[k] = kBandSmoothCoefStart;
    v.bandSmoothGain[k] = kBandSmoothGainStart;
  }
  st->bandSmoothWeight = kBandSmoothWeightStart;
  st->vad3On = p->vad3On == 1 ? 1 : 0;
  st->levelTrack = kLevelStart;
  st->levelFloor = kLevelStart;
  Vocrel_RNR_InitMemDetect(st);
  return VOCREL_RNR_OK;
}

void Vocrel_RNR_InitMemDetect(RnrChanState* st) {
  if (st == nullptr) return;
  st->guard0 = kGuard;
  st->guard1 = kGuard;
  st->midGuard = kGuard;
  if (is_narrow(st->sampleRate)) {
    auto& t = st->tail.r8;
    write_common_tail_guards(t);
    t.reservedWide.guard16 = kGuard16;
    t.reservedWide.guard = kGuard;
  } else {
    write_common_tail_guards(st->tail.r16);
  }
}

std::int32_t Vocrel_RNR_MemErrDetect(const RnrChanState* st) {
  if (st == nullptr) return VOCREL_RNR_E_CORRUPT;
  const std::uint32_t end =
      is_narrow(st->sampleRate) ? st->tail.r8.endGuard : st->tail.r16.endGuard;
  return (st->guard0 == kGuard && end == kGuard) ? VOCREL_RNR_OK : VOCREL_RNR_E_CORRUPT;
}

void RnrAttachFft(RnrChanState* st, const void* fftSpecA, const void* fftSpecB) {
  st->fftSpecA = make_ref(fftSpecA, st);
  st->fftSpecB = make_ref(fftSpecB, st);
}

void RnrSetParams(RnrChanState* st, const Vocrel_RNR_Params* p) {
  st->hpFilterOn = static_cast<std::int16_t>(p->hpFilterOn);
  st->minGain = static_cast<std::int16_t>(Vocrel_RNR_WtMaxNr(p->maxNr));
  st->maxNrNegDb = static_cast<std::int16_t>(-p->maxNr);
}

std::int32_t RnrCheckState(const RnrChanState* st, std::int32_t sampleRate,
                           std::int32_t chanIndex) {
  if (st->sampleRate != sampleRate) return VOCREL_RNR_E_CORRUPT;
  if (rnr_chan_of_refs(st->fftSpecA, st->fftSpecB) != chanIndex) return VOCREL_RNR_E_CORRUPT;
  return VOCREL_RNR_OK;
}

std::int32_t RnrCheckStage(const RnrChanState* st) {
  if (st == nullptr) return VOCREL_RNR_E_CORRUPT;
  if (st->sampleRate != 8000 && st->sampleRate != 16000) return VOCREL_RNR_E_CORRUPT;
  if (rnr_chan_of_refs(st->fftSpecA, st->fftSpecB) < 0) return VOCREL_RNR_E_CORRUPT;
  return Vocrel_RNR_MemErrDetect(st);
}

void RnrAdvanceFrame(RnrChanState* st) {
  const std::uint32_t n = st->frameCnt + 1u;
  st->frameCnt = n > kFrameCntLimit ? kFrameCntRestart : n;
}

}  // extern "C"
