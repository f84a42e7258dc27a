// Command line of vocrel-clean and the tunables record it asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vocrel_rnr.h"

namespace vocrel::tool {

struct Options {
  std::string input;        // path, or "-" for stdin (a container, else raw 16-bit PCM)
  std::string output;       // path, or "-" for raw 16-bit PCM on stdout
  bool raw = false;         // keep the engine's delay (and whole-frame length at native rates)
  bool rawIn = false;       // read the input as raw PCM whatever it looks like
  bool silenceHold = true;  // keep the engine's learnt noise over digital silence
  bool quiet = false;
  bool force = false;      // replace an existing output without asking
  bool noClobber = false;  // never replace an existing output
  bool help = false;
  bool version = false;
  std::int32_t mode = 0;
  std::string sampleFormat = "same";           // output samples: same, s16, s24, f32
  std::optional<std::int32_t> rate, channels;  // raw input only
  // Damaged input: clean what decoded, with a warning, instead of failing.
  bool keepGoing = false;
  std::optional<std::int32_t> maxNr, hpFilter, levelThr, levelAdaptOff, vadBandThr, vad3;
  // The batch form, "IN... -o OUTDIR": every file argument, files and folders.
  std::vector<std::string> inputs;
  std::string outDir;      // "": the single-file form
  std::int32_t jobs = 0;   // files cleaned at once; 0: one per core
  std::string extensions;  // "wav,flac": only these are taken from folders ("": all)
  bool batch() const { return !outDir.empty(); }
  // Mode 0 without a number for --level-thr (or with "auto"): the threshold
  // follows the input's noise floor.
  bool auto_threshold() const { return mode == 0 && !levelThr; }
};

// Options given that the chosen mode or output does not use, one line each
// ("--vad3 has no effect in mode 0"): worth a warning.
std::string unused_options(const Options& opts);

// Parses argv into opts. On failure returns false with a one-line reason.
bool parse_options(int argc, const char* const* argv, Options& opts, std::string& error);

const char* usage_text();

// The options that say how one file is cleaned (not which files, nor the
// batch's own), as arguments that parse_options reads back to the same.
std::vector<std::string> file_options(const Options& opts);

// Tunables for a stream: the mode's default record, the options on top, and
// the stream fields. Ranges are left to the engine's own validation (the
// third-detector switch, which the engine reads as "exactly 1", is checked by
// parse_options).
Vocrel_RNR_Params make_params(const Options& opts, std::int32_t sampleRate, std::int32_t channels);

// The option a failing status points at ("" when none does).
const char* option_for_status(std::int32_t status);

}  // namespace vocrel::tool
