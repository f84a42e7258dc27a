// Floor-noise path (mode 0): 73-band spectral gain with weighted overlap-add
// at 8, 16 and 48 kHz, mono or stereo. The path's routines live in
// vocrel::fnr; the exported C names (below) forward to them from
// fnr/exports.cpp. The API (src/api/) calls init, take_tunables,
// state_consistent, begin_frame and process after its own checks.
#pragma once

#include <array>
#include <cstdint>

#include "dsp/window.h"
#include "fnr/fnr_state.h"
#include "vocrel_rnr.h"

namespace vocrel {
// Working storage of one frame: the transform input/output area is sized for
// the 1024-point transform at every rate, because the magnitude spectrum
// (512 words) and the band magnitudes (from word 1024) always live in it.
inline constexpr std::int32_t kFnrWorkWords = 2048;
inline constexpr std::int32_t kFnrBandMagOffset = 1024;
inline constexpr std::int32_t kFnrHalfBins = 512;  // bins of the common layout
}  // namespace vocrel

namespace vocrel::fnr {

// ---- the path's interface to the API -----------------------------------------

// Initialises the whole state (cleared first), the FFT set-up at fftSetup for
// the rate's transform length, and the start values of both channels.
void init(FnrState* st, void* fftSetup, const Vocrel_RNR_Params* p);
// Takes over the tunables maxNr, hpFilterOn, levelThrDb, levelAdaptOff,
// vadBandThr; nothing is reset.
void take_tunables(FnrState* st, const Vocrel_RNR_Params* p);
// True when the state is intact and matches the header's stream fields.
bool state_consistent(const FnrState* st, std::int32_t sampleRate, std::int32_t channels);
// Per-frame bookkeeping before the driver: trace marker and frame counter.
void begin_frame(FnrState* st, std::int32_t traceGiven);
// Processes channel 0, then channel 1 when the state has 2 channels: reads N
// samples from in[c], writes N samples to out[c] (may alias in[c]). The state
// is consistent and every pointer of its channels given (checked by the
// caller).
void process(FnrState* st, const std::int16_t* const in[2], std::int16_t* const out[2]);

}  // namespace vocrel::fnr

extern "C" {

// ---- exported names: API interface ---------------------------------------------

void FnrInit(FnrState* st, void* fftSpecA, const Vocrel_RNR_Params* p);
void FnrSetParams(FnrState* st, const Vocrel_RNR_Params* p);
// 0 when the state is intact and matches the header's stream fields, else -5.
std::int32_t FnrCheckState(const FnrState* st, std::int32_t sampleRate, std::int32_t channels);
// 0 when a stage may run on the state: not null, consistent with itself by the
// checks above, and ch (when given) one of its two channel records; else -5.
// VocrelFnrProcess and FnrFrameCore check it first and return without writing
// on a failing state.
std::int32_t FnrCheckStage(const FnrState* st, const FnrChanState* ch);
void FnrBeginFrame(FnrState* st, std::int32_t traceGiven);

// ---- exported names: frame pipeline ----------------------------------------------

void VocrelFnrProcess(FnrState* st, const std::int16_t* in[2], std::int16_t* out[2]);
// Second-order high-pass over n samples (Q12 coefficients chosen by the
// table codes in hp); n < 1 does nothing.
void FnrHpFilter(FnrHpState* hp, const std::int16_t* in, std::int32_t n, std::int16_t* out);
// Windowed transform input (fftIn: kFnrWorkWords words), its largest real
// magnitude and the frame level in Q5 dB; moves the frame into inHist.
void FnrWinFrame(FnrState* st, FnrChanState* ch, const std::int16_t* frame, const std::int16_t* win,
                 std::int32_t* fftIn, std::int32_t* maxAbs, std::int16_t* frameLevel);
// Forward transform to overlap-add for one channel; work is FnrWinFrame's
// output (kFnrWorkWords words, 32-byte aligned) and is overwritten.
void FnrFrameCore(FnrState* st, FnrChanState* ch, std::int32_t* work, std::int16_t* out,
                  std::int16_t frameLevel, std::int32_t maxAbs);

// ---- exported names: noise estimation, frame VAD, temporal gain, tonal hold -------

void FnrInitBarkNoise(FnrState* st);
std::int32_t FirstFrmVad1(FnrState* st, FnrChanState* ch, const std::int32_t bandMag[73]);
std::int32_t FnrFrameVad(FnrState* st, FnrChanState* ch, const std::int32_t bandMag[73]);
void FnrStillBandGroup(FnrChanState* ch, std::int32_t meanMin, std::int32_t c, std::int32_t first,
                       std::int32_t end, std::int32_t count);
void Fnr_CalcTempGain2(FnrState* st, FnrChanState* ch, const std::int16_t ratio[73]);
std::int32_t FNR_TonalStabDet(FnrTonalState* T, const std::int32_t mag[512], std::int32_t mode);
std::int16_t FNR_TonalDet_MiniFreqEnerg(FnrTonalState* T, const std::int32_t mag[512],
                                        std::int16_t logE[128], std::int16_t valleys[128],
                                        std::int32_t mode);
void FNR_TonalDet_EnergDev_Relation(FnrTonalState* T, const std::int16_t logE[128],
                                    const std::int16_t valleys[], std::int32_t count,
                                    std::int16_t dev[128], std::int16_t resid[128],
                                    std::int32_t mode);
std::int32_t FNR_EngerDev_Smooth(FnrTonalState* T, const std::int16_t dev[128], std::int16_t thr,
                                 std::int16_t* strong, std::int32_t mode, std::int32_t* sum);
std::int32_t FNR_LongVoiceJudge(FnrTonalState* T, std::int32_t flag);

// ---- tables ------------------------------------------------------------------

// The sine windows sFnrWinCoef_* are in dsp/window.h.
extern const std::array<std::uint16_t, 74> usFnrBarkId_48k;   // band edges on 1024-point bins
extern const std::array<std::uint16_t, 73> usFnrNumDown_48k;  // round(32767 / band width)
extern const std::array<std::int16_t, 30> sFnrNoiseCtrTab;    // 10^(-d/10), d = 1..30, Q15
extern const std::array<std::int16_t, 20> sFnrMinGain;        // minimum gain by maxNr - 2, Q15
extern const std::array<std::int16_t, 64> sFnrMinDisTab;      // round(32768 / d)

}  // extern "C"
