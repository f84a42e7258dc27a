#include "frame_cleaner.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace vocrel::stream {

std::int32_t engine_rate_for(double hostRate, std::int32_t mode) {
  static constexpr std::array<std::int32_t, 3> kRates = {8000, 16000, 48000};
  const std::size_t count = mode == 1 ? 2 : 3;
  std::int32_t best = kRates[0];
  for (std::size_t i = 1; i < count; ++i)
    if (std::fabs(hostRate - kRates[i]) <= std::fabs(hostRate - best)) best = kRates[i];
  return best;
}

std::int32_t FrameCleaner::init(const Vocrel_RNR_Params& params, bool aligned, bool autoThreshold,
                                bool silenceHold) {
  if (params.channels < 1 || params.channels > kMaxChannels) return VOCREL_RNR_E_CHANNELS;
  const std::uint32_t flags = (autoThreshold ? VOCREL_RNR_FEED_AUTO_THR : 0u) |
                              (silenceHold ? VOCREL_RNR_FEED_SILENCE_HOLD : 0u);
  parts_.clear();
  parts_.reserve(static_cast<std::size_t>(params.channels + 1) / 2);
  for (int first = 0; first < params.channels; first += 2) {
    Part& part = parts_.emplace_back();
    part.first = first;
    part.count = std::min(2, params.channels - first);
    Vocrel_RNR_Params p = params;
    p.channels = part.count;
    Vocrel_RNR_StreamCfg stream = {p.sampleRate, p.channels, p.mode};
    Vocrel_RNR_MemInfo info{};
    std::int32_t status = Vocrel_RNR_GetSize(&info, &stream);
    if (status != VOCREL_RNR_OK) return status;
    part.mem.assign(info.memSize, 0);
    status = Vocrel_RNR_Init(&part.handle, part.mem.data(), info.memSize, &p);
    if (status != VOCREL_RNR_OK) return status;
    status = Vocrel_RNR_FeedInit(&part.feed, part.handle, flags);
    if (status != VOCREL_RNR_OK) return status;
    part.spare.assign(silenceHold ? VOCREL_RNR_FEED_SPARE_SIZE : 0, 0);
    frameLen_ = info.inFrameLen;
  }
  channels_ = params.channels;
  aligned_ = aligned;
  pending_.assign(frameLen_ * static_cast<std::size_t>(channels_), 0);
  in_.assign(static_cast<std::size_t>(channels_), std::vector<std::int16_t>(frameLen_, 0));
  outCh_ = in_;
  return VOCREL_RNR_OK;
}

// Cleans the pending frame and appends the part of its output that falls in
// the output window [skip, limit) of the engine's output stream.
std::int32_t FrameCleaner::run_frame(std::vector<std::int16_t>& out) {
  const auto channels = static_cast<std::size_t>(channels_);
  for (std::size_t i = 0; i < frameLen_; ++i)
    for (std::size_t c = 0; c < channels; ++c) in_[c][i] = pending_[i * channels + c];
  for (Part& part : parts_) {
    const auto c0 = static_cast<std::size_t>(part.first);
    const bool pair = part.count == 2;
    Vocrel_RNR_FrameIo io = {in_[c0].data(), pair ? in_[c0 + 1].data() : nullptr,
                             static_cast<std::uint32_t>(frameLen_), outCh_[c0].data(),
                             pair ? outCh_[c0 + 1].data() : nullptr};
    std::int32_t db = 0;
    const std::int32_t status = Vocrel_RNR_FeedFrame(
        &part.feed, part.handle, part.spare.empty() ? nullptr : part.spare.data(), &io, &db);
    if (status < 0) return status;
    if (status == 1 && c0 == 0) thrChanges_.push_back({engineFrames_, db});
  }
  ++engineFrames_;
  pendingFrames_ = 0;

  const std::uint64_t skip = aligned_ ? frameLen_ : 0;
  for (std::size_t i = 0; i < frameLen_; ++i) {
    const std::uint64_t k = producedFrames_ + i;
    if (k < skip || k >= limit_) continue;
    for (std::size_t c = 0; c < channels; ++c) out.push_back(outCh_[c][i]);
  }
  producedFrames_ += frameLen_;
  return VOCREL_RNR_OK;
}

std::int32_t FrameCleaner::set_params(const Vocrel_RNR_Params& tunables, bool fixThreshold) {
  for (Part& part : parts_) {
    Vocrel_RNR_Params p{};
    std::int32_t status = Vocrel_RNR_GetParams(part.handle, &p);
    if (status != VOCREL_RNR_OK) return status;
    const bool automatic = (part.feed.flags & VOCREL_RNR_FEED_AUTO_THR) != 0;
    p.maxNr = tunables.maxNr;
    p.hpFilterOn = tunables.hpFilterOn;
    if (fixThreshold || !automatic) p.levelThrDb = tunables.levelThrDb;
    p.levelAdaptOff = tunables.levelAdaptOff;
    p.vadBandThr = tunables.vadBandThr;
    status = Vocrel_RNR_SetParams(part.handle, &p);
    if (status != VOCREL_RNR_OK) return status;  // the first instance refuses for all
    if (fixThreshold) part.feed.flags &= ~VOCREL_RNR_FEED_AUTO_THR;
  }
  return VOCREL_RNR_OK;
}

std::int32_t FrameCleaner::get_params(Vocrel_RNR_Params& params) const {
  if (parts_.empty()) return VOCREL_RNR_E_NULL_HANDLE;
  return Vocrel_RNR_GetParams(parts_[0].handle, &params);
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

}  // namespace vocrel::stream
