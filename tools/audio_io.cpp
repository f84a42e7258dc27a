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

#include "rate_route.h"

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

// The log lines in which libsndfile compares a chunk size in the header with
// what the file holds: "data : 320000 (should be 159979)". A header that
// declares more than the file holds belongs to a file cut short. Sizes of 0 or
// near 2^31 and 2^32 are what writers that cannot seek back leave in the
// header, not a length. The chunks that hold the samples are asked (W64's
// log compares only its outer "riff" chunk); a WAV's or AIFF's outer size is
// wrong in too many whole files to count.
constexpr const char* kSizeChunks[] = {"data", "SSND", "Data Size", "riff"};
constexpr unsigned long long kPlaceholderSize = 0x7FFF0000ull;

// The frames a header declares when it declares more than the file holds,
// else 0. `frames` is what libsndfile found in the file, `frameBytes` the
// bytes of one frame (0 for a codec).
long long declared_beyond_file(SNDFILE* f, long long frames, long long frameBytes) {
  std::array<char, 16384> log{};
  sf_command(f, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  const std::string text(log.data());
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    const auto colon = line.find(" : ");
    const auto should = line.find(" (should be ");
    if (colon == std::string::npos || should == std::string::npos) continue;
    const auto first = line.find_first_not_of(' ');
    const auto last = line.find_last_not_of(' ', colon);
    const std::string name = line.substr(first, last + 1 - first);
    if (std::find(std::begin(kSizeChunks), std::end(kSizeChunks), name) == std::end(kSizeChunks))
      continue;
    const unsigned long long declared = std::strtoull(line.c_str() + colon + 3, nullptr, 10);
    const unsigned long long held = std::strtoull(line.c_str() + should + 12, nullptr, 10);
    if (declared <= held || held == 0 || declared >= kPlaceholderSize) continue;
    // The missing bytes are whole frames once the last, partly held frame
    // (which libsndfile leaves out of `frames`) is counted in.
    const auto missing = static_cast<long long>(declared - held);
    if (frameBytes > 0) return frames + (missing + frameBytes - 1) / frameBytes;
    return std::llround(static_cast<double>(frames) * static_cast<double>(declared) /
                        static_cast<double>(held));
  }
  return 0;
}

