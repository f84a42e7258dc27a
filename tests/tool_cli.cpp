// vocrel-clean end to end on files the test writes itself: format, length
// and timing kept at native and converted rates, sample formats, refusals
// that leave nothing behind, outputs that are not regular files, signals, and
// streams through stdin and stdout.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>
#include <tuple>

#include "tool_fixture.h"

namespace {

namespace fs = std::filesystem;
using vocrel_test::kTool;
using vocrel_test::Samples;
using vocrel_test::slurp;

struct Wav {
  int rate = 0, channels = 1;
  Samples pcm;  // interleaved
  std::size_t frames() const { return pcm.size() / static_cast<std::size_t>(channels); }
};

// 16-bit PCM, or 32-bit float (full scale 1.0) scaled by `gain`.
void write_wav(const fs::path& path, const Wav& w, bool asFloat = false, float gain = 1.0f) {
  const std::uint32_t width = asFloat ? 4 : 2;
  std::string s = vocrel_test::wav_header(w.rate, w.channels, asFloat, w.pcm.size() * width);
  for (std::int16_t v : w.pcm) {
    const float x = gain * v / 32768.0f;
    s.append(asFloat ? reinterpret_cast<const char*>(&x) : reinterpret_cast<const char*>(&v),
             width);
  }
  vocrel_test::spill(path, s);
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

class ToolCli : public vocrel_test::ToolTest {
 protected:
  // Cleans `in` through files; the output must keep rate, channels and length.
  Wav clean(const Wav& in, const std::string& opts = "", bool asFloat = false) {
    write_wav(path("in.wav"), in, asFloat);
    EXPECT_EQ(run("-f " + opts + path("in.wav") + " " + path("out.wav")), 0) << err;
    Wav o = read_wav(path("out.wav"));
    EXPECT_TRUE(o.rate == in.rate && o.channels == in.channels) << o.rate << " " << o.channels;
    return o;
  }
  // in.wav: `seconds` of bursts at 16 kHz; returns the tool's output for it,
  // want.wav.
  std::string source_and_reference(double seconds) {
    write_wav(path("in.wav"), bursts(16000, 1, seconds));
    EXPECT_EQ(run("-q " + path("in.wav") + " " + path("want.wav")), 0) << err;
    return slurp(path("want.wav"));
  }
  // Exit code of a shell command line.
  static int shell(const std::string& line) {
    const int rc = std::system(line.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  struct stat stat_of(const std::string& name) const {
    struct stat st {};
    EXPECT_EQ(::stat(path(name).c_str(), &st), 0) << name;
    return st;
  }
  // Whether process pid has a file under folder open.
  static bool has_file_in(pid_t pid, const std::string& folder) {
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fds, ec)) {
      const std::string to = fs::read_symlink(e.path(), ec).string();
      if (to.compare(0, folder.size() + 1, folder + "/") == 0) return true;
    }
    return false;
  }
  // The command prefix that runs the tool as the user "nobody" (uid 65534),
  // "" when that cannot be done (not root, or no setpriv).
  static std::string other_user() {
    if (::geteuid() != 0) return "";
    const std::string as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    return shell(as + "true 2>/dev/null") == 0 ? as : "";
  }
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
      {"--max-nr " + std::to_string(VOCREL_RNR_MAX_NR_MAX + 1) + " " + good + dst,
       "(status -15); check --max-nr", 1},
      {good + path("out.xyz"), "no such extension", 1},
      {"--vad3 5 " + good + dst, "--vad3 must be 0 or 1", 2},
      {"--rate 16000 " + good + dst, "for raw PCM only", 1},
      {path("x.raw") + " " + dst, "give its --rate", 1},
      {"- " + dst, "give its --rate", 1},
  };
  for (const auto& [args, message, code] : cases) {
    std::ofstream(dst) << "keep";
    expect_says(code, args, message);
    EXPECT_EQ(err.find("SF_"), std::string::npos) << err;  // the user's words, not the API's
    EXPECT_EQ(slurp(dst), "keep") << args;
    EXPECT_EQ(names(), "good.wav junk.wav nine.wav out.wav stderr stdout x.raw") << args;
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
  // A named FIFO (or a device) is read to its end as stdin is, not as an empty file.
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(run("--raw-in --rate 16000 --channels 2 " + path("fifo") + " -", "/dev/null",
                "cat " + path("in.raw") + " >" + path("fifo") + " & "),
            0)
      << err;
  EXPECT_EQ(out, streamed);
  std::ofstream(path("odd.raw"), std::ios::binary).write(streamed.data(), 321);
  expect_says(0, "--rate 16000 -q - -", "padded", path("odd.raw"));
  EXPECT_EQ(out.size(), 322u);
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
  for (std::size_t at = err.find("from "); at != std::string::npos; at = err.find("from ", at + 1))
    EXPECT_LT(std::stod(err.substr(at + 5)), 3.0) << err;  // within the input's 3 s
  EXPECT_EQ(clean(in, "--level-thr auto ").pcm, dflt.pcm);
  EXPECT_GT(tail_db(clean(in, "--level-thr -55 ")), -1.0);
  EXPECT_EQ(err.find("level threshold"), std::string::npos) << err;
}

// A name without an extension takes the input's container; float overs are
// clipped with a count; a 48 kHz file in mode 1 says that it runs at 16 kHz.
// (Each container and sample format: ToolIo.)
TEST_F(ToolCli, FormatsFollowTheNamesAndTheInput) {
  const Wav in = bursts(48000, 1, 0.5);
  write_wav(path("f.wav"), in, true);
  ASSERT_EQ(run("-qf --sample-format s16 " + path("f.wav") + " " + path("o")), 0) << err;
  const std::string o = slurp(path("o"));
  EXPECT_EQ(o.substr(0, 4) + o.substr(34, 1), "RIFF\x10");  // the input's container, 16-bit

  write_wav(path("loud.wav"), in, true, 400.0f);
  expect_says(0, "-qf " + path("loud.wav") + " " + path("o.wav"),
              "beyond full scale and were clipped");
  write_wav(path("in.wav"), in);
  expect_says(0, "-f --mode 1 " + path("in.wav") + " " + path("o.wav"),
              "cleaned at 16000 Hz, so content above 8000 Hz is removed");
}

// A FIFO, a device, the file behind a link and one with other hard links
// are written into; a full device names the reason. A stream's WAV header
// says "length unknown" (it cannot be rewritten at the end).
TEST_F(ToolCli, OutputsThatAreNotRegularFilesSurvive) {
  const std::string src = path("in.wav"), want = source_and_reference(0.4);

  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  std::string fromFifo;
  std::thread reader([&] { fromFifo = slurp(path("fifo")); });
  EXPECT_EQ(run("-q " + src + " " + path("fifo")), 0) << err;
  // Should the tool never have opened the FIFO, this lets the reader go.
  if (const int fd = ::open(path("fifo").c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
  reader.join();
  ASSERT_EQ(fromFifo.size(), want.size());
  EXPECT_EQ(fromFifo.substr(4, 4) + fromFifo.substr(40, 4), std::string(8, '\xFF'));
  EXPECT_EQ(fromFifo.substr(44), want.substr(44));
  struct stat st;
  EXPECT_TRUE(::lstat(path("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));

  fs::create_symlink("want.wav", path("link.wav"));
  std::ofstream(path("want.wav")) << "old";
  EXPECT_EQ(run("-qf " + src + " " + path("link.wav")), 0) << err;
  EXPECT_TRUE(fs::is_symlink(path("link.wav")));
  EXPECT_EQ(slurp(path("want.wav")), want);

  // Written directly: a temporary folder that does not exist is no matter.
  EXPECT_EQ(run("-q " + src + " /dev/null", "/dev/null", "TMPDIR=/nonexistent "), 0) << err;
  expect_says(1, "-q " + src + " /dev/full", "'/dev/full': No space left on device");
  for (const char* dev : {"/dev/null", "/dev/full"})
    EXPECT_TRUE(::lstat(dev, &st) == 0 && S_ISCHR(st.st_mode)) << dev;

  // A file with other hard links keeps its inode: every name sees the new audio.
  std::ofstream(path("hl1.wav")) << "old";
  ASSERT_EQ(::link(path("hl1.wav").c_str(), path("hl2.wav").c_str()), 0);
  const ino_t inode = stat_of("hl1.wav").st_ino;
  ASSERT_EQ(run("-qf " + src + " " + path("hl1.wav")), 0) << err;
  EXPECT_EQ(stat_of("hl1.wav").st_ino, inode);
  EXPECT_TRUE(slurp(path("hl2.wav")) == want);
  EXPECT_EQ(names(), "fifo hl1.wav hl2.wav in.wav link.wav stderr stdout want.wav");
}

// /dev/stdout and /dev/fd/N are the descriptors themselves: a pipe works, an
// append-mode file is appended to, a regular file gets the final header. A
// live stream through a FIFO flows frame by frame; a container that needs its
// lengths in the header is refused for a stream before it is opened.
TEST_F(ToolCli, StreamsGetTheAudioAsItIsCleaned) {
  const std::string src = path("in.wav"), want = source_and_reference(0.4);
  const std::string tool = std::string(kTool) + " -q " + src;
  ASSERT_EQ(shell(tool + " /dev/stdout | cat >" + path("piped.wav")), 0);
  const std::string piped = slurp(path("piped.wav"));
  EXPECT_EQ(piped.substr(4, 4), std::string(4, '\xFF'));
  EXPECT_EQ(read_wav(path("piped.wav")).pcm, read_wav(path("want.wav")).pcm);
  ASSERT_EQ(shell("bash -c '" + tool + " /dev/fd/3 3>&1 | cat >" + path("fd.wav") + "'"), 0);
  EXPECT_EQ(slurp(path("fd.wav")), piped);
  ASSERT_EQ(shell(tool + " /dev/stdout >" + path("plain.wav")), 0);
  EXPECT_EQ(slurp(path("plain.wav")), want);
  std::ofstream(path("prev.wav")) << "previous";
  ASSERT_EQ(shell(tool + " /dev/stdout >>" + path("prev.wav")), 0);
  EXPECT_EQ(slurp(path("prev.wav")), "previous" + piped);

  ASSERT_EQ(::mkfifo(path("live.aiff").c_str(), 0600), 0);
  // It would block if it opened the FIFO.
  expect_says(1, "-q " + src + " " + path("live.aiff"), "header needs the lengths");
  // FLAC needs no going back: what came through the FIFO reads back whole.
  ASSERT_EQ(::mkfifo(path("live.flac").c_str(), 0600), 0);
  std::thread copier([&] {
    const std::string got = slurp(path("live.flac"));
    std::ofstream(path("got.flac"), std::ios::binary) << got;
  });
  EXPECT_EQ(run("-q " + src + " " + path("live.flac")), 0) << err;
  copier.join();
  ASSERT_EQ(run("-q " + path("got.flac") + " " + path("back.wav")), 0) << err;
  EXPECT_EQ(read_wav(path("back.wav")).frames(), read_wav(path("want.wav")).frames());

  // Raw PCM fed in pieces: the FIFO's reader has audio before the input ends.
  ASSERT_EQ(::mkfifo(path("live.wav").c_str(), 0600), 0);
  int feed[2];
  ASSERT_EQ(::pipe(feed), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(feed[0], STDIN_FILENO);
    ::close(feed[1]);
    const std::string out = path("live.wav");
    ::execl(kTool, kTool, "-q", "--rate", "16000", "-", out.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(feed[0]);
  std::atomic<std::size_t> got{0};
  std::thread reader([&] {
    const int fd = ::open(path("live.wav").c_str(), O_RDONLY);
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) got += static_cast<std::size_t>(n);
    ::close(fd);
  });
  const Samples half(8000, 300);
  ASSERT_EQ(::write(feed[1], half.data(), half.size() * 2), ssize_t(half.size() * 2));
  for (int i = 0; i < 500 && got < 44 + 7000 * 2; ++i) ::usleep(10000);
  EXPECT_GE(got.load(), 44u + 7000 * 2) << "the output waits for the end of the input";
  ::close(feed[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  reader.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(got.load(), 44u + 8000 * 2);
}

// An existing output is replaced only with -f, or after a yes on a terminal;
// -n keeps it; swapped arguments leave the recording as it was; a file
// cleaned in place needs no -f.
TEST_F(ToolCli, ExistingOutputsAreReplacedOnlyWhenAsked) {
  const std::string src = path("in.wav"), dst = path("out.wav");
  write_wav(src, bursts(16000, 1, 0.3));
  write_wav(path("other.wav"), bursts(16000, 1, 0.2));
  const std::string recording = slurp(src);
  std::ofstream(dst) << "keep";
  expect_says(1, "-q " + src + " " + dst,
              "'" + dst + "' exists: not replaced (-f, --force replaces it)");
  expect_says(1, "-qn " + src + " " + dst, "exists: left as it is (-n, --no-clobber)");
  EXPECT_EQ(slurp(dst), "keep");
  EXPECT_EQ(run("-q " + path("other.wav") + " " + src), 1);
  EXPECT_EQ(slurp(src), recording);
  EXPECT_EQ(run("-q -n --force " + src + " " + dst), 0) << err;
  EXPECT_EQ(read_wav(dst).frames(), 4800u);
  EXPECT_EQ(run("-q -n " + src + " " + src), 1);
  EXPECT_EQ(slurp(src), recording);
  EXPECT_EQ(run("-q " + src + " " + src), 0) << err;
  EXPECT_TRUE(slurp(src) == slurp(dst));
  EXPECT_EQ(names(), "in.wav other.wav out.wav stderr stdout");

  // On a terminal (script(1) gives the tool one) the answer decides.
  if (shell("script -qec true /dev/null >/dev/null 2>&1") != 0) return;
  std::ofstream(dst) << "keep";
  const std::string ask =
      " | script -qec '" + std::string(kTool) + " -q " + src + " " + dst + "' /dev/null >/dev/null";
  EXPECT_EQ(shell("echo n" + ask), 1);
  EXPECT_EQ(slurp(dst), "keep");
  EXPECT_EQ(shell("echo y" + ask), 0);
  EXPECT_EQ(read_wav(dst).frames(), 4800u);
}

// Root replacing files of others: owner, group (also in a setgid folder),
// mode less setuid and setgid and extended attributes are kept.
TEST_F(ToolCli, ReplacedFilesKeepOwnerModeAndAttributes) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  const std::string src = path("in.wav"), want = source_and_reference(0.3);
  auto old_file = [&](const std::string& name, uid_t uid, gid_t gid, mode_t mode) {
    std::ofstream(path(name)) << "old";
    EXPECT_EQ(::chown(path(name).c_str(), uid, gid), 0);
    EXPECT_EQ(::chmod(path(name).c_str(), mode), 0);
    return stat_of(name);
  };
  ASSERT_EQ(::mkdir(path("sgid").c_str(), 0775), 0);
  ASSERT_EQ(::chown(path("sgid").c_str(), 0, 4242), 0);
  ASSERT_EQ(::chmod(path("sgid").c_str(), 02775), 0);
  const struct {
    const char* name;
    uid_t uid;
    gid_t gid;
    mode_t mode, after;
  } cases[] = {{"theirs.wav", 65534, 65534, 0640, 0640},
               {"suid.wav", 65534, 100, 06754, 0754},
               {"sgid/grp.wav", 0, 100, 0664, 0664}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    old_file(c.name, c.uid, c.gid, c.mode);
    const bool xattrs = ::setxattr(path(c.name).c_str(), "user.note", "hi", 2, 0) == 0;
    ASSERT_EQ(run("-qf " + src + " " + path(c.name)), 0) << err;
    const struct stat st = stat_of(c.name);
    EXPECT_EQ(st.st_uid, c.uid);
    EXPECT_EQ(st.st_gid, c.gid);
    EXPECT_EQ(st.st_mode & 07777, c.after);
    EXPECT_EQ(slurp(path(c.name)), want);
    char note[8] = {};
    if (xattrs) {
      EXPECT_EQ(::getxattr(path(c.name).c_str(), "user.note", note, sizeof note), 2);
      EXPECT_STREQ(note, "hi");
    }
  }
  EXPECT_EQ(names(), "in.wav sgid stderr stdout suid.wav theirs.wav want.wav");
  EXPECT_EQ(names("sgid"), "grp.wav");
}

// As a user without privilege (root runs the tool as "nobody"): what the
// kernel refuses them is refused before any work (a read-only file, root's
// file, a new file in a read-only folder, a dangling link); what they may
// write but not replace (root's writable file, one in a sticky folder, one in
// a read-only folder) is written into. Root's files only when run by root.
TEST_F(ToolCli, UsersCannotBypassPermissions) {
  const bool root = ::geteuid() == 0;
  const std::string as = root ? other_user() : "";
  if (root && as.empty()) GTEST_SKIP() << "no setpriv to run as another user";
  const uid_t user = root ? 65534 : ::geteuid();
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  const std::string src = path("in.wav"), want = source_and_reference(0.3);
  for (const char* d : {"u", "ro", "sticky"}) ASSERT_EQ(::mkdir(path(d).c_str(), 0755), 0);
  ASSERT_EQ(::chmod(path("sticky").c_str(), 01777), 0);
  auto file = [&](const std::string& name, uid_t uid, mode_t mode) {
    std::ofstream(path(name)) << "old";
    if (root) {
      EXPECT_EQ(::chown(path(name).c_str(), uid, uid), 0);
    }
    EXPECT_EQ(::chmod(path(name).c_str(), mode), 0);
    return stat_of(name).st_ino;
  };
  if (root) {
    ASSERT_EQ(::chown(path("u").c_str(), user, user), 0);
    ASSERT_EQ(::chown(path("ro").c_str(), user, user), 0);
  }
  file("u/mine-ro.wav", user, 0444);
  std::vector<std::pair<std::string, ino_t>> writtenInto = {
      {"ro/mine.wav", file("ro/mine.wav", user, 0644)}};
  if (root) {
    file("u/roots.wav", 0, 0644);
    writtenInto.emplace_back("u/roots-rw.wav", file("u/roots-rw.wav", 0, 0666));
    writtenInto.emplace_back("sticky/roots-rw.wav", file("sticky/roots-rw.wav", 0, 0666));
  }
  ASSERT_EQ(::chmod(path("ro").c_str(), 0555), 0);
  fs::create_symlink("missing.wav", path("u/dangling.wav"));

  std::vector<std::pair<std::string, std::string>> refused = {
      {"u/mine-ro.wav", "cannot write '%': Permission denied"},
      {"ro/new.wav", "cannot create '%': Permission denied"},
      {"u/dangling.wav", "which does not exist: not created"}};
  if (root) refused.emplace_back("u/roots.wav", "cannot write '%': Permission denied");
  for (const auto& [name, message] : refused) {
    std::string m = message;
    if (const auto at = m.find('%'); at != std::string::npos) m.replace(at, 1, path(name));
    expect_says(1, "-qf " + src + " " + path(name), m, "/dev/null", as);
  }
  EXPECT_EQ(slurp(path("u/mine-ro.wav")), "old");
  if (root) {
    EXPECT_TRUE(slurp(path("u/roots.wav")) == "old" && stat_of("u/roots.wav").st_uid == 0);
  }

  for (const auto& [name, inode] : writtenInto) {
    EXPECT_EQ(run("-qf " + src + " " + path(name), "/dev/null", as), 0) << name << ": " << err;
    EXPECT_TRUE(slurp(path(name)) == want) << name;
    EXPECT_EQ(stat_of(name).st_ino, inode) << name;
  }
  if (root) {
    EXPECT_EQ(stat_of("u/roots-rw.wav").st_uid, 0u);
  }

  // A name as long as a folder entry may be: no temporary name is longer.
  const std::string longName = "u/" + std::string(251, 'n');
  EXPECT_EQ(run("-q " + src + " " + path(longName), "/dev/null", as), 0) << err;
  EXPECT_EQ(run("-qf " + src + " " + path(longName), "/dev/null", as), 0) << err;
  EXPECT_TRUE(slurp(path(longName)) == want);
  EXPECT_EQ(names("u"), "dangling.wav mine-ro.wav " + std::string(251, 'n') +
                            (root ? " roots-rw.wav roots.wav" : ""));
  EXPECT_EQ(names("ro"), "mine.wav");
  EXPECT_EQ(names("sticky"), root ? "roots-rw.wav" : "");
  ::chmod(path("ro").c_str(), 0755);
}

// Every signal that ends the process mid-stream: the process ends by that
// signal and nothing is left in the output's folder (the temporary has no
// name); an existing output is left as it was. A file-size limit likewise.
TEST_F(ToolCli, NoSignalLeavesATemporary) {
  ASSERT_EQ(::mkdir(path("out").c_str(), 0755), 0);
  std::ofstream(path("out/kept.wav")) << "keep";
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGKILL}) {
    SCOPED_TRACE(sig);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string out = path(sig == SIGTERM ? "out/kept.wav" : "out/new.wav");
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[0], STDIN_FILENO);
      ::close(fds[1]);
      ::execl(kTool, kTool, "-qf", "--rate", "16000", "-", out.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(fds[0]);
    const Samples chunk(16000, 100);
    ASSERT_EQ(::write(fds[1], chunk.data(), chunk.size() * 2), ssize_t(chunk.size() * 2));
    // The output is open once a descriptor of the process leads into the folder.
    for (int i = 0; i < 500 && !has_file_in(pid, path("out")); ++i) ::usleep(10000);
    EXPECT_TRUE(has_file_in(pid, path("out")));
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fds[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(names("out"), "kept.wav");
    EXPECT_EQ(slurp(path("out/kept.wav")), "keep");
  }
  write_wav(path("in.wav"), bursts(48000, 2, 2.0));
  const int rc = std::system(("ulimit -f 64; exec " + std::string(kTool) + " -q " + path("in.wav") +
                              " " + path("out/big.wav") + " 2>/dev/null")
                                 .c_str());
  EXPECT_TRUE(WIFSIGNALED(rc) ? WTERMSIG(rc) == SIGXFSZ : WEXITSTATUS(rc) == 128 + SIGXFSZ) << rc;
  EXPECT_EQ(names("out"), "kept.wav");
}

// What the messages say: "--" before a relative name with a dash, an option
// the mode does not read (the texts: CleanOptions), a folder or an unreadable
// file as input, a raw file that ends inside a frame, and the versions.
TEST_F(ToolCli, MessagesSayWhatIsWrong) {
  write_wav(path("-in.wav"), bursts(16000, 1, 0.3));
  EXPECT_EQ(shell("cd " + dir_.string() + " && " + kTool + " -q -- -in.wav o.wav"), 0);
  write_wav(path("48k.wav"), bursts(48000, 1, 0.1));
  expect_says(0, "-qf --hp-filter 1 " + path("48k.wav") + " " + path("o.wav"),
              "warning: --hp-filter has no effect in mode 0 at 48 kHz");

  expect_says(1, dir_.string() + " " + path("o2.wav"), "is a directory, not an audio file");
  EXPECT_EQ(err.find("raw"), std::string::npos) << err;
  if (const std::string as = other_user(); !as.empty()) {
    ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path("-in.wav").c_str(), 0600), 0);
    expect_says(1, path("-in.wav") + " " + path("o2.wav"),
                "cannot read '" + path("-in.wav") + "': Permission denied", "/dev/null", as);
  }
  std::ofstream(path("odd.raw"), std::ios::binary) << std::string(321, '\1');
  expect_says(0, "-q --rate 16000 " + path("odd.raw") + " " + path("o.raw"),
              "ends inside a sample frame; its last 1 byte(s) are left out");
  EXPECT_EQ(names(), "-in.wav 48k.wav o.raw o.wav odd.raw stderr stdout");

  ASSERT_EQ(run("-V"), 0);
  for (const char* line :
       {"vocrel-clean ", "build, ", "library: /", "CPU kernels: ", "engine version record: "})
    EXPECT_NE(out.find(line), std::string::npos) << out;
}

// An audio file piped to stdin is read by its header, whatever its container;
// --raw-in takes the same bytes as samples.
TEST_F(ToolCli, ContainersOnStdin) {
  const Wav in = bursts(16000, 2, 0.5);
  const Samples want = clean(in).pcm;
  ASSERT_EQ(run("-q - " + path("o.wav"), path("in.wav")), 0) << err;
  EXPECT_EQ(read_wav(path("o.wav")).pcm, want);
  ASSERT_EQ(run("-q " + path("in.wav") + " " + path("in.flac")), 0) << err;
  ASSERT_EQ(run("-qf - " + path("o.wav"), path("in.flac")), 0) << err;
  const Samples twice = read_wav(path("o.wav")).pcm;
  EXPECT_EQ(twice.size(), want.size());
  expect_says(1, "-q --rate 16000 - " + path("o.wav"),  // never both
              "stdin is a WAV file that gives 16000 Hz, 2 channel(s)", path("in.wav"));
  ASSERT_EQ(run("-q --raw-in --rate 16000 --channels 2 - -", path("in.wav")), 0) << err;
  EXPECT_EQ(out.size(), slurp(path("in.wav")).size() / 4 * 4);
}

}  // namespace
