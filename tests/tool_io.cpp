// vocrel-clean's inputs and outputs through libsndfile: damaged input (cut
// short, corrupted, headers that lie, NaN and infinite samples) stops the tool
// with the file and the position and replaces nothing, or with --keep-going
// writes what decoded; every output format decodes to the WAV output's level
// and waveform, and a sample format or codec a container cannot take is
// refused before any work; the header's strings are carried over. The batch
// form end to end: a folder tree with good files among unreadable, damaged,
// non-audio and empty ones. The good ones come out as the single-file form
// writes them, byte for byte, in a mirrored tree; the others are listed with
// their reasons and leave nothing behind; a second run skips what is done;
// two jobs write what one does.
#include <gtest/gtest.h>

#ifndef VOCREL_CLEAN_EXE
// Without the tool (a cross build without libsndfile) there is nothing to run.
TEST(ToolIo, NeedsTheTool) { GTEST_SKIP() << "vocrel-clean is not built in this configuration"; }
#else
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "tool_fixture.h"

namespace {

namespace fs = std::filesystem;

struct Audio {
  int rate = 0, channels = 1, format = 0;
  std::vector<float> x;  // interleaved, full scale 1.0
  std::size_t frames() const { return x.size() / static_cast<std::size_t>(channels); }
};

using vocrel_test::kTool;
using vocrel_test::slurp;
using vocrel_test::spill;

// Tone bursts (two partials, a different pitch per channel) over noise near
// -50 dBFS: the noise reduction keeps the bursts, and lossy codecs keep
// their waveform.
Audio tones(int rate, int channels, double seconds) {
  Audio a{rate, channels, 0, {}};
  vocrel_test::Lcg32 rng{2121};
  const double pi = std::acos(-1.0);
  for (std::size_t i = 0; i < static_cast<std::size_t>(seconds * rate); ++i) {
    const double t = static_cast<double>(i) / rate;
    const double gate = std::fmod(t, 0.5) < 0.3 ? std::sin(pi * std::fmod(t, 0.5) / 0.3) : 0.0;
    for (int c = 0; c < channels; ++c) {
      const double f = 220.0 * (c + 1);
      const double v =
          gate * (0.25 * std::sin(2 * pi * f * t) + 0.1 * std::sin(2 * pi * 3.5 * f * t));
      a.x.push_back(static_cast<float>(v + rng.uniform(100) / 32768.0));
    }
  }
  return a;
}

using Strings = std::vector<std::pair<int, std::string> >;

// An audio file through libsndfile, with the header strings given.
bool write_audio(const fs::path& path, const Audio& a, int format, const Strings& strings = {}) {
  SF_INFO info{};
  info.samplerate = a.rate;
  info.channels = a.channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) return false;
  for (const auto& [type, text] : strings) sf_set_string(f, type, text.c_str());
  const bool ok = sf_writef_float(f, a.x.data(), sf_count_t(a.frames())) == sf_count_t(a.frames());
  return sf_close(f) == 0 && ok;
}

Audio read_audio(const fs::path& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  Audio a;
  if (f == nullptr) return a;
  a.rate = info.samplerate;
  a.channels = info.channels;
  a.format = info.format;
  std::vector<float> block(4096 * std::size_t(info.channels));
  for (sf_count_t n; (n = sf_readf_float(f, block.data(), 4096)) > 0;)
    a.x.insert(a.x.end(), block.begin(), block.begin() + n * info.channels);
  sf_close(f);
  return a;
}

// A WAV file written by hand, so that its header can say what it likes:
// 16-bit PCM or 32-bit float samples, any rate and channel count.
void write_wav(const fs::path& path, const Audio& a, bool asFloat, int headerRate,
               int headerChannels) {
  const std::uint32_t width = asFloat ? 4 : 2;
  std::string s = vocrel_test::wav_header(headerRate, headerChannels, asFloat, a.x.size() * width);
  for (float v : a.x) {
    const auto pcm =
        static_cast<std::int16_t>(std::lrint(std::fmax(-1, std::fmin(v, 0.99997f)) * 32768));
    s.append(asFloat ? reinterpret_cast<const char*>(&v) : reinterpret_cast<const char*>(&pcm),
             width);
  }
  spill(path, s);
}

