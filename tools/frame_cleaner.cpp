#include "frame_cleaner.h"

#include <algorithm>

namespace vocrel::tool {

std::int32_t FrameCleaner::init(const Vocrel_RNR_Params& params, bool aligned, bool autoThreshold,
                                bool silenceHold) {
  Vocrel_RNR_StreamCfg stream = {params.sampleRate, params.channels, params.mode};
  Vocrel_RNR_MemInfo info{};
  std::int32_t status = Vocrel_RNR_GetSize(&info, &stream);
  if (status != VOCREL_RNR_OK) return status;
  mem_.assign(info.memSize, 0);
  status = Vocrel_RNR_Init(&handle_, mem_.data(), info.memSize, &params);
  if (status != VOCREL_RNR_OK) return status;
  const std::uint32_t flags = (autoThreshold ? VOCREL_RNR_FEED_AUTO_THR : 0u) |
                              (silenceHold ? VOCREL_RNR_FEED_SILENCE_HOLD : 0u);
  status = Vocrel_RNR_FeedInit(&feed_, handle_, flags);
  if (status != VOCREL_RNR_OK) return status;
  spare_.assign(silenceHold ? VOCREL_RNR_FEED_SPARE_SIZE : 0, 0);
  frameLen_ = info.inFrameLen;
  channels_ = params.channels;
  aligned_ = aligned;
  pending_.assign(frameLen_ * channels_, 0);
  for (int c = 0; c < channels_; ++c) {
    in_[c].assign(frameLen_, 0);
    outCh_[c].assign(frameLen_, 0);
  }
  return VOCREL_RNR_OK;
}

// Cleans the pending frame and appends the part of its output that falls in
// the output window [skip, limit) of the engine's output stream.
std::int32_t FrameCleaner::run_frame(std::vector<std::int16_t>& out) {
  for (std::size_t i = 0; i < frameLen_; ++i)
    for (int c = 0; c < channels_; ++c) in_[c][i] = pending_[i * channels_ + c];
  Vocrel_RNR_FrameIo io = {in_[0].data(), channels_ == 2 ? in_[1].data() : nullptr,
                           static_cast<std::uint32_t>(frameLen_), outCh_[0].data(),
                           channels_ == 2 ? outCh_[1].data() : nullptr};
  std::int32_t db = 0;
  const std::int32_t status =
      Vocrel_RNR_FeedFrame(&feed_, handle_, spare_.empty() ? nullptr : spare_.data(), &io, &db);
  if (status < 0) return status;
  if (status == 1) thrChanges_.push_back({engineFrames_, db});
  ++engineFrames_;
  pendingFrames_ = 0;

  const std::uint64_t skip = aligned_ ? frameLen_ : 0;
  for (std::size_t i = 0; i < frameLen_; ++i) {
    const std::uint64_t k = producedFrames_ + i;
    if (k < skip || k >= limit_) continue;
    for (int c = 0; c < channels_; ++c) out.push_back(outCh_[c][i]);
  }
  producedFrames_ += frameLen_;
  return VOCREL_RNR_OK;
}

std::int32_t FrameCleaner::push(const std::int16_t* interleaved, std::size_t frames,
                                std::vector<std::int16_t>& out) {
  inputFrames_ += frames;
  while (frames > 0) {
    const std::size_t take = std::min(frames, frameLen_ - pendingFrames_);
    std::copy(interleaved, interleaved + take * channels_,
              pending_.begin() + static_cast<std::ptrdiff_t>(pendingFrames_ * channels_));
    pendingFrames_ += take;
    interleaved += take * channels_;
    frames -= take;
    if (pendingFrames_ == frameLen_) {
      const std::int32_t status = run_frame(out);
      if (status != VOCREL_RNR_OK) return status;
    }
  }
  return VOCREL_RNR_OK;
}

std::int32_t FrameCleaner::finish(std::vector<std::int16_t>& out) {
  const std::uint64_t skip = aligned_ ? frameLen_ : 0;
  if (pendingFrames_ > 0) {
    std::fill(pending_.begin() + static_cast<std::ptrdiff_t>(pendingFrames_ * channels_),
              pending_.end(), 0);
    if (aligned_) limit_ = skip + inputFrames_;
    const std::int32_t status = run_frame(out);
    if (status != VOCREL_RNR_OK) return status;
  }
  if (!aligned_) return VOCREL_RNR_OK;
  limit_ = skip + inputFrames_;
  std::fill(pending_.begin(), pending_.end(), 0);
  while (producedFrames_ < limit_) {
    const std::int32_t status = run_frame(out);
    if (status != VOCREL_RNR_OK) return status;
  }
  return VOCREL_RNR_OK;
}

}  // namespace vocrel::tool
