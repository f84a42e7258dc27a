// The optional progress record of Vocrel_RNR_Apply.
#include "base/trace.h"

namespace {
// Slot selection: the write index masked with 60 always lies in 0..60, so a
// record can never be written outside its 61 slots whatever `next` holds.
constexpr std::uint32_t kSlotMask = 60;
}  // namespace

namespace vocrel {

void clear_trace(Vocrel_RNR_TraceRec* trace) {
  trace->count = 0;
  trace->next = 0;
  for (auto& s : trace->slot) s = 0;
}

void write_trace(Vocrel_RNR_TraceRec* trace, std::uint32_t code) {
  const std::uint32_t idx = trace->next & kSlotMask;
  trace->slot[idx] = code + trace->base;
  trace->next = idx + 1;
  trace->count += 1;
}

}  // namespace vocrel
