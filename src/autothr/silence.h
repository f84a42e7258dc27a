// What the front ends take for digital silence: frames that carry no noise
// and so must not teach the threshold tracker or the engine anything.
#pragma once

#include <cstdint>

namespace vocrel::autothr {

// A frame whose mean square is at most one unit (-90.3 dBFS): zero samples,
// or a dither of a unit or two, far below any recorded noise floor.
inline bool frame_is_silent(const std::int16_t* x, std::int32_t n) {
  std::int64_t energy = 0;
  for (std::int32_t i = 0; i < n; ++i) energy += std::int32_t{x[i]} * x[i];
  return energy <= n;
}

// Samples in a row within one unit of zero that mark a dropout: n / 8 of a
// frame (1.25 ms). Noise at -80 dBFS (3.3 units RMS) holds such a run about
// once in 40 s at 8 kHz, and louder noise practically never.
inline std::int32_t dropout_run(std::int32_t n) { return n / 8; }

// The longest run of samples within one unit of zero.
inline std::int32_t longest_quiet_run(const std::int16_t* x, std::int32_t n) {
  std::int32_t run = 0, longest = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    run = x[i] >= -1 && x[i] <= 1 ? run + 1 : 0;
    if (run > longest) longest = run;
  }
  return longest;
}

// A frame that is silent or holds a dropout: its level says nothing of the
// noise (a mute or a lost packet starts or ends inside it).
inline bool frame_is_gap(const std::int16_t* x, std::int32_t n) {
  return frame_is_silent(x, n) || longest_quiet_run(x, n) >= dropout_run(n);
}

// A gap frame that is mostly sound: its quiet part is under half of it.
inline bool gap_is_mostly_sound(const std::int16_t* x, std::int32_t n) {
  return !frame_is_silent(x, n) && longest_quiet_run(x, n) < n / 2;
}

}  // namespace vocrel::autothr
