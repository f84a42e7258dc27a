// The threshold tracker's step on a measured frame, shared by
// Vocrel_RNR_AutoThrUpdate and the frame feed (which measures each frame once).
#pragma once

#include <cstdint>

#include "silence.h"
#include "vocrel_rnr_autothr.h"

namespace vocrel::autothr {

// Every field that is counted, indexed or added to lies in its range.
bool tracker_ok(const Vocrel_RNR_AutoThr& st);

// Vocrel_RNR_AutoThrUpdate after its checks (tracker_ok, the frame length and
// the inputs): 0, 1 when the threshold changed, or the engine's status.
std::int32_t track_frame(Vocrel_RNR_AutoThr& st, void* handle, const FrameMeasure& m,
                         std::int32_t* thrDb);

}  // namespace vocrel::autothr
