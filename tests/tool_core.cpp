// vocrel-clean's engine-facing core: frame streaming with delay compensation
// against the API, option parsing, rate choice and unknown status codes; and
// the rate route (when built with libsoxr).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "clean_options.h"
#include "frame_cleaner.h"
#ifdef VOCREL_RATE_ROUTE
#include "rate_route.h"
#endif
#include "test_util.h"

namespace {

using namespace vocrel::tool;
using vocrel::stream::FrameCleaner;
using vocrel::stream::kMaxChannels;

using vocrel_test::Samples;

// Pushes interleaved x in the given chunk sizes (cycled), then finishes.
Samples through_cleaner(const Vocrel_RNR_Params& p, bool aligned, const Samples& x,
                        const std::vector<std::size_t>& chunks) {
  FrameCleaner fc;
  EXPECT_EQ(fc.init(p, aligned), 0);
  Samples y;
  const std::size_t ch = static_cast<std::size_t>(p.channels), frames = x.size() / ch;
  for (std::size_t at = 0, k = 0; at < frames; at += chunks[k++ % chunks.size()])
    EXPECT_EQ(fc.push(&x[at * ch], std::min(chunks[k % chunks.size()], frames - at), y), 0);
  EXPECT_EQ(fc.finish(y), 0);
  return y;
}

// Aligned output is the engine's output (zero-padded input plus one frame)
// with the first frame dropped, cut to the input's length; raw output is the
// engine's output of the whole frames as it comes. Chunking changes nothing.
TEST(FrameCleaner, AlignedAndRawAgainstTheApi) {
  const std::int32_t cases[][4] = {
      {16000, 1, 0, 160 * 7 + 33}, {8000, 2, 0, 80 * 5 + 1}, {48000, 2, 0, 480 * 3 + 479},
      {8000, 1, 1, 80 * 9 + 40},   {16000, 2, 1, 17},        {16000, 1, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " Hz, " << c[1] << " ch, mode " << c[2]);
    Options o;
    o.mode = c[2];
    const Vocrel_RNR_Params p = make_params(o, c[0], c[1]);
    const std::size_t len = static_cast<std::size_t>(c[0] / 100), ch = c[1], n = c[3];
    vocrel_test::Lcg32 rng{99};
    Samples x(n * ch);
    for (auto& v : x) v = static_cast<std::int16_t>(rng.uniform(16384));
    // The engine frame by frame over the zero-padded input and one more frame.
    const std::size_t whole = (n + len - 1) / len * len;
    Samples in[2] = {Samples(whole + len, 0), Samples(whole + len, 0)}, out[2], ref;
    for (std::size_t i = 0; i < x.size(); ++i) in[i % ch][i / ch] = x[i];
    vocrel_test::Instance eng(p);
    eng.run2(in[0], in[1], out[0], out[1]);
    for (std::size_t i = 0; i < whole + len; ++i)
      for (std::size_t k = 0; k < ch; ++k) ref.push_back(out[k][i]);
    const Samples aligned(ref.begin() + len * ch, ref.begin() + (len + n) * ch);
    EXPECT_EQ(through_cleaner(p, true, x, {std::max<std::size_t>(n, 1)}), aligned);
    EXPECT_EQ(through_cleaner(p, true, x, {1, len - 1, 3 * len + 2}), aligned);
    EXPECT_EQ(through_cleaner(p, false, x, {7, len}),
              Samples(ref.begin(), ref.begin() + whole * ch));
  }
  FrameCleaner fc;
  Options o;
  o.maxNr = VOCREL_RNR_MAX_NR_MAX + 1;
  EXPECT_EQ(fc.init(make_params(o, 16000, 1), true), VOCREL_RNR_E_MAX_NR);
  EXPECT_EQ(fc.init(make_params(Options{}, 16000, kMaxChannels + 1), true), VOCREL_RNR_E_CHANNELS);
}

// Five channels: pairs (0, 1) and (2, 3) are cleaned as stereo streams and
// channel 4 as a mono one, each on its own.
TEST(FrameCleaner, MoreChannelsArePairsOnTheirOwn) {
  const std::size_t n = 16000, ch = 5;
  vocrel_test::Lcg32 rng{7};
  Samples x(n * ch);
  for (auto& v : x) v = static_cast<std::int16_t>(rng.uniform(8192));
  const Samples all = through_cleaner(make_params(Options{}, 16000, 5), true, x, {999});
  ASSERT_EQ(all.size(), x.size());
  for (std::size_t first : {0u, 2u, 4u}) {
    const std::size_t k = first == 4 ? 1 : 2;
    Samples part, expected;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t c = first; c < first + k; ++c) part.push_back(x[i * ch + c]);
    const Samples y = through_cleaner(make_params(Options{}, 16000, static_cast<std::int32_t>(k)),
                                      true, part, {n});
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t c = first; c < first + k; ++c) expected.push_back(all[i * ch + c]);
    EXPECT_EQ(y, expected) << "channels from " << first;
  }
}

