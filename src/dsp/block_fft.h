// Block-floating-point real-frame transforms of the two paths, on the FFT
// engine: each shifts the frame to a common headroom first and reports the
// shift through its exponents.
#pragma once

#include <cstdint>

#include "fft/vocrel_fft.h"

extern "C" {

// Environment-noise family: saturating block shift over all words.
std::int16_t Vocrel_RNR_FFT(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N, std::int32_t* src,
                            std::int32_t* dst, std::int16_t* expOut);
std::int32_t Vocrel_RNR_IFFT(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N, std::int32_t* src,
                             std::int32_t* dst);

// Floor-noise family: plain block shift, caller-supplied forward maximum.
std::int16_t Vocrel_FNR_FFT(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                            const Vocrel_FFTSpec_C_SC32* spec, std::int32_t maxAbs,
                            std::int16_t* expOut);
std::int32_t Vocrel_FNR_IFFT(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                             const Vocrel_FFTSpec_C_SC32* spec);

// Plain shifts in blocks of 16 words from the end of buf: the even words only
// (Fft) or all words (Ifft); positive shift = left, negative = arithmetic right.
void Fnr_Fft_Shift(std::int32_t shift, std::int32_t* buf, std::int32_t nWords);
void Fnr_Ifft_Shift(std::int32_t shift, std::int32_t* buf, std::int32_t nWords);

}  // extern "C"

namespace vocrel::dsp {
// The two inverses for callers that read only the real parts of outputs
// 0..kept-1 (the synthesis frames, the kept cepstrum): the same words and
// return value as the full inverse there; the other words of dst are left
// unspecified.
std::int32_t fnr_ifft_real_head(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                                const Vocrel_FFTSpec_C_SC32* spec, std::int32_t kept);
std::int32_t rnr_ifft_real_head(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N,
                                std::int32_t* src, std::int32_t* dst, std::int32_t kept);
}  // namespace vocrel::dsp
