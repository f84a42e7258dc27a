#include "rate_route.h"

#include <soxr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace vocrel::stream {

namespace {

// Host frames per chunk on a resampled route: small enough to add little
// delay, large enough to keep the converter calls cheap.
constexpr std::size_t kResampledChunk = 64;

// DFT size of libsoxr's convolution stages (2^8 points).
constexpr unsigned kLog2DftSize = 8;

// Largest output of one converter call that create() accepts (frames).
constexpr std::size_t kBurstLimit = 1u << 15;

// Silence run through the converters to find the priming, in seconds. The
// converters' output pattern repeats well within it.
constexpr double kMeasureSeconds = 4.0;

// Silence a fresh route's converters run first, in seconds: past libsoxr's
// buffer growth, which ends within a few tenths of a second.
constexpr double kWarmUpSeconds = 1.0;

soxr_t as_soxr(void* p) { return static_cast<soxr_t>(p); }

std::size_t warm_up_chunks(double hostRate, std::size_t chunk) {
  return static_cast<std::size_t>(kWarmUpSeconds * hostRate) / chunk + 1;
}

}  // namespace

// ---- Resampler -----------------------------------------------------------------

Resampler::~Resampler() { soxr_delete(as_soxr(soxr_)); }

bool Resampler::create(double inRate, double outRate, unsigned channels) {
  soxr_delete(as_soxr(soxr_));
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  // One thread; small DFT blocks keep the converter's buffering (and so the
  // plugin's latency) low.
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  runtime.log2_min_dft_size = kLog2DftSize;
  runtime.log2_large_dft_size = kLog2DftSize;
  soxr_error_t error = nullptr;
  soxr_ = soxr_create(inRate, outRate, channels, &error, &io, &quality, &runtime);
  if (error != nullptr) {
    soxr_delete(as_soxr(soxr_));
    soxr_ = nullptr;
  }
  return soxr_ != nullptr;
}

std::size_t Resampler::process(const float* in, std::size_t frames, float* out,
                               std::size_t capacity) {
  if (soxr_ == nullptr) return 0;
  std::size_t inDone = 0;
  std::size_t outDone = 0;
  soxr_process(as_soxr(soxr_), in, frames, &inDone, out, capacity, &outDone);
  return outDone;
}

// ---- Route ----------------------------------------------------------------------

bool Route::create(double hostRate, std::int32_t engineRate, unsigned channels) {
  hostRate_ = hostRate;
  engineRate_ = engineRate;
  channels_ = channels;
  frameLen_ = static_cast<std::size_t>(engineRate / 100);
  resampled_ = hostRate != static_cast<double>(engineRate);
  if (!resampled_) {
    // One chunk is one frame: the frame's N samples leave while the next N
    // arrive, so the FIFO holds N zeros at the start and never more than N.
    // The engine delays by one more frame: 2N in all.
    chunk_ = frameLen_;
    priming_ = frameLen_;
    fifoFrames_ = 2 * frameLen_;
    engineCap_ = 0;
    burstCap_ = 0;
    latency_ = static_cast<long>(2 * frameLen_);
  } else {
    chunk_ = kResampledChunk;
    if (!measure(hostRate)) return false;
  }
  chunkBuf_ = std::make_unique<float[]>(chunk_ * channels);
  engineIn_ = std::make_unique<float[]>(std::max<std::size_t>(engineCap_, 1) * channels);
  frameOut_ = std::make_unique<float[]>(frameLen_ * channels);
  upOut_ = std::make_unique<float[]>(std::max<std::size_t>(burstCap_, 1) * channels);
  fifo_ = std::make_unique<float[]>(fifoFrames_ * channels);
  dirty_ = true;
  return reset();
}

// Where the first frame after the warm-up starts. The warm-up's W host frames
// end at engine time T0 = W * engineRate / hostRate, where the host's first
// real sample lands; the engine's frames are cut from round(T0) on, so that its
// first frame holds the signal's start and not the tail of the warm-up (the
// start-up rules of both paths learn from the first frames). Returns how many
// engine samples to drop after the `consumed` ones the warm-up's frames took.
std::size_t Route::frame_start(std::size_t warmFrames, std::size_t consumed,
                               double& startIndex) const {
  startIndex = std::round(static_cast<double>(warmFrames) * engineRate_ / hostRate_);
  return startIndex > static_cast<double>(consumed)
             ? static_cast<std::size_t>(startIndex) - consumed
             : 0;
}

