// Fixed-point complex FFT engine (interleaved int32 re/im, mixed radix 2/4/8,
// self-sorting).
#pragma once

#include <array>
#include <cstdint>

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
  std::int32_t N;         // transform length 2^order
  std::int32_t reserved;  // written as 0, never read
  std::int32_t pTwiddle;  // byte offset of the twiddle array (floor(3N/4) pairs)
  std::int32_t pBuf;      // byte offset of the scratch array (N pairs)
} Vocrel_FFTSpec_C_SC32;

// Master twiddle table, -e^(-2 pi i k/4096) in Q31 over the first eighth of
// the circle: entry k = (-round(2^31 cos(2 pi k/4096)),
// round(2^31 sin(2 pi k/4096))), k = 0..512; entry 0 is exactly -2^31.
extern const std::array<std::array<std::int32_t, 2>, 513> Vocrel_FFT_S32TwiddleTable;

// These four report no errors: each returns 0 whether it did its work or
// refused the call, and a refused call writes nothing.

// Set-up memory size in bytes for 2^order points (16 for order 0); size 0 for
// an order outside 0..kMaxOrder, nothing for a null size.
std::int32_t Vocrel_FFTGetBufSize_C_SC32(std::int32_t order, std::int32_t* size);
// Builds the record and the twiddle array in mem (sized by the query); refuses
// a null mem or an order outside 0..kMaxOrder.
std::int32_t Vocrel_FFTInit_C_SC32(void* mem, std::int32_t order);
// dst = DFT(src) / 2^scale, scale >= 0. src, dst, scratch distinct. Refuses
// null pointers, a record length that is not a power of two up to 4096 and a
// negative scale.
std::int32_t Vocrel_FFTFwd_C_SC32(const std::int32_t* src, std::int32_t* dst,
                                  const Vocrel_FFTSpec_C_SC32* spec, std::int32_t scale);
// dst = (1/N) IDFT-sum(src) / 2^scale, scale >= -order; refuses as the
// forward transform does, and a scale below -order.
std::int32_t Vocrel_FFTInv_C_SC32(const std::int32_t* src, std::int32_t* dst,
                                  const Vocrel_FFTSpec_C_SC32* spec, std::int32_t scale);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(Vocrel_FFTSpec_C_SC32) == 16, "set-up record is 4 words");

#endif
