// vocrel-clean end to end on files the test writes itself: rates, stereo,
// converted rates, alignment of output to input, refused inputs that leave
// nothing behind, and a live raw stream.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

#ifdef VOCREL_CLEAN_EXE
constexpr const char kTool[] = VOCREL_CLEAN_EXE;
#else
constexpr const char kTool[] = "";  // not built in this configuration
#endif

struct Wav {
  int rate = 0, channels = 0;
  std::vector<std::int16_t> pcm;  // interleaved
  std::size_t frames() const { return pcm.size() / static_cast<std::size_t>(channels); }
};

void put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
std::uint32_t get32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

// 16-bit PCM, or 32-bit float (full scale 1.0) when asked.
void write_wav(const fs::path& path, const Wav& w, bool asFloat = false) {
  const std::uint32_t width = asFloat ? 4 : 2;
  const std::uint32_t bytes = static_cast<std::uint32_t>(w.pcm.size() * width);
  std::string s = "RIFF";
  put32(s, 36 + bytes);
  s += "WAVEfmt ";
  put32(s, 16);
  put16(s, asFloat ? 3 : 1);
  put16(s, static_cast<std::uint32_t>(w.channels));
  put32(s, static_cast<std::uint32_t>(w.rate));
  put32(s, static_cast<std::uint32_t>(w.rate * w.channels) * width);
  put16(s, static_cast<std::uint32_t>(w.channels) * width);
  put16(s, 8 * width);
  s += "data";
  put32(s, bytes);
  if (asFloat) {
    for (std::int16_t v : w.pcm) {
      const float f = static_cast<float>(v) / 32768.0f;
      s.append(reinterpret_cast<const char*>(&f), 4);
    }
  } else {
    s.append(reinterpret_cast<const char*>(w.pcm.data()), bytes);
  }
  std::ofstream(path, std::ios::binary) << s;
}

// Reads a 16-bit PCM WAV, walking its chunks.
Wav read_wav(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  const std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  Wav w;
  if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0) return w;
  for (std::size_t at = 12; at + 8 <= s.size();) {
    const std::uint32_t size = get32(s, at + 4);
    if (s.compare(at, 4, "fmt ") == 0) {
      w.channels = static_cast<unsigned char>(s[at + 10]);
      w.rate = static_cast<int>(get32(s, at + 12));
    } else if (s.compare(at, 4, "data") == 0) {
      w.pcm.resize(std::min<std::size_t>(size, s.size() - at - 8) / 2);
      std::memcpy(w.pcm.data(), s.data() + at + 8, w.pcm.size() * 2);
    }
    at += 8 + size + (size & 1);
  }
  return w;
}

// Seeded background noise at about -50 dBFS with loud noise bursts, so that
// the bursts pass the noise reduction and mark positions in time.
Wav bursts(int rate, int channels, double seconds) {
  Wav w{rate, channels, {}};
  const std::size_t n = static_cast<std::size_t>(seconds * rate);
  std::uint32_t s = 777;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const bool burst = t > 0.6 && std::fmod(t, 0.5) < 0.15;
    for (int c = 0; c < channels; ++c) {
      s = s * 1664525u + 1013904223u;
      const double u = (static_cast<double>(s >> 8) / 16777216.0 - 0.5) * 2;
      const double amp = burst ? (c == 0 ? 12000.0 : 6000.0) : 100.0;
      w.pcm.push_back(static_cast<std::int16_t>(u * amp));
    }
  }
  return w;
}

// The lag (output behind input, in samples) in +-maxLag that best matches
// channel c of the two signals around the first burst (0.55 s to 0.8 s).
int best_lag(const Wav& in, const Wav& out, int c, int maxLag) {
  double best = -1;
  int bestLag = 0;
  const long n = static_cast<long>(std::min(in.frames(), out.frames()));
  const long from = static_cast<long>(0.55 * in.rate), to = static_cast<long>(0.8 * in.rate);
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double acc = 0;
    for (long i = from; i < to && i + lag < n; ++i)
      acc +=
          static_cast<double>(in.pcm[i * in.channels + c]) * out.pcm[(i + lag) * out.channels + c];
    if (acc > best) {
      best = acc;
      bestLag = lag;
    }
  }
  return bestLag;
}

double energy(const Wav& w, int c, double from, double to) {
  double e = 0;
  for (std::size_t i = static_cast<std::size_t>(from * w.rate);
       i < static_cast<std::size_t>(to * w.rate) && i < w.frames(); ++i)
    e += std::pow(w.pcm[i * w.channels + c], 2);
  return e;
}

struct ToolRun {
  int exitCode;
  std::string err, out;
};

