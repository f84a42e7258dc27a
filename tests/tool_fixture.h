// The ground the vocrel-clean tests share: a temporary folder per test, the
// tool run in it with its exit code, stderr and stdout kept, and WAV headers
// written by hand so that they can say what they like.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "test_util.h"

namespace vocrel_test {

#ifdef VOCREL_CLEAN_EXE
inline constexpr const char kTool[] = VOCREL_CLEAN_EXE;
#else
inline constexpr const char kTool[] = "";  // not built in this configuration
#endif

// A canonical 44-byte WAV header: 16-bit PCM or 32-bit float, with the rate
// and channel count given, followed by `dataBytes` bytes of samples.
inline std::string wav_header(int rate, int channels, bool asFloat, std::uint32_t dataBytes) {
  const std::uint32_t width = asFloat ? 4 : 2, block = std::uint32_t(channels) * width;
  const std::uint32_t format = (asFloat ? 3u : 1u) | std::uint32_t(channels) << 16;
  // "RIFF", size, "WAVE", "fmt ", 16, format and channels, rate, byte rate,
  // block size and bits, "data", size.
  const std::uint32_t head[] = {0x46464952,
                                36 + dataBytes,
                                0x45564157,
                                0x20746D66,
                                16,
                                format,
                                std::uint32_t(rate),
                                std::uint32_t(rate) * block,
                                block | (8 * width) << 16,
                                0x61746164,
                                dataBytes};
  return std::string(reinterpret_cast<const char*>(head), sizeof head);
}

class ToolTest : public testing::Test {
 protected:
  void SetUp() override {
    if (kTool[0] == '\0') GTEST_SKIP() << "vocrel-clean is not built in this configuration";
    ::signal(SIGPIPE, SIG_IGN);
    char tmpl[] = "/tmp/vocrel-tool-test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (dir_.empty()) return;
    std::error_code ec;  // a test may leave its folder without write permission
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // Exit code of one run (-1 when a signal ended it), keeping stderr and stdout.
  int run(const std::string& args, const std::string& stdinFile = "/dev/null",
          const std::string& prefix = "") {
    const int rc = std::system((prefix + kTool + " " + options_ + args + " <" + stdinFile + " >" +
                                path("stdout") + " 2>" + path("stderr"))
                                   .c_str());
    err = slurp(path("stderr"));
    out = slurp(path("stdout"));
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  // One run that ends with `code` and says `message`.
  void expect_says(int code, const std::string& args, const std::string& message,
                   const std::string& stdinFile = "/dev/null", const std::string& prefix = "") {
    EXPECT_EQ(run(args, stdinFile, prefix), code) << args;
    EXPECT_NE(err.find(message), std::string::npos) << "wanted: " << message << "\n" << err;
  }
  // The names in the test's folder (or one below it), sorted, space-separated.
  std::string names(const std::string& sub = "") const {
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(dir_ / sub))
      all.push_back(e.path().filename());
    std::sort(all.begin(), all.end());
    std::string list;
    for (const auto& n : all) list += (list.empty() ? "" : " ") + n;
    return list;
  }
  std::filesystem::path dir_;
  std::string options_;  // given to every run before its own arguments
  std::string err, out;
};

}  // namespace vocrel_test
