#include "stream_cleaner.h"

#include <algorithm>

namespace vocrel::stream {

std::int32_t StreamCleaner::init(Vocrel_RNR_Params params, int hostRate,
                                 const StreamSettings& settings) {
  engineRate_ = engine_rate_for(hostRate, params.mode);
  converted_ = engineRate_ != hostRate;
  aligned_ = settings.aligned;
  params.sampleRate = engineRate_;
  // A converted stream is aligned here, after the route; the frame cleaner
  // then passes the engine's frames on as they come.
  status_ = cleaner_.init(params, aligned_ && !converted_,
                          settings.autoThreshold && params.mode == 0, settings.silenceHold);
  if (status_ != VOCREL_RNR_OK || !converted_) return status_;
  const auto channels = static_cast<std::size_t>(params.channels);
  pcm_.resize(cleaner_.frame_len() * channels);
  if (!route_.create(hostRate, engineRate_, static_cast<unsigned>(channels))) return kNoConverter;
  toSkip_ = aligned_ ? route_.latency() : 0;
  return VOCREL_RNR_OK;
}

long StreamCleaner::latency() const {
  return converted_ ? route_.latency() : static_cast<long>(cleaner_.frame_len());
}

std::int32_t StreamCleaner::push(const std::int16_t* x, std::size_t frames,
                                 std::vector<std::int16_t>& out) {
  const auto channels = static_cast<std::size_t>(cleaner_.channels());
  if (!converted_) {
    if (x != nullptr) return cleaner_.push(x, frames, out);
    const std::vector<std::int16_t> silence(frames * channels, 0);
    return cleaner_.push(silence.data(), frames, out);
  }
  in_.assign(frames * channels, 0.0f);
  if (x != nullptr)
    for (std::size_t i = 0; i < in_.size(); ++i) in_[i] = from_pcm(x[i]);
  fromRoute_.resize(in_.size());
  route_.feed(in_.data(), fromRoute_.data(), frames, frame, this);
  const std::size_t skip = std::min<std::size_t>(frames, static_cast<std::size_t>(toSkip_));
  toSkip_ -= static_cast<long>(skip);
  for (std::size_t i = skip * channels; i < fromRoute_.size(); ++i)
    out.push_back(to_pcm(fromRoute_[i]));
  return status_;
}

std::int32_t StreamCleaner::finish(std::vector<std::int16_t>& out) {
  if (!converted_) return cleaner_.finish(out);
  if (!aligned_) return status_;
  return push(nullptr, static_cast<std::size_t>(route_.latency()), out);
}

std::int32_t StreamCleaner::set_params(const Vocrel_RNR_Params& tunables, bool fixThreshold) {
  return cleaner_.set_params(tunables, fixThreshold);
}

void StreamCleaner::frame(void* ctx, const Route& route, const float* in, float* out) {
  auto* self = static_cast<StreamCleaner*>(ctx);
  const std::size_t n = route.frame_len() * route.channels();
  for (std::size_t i = 0; i < n; ++i) self->pcm_[i] = to_pcm(in[i]);
  self->cleaned_.clear();
  if (self->status_ == VOCREL_RNR_OK)
    self->status_ = self->cleaner_.push(self->pcm_.data(), route.frame_len(), self->cleaned_);
  self->cleaned_.resize(n, 0);
  for (std::size_t i = 0; i < n; ++i) out[i] = from_pcm(self->cleaned_[i]);
}

}  // namespace vocrel::stream
