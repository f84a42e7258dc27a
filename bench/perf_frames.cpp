// Frame-cost driver of bench/perf.sh: runs one subject over a number of 10 ms
// frames of the same noisy test signal and prints the nanoseconds per frame.
// Instruction counts come from running it under callgrind (x86-64, with the
// collection toggled on the subject's per-frame entry) or under qemu-arm.
//
// Subjects: mode0 / mode1 (this engine, Vocrel_RNR_Apply), fftpair (the
// 1024-point forward and normalised inverse real-frame transforms as the
// 48 kHz frame runs them), and when built beside them the open suppressors
// speex (speex_preprocess_run, denoise only, one state per channel) and
// webrtc (the audio processing module with only its noise suppressor on).
//
// Usage: perf_frames SUBJECT RATE CHANNELS FRAMES [REPEATS]
// With REPEATS > 1 the frames run that many times and the median time of
// the repeats is printed (one line: "ns_per_frame <value>").
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsp/block_fft.h"
#include "vocrel_rnr.h"

#ifdef VOCREL_PERF_SPEEX
#include <speex/speex_preprocess.h>
#endif
#ifdef VOCREL_PERF_WEBRTC
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>
#endif

namespace {

using Samples = std::vector<std::int16_t>;

constexpr std::size_t kSignalFrames = 100;

// Pink-ish noise at -50 dBFS with a harmonic tone (160 Hz and overtones) in
// every other half second: a voiced stand-in over steady noise. The tone is
// one period of a table (160 Hz divides every rate), so that making the
// signal costs little next to the frames, even under emulation.
Samples test_signal(int rate, std::size_t samples, std::uint32_t seed) {
  const int period = rate / 160;
  std::vector<double> tone(static_cast<std::size_t>(period));
  for (int i = 0; i < period; ++i) {
    for (int h = 1; h <= 12 && 160 * h < rate / 2; ++h) {
      tone[static_cast<std::size_t>(i)] += 3000.0 / h * std::sin(2 * M_PI * h * i / period);
    }
  }
  Samples out(samples);
  const double gain = 32768.0 * std::pow(10.0, -50.0 / 20.0) / 0.2;
  double p0 = 0, p1 = 0;
  for (std::size_t i = 0; i < samples; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const double w = static_cast<double>(static_cast<std::int32_t>(seed)) / 2147483648.0;
    p0 = 0.997 * p0 + 0.03 * w;
    p1 = 0.9 * p1 + 0.3 * w;
    double v = (p0 + p1 + 0.2 * w) * gain;
    if ((i / static_cast<std::size_t>(rate / 2)) % 2 == 1) v += tone[i % tone.size()];
    out[i] = static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
  }
  return out;
}

// A subject processes frame f of every channel (samples n per channel).
class Subject {
 public:
  virtual ~Subject() = default;
  virtual bool ok() const = 0;
  virtual void frame(const std::int16_t* in0, const std::int16_t* in1, std::int16_t* out0,
                     std::int16_t* out1) = 0;
};

class Engine final : public Subject {
 public:
  Engine(int rate, int channels, int mode) : block_(VOCREL_RNR_MEM_SIZE / 8 + 1), n_(rate / 100) {
    Vocrel_RNR_Params p =
        mode == 0 ? g_Vocrel_RNR_Params_Flr_48k_MONO : g_Vocrel_RNR_Params_Env_8k_MONO;
    p.sampleRate = static_cast<std::uint32_t>(rate);
    p.channels = static_cast<std::uint32_t>(channels);
    if (Vocrel_RNR_Init(&handle_, block_.data(), VOCREL_RNR_MEM_SIZE, &p) != 0) handle_ = nullptr;
  }
  bool ok() const override { return handle_ != nullptr; }
  void frame(const std::int16_t* in0, const std::int16_t* in1, std::int16_t* out0,
             std::int16_t* out1) override {
    const Vocrel_RNR_FrameIo io{in0, in1, static_cast<std::uint32_t>(n_), out0, out1};
    Vocrel_RNR_Apply(handle_, &io, nullptr);
  }

 private:
  std::vector<std::uint64_t> block_;
  int n_;
  void* handle_ = nullptr;
};

// The two 1024-point transforms of a 48 kHz frame: forward over a real frame
// (480 samples and zeros), normalised inverse back.
__attribute__((noinline)) void fft_pair(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t* a,
                                        std::int32_t* b) {
  Vocrel_FNR_FFT(1024, a, b, spec, 32767, nullptr);
  Vocrel_FNR_IFFT(1024, b, a, spec);
}

class FftPair final : public Subject {
 public:
  FftPair() : a_(2048), b_(2048) {
    std::int32_t size = 0;
    Vocrel_FFTGetBufSize_C_SC32(10, &size);
    setup_.assign(static_cast<std::size_t>(size) / 8 + 1, 0);
    spec_ = reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(setup_.data());
    Vocrel_FFTInit_C_SC32(spec_, 10);
  }
  bool ok() const override { return true; }
  void frame(const std::int16_t* in0, const std::int16_t*, std::int16_t* out0,
             std::int16_t*) override {
    std::fill(a_.begin(), a_.end(), 0);
    for (int i = 0; i < 480; ++i) a_[static_cast<std::size_t>(2 * i)] = in0[i];
    fft_pair(spec_, a_.data(), b_.data());
    for (int i = 0; i < 480; ++i)
      out0[i] = static_cast<std::int16_t>(a_[static_cast<std::size_t>(2 * i)]);
  }

