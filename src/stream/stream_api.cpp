// The stream layer's C interface: a StreamCleaner and the output it has made
// ready, behind an opaque handle.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "stream_cleaner.h"
#include "vocrel_stream.h"

struct Vocrel_Stream {
  vocrel::stream::StreamCleaner cleaner;
  std::int32_t hostRate = 0;
  std::vector<std::int16_t> ready;  // interleaved output not yet read
  std::size_t readPos = 0;          // samples of `ready` already handed out
  bool finished = false;
};

namespace {

// Sample rates a stream may have: what the converters take.
constexpr std::int32_t kMinRate = 1000;
constexpr std::int32_t kMaxRate = 768000;

// Drops what has been read once it is most of the buffer.
void compact(Vocrel_Stream& s) {
  if (s.readPos == 0 || s.readPos < s.ready.size() / 2) return;
  s.ready.erase(s.ready.begin(), s.ready.begin() + static_cast<std::ptrdiff_t>(s.readPos));
  s.readPos = 0;
}

}  // namespace

extern "C" {

std::int32_t Vocrel_StreamCreate(Vocrel_Stream** stream, std::int32_t hostRate,
                                 const Vocrel_RNR_Params* params, std::uint32_t flags) {
  if (stream == nullptr || params == nullptr) return VOCREL_STREAM_E_NULL;
  if (hostRate < kMinRate || hostRate > kMaxRate) return VOCREL_STREAM_E_RATE;
  if (params->channels < 1 || params->channels > VOCREL_STREAM_MAX_CHANNELS)
    return VOCREL_RNR_E_CHANNELS;
  auto* s = new (std::nothrow) Vocrel_Stream;
  if (s == nullptr) return VOCREL_STREAM_E_MEMORY;
  vocrel::stream::StreamSettings settings;
  settings.aligned = (flags & VOCREL_STREAM_RAW) == 0;
  settings.autoThreshold = (flags & VOCREL_STREAM_AUTO_THR) != 0;
  settings.silenceHold = (flags & VOCREL_STREAM_SILENCE_HOLD) != 0;
  std::int32_t status = VOCREL_RNR_OK;
  try {
    status = s->cleaner.init(*params, hostRate, settings);
  } catch (const std::bad_alloc&) {
    status = VOCREL_STREAM_E_MEMORY;
  }
  if (status == vocrel::stream::StreamCleaner::kNoConverter) status = VOCREL_STREAM_E_CONVERT;
  if (status != VOCREL_RNR_OK) {
    delete s;
    return status;
  }
  s->hostRate = hostRate;
  *stream = s;
  return VOCREL_RNR_OK;
}

std::int32_t Vocrel_StreamPush(Vocrel_Stream* stream, const std::int16_t* in, std::size_t frames) {
  if (stream == nullptr) return VOCREL_STREAM_E_NULL;
  if (stream->finished) return VOCREL_STREAM_E_FINISHED;
  compact(*stream);
  try {
    return stream->cleaner.push(in, frames, stream->ready);
  } catch (const std::bad_alloc&) {
    return VOCREL_STREAM_E_MEMORY;
  }
}

std::int32_t Vocrel_StreamFinish(Vocrel_Stream* stream) {
  if (stream == nullptr) return VOCREL_STREAM_E_NULL;
  if (stream->finished) return VOCREL_STREAM_E_FINISHED;
  stream->finished = true;
  try {
    return stream->cleaner.finish(stream->ready);
  } catch (const std::bad_alloc&) {
    return VOCREL_STREAM_E_MEMORY;
  }
}

std::int32_t Vocrel_StreamRead(Vocrel_Stream* stream, std::int16_t* out, std::size_t capacity,
                               std::size_t* frames) {
  if (stream == nullptr || frames == nullptr || (out == nullptr && capacity > 0))
    return VOCREL_STREAM_E_NULL;
  const auto channels = static_cast<std::size_t>(stream->cleaner.channels());
  const std::size_t available = (stream->ready.size() - stream->readPos) / channels;
  const std::size_t n = std::min(available, capacity);
  if (n > 0) {
    std::memcpy(out, stream->ready.data() + stream->readPos, n * channels * sizeof(std::int16_t));
    stream->readPos += n * channels;
  }
  *frames = n;
  return VOCREL_RNR_OK;
}

std::int32_t Vocrel_StreamSetParams(Vocrel_Stream* stream, const Vocrel_RNR_Params* params,
                                    std::int32_t fixThreshold) {
  if (stream == nullptr || params == nullptr) return VOCREL_STREAM_E_NULL;
  return stream->cleaner.set_params(*params, fixThreshold != 0);
}

std::int32_t Vocrel_StreamGetParams(const Vocrel_Stream* stream, Vocrel_RNR_Params* params) {
  if (stream == nullptr || params == nullptr) return VOCREL_STREAM_E_NULL;
  return stream->cleaner.cleaner().get_params(*params);
}

std::int32_t Vocrel_StreamGetInfo(const Vocrel_Stream* stream, Vocrel_StreamInfo* info) {
  if (stream == nullptr || info == nullptr) return VOCREL_STREAM_E_NULL;
  const vocrel::stream::FrameCleaner& fc = stream->cleaner.cleaner();
  *info = Vocrel_StreamInfo{};
  info->hostRate = stream->hostRate;
  info->engineRate = stream->cleaner.engine_rate();
  info->channels = fc.channels();
  info->latency = static_cast<std::int32_t>(stream->cleaner.latency());
  info->engineFrames = fc.engine_frames();
  info->silentFrames = fc.silent_frames();
  info->thrChanges = static_cast<std::uint32_t>(fc.threshold_changes().size());
  return VOCREL_RNR_OK;
}

std::int32_t Vocrel_StreamThresholdChange(const Vocrel_Stream* stream, std::uint32_t index,
                                          std::uint64_t* frame, std::int32_t* thrDb) {
  if (stream == nullptr || frame == nullptr || thrDb == nullptr) return VOCREL_STREAM_E_NULL;
  const auto& changes = stream->cleaner.cleaner().threshold_changes();
  if (index >= changes.size()) return VOCREL_STREAM_E_INDEX;
  *frame = changes[index].frame;
  *thrDb = changes[index].db;
  return VOCREL_RNR_OK;
}

void Vocrel_StreamDestroy(Vocrel_Stream* stream) { delete stream; }

}  // extern "C"
