// Set-up memory of the complex FFT: lengths, the layout of the record, its
// twiddle array and its scratch array, and the master twiddle table.
#pragma once

#include <cstdint>

#include "fft/vocrel_fft.h"

namespace vocrel::fft {

inline constexpr int kMaxOrder = 12;  // 4096 points: the extent of the master table
inline constexpr std::int32_t kMaxLength = std::int32_t{1} << kMaxOrder;
inline constexpr int kMasterEntries = kMaxLength / 8 + 1;  // first eighth of the circle
inline constexpr std::uintptr_t kArrayAlign = 32;          // twiddle and scratch arrays
inline constexpr std::int32_t kRecordBytes = 16;
inline constexpr std::int32_t kPairBytes = 8;  // one complex int32 pair
// Worst-case padding: up to 31 bytes in front of each of the two arrays.
inline constexpr std::int32_t kAlignSlackBytes = 2 * (static_cast<std::int32_t>(kArrayAlign) - 1);

static_assert(sizeof(Vocrel_FFTSpec_C_SC32) == kRecordBytes);

// A power of two from 1 to 4096.
constexpr bool valid_length(std::int32_t n) {
  return n >= 1 && n <= kMaxLength && (n & (n - 1)) == 0;
}

// log2 n for a valid length.
constexpr int order_of_length(std::int32_t n) {
  int order = 0;
  while (order < kMaxOrder && (std::int32_t{1} << order) < n) ++order;
  return order;
}

// Entries of a set-up's twiddle array: floor(3N/4).
constexpr std::int32_t twiddle_count(std::int32_t n) { return 3 * n / 4; }

// Bytes of set-up memory for 2^order points (orders 0..kMaxOrder).
constexpr std::int32_t setup_bytes(int order) {
  if (order == 0) return kRecordBytes;
  const std::int32_t n = std::int32_t{1} << order;
  return kRecordBytes + kAlignSlackBytes + kPairBytes * (n + twiddle_count(n));
}

constexpr std::uintptr_t align_up(std::uintptr_t address) {
  return (address + kArrayAlign - 1) & ~(kArrayAlign - 1);
}

// Byte offsets of the two arrays from the record. They depend on the record's
// address modulo 32, so they are always recomputed from it and the length,
// never read back from the record.
struct SetupOffsets {
  std::int32_t twiddle;
  std::int32_t scratch;
};

inline SetupOffsets setup_offsets(const void* record, std::int32_t n) {
  const auto base = reinterpret_cast<std::uintptr_t>(record);
  const std::uintptr_t twiddle = align_up(base + kRecordBytes);
  const std::uintptr_t scratch =
      align_up(twiddle + static_cast<std::uintptr_t>(kPairBytes) *
                             static_cast<std::uintptr_t>(twiddle_count(n)));
  return {static_cast<std::int32_t>(twiddle - base), static_cast<std::int32_t>(scratch - base)};
}

// Builds the set-up record and its twiddle array in mem for 2^order points,
// 0 <= order <= kMaxOrder; mem holds setup_bytes(order) bytes.
void build_setup(void* mem, int order);

// The arrays of a set-up built for n points (n >= 2), located from the record.
struct SetupArrays {
  const std::int32_t* twiddle;  // floor(3n/4) pairs (re, im), Q31
  std::int32_t* scratch;        // n pairs
};

inline SetupArrays setup_arrays(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t n) {
  const SetupOffsets off = setup_offsets(spec, n);
  const auto base = reinterpret_cast<std::uintptr_t>(spec);
  return {reinterpret_cast<const std::int32_t*>(base + static_cast<std::uintptr_t>(off.twiddle)),
          reinterpret_cast<std::int32_t*>(base + static_cast<std::uintptr_t>(off.scratch))};
}

}  // namespace vocrel::fft
