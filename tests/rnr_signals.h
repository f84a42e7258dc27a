// Seeded synthetic test signals for the environment-noise path: coloured and
// non-stationary noise, and a voiced, harmonic speech-like signal with pauses.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace rnr_test {

// Deterministic uniform generator (64-bit LCG), identical on every target.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed * 6364136223846793005ull + 1442695040888963407ull) {}
  // Uniform in [-1, 1).
  double uniform() {
    s_ = s_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(static_cast<std::int64_t>(s_ >> 11) - (1ll << 52)) / (1ll << 52);
  }
  // Approximately Gaussian, unit variance (sum of four uniforms).
  double gauss() { return (uniform() + uniform() + uniform() + uniform()) * 0.8660254; }

 private:
  std::uint64_t s_;
};

enum class Colour { White, Pink, Brown, Modulated };

// Noise of the given colour with RMS `rms` (in sample units), n samples.
inline std::vector<double> noise(Colour c, double rms, std::size_t n, std::uint64_t seed,
                                 int rate) {
  Rng g(seed);
  std::vector<double> x(n);
  double b0 = 0, b1 = 0, b2 = 0, brown = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w = g.gauss();
    switch (c) {
      case Colour::White:
      case Colour::Modulated:
        x[i] = w;
        break;
      case Colour::Pink:  // three-pole approximation of 1/f
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        x[i] = b0 + b1 + b2 + w * 0.1848;
        break;
      case Colour::Brown:  // leaky integrator, then a gentle high-pass of the DC drift
        brown = 0.995 * brown + w;
        x[i] = brown;
        break;
    }
  }
  double e = 0;
  for (double v : x) e += v * v;
  const double scale = rms / std::sqrt(e / static_cast<double>(n));
  const double pi = 3.14159265358979;
  for (std::size_t i = 0; i < n; ++i) {
    x[i] *= scale;
    if (c == Colour::Modulated) {  // level swings of +-6 dB at 0.3 Hz
      x[i] *= std::pow(2.0, std::sin(2 * pi * 0.3 * static_cast<double>(i) / rate));
    }
  }
  return x;
}

// Voiced harmonic signal: 400 ms voiced segments (pitch gliding 110..220 Hz,
// harmonics falling at 6 dB/octave up to 3.5 kHz) separated by 600 ms pauses,
// starting with a pause. voiced[i] tells whether sample i is in a voiced part.
inline std::vector<double> speech_like(double rms, std::size_t n, int rate,
                                       std::vector<bool>* voiced) {
  const double pi = 3.14159265358979;
  std::vector<double> x(n, 0.0);
  voiced->assign(n, false);
  const std::size_t period = static_cast<std::size_t>(rate);  // 1 s cycle
  const std::size_t on = period * 4 / 10, off = period * 6 / 10;
  double phase = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t t = i % period;
    if (t < off) continue;
    const double u = static_cast<double>(t - off) / static_cast<double>(on);  // 0..1
    const double f0 = 110.0 + 110.0 * u + 20.0 * static_cast<double>((i / period) % 3);
    phase += 2 * pi * f0 / rate;
    double s = 0;
    for (int h = 1; h * f0 < 3500.0; ++h) s += std::sin(h * phase) / h;
    const double env = std::sin(pi * u);  // smooth syllable envelope
    x[i] = s * env;
    (*voiced)[i] = u > 0.15 && u < 0.85;
  }
  double e = 0;
  std::size_t cnt = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if ((*voiced)[i]) {
      e += x[i] * x[i];
      ++cnt;
    }
  }
  const double scale = rms / std::sqrt(e / static_cast<double>(cnt));
  for (double& v : x) v *= scale;
  return x;
}

inline std::vector<std::int16_t> to_pcm(const std::vector<double>& x) {
  std::vector<std::int16_t> y(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double v = std::floor(x[i] + 0.5);
    y[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
  }
  return y;
}

}  // namespace rnr_test
