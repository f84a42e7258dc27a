// The processor probe behind the choice of the SIMD kernel tables.
#include "base/cpu_features.h"

#if defined(__x86_64__)

namespace vocrel {

// __builtin_cpu_init fills the record the first time and returns at once
// after that; __builtin_cpu_supports reads it.
bool has_sse41() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse4.1");
}

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace vocrel

#endif
