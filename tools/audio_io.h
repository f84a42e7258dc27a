// Audio sources and sinks of vocrel-clean: files through libsndfile, and raw
// signed 16-bit little-endian PCM on stdin/stdout for live streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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
};

class AudioSink {
 public:
  virtual ~AudioSink() = default;
  virtual bool write(const std::int16_t* interleaved, std::size_t frames) = 0;
  // Makes the output visible (files: rename the temporary into place).
  virtual bool commit() = 0;
};

// Opens a file; on failure returns null with a readable reason.
std::unique_ptr<AudioSource> open_file_source(const std::string& path, std::string& error);

// Raw PCM on stdin. A stream that ends inside a sample frame is padded with
// zeros (and a warning is printed), never dropped.
std::unique_ptr<AudioSource> open_stdin_source(int rate, int channels);

// Writes into a temporary file next to `path` that commit() renames into
// place; destroying the sink without commit() removes the temporary. The
// container follows the extension (wav, flac, ogg, aiff, au, caf), else the
// input's container `fallbackFormat`; samples are 16-bit PCM where the
// container allows.
std::unique_ptr<AudioSink> open_file_sink(const std::string& path, int rate, int channels,
                                          int fallbackFormat, std::string& error);

std::unique_ptr<AudioSink> open_stdout_sink(int channels);

// The libsndfile format of an opened file source (0 for other sources).
int source_format(const AudioSource& source);

}  // namespace vocrel::tool
