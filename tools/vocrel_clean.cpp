// vocrel-clean: cleans speech noise from audio files or a live raw PCM stream.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio_io.h"
#include "batch.h"
#include "clean_options.h"
#include "output_file.h"
#include "stream_cleaner.h"
#include "vocrel_rnr.h"

#ifndef VOCREL_VERSION
#define VOCREL_VERSION "unknown"
#endif
#ifndef VOCREL_BUILD_TYPE
#define VOCREL_BUILD_TYPE "unknown"
#endif

using namespace vocrel::tool;
using vocrel::stream::FrameCleaner;
using vocrel::stream::kMaxChannels;
using vocrel::stream::StreamCleaner;

namespace {

constexpr std::size_t kFileChunkFrames = 4800;
constexpr double kProgressMinSeconds = 20.0;  // shorter files finish before it helps

// A progress line is on stderr's last line: a message that follows clears it
// first, so that the two never share a line.
bool g_progressShown = false;

int fail(const std::string& message) {
  if (g_progressShown) std::fputs("\r\033[K", stderr);
  g_progressShown = false;
  std::fprintf(stderr, "vocrel-clean: %s\n", message.c_str());
  return 1;
}

std::string status_message(std::int32_t status) {
  std::string m =
      std::string(Vocrel_RNR_StatusText(status)) + " (status " + std::to_string(status) + ")";
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
    g_progressShown = true;
  }
  void done() {
    if (enabled_ && last_ >= 0) std::fprintf(stderr, "\r\033[K");
    g_progressShown = false;
  }

 private:
  bool enabled_;
  long long total_;
  int last_ = -1;
};

// The kernels the library picks when it is loaded, by its own rule (NEON on
// ARM; AVX2, else SSE4.1, else the portable ones on x86-64), which it does
// not report: the tool is built with the library's VOCREL_SIMD setting.
const char* cpu_kernels() {
#if !VOCREL_SIMD
  return "portable (SIMD kernels not built)";
#elif defined(__arm__) || defined(__aarch64__)
  return "NEON";
#elif defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return "AVX2";
  if (__builtin_cpu_supports("sse4.1")) return "SSE4.1";
  return "portable (the processor has neither AVX2 nor SSE4.1)";
#else
  return "portable";
#endif
}

#ifdef __clang__
constexpr const char kCompiler[] = "clang " __clang_version__;
#else
constexpr const char kCompiler[] = "GCC " __VERSION__;
#endif

// The tool's version and build, the library file that was loaded, the CPU
// kernels, and the engine's own version record (fixed text of the engine).
int print_version() {
  const Vocrel_RNR_Version* v = nullptr;
  if (Vocrel_RNR_GetVersion(&v) != VOCREL_RNR_OK) return fail("no version record");
  Dl_info where{};
  char library[PATH_MAX] = "?";
  if (::dladdr(reinterpret_cast<void*>(&Vocrel_RNR_GetVersion), &where) != 0 &&
      where.dli_fname != nullptr && ::realpath(where.dli_fname, library) == nullptr)
    std::snprintf(library, sizeof library, "%s", where.dli_fname);
  std::printf(
      "vocrel-clean %s (%s build, %s)\nlibrary: %s\nCPU kernels: %s\n"
      "engine version record: %.64s; build time %.64s; tool tag %.64s\n",
      VOCREL_VERSION, VOCREL_BUILD_TYPE, kCompiler, library, cpu_kernels(), v->verText,
      v->buildTime, v->toolTag);
  return 0;
}

