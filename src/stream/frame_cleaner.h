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

namespace vocrel::stream {

// Streams of up to kMaxChannels channels: each stereo pair of channels (0 and
// 1, 2 and 3, ...) is one engine instance, an odd last channel a mono one;
// the instances are independent of each other.
inline constexpr int kMaxChannels = 8;

// The engine rate a host rate runs at: the rate itself when the path supports
// it, otherwise the nearest supported one (the higher on a tie). The
// environment-noise path (mode 1) stops at 16 kHz.
std::int32_t engine_rate_for(double hostRate, std::int32_t mode);

class FrameCleaner {
 public:
  // 0 or the engine's status from Vocrel_RNR_Init. params.channels may be up
  // to kMaxChannels. autoThreshold: the level threshold follows the input's
  // noise floor; silenceHold: the engine keeps its learnt noise over digital
  // silence (the frame feed, vocrel_rnr_feed.h).
  std::int32_t init(const Vocrel_RNR_Params& params, bool aligned, bool autoThreshold = false,
                    bool silenceHold = true);

  struct ThresholdChange {
    std::uint64_t frame;  // engine frame from which it acts
    std::int32_t db;
  };
  // The automatic threshold's choices for the first instance (channels 0 and 1).
  const std::vector<ThresholdChange>& threshold_changes() const { return thrChanges_; }
  bool auto_threshold() const {
    return !parts_.empty() && (parts_[0].feed.flags & VOCREL_RNR_FEED_AUTO_THR) != 0;
  }
  // Engine frames of the first instance taken as digital silence, and the
  // silence runs over which its learnt noise was kept.
  std::uint32_t silent_frames() const { return parts_.empty() ? 0 : parts_[0].feed.silentFrames; }
  std::uint32_t silence_holds() const { return parts_.empty() ? 0 : parts_[0].feed.holds; }

  // Changes the tunables (words maxNr..vadBandThr of `tunables`) of every
  // instance between frames; nothing is reset. The automatic threshold keeps
  // choosing unless fixThreshold, which fixes tunables.levelThrDb from here on.
  // Returns 0 or the engine's refusal, with nothing changed.
  std::int32_t set_params(const Vocrel_RNR_Params& tunables, bool fixThreshold);
  // The tunables in force in the first instance.
  std::int32_t get_params(Vocrel_RNR_Params& params) const;

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
  // One engine instance and its frame feed, for channels first..first+count-1.
  struct Part {
    int first = 0;
    int count = 1;
    std::vector<unsigned char> mem;
    void* handle = nullptr;
    Vocrel_RNR_Feed feed{};
    std::vector<unsigned char> spare;  // the instance kept over digital silence
  };
  std::int32_t run_frame(std::vector<std::int16_t>& out);

  std::vector<Part> parts_;
  std::size_t frameLen_ = 0;
  int channels_ = 1;
  bool aligned_ = true;
  std::vector<std::int16_t> pending_;  // interleaved input of the frame being filled
  std::size_t pendingFrames_ = 0;
  std::vector<std::vector<std::int16_t>> in_, outCh_;  // per channel
  std::uint64_t inputFrames_ = 0;                      // sample frames fed so far
  std::uint64_t producedFrames_ = 0;                   // sample frames the engine has produced
  std::uint64_t engineFrames_ = 0;                     // Apply calls per instance
  std::uint64_t limit_ = UINT64_MAX;  // last output sample frame + 1, set by finish
  std::vector<ThresholdChange> thrChanges_;
};

}  // namespace vocrel::stream
