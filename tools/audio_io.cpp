#include "audio_io.h"

#include <fcntl.h>
#include <limits.h>
#include <sndfile.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vocrel::tool {

namespace {

std::string errno_text(int e) { return std::strerror(e); }

// libsndfile's reasons, worded for users rather than for its API.
std::string sndfile_reason(SNDFILE* f) {
  std::string r = sf_strerror(f);
  if (r.find("SF_INFO") != std::string::npos)
    return "the container cannot hold this sample rate, channel count or sample format";
  return r;
}

std::string describe_format(int format) {
  SF_FORMAT_INFO info{};
  info.format = format & SF_FORMAT_TYPEMASK;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || info.name == nullptr)
    return "audio file";
  std::string name = info.name;
  const auto paren = name.find(" (");
  return name.substr(0, paren) + " file";
}

// ---- sources -----------------------------------------------------------------------

class SndSource : public AudioSource {
 public:
  SndSource(SNDFILE* f, const SF_INFO& info) : file_(f) {
    rate = info.samplerate;
    channels = info.channels;
    totalFrames = static_cast<long long>(info.frames);
    format = info.format;
    kind = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW ? "raw PCM"
                                                               : describe_format(info.format);
  }
  ~SndSource() override { sf_close(file_); }
  // Every format is read as float with full scale 1.0 (exact for 16- and
  // 24-bit PCM) and rounded to 16 bits, so float files keep their level and
  // values beyond full scale are clipped (and counted) rather than wrapped.
  long read(std::int16_t* x, std::size_t frames) override {
    buf_.resize(frames * static_cast<std::size_t>(channels));
    const sf_count_t n = sf_readf_float(file_, buf_.data(), static_cast<sf_count_t>(frames));
    if (n <= 0) return sf_error(file_) != SF_ERR_NO_ERROR ? -1 : 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) * channels; ++i) {
      const float v = std::nearbyint(buf_[i] * 32768.0f);
      if (!(v >= -32768.0f && v <= 32767.0f)) ++clipped;
      x[i] = std::isnan(v) ? 0 : static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
    return static_cast<long>(n);
  }

 private:
  SNDFILE* file_;
  std::vector<float> buf_;
};

// stdin with the bytes read so far kept until released, so that libsndfile
// can look at a header and seek back within it while the rest still streams.
class StdinReader {
 public:
  // Reads until `size` bytes are held (or the stream ends).
  void fill(std::size_t size) {
    while (!ended_ && head_.size() < size) {
      unsigned char chunk[4096];
      const std::size_t want = std::min(sizeof chunk, size - head_.size());
      const ssize_t n = ::read(STDIN_FILENO, chunk, want);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ended_ = true;
        failed_ = n < 0;
        break;
      }
      head_.insert(head_.end(), chunk, chunk + n);
    }
  }
  // Copies up to `count` bytes from the current position; blocks until they
  // are there or the stream ends.
  std::size_t read(void* dst, std::size_t count) {
    fill(pos_ - base_ + count);
    const std::size_t at = static_cast<std::size_t>(pos_ - base_);
    const std::size_t n = std::min(count, head_.size() - std::min(at, head_.size()));
    std::memcpy(dst, head_.data() + at, n);
    pos_ += n;
    if (released_) {  // a streaming reader never looks back
      head_.erase(head_.begin(), head_.begin() + static_cast<std::ptrdiff_t>(at + n));
      base_ = pos_;
    }
    return n;
  }
  // Seeks within what has been read only: a header parser that looks ahead
  // for more chunks must not pull the whole stream in.
  bool seek(long long to) {
    if (to < base_ || to > base_ + static_cast<long long>(head_.size())) return false;
    pos_ = to;
    return true;
  }
  long long tell() const { return pos_; }
  const std::vector<unsigned char>& head() const { return head_; }
  void release() { released_ = true; }
  bool failed() const { return failed_; }

 private:
  std::vector<unsigned char> head_;
  long long base_ = 0;  // stream offset of head_[0]
  long long pos_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  bool released_ = false;
};