// Bytes of one sample of a PCM or float subtype; 0 for a codec.
long long sample_bytes(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
      return 1;
    case SF_FORMAT_PCM_16:
      return 2;
    case SF_FORMAT_PCM_24:
      return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      return 4;
    case SF_FORMAT_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

// libsndfile's reason for a decode error, without its "Error : " and full stop.
std::string decoder_reason(SNDFILE* f) {
  std::string r = sf_strerror(f);
  if (r.rfind("Error : ", 0) == 0) r.erase(0, 8);
  if (!r.empty() && r.back() == '.') r.pop_back();
  return r;
}

class SndSource : public AudioSource {
 public:
  SndSource(SNDFILE* f, const SF_INFO& info) : file_(f) {
    rate = info.samplerate;
    channels = info.channels;
    totalFrames = static_cast<long long>(info.frames);
    declared_ = totalFrames > 0 && totalFrames < SF_COUNT_MAX ? totalFrames : 0;
    format = info.format;
    kind = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW ? "raw PCM"
                                                               : describe_format(info.format);
    for (int type = SF_STR_FIRST; type <= SF_STR_LAST; ++type)
      if (const char* text = sf_get_string(f, type); text != nullptr && *text != '\0')
        strings.emplace_back(type, text);
  }
  ~SndSource() override { sf_close(file_); }
  // Every format is read as float with full scale 1.0 (exact for 16- and
  // 24-bit PCM) and rounded to 16 bits, so float files keep their level and
  // values beyond full scale are clipped (and counted) rather than wrapped.
  // NaN and infinity carry no sound: they read as 0, digital silence (which
  // the frame feed keeps from the learnt noise), and are counted. A decode error
  // ends the input; damage() tells of it.
  long read(std::int16_t* x, std::size_t frames) override {
    if (!error_.empty()) return 0;
    buf_.resize(frames * static_cast<std::size_t>(channels));
    const sf_count_t n = sf_readf_float(file_, buf_.data(), static_cast<sf_count_t>(frames));
    if (sf_error(file_) != SF_ERR_NO_ERROR) error_ = decoder_reason(file_);
    if (n <= 0) return 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) * channels; ++i) {
      if (!std::isfinite(buf_[i])) {
        if (nonFinite++ == 0) firstNonFinite = framesRead + static_cast<long long>(i) / channels;
        buf_[i] = 0.0f;
      }
      const float v = std::nearbyint(buf_[i] * 32768.0f);
      if (!(v >= -32768.0f && v <= 32767.0f)) ++clipped;
      x[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
    framesRead += n;
    return static_cast<long>(n);
  }

  std::string damage() const override {
    const std::string at = describe_position(framesRead, rate);
    if (!error_.empty()) return "decoding failed after " + at + ": " + error_;
    long long declared = declared_;
    if (!streamed_ && declared <= framesRead)
      declared = declared_beyond_file(file_, totalFrames, channels * sample_bytes(format));
    if (declared > framesRead)
      return "it ends after " + at + ", short of the " + describe_position(declared, rate) +
             " its header declares";
    // libsndfile finds an Ogg file's length in its last page; a file cut
    // inside that page has none.
    if (!streamed_ && (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG && totalFrames == SF_COUNT_MAX)
      return "it ends after " + at + " inside a page: its last page is cut off";
    return "";
  }

 protected:
  bool streamed_ = false;   // read from a stream: no file length to hold the header against
  long long declared_ = 0;  // frames the header declares, 0 when it does not say

 private:
  SNDFILE* file_;
  std::vector<float> buf_;
  std::string error_;  // libsndfile's reason for the decode error that ended the input
};

// A stream (stdin, a FIFO, a device) with the bytes read so far kept until
// released, so that libsndfile can look at a header and seek back within it
// while the rest still streams. A named stream's descriptor is owned.
class StreamReader {
 public:
  explicit StreamReader(int fd = STDIN_FILENO) : fd_(fd) {}
  ~StreamReader() {
    if (fd_ != STDIN_FILENO) ::close(fd_);
  }
  StreamReader(const StreamReader&) = delete;
  StreamReader& operator=(const StreamReader&) = delete;
  // Reads until `size` bytes are held (or the stream ends).
  void fill(std::size_t size) {
    while (!ended_ && head_.size() < size) {
      unsigned char chunk[4096];
      const std::size_t want = std::min(sizeof chunk, size - head_.size());
      const ssize_t n = ::read(fd_, chunk, want);
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
  int fd_;
  std::vector<unsigned char> head_;
  long long base_ = 0;  // stream offset of head_[0]
  long long pos_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  bool released_ = false;
};

sf_count_t vio_length(void*) { return SF_COUNT_MAX; }  // a stream: unknown
sf_count_t vio_seek(sf_count_t offset, int whence, void* user) {
  auto* r = static_cast<StreamReader*>(user);
  const long long to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? r->tell() + offset : -1;
  return to >= 0 && r->seek(to) ? to : -1;
}
sf_count_t vio_read(void* dst, sf_count_t count, void* user) {
  return static_cast<sf_count_t>(
      static_cast<StreamReader*>(user)->read(dst, static_cast<std::size_t>(count)));
}
sf_count_t vio_write(const void*, sf_count_t, void*) { return 0; }
sf_count_t vio_tell(void* user) { return static_cast<StreamReader*>(user)->tell(); }

// A container read from a stream through libsndfile's virtual I/O.
class StreamSndSource : public SndSource {
 public:
  StreamSndSource(SNDFILE* f, const SF_INFO& info, std::unique_ptr<StreamReader> reader)
      : SndSource(f, info), reader_(std::move(reader)) {
    // A header written by a program that could not seek back holds a
    // placeholder length (sizes near 2^31 or 2^32 bytes), not the stream's.
    streamed_ = true;
    if (declared_ * channels * sample_bytes(format) >= static_cast<long long>(kPlaceholderSize))
      declared_ = 0;
    totalFrames = -1;
  }

 private:
  std::unique_ptr<StreamReader> reader_;  // outlives the SNDFILE (destroyed after)
};

// Raw PCM from a stream. A stream that ends inside a sample frame is padded with
// zeros (and a warning is printed), never dropped.
class RawStreamSource : public AudioSource {
 public:
  RawStreamSource(std::unique_ptr<StreamReader> reader, int r, int ch)
      : reader_(std::move(reader)) {
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
  std::unique_ptr<StreamReader> reader_;
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

// Writes samples, and first the strings still pending: libsndfile takes them
// until the first samples are written. A container that holds no such string
// (or not this one) leaves it out. libsndfile 1.2's MPEG encoder takes 16-bit
// stereo samples wrongly (they decode some 5 to 12 dB too loud); its float
// path is right, and the engine's 16-bit samples are exact as floats.
bool write_frames(SNDFILE* f, std::vector<std::pair<int, std::string>>& strings,
                  const std::int16_t* x, std::size_t frames) {
  for (const auto& [type, text] : strings) (void)sf_set_string(f, type, text.c_str());
  strings.clear();
  SF_INFO info{};
  sf_command(f, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
  // Float files take floats too: libsndfile would store 16-bit samples in
  // them unscaled (-76.0 for -76, not -76/32768).
  const int sub = info.format & SF_FORMAT_SUBMASK;
  const bool asFloat = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG ||
                       sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
  if (!asFloat)
    return sf_writef_short(f, x, static_cast<sf_count_t>(frames)) ==
           static_cast<sf_count_t>(frames);
  std::vector<float> v(frames * static_cast<std::size_t>(info.channels));
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = stream::from_pcm(x[i]);
  return sf_writef_float(f, v.data(), static_cast<sf_count_t>(frames)) ==
         static_cast<sf_count_t>(frames);
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
    return write_frames(file_, strings_, x, frames) && out_->seal();
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

bool writable(int format, int rate, int channels) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  return sf_format_check(&info) != 0;
}

const char* sample_format_name(SampleFormat f) {
  switch (f) {
    case SampleFormat::S16:
      return "s16";
    case SampleFormat::S24:
      return "s24";
    case SampleFormat::F32:
      return "f32";
    case SampleFormat::Same:
      break;
  }
  return "same";
}

// The full format to write, or 0 with the reason in `why`. A codec the
// extension names (.opus, .mp3) is written or refused, never swapped for
// another. A sample format asked for is written exactly or refused. Otherwise
// the first the container takes of: the input's own subtype (when it is the
// same container), the input's 24-bit, 32-bit or float samples, 16-bit PCM,
// then the container's codecs in libsndfile's order.
int choose_format(int major, int impliedSubtype, int inputFormat, SampleFormat want, int rate,
                  int channels, std::string& why) {
  static constexpr std::array<int, 4> kSubtype = {0, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24,
                                                  SF_FORMAT_FLOAT};
  const std::string shape =
      std::to_string(rate) + " Hz, " + std::to_string(channels) + " channel(s)";
  if (impliedSubtype != 0) {
    if (want != SampleFormat::Same) {
      why = describe_format(major | impliedSubtype) + " is compressed: --sample-format " +
            sample_format_name(want) + " does not apply to it";
      return 0;
    }
    // libsndfile's format check passes Opus at any rate; its encoder takes these.
    static constexpr std::array<int, 5> kOpusRates = {8000, 12000, 16000, 24000, 48000};
    if (impliedSubtype == SF_FORMAT_OPUS &&
        std::find(kOpusRates.begin(), kOpusRates.end(), rate) == kOpusRates.end()) {
      why = "Opus takes 8, 12, 16, 24 or 48 kHz only, not " + std::to_string(rate) + " Hz";
      return 0;
    }
    if (writable(major | impliedSubtype, rate, channels)) return major | impliedSubtype;
    why =
        "this libsndfile cannot write " + describe_format(major | impliedSubtype) + "s of " + shape;
    return 0;
  }
  if (want != SampleFormat::Same) {
    const int format = major | kSubtype[static_cast<std::size_t>(want)];
    if (writable(format, rate, channels)) return format;
    why = "a " + describe_format(major) + " cannot hold " + sample_format_name(want) +
          " samples (at " + shape + ")";
    return 0;
  }
  const int inSub = inputFormat & SF_FORMAT_SUBMASK;
  const bool keepInput = inSub == SF_FORMAT_PCM_24 || inSub == SF_FORMAT_PCM_32 ||
                         inSub == SF_FORMAT_FLOAT || inSub == SF_FORMAT_DOUBLE;
  std::vector<int> tries;
  if ((inputFormat & SF_FORMAT_TYPEMASK) == major) tries.push_back(inSub);
  if (keepInput) tries.push_back(inSub);
  tries.push_back(SF_FORMAT_PCM_16);
  for (const SF_FORMAT_INFO& info :
       format_list(SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE))
    tries.push_back(info.format);
  for (int sub : tries)
    if (sub != 0 && writable(major | sub, rate, channels)) return major | sub;
  why = "this libsndfile cannot write " + describe_format(major) + "s of " + shape;
  return 0;
}

}  // namespace

std::string describe_position(long long frame, int rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f s (frame %lld)",
                rate > 0 ? static_cast<double>(frame) / rate : 0.0, frame);
  return text;
}

std::unique_ptr<AudioSource> open_source(const std::string& path, const RawSpec& raw,
                                         std::string& error) {
  const bool fromStdin = path == "-";
  const std::string what = fromStdin ? std::string("the input on stdin") : "'" + path + "'";
  const bool givenShape = raw.rate != 0 || raw.channels != 0;
  struct stat st {};
  if (!fromStdin && ::stat(path.c_str(), &st) != 0) {
    error = "cannot open " + what + ": " + errno_text(errno);
    return nullptr;
  }
  // A FIFO, a device or a socket has no length to read a header against: it
  // is read as stdin is, to its end.
  const bool stream = fromStdin || S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) ||
                      S_ISSOCK(st.st_mode) || S_ISBLK(st.st_mode);
  std::unique_ptr<AudioSource> src;
  if (stream) {
    int fd = STDIN_FILENO;
    if (!fromStdin && (fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
      error = "cannot open " + what + ": " + errno_text(errno);
      return nullptr;
    }
    auto reader = std::make_unique<StreamReader>(fd);
    reader->fill(4);
    const bool rawStream = raw.force || (!fromStdin && has_raw_extension(path));
    if (!rawStream && starts_like_container(reader->head())) {
      SF_VIRTUAL_IO vio = {vio_length, vio_seek, vio_read, vio_write, vio_tell};
      SF_INFO info{};
      SNDFILE* f = sf_open_virtual(&vio, SFM_READ, &info, reader.get());
      if (f == nullptr) {
        error = "cannot read " + what + " as audio: " + sndfile_reason(nullptr);
        return nullptr;
      }
      reader->release();
      src = std::make_unique<StreamSndSource>(f, info, std::move(reader));
    } else {
      if (raw.rate == 0) {
        error = raw_needs(what);
        return nullptr;
      }
      return std::make_unique<RawStreamSource>(std::move(reader), raw.rate,
                                               raw.channels != 0 ? raw.channels : 1);
    }
  } else {
    SF_INFO info{};
    const bool rawFile = raw.force || has_raw_extension(path);
    // An empty file has no header to recognise: its own reason, not the raw-PCM hint.
    if (!rawFile && S_ISREG(st.st_mode) && st.st_size == 0) {
      error = what + " is empty (0 bytes): there is no audio to clean";
      return nullptr;
    }
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
      // Only a file in no format libsndfile knows may be PCM without a header.
      if (!rawFile && sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT)
        error += " (raw 16-bit PCM needs --raw-in and --rate)";
      return nullptr;
    }
    src = std::make_unique<SndSource>(f, info);
    if (rawFile) return src;
  }
  // A rate no converter takes would stall or fail only after the output is
  // opened; a header that says it is refused first.
  if (src->rate < stream::kMinHostRate || src->rate > stream::kMaxHostRate) {
    error = what + " is a " + src->kind + " whose header gives a sample rate of " +
            std::to_string(src->rate) + " Hz; " + std::to_string(stream::kMinHostRate) + ".." +
            std::to_string(stream::kMaxHostRate) + " Hz can be cleaned";
    return nullptr;
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
  std::string why;
  const int format = choose_format(major, implied, inputFormat, sampleFormat, rate, channels, why);
  if (format == 0) {
    error = "cannot write '" + path + "': " + why;
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
