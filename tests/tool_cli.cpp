// vocrel-clean end to end on files the test writes itself: format, length
// and timing kept at native and converted rates, sample formats, refusals
// that leave nothing behind, outputs that are not regular files, signals, and
// streams through stdin and stdout.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using vocrel_test::Samples;

#ifdef VOCREL_CLEAN_EXE
constexpr const char kTool[] = VOCREL_CLEAN_EXE;
#else
constexpr const char kTool[] = "";  // not built in this configuration
#endif

struct Wav {
  int rate = 0, channels = 1;
  Samples pcm;  // interleaved
  std::size_t frames() const { return pcm.size() / static_cast<std::size_t>(channels); }
};

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// 16-bit PCM, or 32-bit float (full scale 1.0) scaled by `gain`.
void write_wav(const fs::path& path, const Wav& w, bool asFloat = false, float gain = 1.0f) {
  const std::uint32_t width = asFloat ? 4 : 2, bytes = std::uint32_t(w.pcm.size()) * width;
  const std::uint32_t rate = w.rate, block = std::uint32_t(w.channels) * width;
  const std::uint32_t format = (asFloat ? 3u : 1u) | std::uint32_t(w.channels) << 16;
  // "RIFF", size, "WAVE", "fmt ", 16, format and channels, rate, byte rate,
  // block size and bits, "data", size.
  const std::uint32_t fmt[] = {0x46464952, 36 + bytes,   0x45564157,
                               0x20746D66, 16,           format,
                               rate,       rate * block, block | (8 * width) << 16,
                               0x61746164, bytes};
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(fmt), sizeof fmt);
  for (std::int16_t v : w.pcm) {
    const float x = gain * v / 32768.0f;
    f.write(asFloat ? reinterpret_cast<const char*>(&x) : reinterpret_cast<const char*>(&v), width);
  }
}

// Reads a 16-bit PCM WAV, walking its chunks.
Wav read_wav(const fs::path& path) {
  const std::string s = slurp(path);
  auto u32 = [&](std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
  };
  Wav w;
  for (std::size_t at = 12; s.compare(0, 4, "RIFF") == 0 && at + 8 <= s.size();
       at += 8 + u32(at + 4)) {
    if (s.compare(at, 4, "fmt ") == 0) {
      w.channels = static_cast<unsigned char>(s[at + 10]);
      w.rate = static_cast<int>(u32(at + 12));
    } else if (s.compare(at, 4, "data") == 0) {
      w.pcm.resize(std::min<std::size_t>(u32(at + 4), s.size() - at - 8) / 2);
      std::memcpy(w.pcm.data(), s.data() + at + 8, w.pcm.size() * 2);
    }
  }
  return w;
}

// Background noise at about -50 dBFS with loud bursts from 0.6 s on, which
// pass the noise reduction and mark positions in time.
Wav bursts(int rate, int channels, double seconds) {
  Wav w{rate, channels, {}};
  vocrel_test::Lcg32 rng{777};
  for (std::size_t i = 0; i < static_cast<std::size_t>(seconds * rate); ++i) {
    const double t = static_cast<double>(i) / rate;
    for (int c = 0; c < channels; ++c)
      w.pcm.push_back(rng.uniform(t > 0.6 && std::fmod(t, 0.5) < 0.15 ? 12000 / (c + 1) : 100));
  }
  return w;
}

// The lag (output behind input) in +-maxLag that best matches channel c
// around the first burst.
int best_lag(const Wav& in, const Wav& out, int c, int maxLag) {
  double best = -1;
  int bestLag = 0;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double acc = 0;
    for (long i = long(0.55 * in.rate); i < long(0.8 * in.rate) && i + lag < long(out.frames());
         ++i)
      acc += double(in.pcm[i * in.channels + c]) * out.pcm[(i + lag) * out.channels + c];
    if (acc > best) best = acc, bestLag = lag;
  }
  return bestLag;
}

