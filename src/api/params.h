// Validation of the tunables record, shared by every API entry point.
#pragma once

#include <cstdint>

#include "vocrel_rnr.h"

namespace vocrel {

// Stream fields (sampleRate, channels, mode): 0 or the first failing status
// among -13, -14, -22, -24, checked in that order. A build without the
// environment-noise path (VOCREL_MODE1 off) refuses mode 1 with -22.
std::int32_t check_stream(std::int32_t sampleRate, std::int32_t channels, std::int32_t mode);

// Tunables words 0..4: 0 or the first failing status among -15, -16, -19,
// -20, -21, checked in that order.
std::int32_t check_tunables(const Vocrel_RNR_Params& p);

}  // namespace vocrel
