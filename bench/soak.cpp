// Soak run: pushes hours of synthetic speech in noise through one instance
// per configuration as fast as it can and checks that nothing drifts.
//
// The input repeats in cycles of 195 s: speech-like voiced segments and
// pauses over noise whose level steps every 65 s (-50, -40, -32 dBFS), four
// seconds of digital silence and a 300 ms full-scale burst. Every cycle
// carries the same audio. The first cycle lets the instance settle after
// initialisation and is not measured; the next hour and the last hour (for
// short runs a tenth of the run, at least one cycle each) then see identical
// input, and their noise attenuation (output over input energy in speech
// pauses, averaged in dB over the three noise levels) and speech level
// (output energy in voiced frames, dBFS) must agree within 0.5 dB. Frames
// within 10 s after a level step, the silence or the burst are not measured.
//
// Usage: soak [--minutes M | --hours H] [--config NAME ...] [--verbose]
// (--verbose prints the figures of every cycle).
// Exit status 1 when a frame call fails or a figure drifts.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "soak_signal.h"
#include "vocrel_rnr.h"

namespace {

struct Config {
  const char* name;
  std::int32_t rate, channels, mode;
};

constexpr Config kConfigs[] = {
    {"flr-8k-mono", 8000, 1, 0},     {"flr-16k-mono", 16000, 1, 0},
    {"flr-48k-mono", 48000, 1, 0},   {"flr-8k-stereo", 8000, 2, 0},
    {"flr-16k-stereo", 16000, 2, 0}, {"flr-48k-stereo", 48000, 2, 0},
    {"env-8k-mono", 8000, 1, 1},     {"env-16k-mono", 16000, 1, 1},
    {"env-8k-stereo", 8000, 2, 1},   {"env-16k-stereo", 16000, 2, 1},
};

constexpr int kFramesPerSecond = 100;
constexpr int kLevelSeconds = 65;
constexpr int kCycleSeconds = 3 * kLevelSeconds;
constexpr int kCyclesPerHour = 3600 / kCycleSeconds;
constexpr double kSpeechDb = -22;
constexpr double kNoiseDb[3] = {-50, -40, -32};  // one per kLevelSeconds of a cycle
constexpr int kSilenceStart = 100, kSilenceSeconds = 4;
constexpr double kBurstStart = 170, kBurstSeconds = 0.3;
constexpr int kSettleSeconds = 10;
constexpr double kMaxDriftDb = 0.5;
constexpr std::int32_t kFloorLevelThrDb = -30;

// What the input holds at frame f of a cycle.
struct Scene {
  int level;  // index into kNoiseDb
  double noiseDb;
  bool silence, burst, settled;
};

Scene scene_at(int f) {
  const double t = static_cast<double>(f) / kFramesPerSecond;
  const int level = static_cast<int>(t) / kLevelSeconds;
  Scene s{level, kNoiseDb[level], false, false, true};
  s.silence = t >= kSilenceStart && t < kSilenceStart + kSilenceSeconds;
  s.burst = t >= kBurstStart && t < kBurstStart + kBurstSeconds;
  // Time since the last change of scene: a level step, the end of the
  // silence, the end of the burst.
  double since = t - kLevelSeconds * std::floor(t / kLevelSeconds);
  if (t >= kSilenceStart + kSilenceSeconds) {
    since = std::fmin(since, t - (kSilenceStart + kSilenceSeconds));
  }
  if (t >= kBurstStart + kBurstSeconds) since = std::fmin(since, t - (kBurstStart + kBurstSeconds));
  s.settled = !s.silence && !s.burst && since >= kSettleSeconds;
  return s;
}

// Energies of one measuring window. The noise attenuation is the mean over
// the three noise levels of each level's output-over-input energy ratio in
// dB, so that the loudest level does not decide it alone.
struct Window {
  double pauseOut[3] = {}, pauseIn[3] = {}, speechOut = 0;
  std::int64_t speechSamples = 0;
  void add(const Window& o) {
    for (int i = 0; i < 3; ++i) {
      pauseOut[i] += o.pauseOut[i];
      pauseIn[i] += o.pauseIn[i];
    }
    speechOut += o.speechOut;
    speechSamples += o.speechSamples;
  }
  double attenuation_db(int level) const {
    return 10 * std::log10(pauseOut[level] / pauseIn[level]);
  }
  double attenuation_db() const {
    return (attenuation_db(0) + attenuation_db(1) + attenuation_db(2)) / 3;
  }
  double speech_dbfs() const {
    return 10 * std::log10(speechOut / static_cast<double>(speechSamples) / (32768.0 * 32768.0));
  }
};

double energy(const std::int16_t* x, std::size_t n) {
  double e = 0;
  for (std::size_t i = 0; i < n; ++i) e += static_cast<double>(x[i]) * x[i];
  return e;
}

// Runs one configuration; returns false when it fails or drifts.
bool soak(const Config& c, std::int64_t cycles, bool verbose) {
  Vocrel_RNR_Params p =
      c.mode == 1 ? g_Vocrel_RNR_Params_Env_8k_MONO : g_Vocrel_RNR_Params_Flr_48k_MONO;
  p.sampleRate = c.rate;
  p.channels = c.channels;
  p.mode = c.mode;
  // The floor-noise path learns no noise in frames more than 10 dB above its
  // level threshold; -30 dB keeps every noise level of the cycle learnable.
  if (c.mode == 0) p.levelThrDb = kFloorLevelThrDb;
  std::vector<std::uint8_t> block(VOCREL_RNR_MEM_SIZE);
  void* h = nullptr;
  if (const std::int32_t st = Vocrel_RNR_Init(&h, block.data(), VOCREL_RNR_MEM_SIZE, &p)) {
    std::printf("%-15s Init failed: %d\n", c.name, st);
    return false;
  }
  const std::size_t n = static_cast<std::size_t>(c.rate / kFramesPerSecond);
  std::vector<std::int16_t> in0(n), in1(n), out0(n), out1(n), prevIn(n);
  Vocrel_RNR_FrameIo io{in0.data(), in1.data(), static_cast<std::uint32_t>(n), out0.data(),
                        out1.data()};
  robust::SpeechLike s0(c.rate, 1), s1(c.rate, 2);
  robust::Rng burstRng(3);

  // Cycle 0 settles; then the first and the last window of equal length.
  const std::int64_t windowCycles = std::clamp<std::int64_t>((cycles - 1) / 10, 1, kCyclesPerHour);
  Window first, last;
  std::int64_t frames = 0, failures = 0;
  int maxOut = 0;
  bool gate[3] = {false, false, false};  // voiced in frames f-2, f-1, f
  bool settledPrev = false;
  const auto t0 = std::chrono::steady_clock::now();
  for (std::int64_t cyc = 0; cyc < cycles; ++cyc) {
    s0.reseed(1);
    s1.reseed(2);
    burstRng = robust::Rng(3);
    Window* w = cyc >= 1 && cyc <= windowCycles ? &first
                : cyc >= cycles - windowCycles  ? &last
                                                : nullptr;
    Window cycle;
    for (int f = 0; f < kCycleSeconds * kFramesPerSecond; ++f, ++frames) {
      const Scene sc = scene_at(f);
      const double noiseDb = sc.silence ? -999 : sc.noiseDb;
      const double speechDb = sc.silence ? -999 : kSpeechDb;
      gate[0] = gate[1];
      gate[1] = gate[2];
      gate[2] = s0.fill(in0.data(), n, speechDb, noiseDb);
      s1.fill(in1.data(), n, speechDb - 4, noiseDb + 3);
      if (sc.burst) {
        for (std::size_t i = 0; i < n; ++i) {
          in0[i] = (burstRng.next() & 1) ? INT16_MAX : INT16_MIN;
          in1[i] = static_cast<std::int16_t>(-in0[i] - 1);
        }
      }
      const std::int32_t st = Vocrel_RNR_Apply(h, &io, nullptr);
      if (st != 0 && failures++ < 5) {
        std::printf("%-15s frame %lld: status %d\n", c.name, static_cast<long long>(frames), st);
      }
      for (std::size_t i = 0; i < n; ++i) {
        maxOut = std::max({maxOut, std::abs(static_cast<int>(out0[i])),
                           c.channels == 2 ? std::abs(static_cast<int>(out1[i])) : 0});
      }
      // The output lags the input by one frame: output frame f belongs to
      // input frames f-1 and f.
      if (sc.settled && settledPrev) {
        if (!gate[0] && !gate[1] && !gate[2]) {
          cycle.pauseOut[sc.level] += energy(out0.data(), n);
          cycle.pauseIn[sc.level] += energy(prevIn.data(), n);
        } else if (gate[1] && gate[2]) {
          cycle.speechOut += energy(out0.data(), n);
          cycle.speechSamples += static_cast<std::int64_t>(n);
        }
      }
      settledPrev = sc.settled;
      prevIn = in0;
    }
    if (w) w->add(cycle);
    if (verbose) {
      std::printf("%-15s cycle %4lld  attenuation %6.2f dB (%.1f/%.1f/%.1f)  speech %6.2f dBFS\n",
                  c.name, static_cast<long long>(cyc), cycle.attenuation_db(),
                  cycle.attenuation_db(0), cycle.attenuation_db(1), cycle.attenuation_db(2),
                  cycle.speech_dbfs());
    }
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double hours = static_cast<double>(frames) / kFramesPerSecond / 3600;
  const double dAtt = last.attenuation_db() - first.attenuation_db();
  const double dSpeech = last.speech_dbfs() - first.speech_dbfs();
  const bool ok =
      failures == 0 && std::fabs(dAtt) <= kMaxDriftDb && std::fabs(dSpeech) <= kMaxDriftDb;
  std::printf(
      "%-15s %7.3f h %10lld frames %8.1f s wall (%6.0fx real time)  failures %lld  max |out| "
      "%5d  attenuation %6.2f -> %6.2f dB (%+.2f; at %g/%g/%g dBFS noise %.1f/%.1f/%.1f)  "
      "speech %6.2f -> %6.2f dBFS (%+.2f)  %s\n",
      c.name, hours, static_cast<long long>(frames), wall, hours * 3600 / wall,
      static_cast<long long>(failures), maxOut, first.attenuation_db(), last.attenuation_db(), dAtt,
      kNoiseDb[0], kNoiseDb[1], kNoiseDb[2], last.attenuation_db(0), last.attenuation_db(1),
      last.attenuation_db(2), first.speech_dbfs(), last.speech_dbfs(), dSpeech, ok ? "ok" : "FAIL");
  std::fflush(stdout);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  double minutes = 10;
  bool verbose = false;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--minutes" && i + 1 < argc) {
      minutes = std::atof(argv[++i]);
    } else if (a == "--hours" && i + 1 < argc) {
      minutes = 60 * std::atof(argv[++i]);
    } else if (a == "--verbose") {
      verbose = true;
    } else if (a == "--config" && i + 1 < argc) {
      names.emplace_back(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--minutes M | --hours H] [--config NAME ...] [--verbose]\n",
                   argv[0]);
      for (const Config& c : kConfigs) std::fprintf(stderr, "  %s\n", c.name);
      return 2;
    }
  }
  // Whole cycles only: one to settle and at least one per measuring window.
  const auto cycles =
      std::max<std::int64_t>(3, static_cast<std::int64_t>(minutes * 60 / kCycleSeconds));
  bool ok = true;
  int ran = 0;
  for (const Config& c : kConfigs) {
    bool wanted = names.empty();
    for (const auto& n : names) wanted = wanted || n == c.name;
    if (!wanted) continue;
    ok = soak(c, cycles, verbose) && ok;
    ++ran;
  }
  if (ran == 0) {
    std::fprintf(stderr, "no such configuration\n");
    return 2;
  }
  return ok ? 0 : 1;
}