class ToolCli : public testing::Test {
 protected:
  void SetUp() override {
    if (kTool[0] == '\0') GTEST_SKIP() << "vocrel-clean is not built in this configuration";
    char tmpl[] = "/tmp/vocrel-clean-test.XXXXXX";
    ::signal(SIGPIPE, SIG_IGN);
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // Exit code, stderr and stdout of one run.
  int run(const std::string& args, const std::string& stdinFile = "/dev/null") {
    const int rc = std::system((std::string(kTool) + " " + args + " <" + stdinFile + " >" +
                                path("stdout") + " 2>" + path("stderr"))
                                   .c_str());
    err = slurp(path("stderr"));
    out = slurp(path("stdout"));
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  // Cleans `in` through files; the output must keep rate, channels and length.
  Wav clean(const Wav& in, const std::string& opts = "", bool asFloat = false) {
    write_wav(path("in.wav"), in, asFloat);
    EXPECT_EQ(run(opts + path("in.wav") + " " + path("out.wav")), 0) << err;
    Wav o = read_wav(path("out.wav"));
    EXPECT_TRUE(o.rate == in.rate && o.channels == in.channels) << o.rate << " " << o.channels;
    return o;
  }
  fs::path dir_;
  std::string err, out;
};

// Native and converted rates: same format and length out, the bursts at
// their input positions (within one sample after conversion); --raw keeps
// the one-frame delay and whole frames; a float file gives the 16-bit result.
TEST_F(ToolCli, FormatLengthAndTiming) {
  const int cases[][3] = {{8000, 1, 0}, {48000, 2, 0}, {44100, 2, 1}, {22050, 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " Hz, " << c[1] << " ch");
    const Wav in = bursts(c[0], c[1], 0.85), o = clean(in);
    EXPECT_NE(err.find(c[2] ? "cleaned at " : "real-time factor"), std::string::npos) << err;
    ASSERT_EQ(o.frames(), in.frames());
    for (int ch = 0; ch < c[1]; ++ch)
      EXPECT_LE(std::abs(best_lag(in, o, ch, c[0] / 100 + 8)), c[2]);
  }
  const Wav in = bursts(16000, 1, 0.9), raw = clean(in, "--raw ");
  EXPECT_EQ(raw.frames(), 14400u);
  EXPECT_EQ(best_lag(in, raw, 0, 200), 160);
  const Wav stereo = bursts(16000, 2, 0.8);
  EXPECT_EQ(clean(stereo, "--sample-format s16 ", true).pcm, clean(stereo).pcm);
}

// Refused inputs and settings: a clear message, a non-zero exit, an existing
// output left as it was and no temporary left behind. (Every option's parsing
// is CleanOptions' test; every tunable's range the Python suite's, through
// this tool.)
TEST_F(ToolCli, RefusalsLeaveNothingBehind) {
  write_wav(path("good.wav"), bursts(16000, 1, 0.3));
  write_wav(path("nine.wav"), bursts(16000, 9, 0.1));
  std::ofstream(path("junk.wav")) << "this is not audio";
  std::ofstream(path("x.raw")) << "0123456789";
  const std::string good = path("good.wav") + " ", dst = path("out.wav");
  const std::tuple<std::string, const char*, int> cases[] = {
      {path("missing.wav") + " " + dst, "No such file", 1},
      {path("junk.wav") + " " + dst, "as audio", 1},
      {path("nine.wav") + " " + dst, "9 channels; up to 8 are supported", 1},
      {"--max-nr 25 " + good + dst, "2..20 dB (status -15); check --max-nr", 1},
      {good + path("out.xyz"), "no such extension", 1},
      {"--vad3 5 " + good + dst, "--vad3 must be 0 or 1", 2},
      {"--rate 16000 " + good + dst, "for raw PCM only", 1},
      {path("x.raw") + " " + dst, "give its --rate", 1},
      {"- " + dst, "give its --rate", 1},
  };
  for (const auto& [args, message, code] : cases) {
    std::ofstream(dst) << "keep";
    EXPECT_EQ(run(args), code) << args;
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_EQ(err.find("SF_"), std::string::npos) << err;  // the user's words, not the API's
    EXPECT_EQ(slurp(dst), "keep") << args;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 7) << args;
  }
}

// Raw PCM through stdin and stdout: as long as the input (a partial last
// frame padded and flushed) and equal to the file path's result; a stream
// that stops inside a sample is padded with a warning.
TEST_F(ToolCli, RawStreamMatchesTheFilePath) {
  Wav in = bursts(16000, 2, 0.5);
  in.pcm.resize(in.pcm.size() - 2 * 37);
  std::ofstream(path("in.raw"), std::ios::binary)
      .write(reinterpret_cast<const char*>(in.pcm.data()), std::streamsize(in.pcm.size() * 2));
  ASSERT_EQ(run("--rate 16000 --channels 2 - -", path("in.raw")), 0) << err;
  const std::string streamed = out;
  const Samples file = clean(in).pcm;
  ASSERT_EQ(streamed.size(), file.size() * 2);
  EXPECT_EQ(std::memcmp(streamed.data(), file.data(), streamed.size()), 0);
  std::ofstream(path("odd.raw"), std::ios::binary).write(streamed.data(), 321);
  EXPECT_EQ(run("--rate 16000 -q - -", path("odd.raw")), 0);
  EXPECT_EQ(out.size(), 322u);
  EXPECT_NE(err.find("padded"), std::string::npos);
}

// Loud white noise (-30 dBFS) at 48 kHz: the automatic threshold (the default,
// or "auto") removes it and says which threshold it chose; the library's
// fixed -55 dB leaves it.
TEST_F(ToolCli, AutomaticThresholdIsTheDefault) {
  Wav in{48000, 1, {}};
  vocrel_test::Lcg32 rng{99};
  for (int i = 0; i < 3 * 48000; ++i) in.pcm.push_back(rng.uniform(1800));
  auto tail_db = [&](const Wav& o) {
    double ei = 0, eo = 0;
    for (std::size_t i = 48000; i < in.pcm.size(); ++i)
      ei += double(in.pcm[i]) * in.pcm[i], eo += double(o.pcm[i]) * o.pcm[i];
    return 10 * std::log10(eo / ei);
  };
  const Wav dflt = clean(in);
  EXPECT_LT(tail_db(dflt), -10.0);
  EXPECT_NE(err.find("level threshold auto: -3"), std::string::npos) << err;
  EXPECT_EQ(clean(in, "--level-thr auto ").pcm, dflt.pcm);
  EXPECT_GT(tail_db(clean(in, "--level-thr -55 ")), -1.0);
  EXPECT_EQ(err.find("level threshold"), std::string::npos) << err;
}

// The output name picks the container; 24-bit and float inputs keep their
// sample format unless asked; float overs are clipped with a count; a 48 kHz
// file in mode 1 says that it runs at 16 kHz.
TEST_F(ToolCli, FormatsFollowTheNamesAndTheInput) {
  const Wav in = bursts(48000, 1, 0.5);
  write_wav(path("f.wav"), in, true);
  auto header = [&](const std::string& name, std::size_t at, std::size_t n) {
    return slurp(path(name)).substr(at, n);
  };
  ASSERT_EQ(run("-q " + path("f.wav") + " " + path("o.flac")), 0) << err;
  EXPECT_EQ(header("o.flac", 0, 4), "fLaC");
  ASSERT_EQ(run("-q " + path("f.wav") + " " + path("o.wav")), 0) << err;
  EXPECT_EQ(header("o.wav", 20, 2), std::string("\x03\x00", 2));  // float, as the input
  ASSERT_EQ(run("-q --sample-format s24 " + path("f.wav") + " " + path("o.wav")), 0) << err;
  EXPECT_EQ(header("o.wav", 34, 1), "\x18");  // 24 bits per sample
  ASSERT_EQ(run("-q --sample-format s16 " + path("f.wav") + " " + path("o")), 0) << err;
  EXPECT_EQ(header("o", 0, 4) + header("o", 34, 1), "RIFF\x10");  // no extension: the input's

  write_wav(path("loud.wav"), in, true, 400.0f);
  ASSERT_EQ(run("-q " + path("loud.wav") + " " + path("o.wav")), 0);
  EXPECT_NE(err.find("beyond full scale and were clipped"), std::string::npos) << err;
  write_wav(path("in.wav"), in);
  ASSERT_EQ(run("--mode 1 " + path("in.wav") + " " + path("o.wav")), 0);
  EXPECT_NE(err.find("cleaned at 16000 Hz, so content above 8000 Hz is removed"), std::string::npos)
      << err;
}

// Only a regular (or missing) output is replaced; a FIFO, a device and the
// file behind a link are written into; a full device names the reason; a
// file cleaned in place works.
TEST_F(ToolCli, OutputsThatAreNotRegularFilesSurvive) {
  const Wav in = bursts(16000, 1, 0.4);
  const std::string src = path("in.wav");
  write_wav(src, in);
  ASSERT_EQ(run("-q " + src + " " + path("want.wav")), 0) << err;
  const std::string want = slurp(path("want.wav"));

  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  std::string fromFifo;
  std::thread reader([&] { fromFifo = slurp(path("fifo")); });
  EXPECT_EQ(run("-q " + src + " " + path("fifo")), 0) << err;
  // Should the tool never have opened the FIFO, this lets the reader go.
  if (const int fd = ::open(path("fifo").c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
  reader.join();
  EXPECT_EQ(fromFifo, want);
  struct stat st;
  EXPECT_TRUE(::lstat(path("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));

  fs::create_symlink("want.wav", path("link.wav"));
  std::ofstream(path("want.wav")) << "old";
  EXPECT_EQ(run("-q " + src + " " + path("link.wav")), 0) << err;
  EXPECT_TRUE(fs::is_symlink(path("link.wav")));
  EXPECT_EQ(slurp(path("want.wav")), want);

  EXPECT_EQ(run("-q " + src + " /dev/null"), 0) << err;
  EXPECT_EQ(run("-q " + src + " /dev/full"), 1);
  EXPECT_NE(err.find("'/dev/full': No space left on device"), std::string::npos) << err;
  for (const char* dev : {"/dev/null", "/dev/full"})
    EXPECT_TRUE(::lstat(dev, &st) == 0 && S_ISCHR(st.st_mode)) << dev;

  EXPECT_EQ(run("-q " + src + " " + src), 0) << err;
  EXPECT_EQ(slurp(src), want);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 6);
}

// SIGINT and SIGTERM in the middle of a stream: the conventional exit status
// and no temporary left behind.
TEST_F(ToolCli, SignalsRemoveTheTemporary) {
  for (const int sig : {SIGINT, SIGTERM}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string out = path("out.wav");
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[0], STDIN_FILENO);
      ::close(fds[1]);
      ::execl(kTool, kTool, "-q", "--rate", "16000", "-", out.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(fds[0]);
    const Samples chunk(16000, 100);
    ASSERT_EQ(::write(fds[1], chunk.data(), chunk.size() * 2), ssize_t(chunk.size() * 2));
    // The temporary appears once the output is open.
    for (int i = 0; i < 200 && std::distance(fs::directory_iterator(dir_), {}) == 0; ++i)
      ::usleep(10000);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fds[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + sig) << status;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 0);
  }
}

// An audio file piped to stdin is read by its header, whatever its container;
// --raw-in takes the same bytes as samples.
TEST_F(ToolCli, ContainersOnStdin) {
  const Wav in = bursts(16000, 2, 0.5);
  const Samples want = clean(in).pcm;
  ASSERT_EQ(run("-q - " + path("o.wav"), path("in.wav")), 0) << err;
  EXPECT_EQ(read_wav(path("o.wav")).pcm, want);
  ASSERT_EQ(run("-q " + path("in.wav") + " " + path("in.flac")), 0) << err;
  ASSERT_EQ(run("-q - " + path("o.wav"), path("in.flac")), 0) << err;
  const Samples twice = read_wav(path("o.wav")).pcm;
  EXPECT_EQ(twice.size(), want.size());
  EXPECT_EQ(run("-q --rate 16000 - " + path("o.wav"), path("in.wav")), 1);  // never both
  EXPECT_NE(err.find("stdin is a WAV file that gives 16000 Hz, 2 channel(s)"), std::string::npos)
      << err;
  ASSERT_EQ(run("-q --raw-in --rate 16000 --channels 2 - -", path("in.wav")), 0) << err;
  EXPECT_EQ(out.size(), slurp(path("in.wav")).size() / 4 * 4);
}

}  // namespace