double level_db(const Audio& a) {
  double sum = 0;
  for (float v : a.x) sum += double(v) * v;
  return 10 * std::log10(sum / double(a.x.size()));
}

// Normalised correlation of two signals of the same shape, at lag 0.
double correlation(const Audio& a, const Audio& b) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < std::min(a.x.size(), b.x.size()); ++i)
    ab += double(a.x[i]) * b.x[i], aa += double(a.x[i]) * a.x[i], bb += double(b.x[i]) * b.x[i];
  return ab / std::sqrt(aa * bb);
}

class ToolIo : public vocrel_test::ToolTest {
 protected:
  ToolIo() { options_ = "-f "; }  // the tests replace their own outputs
};

// Files cut short or overwritten in the middle, in each container that says
// how long it is: cleaning in place fails with the name and the position and
// leaves the file as it was; --keep-going writes the part that decoded.
TEST_F(ToolIo, DamagedFilesAreErrors) {
  const Audio in = tones(44100, 2, 4.0);
  struct Case {
    const char* ext;
    int format;
    bool headerLength;  // the header says how long the stream is
  };
  const Case cases[] = {{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true},
                        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
                        {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
                        {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, false}};
  for (const Case& c : cases) {
    const std::string whole = path(std::string("whole.") + c.ext);
    ASSERT_TRUE(write_audio(whole, in, c.format)) << c.ext;
    EXPECT_EQ(run("-q " + whole + " " + path("kept.wav")), 0) << c.ext << ": " << err;
    fs::remove(path("kept.wav"));
    const std::string bytes = slurp(whole);
    std::string overwritten = bytes;
    for (std::size_t i = 0; i < 4096; ++i) overwritten[bytes.size() / 2 + i] = char(i * 37 + 11);
    const std::string damaged[] = {bytes.substr(0, bytes.size() * 11 / 20), overwritten};
    for (int kind = 0; kind < 2; ++kind) {
      if (kind == 1 && std::string(c.ext) == "wav") continue;  // PCM bytes are all samples
      SCOPED_TRACE(testing::Message() << c.ext << (kind == 0 ? " cut short" : " overwritten"));
      const std::string file = path(std::string("bad.") + c.ext);
      spill(file, damaged[kind]);
      expect_says(1, "-q " + file + " " + file, "'" + file + "' is damaged");
      EXPECT_NE(err.find(" s (frame "), std::string::npos) << err;
      EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
      EXPECT_EQ(slurp(file), damaged[kind]);
      EXPECT_EQ(names(),
                std::string("bad.") + c.ext + " stderr stdout whole." + c.ext);  // no temporary

      // Piped to stdin, where only the header can say how long the stream is
      // (WAV and FLAC do; an Ogg stream's length is in its last page), the
      // same.
      if (c.headerLength) {
        expect_says(1, "-q - " + path("kept.wav"), "stdin is damaged", file);
        EXPECT_FALSE(fs::exists(path("kept.wav")));
      }

      expect_says(0, "-q --keep-going " + file + " " + path("kept.wav"),
                  "warning: '" + file + "' is damaged");
      const Audio kept = read_audio(path("kept.wav"));
      EXPECT_GT(kept.frames(), in.frames() / 5);
      EXPECT_LT(kept.frames(), in.frames());
      fs::remove(path("kept.wav"));
      fs::remove(file);
    }
    fs::remove(whole);
  }
  // A WAV written to a pipe has placeholder sizes in its header: whole.
  write_wav(path("piped.wav"), in, false, 44100, 2);
  std::string piped = slurp(path("piped.wav"));
  // Cut inside a frame, it names the length its header declares to the frame.
  spill(path("cut.wav"), piped.substr(0, piped.size() * 3 / 10 + 1));
  expect_says(1, "-q " + path("cut.wav") + " " + path("kept.wav"),
              "short of the 4.00 s (frame 176400)");
  // Cut inside its header, it is a WAV file that cannot be read, not raw PCM.
  spill(path("cut.wav"), piped.substr(0, 30));
  expect_says(1, "-q " + path("cut.wav") + " " + path("kept.wav"),
              "cannot read '" + path("cut.wav") + "' as audio");
  EXPECT_EQ(err.find("--raw-in"), std::string::npos) << err;
  const std::uint32_t placeholder = 0x7FFFF000;
  std::memcpy(piped.data() + 4, &placeholder, 4);
  std::memcpy(piped.data() + 40, &placeholder, 4);
  spill(path("piped.wav"), piped);
  EXPECT_EQ(run("-q " + path("piped.wav") + " " + path("kept.wav")), 0) << err;
}

// Headers that lie and samples that are not numbers: refused at once with a
// clear message, an existing output kept.
TEST_F(ToolIo, LyingHeadersAndBadSamplesAreRefused) {
  Audio in = tones(16000, 1, 1.0);
  const std::string out = path("out.wav");
  struct Case {
    int rate, channels;
    const char* message;
  };
  const Case cases[] = {
      {2000000000, 1, "header gives a sample rate of 2000000000 Hz; 1000..768000 Hz"},
      {999, 1, "sample rate of 999 Hz"},
      {0, 1, "cannot read"},
      {16000, 0, "cannot read"},
      {16000, 9, "9 channels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channels");
    write_wav(path("lie.wav"), in, false, c.rate, c.channels);
    spill(out, "keep");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(path("lie.wav") + " " + out), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(slurp(out), "keep");
  }

  in.x[8000] = NAN;
  in.x[9000] = INFINITY;
  write_wav(path("nan.wav"), in, true, 16000, 1);
  expect_says(1, "-q " + path("nan.wav") + " " + out,
              "2 sample(s) are NaN or infinite, the first at 0.50 s (frame 8000)");
  EXPECT_EQ(slurp(out), "keep");
  expect_says(0, "-q --keep-going " + path("nan.wav") + " " + out,
              "warning: '" + path("nan.wav") + "' is damaged");
  EXPECT_EQ(read_audio(out).frames(), in.frames());
}

// Each output container, mono and stereo: decoded, as loud as the WAV output
// (within 0.2 dB) and the same waveform (lossless: sample for sample).
TEST_F(ToolIo, EveryFormatDecodesAsTheWavOutput) {
  struct Case {
    const char* ext;
    bool lossy;
  };
  const Case cases[] = {{"w64", false},  {"aiff", false}, {"au", false},  {"caf", false},
                        {"flac", false}, {"ogg", true},   {"opus", true}, {"mp3", true}};
  for (int channels : {1, 2}) {
    const Audio in = tones(48000, channels, 2.0);
    write_wav(path("in.wav"), in, false, 48000, channels);
    ASSERT_EQ(run("-q " + path("in.wav") + " " + path("ref.wav")), 0) << err;
    const Audio ref = read_audio(path("ref.wav"));
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.ext << ", " << channels << " channel(s)");
      const std::string out = path(std::string("out.") + c.ext);
      ASSERT_EQ(run("-q " + path("in.wav") + " " + out), 0) << err;
      const Audio o = read_audio(out);
      ASSERT_EQ(o.channels, channels);
      ASSERT_EQ(o.frames(), ref.frames());
      EXPECT_NEAR(level_db(o), level_db(ref), 0.2);
      EXPECT_GT(correlation(o, ref), c.lossy ? 0.99 : 0.999999);
      if (!c.lossy) {
        EXPECT_EQ(o.x, ref.x);
      }
    }
  }
}

