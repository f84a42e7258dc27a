// The block-scaled transforms' exported C names, each a forward to the
// routine in vocrel::dsp that does the work (block_fft.cpp). The entries
// refuse null buffers here, once (returning 0 and writing nothing); a null
// exponent pointer only leaves the exponent unreported. The frames call the
// routines directly, so the entries are built for size (cold).
#include <cstdint>

#include "dsp/block_fft.h"

using namespace vocrel;

extern "C" {

[[gnu::cold]] std::int16_t Vocrel_RNR_FFT(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N,
                                          std::int32_t* src, std::int32_t* dst,
                                          std::int16_t* expOut) {
  if (src == nullptr || dst == nullptr) return 0;
  std::int16_t e = 0;
  const std::int16_t r = dsp::rnr_fft(spec, N, src, dst, &e);
  if (expOut != nullptr) *expOut = e;
  return r;
}

[[gnu::cold]] std::int32_t Vocrel_RNR_IFFT(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N,
                                           std::int32_t* src, std::int32_t* dst) {
  if (src == nullptr || dst == nullptr) return 0;
  return dsp::rnr_ifft_real_head(spec, N, src, dst, N);
}

[[gnu::cold]] std::int16_t Vocrel_FNR_FFT(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                                          const Vocrel_FFTSpec_C_SC32* spec, std::int32_t maxAbs,
                                          std::int16_t* expOut) {
  if (src == nullptr || dst == nullptr) return 0;
  const std::int16_t e = dsp::fnr_fft(N, src, dst, spec, maxAbs);
  if (expOut != nullptr) *expOut = e;
  return e;
}

[[gnu::cold]] std::int32_t Vocrel_FNR_IFFT(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                                           const Vocrel_FFTSpec_C_SC32* spec) {
  if (src == nullptr || dst == nullptr) return 0;
  return dsp::fnr_ifft_real_head(N, src, dst, spec, N);
}

// The two shifts serve callers outside the engine (the frames shift inside
// the transforms).
[[gnu::cold]] void Fnr_Fft_Shift(std::int32_t shift, std::int32_t* buf, std::int32_t nWords) {
  if (buf != nullptr) dsp::shift_even_words_in_blocks(shift, buf, nWords);
}

[[gnu::cold]] void Fnr_Ifft_Shift(std::int32_t shift, std::int32_t* buf, std::int32_t nWords) {
  if (buf != nullptr) dsp::shift_words_in_blocks(shift, buf, nWords);
}

}  // extern "C"
