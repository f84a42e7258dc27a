// Checks of what the engine reads from a block before it trusts it: the
// header's stream fields and the self-relative FFT references the path states
// hold. Apply and every exported stage entry that takes a path state use the
// same checks, so a stage called directly refuses what Apply refuses.
#pragma once

#include <cstdint>

#include "base/layout.h"

namespace vocrel {

// The header's stream fields agree with each other and with a path (magic and
// guard words are checked apart): everything the paths size their loops by.
constexpr bool header_consistent(const RnrInstHeader& h) {
  if (h.frameLen == 0 || h.frameLen != frame_len_for_rate(h.sampleRate)) return false;
  if (h.channels != 1 && h.channels != 2) return false;
  if (h.mode == 1) return h.sampleRate != 48000;
  return h.mode == 0;
}

// The reference a floor-noise state (at the path offset) holds to set-up A.
inline constexpr Ref32 kFnrFftSpecRef = layout_ref(kFftSpecAOffset, kPathStateOffset);

// The environment-noise channel (0 or 1) at whose offset both references of a
// channel state point to the two set-ups, or -1 when neither does.
constexpr int rnr_chan_of_refs(Ref32 fftSpecA, Ref32 fftSpecB) {
  for (int c = 0; c < 2; ++c) {
    if (fftSpecA == layout_ref(kFftSpecAOffset, kRnrChanOffset(c)) &&
        fftSpecB == layout_ref(kFftSpecBOffset, kRnrChanOffset(c))) {
      return c;
    }
  }
  return -1;
}

static_assert(rnr_chan_of_refs(layout_ref(kFftSpecAOffset, kRnrChanOffset(1)),
                               layout_ref(kFftSpecBOffset, kRnrChanOffset(1))) == 1);
static_assert(rnr_chan_of_refs(layout_ref(kFftSpecAOffset, kRnrChanOffset(0)),
                               layout_ref(kFftSpecBOffset, kRnrChanOffset(1))) == -1);

}  // namespace vocrel