// Float input stays float where the container takes it; a sample format or a
// codec the container cannot take is refused before the output is touched.
TEST_F(ToolIo, SampleFormatsAreKeptOrRefused) {
  const Audio in = tones(44100, 2, 0.5);
  write_wav(path("f.wav"), in, true, 44100, 2);
  for (const char* ext : {"wav", "w64", "aiff", "au", "caf"}) {
    const std::string out = path(std::string("o.") + ext);
    ASSERT_EQ(run("-q " + path("f.wav") + " " + out), 0) << err;
    EXPECT_EQ(read_audio(out).format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT) << ext;
  }
  ASSERT_EQ(run("-q --sample-format s24 " + path("f.wav") + " " + path("o.flac")), 0) << err;
  EXPECT_EQ(read_audio(path("o.flac")).format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24);

  const std::string kept = path("kept.flac");
  const std::pair<std::string, const char*> refused[] = {
      {"--sample-format f32 " + path("f.wav") + " " + kept, "a FLAC file cannot hold f32"},
      {"--sample-format s16 " + path("f.wav") + " " + path("kept.ogg"), "cannot hold s16"},
      {"--sample-format s24 " + path("f.wav") + " " + path("kept.mp3"), "does not apply"},
      {path("f.wav") + " " + path("kept.opus"), "Opus takes 8, 12, 16, 24 or 48 kHz"},
  };
  for (const auto& [args, message] : refused) {
    spill(kept, "keep");
    expect_says(1, "-q " + args, message);
    EXPECT_EQ(slurp(kept), "keep");
  }
}