// Runs a mono pair of the route's converters on silence with the same call
// pattern as renew_converters() and then process_chunk(), and finds: the
// priming P that keeps every FIFO read satisfied, the FIFO's highest level,
// the largest buffers needed and the latency. libsoxr's output counts depend
// on the input counts only, never on the values.
bool Route::measure(double hostRate) {
  Resampler down;
  Resampler up;
  if (!down.create(hostRate, engineRate_, 1) || !up.create(engineRate_, hostRate, 1)) return false;
  std::vector<float> silence(std::max(chunk_, frameLen_), 0.0f);
  std::vector<float> burst(kBurstLimit);
  const std::size_t warm = warm_up_chunks(hostRate, chunk_);
  const auto chunks = warm + static_cast<std::size_t>(kMeasureSeconds * hostRate) / chunk_;
  long long warmOut = 0;     // frames the up-converter gave during the warm-up
  std::size_t consumed = 0;  // engine samples the warm-up's frames took
  long long pushed = 0;      // frames the up-converter gave after it
  long long popped = 0;      // frames the host has taken
  long long priming = 0;
  long long highest = 0;  // FIFO level above P after a chunk
  std::size_t pending = 0;
  std::size_t skip = 0;
  std::size_t maxPending = 0;
  std::size_t maxBurst = 0;
  double startIndex = 0;
  for (std::size_t j = 0; j < chunks; ++j) {
    const bool warming = j < warm;
    if (j == warm) {
      skip = frame_start(warm * chunk_, consumed, startIndex);
      const std::size_t now = std::min(skip, pending);
      pending -= now;
      skip -= now;
    }
    if (!warming) {
      popped += static_cast<long long>(chunk_);  // taken while chunk j fills
      priming = std::max(priming, popped - pushed);
    }
    std::size_t d = down.process(silence.data(), chunk_, burst.data(), kBurstLimit);
    maxBurst = std::max(maxBurst, d);
    const std::size_t dropped = std::min(skip, d);
    skip -= dropped;
    pending += d - dropped;
    maxPending = std::max(maxPending, pending);
    while (pending >= frameLen_) {
      pending -= frameLen_;
      if (warming) consumed += frameLen_;
      const std::size_t u = up.process(silence.data(), frameLen_, burst.data(), kBurstLimit);
      maxBurst = std::max(maxBurst, u);
      (warming ? warmOut : pushed) += static_cast<long long>(u);
    }
    if (!warming) highest = std::max(highest, pushed - popped);
  }
  if (maxBurst >= kBurstLimit) return false;
  priming_ = static_cast<std::size_t>(priming);
  fifoFrames_ = priming_ + static_cast<std::size_t>(std::max(highest, 0LL)) + chunk_;
  // libsoxr takes only as much input as the output room can hold once
  // converted, so each buffer also keeps room for one whole call's output.
  const double ratio = hostRate / engineRate_;
  engineCap_ = maxPending + frameLen_ + static_cast<std::size_t>(std::ceil(chunk_ / ratio)) + 1;
  burstCap_ = maxBurst + static_cast<std::size_t>(std::ceil(frameLen_ * ratio)) + 1;
  // Output pop t (t >= P) is up-converter output warmOut + t - P, made from
  // engine output consumed + m, the cleaned engine input startIndex + m - N,
  // which was host input (startIndex + m - N) * hostRate / engineRate - W.
  // All the converters are time-aligned, so the delay t - (that time) is:
  const double delay = static_cast<double>(priming_) + static_cast<double>(warm * chunk_) -
                       static_cast<double>(warmOut) +
                       (static_cast<double>(consumed) - startIndex) * ratio +
                       static_cast<double>(frameLen_) * ratio;
  latency_ = std::lround(delay);
  return true;
}

namespace {
void silence_frame(void*, const Route& route, const float*, float* out) {
  std::fill_n(out, route.frame_len() * route.channels(), 0.0f);
}
}  // namespace

