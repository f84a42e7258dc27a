// Seeded synthetic signals for the noise-reduction tests, and level measures.
// Two families share one generator: the integer family (noise, speech_like)
// gives the same bits on every target by construction; the double family
// (noise_d, speech_d, rounded by to_pcm) uses libm sin/pow/sqrt.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "fnr/fnr.h"

namespace sig {

using Samples = std::vector<std::int16_t>;

// 64-bit LCG (Knuth's MMIX constants).
struct Lcg64 {
  std::uint64_t s;
  std::uint64_t next() { return s = s * 6364136223846793005ull + 1442695040888963407ull; }
  std::int32_t u16() { return static_cast<std::int32_t>(next() >> 48) - 32768; }
  std::int32_t gauss16() { return (u16() + u16() + u16() + u16()) / 2; }  // rms ~ 18900
  // Uniform in [-1, 1), and approximately Gaussian of unit variance.
  double uniform() {
    return static_cast<double>(static_cast<std::int64_t>(next() >> 11) - (1ll << 52)) / (1ll << 52);
  }
  double gauss() { return (uniform() + uniform() + uniform() + uniform()) * 0.8660254; }
};

enum class Colour { White, Pink, Brown, Modulated };
inline const char* name(Colour c) {
  const char* n[] = {"white", "pink", "brown", "modulated"};
  return n[static_cast<int>(c)];
}

inline std::int16_t clip16(double v) {
  return static_cast<std::int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

// Integer noise of the given rms in sample units (three one-pole sections of
// about -3 dB/octave for pink, a leaky integrator for brown); the final
// scaling is one correctly rounded multiply per sample.
inline Samples noise(Colour c, double rms, std::size_t n, std::uint64_t seed) {
  Lcg64 r{seed ^ 0x9E3779B97F4A7C15ull};
  std::vector<std::int64_t> raw(n);
  std::int64_t p0 = 0, p1 = 0, p2 = 0, brown = 0;
  double e = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t w = r.gauss16();
    if (c == Colour::Pink) {
      p0 = (p0 * 32690 >> 15) + w * 3245 / 32768;
      p1 = (p1 * 31555 >> 15) + w * 9716 / 32768;
      p2 = (p2 * 18678 >> 15) + w * 34494 / 32768;
      raw[i] = p0 + p1 + p2 + w * 6056 / 32768;
    } else if (c == Colour::Brown) {
      raw[i] = brown = (brown * 32600 >> 15) + w;
    } else {
      raw[i] = w;
    }
    e += double(raw[i]) * double(raw[i]);
  }
  const double g = e > 0 ? rms / std::sqrt(e / double(n)) : 0;
  Samples out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = clip16(std::nearbyint(double(raw[i]) * g));
  return out;
}

// sin(2 pi k / 1920) in Q15 from the 48 kHz window (a half sine of 960 points).
inline std::int32_t sine1920(std::int64_t k) {
  const auto i = static_cast<std::int32_t>(((k % 1920) + 1920) % 1920);
  if (i == 0 || i == 960) return 0;
  return i < 960 ? sFnrWinCoef_48k[i - 1] : -sFnrWinCoef_48k[i - 961];
}

// Integer speech-like signal: harmonics of an f0 gliding 110..170 Hz (1/k
// amplitudes up to 3.5 kHz) in 300 ms syllables with 20 ms ramps, separated
// by 200 ms pauses. amp is the first harmonic's peak.
struct Voiced {
  Samples x;
  std::vector<bool> voiced;  // flat part of a syllable
  std::vector<bool> pause;   // silent part of a pause, away from the ramps
};
inline Voiced speech_like(int rate, std::size_t n, std::int32_t amp) {
  Voiced v{Samples(n), std::vector<bool>(n), std::vector<bool>(n)};
  const std::int64_t syl = rate * 3 / 10, gap = rate / 5, ramp = rate / 50;
  std::int64_t phase = 0;  // in 1/1920 turns scaled by rate
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t t = static_cast<std::int64_t>(i) % (syl + gap);
    std::int64_t env = 0;  // Q10
    if (t < syl)
      env = t < ramp ? 1024 * t / ramp : (t > syl - ramp ? 1024 * (syl - t) / ramp : 1024);
    v.voiced[i] = t >= ramp && t <= syl - ramp;
    v.pause[i] = t >= syl + ramp && t < syl + gap - ramp;
    const std::int64_t f0 = 110 + 60 * t / (syl + gap);
    phase += f0 * 1920;
    std::int64_t s = 0;
    for (int k = 1; f0 * k < 3500 && f0 * k < rate / 2; ++k) s += sine1920(phase * k / rate) / k;
    v.x[i] = clip16(static_cast<double>(s * amp / 32768 * env / 1024));
  }
  return v;
}

