// vocrel-clean's engine-facing core: frame streaming with delay compensation,
// option parsing, tunables, rate choice and the status-text table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "clean_options.h"
#include "frame_cleaner.h"
#include "status_text.h"

namespace {

using namespace vocrel::tool;

std::vector<std::int16_t> noise(std::size_t n, std::uint32_t seed) {
  std::vector<std::int16_t> x(n);
  for (auto& v : x) {
    seed = seed * 1103515245u + 12345u;
    v = static_cast<std::int16_t>(static_cast<int>(seed >> 17) - 16384);
  }
  return x;
}

// The engine's own output for interleaved input, zero-padded to whole frames
// plus `extra` zero frames, frame by frame through the API.
std::vector<std::int16_t> direct(const Vocrel_RNR_Params& p, const std::vector<std::int16_t>& x,
                                 int extra) {
  const std::size_t ch = static_cast<std::size_t>(p.channels);
  const std::size_t len = static_cast<std::size_t>(p.sampleRate / 100);
  std::vector<unsigned char> mem(VOCREL_RNR_MEM_SIZE);
  void* h = nullptr;
  EXPECT_EQ(Vocrel_RNR_Init(&h, mem.data(), VOCREL_RNR_MEM_SIZE, &p), 0);
  const std::size_t frames = (x.size() / ch + len - 1) / len + static_cast<std::size_t>(extra);
  std::vector<std::int16_t> in[2], out[2], y;
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t c = 0; c < ch; ++c) {
      in[c].assign(len, 0);
      out[c].assign(len, 0);
      for (std::size_t i = 0; i < len; ++i) {
        const std::size_t k = (f * len + i) * ch + c;
        if (k < x.size()) in[c][i] = x[k];
      }
    }
    Vocrel_RNR_FrameIo io = {in[0].data(), ch == 2 ? in[1].data() : nullptr,
                             static_cast<std::uint32_t>(len), out[0].data(),
                             ch == 2 ? out[1].data() : nullptr};
    EXPECT_EQ(Vocrel_RNR_Apply(h, &io, nullptr), 0);
    for (std::size_t i = 0; i < len; ++i)
      for (std::size_t c = 0; c < ch; ++c) y.push_back(out[c][i]);
  }
  return y;
}

// Pushes x in the given chunk sizes (cycled), then finishes.
std::vector<std::int16_t> through_cleaner(const Vocrel_RNR_Params& p, bool aligned,
                                          const std::vector<std::int16_t>& x,
                                          const std::vector<std::size_t>& chunks) {
  FrameCleaner fc;
  EXPECT_EQ(fc.init(p, aligned), 0);
  std::vector<std::int16_t> y;
  const std::size_t ch = static_cast<std::size_t>(p.channels);
  std::size_t at = 0, k = 0;
  while (at < x.size() / ch) {
    const std::size_t n = std::min(chunks[k++ % chunks.size()], x.size() / ch - at);
    EXPECT_EQ(fc.push(&x[at * ch], n, y), 0);
    at += n;
  }
  EXPECT_EQ(fc.finish(y), 0);
  return y;
}

// Aligned output is the engine's output with the first frame dropped and cut
// to the input's length; raw output is the engine's output as it comes. Both
// independent of how the input is chunked.
TEST(FrameCleaner, AlignedAndRawAgainstTheApi) {
  struct Case {
    std::int32_t rate, channels, mode;
    std::size_t frames;  // input sample frames
  };
  const Case cases[] = {
      {16000, 1, 0, 160 * 7},       {16000, 1, 0, 160 * 7 + 33}, {8000, 2, 0, 80 * 5 + 1},
      {48000, 2, 0, 480 * 3 + 479}, {8000, 1, 1, 80 * 9 + 40},   {16000, 2, 1, 17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch, mode " << c.mode
                                    << ", " << c.frames << " frames");
    Options o;
    o.mode = c.mode;
    const Vocrel_RNR_Params p = make_params(o, c.rate, c.channels);
    const std::size_t len = static_cast<std::size_t>(c.rate / 100);
    const std::vector<std::int16_t> x = noise(c.frames * c.channels, 99);

    const std::vector<std::int16_t> ref = direct(p, x, 1);
    const std::size_t ch = static_cast<std::size_t>(c.channels);
    const std::vector<std::int16_t> want(
        ref.begin() + static_cast<std::ptrdiff_t>(len * ch),
        ref.begin() + static_cast<std::ptrdiff_t>((len + c.frames) * ch));
    EXPECT_EQ(through_cleaner(p, true, x, {c.frames}), want);
    EXPECT_EQ(through_cleaner(p, true, x, {1, len - 1, 3 * len + 2}), want);

    const std::size_t whole = (c.frames + len - 1) / len * len;
    const std::vector<std::int16_t> rawWant(ref.begin(),
                                            ref.begin() + static_cast<std::ptrdiff_t>(whole * ch));
    EXPECT_EQ(through_cleaner(p, false, x, {7, len}), rawWant);
  }
}

