// WebRTC's noise suppressor (audio processing module, suppression level
// moderate by default; "high" or "veryhigh" as the fourth argument).
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <cstring>

extern "C" {
#include "driver_common.h"
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const int rate = atoi(argv[1]);
  long n = 0;
  int16_t* x = read_raw(argv[2], &n);
  if (!x) return 1;
  webrtc::AudioProcessing* apm = webrtc::AudioProcessing::Create();
  auto level = webrtc::NoiseSuppression::kModerate;
  if (argc > 4 && !strcmp(argv[4], "high")) level = webrtc::NoiseSuppression::kHigh;
  if (argc > 4 && !strcmp(argv[4], "veryhigh")) level = webrtc::NoiseSuppression::kVeryHigh;
  apm->noise_suppression()->set_level(level);
  apm->noise_suppression()->Enable(true);
  const long F = rate / 100, frames = (n + F - 1) / F;
  webrtc::AudioFrame frame;
  double t = 0;
  for (long k = 0; k < frames; ++k) {
    frame.sample_rate_hz_ = rate;
    frame.num_channels_ = 1;
    frame.samples_per_channel_ = static_cast<size_t>(F);
    std::memcpy(frame.data_, x + k * F, static_cast<size_t>(F) * 2);
    const double t0 = now_ns();
    if (apm->ProcessStream(&frame) != 0) return 1;
    t += now_ns() - t0;
    std::memcpy(x + k * F, frame.data_, static_cast<size_t>(F) * 2);
  }
  if (write_raw(argv[3], x, n) != 0) return 1;
  printf("frames=%ld ns_per_frame=%.0f\n", frames, t / static_cast<double>(frames));
  delete apm;
  return 0;
}
