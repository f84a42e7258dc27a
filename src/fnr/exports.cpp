// The floor-noise path's exported C names, each a forward to the routine in
// vocrel::fnr that does the work. The entries that take a whole state or a
// channel record from outside check it here, once; the routines behind them
// trust what they are given.
#include "fnr/fnr_internal.h"
#include "vocrel_rnr.h"

using namespace vocrel;

namespace {

// A stage may run on st when it is intact and consistent with itself, and ch
// (when given) is one of its two channel records.
bool stage_allowed(const FnrState* st, const FnrChanState* ch) {
  if (st == nullptr) return false;
  if (ch != nullptr && ch != &st->chan[0] && ch != &st->chan[1]) return false;
  return fnr::state_consistent(st, st->sampleRate, st->channels);
}

}  // namespace

extern "C" {

// ---- API interface: set-up, tunables, state checks, frame counting ------------

void FnrInit(FnrState* st, void* fftSpecA, const Vocrel_RNR_Params* p) {
  fnr::init(st, fftSpecA, p);
}

void FnrSetParams(FnrState* st, const Vocrel_RNR_Params* p) { fnr::take_tunables(st, p); }

std::int32_t FnrCheckState(const FnrState* st, std::int32_t sampleRate, std::int32_t channels) {
  return fnr::state_consistent(st, sampleRate, channels) ? VOCREL_RNR_OK : VOCREL_RNR_E_CORRUPT;
}

std::int32_t FnrCheckStage(const FnrState* st, const FnrChanState* ch) {
  return stage_allowed(st, ch) ? VOCREL_RNR_OK : VOCREL_RNR_E_CORRUPT;
}

void FnrBeginFrame(FnrState* st, std::int32_t traceGiven) { fnr::begin_frame(st, traceGiven); }

// ---- frame pipeline: driver, pre-filter, analysis, core ---------------------------

// Runs nothing unless the state may run and every channel's buffers are given.
void VocrelFnrProcess(FnrState* st, const std::int16_t* in[2], std::int16_t* out[2]) {
  if (!stage_allowed(st, nullptr) || in == nullptr || out == nullptr) return;
  for (std::int32_t c = 0; c < st->channels; ++c) {
    if (in[c] == nullptr || out[c] == nullptr) return;
  }
  fnr::process(st, in, out);
}

void FnrHpFilter(FnrHpState* hp, const std::int16_t* in, std::int32_t n, std::int16_t* out) {
  fnr::high_pass(hp, in, n, out);
}

// The geometry follows the state's rate (48 kHz for any other value).
void FnrWinFrame(FnrState* st, FnrChanState* ch, const std::int16_t* frame, const std::int16_t* win,
                 std::int32_t* fftIn, std::int32_t* maxAbs, std::int16_t* frameLevel) {
  fnr::window_frame(st, fnr::rate_cfg(st->sampleRate), ch, frame, win, fftIn, maxAbs, frameLevel);
}

// Runs nothing unless the state may run with ch and both buffers are given.
void FnrFrameCore(FnrState* st, FnrChanState* ch, std::int32_t* work, std::int16_t* out,
                  std::int16_t frameLevel, std::int32_t maxAbs) {
  if (!stage_allowed(st, ch) || ch == nullptr || work == nullptr || out == nullptr) return;
  fnr::frame_core(st, fnr::rate_cfg(st->sampleRate), ch, work, out, frameLevel, maxAbs);
}

// ---- Bark-band noise estimation and frame VADs --------------------------------------

void FnrInitBarkNoise(FnrState* st) { fnr::init_band_noise(st); }

std::int32_t FirstFrmVad1(FnrState* st, FnrChanState* ch, const std::int32_t bandMag[73]) {
  return fnr::start_up_vad(st, ch, bandMag);
}

std::int32_t FnrFrameVad(FnrState* st, FnrChanState* ch, const std::int32_t bandMag[73]) {
  return fnr::frame_vad(st, ch, bandMag);
}

void FnrStillBandGroup(FnrChanState* ch, std::int32_t meanMin, std::int32_t c, std::int32_t first,
                       std::int32_t end, std::int32_t count) {
  fnr::mark_still_bands(ch, meanMin, c, first, end, count);
}

// ---- temporal gain ---------------------------------------------------------------------

void Fnr_CalcTempGain2(FnrState* st, FnrChanState* ch, const std::int16_t ratio[73]) {
  fnr::temporal_gain(st, ch, ratio);
}

// ---- tonal and long-voice detection (48 kHz); the mode argument is not used ------------

std::int32_t FNR_TonalStabDet(FnrTonalState* T, const std::int32_t mag[512], std::int32_t) {
  return fnr::tonal_hold(T, mag);
}

std::int16_t FNR_TonalDet_MiniFreqEnerg(FnrTonalState* T, const std::int32_t mag[512],
                                        std::int16_t logE[128], std::int16_t valleys[128],
                                        std::int32_t) {
  return fnr::log_spectrum_valleys(T, mag, logE, valleys);
}

void FNR_TonalDet_EnergDev_Relation(FnrTonalState* T, const std::int16_t logE[128],
                                    const std::int16_t valleys[], std::int32_t count,
                                    std::int16_t dev[128], std::int16_t resid[128], std::int32_t) {
  fnr::segment_correlations(T, logE, valleys, count, dev, resid);
}

std::int32_t FNR_EngerDev_Smooth(FnrTonalState* T, const std::int16_t dev[128], std::int16_t thr,
                                 std::int16_t* strong, std::int32_t, std::int32_t* sum) {
  return fnr::smooth_stability(T, dev, thr, strong, sum);
}

std::int32_t FNR_LongVoiceJudge(FnrTonalState* T, std::int32_t flag) {
  return fnr::long_voice_hold(T, flag);
}

}  // extern "C"
