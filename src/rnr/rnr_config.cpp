// Channel-state life cycle: reset, guard words, FFT references, tunables,
// the consistency check run before every frame and the frame counter.
#include <cstring>

#include "base/checks.h"
#include "math/constants.h"
#include "math/vocrel_math.h"
#include "rnr/rnr.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"

namespace {

using namespace vocrel;
using namespace vocrel::rnr;

constexpr std::int16_t kBandEnergyThr = 610;                         // units of 32768
constexpr std::int16_t kBandSmoothCoefStart = math::q15_rest(0.05);  // 0.95
constexpr std::int16_t kBandSmoothGainStart = math::q15(0.1);
constexpr std::int16_t kBandSmoothWeightStart = math::q15(0.33);
constexpr std::int32_t kLevelStart = 100;
constexpr std::uint32_t kFrameCntLimit = 0xFFFFFFA0u;
constexpr std::uint32_t kFrameCntRestart = 100;
static_assert(kBandSmoothCoefStart == 31129 && kBandSmoothGainStart == 3277 &&
              kBandSmoothWeightStart == 10813);

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

namespace vocrel::rnr {

void reset_channel(RnrChanState* st, const Vocrel_RNR_Params* p, std::int32_t size) {
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
  st->minGain = static_cast<std::int16_t>(math::min_gain_q15(p->maxNr));
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
  write_guards(st);
}

void write_guards(RnrChanState* st) {
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

bool guards_intact(const RnrChanState* st) {
  const std::uint32_t end =
      is_narrow(st->sampleRate) ? st->tail.r8.endGuard : st->tail.r16.endGuard;
  return st->guard0 == kGuard && end == kGuard;
}

void attach_fft(RnrChanState* st, const void* fftSpecA, const void* fftSpecB) {
  st->fftSpecA = make_ref(fftSpecA, st);
  st->fftSpecB = make_ref(fftSpecB, st);
}

void take_tunables(RnrChanState* st, const Vocrel_RNR_Params* p) {
  st->hpFilterOn = static_cast<std::int16_t>(p->hpFilterOn);
  st->minGain = static_cast<std::int16_t>(math::min_gain_q15(p->maxNr));
  st->maxNrNegDb = static_cast<std::int16_t>(-p->maxNr);
}

bool state_consistent(const RnrChanState* st, std::int32_t sampleRate, std::int32_t chanIndex) {
  return st->sampleRate == sampleRate && rnr_chan_of_refs(st->fftSpecA, st->fftSpecB) == chanIndex;
}

bool stage_allowed(const RnrChanState* st) {
  return st != nullptr && (st->sampleRate == 8000 || st->sampleRate == 16000) &&
         rnr_chan_of_refs(st->fftSpecA, st->fftSpecB) >= 0 && guards_intact(st);
}

void advance_frame(RnrChanState* st) {
  const std::uint32_t n = st->frameCnt + 1u;
  st->frameCnt = n > kFrameCntLimit ? kFrameCntRestart : n;
}

}  // namespace vocrel::rnr
