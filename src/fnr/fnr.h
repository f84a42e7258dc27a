// Floor-noise path (mode 0): 73-band spectral gain with weighted overlap-add
// at 8, 16 and 48 kHz, mono or stereo. Every routine and table below is an
// exported C name; the API (src/api/) calls FnrInit, FnrSetParams,
// FnrCheckState, FnrBeginFrame and VocrelFnrProcess.
#pragma once

#include <cstdint>

#include "fnr/fnr_state.h"
#include "vocrel_rnr.h"

namespace vocrel {
// Working storage of one frame: the transform input/output area is sized for
// the 1024-point transform at every rate, because the magnitude spectrum
// (512 words) and the band magnitudes (from word 1024) always live in it.
inline constexpr int32_t kFnrWorkWords = 2048;
inline constexpr int32_t kFnrBandMagOffset = 1024;
inline constexpr int32_t kFnrHalfBins = 512;  // bins of the common layout
}  // namespace vocrel

extern "C" {

// ---- API interface ---------------------------------------------------------

// Initialises the whole state (cleared first), the FFT set-up at fftSpecA for
// the rate's transform length, and the start values of both channels.
// The set-up cannot fail: the rate's order is within the engine's range.
void FnrInit(FnrState* st, void* fftSpecA, const Vocrel_RNR_Params* p);
// Takes over the tunables maxNr, hpFilterOn, levelThrDb, levelAdaptOff,
// vadBandThr; nothing is reset.
void FnrSetParams(FnrState* st, const Vocrel_RNR_Params* p);
// 0 when the state is intact and matches the header's stream fields, else -5.
int32_t FnrCheckState(const FnrState* st, int32_t sampleRate, int32_t channels);
// 0 when a stage may run on the state: not null, consistent with itself by the
// checks above, and ch (when given) one of its two channel records; else -5.
// The stages that follow the FFT reference check it first and return without
// writing on a failing state.
int32_t FnrCheckStage(const FnrState* st, const FnrChanState* ch);
// Per-frame bookkeeping before the driver: trace marker and frame counter.
void FnrBeginFrame(FnrState* st, int32_t traceGiven);

// ---- frame pipeline --------------------------------------------------------

// Processes channel 0, then channel 1 when the state has 2 channels: reads N
// samples from in[c], writes N samples to out[c] (may alias in[c]).
void VocrelFnrProcess(FnrState* st, const int16_t* in[2], int16_t* out[2]);
// Second-order high-pass over n samples (Q12 coefficients chosen by the
// table codes in hp); n < 1 does nothing.
void FnrHpFilter(FnrHpState* hp, const int16_t* in, int32_t n, int16_t* out);
// Windowed transform input (fftIn: kFnrWorkWords words), its largest real
// magnitude and the frame level in Q5 dB; moves the frame into inHist.
void FnrWinFrame(FnrState* st, FnrChanState* ch, const int16_t* frame, const int16_t* win,
                 int32_t* fftIn, int32_t* maxAbs, int16_t* frameLevel);
// Forward transform to overlap-add for one channel; work is FnrWinFrame's
// output (kFnrWorkWords words, 32-byte aligned) and is overwritten.
void FnrFrameCore(FnrState* st, FnrChanState* ch, int32_t* work, int16_t* out, int16_t frameLevel,
                  int32_t maxAbs);

// ---- noise estimation and frame VAD ------------------------------------------

void FnrInitBarkNoise(FnrState* st);
int32_t FirstFrmVad1(FnrState* st, FnrChanState* ch, const int32_t bandMag[73]);
int32_t FnrFrameVad(FnrState* st, FnrChanState* ch, const int32_t bandMag[73]);
void FnrStillBandGroup(FnrChanState* ch, int32_t meanMin, int32_t c, int32_t first, int32_t end,
                       int32_t count);

// ---- temporal gain -----------------------------------------------------------

void Fnr_CalcTempGain2(FnrState* st, FnrChanState* ch, const int16_t ratio[73]);

// ---- tonal and long-voice detection (48 kHz) ---------------------------------

int32_t FNR_TonalStabDet(FnrTonalState* T, const int32_t mag[512], int32_t mode);
int16_t FNR_TonalDet_MiniFreqEnerg(FnrTonalState* T, const int32_t mag[512], int16_t logE[128],
                                   int16_t valleys[128], int32_t mode);
void FNR_TonalDet_EnergDev_Relation(FnrTonalState* T, const int16_t logE[128],
                                    const int16_t valleys[], int32_t count, int16_t dev[128],
                                    int16_t resid[128], int32_t mode);
int32_t FNR_EngerDev_Smooth(FnrTonalState* T, const int16_t dev[128], int16_t thr, int16_t* strong,
                            int32_t mode, int32_t* sum);
int32_t FNR_LongVoiceJudge(FnrTonalState* T, int32_t flag);

// ---- tables ------------------------------------------------------------------

extern const int16_t sFnrWinCoef_8k[160];    // sine window, Q15, W = 160
extern const int16_t sFnrWinCoef_16k[320];   // W = 320
extern const int16_t sFnrWinCoef_48k[960];   // W = 960
extern const uint16_t usFnrBarkId_48k[74];   // band edges on 1024-point bins
extern const uint16_t usFnrNumDown_48k[73];  // round(32767 / band width)
extern const int16_t sFnrNoiseCtrTab[30];    // 10^(-d/10), d = 1..30, Q15
extern const int16_t sFnrMinGain[20];        // minimum gain by maxNr - 2, Q15
extern const int16_t sFnrMinDisTab[64];      // round(32768 / d)

}  // extern "C"