class ToolCli : public testing::Test {
 protected:
  void SetUp() override {
    if (kTool[0] == '\0') GTEST_SKIP() << "vocrel-clean is not built in this configuration";
    char tmpl[] = "/tmp/vocrel-clean-test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  fs::path path(const std::string& name) const { return dir_ / name; }

  ToolRun run(const std::string& args, const std::string& stdinFile = "") {
    const fs::path err = path("stderr.txt"), out = path("stdout.txt");
    std::string cmd = std::string(kTool) + " " + args + " >" + out.string() + " 2>" + err.string();
    if (!stdinFile.empty()) cmd += " <" + stdinFile;
    const int rc = std::system(cmd.c_str());
    ToolRun r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, {}, {}};
    std::ifstream e(err), o(out, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    r.out.assign(std::istreambuf_iterator<char>(o), std::istreambuf_iterator<char>());
    return r;
  }

  // Every entry of the test directory except the named ones.
  std::vector<std::string> strays(std::initializer_list<std::string> known) const {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      if (std::find(known.begin(), known.end(), name) == known.end()) v.push_back(name);
    }
    return v;
  }

  fs::path dir_;
};

// Native rates and channel counts: same rate, channels and length out, the
// bursts at their input positions, the background reduced.
TEST_F(ToolCli, NativeRatesKeepFormatLengthAndPosition) {
  for (int rate : {8000, 16000, 48000}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " ch");
      const Wav in = bursts(rate, channels, 1.03);
      write_wav(path("in.wav"), in);
      const ToolRun r = run(path("in.wav").string() + " " + path("out.wav").string());
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_NE(r.err.find("real-time factor"), std::string::npos) << r.err;
      const Wav out = read_wav(path("out.wav"));
      EXPECT_EQ(out.rate, rate);
      EXPECT_EQ(out.channels, channels);
      ASSERT_EQ(out.frames(), in.frames());
      for (int c = 0; c < channels; ++c) {
        EXPECT_EQ(best_lag(in, out, c, rate / 100 + 8), 0) << "channel " << c;
        EXPECT_GT(energy(out, c, 0.6, 0.8), 0.1 * energy(in, c, 0.6, 0.8)) << "burst lost";
      }
    }
  }
}

// A float file is cleaned at its own level: the same output as the 16-bit
// file with the same samples.
TEST_F(ToolCli, FloatFilesKeepTheirLevel) {
  const Wav in = bursts(16000, 2, 0.8);
  write_wav(path("int.wav"), in);
  write_wav(path("float.wav"), in, true);
  ASSERT_EQ(run(path("int.wav").string() + " " + path("a.wav").string()).exitCode, 0);
  const ToolRun r = run(path("float.wav").string() + " " + path("b.wav").string());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Wav a = read_wav(path("a.wav")), b = read_wav(path("b.wav"));
  EXPECT_EQ(b.frames(), in.frames());
  EXPECT_EQ(a.pcm, b.pcm);
}

// --raw keeps the engine's one-frame delay and whole frames.
TEST_F(ToolCli, RawKeepsTheFrameDelay) {
  const Wav in = bursts(16000, 1, 1.5);
  write_wav(path("in.wav"), in);
  const ToolRun r = run("--raw " + path("in.wav").string() + " " + path("out.wav").string());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Wav out = read_wav(path("out.wav"));
  EXPECT_EQ(out.frames(), 24000u);
  EXPECT_EQ(best_lag(in, out, 0, 200), 160);
}

// Rates the engine does not run are converted there and back: the output
// keeps the input's rate, length and timing.
TEST_F(ToolCli, OtherRatesAreConvertedAndBack) {
  struct Case {
    int rate, channels;
    const char* engine;
  };
  for (const Case& c : {Case{44100, 2, "48000"}, Case{22050, 1, "16000"}}) {
    SCOPED_TRACE(c.rate);
    const Wav in = bursts(c.rate, c.channels, 1.01);
    write_wav(path("in.wav"), in);
    const ToolRun r = run(path("in.wav").string() + " " + path("out.wav").string());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(std::string("cleaned at ") + c.engine), std::string::npos) << r.err;
    const Wav out = read_wav(path("out.wav"));
    EXPECT_EQ(out.rate, c.rate);
    EXPECT_EQ(out.channels, c.channels);
    EXPECT_EQ(out.frames(), in.frames());
    for (int ch = 0; ch < c.channels; ++ch)
      EXPECT_LE(std::abs(best_lag(in, out, ch, c.rate / 100 + 8)), 1);
  }
}

