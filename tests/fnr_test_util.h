// Helpers of the floor-noise tests: a mode-0 instance in heap memory with
// access to its path state, integer-only signal generators (bit-identical on
// every target, so golden digests hold under emulation), and level measures.
#pragma once

#include <pthread.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/instance.h"
#include "fnr/fnr.h"
#include "vocrel_rnr.h"

namespace fnr_test {

using Samples = std::vector<std::int16_t>;

inline Vocrel_RNR_Params params(std::int32_t rate, std::int32_t channels = 1) {
  Vocrel_RNR_Params p = g_Vocrel_RNR_Params_Flr_48k_MONO;
  p.sampleRate = rate;
  p.channels = channels;
  return p;
}

// One instance; runs whole signals frame by frame through Vocrel_RNR_Apply.
class Fnr {
 public:
  explicit Fnr(const Vocrel_RNR_Params& p) : mem_(VOCREL_RNR_MEM_SIZE + 8), p_(p) {
    status = Vocrel_RNR_Init(&handle_, mem_.data(), VOCREL_RNR_MEM_SIZE, &p_);
  }
  int n() const { return p_.sampleRate / 100; }
  FnrState* state() const {
    return reinterpret_cast<FnrState*>(static_cast<char*>(handle_) + vocrel::kPathStateOffset);
  }
  FnrChanState& chan(int c = 0) const { return state()->chan[c]; }
  std::int32_t frame(const std::int16_t* in0, std::int16_t* out0, const std::int16_t* in1 = nullptr,
                     std::int16_t* out1 = nullptr) {
    Vocrel_RNR_FrameIo io{in0, in1, static_cast<std::uint32_t>(n()), out0, out1};
    return Vocrel_RNR_Apply(handle_, &io, nullptr);
  }
  std::int32_t set_params(const Vocrel_RNR_Params& p) { return Vocrel_RNR_SetParams(handle_, &p); }
  // Whole-signal runs (the length is cut to whole frames).
  Samples run(const Samples& in) {
    Samples out(in.size() / n() * n());
    for (std::size_t i = 0; i + n() <= in.size(); i += n()) frame(&in[i], &out[i]);
    return out;
  }
  void run2(const Samples& a, const Samples& b, Samples& oa, Samples& ob) {
    oa.assign(a.size() / n() * n(), 0);
    ob.assign(oa.size(), 0);
    for (std::size_t i = 0; i + n() <= a.size(); i += n()) frame(&a[i], &oa[i], &b[i], &ob[i]);
  }
  std::int32_t status = -1;

 private:
  std::vector<std::uint8_t> mem_;
  Vocrel_RNR_Params p_;
  void* handle_ = nullptr;
};

// 64-bit LCG; uniform 16-bit values and a near-Gaussian (sum of four).
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed ^ 0x9E3779B97F4A7C15ull) {}
  std::int32_t u16() {
    s_ = s_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::int32_t>(s_ >> 48) - 32768;
  }
  std::int32_t gauss() { return (u16() + u16() + u16() + u16()) / 2; }  // rms ~ 18900

 private:
  std::uint64_t s_;
};

enum class Colour { White, Pink, Brown };
inline const char* name(Colour c) {
  return c == Colour::White ? "white" : c == Colour::Pink ? "pink" : "brown";
}

// Noise with the given RMS in sample units (integer filters; the final
// scaling is one correctly rounded multiply per sample).
inline Samples noise(Colour c, double rms, std::size_t n, std::uint64_t seed) {
  Rng r(seed);
  std::vector<std::int64_t> raw(n);
  std::int64_t p0 = 0, p1 = 0, p2 = 0, brown = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t w = r.gauss();
    if (c == Colour::White) {
      raw[i] = w;
    } else if (c == Colour::Pink) {  // three one-pole sections, about -3 dB/octave
      p0 = (p0 * 32690 >> 15) + w * 3245 / 32768;
      p1 = (p1 * 31555 >> 15) + w * 9716 / 32768;
      p2 = (p2 * 18678 >> 15) + w * 34494 / 32768;
      raw[i] = p0 + p1 + p2 + w * 6056 / 32768;
    } else {  // leaky integrator, -6 dB/octave above ~40 Hz at 48 kHz
      brown = (brown * 32600 >> 15) + w;
      raw[i] = brown;
    }
  }
  double e = 0;
  for (auto v : raw) e += double(v) * double(v);
  const double g = e > 0 ? rms / std::sqrt(e / double(n)) : 0;
  Samples out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double v = std::nearbyint(double(raw[i]) * g);
    out[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
  }
  return out;
}

