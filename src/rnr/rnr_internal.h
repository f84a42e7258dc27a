// Internal helpers of the environment-noise path that the frame driver and
// the cepstral model share with the unit tests (C++ linkage, not exported).
#pragma once

#include <cstdint>

#include "rnr/rnr_view.h"

namespace vocrel::rnr {

// Harmonic hangover: harmonicRun counts harmonic frames and stays non-zero for
// vocrel_rnr_harmHoldTab[min(run - 1, 9)] frames after the last one.
void update_harmonic_hangover(RnrChanState* st, std::int32_t harmonicFlag);

// Slow level tracker (step 1/64), bounded below by the energy of the tracked
// noise minimum; stands still while harmonicRun is non-zero.
void update_level_tracker(RnrChanState* st, const RateView& v, std::int32_t vad1);

// Frames with the level tracker below levelFloor, held 10 frames after runs
// longer than 30.
void update_low_level_counter(RnrChanState* st);

// Harmonic spacing in bins (about 256 / q0) and interval count (about
// 128 / spacing) for a pitch quefrency q0 in 26..114.
void harmonic_grid(std::int32_t q0, int* spacing, int* count);

}  // namespace vocrel::rnr
