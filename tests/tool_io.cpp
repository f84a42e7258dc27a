// vocrel-clean's inputs and outputs through libsndfile: damaged input (cut
// short, corrupted, headers that lie, NaN and infinite samples) stops the tool
// with the file and the position and replaces nothing, or with --keep-going
// writes what decoded; every output format decodes to the WAV output's level
// and waveform, and a sample format or codec a container cannot take is
// refused before any work; the header's strings are carried over.
#include <gtest/gtest.h>

#ifndef VOCREL_CLEAN_EXE
// Without the tool (a cross build without libsndfile) there is nothing to run.
TEST(ToolIo, NeedsTheTool) { GTEST_SKIP() << "vocrel-clean is not built in this configuration"; }
#else
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>

#include "tool_fixture.h"

namespace {

namespace fs = std::filesystem;

struct Audio {
  int rate = 0, channels = 1, format = 0;
  std::vector<float> x;  // interleaved, full scale 1.0
  std::size_t frames() const { return x.size() / static_cast<std::size_t>(channels); }
};

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

}  // namespace
#endif  // VOCREL_CLEAN_EXE
