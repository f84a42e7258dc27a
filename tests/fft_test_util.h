// Helpers shared by the FFT tests: set-up memory, seeded inputs, a double
// precision DFT reference, SNR and an FNV-1a 64 digest.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

#include "fft/vocrel_fft.h"

namespace fft_test {

// Set-up memory of exactly the queried size, placed `offset` bytes into its
// allocation so that different record alignments modulo 32 are exercised.
struct SetupMem {
  std::vector<std::uint8_t> bytes;
  int offset = 0;
  int order = 0;
  int32_t size = 0;

  explicit SetupMem(int order_, int offset_ = 0) : offset(offset_), order(order_) {
    Vocrel_FFTGetBufSize_C_SC32(order, &size);
    bytes.assign(static_cast<std::size_t>(offset + size), 0);
    Vocrel_FFTInit_C_SC32(bytes.data() + offset, order);
  }
  Vocrel_FFTSpec_C_SC32* spec() {
    return reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(bytes.data() + offset);
  }
  int n() const { return 1 << order; }
};

// Deterministic 32-bit LCG (Numerical Recipes constants): same sequence on
// every target.
struct Lcg {
  std::uint32_t state;
  std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
  // Uniform in [-bound, bound].
  std::int32_t uniform(std::int32_t bound) {
    const std::uint64_t span = 2 * static_cast<std::uint64_t>(bound) + 1;
    return static_cast<std::int32_t>(static_cast<std::int64_t>(next() % span) - bound);
  }
};

// 2n words of random complex data in [-bound, bound].
inline std::vector<int32_t> random_frame(std::uint32_t seed, int n, std::int32_t bound) {
  Lcg rng{seed};
  std::vector<int32_t> v(static_cast<std::size_t>(2 * n));
  for (auto& w : v) w = rng.uniform(bound);
  return v;
}

using Spectrum = std::vector<std::complex<double>>;

// Sum over t of x[t] e^(sign 2 pi i k t / n), unnormalised.
inline Spectrum dft(const std::vector<int32_t>& x, int n, int sign) {
  std::vector<std::complex<double>> root(static_cast<std::size_t>(n));
  for (int t = 0; t < n; ++t) {
    const double a = sign * 2.0 * std::numbers::pi * t / n;
    root[static_cast<std::size_t>(t)] = {std::cos(a), std::sin(a)};
  }
  Spectrum out(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) {
    std::complex<double> acc = 0;
    for (int t = 0; t < n; ++t) {
      const std::complex<double> xt(x[static_cast<std::size_t>(2 * t)],
                                    x[static_cast<std::size_t>(2 * t + 1)]);
      acc += xt * root[static_cast<std::size_t>((static_cast<long>(k) * t) % n)];
    }
    out[static_cast<std::size_t>(k)] = acc;
  }
  return out;
}

// 10 log10(signal power / error power) of got against ref * gain.
inline double snr_db(const Spectrum& ref, double gain, const std::vector<int32_t>& got) {
  double sig = 0;
  double err = 0;
  for (std::size_t k = 0; k < ref.size(); ++k) {
    const std::complex<double> r = ref[k] * gain;
    const std::complex<double> g(got[2 * k], got[2 * k + 1]);
    sig += std::norm(r);
    err += std::norm(r - g);
  }
  if (err == 0) return 300.0;
  return 10.0 * std::log10(sig / err);
}

// FNV-1a 64 over the little-endian bytes of 32-bit words.
struct Fnv1a64 {
  std::uint64_t h = 0xcbf29ce484222325ull;
  void byte(std::uint8_t b) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  void word(std::int32_t w) {
    const auto u = static_cast<std::uint32_t>(w);
    for (int i = 0; i < 4; ++i) byte(static_cast<std::uint8_t>(u >> (8 * i)));
  }
  void words(const std::vector<int32_t>& v) {
    for (const std::int32_t w : v) word(w);
  }
};

}  // namespace fft_test
