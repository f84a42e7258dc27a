// A fixed-latency road from the host's sample rate to 10 ms engine frames and
// back, for any host block size.
//
// Host samples are gathered into chunks of a fixed size; each full chunk is
// converted to the engine rate (libsoxr, when the rates differ), cut into
// frames, handed to the frame callback and converted back into an output FIFO
// that was primed with P zeros. Because the chunking depends only on the sample
// count, never on the host's block sizes, the output is the same for every
// block pattern. libsoxr's output is time-aligned with its input, so output
// sample t is always the same converted sample, t - latency() host samples
// after its input, as long as the FIFO never runs dry nor overflows; P (a
// priming that never runs dry, for as long as the route runs) is found once
// from each converter's output counts on silence.
//
// libsoxr grows its internal buffers during its first few hundred calls, so a
// fresh route is one whose converters have just run one second of silence
// (all of it dropped): from then on feed() never allocates.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame_cleaner.h"

namespace vocrel::stream {

// Host sample rates a route is made for (Hz).
constexpr int kMinHostRate = 1000;
constexpr int kMaxHostRate = 768000;

// Float samples to the engine's 16-bit PCM: x * 32768 rounded to nearest and
// saturated, so that a 16-bit sample divided by 32768 comes back unchanged.
// NaN and infinities are no sound at all: they become 0, digital silence,
// which the frame feed keeps away from the engine's learnt noise.
// The plugin and vocrel-clean both go through these two, which keeps their
// converted-rate outputs identical.
inline std::int16_t to_pcm(float x) {
  if (!std::isfinite(x)) return 0;
  const float s = x * 32768.0f;
  if (!(s > -32768.0f)) return -32768;
  if (s >= 32767.0f) return 32767;
  return static_cast<std::int16_t>(std::lrint(s));
}

inline float from_pcm(std::int16_t v) { return static_cast<float>(v) * (1.0f / 32768.0f); }

// One libsoxr stream converter on interleaved float samples.
class Resampler {
 public:
  Resampler() = default;
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;
  ~Resampler();

  bool create(double inRate, double outRate, unsigned channels);
  // Converts `frames` input frames, writing at most `capacity` output frames;
  // returns the number written.
  std::size_t process(const float* in, std::size_t frames, float* out, std::size_t capacity);

 private:
  void* soxr_ = nullptr;  // soxr_t
};

class Route;

// Cleans one frame: `in` and `out` hold frame_len() interleaved frames of the
// route's channels at the engine rate, as floats in [-1, 1).
using FrameFn = void (*)(void* ctx, const Route& route, const float* in, float* out);

class Route {
 public:
  // engineRate is one of the engine's rates; the host rate may be anything
  // libsoxr converts. False when a converter cannot be set up.
  bool create(double hostRate, std::int32_t engineRate, unsigned channels);

  // Fresh state: empty chunk buffer, the FIFO primed with P zeros. Allocates
  // (new converters, warmed up) only when the route has taken samples since.
  bool reset();

  // Takes `frames` interleaved host frames and gives as many back (out may be
  // null to drop them). in and out must not overlap.
  void feed(const float* in, float* out, std::size_t frames, FrameFn fn, void* ctx);

  std::int32_t engine_rate() const { return engineRate_; }
  std::size_t frame_len() const { return frameLen_; }
  unsigned channels() const { return channels_; }
  std::size_t chunk_frames() const { return chunk_; }
  std::size_t chunk_fill() const { return chunkFill_; }
  bool resampled() const { return resampled_; }
  // Host samples between an input sample and its cleaned output.
  long latency() const { return latency_; }
  // FIFO reads that found nothing (zeros were given) and converted samples
  // that found the FIFO full (dropped): both 0 unless P or the FIFO's size is
  // wrong, which would shift the output against the input.
  std::size_t underruns() const { return underruns_; }
  std::size_t overruns() const { return overruns_; }

 private:
  bool measure(double hostRate);
  std::size_t frame_start(std::size_t warmFrames, std::size_t consumed, double& startIndex) const;
  bool renew_converters(double hostRate);
  void drop_engine_samples(std::size_t count);
  void process_chunk(FrameFn fn, void* ctx);
  void push(const float* src, std::size_t frames);
  void pop(float* dst, std::size_t frames);

  std::int32_t engineRate_ = 0;
  unsigned channels_ = 0;
  std::size_t frameLen_ = 0;  // engine samples per frame
  std::size_t chunk_ = 0;     // host frames per chunk
  bool resampled_ = false;
  bool dirty_ = false;  // has taken samples since the last reset
  double hostRate_ = 0;
  long latency_ = 0;

  // Found by measure() for resampled routes.
  std::size_t priming_ = 0;     // P, host frames
  std::size_t fifoFrames_ = 0;  // FIFO capacity
  std::size_t engineCap_ = 0;   // engine-rate frames awaiting a full frame, at most
  std::size_t burstCap_ = 0;    // one converter call's output, at most

  Resampler down_;
  Resampler up_;
  std::unique_ptr<float[]> chunkBuf_;  // chunk_ frames
  std::unique_ptr<float[]> engineIn_;  // engineCap_ frames
  std::unique_ptr<float[]> frameOut_;  // frameLen_ frames
  std::unique_ptr<float[]> upOut_;     // burstCap_ frames
  std::unique_ptr<float[]> fifo_;      // fifoFrames_ frames, a ring
  std::size_t chunkFill_ = 0;
  std::size_t engineFill_ = 0;
  std::size_t fifoRead_ = 0;
  std::size_t fifoLevel_ = 0;
  std::size_t underruns_ = 0;
  std::size_t overruns_ = 0;
  bool discard_ = false;      // warm-up: the converters' output is dropped
  std::size_t consumed_ = 0;  // engine samples the warm-up's frames took
  std::size_t skip_ = 0;      // engine samples still to drop before the first frame
};

}  // namespace vocrel::stream
