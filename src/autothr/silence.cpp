// The per-sample measures of digital silence (see silence.h).
#include "silence.h"

namespace vocrel::autothr {

std::int64_t frame_energy(const std::int16_t* x, std::int32_t n) {
  std::int64_t e = 0;
  for (std::int32_t i = 0; i < n; ++i) e += std::int32_t{x[i]} * x[i];
  return e;
}

bool is_flat(const std::int16_t* x, std::int32_t n) {
  for (std::int32_t i = 1; i < n; ++i) {
    const std::int32_t step = std::int32_t{x[i]} - x[0];
    if (step < -1 || step > 1) return false;
  }
  return true;
}

bool has_quiet_run(const std::int16_t* x, std::int32_t n, std::int32_t len) {
  for (std::int32_t probe = len - 1; probe < n; probe += len) {
    if (!is_quiet(x[probe])) continue;
    std::int32_t first = probe, last = probe;
    while (first > 0 && is_quiet(x[first - 1])) --first;
    while (last + 1 < n && is_quiet(x[last + 1])) ++last;
    if (last - first + 1 >= len) return true;
  }
  return false;
}

}  // namespace vocrel::autothr
