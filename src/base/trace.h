// The optional progress record of Vocrel_RNR_Apply.
#pragma once

#include <cstdint>

#include "vocrel_rnr.h"

extern "C" {

// Clears the counters and the slots; the base word keeps its value.
void Vocrel_RNR_Trace_Init(Vocrel_RNR_TraceRec* trace);

// Writes code + base into the next slot. No checks: callers pass a valid record.
void Vocrel_RNR_Trace(Vocrel_RNR_TraceRec* trace, std::uint32_t code);

}  // extern "C"