// Parses a command line given without the program name.
bool parse(std::vector<const char*> args, Options& o, std::string& err) {
  args.insert(args.begin(), "vocrel-clean");
  return parse_options(static_cast<int>(args.size()), args.data(), o, err);
}

TEST(CleanOptions, ParsesTunablesAndRefusesMalformedLines) {
  Options o;
  std::string err;
  ASSERT_TRUE(parse({"--mode", "1", "--max-nr=12", "--hp-filter", "0", "--vad3", "1", "--level-thr",
                     "-70", "--raw", "-q", "in.flac", "-"},
                    o, err))
      << err;
  EXPECT_TRUE(o.input == "in.flac" && o.output == "-" && o.raw && o.quiet);
  const Vocrel_RNR_Params p = make_params(o, 8000, 2);
  const std::int32_t want[15] = {12, 0, -70, 1, 50, 1, 0, 0, 0, 0, 0, 0, 8000, 2, 1};
  EXPECT_EQ(std::vector<std::int32_t>(&p.maxNr, &p.maxNr + 15),
            std::vector<std::int32_t>(want, want + 15));
  EXPECT_EQ(make_params(Options{}, 48000, 1).hpFilterOn, 0);  // the mode's default record

  const std::pair<std::vector<const char*>, const char*> bad[] = {
      {{"--max-nr", "ten", "a", "b"}, "whole number"},
      {{"--max-nr", "99999999999", "a", "b"}, "whole number"},
      {{"--level-thr", "loud", "a", "b"}, "whole number of dB or 'auto', not 'loud'"},
      {{"--frobnicate", "a", "b"}, "unknown option"},
      {{"a", "b", "--mode"}, "needs a value"},
      {{"a"}, "input and an output"},
      {{"a", "b", "c"}, "too many"},
      {{"--rate", "0", "-", "b"}, "not a sample rate"},
      {{"--channels", "9", "-", "b"}, "give 1 to 8"},
      {{"--sample-format", "s8", "a", "b"}, "same, s16, s24 or f32"},
      // The batch form's.
      {{"-j", "0", "a", "-o", "d"}, "1 to 1024"},
      {{"-j", "many", "a", "-o", "d"}, "1 to 1024"},
      {{"-o", "d"}, "at least one input"},
      {{"a", "-o"}, "needs a value"},
      {{"-", "-o", "d"}, "stdin"},
      {{"-j", "2", "a", "b"}, "batch form"},
      {{"--ext", "wav", "a", "b"}, "batch form"},
  };
  for (const auto& [args, reason] : bad) {
    Options b;
    EXPECT_FALSE(parse(args, b, err)) << reason;
    EXPECT_NE(err.find(reason), std::string::npos) << err;
  }
}