sf_count_t vio_length(void*) { return SF_COUNT_MAX; }  // a stream: unknown
sf_count_t vio_seek(sf_count_t offset, int whence, void* user) {
  auto* r = static_cast<StdinReader*>(user);
  const long long to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? r->tell() + offset : -1;
  return to >= 0 && r->seek(to) ? to : -1;
}
sf_count_t vio_read(void* dst, sf_count_t count, void* user) {
  return static_cast<sf_count_t>(
      static_cast<StdinReader*>(user)->read(dst, static_cast<std::size_t>(count)));
}
sf_count_t vio_write(const void*, sf_count_t, void*) { return 0; }
sf_count_t vio_tell(void* user) { return static_cast<StdinReader*>(user)->tell(); }

// A container read from stdin through libsndfile's virtual I/O.
class StdinSndSource : public SndSource {
 public:
  StdinSndSource(SNDFILE* f, const SF_INFO& info, std::unique_ptr<StdinReader> reader)
      : SndSource(f, info), reader_(std::move(reader)) {
    totalFrames = -1;  // a header written by a streaming program may not know it
  }

 private:
  std::unique_ptr<StdinReader> reader_;  // outlives the SNDFILE (destroyed after)
};

// Raw PCM on stdin. A stream that ends inside a sample frame is padded with
// zeros (and a warning is printed), never dropped.
class RawStdinSource : public AudioSource {
 public:
  RawStdinSource(std::unique_ptr<StdinReader> reader, int r, int ch) : reader_(std::move(reader)) {
    reader_->release();
    rate = r;
    channels = ch;
    kind = "raw PCM";
  }
  long read(std::int16_t* x, std::size_t frames) override {
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels);
    auto* bytes = reinterpret_cast<unsigned char*>(x);
    // Blocks until the whole request is there: a live stream is cleaned one
    // frame per request.
    std::size_t got = reader_->read(bytes, frames * frameBytes);
    if (got == 0 && reader_->failed()) return -1;
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
  std::unique_ptr<StdinReader> reader_;
};

// The first bytes of the containers libsndfile reads; anything else on stdin
// is raw PCM (raw samples could look like a compressed frame's sync word, so
// libsndfile is not asked to guess).
bool starts_like_container(const std::vector<unsigned char>& head) {
  static constexpr const char* kMagic[] = {"RIFF", "RIFX", "RF64", "FORM", "fLaC", "OggS",
                                           ".snd", "caff", "riff", "NIST", "ID3"};
  for (const char* m : kMagic) {
    const std::size_t n = std::strlen(m);
    if (head.size() >= n && std::memcmp(head.data(), m, n) == 0) return true;
  }
  return false;
}

bool has_raw_extension(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const char* ext = path.c_str() + dot + 1;
  return strcasecmp(ext, "raw") == 0 || strcasecmp(ext, "pcm") == 0;
}

std::string raw_needs(const std::string& what) {
  return what + " is raw 16-bit PCM with no header: give its --rate (and --channels 2 for stereo)";
}

// ---- sinks -------------------------------------------------------------------------

// libsndfile writes through these into the output, which decides where the
// bytes go (a temporary, a file, a stream).
sf_count_t out_length(void* out) { return static_cast<OutputFile*>(out)->length(); }
sf_count_t out_seek(sf_count_t offset, int whence, void* out) {
  auto* o = static_cast<OutputFile*>(out);
  return o->seek(offset, whence) ? o->tell() : -1;
}
sf_count_t out_read(void* dst, sf_count_t count, void* out) {
  return static_cast<OutputFile*>(out)->read(dst, count);
}
sf_count_t out_write(const void* src, sf_count_t count, void* out) {
  return static_cast<OutputFile*>(out)->write(src, count);
}
sf_count_t out_tell(void* out) { return static_cast<OutputFile*>(out)->tell(); }

class SndSink : public AudioSink {
 public:
  explicit SndSink(std::unique_ptr<OutputFile> out) : out_(std::move(out)) {}
  ~SndSink() override {
    if (file_ != nullptr) sf_close(file_);
  }
  bool open(SF_INFO& info) {
    SF_VIRTUAL_IO vio = {out_length, out_seek, out_read, out_write, out_tell};
    file_ = sf_open_virtual(&vio, SFM_WRITE, &info, out_.get());
    return file_ != nullptr;
  }
  // A stream gets each piece as it is written.
  bool write(const std::int16_t* x, std::size_t frames) override {
    if (frames == 0) return true;
    return sf_writef_short(file_, x, static_cast<sf_count_t>(frames)) ==
               static_cast<sf_count_t>(frames) &&
           out_->seal();
  }
  bool streaming() const override { return !out_->staged(); }
  std::string write_error() const override {
    if (out_->write_errno() != 0) return out_->write_error();
    return "cannot write '" + out_->name() + "': " + sndfile_reason(file_);
  }
  bool commit(std::string& error) override {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
      error = out_->write_errno() != 0
                  ? out_->write_error()
                  : "cannot write '" + out_->name() + "': " + sf_error_number(closed);
      return false;
    }
    return out_->commit(error);
  }

 private:
  std::unique_ptr<OutputFile> out_;  // outlives the SNDFILE (closed first)
  SNDFILE* file_ = nullptr;
};

