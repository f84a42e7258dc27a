// Fixed-point complex FFT engine (interleaved int32 re/im, mixed radix 2/4/8,
// self-sorting) and the block-scaled real-frame transforms of both paths.
#ifndef VOCREL_FFT_VOCREL_FFT_H
#define VOCREL_FFT_VOCREL_FFT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Set-up record at the start of the caller's set-up memory. Four 32-bit words
// on every target. pTwiddle / pBuf hold the byte offsets of the twiddle and
// scratch arrays from the start of this record; they are informational only:
// the engine recomputes both positions from the record's address and N
// (twiddles at the first 32-byte boundary at/after the record end, scratch at
// the first 32-byte boundary at/after the twiddle array end).
typedef struct Vocrel_FFTSpec_C_SC32 {
  int32_t N;         // transform length 2^order
  int32_t reserved;  // written as 0, never read
  int32_t pTwiddle;  // byte offset of the twiddle array (floor(3N/4) pairs)
  int32_t pBuf;      // byte offset of the scratch array (N pairs)
} Vocrel_FFTSpec_C_SC32;

// Master twiddle table, -e^(-2 pi i k/4096) in Q31 over the first eighth of
// the circle: entry k = (-round(2^31 cos(2 pi k/4096)),
// round(2^31 sin(2 pi k/4096))), k = 0..512; entry 0 is exactly -2^31.
extern const int32_t Vocrel_FFT_S32TwiddleTable[513][2];

// Set-up memory size in bytes for 2^order points (16 for order 0).
int32_t Vocrel_FFTGetBufSize_C_SC32(int32_t order, int32_t* size);
// Builds the record and the twiddle array in mem (sized by the query). Always
// returns 0; a null mem or an order outside 0..kMaxOrder writes nothing.
int32_t Vocrel_FFTInit_C_SC32(void* mem, int32_t order);
// dst = DFT(src) / 2^scale, scale >= 0. src, dst, scratch distinct.
int32_t Vocrel_FFTFwd_C_SC32(const int32_t* src, int32_t* dst, const Vocrel_FFTSpec_C_SC32* spec,
                             int32_t scale);
// dst = (1/N) IDFT-sum(src) / 2^scale, scale >= -order.
int32_t Vocrel_FFTInv_C_SC32(const int32_t* src, int32_t* dst, const Vocrel_FFTSpec_C_SC32* spec,
                             int32_t scale);

// Environment-noise family: saturating block shift over all words.
int16_t Vocrel_RNR_FFT(const Vocrel_FFTSpec_C_SC32* spec, int32_t N, int32_t* src, int32_t* dst,
                       int16_t* expOut);
int32_t Vocrel_RNR_IFFT(const Vocrel_FFTSpec_C_SC32* spec, int32_t N, int32_t* src, int32_t* dst);

// Floor-noise family: plain block shift, caller-supplied forward maximum.
int16_t Vocrel_FNR_FFT(int32_t N, int32_t* src, int32_t* dst, const Vocrel_FFTSpec_C_SC32* spec,
                       int32_t maxAbs, int16_t* expOut);
int32_t Vocrel_FNR_IFFT(int32_t N, int32_t* src, int32_t* dst, const Vocrel_FFTSpec_C_SC32* spec);

// Plain shifts in blocks of 16 words from the end of buf: the even words only
// (Fft) or all words (Ifft); positive shift = left, negative = arithmetic right.
void Fnr_Fft_Shift(int32_t shift, int32_t* buf, int32_t nWords);
void Fnr_Ifft_Shift(int32_t shift, int32_t* buf, int32_t nWords);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(Vocrel_FFTSpec_C_SC32) == 16, "set-up record is 4 words");

namespace vocrel::fft {
// The two inverses for callers that read only the real parts of outputs
// 0..kept-1 (the synthesis frames, the kept cepstrum): the same words and
// return value as the full inverse there; the other words of dst are left
// unspecified.
int32_t fnr_ifft_real_head(int32_t N, int32_t* src, int32_t* dst, const Vocrel_FFTSpec_C_SC32* spec,
                           int32_t kept);
int32_t rnr_ifft_real_head(const Vocrel_FFTSpec_C_SC32* spec, int32_t N, int32_t* src, int32_t* dst,
                           int32_t kept);
}  // namespace vocrel::fft
#endif

#endif  // VOCREL_FFT_VOCREL_FFT_H