bool Route::renew_converters(double hostRate) {
  if (!down_.create(hostRate, engineRate_, channels_) ||
      !up_.create(engineRate_, hostRate, channels_))
    return false;
  engineFill_ = 0;
  skip_ = 0;
  consumed_ = 0;
  discard_ = true;
  std::fill_n(chunkBuf_.get(), chunk_ * channels_, 0.0f);
  const std::size_t warm = warm_up_chunks(hostRate, chunk_);
  for (std::size_t j = 0; j < warm; ++j) process_chunk(silence_frame, nullptr);
  discard_ = false;
  double startIndex = 0;
  skip_ = frame_start(warm * chunk_, consumed_, startIndex);
  const std::size_t now = std::min(skip_, engineFill_);
  drop_engine_samples(now);
  skip_ -= now;
  return true;
}

void Route::drop_engine_samples(std::size_t count) {
  engineFill_ -= count;
  std::memmove(engineIn_.get(), engineIn_.get() + count * channels_,
               engineFill_ * channels_ * sizeof(float));
}

bool Route::reset() {
  chunkFill_ = 0;
  underruns_ = 0;
  fifoRead_ = 0;
  fifoLevel_ = priming_;
  std::fill_n(fifo_.get(), fifoFrames_ * channels_, 0.0f);
  const bool ok = !resampled_ || !dirty_ || renew_converters(hostRate_);
  dirty_ = false;
  return ok;
}

void Route::feed(const float* in, float* out, std::size_t frames, FrameFn fn, void* ctx) {
  dirty_ = true;
  std::size_t done = 0;
  while (done < frames) {
    const std::size_t n = std::min(frames - done, chunk_ - chunkFill_);
    std::memcpy(chunkBuf_.get() + chunkFill_ * channels_, in + done * channels_,
                n * channels_ * sizeof(float));
    pop(out != nullptr ? out + done * channels_ : nullptr, n);
    chunkFill_ += n;
    done += n;
    if (chunkFill_ == chunk_) {
      process_chunk(fn, ctx);
      chunkFill_ = 0;
    }
  }
}

void Route::process_chunk(FrameFn fn, void* ctx) {
  if (!resampled_) {
    fn(ctx, *this, chunkBuf_.get(), frameOut_.get());
    push(frameOut_.get(), frameLen_);
    return;
  }
  const std::size_t before = engineFill_;
  engineFill_ += down_.process(chunkBuf_.get(), chunk_, engineIn_.get() + engineFill_ * channels_,
                               engineCap_ - engineFill_);
  if (skip_ != 0) {  // samples before the first frame of a fresh route
    const std::size_t dropped = std::min(skip_, engineFill_ - before);
    std::memmove(engineIn_.get() + before * channels_,
                 engineIn_.get() + (before + dropped) * channels_,
                 (engineFill_ - before - dropped) * channels_ * sizeof(float));
    engineFill_ -= dropped;
    skip_ -= dropped;
  }
  std::size_t used = 0;
  while (engineFill_ - used >= frameLen_) {
    fn(ctx, *this, engineIn_.get() + used * channels_, frameOut_.get());
    push(upOut_.get(), up_.process(frameOut_.get(), frameLen_, upOut_.get(), burstCap_));
    used += frameLen_;
  }
  if (discard_) consumed_ += used;
  drop_engine_samples(used);
}

void Route::push(const float* src, std::size_t frames) {
  if (discard_) return;
  for (std::size_t i = 0; i < frames && fifoLevel_ < fifoFrames_; ++i) {
    const std::size_t slot = (fifoRead_ + fifoLevel_) % fifoFrames_;
    std::memcpy(fifo_.get() + slot * channels_, src + i * channels_, channels_ * sizeof(float));
    ++fifoLevel_;
  }
}

void Route::pop(float* dst, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    if (fifoLevel_ == 0) {
      ++underruns_;
      if (dst != nullptr) std::fill_n(dst + i * channels_, channels_, 0.0f);
      continue;
    }
    if (dst != nullptr)
      std::memcpy(dst + i * channels_, fifo_.get() + fifoRead_ * channels_,
                  channels_ * sizeof(float));
    fifoRead_ = (fifoRead_ + 1) % fifoFrames_;
    --fifoLevel_;
  }
}

}  // namespace vocrel::stream