// Containers whose header can say "length unknown" in a way libsndfile reads
// back, or that need no going back: what a pipe or a device can be given.
// (A CAF with an unknown length is refused by libsndfile, and an MP3 whose
// header was not completed is read short.)
bool streams_well(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_AU:
    case SF_FORMAT_FLAC:
    case SF_FORMAT_OGG:
    case SF_FORMAT_RAW:
      return true;
    default:
      return false;
  }
}

class StdoutSink : public AudioSink {
 public:
  explicit StdoutSink(int channels) : channels_(channels) {}
  // Flushed at every write: a live stream hands each cleaned frame on at once.
  bool write(const std::int16_t* x, std::size_t frames) override {
    const std::size_t n = frames * static_cast<std::size_t>(channels_);
    if (n == 0) return true;
    errno = 0;
    const bool ok = std::fwrite(x, sizeof *x, n, stdout) == n && std::fflush(stdout) == 0;
    error_ = errno;
    return ok;
  }
  bool streaming() const override { return true; }
  std::string write_error() const override {
    return "cannot write to stdout: " + errno_text(error_ != 0 ? error_ : EIO);
  }
  bool commit(std::string& error) override {
    if (std::fflush(stdout) == 0) return true;
    error = "cannot write to stdout: " + errno_text(errno);
    return false;
  }

 private:
  int channels_;
  int error_ = 0;
};

struct Alias {
  const char* ext;
  int major;
  int subtype;  // 0: chosen by sample format
};
constexpr Alias kAliases[] = {
    {"wav", SF_FORMAT_WAV, 0},
    {"aif", SF_FORMAT_AIFF, 0},
    {"ogg", SF_FORMAT_OGG, 0},
    {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
    {"mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III},
};

// libsndfile's list of containers or of sample formats (the count command
// and the item command of one list).
std::vector<SF_FORMAT_INFO> format_list(int countCommand, int itemCommand) {
  int count = 0;
  sf_command(nullptr, countCommand, &count, sizeof count);
  std::vector<SF_FORMAT_INFO> list(static_cast<std::size_t>(std::max(count, 0)));
  for (int k = 0; k < count; ++k) {
    list[static_cast<std::size_t>(k)].format = k;
    sf_command(nullptr, itemCommand, &list[static_cast<std::size_t>(k)], sizeof(SF_FORMAT_INFO));
  }
  return list;
}

// The container an extension names (0: none that libsndfile knows), and a
// subtype it implies.
int container_for(const std::string& path, int& subtype) {
  subtype = 0;
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return -1;
  const char* ext = path.c_str() + dot + 1;
  for (const Alias& a : kAliases)
    if (strcasecmp(ext, a.ext) == 0) {
      subtype = a.subtype;
      return a.major;
    }
  for (const SF_FORMAT_INFO& info : format_list(SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR))
    if (info.extension != nullptr && strcasecmp(ext, info.extension) == 0) return info.format;
  return 0;
}

// The full format to write: the container, then the first subtype it takes
// from: the one asked for (or the input's), 16-bit PCM, the container's codec.
int choose_format(int major, int impliedSubtype, int inputFormat, SampleFormat want, int rate,
                  int channels) {
  static constexpr std::array<int, 4> kSubtype = {0, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24,
                                                  SF_FORMAT_FLOAT};
  const int inSub = inputFormat & SF_FORMAT_SUBMASK;
  const bool keepInput = inSub == SF_FORMAT_PCM_24 || inSub == SF_FORMAT_PCM_32 ||
                         inSub == SF_FORMAT_FLOAT || inSub == SF_FORMAT_DOUBLE;
  int first = kSubtype[static_cast<std::size_t>(want)];
  if (want == SampleFormat::Same) first = keepInput ? inSub : SF_FORMAT_PCM_16;
  std::vector<int> tries = {impliedSubtype, first, SF_FORMAT_PCM_16};
  for (const SF_FORMAT_INFO& info :
       format_list(SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE))
    tries.push_back(info.format);
  for (int sub : tries) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = major | sub;
    if (sub != 0 && sf_format_check(&info)) return info.format;
  }
  return 0;
}

}  // namespace

