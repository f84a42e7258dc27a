// The x86-64 vector instruction sets this processor has, and the one pattern
// by which the kernel tables are chosen from them when the library is loaded.
#pragma once

namespace vocrel {

#if defined(__x86_64__)

// Whether the processor has SSE4.1, and AVX2 (with the operating system
// keeping its registers). The processor is probed once, into the compiler
// run-time's (libgcc's) record of it; these read that record. Safe to call from a loader-time
// resolver: they touch no relocated data of the engine and are never
// instrumented, since resolvers run before the sanitizer run-times start.
#define VOCREL_UNINSTRUMENTED __attribute__((no_sanitize("address", "undefined", "thread")))
VOCREL_UNINSTRUMENTED __attribute__((visibility("hidden"))) bool has_sse41();
VOCREL_UNINSTRUMENTED __attribute__((visibility("hidden"))) bool has_avx2();

// The table accessor for this processor: the AVX2 one where it has AVX2, else
// the SSE4.1 one where it has that, else the portable one. Every x86-64
// resolver of a kernel table returns this.
template <class Accessor>
VOCREL_UNINSTRUMENTED inline Accessor choose_by_cpu(Accessor avx2, Accessor sse41,
                                                    Accessor portable) {
  if (has_avx2()) return avx2;
  if (has_sse41()) return sse41;
  return portable;
}

// What every loader-time resolver is declared with (see has_sse41()).
#define VOCREL_RESOLVER extern "C" VOCREL_UNINSTRUMENTED

#endif

}  // namespace vocrel
