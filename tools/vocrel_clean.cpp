// vocrel-clean: cleans speech noise from audio files or a live raw PCM stream.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio_io.h"
#include "clean_options.h"
#include "status_text.h"
#include "stream_cleaner.h"
#include "vocrel_rnr.h"

#ifndef VOCREL_VERSION
#define VOCREL_VERSION "unknown"
#endif

using namespace vocrel::tool;
using vocrel::stream::FrameCleaner;
using vocrel::stream::kMaxChannels;
using vocrel::stream::StreamCleaner;

namespace {

constexpr std::size_t kFileChunkFrames = 4800;
constexpr double kProgressMinSeconds = 20.0;  // shorter files finish before it helps

int fail(const std::string& message) {
  std::fprintf(stderr, "vocrel-clean: %s\n", message.c_str());
  return 1;
}

std::string status_message(std::int32_t status) {
  std::string m =
      std::string(vocrel_status_text(status)) + " (status " + std::to_string(status) + ")";
  const std::string opt = option_for_status(status);
  if (!opt.empty()) m += "; check " + opt;
  return m;
}

// Percentage on stderr, only for long inputs on a terminal.
class Progress {
 public:
  Progress(bool enabled, long long total) : enabled_(enabled && total > 0), total_(total) {}
  void update(long long done) {
    if (!enabled_) return;
    const int pct = static_cast<int>(100 * done / total_);
    if (pct == last_) return;
    last_ = pct;
    std::fprintf(stderr, "\rvocrel-clean: %3d%%", pct);
  }
  void done() {
    if (enabled_ && last_ >= 0) std::fprintf(stderr, "\r\033[K");
  }

 private:
  bool enabled_;
  long long total_;
  int last_ = -1;
};

int print_version() {
  const Vocrel_RNR_Version* v = nullptr;
  if (Vocrel_RNR_GetVersion(&v) != VOCREL_RNR_OK) return fail("no version record");
  std::printf("vocrel-clean %s\nengine: %.64s (%.64s, %.64s)\n", VOCREL_VERSION, v->verText,
              v->buildTime, v->toolTag);
  return 0;
}

// The automatic threshold's choices: "level threshold auto: -29 dB, -26 dB
// from 5.80 s"; the first few changes, then their count.
void print_thresholds(const FrameCleaner& cleaner, int engineRate) {
  if (!cleaner.auto_threshold()) return;
  constexpr std::size_t kShown = 6;
  const auto& ch = cleaner.threshold_changes();
  std::string text;
  for (std::size_t i = 0; i < ch.size() && i < kShown; ++i) {
    char item[64];
    std::snprintf(item, sizeof item, i == 0 ? "%d dB" : ", %d dB from %.2f s", ch[i].db,
                  static_cast<double>(ch[i].frame) * cleaner.frame_len() / engineRate);
    text += item;
  }
  if (ch.size() > kShown) text += " (" + std::to_string(ch.size()) + " changes in all)";
  std::fprintf(stderr, "vocrel-clean: level threshold auto: %s\n",
               ch.empty() ? "unchanged" : text.c_str());
}

// Digital silence seen, and how often the learnt noise was kept over it.
void print_silence(const FrameCleaner& cleaner, int engineRate) {
  // Shorter stretches are the converters' own edges at converted rates.
  constexpr std::uint32_t kWorthTelling = 5;  // frames: 50 ms
  if (cleaner.silent_frames() < kWorthTelling) return;
  std::fprintf(stderr,
               "vocrel-clean: digital silence: %.2f s in all, learnt noise kept over %u run%s\n",
               static_cast<double>(cleaner.silent_frames()) * cleaner.frame_len() / engineRate,
               cleaner.silence_holds(), cleaner.silence_holds() == 1 ? "" : "s");
}

SampleFormat sample_format(const std::string& name) {
  if (name == "s16") return SampleFormat::S16;
  if (name == "s24") return SampleFormat::S24;
  if (name == "f32") return SampleFormat::F32;
  return SampleFormat::Same;
}

}  // namespace

