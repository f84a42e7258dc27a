// Environment-noise path: time per frame at 8 and 16 kHz, mono and stereo,
// beside the cost of the frame's transforms measured in the same run, and the
// stack high-water mark of one frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/layout.h"
#include "dsp/block_fft.h"
#include "vocrel_rnr.h"

namespace {

struct Stream {
  Stream(int rate, int channels) : block(VOCREL_RNR_MEM_SIZE + 8), N(rate / 100) {
    Vocrel_RNR_Params p = g_Vocrel_RNR_Params_Env_8k_MONO;
    p.sampleRate = rate;
    p.channels = channels;
    if (Vocrel_RNR_Init(&handle, block.data(), VOCREL_RNR_MEM_SIZE, &p) != 0) handle = nullptr;
    // Two seconds of noise with a 150 Hz harmonic tone every other half second.
    std::uint32_t s = 12345;
    in.resize(static_cast<std::size_t>(rate) * 2);
    for (std::size_t i = 0; i < in.size(); ++i) {
      s = s * 1664525u + 1013904223u;
      double x = static_cast<double>(static_cast<std::int32_t>(s) >> 20);  // about +-2048
      if ((i / (rate / 2)) % 2 == 1) {
        for (int h = 1; h <= 12; ++h) x += 3000.0 / h * std::sin(2 * M_PI * 150.0 * h * i / rate);
      }
      in[i] = static_cast<std::int16_t>(std::lround(x));
    }
    out.resize(N * 2);
  }
  int frame(std::size_t f) {
    const std::int16_t* x = in.data() + (f * N) % (in.size() - N);
    Vocrel_RNR_FrameIo io{x, x, static_cast<std::uint32_t>(N), out.data(), out.data() + N};
    return Vocrel_RNR_Apply(handle, &io, nullptr);
  }
  std::vector<std::uint8_t> block;
  void* handle = nullptr;
  std::size_t N;
  std::vector<std::int16_t> in, out;
};

void BM_RnrFrame(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const int channels = static_cast<int>(state.range(1));
  Stream s(rate, channels);
  if (s.handle == nullptr) {
    state.SkipWithError("init failed");
    return;
  }
  std::size_t f = 0;
  for (int i = 0; i < 200; ++i) s.frame(f++);  // past the start-up frames
  for (auto _ : state) benchmark::DoNotOptimize(s.frame(f++));
  state.counters["per_frame"] =
      benchmark::Counter(static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel(std::to_string(rate) + " Hz, " + std::to_string(channels) + " ch");
}
BENCHMARK(BM_RnrFrame)->Args({8000, 1})->Args({16000, 1})->Args({8000, 2})->Args({16000, 2});

// The transforms of one channel's frame: forward and inverse at the analysis
// length, and the 256-point inverse of the cepstrum (the forward 256-point
// transform of strongly harmonic frames is counted separately).
void BM_RnrFrameTransforms(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const int L = rate == 8000 ? 256 : 512;
  const int W = rate / 50;
  alignas(8) static std::uint8_t specMemA[16384], specMemB[16384];
  Vocrel_FFTInit_C_SC32(specMemA, 8);
  Vocrel_FFTInit_C_SC32(specMemB, rate == 8000 ? 8 : 9);
  const auto* specA = reinterpret_cast<const Vocrel_FFTSpec_C_SC32*>(specMemA);
  const auto* specB = reinterpret_cast<const Vocrel_FFTSpec_C_SC32*>(specMemB);
  alignas(32) static std::int32_t a[1024], b[1024], frame[1024], ceps[512];
  std::uint32_t s = 99;
  for (int n = 0; n < 2 * L; ++n) frame[n] = 0;
  for (int n = 0; n < W; ++n) {
    s = s * 1664525u + 1013904223u;
    frame[2 * n] = static_cast<std::int32_t>(s) >> 4;
  }
  for (int n = 0; n < 512; ++n) ceps[n] = (n % 2 == 0) ? 200000 - 700 * n : 0;
  for (auto _ : state) {
    std::memcpy(a, frame, sizeof(std::int32_t) * 2 * L);
    std::int16_t e = 0;
    benchmark::DoNotOptimize(Vocrel_RNR_FFT(specB, L, a, b, &e));
    benchmark::DoNotOptimize(Vocrel_RNR_IFFT(specB, L, b, a));
    std::memcpy(b, ceps, sizeof ceps);
    benchmark::DoNotOptimize(Vocrel_RNR_IFFT(specA, 256, b, a));
    benchmark::ClobberMemory();
  }
  state.counters["per_frame"] =
      benchmark::Counter(static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel(std::to_string(rate) + " Hz, one channel");
}
BENCHMARK(BM_RnrFrameTransforms)->Arg(8000)->Arg(16000);

// Stack high-water mark of one Apply call: a region below the caller's frame
// is painted, the call runs at the same depth, and the untouched bytes are
// counted. (Reads the dead stack region on purpose; host measurement only.)
constexpr std::size_t kProbeBytes = 64 * 1024;
constexpr std::uint8_t kPaint = 0xC5;
std::uintptr_t g_probeLow = 0;

__attribute__((noinline)) void paint_stack() {
  volatile std::uint8_t region[kProbeBytes];
  for (std::size_t i = 0; i < kProbeBytes; ++i) region[i] = kPaint;
  g_probeLow = reinterpret_cast<std::uintptr_t>(&region[0]);
}

__attribute__((noinline)) std::size_t untouched_bytes() {
  const volatile std::uint8_t* p = reinterpret_cast<const volatile std::uint8_t*>(g_probeLow);
  std::size_t n = 0;
  while (n < kProbeBytes && p[n] == kPaint) ++n;
  return n;
}

__attribute__((noinline)) std::size_t frame_stack_bytes(Stream& s, std::size_t f) {
  paint_stack();
  s.frame(f);
  return kProbeBytes - untouched_bytes();
}

void BM_RnrFrameStack(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  Stream s(rate, 1);
  std::size_t f = 0, high = 0;
  s.frame(f++);  // first calls bind the C library's symbols (the loader's own stack use)
  for (int i = 0; i < 150; ++i) high = std::max(high, frame_stack_bytes(s, f++));
  for (auto _ : state) high = std::max(high, frame_stack_bytes(s, f++));
  state.counters["stack_bytes"] = static_cast<double>(high);
  state.SetLabel(std::to_string(rate) + " Hz (includes Apply)");
}
BENCHMARK(BM_RnrFrameStack)->Arg(8000)->Arg(16000)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