// Refused inputs and settings: a clear message, a non-zero exit, an existing
// output left as it was and no temporary left behind.
TEST_F(ToolCli, RefusalsLeaveNothingBehind) {
  write_wav(path("good.wav"), bursts(16000, 1, 0.3));
  write_wav(path("six.wav"), bursts(16000, 6, 0.1));
  std::ofstream(path("junk.wav")) << "this is not audio";
  std::ofstream(path("out.wav")) << "keep";
  struct Case {
    std::string args, message;
    int exitCode;
  };
  const std::string good = path("good.wav").string(), out = path("out.wav").string();
  const Case cases[] = {
      {path("missing.wav").string() + " " + out, "No such file", 1},
      {path("junk.wav").string() + " " + out, "as audio", 1},
      {path("six.wav").string() + " " + out, "only mono and stereo", 1},
      {"--max-nr 25 " + good + " " + out, "2..20 dB (status -15); check --max-nr", 1},
      {"--level-thr -10 " + good + " " + out, "-80..-20", 1},
      {"--vad-band-thr 70 " + good + " " + out, "45..65", 1},
      {"--mode 3 " + good + " " + out, "status -22", 1},
      {"--rate 16000 - " + path("out.xyz").string(), "which audio format", 1},
      {"--mode one " + good + " " + out, "whole number", 2},
      {good, "input and an output", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = run(c.args, "/dev/null");
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    std::ifstream f(path("out.wav"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()),
              "keep");
    EXPECT_EQ(strays({"good.wav", "six.wav", "junk.wav", "out.wav", "stderr.txt", "stdout.txt"}),
              std::vector<std::string>{});
  }
}

TEST_F(ToolCli, HelpAndVersion) {
  ToolRun r = run("--help");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("--level-adapt-off"), std::string::npos);
  r = run("--version");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Vocrel Audio V100R002C11 ARM A8 RNR"), std::string::npos) << r.out;
}

// Raw PCM through stdin and stdout: output as long as the input (a partial
// last frame padded, cleaned and flushed) and equal to the file path's result.
TEST_F(ToolCli, RawStreamMatchesTheFilePath) {
  Wav in = bursts(16000, 2, 0.5);
  in.pcm.resize(in.pcm.size() - 2 * 37);  // not a whole number of frames
  write_wav(path("in.wav"), in);
  {
    std::ofstream raw(path("in.raw"), std::ios::binary);
    raw.write(reinterpret_cast<const char*>(in.pcm.data()),
              static_cast<std::streamsize>(in.pcm.size() * 2));
  }
  const ToolRun s = run("--rate 16000 --channels 2 - -", path("in.raw").string());
  ASSERT_EQ(s.exitCode, 0) << s.err;
  const ToolRun f = run(path("in.wav").string() + " " + path("out.wav").string());
  ASSERT_EQ(f.exitCode, 0) << f.err;
  const Wav out = read_wav(path("out.wav"));
  ASSERT_EQ(s.out.size(), in.pcm.size() * 2);
  EXPECT_EQ(std::memcmp(s.out.data(), out.pcm.data(), s.out.size()), 0);

  // A stream that stops inside a sample is padded with a warning, not dropped.
  {
    std::ofstream odd(path("odd.raw"), std::ios::binary);
    odd.write(reinterpret_cast<const char*>(in.pcm.data()), 321);
  }
  const ToolRun o = run("--rate 16000 -q - -", path("odd.raw").string());
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.out.size(), 322u);
  EXPECT_NE(o.err.find("padded"), std::string::npos);
}

// A live stream: each frame's output (one frame late) arrives while the
// input is still open.
TEST_F(ToolCli, LiveStreamHasOneFrameOfLatency) {
  int toTool[2], fromTool[2];
  ASSERT_EQ(pipe(toTool), 0);
  ASSERT_EQ(pipe(fromTool), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(toTool[0], 0);
    dup2(fromTool[1], 1);
    close(toTool[1]);
    close(fromTool[0]);
    execl(kTool, kTool, "--rate", "8000", "-q", "-", "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toTool[0]);
  close(fromTool[1]);
  const Wav in = bursts(8000, 1, 0.03);  // 3 frames of 80 samples
  ASSERT_EQ(write(toTool[1], in.pcm.data(), 2 * 160), 2 * 160);
  // Two frames in: the first frame's output must come out now.
  std::vector<std::int16_t> got(80);
  std::size_t have = 0;
  while (have < 160) {
    pollfd pfd = {fromTool[0], POLLIN, 0};
    if (poll(&pfd, 1, 10000) != 1) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      FAIL() << "no output within 10 s while the stream is open";
    }
    const ssize_t n = read(fromTool[0], reinterpret_cast<char*>(got.data()) + have, 160 - have);
    ASSERT_GT(n, 0) << "no output while the stream is open";
    have += static_cast<std::size_t>(n);
  }
  ASSERT_EQ(write(toTool[1], in.pcm.data() + 160, 2 * 80), 2 * 80);
  close(toTool[1]);
  std::vector<char> rest(4096);
  std::size_t tail = 0;
  for (ssize_t n; (n = read(fromTool[0], rest.data() + tail, rest.size() - tail)) > 0;)
    tail += static_cast<std::size_t>(n);
  close(fromTool[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(tail, 2u * 160);  // the last two frames, flushed at the end
}

}  // namespace
