// Environment-noise path (8 and 16 kHz, one RnrChanState per channel):
// channel-state life cycle, the frame driver, its stage routines and the
// constant tables of the path. The routines live in vocrel::rnr; their
// exported C names (declared after them) forward from exports.cpp.
//
// Scales used across the stages: magnitudes (magSpec, specLD, specHD,
// specValley, mcraSpec, noiseEst) are 256 times the DFT magnitude of the
// windowed frame in sample units; gains are Q15; SNRs are Q8; levels in dB
// are Q15.
#pragma once

#include <array>
#include <cstdint>

#include "vocrel_rnr.h"

extern "C" {

struct RnrChanState; /* layout in rnr_state.h, 6860 bytes */
typedef struct RnrChanState RnrChanState;

/* ---- Constant tables ------------------------------------------------ */

/* The high-pass coefficients and the sine windows are in dsp/highpass.h and
   dsp/window.h. */

/* Harmonic hangover length (frames) by run length - 1, capped at index 9. */
extern const std::array<std::uint32_t, 10> vocrel_rnr_harmHoldTab;

/* Q15 band weights rising from 0.1 (0 Hz) to 0.9 (Nyquist): per noise band
   (three zero pads), and per group of four bins for the shape detector. */
extern const std::array<std::int16_t, 60> vocrel_rnr_mcra_powSmCoef_8k;
extern const std::array<std::int16_t, 92> vocrel_rnr_mcra_powSmCoef_16k;
extern const std::array<std::int16_t, 32> vocrel_rnr_vad2SmCoef_8k;
extern const std::array<std::int16_t, 32> vocrel_rnr_vad2SmCoef_16k;

}  // extern "C"