int main(int argc, char** argv) {
  Options opts;
  std::string error;
  if (!parse_options(argc, argv, opts, error)) {
    std::fprintf(stderr, "vocrel-clean: %s\nTry 'vocrel-clean --help'.\n", error.c_str());
    return 2;
  }
  if (opts.help) {
    std::fputs(usage_text(), stdout);
    return 0;
  }
  if (opts.version) return print_version();
  install_signal_cleanup();

  const RawSpec rawSpec{opts.rate.value_or(0), opts.channels.value_or(0), opts.rawIn};
  std::unique_ptr<AudioSource> source = open_source(opts.input, rawSpec, error);
  if (!source) return fail(error);
  const std::string inName = opts.input == "-" ? "stdin" : "'" + opts.input + "'";
  if (source->channels < 1 || source->channels > kMaxChannels) {
    return fail(inName + " has " + std::to_string(source->channels) + " channels; up to " +
                std::to_string(kMaxChannels) + " are supported");
  }
  const int channels = source->channels;
  const int rate = source->rate;
  const std::int32_t engineRate = vocrel::stream::engine_rate_for(rate, opts.mode);
  const bool convert = engineRate != rate;
  const bool live = opts.input == "-";

  const Vocrel_RNR_Params params = make_params(opts, engineRate, channels);
  StreamCleaner cleaner;
  vocrel::stream::StreamSettings settings;
  settings.aligned = !opts.raw;
  settings.autoThreshold = opts.auto_threshold();
  settings.silenceHold = opts.silenceHold;
  const std::int32_t status = cleaner.init(params, rate, settings);
  if (status == StreamCleaner::kNoConverter)
    return fail("cannot convert " + std::to_string(rate) + " Hz to " + std::to_string(engineRate) +
                " Hz");
  if (status != VOCREL_RNR_OK) return fail("invalid settings: " + status_message(status));
  if (!opts.quiet && opts.mode == 1 && convert && rate > engineRate) {
    std::fprintf(stderr,
                 "vocrel-clean: note: mode 1 runs at 8 and 16 kHz only: the %d Hz input is "
                 "cleaned at %d Hz, so content above %d Hz is removed\n",
                 rate, engineRate, engineRate / 2);
  }

  std::unique_ptr<AudioSink> sink =
      opts.output == "-" ? open_stdout_sink(channels)
                         : open_file_sink(opts.output, rate, channels, source->format,
                                          sample_format(opts.sampleFormat), error);
  if (!sink) return fail(error);

  const auto start = std::chrono::steady_clock::now();
  Progress progress(!opts.quiet && isatty(STDERR_FILENO) != 0 && !live &&
                        source->totalFrames > kProgressMinSeconds * rate,
                    source->totalFrames);
  // A stream is read in small steps so that each frame leaves at once.
  const std::size_t chunk = !live ? kFileChunkFrames : cleaner.step_frames();
  std::vector<std::int16_t> buf(chunk * channels), out;
  long long inFrames = 0;
  auto put = [&](std::int32_t st) {
    if (st != VOCREL_RNR_OK) return fail("cleaning failed: " + status_message(st));
    if (!sink->write(out.data(), out.size() / channels)) return fail(sink->write_error());
    out.clear();
    return 0;
  };
  for (;;) {
    const long n = source->read(buf.data(), chunk);
    if (n < 0) return fail("cannot read " + inName + ": read error");
    if (n == 0) break;
    inFrames += n;
    const auto frames = static_cast<std::size_t>(n);
    if (const int rc = put(cleaner.push(buf.data(), frames, out))) return rc;
    progress.update(inFrames);
  }
  if (const int rc = put(cleaner.finish(out))) return rc;
  progress.done();
  if (!sink->commit(error)) return fail(error);
  if (source->clipped > 0) {
    std::fprintf(stderr,
                 "vocrel-clean: warning: %lld sample(s) of %s were beyond full scale and were "
                 "clipped\n",
                 source->clipped, inName.c_str());
  }

  if (!opts.quiet) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double audio = static_cast<double>(inFrames) / rate;
    std::string rates = std::to_string(rate) + " Hz";
    if (convert) rates += " (cleaned at " + std::to_string(engineRate) + " Hz)";
    std::fprintf(stderr,
                 "vocrel-clean: %llu frames, %s, %d channel%s, mode %d (%s), %.2f s of audio in "
                 "%.3f s, real-time factor %.4f%s%s\n",
                 static_cast<unsigned long long>(cleaner.cleaner().engine_frames()), rates.c_str(),
                 channels, channels == 1 ? "" : "s", opts.mode,
                 opts.mode == 1 ? "environment noise" : "floor noise", audio, seconds,
                 audio > 0 ? seconds / audio : 0.0, opts.output == "-" ? "" : " -> ",
                 opts.output == "-" ? "" : opts.output.c_str());
    print_thresholds(cleaner.cleaner(), engineRate);
    print_silence(cleaner.cleaner(), engineRate);
  }
  return 0;
}
