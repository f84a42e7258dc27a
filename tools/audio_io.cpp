#include "audio_io.h"

#include <sndfile.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vocrel::tool {

namespace {

class SndSource : public AudioSource {
 public:
  SndSource(SNDFILE* f, const SF_INFO& info) : file_(f), format_(info.format) {
    rate = info.samplerate;
    channels = info.channels;
    totalFrames = static_cast<long long>(info.frames);
  }
  ~SndSource() override { sf_close(file_); }
  // Every format is read as float with full scale 1.0 (exact for 16- and
  // 24-bit PCM) and rounded to 16 bits, so float files keep their level and
  // values beyond full scale are clipped rather than wrapped.
  long read(std::int16_t* x, std::size_t frames) override {
    buf_.resize(frames * static_cast<std::size_t>(channels));
    const sf_count_t n = sf_readf_float(file_, buf_.data(), static_cast<sf_count_t>(frames));
    if (n == 0 && sf_error(file_) != SF_ERR_NO_ERROR) return -1;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) * channels; ++i) {
      const float v = std::nearbyint(buf_[i] * 32768.0f);
      x[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
    return static_cast<long>(n);
  }
  int format() const { return format_; }

 private:
  SNDFILE* file_;
  int format_;
  std::vector<float> buf_;
};

class StdinSource : public AudioSource {
 public:
  StdinSource(int r, int ch) {
    rate = r;
    channels = ch;
  }
  long read(std::int16_t* x, std::size_t frames) override {
    if (ended_) return 0;
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels);
    const std::size_t want = frames * frameBytes;
    auto* bytes = reinterpret_cast<unsigned char*>(x);
    std::size_t got = 0;
    // Block until the whole request is there: a live stream is cleaned one
    // frame per request.
    while (got < want) {
      const ssize_t n = ::read(STDIN_FILENO, bytes + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      if (n == 0) {
        ended_ = true;
        break;
      }
      got += static_cast<std::size_t>(n);
    }
    if (got % frameBytes != 0) {
      std::fprintf(stderr,
                   "vocrel-clean: warning: the input stream ended inside a sample frame; "
                   "padded with %zu zero byte(s)\n",
                   frameBytes - got % frameBytes);
      std::memset(bytes + got, 0, frameBytes - got % frameBytes);
      got += frameBytes - got % frameBytes;
    }
    return static_cast<long>(got / frameBytes);
  }

 private:
  bool ended_ = false;
};

class SndSink : public AudioSink {
 public:
  SndSink(SNDFILE* f, std::string tmp, std::string path)
      : file_(f), tmp_(std::move(tmp)), path_(std::move(path)) {}
  ~SndSink() override {
    if (file_ != nullptr) sf_close(file_);
    if (!committed_) ::unlink(tmp_.c_str());
  }
  bool write(const std::int16_t* x, std::size_t frames) override {
    if (frames == 0) return true;
    return sf_writef_short(file_, x, static_cast<sf_count_t>(frames)) ==
           static_cast<sf_count_t>(frames);
  }
  bool commit() override {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) return false;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(tmp_.c_str(), 0666 & ~mask);
    if (std::rename(tmp_.c_str(), path_.c_str()) != 0) return false;
    committed_ = true;
    return true;
  }

 private:
  SNDFILE* file_;
  std::string tmp_, path_;
  bool committed_ = false;
};

class StdoutSink : public AudioSink {
 public:
  explicit StdoutSink(int channels) : channels_(channels) {}
  // Flushed at every write: a live stream hands each cleaned frame on at once.
  bool write(const std::int16_t* x, std::size_t frames) override {
    const std::size_t n = frames * static_cast<std::size_t>(channels_);
    if (n == 0) return true;
    return std::fwrite(x, sizeof *x, n, stdout) == n && std::fflush(stdout) == 0;
  }
  bool commit() override { return std::fflush(stdout) == 0; }

 private:
  int channels_;
};

int container_for(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return 0;
  const char* ext = path.c_str() + dot + 1;
  struct Ext {
    const char* name;
    int format;
  };
  static const Ext kExt[] = {
      {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},  {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},  {"oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
      {"aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16}, {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
      {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16},    {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16},
      {"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16},
  };
  for (const Ext& e : kExt)
    if (strcasecmp(ext, e.name) == 0) return e.format;
  return 0;
}

}  // namespace

std::unique_ptr<AudioSource> open_file_source(const std::string& path, std::string& error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    error = "cannot open '" + path + "': " + std::strerror(errno);
    return nullptr;
  }
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    error = "cannot read '" + path + "' as audio: " + sf_strerror(nullptr);
    return nullptr;
  }
  return std::make_unique<SndSource>(f, info);
}

std::unique_ptr<AudioSource> open_stdin_source(int rate, int channels) {
  return std::make_unique<StdinSource>(rate, channels);
}

std::unique_ptr<AudioSink> open_file_sink(const std::string& path, int rate, int channels,
                                          int fallbackFormat, std::string& error) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = container_for(path);
  if (info.format == 0) {
    info.format = (fallbackFormat & SF_FORMAT_TYPEMASK) | SF_FORMAT_PCM_16;
    if (!sf_format_check(&info)) info.format = fallbackFormat;
  }
  if (info.format == 0 || !sf_format_check(&info)) {
    error = "cannot tell which audio format to write for '" + path +
            "' (use an extension such as .wav or .flac)";
    return nullptr;
  }
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tmp = dir + "/." + base + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    error = "cannot create a file in '" + dir + "': " + std::strerror(errno);
    return nullptr;
  }
  SNDFILE* f = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
  if (f == nullptr) {
    error = "cannot write '" + path + "': " + sf_strerror(nullptr);
    ::close(fd);
    ::unlink(tmp.c_str());
    return nullptr;
  }
  return std::make_unique<SndSink>(f, std::move(tmp), path);
}

std::unique_ptr<AudioSink> open_stdout_sink(int channels) {
  return std::make_unique<StdoutSink>(channels);
}

int source_format(const AudioSource& source) {
  const auto* s = dynamic_cast<const SndSource*>(&source);
  return s != nullptr ? s->format() : 0;
}

}  // namespace vocrel::tool
