#include "clean_options.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "frame_cleaner.h"
#include "rate_route.h"

namespace vocrel::tool {

namespace {

bool parse_int(const std::string& text, std::int32_t& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

struct IntOption {
  const char* name;
  const char* field;                           // the Vocrel_RNR_Params field it sets
  std::int32_t Options::*plain;                // set when the option has no optional slot
  std::optional<std::int32_t> Options::*slot;  // tunables left to the default record otherwise
};

constexpr IntOption kIntOptions[] = {
    {"--rate", "sampleRate", nullptr, &Options::rate},
    {"--channels", "channels", nullptr, &Options::channels},
    {"--mode", "mode", &Options::mode, nullptr},
    {"--max-nr", "maxNr", nullptr, &Options::maxNr},
    {"--hp-filter", "hpFilterOn", nullptr, &Options::hpFilter},
    {"--level-thr", "levelThrDb", nullptr, &Options::levelThr},
    {"--level-adapt-off", "levelAdaptOff", nullptr, &Options::levelAdaptOff},
    {"--vad-band-thr", "vadBandThr", nullptr, &Options::vadBandThr},
    {"--vad3", "vad3On", nullptr, &Options::vad3},
};

// More workers than this are a typing error, not a machine.
constexpr std::int32_t kMaxJobs = 1024;

// Sample rates a raw stream may declare: what the converters take.
constexpr std::int32_t kMinRate = stream::kMinHostRate;
constexpr std::int32_t kMaxRate = stream::kMaxHostRate;

// Values the option parser checks itself; the engine checks the tunables.
bool check_values(const Options& opts, std::string& error) {
  if (opts.rate && (*opts.rate < kMinRate || *opts.rate > kMaxRate)) {
    error = "--rate " + std::to_string(*opts.rate) + " is not a sample rate; give " +
            std::to_string(kMinRate) + ".." + std::to_string(kMaxRate) + " Hz";
    return false;
  }
  if (opts.channels && (*opts.channels < 1 || *opts.channels > vocrel::stream::kMaxChannels)) {
    error = "--channels " + std::to_string(*opts.channels) + ": give 1 to " +
            std::to_string(vocrel::stream::kMaxChannels);
    return false;
  }
  if (opts.vad3 && *opts.vad3 != 0 && *opts.vad3 != 1) {
    error = "--vad3 must be 0 or 1, not " + std::to_string(*opts.vad3);
    return false;
  }
  static constexpr const char* kSampleFormats[] = {"same", "s16", "s24", "f32"};
  if (std::find(std::begin(kSampleFormats), std::end(kSampleFormats), opts.sampleFormat) ==
      std::end(kSampleFormats)) {
    error = "--sample-format takes same, s16, s24 or f32, not '" + opts.sampleFormat + "'";
    return false;
  }
  return true;
}

}  // namespace

// The tunables' ranges as the usage text below spells them.
static_assert(VOCREL_RNR_MAX_NR_MIN == 2 && VOCREL_RNR_MAX_NR_MAX == 20 &&
                  VOCREL_RNR_LEVEL_THR_MIN == -80 && VOCREL_RNR_LEVEL_THR_MAX == -20 &&
                  VOCREL_RNR_VAD_BAND_THR_MIN == 45 && VOCREL_RNR_VAD_BAND_THR_MAX == 65,
              "the usage text names the tunables' ranges");

const char* usage_text() {
  return "usage: vocrel-clean [options] INPUT OUTPUT\n"
         "       vocrel-clean [options] INPUT... -o OUTDIR\n"
         "\n"
         "Cleans speech noise from an audio file (anything libsndfile reads; up to 8\n"
         "channels, each stereo pair cleaned on its own). 8, 16 and 48 kHz run\n"
         "natively; other rates are converted to the nearest supported rate and back\n"
         "(mode 1 runs at 8 or 16 kHz). The output is\n"
         "aligned with the input and its format follows OUTPUT's extension (.wav, .flac,\n"
         ".ogg, .aiff, .au, .caf, .w64, .raw ...; none: the input's). The engine works on\n"
         "16-bit samples; 24-bit and float files are written back in their own sample\n"
         "format (--sample-format to choose), and float samples beyond full scale are\n"
         "clipped (with a count printed).\n"
         "With '-' as INPUT, stdin is read: an audio file (WAV, FLAC ...) by its header,\n"
         "else raw signed 16-bit little-endian PCM, which needs --rate. With '-' as\n"
         "OUTPUT, raw PCM goes to stdout. Raw streams are cleaned frame by frame (10 ms)\n"
         "as they arrive. Raw files (*.raw, *.pcm, or --raw-in) need --rate too.\n"
         "\n"
         "  --mode N             0 floor-noise reduction (default), 1 environment-noise\n"
         "                       reduction (8 and 16 kHz)\n"
         "  --max-nr DB          maximum noise reduction, 2..20 dB (default 15)\n"
         "  --hp-filter 0|1      high-pass pre-filter at 8/16 kHz (default: mode 0 off,\n"
         "                       mode 1 on)\n"
         "  --level-thr DB|auto  mode 0 level threshold, -80..-20 dB (default auto)\n"
         "  --level-adapt-off 0|1  mode 0: 1 skips level adaptation (default 1)\n"
         "  --vad-band-thr N     mode 0 stationary bands for a noise frame, 45..65 (50)\n"
         "  --vad3 0|1           mode 1 third voice-activity detector (default 0)\n"
         "  --rate HZ            sample rate of raw input (required for raw input)\n"
         "  --channels N         channels of raw input, 1 to 8 (default 1)\n"
         "  --raw-in             read INPUT as raw PCM even if it has a header\n"
         "  --keep-going         damaged input (a decode error, a file cut short, NaN or\n"
         "                       infinite samples): write what decoded, with a warning,\n"
         "                       instead of failing\n"
         "  --sample-format F    output samples: same (default), s16, s24 or f32\n"
         "  --raw                keep the engine's delay (at 8, 16 and 48 kHz also its\n"
         "                       whole-frame length)\n"
         "  --no-silence-hold    let digital silence reach the engine's noise estimate\n"
         "  -f, --force          replace an existing OUTPUT (also asked on a terminal)\n"
         "  -n, --no-clobber     never replace an existing OUTPUT\n"
         "  -q, --quiet          no progress and no summary\n"
         "  -o, --output-dir DIR the batch form: clean every INPUT into DIR\n"
         "  -j, --jobs N         batch: files cleaned at once (default: one per core)\n"
         "  --ext LIST           batch: only files of folders named *.EXT, e.g. wav,flac\n"
         "  -h, --help           this text\n"
         "  -V, --version        tool, library and engine version\n"
         "  --                   the arguments that follow are file names\n"
         "\n"
         "An existing OUTPUT is replaced only with -f (or after a yes on a terminal),\n"
         "unless it is INPUT itself: 'vocrel-clean rec.wav rec.wav' cleans in place.\n"
         "A replaced file keeps its owner, group, mode and extended attributes, and\n"
         "its other hard links see the new audio; a read-only OUTPUT is refused.\n"
         "FIFOs, devices and /dev/stdout get the audio as it is cleaned.\n"
         "\n"
         "The batch form cleans files and folders (walked recursively, their trees\n"
         "mirrored under OUTDIR) in parallel; each output keeps its input's name and\n"
         "format. Outputs newer than their inputs are skipped, so an interrupted run\n"
         "resumes; an older one is replaced (never, with -n). A file that fails does\n"
         "not stop the others: failures are listed with their reasons at the end and\n"
         "the exit status is 1. On a terminal a line shows files, hours of audio,\n"
         "speed and time left.\n"
         "\n"
         "The level threshold says how loud a noise floor mode 0 learns and removes:\n"
         "noise above it is learnt only in part, and at 48 kHz frames more than 10 dB\n"
         "above it are kept out of the noise estimate. 'auto' tracks the quietest\n"
         "frames of the last five seconds and keeps the threshold just above that\n"
         "floor (printed in the summary), and follows rising noise within two seconds;\n"
         "a number fixes it (the library's own default, -55 dB, suits quiet rooms only).\n"
         "Digital silence (a mute, a dropout, zeros at the start) is not noise: it moves\n"
         "neither the automatic threshold nor, unless --no-silence-hold, the noise the\n"
         "engine has learnt, which resumes from where it was when sound returns.\n"
         "\n"
         "example: arecord -f S16_LE -r 16000 -c 1 | vocrel-clean --rate 16000 - - \\\n"
         "           | aplay -f S16_LE -r 16000 -c 1\n";
}

bool parse_options(int argc, const char* const* argv, Options& opts, std::string& error) {
  int positional = 0;
  auto file_name = [&](const std::string& arg) {
    opts.inputs.push_back(arg);
    if (positional == 0)
      opts.input = arg;
    else if (positional == 1)
      opts.output = arg;
    ++positional;
  };
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded) {
      file_name(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help") {
      opts.help = true;
      continue;
    }
    if (arg == "--version") {
      opts.version = true;
      continue;
    }
    // Flags of one letter, alone or together ("-qf"); the last of -f and -n counts.
    if (arg.size() > 1 && arg[0] == '-' && arg.find_first_not_of("fnqhV", 1) == std::string::npos) {
      for (const char c : arg.substr(1)) {
        opts.help |= c == 'h';
        opts.version |= c == 'V';
        opts.quiet |= c == 'q';
        if (c == 'f' || c == 'n') {
          opts.force = c == 'f';
          opts.noClobber = c == 'n';
        }
      }
      continue;
    }
    if (arg == "--force" || arg == "--no-clobber") {
      opts.force = arg == "--force";
      opts.noClobber = !opts.force;
      continue;
    }
    if (arg == "--quiet") {
      opts.quiet = true;
      continue;
    }
    if (arg == "--raw") {
      opts.raw = true;
      continue;
    }
    if (arg == "--raw-in") {
      opts.rawIn = true;
      continue;
    }
    if (arg == "--no-silence-hold") {
      opts.silenceHold = false;
      continue;
    }
    if (arg == "--keep-going") {
      opts.keepGoing = true;
      continue;
    }
    // Options of the batch form that take a text value: "-o DIR", "-oDIR",
    // "--output-dir DIR", "--output-dir=DIR"; likewise -j/--jobs and --ext.
    std::string* textValue = nullptr;
    std::string shortName, longName;
    if (arg.rfind("-o", 0) == 0 || arg == "--output-dir" || arg.rfind("--output-dir=", 0) == 0)
      textValue = &opts.outDir, shortName = "-o", longName = "--output-dir";
    std::string jobsText;
    if (arg.rfind("-j", 0) == 0 || arg == "--jobs" || arg.rfind("--jobs=", 0) == 0)
      textValue = &jobsText, shortName = "-j", longName = "--jobs";
    if (arg == "--ext" || arg.rfind("--ext=", 0) == 0)
      textValue = &opts.extensions, longName = "--ext";
    if (textValue != nullptr) {
      if (!shortName.empty() && arg.size() > 2 && arg.rfind("--", 0) != 0) {
        *textValue = arg.substr(2);
      } else if (arg.size() > longName.size() && arg[longName.size()] == '=') {
        *textValue = arg.substr(longName.size() + 1);
      } else if (i + 1 < argc) {
        *textValue = argv[++i];
      } else {
        error = "option " + (shortName.empty() ? longName : shortName) + " needs a value";
        return false;
      }
      if (textValue == &jobsText &&
          (!parse_int(jobsText, opts.jobs) || opts.jobs < 1 || opts.jobs > kMaxJobs)) {
        error = "-j/--jobs takes 1 to " + std::to_string(kMaxJobs) + ", not '" + jobsText + "'";
        return false;
      }
      if (textValue == &opts.outDir && opts.outDir.empty()) {
        error = "-o needs a folder name";
        return false;
      }
      continue;
    }
    if (arg == "--sample-format" || arg.rfind("--sample-format=", 0) == 0) {
      if (arg.size() > 15) {
        opts.sampleFormat = arg.substr(16);
      } else if (i + 1 < argc) {
        opts.sampleFormat = argv[++i];
      } else {
        error = "option --sample-format needs a value";
        return false;
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::string name = arg, value;
      const auto eq = arg.find('=');
      const IntOption* opt = nullptr;
      if (eq != std::string::npos) name = arg.substr(0, eq);
      for (const IntOption& o : kIntOptions)
        if (name == o.name) opt = &o;
      if (opt == nullptr) {
        error = "unknown option '" + arg + "'";
        return false;
      }
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        error = "option " + name + " needs a value";
        return false;
      }
      const bool isLevelThr = opt->slot == &Options::levelThr;
      if (isLevelThr && strcasecmp(value.c_str(), "auto") == 0) {
        opts.levelThr.reset();
        continue;
      }
      std::int32_t v = 0;
      if (!parse_int(value, v)) {
        error = "option " + name + " needs a whole number" +
                (isLevelThr ? " of dB or 'auto'" : "") + ", not '" + value + "'";
        return false;
      }
      if (opt->plain != nullptr)
        opts.*(opt->plain) = v;
      else
        opts.*(opt->slot) = v;
      continue;
    }
    file_name(arg);
  }
  if (opts.help || opts.version) return true;
  if (opts.batch()) {
    if (positional == 0) {
      error = "-o OUTDIR needs at least one input file or folder";
      return false;
    }
    if (std::find(opts.inputs.begin(), opts.inputs.end(), "-") != opts.inputs.end()) {
      error = "'-' (stdin) cannot be an input of the batch form";
      return false;
    }
    return check_values(opts, error);
  }
  if (opts.jobs != 0 || !opts.extensions.empty()) {
    error = "-j/--jobs and --ext belong to the batch form: IN... -o OUTDIR";
    return false;
  }
  if (positional != 2) {
    error = positional < 2 ? "an input and an output are needed" : "too many file arguments";
    return false;
  }
  return check_values(opts, error);
}

std::vector<std::string> file_options(const Options& opts) {
  std::vector<std::string> args;
  for (const IntOption& o : kIntOptions) {
    const std::optional<std::int32_t> v =
        o.plain != nullptr ? std::optional<std::int32_t>(opts.*(o.plain)) : opts.*(o.slot);
    if (v) args.push_back(std::string(o.name) + "=" + std::to_string(*v));
  }
  const std::pair<bool, const char*> flags[] = {{opts.raw, "--raw"},
                                                {opts.rawIn, "--raw-in"},
                                                {!opts.silenceHold, "--no-silence-hold"},
                                                {opts.keepGoing, "--keep-going"},
                                                {opts.quiet, "--quiet"},
                                                {opts.force, "--force"},
                                                {opts.noClobber, "--no-clobber"}};
  for (const auto& [on, name] : flags)
    if (on) args.push_back(name);
  args.push_back("--sample-format=" + opts.sampleFormat);
  return args;
}

std::string unused_options(const Options& opts) {
  // The tunables of one path are not read by the other.
  const std::pair<const std::optional<std::int32_t>&, const char*> floorOnly[] = {
      {opts.levelThr, "--level-thr"},
      {opts.levelAdaptOff, "--level-adapt-off"},
      {opts.vadBandThr, "--vad-band-thr"}};
  std::string lines;
  for (const auto& [value, name] : floorOnly)
    if (opts.mode == 1 && value) lines += std::string(name) + " has no effect in mode 1\n";
  if (opts.mode == 0 && opts.vad3) lines += "--vad3 has no effect in mode 0\n";
  if (opts.output == "-" && opts.sampleFormat != "same")
    lines += "--sample-format has no effect on raw PCM to stdout (always 16-bit)\n";
  return lines;
}

Vocrel_RNR_Params make_params(const Options& opts, std::int32_t sampleRate, std::int32_t channels) {
  Vocrel_RNR_Params p =
      opts.mode == 1 ? g_Vocrel_RNR_Params_Env_8k_MONO : g_Vocrel_RNR_Params_Flr_48k_MONO;
  if (opts.maxNr) p.maxNr = *opts.maxNr;
  if (opts.hpFilter) p.hpFilterOn = *opts.hpFilter;
  if (opts.levelThr) p.levelThrDb = *opts.levelThr;
  if (opts.levelAdaptOff) p.levelAdaptOff = *opts.levelAdaptOff;
  if (opts.vadBandThr) p.vadBandThr = *opts.vadBandThr;
  if (opts.vad3) p.vad3On = *opts.vad3;
  p.sampleRate = sampleRate;
  p.channels = channels;
  p.mode = opts.mode;
  return p;
}

const char* option_for_status(std::int32_t status) {
  const char* field = Vocrel_RNR_StatusField(status);
  if (field[0] == '\0') return "";
  for (const IntOption& o : kIntOptions) {
    if (std::strcmp(o.field, field) == 0) return o.name;
  }
  return "";
}

}  // namespace vocrel::tool
