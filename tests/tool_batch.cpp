// vocrel-clean's batch form end to end: a folder tree with good files among
// unreadable, damaged, non-audio and empty ones. The good ones come out as
// the single-file form writes them, byte for byte, in a mirrored tree; the
// others are listed with their reasons and leave nothing behind; a second run
// skips what is done; two jobs write what one does.
#include <gtest/gtest.h>

#ifndef VOCREL_CLEAN_EXE
TEST(ToolBatch, NeedsTheTool) { GTEST_SKIP() << "vocrel-clean is not built in this configuration"; }
#else
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

constexpr const char kTool[] = VOCREL_CLEAN_EXE;

using vocrel_test::slurp;
using vocrel_test::spill;

// Speech-like bursts over noise, a different pitch per file.
bool write_speech(const fs::path& path, int rate, int channels, double seconds, int format,
                  double pitch) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) return false;
  vocrel_test::Lcg32 rng{std::uint32_t(pitch)};
  const double pi = std::acos(-1.0);
  std::vector<float> x;
  for (long i = 0; i < long(seconds * rate); ++i) {
    const double t = double(i) / rate;
    const double gate = std::fmod(t, 0.4) < 0.25 ? 0.3 : 0.0;
    for (int c = 0; c < channels; ++c)
      x.push_back(
          float(gate * std::sin(2 * pi * pitch * (c + 1) * t) + rng.uniform(200) / 32768.0));
  }
  const sf_count_t n = sf_count_t(x.size()) / channels;
  const bool ok = sf_writef_float(f, x.data(), n) == n;
  return sf_close(f) == 0 && ok;
}

// Every file under dir, by its path relative to dir, with its bytes.
std::map<std::string, std::string> tree(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (!e.is_directory()) files[fs::relative(e.path(), dir).string()] = slurp(e.path());
  return files;
}

// The names of the files that differ between two trees ("" when none do),
// so that a failure does not print audio.
std::string differences(const std::map<std::string, std::string>& a,
                        const std::map<std::string, std::string>& b) {
  std::string names;
  for (const auto& [name, bytes] : a)
    if (!b.count(name) || b.at(name) != bytes) names += name + " ";
  for (const auto& [name, bytes] : b)
    if (!a.count(name)) names += name + " ";
  return names;
}

// Processes of the tool whose command line names `folder`.
int runs_writing_into(const std::string& folder) {
  int n = 0;
  for (const auto& e : fs::directory_iterator("/proc")) {
    std::string cmd = slurp(e.path() / "cmdline");
    if (cmd.rfind(kTool, 0) == 0 && cmd.find(folder) != std::string::npos) ++n;
  }
  return n;
}

