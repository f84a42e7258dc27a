// The trace record's exported C names, forwards to the routines in
// trace.cpp; a null record is ignored here.
#include "base/trace.h"

extern "C" {

void Vocrel_RNR_Trace_Init(Vocrel_RNR_TraceRec* trace) {
  if (trace != nullptr) vocrel::clear_trace(trace);
}

void Vocrel_RNR_Trace(Vocrel_RNR_TraceRec* trace, std::uint32_t code) {
  if (trace != nullptr) vocrel::write_trace(trace, code);
}

}  // extern "C"
