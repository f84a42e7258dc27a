// Instance memory layout: where the header, the FFT set-ups, the path state and
// the end guard sit inside the caller's block, and how records refer to each
// other without storing native pointers.
//
// Every record has the same size and field offsets on the 32-bit target and on
// 64-bit hosts. A field that the layout calls an address is a 32-bit word
// (Ref32) and the engine never dereferences what it reads there:
//  - a reference to an FFT set-up inside the instance holds a self-relative
//    byte offset (set-up address minus the address of the record holding the
//    field). Apply compares it with the fixed layout before any frame runs;
//  - a reference to a constant table holds a table code (kTable8k,
//    kTable16k, kTableNone); the code that uses the table picks it from the
//    verified sample rate;
//  - a reference to per-call memory (trace record, stack scratch) holds a
//    marker only; the pointer itself travels as a function argument.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocrel_rnr.h"

namespace vocrel {

using Ref32 = std::int32_t;

inline constexpr std::uint32_t kGuard = 0x6AAAAAAAu;
inline constexpr std::uint16_t kGuard16 = 0x6AAAu;
inline constexpr std::uint32_t kMagic = 0x414E5249u;  // "IRNA" little-endian
inline constexpr std::int32_t kFnrCheck = 24936;

inline constexpr Ref32 kTableNone = 0;
inline constexpr Ref32 kTable8k = 8;
inline constexpr Ref32 kTable16k = 16;

inline constexpr std::uint32_t kMemSize = VOCREL_RNR_MEM_SIZE;  // bytes the caller supplies
inline constexpr std::size_t kInstanceAlign = 8;
inline constexpr std::size_t kInstanceBytes = 28256;  // used from the aligned start

inline constexpr std::size_t kHeaderBytes = 112;
inline constexpr std::size_t kFftSpecAOffset = 112;
inline constexpr std::size_t kFftSpecABytes = 3664;
inline constexpr std::size_t kFftSpecBOffset = kFftSpecAOffset + kFftSpecABytes;  // 3776
inline constexpr std::size_t kFftSpecBBytes = 10752;
inline constexpr std::size_t kPathStateOffset = kFftSpecBOffset + kFftSpecBBytes;  // 14528
inline constexpr std::size_t kPathStateBytes = 13724;
inline constexpr std::size_t kRnrChanStateBytes = 6860;
inline constexpr std::size_t kEndGuardOffset = kPathStateOffset + kPathStateBytes;  // 28252

static_assert(kEndGuardOffset == 7063 * 4);
static_assert(kEndGuardOffset + 4 == kInstanceBytes);
static_assert(kInstanceBytes + kInstanceAlign - 0 <= kMemSize);

// Byte offset of environment-noise channel state c (0 or 1) from the instance start.
constexpr std::size_t kRnrChanOffset(int c) {
  return kPathStateOffset + static_cast<std::size_t>(c) * kRnrChanStateBytes;
}

// Self-relative reference from a record at byte offset `holder` to a region at
// byte offset `target`, both from the instance start.
constexpr Ref32 layout_ref(std::size_t target, std::size_t holder) {
  return static_cast<Ref32>(static_cast<std::ptrdiff_t>(target) -
                            static_cast<std::ptrdiff_t>(holder));
}

// The self-relative reference that `holder` stores for `target`.
inline Ref32 make_ref(const void* target, const void* holder) {
  return static_cast<Ref32>(static_cast<const char*>(target) - static_cast<const char*>(holder));
}

// The region a verified self-relative reference points at.
template <typename T>
inline T* ref_target(void* holder, Ref32 ref) {
  return reinterpret_cast<T*>(static_cast<char*>(holder) + ref);
}
template <typename T>
inline const T* ref_target(const void* holder, Ref32 ref) {
  return reinterpret_cast<const T*>(static_cast<const char*>(holder) + ref);
}

// Header: 28 words at the start of the instance.
struct RnrInstHeader {
  std::uint32_t guard;       // word 0: kGuard
  std::uint32_t frameLen;    // word 1: 80, 160 or 480
  std::uint32_t memSize;     // word 2: 28264
  std::uint32_t magic;       // word 3: kMagic
  std::int32_t tunables[5];  // words 4..8: maxNr, hpFilterOn, levelThrDb, levelAdaptOff, vadBandThr
  std::int32_t reserved9[7];
  std::int32_t sampleRate;  // word 16
  std::int32_t channels;    // word 17
  std::int32_t mode;        // word 18
  std::int32_t reserved19[9];
};
static_assert(sizeof(RnrInstHeader) == kHeaderBytes);
static_assert(offsetof(RnrInstHeader, sampleRate) == 16 * 4);
static_assert(offsetof(RnrInstHeader, mode) == 18 * 4);

// Frame length in samples for a supported rate (10 ms), 0 otherwise.
constexpr std::uint32_t frame_len_for_rate(std::int32_t sampleRate) {
  return sampleRate == 8000 ? 80u : sampleRate == 16000 ? 160u : sampleRate == 48000 ? 480u : 0u;
}

}  // namespace vocrel