// sin(2 pi k / 1920) in Q15 from the 48 kHz window (a half sine of 960 points).
inline std::int32_t sine1920(std::int64_t k) {
  const auto i = static_cast<std::int32_t>(((k % 1920) + 1920) % 1920);
  if (i == 0 || i == 960) return 0;
  return i < 960 ? sFnrWinCoef_48k[i - 1] : -sFnrWinCoef_48k[i - 961];
}

// Speech-like voiced signal: harmonics of a gliding f0 (1/k amplitudes up to
// ~3.5 kHz), in syllables of 300 ms separated by 200 ms pauses with 20 ms
// ramps. voiced[i] marks samples inside a syllable's flat part. Amplitude is
// the peak of the first harmonic in sample units.
struct Voiced {
  Samples x;
  std::vector<bool> voiced;
  std::vector<bool> pause;  // fully silent part of a pause (away from ramps)
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
    // f0 glides 110..170 Hz over each syllable.
    const std::int64_t f0 = 110 + 60 * t / (syl + gap);
    phase += f0 * 1920;
    std::int64_t s = 0;
    for (int k = 1; f0 * k < 3500 && f0 * k < rate / 2; ++k) s += sine1920(phase * k / rate) / k;
    const std::int64_t y = s * amp / 32768 * env / 1024;
    v.x[i] = static_cast<std::int16_t>(y > 32767 ? 32767 : (y < -32768 ? -32768 : y));
  }
  return v;
}

inline Samples add(const Samples& a, const Samples& b) {
  Samples s(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    const int v = a[i] + b[i];
    s[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
  }
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

// Energy ratio in dB of out against in over the samples where mask is set,
// with out delayed by `lag` samples.
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

// 64-bit FNV-1a over 16-bit samples in little-endian byte order.
inline std::uint64_t fnv1a(const Samples& x, std::uint64_t h = 1469598103934665603ull) {
  for (std::int16_t s : x) {
    const auto u = static_cast<std::uint16_t>(s);
    h = (h ^ (u & 0xFFu)) * 1099511628211ull;
    h = (h ^ (u >> 8)) * 1099511628211ull;
  }
  return h;
}

// Stack bytes that fn() touches: fn runs on a thread whose stack is a painted
// heap block, and the deepest overwritten byte is found afterwards. The
// figure of an empty fn (thread start-up, descriptor) is subtracted.
template <typename F>
std::size_t stack_high_water(F&& fn) {
  constexpr std::size_t kSize = 256 * 1024;
  constexpr unsigned char kPaint = 0xA5;
  struct Ctx {
    F* f;
    bool empty;
  };
  auto depth = [&](bool empty) {
    auto* mem = static_cast<unsigned char*>(std::aligned_alloc(4096, kSize));
    std::memset(mem, kPaint, kSize);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, mem, kSize);
    Ctx ctx{&fn, empty};
    pthread_t t;
    pthread_create(
        &t, &attr,
        [](void* p) -> void* {
          auto* c = static_cast<Ctx*>(p);
          if (!c->empty) (*c->f)();
          return nullptr;
        },
        &ctx);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
    std::size_t i = 0;
    while (i < kSize && mem[i] == kPaint) ++i;
    std::free(mem);
    return kSize - i;
  };
  const std::size_t base = depth(true);
  const std::size_t used = depth(false);
  return used > base ? used - base : 0;
}

}  // namespace fnr_test