// The automatic threshold's choices: "level threshold auto: -29 dB, -26 dB
// from 5.80 s"; the first few changes, then their count. Changes made while
// the engine's delay is flushed after the input's end are not the input's.
void print_thresholds(const FrameCleaner& cleaner, int engineRate, double inputSeconds) {
  if (!cleaner.auto_threshold()) return;
  constexpr std::size_t kShown = 6;
  auto ch = cleaner.threshold_changes();
  while (ch.size() > 1 &&
         static_cast<double>(ch.back().frame) * cleaner.frame_len() / engineRate >= inputSeconds)
    ch.pop_back();
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

// What makes a named input unusable before any audio is looked at: a
// folder, a file the user may not read ("" when it can be tried).
std::string input_problem(const std::string& path) {
  if (path == "-") return "";
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "cannot open '" + path + "': " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "'" + path + "' is a directory, not an audio file";
  if (!S_ISREG(st.st_mode)) return "";  // opening a FIFO to see would be its reader
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "cannot read '" + path + "': " + std::strerror(errno);
  ::close(fd);
  return "";
}

// A raw file whose size is not a whole number of sample frames: its last
// bytes are not read, which is said as for a stream on stdin.
void warn_partial_frame(const std::string& path, const AudioSource& source) {
  struct stat st;
  const long long frameBytes = 2LL * source.channels;
  if (path == "-" || source.kind != "raw PCM" || ::stat(path.c_str(), &st) != 0 ||
      st.st_size % frameBytes == 0)
    return;
  std::fprintf(stderr,
               "vocrel-clean: warning: '%s' ends inside a sample frame; its last %lld byte(s) "
               "are left out\n",
               path.c_str(), static_cast<long long>(st.st_size % frameBytes));
}

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
  if (opts.batch()) {
    // Each file is cleaned by a run of this executable in its single-file form.
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return fail("cannot find the tool's own executable to run for each file");
    self[n] = '\0';
    return run_batch(opts, self);
  }
  install_signal_cleanup();
  if (const std::string unused = unused_options(opts); !unused.empty()) {
    for (std::size_t at = 0; at < unused.size();) {
      const std::size_t end = unused.find('\n', at);
      std::fprintf(stderr, "vocrel-clean: warning: %s\n", unused.substr(at, end - at).c_str());
      at = end + 1;
    }
  }
  if (const std::string problem = input_problem(opts.input); !problem.empty()) return fail(problem);

  const RawSpec rawSpec{opts.rate.value_or(0), opts.channels.value_or(0), opts.rawIn};
  std::unique_ptr<AudioSource> source = open_source(opts.input, rawSpec, error);
  if (!source) return fail(error);
  const std::string inName = opts.input == "-" ? "stdin" : "'" + opts.input + "'";
  if (source->channels < 1 || source->channels > kMaxChannels) {
    return fail(inName + " has " + std::to_string(source->channels) + " channels; up to " +
                std::to_string(kMaxChannels) + " are supported");
  }
  warn_partial_frame(opts.input, *source);
  const int channels = source->channels;
  const int rate = source->rate;
  const std::int32_t engineRate = vocrel::stream::engine_rate_for(rate, opts.mode);
  const bool convert = engineRate != rate;
  if (opts.hpFilter && opts.mode == 0 && engineRate == 48000)
    std::fputs("vocrel-clean: warning: --hp-filter has no effect in mode 0 at 48 kHz\n", stderr);
  const bool live = source->totalFrames < 0;  // stdin, a FIFO, a device: read as it comes

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

  const OutputRules rules{opts.force, opts.noClobber, opts.input, ""};
  std::unique_ptr<AudioSink> sink =
      opts.output == "-" ? open_stdout_sink(channels)
                         : open_file_sink(opts.output, rate, channels, source->format,
                                          sample_format(opts.sampleFormat), rules, error);
  if (!sink) return fail(error);
  sink->set_strings(source->strings);

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
    if (!opts.keepGoing && source->nonFinite > 0)
      return fail_damaged(damage_report(*source, inName, false), sink->streaming());
    if (n == 0) break;
    inFrames += n;
    const auto frames = static_cast<std::size_t>(n);
    if (const int rc = put(cleaner.push(buf.data(), frames, out))) return rc;
    progress.update(inFrames);
  }
  progress.done();
  const std::string damage = damage_report(*source, inName, true);
  if (!damage.empty()) {
    if (!opts.keepGoing) return fail_damaged(damage, sink->streaming());
    std::fprintf(stderr, "vocrel-clean: warning: %s; the output holds what decoded\n",
                 damage.c_str());
  }
  if (const int rc = put(cleaner.finish(out))) return rc;
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
    print_thresholds(cleaner.cleaner(), engineRate, audio);
    print_silence(cleaner.cleaner(), engineRate);
  }
  return 0;
}