// -f and -n (the last one counts), "auto" in any case, "--" before names that
// start with a dash, and the options a mode does not read.
TEST(CleanOptions, ReplacingAutoAndTheEndOfOptions) {
  Options o;
  std::string err;
  ASSERT_TRUE(parse({"-f", "-n", "--level-thr", "-40", "--level-thr", "AUTO", "a", "b"}, o, err));
  EXPECT_TRUE(o.noClobber && !o.force && o.auto_threshold());
  ASSERT_TRUE(parse({"--no-clobber", "--force", "--", "-in.wav", "-"}, o, err)) << err;
  EXPECT_TRUE(o.force && !o.noClobber && o.input == "-in.wav" && o.output == "-");

  Options m1;
  ASSERT_TRUE(parse({"--mode", "1", "--level-thr", "-40", "--vad-band-thr=50", "a", "-"}, m1, err));
  EXPECT_EQ(unused_options(m1),
            "--level-thr has no effect in mode 1\n"
            "--vad-band-thr has no effect in mode 1\n");
  Options m0;
  ASSERT_TRUE(parse({"--vad3", "1", "--sample-format", "s24", "a", "-"}, m0, err));
  EXPECT_EQ(unused_options(m0),
            "--vad3 has no effect in mode 0\n--sample-format has no effect "
            "on raw PCM to stdout (always 16-bit)\n");
  m0.output = "b.wav";
  m0.vad3.reset();
  EXPECT_EQ(unused_options(m0), "");
}

// The batch form's own options in each spelling, and the per-file options it
// hands each file's run: read back, they give the same settings.
TEST(CleanOptions, BatchFormAndThePerFileOptions) {
  Options o;
  std::string err;
  ASSERT_TRUE(parse({"-j2", "--ext=wav,flac", "--mode", "1", "--max-nr", "12", "--vad3=1", "--raw",
                     "--no-silence-hold", "-n", "a.wav", "dir", "-o", "out"},
                    o, err))
      << err;
  EXPECT_TRUE(o.batch() && o.outDir == "out" && o.jobs == 2 && o.extensions == "wav,flac");
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.wav", "dir"}));
  Options j;
  ASSERT_TRUE(parse({"--jobs", "3", "--output-dir=o", "x"}, j, err)) << err;
  EXPECT_TRUE(j.jobs == 3 && j.outDir == "o" && j.inputs.size() == 1);
  ASSERT_TRUE(parse({"-oo", "-j", "1", "--", "-o"}, j, err)) << err;
  EXPECT_TRUE(j.outDir == "o" && j.inputs.back() == "-o");

  std::vector<std::string> args = file_options(o);
  args.insert(args.end(), {"in.wav", "out.wav"});
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Options back;
  ASSERT_TRUE(parse(argv, back, err)) << err;
  const Vocrel_RNR_Params a = make_params(o, 16000, 1), b = make_params(back, 16000, 1);
  EXPECT_EQ(std::vector<std::int32_t>(&a.maxNr, &a.maxNr + 15),
            std::vector<std::int32_t>(&b.maxNr, &b.maxNr + 15));
  EXPECT_TRUE(back.raw && !back.silenceHold && back.noClobber && !back.force && !back.batch());
  EXPECT_EQ(back.sampleFormat, o.sampleFormat);
}

TEST(CleanOptions, EngineRateAndUnknownStatus) {
  const std::int32_t rates[][3] = {{44100, 0, 48000}, {22050, 0, 16000}, {11025, 0, 8000},
                                   {32000, 0, 48000}, {1, 0, 8000},      {48000, 1, 16000},
                                   {12000, 1, 16000}, {11025, 1, 8000},  {16000, 0, 16000}};
  for (const auto& c : rates)
    EXPECT_EQ(vocrel::stream::engine_rate_for(c[0], c[1]), c[2]) << c[0] << " mode " << c[1];
  for (std::int32_t s : {-25, 1, INT32_MIN})
    EXPECT_STREQ(Vocrel_RNR_StatusText(s), "unknown status");
}

#ifdef VOCREL_RATE_ROUTE
// The rate route on its own, with frames passed through unchanged: at every
// rate it converts, the clicks of a long train come out the same number of
// samples late, whatever the host's block sizes, with the FIFO never empty nor
// full, and that delay is the route's latency less the engine's one frame.
using vocrel::stream::engine_rate_for;
using vocrel::stream::Route;

