// Seeded synthetic audio for the soak program: a
// speech-like voiced signal (harmonics of a gliding pitch under a syllable
// envelope, separated by pauses) over pink-ish noise, with the speech and
// noise levels given in dB relative to full scale (rms).
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace robust {

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint32_t next() {  // xorshift64*
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return static_cast<std::uint32_t>((s_ * 0x2545F4914F6CDD1Dull) >> 32);
  }
  double uniform() { return next() * (1.0 / 4294967296.0); }  // [0, 1)
  // Approximately normal, unit variance (sum of four uniforms).
  double gauss() { return (uniform() + uniform() + uniform() + uniform() - 2.0) * 1.7320508; }

 private:
  std::uint64_t s_;
};

class SpeechLike {
 public:
  SpeechLike(int rate, std::uint64_t seed) : rate_(rate), rng_(seed) {
    for (std::size_t i = 0; i < kTable; ++i) sine_[i] = std::sin(2.0 * M_PI * i / kTable);
    new_segment();
  }

  // Restarts the content sequence, as if newly constructed with this seed.
  void reseed(std::uint64_t seed) {
    rng_ = Rng(seed);
    lp_ = 0.0;
    phase_.fill(0);
    voiced_ = true;
    new_segment();
  }

  // n samples of speech (rms while voiced: speechDb) plus noise (noiseDb);
  // either level at -200 or below is left out. Returns true when the
  // syllable gate was open anywhere in the block.
  bool fill(std::int16_t* out, std::size_t n, double speechDb, double noiseDb) {
    const double speechAmp =
        speechDb > -200 ? 32768.0 * std::pow(10.0, speechDb / 20) / kHarmRms : 0;
    const double noiseAmp = noiseDb > -200 ? 32768.0 * std::pow(10.0, noiseDb / 20) : 0;
    bool voiced = false;
    for (std::size_t i = 0; i < n; ++i) {
      if (left_ == 0) new_segment();
      --left_;
      double s = 0;
      if (voiced_) {
        voiced = true;
        const double pos = 1.0 - static_cast<double>(left_) / segLen_;
        const double f0 = f0Start_ + (f0End_ - f0Start_) * pos;
        const std::uint32_t step = static_cast<std::uint32_t>(f0 / rate_ * 4294967296.0);
        const double env = envelope(segLen_ - left_, left_);
        for (int k = 1; k <= harmonics_; ++k) {
          phase_[k] += step * static_cast<std::uint32_t>(k);
          s += sine_[phase_[k] >> (32 - kTableBits)] / k;
        }
        s *= env * speechAmp;
      }
      // Noise: white plus a one-pole low-pass share, unit rms overall.
      const double w = rng_.gauss();
      lp_ = 0.95 * lp_ + 0.3122 * w;  // 0.3122^2 / (1 - 0.95^2) = 1
      const double noise = (0.6 * w + 0.8 * lp_) * noiseAmp;
      const double v = std::nearbyint(s + noise);
      out[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    }
    return voiced;
  }

 private:
  static constexpr int kTableBits = 12;
  static constexpr std::size_t kTable = std::size_t{1} << kTableBits;
  static constexpr int kMaxHarm = 48;
  static constexpr double kHarmRms = 0.9;  // rms of sum(sin(k x) / k), k = 1..many

  double envelope(std::int64_t done, std::int64_t left) const {
    const double ramp = 0.02 * rate_;  // 20 ms raised-cosine attack and release
    const double a = done < ramp ? 0.5 - 0.5 * std::cos(M_PI * done / ramp) : 1.0;
    const double r = left < ramp ? 0.5 - 0.5 * std::cos(M_PI * left / ramp) : 1.0;
    return a * r;
  }

  void new_segment() {
    voiced_ = !voiced_;
    double seconds;
    if (voiced_) {
      seconds = 0.15 + 0.25 * rng_.uniform();
      f0Start_ = 100 + 120 * rng_.uniform();
      f0End_ = f0Start_ * (0.8 + 0.4 * rng_.uniform());
      const double top = std::fmin(3800.0, 0.45 * rate_);
      harmonics_ = static_cast<int>(top / std::fmax(f0Start_, f0End_));
      if (harmonics_ > kMaxHarm - 1) harmonics_ = kMaxHarm - 1;
    } else {
      seconds = rng_.uniform() < 0.2 ? 0.6 + 0.9 * rng_.uniform() : 0.1 + 0.3 * rng_.uniform();
    }
    segLen_ = static_cast<std::int64_t>(seconds * rate_);
    left_ = segLen_;
  }

  int rate_;
  Rng rng_;
  std::array<double, kTable> sine_{};
  std::array<std::uint32_t, kMaxHarm> phase_{};
  bool voiced_ = true;  // flipped by the first segment
  std::int64_t segLen_ = 0, left_ = 0;
  double f0Start_ = 0, f0End_ = 0;
  int harmonics_ = 0;
  double lp_ = 0;
};

// 64-bit FNV-1a over 16-bit samples, little-endian byte order.
inline std::uint64_t fnv1a(const std::int16_t* x, std::size_t n, std::uint64_t h) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto u = static_cast<std::uint16_t>(x[i]);
    h = (h ^ (u & 0xFF)) * 1099511628211ull;
    h = (h ^ (u >> 8)) * 1099511628211ull;
  }
  return h;
}
inline constexpr std::uint64_t kFnvBasis = 1469598103934665603ull;

}  // namespace robust