std::unique_ptr<AudioSource> open_source(const std::string& path, const RawSpec& raw,
                                         std::string& error) {
  const bool fromStdin = path == "-";
  const std::string what = fromStdin ? std::string("the input on stdin") : "'" + path + "'";
  const bool givenShape = raw.rate != 0 || raw.channels != 0;
  std::unique_ptr<AudioSource> src;
  if (fromStdin) {
    auto reader = std::make_unique<StdinReader>();
    reader->fill(4);
    if (!raw.force && starts_like_container(reader->head())) {
      SF_VIRTUAL_IO vio = {vio_length, vio_seek, vio_read, vio_write, vio_tell};
      SF_INFO info{};
      SNDFILE* f = sf_open_virtual(&vio, SFM_READ, &info, reader.get());
      if (f == nullptr) {
        error = "cannot read " + what + " as audio: " + sndfile_reason(nullptr);
        return nullptr;
      }
      reader->release();
      src = std::make_unique<StdinSndSource>(f, info, std::move(reader));
    } else {
      if (raw.rate == 0) {
        error = raw_needs(what);
        return nullptr;
      }
      return std::make_unique<RawStdinSource>(std::move(reader), raw.rate,
                                              raw.channels != 0 ? raw.channels : 1);
    }
  } else {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      error = "cannot open " + what + ": " + errno_text(errno);
      return nullptr;
    }
    SF_INFO info{};
    const bool rawFile = raw.force || has_raw_extension(path);
    if (rawFile) {
      if (raw.rate == 0) {
        error = raw_needs(what);
        return nullptr;
      }
      info.samplerate = raw.rate;
      info.channels = raw.channels != 0 ? raw.channels : 1;
      info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    }
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) {
      error = "cannot read " + what + " as audio: " + sndfile_reason(nullptr);
      if (!rawFile) error += " (raw 16-bit PCM needs --raw-in and --rate)";
      return nullptr;
    }
    src = std::make_unique<SndSource>(f, info);
    if (rawFile) return src;
  }
  // A container says its own rate and channels: a second say would be ignored.
  if (givenShape) {
    error = "--rate and --channels are for raw PCM only; " + what + " is a " + src->kind +
            " that gives " + std::to_string(src->rate) + " Hz, " + std::to_string(src->channels) +
            " channel(s) itself (use --raw-in to read it raw)";
    return nullptr;
  }
  return src;
}

std::unique_ptr<AudioSink> open_file_sink(const std::string& path, int rate, int channels,
                                          int inputFormat, SampleFormat sampleFormat,
                                          const OutputRules& rules, std::string& error) {
  int implied = 0;
  int major = container_for(path, implied);
  if (major < 0) major = inputFormat != 0 ? inputFormat & SF_FORMAT_TYPEMASK : SF_FORMAT_WAV;
  if (major == 0) {
    error = "cannot tell which audio format to write for '" + path +
            "': libsndfile knows no such extension (use .wav, .flac, .ogg, .aiff, .au, .caf, "
            ".w64 or .raw)";
    return nullptr;
  }
  const int format = choose_format(major, implied, inputFormat, sampleFormat, rate, channels);
  if (format == 0) {
    error = "cannot write '" + path + "': this libsndfile cannot write " + describe_format(major) +
            "s of " + std::to_string(rate) + " Hz, " + std::to_string(channels) + " channel(s)";
    return nullptr;
  }
  OutputRules streamRules = rules;
  if (!streams_well(format))
    streamRules.noStream = "a pipe or device cannot take a " + describe_format(format) +
                           ", whose header needs the lengths (use .wav, .au, .flac, .ogg or "
                           ".raw)";
  std::unique_ptr<OutputFile> out = open_output(path, streamRules, error);
  if (!out) return nullptr;
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  auto sink = std::make_unique<SndSink>(std::move(out));
  if (!sink->open(info)) {
    error = "cannot write '" + path + "': " + sndfile_reason(nullptr);
    return nullptr;
  }
  return sink;
}

std::unique_ptr<AudioSink> open_stdout_sink(int channels) {
  return std::make_unique<StdoutSink>(channels);
}

}  // namespace vocrel::tool