class ToolBatch : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vocrel-batch-test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    in_ = dir_ / "corpus";
    fs::create_directories(in_ / "a" / "b");
    fs::create_directories(in_ / "c");
    const int wav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    ASSERT_TRUE(write_speech(in_ / "top.wav", 16000, 1, 2.0, wav, 180));
    ASSERT_TRUE(write_speech(in_ / "a" / "one.wav", 16000, 1, 3.0, wav, 220));
    ASSERT_TRUE(write_speech(in_ / "a" / "b" / "two.flac", 44100, 2, 1.5,
                             SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 140));
    ASSERT_TRUE(write_speech(in_ / "c" / "three.wav", 8000, 1, 2.5, wav, 300));
    good_ = {"top.wav", "a/one.wav", "a/b/two.flac", "c/three.wav"};
  }
  void TearDown() override {
    if (!dir_.empty()) {
      fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
      fs::remove_all(dir_);
    }
  }

  // The bad files, each with a piece of the reason it is listed with.
  std::map<std::string, std::string> add_bad_files() {
    std::map<std::string, std::string> bad;
    const std::string whole = slurp(in_ / "a" / "one.wav");
    spill(in_ / "a" / "cut.wav", whole.substr(0, whole.size() / 3));
    bad["a/cut.wav"] = "is damaged";
    spill(in_ / "a" / "b" / "notes.wav", "not audio at all, just some text\n");
    bad["a/b/notes.wav"] = "as audio";
    spill(in_ / "c" / "empty.wav", "");
    bad["c/empty.wav"] = "is empty (0 bytes)";
    fs::create_symlink(dir_ / "nowhere.wav", in_ / "c" / "gone.wav");
    bad["c/gone.wav"] = "No such file";
    if (::geteuid() != 0 || !as_user().empty()) {
      spill(in_ / "locked.wav", whole);
      fs::permissions(in_ / "locked.wav", fs::perms::none);
      bad["locked.wav"] = "Permission denied";
    }
    return bad;
  }

  // Root runs the tool without its power to read and write any file, so that
  // an unreadable file is one; "" when that cannot be done (not root, or no
  // setpriv).
  static std::string as_user() {
    if (::geteuid() != 0) return "";
    static const std::string as = [] {
      const std::string drop = "setpriv --bounding-set=-dac_override,-dac_read_search ";
      return std::system((drop + "true 2>/dev/null").c_str()) == 0 ? drop : "";
    }();
    return as;
  }

  int run(const std::string& args) {
    const int rc = std::system(
        (as_user() + kTool + " " + args + " </dev/null 2>" + (dir_ / "stderr").string()).c_str());
    err = slurp(dir_ / "stderr");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  // What the single-file form writes for each good file.
  std::map<std::string, std::string> single_file_outputs() {
    std::map<std::string, std::string> want;
    for (const std::string& name : good_) {
      const fs::path out = dir_ / ("single" + fs::path(name).extension().string());
      EXPECT_EQ(run("-q -f " + (in_ / name).string() + " " + out.string()), 0) << err;
      want[name] = slurp(out);
      fs::remove(out);
    }
    return want;
  }

  fs::path dir_, in_;
  std::vector<std::string> good_;
  std::string err;
};

TEST_F(ToolBatch, GoodFilesCleanedBadOnesListed) {
  const std::map<std::string, std::string> want = single_file_outputs();
  const std::map<std::string, std::string> bad = add_bad_files();
  const fs::path out = dir_ / "out";
  EXPECT_EQ(run(in_.string() + " -o " + out.string() + " -j 2"), 1);
  EXPECT_EQ(differences(tree(out), want), "")
      << "only the good files, each as the single-file form writes it";
  for (const auto& [name, reason] : bad) {
    const std::string line = "failed: " + (in_ / name).string() + ": ";
    const std::size_t at = err.find(line);
    ASSERT_NE(at, std::string::npos) << name << "\n" << err;
    EXPECT_NE(err.substr(at, err.find('\n', at) - at).find(reason), std::string::npos)
        << name << "\n"
        << err;
  }
  EXPECT_NE(err.find("4 files cleaned, 0 skipped (already cleaned), " + std::to_string(bad.size()) +
                     " failed"),
            std::string::npos)
      << err;

  // The extension filter leaves the others out of folders; files named on
  // the command line are taken whatever they are called.
  const fs::path flac = dir_ / "flac";
  EXPECT_EQ(run("-q --ext FLAC,.ogg " + in_.string() + " " + (in_ / "top.wav").string() + " -o " +
                flac.string()),
            0)
      << err;
  EXPECT_EQ(differences(tree(flac), {{"a/b/two.flac", want.at("a/b/two.flac")},
                                     {"top.wav", want.at("top.wav")}}),
            "");
}

