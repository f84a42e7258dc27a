// Host wrapper internals: the handle record TQ_RNR_Init allocates and the
// fixed message positions the wrapper reports on stderr.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocrel_rnr.h"

namespace vocrel::host {

// Wrapper handle record, owned by the host between TQ_RNR_Init and
// TQ_RNR_DeInit. On the 32-bit target each address is one word and the record
// is 268 bytes; on 64-bit hosts the two addresses are 8-byte pointers and the
// record is 280 bytes (trace at 12, memory block at 272).
struct WrapperHandle {
  void* engine;               // handle returned by Vocrel_RNR_Init
  std::uint32_t frameLen;     // samples per Vocrel_RNR_Apply call: 80, 160 or 480
  Vocrel_RNR_TraceRec trace;  // cleared at creation; base 200 at every block
  void* memBlock;             // the engine's instance memory, memSize bytes
};

static_assert(sizeof(Vocrel_RNR_TraceRec) == 256);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(WrapperHandle) == 268);
static_assert(offsetof(WrapperHandle, frameLen) == 4);
static_assert(offsetof(WrapperHandle, trace) == 8);
static_assert(offsetof(WrapperHandle, memBlock) == 264);
#else
static_assert(sizeof(WrapperHandle) == 280);
static_assert(offsetof(WrapperHandle, frameLen) == 8);
static_assert(offsetof(WrapperHandle, trace) == 12);
static_assert(offsetof(WrapperHandle, memBlock) == 272);
#endif

// Clears a fresh allocation. Defined in its own file so that malloc and the
// clearing are never merged into calloc.
void clear_allocation(void* p, std::size_t bytes);

// Base word the wrapper gives its trace record at every block.
inline constexpr std::uint32_t kTraceBase = 200;

// Settings used when the host does not ask for custom ones.
inline constexpr std::int32_t kDefaultMode = 0;
inline constexpr std::int32_t kDefaultMaxNrDb = 10;
inline constexpr std::int32_t kDefaultLevelThrDb = -50;

// Tunables every wrapper instance runs with, whatever the host asks.
inline constexpr std::int32_t kHpFilterOn = 0;
inline constexpr std::int32_t kLevelAdaptOff = 1;
inline constexpr std::int32_t kVadBandThr = 50;

// The floor-noise mode at 8 or 16 kHz runs the engine at this rate.
inline constexpr std::int32_t kFloorNoiseEngineRate = 48000;

// Fixed line numbers of the wrapper's messages; hosts match on them.
enum MessageLine : int {
  kLineNullConfig = 36,
  kLineEnvAt48k = 52,
  kLineHandleAlloc = 59,
  kLineGetSize = 115,
  kLineBlockAlloc = 126,
  kLineEngineInit = 135,
  kLineApply = 189,
};

}  // namespace vocrel::host
