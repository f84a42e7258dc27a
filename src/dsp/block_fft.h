// Block-floating-point real-frame transforms of the two paths, on the FFT
// engine: each shifts the frame to a common headroom first and reports the
// shift through its exponents.
#pragma once

#include <cstdint>

#include "fft/vocrel_fft.h"

namespace vocrel::dsp {

// ---- Environment-noise family: saturating block shift over all words ---------

// Forward transform of N points (src and dst 2N words, src shifted in
// place); the exponent s + 16 of the block shift s into *expOut, and
// s + 16 + log2 N returned.
std::int16_t rnr_fft(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N, std::int32_t* src,
                     std::int32_t* dst, std::int16_t* expOut);
// Inverse sum without the 1/N factor, for a caller that reads only the real
// parts of outputs 0..kept-1 (kept = N: all of dst); returns the block shift.
std::int32_t rnr_ifft_real_head(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N,
                                std::int32_t* src, std::int32_t* dst, std::int32_t kept);

// ---- Floor-noise family: plain block shift, caller-supplied forward maximum ---

// Forward transform with the real parts shifted by the headroom of maxAbs;
// returns the exponent sat16(s + 16).
std::int16_t fnr_fft(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                     const Vocrel_FFTSpec_C_SC32* spec, std::int32_t maxAbs);
// Normalised inverse, for a caller that reads only the real parts of outputs
// 0..kept-1 (kept = N: all of dst); returns the block shift.
std::int32_t fnr_ifft_real_head(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                                const Vocrel_FFTSpec_C_SC32* spec, std::int32_t kept);

// Plain shifts in blocks of 16 words from the end of buf: the even words only
// or all words; positive shift = left, negative = arithmetic right.
void shift_even_words_in_blocks(std::int32_t shift, std::int32_t* buf, std::int32_t nWords);
void shift_words_in_blocks(std::int32_t shift, std::int32_t* buf, std::int32_t nWords);

}  // namespace vocrel::dsp

// The exported names of the same transforms and shifts (exports.cpp); they
// refuse null buffers.
extern "C" {
std::int16_t Vocrel_RNR_FFT(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N, std::int32_t* src,
                            std::int32_t* dst, std::int16_t* expOut);
std::int32_t Vocrel_RNR_IFFT(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N, std::int32_t* src,
                             std::int32_t* dst);
std::int16_t Vocrel_FNR_FFT(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                            const Vocrel_FFTSpec_C_SC32* spec, std::int32_t maxAbs,
                            std::int16_t* expOut);
std::int32_t Vocrel_FNR_IFFT(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                             const Vocrel_FFTSpec_C_SC32* spec);
void Fnr_Fft_Shift(std::int32_t shift, std::int32_t* buf, std::int32_t nWords);
void Fnr_Ifft_Shift(std::int32_t shift, std::int32_t* buf, std::int32_t nWords);
}  // extern "C"