// A second run skips the outputs that are newer than their inputs (they are
// not rewritten), and cleans again an input changed since.
TEST_F(ToolBatch, ASecondRunSkipsWhatIsDone) {
  const fs::path out = dir_ / "out";
  ASSERT_EQ(run("-j 2 " + in_.string() + " -o " + out.string()), 0) << err;
  const auto first = tree(out);
  ASSERT_EQ(first.size(), good_.size());
  struct stat before;
  ASSERT_EQ(::stat((out / "a" / "one.wav").c_str(), &before), 0);
  // An interrupted run: one output missing, one input changed since.
  fs::remove(out / "c" / "three.wav");
  ASSERT_TRUE(write_speech(in_ / "top.wav", 16000, 1, 1.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 190));
  const std::string topWas = first.at("top.wav");
  ASSERT_EQ(run("-j 2 " + in_.string() + " -o " + out.string()), 0) << err;
  EXPECT_NE(err.find("2 files cleaned, 2 skipped (already cleaned), 0 failed"), std::string::npos)
      << err;
  const auto second = tree(out);
  EXPECT_TRUE(second.at("c/three.wav") == first.at("c/three.wav"));
  EXPECT_TRUE(second.at("top.wav") != topWas);
  struct stat after;
  ASSERT_EQ(::stat((out / "a" / "one.wav").c_str(), &after), 0);
  EXPECT_TRUE(after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
              after.st_mtim.tv_nsec == before.st_mtim.tv_nsec && after.st_ino == before.st_ino);
  // The output folder is refused as an input folder: no cleaning in place.
  EXPECT_EQ(run(out.string() + " -o " + out.string()), 1);
  EXPECT_NE(err.find("does not clean in place"), std::string::npos) << err;
}

// One job and two write the same files, with the tunables handed to each run.
// (24-bit: float WAV files carry the time they were written.)
TEST_F(ToolBatch, TwoJobsWriteWhatOneDoes) {
  add_bad_files();
  EXPECT_EQ(run("-q -j 1 --max-nr 9 --sample-format s24 " + in_.string() + " -o " +
                (dir_ / "one").string()),
            1);
  EXPECT_EQ(run("-q -j 2 --max-nr 9 --sample-format s24 " + in_.string() + " -o " +
                (dir_ / "two").string()),
            1);
  const auto one = tree(dir_ / "one");
  EXPECT_EQ(one.size(), good_.size());
  EXPECT_EQ(differences(tree(dir_ / "two"), one), "");
  EXPECT_EQ(run("-q -f --max-nr 9 --sample-format s24 " + (in_ / "a" / "one.wav").string() + " " +
                (dir_ / "single.wav").string()),
            0);
  EXPECT_TRUE(slurp(dir_ / "single.wav") == one.at("a/one.wav"));
}

// SIGTERM to the batch stops the files being cleaned: the tool ends by the
// signal, no run of it is left, and OUTDIR holds only complete outputs.
TEST_F(ToolBatch, ASignalStopsEveryRun) {
  const int wav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  ASSERT_TRUE(write_speech(in_ / "long.wav", 48000, 2, 20.0, wav, 200));
  for (int i = 0; i < 30; ++i)
    fs::copy_file(in_ / "long.wav", in_ / ("copy" + std::to_string(i) + ".wav"));
  const std::map<std::string, std::string> want = single_file_outputs();
  const std::string out = (dir_ / "out").string(), in = in_.string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(kTool, kTool, "-q", "-j", "2", in.c_str(), "-o", out.c_str(), nullptr);
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  ::usleep(400 * 1000);
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(runs_writing_into(out), 0) << "a run of the tool is left";
  const std::string whole = slurp(in_ / "long.wav");
  std::string reference;
  const auto written = tree(out);
  EXPECT_LT(written.size(), want.size() + 31) << "the batch ended before the signal";
  for (const auto& [name, bytes] : written) {
    if (name.rfind("copy", 0) == 0 || name == "long.wav") {
      if (reference.empty()) reference = bytes;
      EXPECT_TRUE(bytes == reference && bytes.size() == whole.size()) << name << " is not whole";
    } else {
      EXPECT_TRUE(want.count(name) != 0 && want.at(name) == bytes) << name;
    }
  }
}

}  // namespace
#endif
