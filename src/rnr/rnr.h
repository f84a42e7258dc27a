// Environment-noise path (8 and 16 kHz, one RnrChanState per channel):
// channel-state life cycle, the frame driver, its stage routines and the
// constant tables of the path. Every name here is exported with C linkage.
//
// Scales used across the stages: magnitudes (magSpec, specLD, specHD,
// specValley, mcraSpec, noiseEst) are 256 times the DFT magnitude of the
// windowed frame in sample units; gains are Q15; SNRs are Q8; levels in dB
// are Q15.
#ifndef VOCREL_RNR_RNR_H
#define VOCREL_RNR_RNR_H

#include <stdint.h>

#include "vocrel_rnr.h"

#ifdef __cplusplus
extern "C" {
#endif

struct RnrChanState; /* layout in rnr_state.h, 6860 bytes */
typedef struct RnrChanState RnrChanState;

/* ---- Constant tables ------------------------------------------------ */

/* Second-order high-pass, Q12, {a0 (= -1.0, unused), a1, a2} and {b0, b1, b2};
   corner near 80 Hz, pass-band gain 1/2. Shared with the floor-noise path. */
extern const int16_t vocrel_rnr_hpFilterCoefA_8k[3];
extern const int16_t vocrel_rnr_hpFilterCoefB_8k[3];
extern const int16_t vocrel_rnr_hpFilterCoefA_16k[3];
extern const int16_t vocrel_rnr_hpFilterCoefB_16k[3];

/* Sine analysis/synthesis windows, Q15: w[n] = 32767 sin(pi (n+1) / W). */
extern const int16_t vocrel_rnr_fftWinCoef_8k[160];
extern const int16_t vocrel_rnr_fftWinCoef_16k[320];

/* Harmonic hangover length (frames) by run length - 1, capped at index 9. */
extern const uint32_t vocrel_rnr_harmHoldTab[10];

/* Q15 band weights rising from 0.1 (0 Hz) to 0.9 (Nyquist): per noise band
   (three zero pads), and per group of four bins for the shape detector. */
extern const int16_t vocrel_rnr_mcra_powSmCoef_8k[60];
extern const int16_t vocrel_rnr_mcra_powSmCoef_16k[92];
extern const int16_t vocrel_rnr_vad2SmCoef_8k[32];
extern const int16_t vocrel_rnr_vad2SmCoef_16k[32];

/* ---- Channel-state life cycle --------------------------------------- */

/* Puts one channel state into its start state; returns 0. */
int32_t Vocrel_RNR_ResetConfig(RnrChanState* st, const Vocrel_RNR_Params* p, int32_t size);
/* Writes every guard word of the rate's layout. */
void Vocrel_RNR_InitMemDetect(RnrChanState* st);
/* 0 when the leading and the closing guard hold 0x6AAAAAAA, else -5. */
int32_t Vocrel_RNR_MemErrDetect(const RnrChanState* st);
/* Stores the FFT set-ups as offsets relative to the channel state. */
void RnrAttachFft(RnrChanState* st, const void* fftSpecA, const void* fftSpecB);
/* New tunables between frames: hpFilterOn, minGain, maxNrNegDb. */
void RnrSetParams(RnrChanState* st, const Vocrel_RNR_Params* p);
/* 0 when the state matches the instance (rate, FFT references), else -5. */
int32_t RnrCheckState(const RnrChanState* st, int32_t sampleRate, int32_t chanIndex);
/* 0 when a stage may run on the state: not null, 8 or 16 kHz, FFT references
   of channel 0 or 1, guard words intact; else -5. The stages that follow the
   references check it first and return without writing on a failing state. */
int32_t RnrCheckStage(const RnrChanState* st);
/* frameCnt += 1; beyond 0xFFFFFFA0 it restarts at 100. */
void RnrAdvanceFrame(RnrChanState* st);

/* ---- Frame driver --------------------------------------------------- */

/* One 10 ms frame of one channel; out may equal in. trace may be null.
   Nothing is written when RnrCheckStage fails. */
void Vocrel_RNR_Process(RnrChanState* st, const int16_t* in, int16_t* out,
                        Vocrel_RNR_TraceRec* trace);

/* ---- Framing (analysis and synthesis) ------------------------------- */

/* Filter or copy, frame energy, two-frame window into specIn (fftSize
   complex pairs, windowed samples in Q16). */
void Vocrel_RNR_PreProcess(RnrChanState* st, const int16_t* in, int16_t* frameBuf, int32_t* specIn);
/* Low-definition band magnitudes: fftSize/8 + 1 values from fftSize/2 + 1
   powers, exponent shift s removed after the root. */
void Vocrel_RNR_CalcSpecLD(const int32_t* powSpec, int32_t fftSize, int16_t shift, int32_t* specLD);
/* Applies Q15 bin gains to the lower half and mirrors the conjugates. */
void vocrel_rnr_GetNrSpec(int32_t fftSize, const int16_t* gainBin, int32_t* spec);

/* ---- Cepstral harmonic model ---------------------------------------- */

/* work: 512 complex pairs, 32-byte aligned. Returns harmonicFlag. This and
   the valley spectrum return (0) without writing when RnrCheckStage fails. */
int32_t Vocrel_RNR_CalcSpec_HD(const RnrChanState* st, int32_t* work, const int32_t* magSpec,
                               int32_t* cepsPeak, int32_t* cepsSmPeak, int32_t* specHD,
                               int32_t* specValley);
void vocrel_rnr_SmoothCeps(const int32_t* ceps, int32_t len, int32_t* out);
void Vocrel_RNR_CalcValleySpec(const RnrChanState* st, int32_t* fftIn, const int32_t* magSpec,
                               int32_t len, int32_t* ceps, int32_t q0, int32_t* out);

/* ---- Voice activity detectors (1 = noise-like frame) ---------------- */

int32_t Vocrel_RNR_VAD1_Frame(RnrChanState* st, const int32_t* specLD);
int32_t Vocrel_RNR_VAD2_Frame(RnrChanState* st, const int32_t* specLD);
int32_t Vocrel_RNR_VAD3_Frame(const RnrChanState* st, const int32_t* mcraSpec);

/* ---- Noise estimation ----------------------------------------------- */

/* mcraSpec (bandCnt values) is the driver's scratch, filled here. */
void Vocrel_RNR_EstimateNoiseLevel(RnrChanState* st, int32_t harmonicFlag, int32_t vad1,
                                   const int32_t* specHD, const int32_t* specValley,
                                   const int32_t* specLD, int32_t* mcraSpec);
void Vocrel_RNR_Mcra(RnrChanState* st, const int32_t* mcraSpec);
void Vocrel_RNR_McraFreqVad(RnrChanState* st, const int32_t* mcraSpec, int16_t* flags,
                            int32_t bandCnt);

/* ---- SNR and gain rules --------------------------------------------- */

void Vocrel_RNR_EstimatePriSNR(RnrChanState* st, const int32_t* mcraSpec, int16_t* postSnr);
void Vocrel_RNR_CalcGain2(RnrChanState* st, const int16_t* postSnr);
void Vocrel_RNR_SmoothGain(RnrChanState* st, const int16_t* gainNew, const int16_t* postSnr);
void Vocrel_RNR_InterpolateGain(RnrChanState* st);

#ifdef __cplusplus
}
#endif

#endif /* VOCREL_RNR_RNR_H */
