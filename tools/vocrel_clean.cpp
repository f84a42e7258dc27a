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
#include "rate_route.h"
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

// Cleans at a rate the engine does not run: the stream goes through the same
// converters, chunking and float conversion as the LADSPA plugin, so that the
// two give the same samples. Aligned output drops the route's latency and
// flushes it with silence at the end.
class ConvertedCleaner {
 public:
  bool init(const Vocrel_RNR_Params& params, int hostRate, bool aligned, bool autoThreshold,
            std::int32_t& status) {
    status = cleaner_.init(params, false, autoThreshold);
    if (status != VOCREL_RNR_OK) return true;
    channels_ = params.channels;
    aligned_ = aligned;
    pcm_.resize(cleaner_.frame_len() * channels_);
    if (!route_.create(hostRate, params.sampleRate, static_cast<unsigned>(channels_))) return false;
    toSkip_ = route_.latency();
    return true;
  }
  // Appends the output of `frames` input frames (null: silence) to out.
  std::int32_t push(const std::int16_t* x, std::size_t frames, std::vector<std::int16_t>& out) {
    in_.assign(frames * channels_, 0.0f);
    if (x != nullptr)
      for (std::size_t i = 0; i < in_.size(); ++i) in_[i] = vocrel::stream::from_pcm(x[i]);
    fromRoute_.resize(in_.size());
    route_.feed(in_.data(), fromRoute_.data(), frames, frame, this);
    const std::size_t skip =
        std::min<std::size_t>(frames, aligned_ ? static_cast<std::size_t>(toSkip_) : 0);
    toSkip_ -= static_cast<long>(skip);
    for (std::size_t i = skip * channels_; i < fromRoute_.size(); ++i)
      out.push_back(vocrel::stream::to_pcm(fromRoute_[i]));
    return status_;
  }
  // End of input: the samples still inside the route.
  std::int32_t finish(std::vector<std::int16_t>& out) {
    if (!aligned_) return status_;
    const auto tail = static_cast<std::size_t>(route_.latency());
    return push(nullptr, tail, out);
  }
  std::uint64_t engine_frames() const { return cleaner_.engine_frames(); }
  const FrameCleaner& cleaner() const { return cleaner_; }
  std::size_t chunk_frames() const { return route_.chunk_frames(); }

 private:
  static void frame(void* ctx, const vocrel::stream::Route& route, const float* in, float* out) {
    auto* self = static_cast<ConvertedCleaner*>(ctx);
    const std::size_t n = route.frame_len() * static_cast<std::size_t>(self->channels_);
    for (std::size_t i = 0; i < n; ++i) self->pcm_[i] = vocrel::stream::to_pcm(in[i]);
    self->cleaned_.clear();
    if (self->status_ == VOCREL_RNR_OK)
      self->status_ = self->cleaner_.push(self->pcm_.data(), route.frame_len(), self->cleaned_);
    self->cleaned_.resize(n, 0);
    for (std::size_t i = 0; i < n; ++i) out[i] = vocrel::stream::from_pcm(self->cleaned_[i]);
  }

  FrameCleaner cleaner_;
  vocrel::stream::Route route_;
  int channels_ = 1;
  bool aligned_ = true;
  long toSkip_ = 0;  // output frames still to drop (aligned)
  std::int32_t status_ = VOCREL_RNR_OK;
  std::vector<float> in_, fromRoute_;
  std::vector<std::int16_t> pcm_, cleaned_;
};

// What is wrong with an input that is not whole, "" when nothing is. Without
// --keep-going the tool stops on it and writes nothing.
// `ended`: the input has been read to its end (else only bad samples count).
std::string damage_report(const AudioSource& source, const std::string& name, bool ended) {
  std::string why = ended ? source.damage() : "";
  if (source.nonFinite > 0) {
    if (!why.empty()) why += "; ";
    why += std::to_string(source.nonFinite) + " sample(s) are NaN or infinite, the first at " +
           describe_position(source.firstNonFinite, source.rate);
  }
  return why.empty() ? why : name + " is damaged: " + why;
}

int fail_damaged(const std::string& damage, bool streamed) {
  return fail(damage + (streamed ? "; the output stream stops here"
                                 : "; nothing was written (--keep-going writes what decoded)"));
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
  if (source->channels < 1 || source->channels > 2) {
    return fail(inName + " has " + std::to_string(source->channels) +
                " channels; only mono and stereo are supported");
  }
  const int channels = source->channels;
  const int rate = source->rate;
  const std::int32_t engineRate = engine_rate_for(rate, opts.mode);
  const bool convert = engineRate != rate;
  const bool live = opts.input == "-";

  const Vocrel_RNR_Params params = make_params(opts, engineRate, channels);
  FrameCleaner cleaner;
  ConvertedCleaner converted;
  std::int32_t status = VOCREL_RNR_OK;
  if (convert) {
    if (!converted.init(params, rate, !opts.raw, opts.auto_threshold(), status))
      return fail("cannot convert " + std::to_string(rate) + " Hz to " +
                  std::to_string(engineRate) + " Hz");
  } else {
    status = cleaner.init(params, !opts.raw, opts.auto_threshold());
  }
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
  sink->set_strings(source->strings);

  const auto start = std::chrono::steady_clock::now();
  Progress progress(!opts.quiet && isatty(STDERR_FILENO) != 0 && !live &&
                        source->totalFrames > kProgressMinSeconds * rate,
                    source->totalFrames);
  // A stream is read in small steps so that each frame leaves at once.
  const std::size_t chunk = !live     ? kFileChunkFrames
                            : convert ? converted.chunk_frames()
                                      : cleaner.frame_len();
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
    if (!opts.keepGoing && source->nonFinite > 0)
      return fail_damaged(damage_report(*source, inName, false), opts.output == "-");
    if (n == 0) break;
    inFrames += n;
    const auto frames = static_cast<std::size_t>(n);
    if (const int rc = put(convert ? converted.push(buf.data(), frames, out)
                                   : cleaner.push(buf.data(), frames, out)))
      return rc;
    progress.update(inFrames);
  }
  progress.done();
  const std::string damage = damage_report(*source, inName, true);
  if (!damage.empty()) {
    if (!opts.keepGoing) return fail_damaged(damage, opts.output == "-");
    std::fprintf(stderr, "vocrel-clean: warning: %s; the output holds what decoded\n",
                 damage.c_str());
  }
  if (const int rc = put(convert ? converted.finish(out) : cleaner.finish(out))) return rc;
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
                 static_cast<unsigned long long>(convert ? converted.engine_frames()
                                                         : cleaner.engine_frames()),
                 rates.c_str(), channels, channels == 1 ? "" : "s", opts.mode,
                 opts.mode == 1 ? "environment noise" : "floor noise", audio, seconds,
                 audio > 0 ? seconds / audio : 0.0, opts.output == "-" ? "" : " -> ",
                 opts.output == "-" ? "" : opts.output.c_str());
    print_thresholds(convert ? converted.cleaner() : cleaner, engineRate);
  }
  return 0;
}
