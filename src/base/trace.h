// The optional progress record of Vocrel_RNR_Apply.
#pragma once

#include <cstdint>

#include "vocrel_rnr.h"

namespace vocrel {

// Clears the counters and the slots of a record; the base word keeps its
// value.
void clear_trace(Vocrel_RNR_TraceRec* trace);

// Writes code + base into slot (next AND 60), sets next to that slot + 1 and
// counts the write. From a cleared record every write lands in slot 0, so the
// count, not the slots, tells how many codes were written. Any contents of a
// record stay inside its slots.
void write_trace(Vocrel_RNR_TraceRec* trace, std::uint32_t code);

}  // namespace vocrel

// The exported names of the two (exports.cpp); each ignores a null record.
extern "C" {
void Vocrel_RNR_Trace_Init(Vocrel_RNR_TraceRec* trace);
void Vocrel_RNR_Trace(Vocrel_RNR_TraceRec* trace, std::uint32_t code);
}  // extern "C"
