// The C interface the page's worker calls: one frame cleaner (aligned output,
// the frame feed) fed float blocks, giving back 16-bit samples. Float input
// becomes 16-bit the way vocrel-clean reads float files, so that a decoded
// file gives the tool's samples exactly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "frame_cleaner.h"

namespace {

using vocrel::stream::FrameCleaner;

struct WebCleaner {
  FrameCleaner cleaner;
  std::vector<float> in;          // interleaved input block, written by the caller
  std::vector<std::int16_t> pcm;  // the block as 16-bit samples
  std::vector<std::int16_t> out;  // output of the last push or finish
  std::int32_t status = VOCREL_RNR_OK;
};

// Nearest 16-bit value of a float sample in full scale [-1, 1), rounded half
// to even and clamped, NaN as 0; returns 1 when it was clamped.
int to_pcm(float x, std::int16_t& s) {
  const float v = std::nearbyint(x * 32768.0f);
  s = std::isnan(v) ? 0 : static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
  return v >= -32768.0f && v <= 32767.0f ? 0 : 1;
}

}  // namespace

extern "C" {

// The engine rate a file of `rate` Hz is cleaned at in `mode`.
std::int32_t vw_engine_rate(double rate, std::int32_t mode) {
  return vocrel::stream::engine_rate_for(rate, mode);
}

int vw_max_channels() { return vocrel::stream::kMaxChannels; }

// The maximum reduction in dB a mode uses unless told otherwise.
std::int32_t vw_default_max_nr(std::int32_t mode) {
  return (mode == 1 ? g_Vocrel_RNR_Params_Env_8k_MONO : g_Vocrel_RNR_Params_Flr_48k_MONO).maxNr;
}

const char* vw_status_text(std::int32_t status) { return Vocrel_RNR_StatusText(status); }

// A cleaner for `channels` channels at an engine rate, taking blocks of up to
// blockFrames sample frames. maxNr and levelThrDb of 0 keep the mode's
// defaults; autoThreshold (mode 0) lets the threshold follow the noise floor.
// Returns null when memory runs out; otherwise vw_status tells whether the
// settings were taken.
WebCleaner* vw_create(std::int32_t rate, std::int32_t channels, std::int32_t mode,
                      std::int32_t maxNr, std::int32_t levelThrDb, int autoThreshold,
                      int silenceHold, std::int32_t blockFrames) {
  auto* w = new (std::nothrow) WebCleaner;
  if (w == nullptr) return nullptr;
  Vocrel_RNR_Params p =
      mode == 1 ? g_Vocrel_RNR_Params_Env_8k_MONO : g_Vocrel_RNR_Params_Flr_48k_MONO;
  if (maxNr != 0) p.maxNr = maxNr;
  if (levelThrDb != 0) p.levelThrDb = levelThrDb;
  p.sampleRate = rate;
  p.channels = channels;
  p.mode = mode;
  w->status = w->cleaner.init(p, true, autoThreshold != 0 && mode == 0, silenceHold != 0);
  if (w->status == VOCREL_RNR_OK) {
    const auto n = static_cast<std::size_t>(blockFrames) * static_cast<std::size_t>(channels);
    w->in.assign(n, 0.0f);
    w->pcm.assign(n, 0);
  }
  return w;
}

void vw_destroy(WebCleaner* w) { delete w; }

std::int32_t vw_status(const WebCleaner* w) { return w->status; }

// Where the caller writes the next block (interleaved floats).
float* vw_input(WebCleaner* w) { return w->in.data(); }

// Cleans the first `frames` sample frames of the input block. Returns the
// count of samples clamped when converting, or -1 on an engine failure
// (vw_status). The output is at vw_output, vw_output_len samples long.
int vw_push(WebCleaner* w, std::int32_t frames) {
  if (w->status != VOCREL_RNR_OK) return -1;
  const auto n =
      std::min(static_cast<std::size_t>(frames) * static_cast<std::size_t>(w->cleaner.channels()),
               w->in.size());
  int clipped = 0;
  for (std::size_t i = 0; i < n; ++i) clipped += to_pcm(w->in[i], w->pcm[i]);
  w->out.clear();
  w->status =
      w->cleaner.push(w->pcm.data(), n / static_cast<std::size_t>(w->cleaner.channels()), w->out);
  return w->status == VOCREL_RNR_OK ? clipped : -1;
}

// End of input: the last samples the engine holds go to vw_output.
std::int32_t vw_finish(WebCleaner* w) {
  w->out.clear();
  if (w->status == VOCREL_RNR_OK) w->status = w->cleaner.finish(w->out);
  return w->status;
}

const std::int16_t* vw_output(const WebCleaner* w) { return w->out.data(); }
std::int32_t vw_output_len(const WebCleaner* w) { return static_cast<std::int32_t>(w->out.size()); }

// Samples per channel per engine frame: the engine's delay, which the aligned
// output has already taken out.
std::int32_t vw_latency(const WebCleaner* w) {
  return static_cast<std::int32_t>(w->cleaner.frame_len());
}

// The automatic threshold's choices for channels 0 and 1: engine frame from
// which each acts and its level in dB.
std::int32_t vw_threshold_count(const WebCleaner* w) {
  return static_cast<std::int32_t>(w->cleaner.threshold_changes().size());
}
double vw_threshold_frame(const WebCleaner* w, std::int32_t i) {
  return static_cast<double>(w->cleaner.threshold_changes()[static_cast<std::size_t>(i)].frame);
}
std::int32_t vw_threshold_db(const WebCleaner* w, std::int32_t i) {
  return w->cleaner.threshold_changes()[static_cast<std::size_t>(i)].db;
}

// Engine frames of channels 0 and 1 taken as digital silence, and the runs
// over which the learnt noise was kept.
std::int32_t vw_silent_frames(const WebCleaner* w) {
  return static_cast<std::int32_t>(w->cleaner.silent_frames());
}
std::int32_t vw_silence_holds(const WebCleaner* w) {
  return static_cast<std::int32_t>(w->cleaner.silence_holds());
}

}  // extern "C"