namespace vocrel::rnr {

// ---- Channel-state life cycle ---------------------------------------------

// Puts one channel state into its start state (guards written).
void reset_channel(RnrChanState* st, const Vocrel_RNR_Params* p, std::int32_t size);
// Writes every guard word of the rate's layout.
void write_guards(RnrChanState* st);
// True when the leading and the closing guard hold 0x6AAAAAAA.
bool guards_intact(const RnrChanState* st);
// Stores the FFT set-ups as offsets relative to the channel state.
void attach_fft(RnrChanState* st, const void* fftSpecA, const void* fftSpecB);
// New tunables between frames: hpFilterOn, minGain, maxNrNegDb.
void take_tunables(RnrChanState* st, const Vocrel_RNR_Params* p);
// True when the state matches the instance (rate, FFT references of channel
// chanIndex).
bool state_consistent(const RnrChanState* st, std::int32_t sampleRate, std::int32_t chanIndex);
// True when a stage may run on the state: not null, 8 or 16 kHz, FFT
// references of channel 0 or 1, guard words intact. The routines below trust
// their state; the exported entries that take one from outside check this.
bool stage_allowed(const RnrChanState* st);
// frameCnt += 1; beyond 0xFFFFFFA0 it restarts at 100.
void advance_frame(RnrChanState* st);

// ---- Frame driver -----------------------------------------------------------

// One 10 ms frame of one channel; out may equal in. trace may be null.
void process(RnrChanState* st, const std::int16_t* in, std::int16_t* out,
             Vocrel_RNR_TraceRec* trace);

// ---- Framing (analysis and synthesis) ---------------------------------------

// Filter or copy, frame energy, two-frame window into specIn (fftSize complex
// pairs, windowed samples in Q16).
void analyse_frame(RnrChanState* st, const std::int16_t* in, std::int16_t* frameBuf,
                   std::int32_t* specIn);
// Low-definition band magnitudes: fftSize/8 + 1 values from fftSize/2 + 1
// powers, exponent shift removed after the root.
void low_res_spectrum(const std::int32_t* powSpec, std::int32_t fftSize, std::int16_t shift,
                      std::int32_t* specLD);
// Applies Q15 bin gains to the lower half and mirrors the conjugates.
void apply_bin_gains(std::int32_t fftSize, const std::int16_t* gainBin, std::int32_t* spec);

// ---- Cepstral harmonic model ------------------------------------------------

// work: 512 complex pairs, 32-byte aligned. Returns the harmonic flag.
std::int32_t harmonic_spectrum(const RnrChanState* st, std::int32_t* work,
                               const std::int32_t* magSpec, std::int32_t* cepsPeak,
                               std::int32_t* cepsSmPeak, std::int32_t* specHD,
                               std::int32_t* specValley);
// Five-tap smoothing of the cepstrum (the ends copied).
void smooth_cepstrum(const std::int32_t* ceps, std::int32_t len, std::int32_t* out);
// Spectrum of the harmonic valleys for the pitch quefrency q0.
void valley_spectrum(const RnrChanState* st, std::int32_t* fftIn, const std::int32_t* magSpec,
                     std::int32_t len, std::int32_t* ceps, std::int32_t q0, std::int32_t* out);

// ---- Voice activity detectors (1 = noise-like frame) ------------------------

// Frame energy and stationarity of the log band levels.
std::int32_t level_vad(RnrChanState* st, const std::int32_t* specLD);
// Distance of the normalised frame shape from the noise estimate's.
std::int32_t shape_vad(RnrChanState* st, const std::int32_t* specLD);
// Residual of a straight-line fit of the band spectrum on the noise estimate.
std::int32_t line_fit_vad(const RnrChanState* st, const std::int32_t* mcraSpec);

// ---- Noise estimation -------------------------------------------------------

// mcraSpec (bandCnt values) is the driver's scratch, filled here.
void estimate_noise(RnrChanState* st, std::int32_t harmonicFlag, std::int32_t vad1,
                    const std::int32_t* specHD, const std::int32_t* specValley,
                    const std::int32_t* specLD, std::int32_t* mcraSpec);
// Minimum tracking of the band spectrum over four 20-frame sub-windows.
void track_minima(RnrChanState* st, const std::int32_t* mcraSpec);
// Per-band speech flags against the tracked minima, with hangover.
void band_speech_flags(RnrChanState* st, const std::int32_t* mcraSpec, std::int16_t* flags,
                       std::int32_t bandCnt);

// ---- SNR and gain rules -----------------------------------------------------

// A-posteriori SNR per band in Q8.
void posterior_snr(RnrChanState* st, const std::int32_t* mcraSpec, std::int16_t* postSnr);
// Band gains of the frame from the SNRs and the total noise level, then
// smoothed in time.
void frame_gains(RnrChanState* st, const std::int16_t* postSnr);
void smooth_gains(RnrChanState* st, const std::int16_t* gainNew, const std::int16_t* postSnr);
// Band gains expanded to bins.
void expand_band_gains(RnrChanState* st);

}  // namespace vocrel::rnr

