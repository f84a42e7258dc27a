// The environment-noise path's exported C names, each a forward to the
// routine in vocrel::rnr that does the work. The entries that take a channel
// state from outside and depend on its references check it here, once; the
// routines behind them trust what they are given. The instance calls the
// routines directly, so the entries are built for size (cold).
#include <cstdint>

#include "rnr/rnr.h"

using namespace vocrel;

extern "C" {

// ---- channel-state life cycle -------------------------------------------------

[[gnu::cold]] std::int32_t Vocrel_RNR_ResetConfig(RnrChanState* st, const Vocrel_RNR_Params* p,
                                                  std::int32_t size) {
  if (st == nullptr || p == nullptr) return VOCREL_RNR_E_NULL_HANDLE;
  rnr::reset_channel(st, p, size);
  return VOCREL_RNR_OK;
}

[[gnu::cold]] void Vocrel_RNR_InitMemDetect(RnrChanState* st) {
  if (st != nullptr) rnr::write_guards(st);
}

[[gnu::cold]] std::int32_t Vocrel_RNR_MemErrDetect(const RnrChanState* st) {
  return st != nullptr && rnr::guards_intact(st) ? VOCREL_RNR_OK : VOCREL_RNR_E_CORRUPT;
}

[[gnu::cold]] void RnrAttachFft(RnrChanState* st, const void* fftSpecA, const void* fftSpecB) {
  rnr::attach_fft(st, fftSpecA, fftSpecB);
}

[[gnu::cold]] void RnrSetParams(RnrChanState* st, const Vocrel_RNR_Params* p) {
  rnr::take_tunables(st, p);
}

[[gnu::cold]] std::int32_t RnrCheckState(const RnrChanState* st, std::int32_t sampleRate,
                                         std::int32_t chanIndex) {
  return rnr::state_consistent(st, sampleRate, chanIndex) ? VOCREL_RNR_OK : VOCREL_RNR_E_CORRUPT;
}

[[gnu::cold]] std::int32_t RnrCheckStage(const RnrChanState* st) {
  return rnr::stage_allowed(st) ? VOCREL_RNR_OK : VOCREL_RNR_E_CORRUPT;
}

[[gnu::cold]] void RnrAdvanceFrame(RnrChanState* st) { rnr::advance_frame(st); }

// ---- frame driver ---------------------------------------------------------------

// Runs nothing unless the state may run and both buffers are given.
[[gnu::cold]] void Vocrel_RNR_Process(RnrChanState* st, const std::int16_t* in, std::int16_t* out,
                                      Vocrel_RNR_TraceRec* trace) {
  if (rnr::stage_allowed(st) && in != nullptr && out != nullptr) rnr::process(st, in, out, trace);
}

// ---- framing ----------------------------------------------------------------------

[[gnu::cold]] void Vocrel_RNR_PreProcess(RnrChanState* st, const std::int16_t* in,
                                         std::int16_t* frameBuf, std::int32_t* specIn) {
  rnr::analyse_frame(st, in, frameBuf, specIn);
}

[[gnu::cold]] void Vocrel_RNR_CalcSpecLD(const std::int32_t* powSpec, std::int32_t fftSize,
                                         std::int16_t shift, std::int32_t* specLD) {
  rnr::low_res_spectrum(powSpec, fftSize, shift, specLD);
}

[[gnu::cold]] void vocrel_rnr_GetNrSpec(std::int32_t fftSize, const std::int16_t* gainBin,
                                        std::int32_t* spec) {
  rnr::apply_bin_gains(fftSize, gainBin, spec);
}

// ---- cepstral harmonic model: the two that follow the FFT references run
// nothing (and return 0) unless the state may run ------------------------------------

[[gnu::cold]] std::int32_t Vocrel_RNR_CalcSpec_HD(const RnrChanState* st, std::int32_t* work,
                                                  const std::int32_t* magSpec,
                                                  std::int32_t* cepsPeak, std::int32_t* cepsSmPeak,
                                                  std::int32_t* specHD, std::int32_t* specValley) {
  if (!rnr::stage_allowed(st)) return 0;
  return rnr::harmonic_spectrum(st, work, magSpec, cepsPeak, cepsSmPeak, specHD, specValley);
}

[[gnu::cold]] void vocrel_rnr_SmoothCeps(const std::int32_t* ceps, std::int32_t len,
                                         std::int32_t* out) {
  rnr::smooth_cepstrum(ceps, len, out);
}

[[gnu::cold]] void Vocrel_RNR_CalcValleySpec(const RnrChanState* st, std::int32_t* fftIn,
                                             const std::int32_t* magSpec, std::int32_t len,
                                             std::int32_t* ceps, std::int32_t q0,
                                             std::int32_t* out) {
  if (rnr::stage_allowed(st)) rnr::valley_spectrum(st, fftIn, magSpec, len, ceps, q0, out);
}

// ---- voice activity detectors ---------------------------------------------------

[[gnu::cold]] std::int32_t Vocrel_RNR_VAD1_Frame(RnrChanState* st, const std::int32_t* specLD) {
  return rnr::level_vad(st, specLD);
}

[[gnu::cold]] std::int32_t Vocrel_RNR_VAD2_Frame(RnrChanState* st, const std::int32_t* specLD) {
  return rnr::shape_vad(st, specLD);
}

[[gnu::cold]] std::int32_t Vocrel_RNR_VAD3_Frame(const RnrChanState* st,
                                                 const std::int32_t* mcraSpec) {
  return rnr::line_fit_vad(st, mcraSpec);
}

// ---- noise estimation -----------------------------------------------------------

[[gnu::cold]] void Vocrel_RNR_EstimateNoiseLevel(RnrChanState* st, std::int32_t harmonicFlag,
                                                 std::int32_t vad1, const std::int32_t* specHD,
                                                 const std::int32_t* specValley,
                                                 const std::int32_t* specLD,
                                                 std::int32_t* mcraSpec) {
  rnr::estimate_noise(st, harmonicFlag, vad1, specHD, specValley, specLD, mcraSpec);
}

[[gnu::cold]] void Vocrel_RNR_Mcra(RnrChanState* st, const std::int32_t* mcraSpec) {
  rnr::track_minima(st, mcraSpec);
}

[[gnu::cold]] void Vocrel_RNR_McraFreqVad(RnrChanState* st, const std::int32_t* mcraSpec,
                                          std::int16_t* flags, std::int32_t bandCnt) {
  rnr::band_speech_flags(st, mcraSpec, flags, bandCnt);
}

// ---- SNR and gain rules -----------------------------------------------------------

[[gnu::cold]] void Vocrel_RNR_EstimatePriSNR(RnrChanState* st, const std::int32_t* mcraSpec,
                                             std::int16_t* postSnr) {
  rnr::posterior_snr(st, mcraSpec, postSnr);
}

[[gnu::cold]] void Vocrel_RNR_CalcGain2(RnrChanState* st, const std::int16_t* postSnr) {
  rnr::frame_gains(st, postSnr);
}

[[gnu::cold]] void Vocrel_RNR_SmoothGain(RnrChanState* st, const std::int16_t* gainNew,
                                         const std::int16_t* postSnr) {
  rnr::smooth_gains(st, gainNew, postSnr);
}

[[gnu::cold]] void Vocrel_RNR_InterpolateGain(RnrChanState* st) { rnr::expand_band_gains(st); }

}  // extern "C"