Strings strings_of(const fs::path& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  Strings s;
  for (int type = SF_STR_FIRST; f != nullptr && type <= SF_STR_LAST; ++type)
    if (const char* text = sf_get_string(f, type); text != nullptr && *text != '\0')
      s.emplace_back(type, text);
  if (f != nullptr) sf_close(f);
  return s;
}

// Title, artist and comment of a WAV and of a FLAC input reach every output
// container that holds them, and stay when a file is cleaned in place.
TEST_F(ToolIo, StringsAreCarriedOver) {
  const Audio in = tones(16000, 1, 0.5);
  const Strings want = {{SF_STR_TITLE, "Kitchen take 3"},
                        {SF_STR_ARTIST, "Vocrel tests"},
                        {SF_STR_COMMENT, "noisy, with a fan"}};
  for (const char* inExt : {"wav", "flac"}) {
    const std::string src = path(std::string("tagged.") + inExt);
    const int container = std::string(inExt) == "wav" ? SF_FORMAT_WAV : SF_FORMAT_FLAC;
    ASSERT_TRUE(write_audio(src, in, container | SF_FORMAT_PCM_16, want));
    ASSERT_EQ(strings_of(src), want);
    for (const char* ext : {"wav", "flac", "ogg", "aiff", "caf", "mp3"}) {
      const std::string out = path(std::string("out.") + ext);
      ASSERT_EQ(run("-q " + src + " " + out), 0) << err;
      Strings got;
      for (const auto& s : strings_of(out))
        if (s.first == SF_STR_TITLE || s.first == SF_STR_ARTIST || s.first == SF_STR_COMMENT)
          got.push_back(s);
      EXPECT_EQ(got, want) << inExt << " to " << ext;
    }
    ASSERT_EQ(run("-q " + src + " " + src), 0) << err;
    EXPECT_EQ(strings_of(src), want) << inExt << " in place";
  }
}

// Speech-like bursts over noise, a different pitch per file.
bool write_speech(const fs::path& path, int rate, int channels, double seconds, int format,
                  double pitch) {
  Audio a{rate, channels, 0, {}};
  vocrel_test::Lcg32 rng{std::uint32_t(pitch)};
  const double pi = std::acos(-1.0);
  for (long i = 0; i < long(seconds * rate); ++i) {
    const double t = double(i) / rate;
    const double gate = std::fmod(t, 0.4) < 0.25 ? 0.3 : 0.0;
    for (int c = 0; c < channels; ++c)
      a.x.push_back(
          float(gate * std::sin(2 * pi * pitch * (c + 1) * t) + rng.uniform(200) / 32768.0));
  }
  return write_audio(path, a, format);
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

class ToolBatch : public vocrel_test::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
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

  int run(const std::string& args) { return ToolTest::run(args, "/dev/null", as_user()); }

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

  fs::path in_;
  std::vector<std::string> good_;
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
#endif  // VOCREL_CLEAN_EXE
