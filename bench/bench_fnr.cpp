// Floor-noise path speed: nanoseconds per frame for each rate and channel
// count through Vocrel_RNR_Apply, beside the cost of the frame's own forward
// and inverse transform pair, and the stack depth of one frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "../tests/signals.h"
#include "../tests/test_util.h"
#include "dsp/block_fft.h"

namespace {

using namespace sig;
using vocrel_test::params_for;
using vocrel_test::stack_high_water;
using Fnr = vocrel_test::Instance;

// Whole frames of speech over noise, cycled through the instance.
void BM_FnrFrame(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const int channels = static_cast<int>(state.range(1));
  const int N = rate / 100;
  const std::size_t len = static_cast<std::size_t>(N) * 200;
  const Samples a = add(speech_like(rate, len, 5000).x, noise(Colour::Pink, 60, len, 1));
  const Samples b = noise(Colour::White, 40, len, 2);
  Fnr f(params_for(rate, channels));
  Samples o0(N), o1(N);
  std::size_t pos = 0;
  for (auto _ : state) {
    f.frame(&a[pos], o0.data(), channels == 2 ? &b[pos] : nullptr,
            channels == 2 ? o1.data() : nullptr);
    benchmark::DoNotOptimize(o0.data());
    pos = pos + 2 * N <= len ? pos + N : 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// The transform pair of one channel: block-scaled forward and inverse of M
// points (the input block is restored each time, as the path rebuilds it).
void BM_FnrFftPair(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const int M = 1 << order, W = M == 1024 ? 960 : M * 5 / 8;
  int32_t size = 0;
  Vocrel_FFTGetBufSize_C_SC32(order, &size);
  std::vector<unsigned char> specMem(static_cast<std::size_t>(size) + 64);
  auto* spec = reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(
      specMem.data() + (32 - reinterpret_cast<std::uintptr_t>(specMem.data()) % 32) % 32);
  Vocrel_FFTInit_C_SC32(spec, order);
  alignas(32) static int32_t in[2048], src[2048], dst[2048];
  const Samples x = noise(Colour::White, 3000, W, 3);
  int32_t maxAbs = 0;
  for (int n = 0; n < 2 * M; ++n) in[n] = 0;
  for (int n = 0; n < W; ++n) {
    in[2 * n] = x[n] * 65536 / 2;
    maxAbs = std::max(maxAbs, std::abs(in[2 * n]));
  }
  for (auto _ : state) {
    std::memcpy(src, in, sizeof(int32_t) * 2 * M);
    int16_t e = 0;
    Vocrel_FNR_FFT(M, src, dst, spec, maxAbs, &e);
    benchmark::DoNotOptimize(Vocrel_FNR_IFFT(M, dst, src, spec));
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_FnrFrame)->ArgNames({"rate", "ch"})->ArgsProduct({{8000, 16000, 48000}, {1, 2}});
BENCHMARK(BM_FnrFftPair)->ArgName("order")->DenseRange(8, 10);

}  // namespace

int main(int argc, char** argv) {
  for (int rate : {8000, 16000, 48000}) {
    for (int channels : {1, 2}) {
      Fnr f(params_for(rate, channels));
      const Samples in = noise(Colour::Pink, 300, rate / 100, 4);
      Samples o0(in.size()), o1(in.size());
      const std::size_t used = stack_high_water(
          [&] { f.frame(in.data(), o0.data(), in.data(), channels == 2 ? o1.data() : nullptr); });
      std::printf("stack high-water of one frame, %5d Hz, %d ch: %zu bytes\n", rate, channels,
                  used);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
