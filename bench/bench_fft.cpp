// Speed of the complex engine and the block-scaled transforms of both paths
// at the lengths the noise-reduction paths use (256, 512 and 1024 points).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "dsp/block_fft.h"

namespace {

struct Bench {
  std::vector<std::uint64_t> setup_words;  // 8-byte aligned set-up memory
  Vocrel_FFTSpec_C_SC32* spec = nullptr;
  std::vector<int32_t> frame;  // a real frame in the real parts
  std::vector<int32_t> src;
  std::vector<int32_t> dst;
  int n = 0;

  explicit Bench(int order) : n(1 << order) {
    int32_t size = 0;
    Vocrel_FFTGetBufSize_C_SC32(order, &size);
    setup_words.assign(static_cast<std::size_t>(size + 7) / 8, 0);
    spec = reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(setup_words.data());
    Vocrel_FFTInit_C_SC32(spec, order);
    frame.assign(static_cast<std::size_t>(2 * n), 0);
    std::uint32_t state = 12345u;
    for (int t = 0; t < n; ++t) {
      state = state * 1664525u + 1013904223u;
      frame[static_cast<std::size_t>(2 * t)] = static_cast<int32_t>(state >> 16) - 32768;
    }
    src = frame;
    dst.assign(frame.size(), 0);
  }
};

int order_arg(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

void BM_ComplexForward(benchmark::State& state) {
  Bench b(order_arg(state));
  for (auto _ : state) {
    Vocrel_FFTFwd_C_SC32(b.frame.data(), b.dst.data(), b.spec, 0);
    benchmark::DoNotOptimize(b.dst.data());
  }
}

void BM_ComplexInverseNormalised(benchmark::State& state) {
  Bench b(order_arg(state));
  for (auto _ : state) {
    Vocrel_FFTInv_C_SC32(b.frame.data(), b.dst.data(), b.spec, 0);
    benchmark::DoNotOptimize(b.dst.data());
  }
}

// The block-scaled routines normalise src in place, so each iteration starts
// from a fresh copy; the copy is timed too (2N words, small next to the FFT).
void BM_RnrForward(benchmark::State& state) {
  Bench b(order_arg(state));
  int16_t e = 0;
  for (auto _ : state) {
    b.src = b.frame;
    benchmark::DoNotOptimize(Vocrel_RNR_FFT(b.spec, b.n, b.src.data(), b.dst.data(), &e));
  }
}

void BM_RnrInverse(benchmark::State& state) {
  Bench b(order_arg(state));
  for (auto _ : state) {
    b.src = b.frame;
    benchmark::DoNotOptimize(Vocrel_RNR_IFFT(b.spec, b.n, b.src.data(), b.dst.data()));
  }
}

void BM_FnrForward(benchmark::State& state) {
  Bench b(order_arg(state));
  int16_t e = 0;
  for (auto _ : state) {
    b.src = b.frame;
    benchmark::DoNotOptimize(Vocrel_FNR_FFT(b.n, b.src.data(), b.dst.data(), b.spec, 32768, &e));
  }
}

void BM_FnrInverse(benchmark::State& state) {
  Bench b(order_arg(state));
  for (auto _ : state) {
    b.src = b.frame;
    benchmark::DoNotOptimize(Vocrel_FNR_IFFT(b.n, b.src.data(), b.dst.data(), b.spec));
  }
}

}  // namespace

BENCHMARK(BM_ComplexForward)->DenseRange(8, 10);
BENCHMARK(BM_ComplexInverseNormalised)->DenseRange(8, 10);
BENCHMARK(BM_RnrForward)->DenseRange(8, 10);
BENCHMARK(BM_RnrInverse)->DenseRange(8, 10);
BENCHMARK(BM_FnrForward)->DenseRange(8, 10);
BENCHMARK(BM_FnrInverse)->DenseRange(8, 10);

BENCHMARK_MAIN();
