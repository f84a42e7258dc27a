// The SSE4.1 vector kernels by name, for the AVX2 table, which runs those
// that gain nothing from wider lanes. Built with -msse4.1 (vec_kernels_sse41.cpp);
// each equals its portable twin in vec_kernels.h.
#pragma once

#include <cstdint>

namespace vocrel::sse41 {

void gain_pairs(std::int32_t* pairs, const std::int16_t* g, std::int32_t count);
std::int32_t window_pairs(const std::int16_t* x, const std::int16_t* w, std::int32_t count,
                          std::int32_t* pairs);
void window_ola(const std::int32_t* pairs, const std::int16_t* w, std::int32_t count,
                std::int32_t shift, std::int16_t* out, std::int16_t* tail);
std::uint32_t magnitude_bits(const std::int32_t* words, std::int32_t count);
void shift_words(std::int32_t* words, std::int32_t count, std::int32_t s);
void bin_powers(const std::int32_t* pairs, std::int32_t shift, std::int32_t count,
                std::int64_t* power);
#if VOCREL_MODE1
std::uint64_t pair_powers(const std::int32_t* pairs, std::int32_t count, std::int64_t* power);
void power_words(const std::int64_t* power, std::int32_t count, std::int32_t s, std::int32_t* out);
void smooth_magnitudes(std::int32_t* mag, std::int32_t* prev, std::int32_t count,
                       std::int32_t shift, std::int32_t w, bool smooth);
void gain_mirror(std::int32_t* pairs, const std::int16_t* g, std::int32_t half);
void scale_words(const std::int32_t* x, std::int32_t f, std::int32_t s, std::int32_t count,
                 std::int32_t* out);
void floor_words16(std::int16_t* w, std::int32_t count, std::int16_t floor);
#endif

}  // namespace vocrel::sse41