void pass_through(void*, const Route& route, const float* in, float* out) {
  std::copy_n(in, route.frame_len() * route.channels(), out);
}

// Where each click of the output peaks, less where it went in; INT_MIN for a
// click that did not come out.
std::vector<long> click_lags(double rate, int mode, unsigned channels, double seconds,
                             std::uint32_t seed, long& latency, double& frameDelay) {
  Route route;
  const std::int32_t engineRate = engine_rate_for(rate, mode);
  EXPECT_TRUE(route.create(rate, engineRate, channels));
  latency = route.latency();
  frameDelay = static_cast<double>(route.frame_len()) * rate / engineRate;
  const auto frames = static_cast<std::size_t>(seconds * rate);
  const auto period = static_cast<std::size_t>(0.1 * rate) + 7;  // not a chunk multiple
  std::vector<float> in(frames * channels, 0.0f), out(frames * channels, 0.0f);
  for (std::size_t k = period / 2; k < frames; k += period)
    for (unsigned c = 0; c < channels; ++c) in[k * channels + c] = c == 0 ? 0.5f : -0.5f;
  vocrel_test::Lcg32 rng{seed};
  for (std::size_t done = 0; done < frames;) {
    const std::size_t n = std::min<std::size_t>(frames - done, 1 + rng.next() % 4096);
    route.feed(in.data() + done * channels, out.data() + done * channels, n, pass_through, nullptr);
    done += n;
  }
  EXPECT_EQ(route.underruns(), 0u);
  EXPECT_EQ(route.overruns(), 0u);
  std::vector<long> lags;
  const long expected = std::lround(static_cast<double>(latency) - frameDelay);
  for (std::size_t k = period / 2; k + static_cast<std::size_t>(latency) + 64 < frames;
       k += period) {
    long best = INT32_MIN;
    float peak = 0.02f;  // a click comes out at 0.04 (192 to 16 kHz) to 0.5
    for (long d = expected - 64; d <= expected + 64; ++d)
      for (unsigned c = 0; c < channels; ++c) {
        const float v = out[(k + static_cast<std::size_t>(d)) * channels + c] * (c == 0 ? 1 : -1);
        if (v > peak) peak = v, best = d;
      }
    lags.push_back(best);
  }
  return lags;
}

TEST(RateRoute, EveryClickKeepsItsDelay) {
  const double rates[] = {11025, 22050, 32000, 37800, 44100, 88200, 96000, 192000, 7999, 44056};
  std::uint32_t seed = 1;
  for (const double rate : rates)
    for (int mode : {0, 1}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, mode " << mode);
      long latency = 0;
      double frameDelay = 0;
      const std::vector<long> lags =
          click_lags(rate, mode, mode == 0 ? 2 : 1, 30.0, seed++, latency, frameDelay);
      ASSERT_GT(lags.size(), 250u);
      EXPECT_NEAR(static_cast<double>(lags.front()), latency - frameDelay, 1.0);
      EXPECT_EQ(std::count(lags.begin(), lags.end(), lags.front()), std::ptrdiff_t(lags.size()))
          << "delay " << lags.front() << " first, " << *std::min_element(lags.begin(), lags.end())
          << ".." << *std::max_element(lags.begin(), lags.end()) << " in all";
    }
}

// The same stream through a route reset in between gives the same samples.
TEST(RateRoute, ResetStartsAfresh) {
  Route route;
  ASSERT_TRUE(route.create(44100, 48000, 1));
  std::vector<float> in(44100), first(in.size()), second(in.size());
  vocrel_test::Lcg32 rng{5};
  for (float& v : in) v = static_cast<float>(rng.uniform(3000)) / 32768.0f;
  route.feed(in.data(), first.data(), in.size(), pass_through, nullptr);
  ASSERT_TRUE(route.reset());
  route.feed(in.data(), second.data(), 1000, pass_through, nullptr);
  route.feed(in.data() + 1000, second.data() + 1000, in.size() - 1000, pass_through, nullptr);
  EXPECT_EQ(first, second);
}

#endif  // VOCREL_RATE_ROUTE

}  // namespace
