// What the front ends take for digital silence, and the measures of a frame
// they judge it by: frames that carry no noise must not teach the threshold
// tracker or the engine anything. One pass of measures serves both.
#pragma once

#include <cstdint>

namespace vocrel::autothr {

// Sum of squares of n samples. This and has_quiet_run are the per-sample
// work of the front ends, kept out of line in silence.cpp, which stays
// built for speed while the rest of the front end is built for size.
std::int64_t frame_energy(const std::int16_t* x, std::int32_t n);

// A frame whose mean square is at most one unit (-90.3 dBFS): zero samples,
// or a dither of a unit or two, far below any recorded noise floor.
inline bool energy_is_silent(std::int64_t energy, std::int32_t n) { return energy <= n; }

// Whether the n (>= 1) samples of x all lie within one unit of the first: a
// frame stuck at one level (a block of values beyond full scale clipped to
// one word, a converter holding its last sample) is an offset without sound.
bool is_flat(const std::int16_t* x, std::int32_t n);

inline bool is_quiet(std::int16_t v) { return v >= -1 && v <= 1; }

// Whether x holds `len` (>= 1) samples in a row within one unit of zero. Such
// a run covers a multiple of `len`, so only the samples there are looked at,
// and around those that are quiet the run is followed out.
bool has_quiet_run(const std::int16_t* x, std::int32_t n, std::int32_t len);

// Samples in a row within one unit of zero that mark a dropout: n / 8 of a
// frame (1.25 ms). Noise at -80 dBFS (3.3 units RMS) holds such a run about
// once in 40 s at 8 kHz, and louder noise practically never.
inline std::int32_t dropout_run(std::int32_t n) { return n / 8; }

// A frame's channels as the feed and the tracker judge them. Silent: every
// channel at or below -90 dBFS. Gap: every channel silent or holding a
// dropout, so that its level says nothing of the noise (a mute or a lost
// packet starts or ends inside it, or a converter's ringing fades into it).
// Still: every channel silent or stuck at one level.
struct FrameMeasure {
  std::int64_t energy[2] = {0, 0};  // sum of squares per channel
  bool silent = true;
  bool gap = true;
  bool still = true;
};

inline FrameMeasure measure_frame(const std::int16_t* const in[2], std::int32_t channels,
                                  std::int32_t n) {
  FrameMeasure m;
  for (std::int32_t c = 0; c < channels; ++c) {
    m.energy[c] = frame_energy(in[c], n);
    if (energy_is_silent(m.energy[c], n)) continue;
    m.silent = false;
    if (!is_flat(in[c], n)) m.still = false;
    if (!has_quiet_run(in[c], n, dropout_run(n))) m.gap = false;
  }
  return m;
}

// A gap frame that is mostly sound: its quiet part is under half of it.
inline bool gap_is_mostly_sound(const std::int16_t* x, std::int32_t n) {
  return !energy_is_silent(frame_energy(x, n), n) && !has_quiet_run(x, n, n / 2);
}

}  // namespace vocrel::autothr