extern "C" {

/* ---- Exported names of the routines above (exports.cpp) ------------------ */

/* ---- Channel-state life cycle --------------------------------------- */

/* Puts one channel state into its start state; returns 0. */
std::int32_t Vocrel_RNR_ResetConfig(RnrChanState* st, const Vocrel_RNR_Params* p,
                                    std::int32_t size);
/* Writes every guard word of the rate's layout. */
void Vocrel_RNR_InitMemDetect(RnrChanState* st);
/* 0 when the leading and the closing guard hold 0x6AAAAAAA, else -5. */
std::int32_t Vocrel_RNR_MemErrDetect(const RnrChanState* st);
/* Stores the FFT set-ups as offsets relative to the channel state. */
void RnrAttachFft(RnrChanState* st, const void* fftSpecA, const void* fftSpecB);
/* New tunables between frames: hpFilterOn, minGain, maxNrNegDb. */
void RnrSetParams(RnrChanState* st, const Vocrel_RNR_Params* p);
/* 0 when the state matches the instance (rate, FFT references), else -5. */
std::int32_t RnrCheckState(const RnrChanState* st, std::int32_t sampleRate, std::int32_t chanIndex);
/* 0 when a stage may run on the state: not null, 8 or 16 kHz, FFT references
   of channel 0 or 1, guard words intact; else -5. The stages that follow the
   references check it first and return without writing on a failing state. */
std::int32_t RnrCheckStage(const RnrChanState* st);
/* frameCnt += 1; beyond 0xFFFFFFA0 it restarts at 100. */
void RnrAdvanceFrame(RnrChanState* st);

/* ---- Frame driver --------------------------------------------------- */

/* One 10 ms frame of one channel; out may equal in. trace may be null.
   Nothing is written when RnrCheckStage fails. */
void Vocrel_RNR_Process(RnrChanState* st, const std::int16_t* in, std::int16_t* out,
                        Vocrel_RNR_TraceRec* trace);

/* ---- Framing (analysis and synthesis) ------------------------------- */

/* Filter or copy, frame energy, two-frame window into specIn (fftSize
   complex pairs, windowed samples in Q16). */
void Vocrel_RNR_PreProcess(RnrChanState* st, const std::int16_t* in, std::int16_t* frameBuf,
                           std::int32_t* specIn);
/* Low-definition band magnitudes: fftSize/8 + 1 values from fftSize/2 + 1
   powers, exponent shift s removed after the root. */
void Vocrel_RNR_CalcSpecLD(const std::int32_t* powSpec, std::int32_t fftSize, std::int16_t shift,
                           std::int32_t* specLD);
/* Applies Q15 bin gains to the lower half and mirrors the conjugates. */
void vocrel_rnr_GetNrSpec(std::int32_t fftSize, const std::int16_t* gainBin, std::int32_t* spec);

/* ---- Cepstral harmonic model ---------------------------------------- */

/* work: 512 complex pairs, 32-byte aligned. Returns harmonicFlag. This and
   the valley spectrum return (0) without writing when RnrCheckStage fails. */
std::int32_t Vocrel_RNR_CalcSpec_HD(const RnrChanState* st, std::int32_t* work,
                                    const std::int32_t* magSpec, std::int32_t* cepsPeak,
                                    std::int32_t* cepsSmPeak, std::int32_t* specHD,
                                    std::int32_t* specValley);
void vocrel_rnr_SmoothCeps(const std::int32_t* ceps, std::int32_t len, std::int32_t* out);
void Vocrel_RNR_CalcValleySpec(const RnrChanState* st, std::int32_t* fftIn,
                               const std::int32_t* magSpec, std::int32_t len, std::int32_t* ceps,
                               std::int32_t q0, std::int32_t* out);

/* ---- Voice activity detectors (1 = noise-like frame) ---------------- */

std::int32_t Vocrel_RNR_VAD1_Frame(RnrChanState* st, const std::int32_t* specLD);
std::int32_t Vocrel_RNR_VAD2_Frame(RnrChanState* st, const std::int32_t* specLD);
std::int32_t Vocrel_RNR_VAD3_Frame(const RnrChanState* st, const std::int32_t* mcraSpec);

/* ---- Noise estimation ----------------------------------------------- */

/* mcraSpec (bandCnt values) is the driver's scratch, filled here. */
void Vocrel_RNR_EstimateNoiseLevel(RnrChanState* st, std::int32_t harmonicFlag, std::int32_t vad1,
                                   const std::int32_t* specHD, const std::int32_t* specValley,
                                   const std::int32_t* specLD, std::int32_t* mcraSpec);
void Vocrel_RNR_Mcra(RnrChanState* st, const std::int32_t* mcraSpec);
void Vocrel_RNR_McraFreqVad(RnrChanState* st, const std::int32_t* mcraSpec, std::int16_t* flags,
                            std::int32_t bandCnt);

/* ---- SNR and gain rules --------------------------------------------- */

void Vocrel_RNR_EstimatePriSNR(RnrChanState* st, const std::int32_t* mcraSpec,
                               std::int16_t* postSnr);
void Vocrel_RNR_CalcGain2(RnrChanState* st, const std::int16_t* postSnr);
void Vocrel_RNR_SmoothGain(RnrChanState* st, const std::int16_t* gainNew,
                           const std::int16_t* postSnr);
void Vocrel_RNR_InterpolateGain(RnrChanState* st);

}  // extern "C"