// Double noise of rms `rms` (Modulated: white with +-6 dB level swings at 0.3 Hz).
inline std::vector<double> noise_d(Colour c, double rms, std::size_t n, std::uint64_t seed,
                                   int rate) {
  Lcg64 g{seed};
  g.next();
  std::vector<double> x(n);
  double b0 = 0, b1 = 0, b2 = 0, brown = 0, e = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w = g.gauss();
    if (c == Colour::Pink) {
      b0 = 0.99765 * b0 + w * 0.0990460;
      b1 = 0.96300 * b1 + w * 0.2965164;
      b2 = 0.57000 * b2 + w * 1.0526913;
      x[i] = b0 + b1 + b2 + w * 0.1848;
    } else if (c == Colour::Brown) {
      x[i] = brown = 0.995 * brown + w;
    } else {
      x[i] = w;
    }
    e += x[i] * x[i];
  }
  const double scale = rms / std::sqrt(e / static_cast<double>(n));
  for (std::size_t i = 0; i < n; ++i) {
    x[i] *= scale;
    if (c == Colour::Modulated)
      x[i] *= std::pow(2.0, std::sin(2 * 3.14159265358979 * 0.3 * static_cast<double>(i) / rate));
  }
  return x;
}

// Double speech-like signal: 1 s cycles of a 600 ms pause, then a 400 ms
// syllable (pitch gliding 110..220 Hz plus 0/20/40 Hz by cycle, harmonics at
// -6 dB/octave up to 3.5 kHz, half-sine envelope); rms over the voiced parts.
inline std::vector<double> speech_d(double rms, std::size_t n, int rate,
                                    std::vector<bool>* voiced) {
  const double pi = 3.14159265358979;
  std::vector<double> x(n, 0.0);
  voiced->assign(n, false);
  const std::size_t period = static_cast<std::size_t>(rate);
  const std::size_t on = period * 4 / 10, off = period * 6 / 10;
  double phase = 0, e = 0;
  std::size_t cnt = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t t = i % period;
    if (t < off) continue;
    const double u = static_cast<double>(t - off) / static_cast<double>(on);
    const double f0 = 110.0 + 110.0 * u + 20.0 * static_cast<double>((i / period) % 3);
    phase += 2 * pi * f0 / rate;
    double s = 0;
    for (int h = 1; h * f0 < 3500.0; ++h) s += std::sin(h * phase) / h;
    x[i] = s * std::sin(pi * u);
    if (((*voiced)[i] = u > 0.15 && u < 0.85)) {
      e += x[i] * x[i];
      ++cnt;
    }
  }
  const double scale = rms / std::sqrt(e / static_cast<double>(cnt));
  for (double& v : x) v *= scale;
  return x;
}

inline Samples to_pcm(const std::vector<double>& x) {
  Samples y(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) y[i] = clip16(std::floor(x[i] + 0.5));
  return y;
}

inline Samples add(const Samples& a, const Samples& b) {
  Samples s(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) s[i] = clip16(a[i] + b[i]);
  return s;
}

// Measurement high-pass (double precision, first order at 200 Hz).
inline Samples highpass(const Samples& x, int rate) {
  const double a = std::exp(-2 * 3.141592653589793 * 200.0 / rate);
  double px = 0, py = 0;
  Samples y(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    py = a * (py + x[i] - px);
    px = x[i];
    y[i] = static_cast<std::int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, py))));
  }
  return y;
}

// Energy ratio in dB of out (delayed by lag) against in, from sample `from`
// on, over the samples where mask is set.
inline double gain_db(const Samples& in, const Samples& out, std::size_t lag, std::size_t from,
                      const std::vector<bool>* mask = nullptr) {
  double ei = 0, eo = 0;
  for (std::size_t i = from; i + lag < out.size(); ++i) {
    if (mask != nullptr && !(*mask)[i]) continue;
    ei += double(in[i]) * in[i];
    eo += double(out[i + lag]) * out[i + lag];
  }
  return 10 * std::log10((eo + 1e-9) / (ei + 1e-9));
}

}  // namespace sig
