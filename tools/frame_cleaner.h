// Streams interleaved 16-bit audio of any block size through the engine in
// 10 ms frames. Aligned mode drops the engine's one-frame delay and flushes
// the tail so that output sample k belongs to input sample k and the output
// is exactly as long as the input; raw mode passes every engine frame on as
// it comes (delayed by one frame, zero-padded to whole frames).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vocrel_rnr.h"
#include "vocrel_rnr_feed.h"

namespace vocrel::tool {

class FrameCleaner {
 public:
  // 0 or the engine's status from Vocrel_RNR_Init. autoThreshold: the level
  // threshold follows the input's noise floor; silenceHold: the engine keeps
  // its learnt noise over digital silence (the frame feed, vocrel_rnr_feed.h).
  std::int32_t init(const Vocrel_RNR_Params& params, bool aligned, bool autoThreshold = false,
                    bool silenceHold = true);

  struct ThresholdChange {
    std::uint64_t frame;  // engine frame from which it acts
    std::int32_t db;
  };
  const std::vector<ThresholdChange>& threshold_changes() const { return thrChanges_; }
  bool auto_threshold() const { return (feed_.flags & VOCREL_RNR_FEED_AUTO_THR) != 0; }
  // Engine frames taken as digital silence, and the silence runs over which
  // the learnt noise was kept.
  std::uint32_t silent_frames() const { return feed_.silentFrames; }
  std::uint32_t silence_holds() const { return feed_.holds; }

  // Feeds `frames` sample frames (channels() samples each); whatever output
  // is ready is appended to out. Returns 0 or the engine's Apply status.
  std::int32_t push(const std::int16_t* interleaved, std::size_t frames,
                    std::vector<std::int16_t>& out);

  // End of input: zero-pads the last partial frame, flushes the delay and
  // appends the remaining output.
  std::int32_t finish(std::vector<std::int16_t>& out);

  std::size_t frame_len() const { return frameLen_; }
  int channels() const { return channels_; }
  std::uint64_t engine_frames() const { return engineFrames_; }

 private:
  std::int32_t run_frame(std::vector<std::int16_t>& out);

  std::vector<unsigned char> mem_;
  void* handle_ = nullptr;
  std::size_t frameLen_ = 0;
  int channels_ = 1;
  bool aligned_ = true;
  std::vector<std::int16_t> pending_;  // interleaved input of the frame being filled
  std::size_t pendingFrames_ = 0;
  std::vector<std::int16_t> in_[2], outCh_[2];
  std::uint64_t inputFrames_ = 0;     // sample frames fed so far
  std::uint64_t producedFrames_ = 0;  // sample frames the engine has produced
  std::uint64_t engineFrames_ = 0;    // Apply calls
  std::uint64_t limit_ = UINT64_MAX;  // last output sample frame + 1, set by finish
  Vocrel_RNR_Feed feed_{};
  std::vector<unsigned char> spare_;  // the instance kept over digital silence
  std::vector<ThresholdChange> thrChanges_;
};

}  // namespace vocrel::tool
