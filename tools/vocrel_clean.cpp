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
#include "frame_cleaner.h"
#include "resample.h"
#include "status_text.h"
#include "vocrel_rnr.h"

#ifndef VOCREL_VERSION
#define VOCREL_VERSION "unknown"
#endif

using namespace vocrel::tool;

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

  const bool streamIn = opts.input == "-";
  std::unique_ptr<AudioSource> source =
      streamIn ? open_stdin_source(opts.rate, opts.channels) : open_file_source(opts.input, error);
  if (!source) return fail(error);
  if (source->channels < 1 || source->channels > 2) {
    return fail("'" + opts.input + "' has " + std::to_string(source->channels) +
                " channels; only mono and stereo are supported");
  }
  const int channels = source->channels;
  const int rate = source->rate;
  // A raw stream runs at its own rate; the engine refuses what it cannot run.
  const std::int32_t engineRate = streamIn ? rate : engine_rate_for(rate, opts.mode);
  const bool convert = engineRate != rate;

  FrameCleaner cleaner;
  std::int32_t status =
      cleaner.init(make_params(opts, engineRate, channels), !opts.raw, opts.auto_threshold());
  if (status != VOCREL_RNR_OK) return fail("invalid settings: " + status_message(status));

  std::unique_ptr<AudioSink> sink =
      opts.output == "-"
          ? open_stdout_sink(channels)
          : open_file_sink(opts.output, rate, channels, source_format(*source), error);
  if (!sink) return fail(error);

  const auto start = std::chrono::steady_clock::now();
  Progress progress(!opts.quiet && isatty(STDERR_FILENO) != 0 && !streamIn &&
                        source->totalFrames > kProgressMinSeconds * rate,
                    source->totalFrames);
  // A stream is read one frame at a time so that each frame leaves at once.
  const std::size_t chunk = streamIn ? cleaner.frame_len() : kFileChunkFrames;
  std::vector<std::int16_t> buf(chunk * channels), out;
  long long inFrames = 0;

  if (!convert) {
    for (;;) {
      const long n = source->read(buf.data(), chunk);
      if (n < 0) return fail("read error on '" + opts.input + "'");
      if (n == 0) break;
      inFrames += n;
      out.clear();
      status = cleaner.push(buf.data(), static_cast<std::size_t>(n), out);
      if (status != VOCREL_RNR_OK) return fail("cleaning failed: " + status_message(status));
      if (!sink->write(out.data(), out.size() / channels)) return fail("write error");
      progress.update(inFrames);
    }
    out.clear();
    status = cleaner.finish(out);
    if (status != VOCREL_RNR_OK) return fail("cleaning failed: " + status_message(status));
    if (!sink->write(out.data(), out.size() / channels)) return fail("write error");
  } else {
    // Whole-buffer conversion keeps both conversions delay-free.
    std::vector<std::int16_t> all;
    for (;;) {
      const long n = source->read(buf.data(), chunk);
      if (n < 0) return fail("read error on '" + opts.input + "'");
      if (n == 0) break;
      all.insert(all.end(), buf.begin(), buf.begin() + n * channels);
    }
    inFrames = static_cast<long long>(all.size() / channels);
    std::vector<std::int16_t> atEngine, cleaned, back;
    const std::size_t engineFrames = resampled_length(inFrames, rate, engineRate);
    if (!resample(all, channels, rate, engineRate, engineFrames, atEngine, error))
      return fail(error);
    for (std::size_t at = 0; at < engineFrames; at += kFileChunkFrames) {
      const std::size_t n = std::min(kFileChunkFrames, engineFrames - at);
      status = cleaner.push(&atEngine[at * channels], n, cleaned);
      if (status != VOCREL_RNR_OK) return fail("cleaning failed: " + status_message(status));
      progress.update(static_cast<long long>(resampled_length(at + n, engineRate, rate)));
    }
    status = cleaner.finish(cleaned);
    if (status != VOCREL_RNR_OK) return fail("cleaning failed: " + status_message(status));
    // Aligned output has exactly the input's length; the two roundings of a
    // conversion there and back need not give it.
    const std::size_t cleanedFrames = cleaned.size() / channels;
    const std::size_t backFrames = opts.raw ? resampled_length(cleanedFrames, engineRate, rate)
                                            : static_cast<std::size_t>(inFrames);
    if (!resample(cleaned, channels, engineRate, rate, backFrames, back, error)) return fail(error);
    if (!sink->write(back.data(), back.size() / channels)) return fail("write error");
  }
  progress.done();
  if (!sink->commit()) return fail("cannot complete '" + opts.output + "'");

  if (!opts.quiet) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double audio = static_cast<double>(inFrames) / rate;
    std::string rates = std::to_string(rate) + " Hz";
    if (convert) rates += " (cleaned at " + std::to_string(engineRate) + " Hz)";
    std::fprintf(stderr,
                 "vocrel-clean: %llu frames, %s, %d channel%s, mode %d (%s), %.2f s of audio in "
                 "%.3f s, real-time factor %.4f%s%s\n",
                 static_cast<unsigned long long>(cleaner.engine_frames()), rates.c_str(), channels,
                 channels == 1 ? "" : "s", opts.mode,
                 opts.mode == 1 ? "environment noise" : "floor noise", audio, seconds,
                 audio > 0 ? seconds / audio : 0.0, opts.output == "-" ? "" : " -> ",
                 opts.output == "-" ? "" : opts.output.c_str());
    print_thresholds(cleaner, engineRate);
  }
  return 0;
}
