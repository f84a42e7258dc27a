// A stream at any sample rate, cleaned and given back aligned with its input:
// at the engine's own rates straight through the frame cleaner, at any other
// rate through the same converters, chunking and float conversion as the
// LADSPA plugin (so that the tool, the plugin and Python give the same
// samples). Interleaved 16-bit samples of up to kMaxChannels channels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame_cleaner.h"
#include "rate_route.h"

namespace vocrel::stream {

struct StreamSettings {
  bool aligned = true;        // drop the delay and flush it at the end
  bool autoThreshold = true;  // mode 0: the level threshold follows the noise floor
  bool silenceHold = true;    // the learnt noise is kept over digital silence
};

class StreamCleaner {
 public:
  // params: the tunables, mode and channel count (sampleRate is set here to
  // the engine rate chosen for hostRate). Returns 0, the engine's status, or
  // kNoConverter when libsoxr cannot convert hostRate.
  static constexpr std::int32_t kNoConverter = 1;
  std::int32_t init(Vocrel_RNR_Params params, int hostRate, const StreamSettings& settings);

  // Appends the output of `frames` input frames (null: silence) to out.
  // Returns 0 or the engine's status.
  std::int32_t push(const std::int16_t* x, std::size_t frames, std::vector<std::int16_t>& out);
  // End of input: the samples still inside the engine and the converters.
  std::int32_t finish(std::vector<std::int16_t>& out);

  // Changes the tunables of every instance between frames (nothing reset).
  std::int32_t set_params(const Vocrel_RNR_Params& tunables, bool fixThreshold);

  bool converted() const { return converted_; }
  std::int32_t engine_rate() const { return engineRate_; }
  int channels() const { return cleaner_.channels(); }
  // Host samples between an input sample and its cleaned output in the raw
  // stream (an aligned stream holds them back and flushes them at the end).
  long latency() const;
  // Host frames per read that keep a live stream flowing frame by frame.
  std::size_t step_frames() const {
    return converted_ ? route_.chunk_frames() : cleaner_.frame_len();
  }
  const FrameCleaner& cleaner() const { return cleaner_; }

 private:
  static void frame(void* ctx, const Route& route, const float* in, float* out);

  FrameCleaner cleaner_;
  Route route_;
  bool converted_ = false;
  bool aligned_ = true;
  std::int32_t engineRate_ = 0;
  long toSkip_ = 0;  // converted output frames still to drop (aligned)
  std::int32_t status_ = VOCREL_RNR_OK;
  std::vector<float> in_, fromRoute_;
  std::vector<std::int16_t> pcm_, cleaned_;
};

}  // namespace vocrel::stream