 private:
  std::vector<std::uint64_t> setup_;
  Vocrel_FFTSpec_C_SC32* spec_ = nullptr;
  std::vector<std::int32_t> a_, b_;
};

#ifdef VOCREL_PERF_SPEEX
class Speex final : public Subject {
 public:
  Speex(int rate, int channels) : n_(rate / 100) {
    for (int c = 0; c < channels; ++c) {
      SpeexPreprocessState* st = speex_preprocess_state_init(n_, rate);
      int on = 1, off = 0;
      speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DENOISE, &on);
      speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_AGC, &off);
      speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_VAD, &off);
      speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DEREVERB, &off);
      st_.push_back(st);
    }
  }
  ~Speex() override {
    for (auto* st : st_) speex_preprocess_state_destroy(st);
  }
  bool ok() const override { return !st_.empty() && st_[0] != nullptr; }
  void frame(const std::int16_t* in0, const std::int16_t* in1, std::int16_t* out0,
             std::int16_t* out1) override {
    std::memcpy(out0, in0, sizeof(std::int16_t) * static_cast<std::size_t>(n_));
    speex_preprocess_run(st_[0], out0);
    if (st_.size() > 1) {
      std::memcpy(out1, in1, sizeof(std::int16_t) * static_cast<std::size_t>(n_));
      speex_preprocess_run(st_[1], out1);
    }
  }

 private:
  int n_;
  std::vector<SpeexPreprocessState*> st_;
};
#endif

#ifdef VOCREL_PERF_WEBRTC
class Webrtc final : public Subject {
 public:
  Webrtc(int rate, int channels) : apm_(webrtc::AudioProcessing::Create()), channels_(channels) {
    apm_->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh);
    apm_->noise_suppression()->Enable(true);
    frame_.sample_rate_hz_ = rate;
    frame_.num_channels_ = static_cast<std::size_t>(channels);
    frame_.samples_per_channel_ = static_cast<std::size_t>(rate / 100);
  }
  ~Webrtc() override { delete apm_; }
  bool ok() const override { return apm_ != nullptr; }
  void frame(const std::int16_t* in0, const std::int16_t* in1, std::int16_t* out0,
             std::int16_t* out1) override {
    const std::size_t n = frame_.samples_per_channel_;
    for (std::size_t i = 0; i < n; ++i) {
      frame_.data_[i * channels_] = in0[i];
      if (channels_ > 1) frame_.data_[i * 2 + 1] = in1[i];
    }
    apm_->ProcessStream(&frame_);
    for (std::size_t i = 0; i < n; ++i) {
      out0[i] = frame_.data_[i * channels_];
      if (channels_ > 1) out1[i] = frame_.data_[i * 2 + 1];
    }
  }

 private:
  webrtc::AudioProcessing* apm_;
  std::size_t channels_;
  webrtc::AudioFrame frame_;
};
#endif

Subject* make_subject(const std::string& name, int rate, int channels) {
  if (name == "mode0") return new Engine(rate, channels, 0);
  if (name == "mode1") return new Engine(rate, channels, 1);
  if (name == "fftpair") return new FftPair();
#ifdef VOCREL_PERF_SPEEX
  if (name == "speex") return new Speex(rate, channels);
#endif
#ifdef VOCREL_PERF_WEBRTC
  if (name == "webrtc") return new Webrtc(rate, channels);
#endif
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s SUBJECT RATE CHANNELS FRAMES [REPEATS]\n", argv[0]);
    return 2;
  }
  const std::string name = argv[1];
  const int rate = std::atoi(argv[2]);
  const int channels = std::atoi(argv[3]);
  const int frames = std::atoi(argv[4]);
  const int repeats = argc > 5 ? std::atoi(argv[5]) : 1;
  Subject* s = make_subject(name, name == "fftpair" ? 48000 : rate, channels);
  if (s == nullptr || !s->ok() || frames <= 0 || channels < 1 || channels > 2) {
    std::fprintf(stderr, "cannot run %s at %d Hz, %d channel(s)\n", name.c_str(), rate, channels);
    delete s;
    return 1;
  }
  const std::size_t n = static_cast<std::size_t>(name == "fftpair" ? 480 : rate / 100);
  // One fixed second of signal, looped, so that the work outside the frames
  // does not depend on the frame count (the armhf count takes differences).
  const std::size_t total = n * kSignalFrames;
  const Samples x0 = test_signal(rate, total, 777);
  const Samples x1 = test_signal(rate, total, 4242);
  Samples y0(n), y1(n);
  std::vector<double> ns;
  for (int r = 0; r < repeats; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) {
      const std::size_t at = static_cast<std::size_t>(f) % kSignalFrames * n;
      s->frame(&x0[at], &x1[at], y0.data(), y1.data());
    }
    const auto t1 = std::chrono::steady_clock::now();
    ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / frames);
  }
  std::sort(ns.begin(), ns.end());
  std::printf("ns_per_frame %.0f\n", ns[ns.size() / 2]);
  delete s;
  return 0;
}
