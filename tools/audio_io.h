// Audio sources and sinks of vocrel-clean: files and streams through
// libsndfile, and raw signed 16-bit little-endian PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "output_file.h"

namespace vocrel::tool {

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Reads up to `frames` sample frames; returns how many (0 at the end), or
  // -1 on a read error.
  virtual long read(std::int16_t* interleaved, std::size_t frames) = 0;
  int rate = 0;
  int channels = 0;
  long long totalFrames = -1;  // -1 when unknown (streams)
  int format = 0;              // libsndfile format; 0 for raw PCM
  long long clipped = 0;       // float samples beyond full scale, clipped so far
  std::string kind;            // "WAV file", "raw PCM" ...: for messages
  // The strings libsndfile reads from the header (title, artist, comment
  // ...): libsndfile's SF_STR_* type and the text.
  std::vector<std::pair<int, std::string>> strings;
  long long framesRead = 0;
  long long nonFinite = 0;        // NaN or infinite samples, read as 0 or full scale
  long long firstNonFinite = -1;  // the sample frame of the first

  // Why the input is not whole, "" when it is: a decode error, or an end
  // before the one its header declares. Asked after the last read; names the
  // position where the good part ends.
  virtual std::string damage() const { return ""; }
};

// "12.34 s (frame 544194)": a position in a stream of `rate` frames a second.
std::string describe_position(long long frame, int rate);

// What the command line says about raw input. A container (a file header, on
// stdin too) brings its own rate and channels; raw PCM needs them given.
struct RawSpec {
  int rate = 0;      // 0: not given
  int channels = 0;  // 0: not given (mono for raw)
  bool force = false;
};

// Opens a path or "-" (stdin). stdin is raw PCM unless it starts with an
// audio container header; a file is raw when forced or named *.raw / *.pcm.
// On failure returns null with a readable reason.
std::unique_ptr<AudioSource> open_source(const std::string& path, const RawSpec& raw,
                                         std::string& error);

class AudioSink {
 public:
  virtual ~AudioSink() = default;
  virtual bool write(const std::int16_t* interleaved, std::size_t frames) = 0;
  // Makes the output complete and visible; false with a reason on failure.
  virtual bool commit(std::string& error) = 0;
  // What a write failure was, with the file's name.
  virtual std::string write_error() const = 0;
  // Whether what was written has already gone out (stdout, a pipe, a FIFO, a
  // device): a failure cannot take it back.
  virtual bool streaming() const = 0;
  // Strings for the output's header (see AudioSource::strings), written with
  // the first samples where the container holds them.
  void set_strings(std::vector<std::pair<int, std::string>> s) { strings_ = std::move(s); }

 protected:
  std::vector<std::pair<int, std::string>> strings_;  // not yet written
};

// Sample encoding of the output file: the input's own (16, 24, 32-bit PCM or
// float kept as they were) or one asked for.
enum class SampleFormat { Same, S16, S24, F32 };

// Output file `path`. The container follows the extension (any that
// libsndfile writes: wav, flac, ogg, aiff, au, caf, w64, raw ...); no
// extension takes the input's container. Where the bytes go and what may be
// replaced is output_file.h's: a file appears complete or not at all, a
// stream (FIFO, device, /dev/stdout) gets the audio as it is cleaned, with
// the header's lengths marked unknown. Refusals come before any work.
std::unique_ptr<AudioSink> open_file_sink(const std::string& path, int rate, int channels,
                                          int inputFormat, SampleFormat sampleFormat,
                                          const OutputRules& rules, std::string& error);

// Raw 16-bit PCM on stdout, flushed at every write.
std::unique_ptr<AudioSink> open_stdout_sink(int channels);

}  // namespace vocrel::tool