TEST(FrameCleaner, EmptyInputGivesEmptyOutputAndBadSettingsFail) {
  Options o;
  const Vocrel_RNR_Params p = make_params(o, 16000, 1);
  EXPECT_TRUE(through_cleaner(p, true, {}, {1}).empty());
  EXPECT_TRUE(through_cleaner(p, false, {}, {1}).empty());

  FrameCleaner fc;
  o.maxNr = 21;
  EXPECT_EQ(fc.init(make_params(o, 16000, 1), true), VOCREL_RNR_E_MAX_NR);
  o = Options{};
  o.mode = 1;
  EXPECT_EQ(fc.init(make_params(o, 48000, 1), true), VOCREL_RNR_E_MODE_RATE);
  EXPECT_EQ(fc.init(make_params(Options{}, 16000, 3), true), VOCREL_RNR_E_CHANNELS);
}

TEST(CleanOptions, ParsesTunablesAndStreams) {
  const char* argv[] = {"vocrel-clean", "--mode", "1",           "--max-nr=12", "--hp-filter", "0",
                        "--vad3",       "1",      "--level-thr", "-70",         "--raw",       "-q",
                        "in.flac",      "-"};
  Options o;
  std::string err;
  ASSERT_TRUE(parse_options(14, argv, o, err)) << err;
  EXPECT_EQ(o.input, "in.flac");
  EXPECT_EQ(o.output, "-");
  EXPECT_TRUE(o.raw);
  EXPECT_TRUE(o.quiet);
  const Vocrel_RNR_Params p = make_params(o, 8000, 2);
  EXPECT_EQ(p.mode, 1);
  EXPECT_EQ(p.maxNr, 12);
  EXPECT_EQ(p.hpFilterOn, 0);
  EXPECT_EQ(p.vad3On, 1);
  EXPECT_EQ(p.levelThrDb, -70);
  EXPECT_EQ(p.vadBandThr, 50);  // untouched: the mode's default record
  EXPECT_EQ(p.sampleRate, 8000);
  EXPECT_EQ(p.channels, 2);

  // Defaults follow the mode's default record.
  EXPECT_EQ(make_params(Options{}, 48000, 1).hpFilterOn, 0);
  Options env;
  env.mode = 1;
  EXPECT_EQ(make_params(env, 16000, 1).hpFilterOn, 1);

  const char* stream[] = {"vocrel-clean", "--rate", "16000", "--channels", "2", "-", "-"};
  Options s;
  ASSERT_TRUE(parse_options(7, stream, s, err)) << err;
  EXPECT_EQ(s.rate, 16000);
  EXPECT_EQ(s.channels, 2);
}

TEST(CleanOptions, RejectsMalformedCommandLines) {
  struct Case {
    std::vector<const char*> args;
    const char* reason;
  };
  const Case cases[] = {
      {{"--max-nr", "ten", "a", "b"}, "whole number"},
      {{"--max-nr", "99999999999", "a", "b"}, "whole number"},
      {{"--level-thr=", "a", "b"}, "whole number"},
      {{"--frobnicate", "a", "b"}, "unknown option"},
      {{"a", "b", "--mode"}, "needs a value"},
      {{"a"}, "input and an output"},
      {{"a", "b", "c"}, "too many"},
      {{"-", "out.wav"}, "--rate"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"vocrel-clean"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Options o;
    std::string err;
    EXPECT_FALSE(parse_options(static_cast<int>(argv.size()), argv.data(), o, err)) << c.reason;
    EXPECT_NE(err.find(c.reason), std::string::npos) << err;
  }
  const char* help[] = {"vocrel-clean", "--help"};
  Options o;
  std::string err;
  EXPECT_TRUE(parse_options(2, help, o, err));
  EXPECT_TRUE(o.help);
}

TEST(CleanOptions, EngineRateIsTheNearestSupported) {
  struct Case {
    std::int32_t in, mode, engine;
  };
  const Case cases[] = {
      {8000, 0, 8000},   {16000, 0, 16000}, {48000, 0, 48000}, {44100, 0, 48000}, {22050, 0, 16000},
      {11025, 0, 8000},  {32000, 0, 48000}, {96000, 0, 48000}, {1, 0, 8000},      {48000, 1, 16000},
      {44100, 1, 16000}, {12000, 1, 16000}, {8000, 1, 8000},   {11025, 1, 8000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(engine_rate_for(c.in, c.mode), c.engine) << c.in << " Hz, mode " << c.mode;
}

TEST(StatusText, EveryCodeHasItsOwnText) {
  std::set<std::string> seen;
  for (std::int32_t s = 0; s >= -24; --s) {
    const std::string t = vocrel_status_text(s);
    EXPECT_NE(t, "unknown status") << s;
    EXPECT_TRUE(seen.insert(t).second) << "duplicate text for " << s;
  }
  EXPECT_STREQ(vocrel_status_text(-25), "unknown status");
  EXPECT_STREQ(vocrel_status_text(1), "unknown status");
  EXPECT_STREQ(vocrel_status_text(INT32_MIN), "unknown status");
  EXPECT_NE(std::string(vocrel_status_text(VOCREL_RNR_E_MAX_NR)).find("2..20"), std::string::npos);
  EXPECT_STREQ(option_for_status(VOCREL_RNR_E_VAD_BAND_THR), "--vad-band-thr");
  EXPECT_STREQ(option_for_status(VOCREL_RNR_E_CORRUPT), "");
}

}  // namespace
