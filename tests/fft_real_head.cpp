// The inverses that keep only the real parts of a leading run of outputs
// agree with the full inverses there (same words, same block shift), for
// every order and both families, including kept counts that cut a last-stage
// butterfly's outputs apart. The radix-8 first stage for real input with
// zero tail blocks writes the same words as the general one.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

#include "dsp/block_fft.h"
#include "fft/fft_kernels.h"
#include "test_util.h"

namespace {

using Words = std::vector<int32_t>;

TEST(FftRealHead, KeptRealPartsMatchTheFullInverse) {
  for (int order = 0; order <= 12; ++order) {
    const int n = 1 << order;
    int32_t size = 0;
    Vocrel_FFTGetBufSize_C_SC32(order, &size);
    std::vector<std::uint8_t> mem(static_cast<std::size_t>(size) + 32);
    auto* spec = reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(mem.data());
    Vocrel_FFTInit_C_SC32(spec, order);
    vocrel_test::Lcg32 rng{static_cast<uint32_t>(order + 1)};
    Words in(static_cast<std::size_t>(2 * n));
    for (auto& w : in) w = rng.uniform(1 << 28);
    for (const int kept : {0, 1, n / 2 + 1, (3 * n) / 4 + 1, n - 1, n}) {
      if (kept > n) continue;
      for (const bool fnr : {true, false}) {
        Words a = in, b = in, full(in.size()), head(in.size(), 0x5A5A5A5A);
        const int32_t s_full = fnr ? Vocrel_FNR_IFFT(n, a.data(), full.data(), spec)
                                   : Vocrel_RNR_IFFT(spec, n, a.data(), full.data());
        const int32_t s_head =
            fnr ? vocrel::dsp::fnr_ifft_real_head(n, b.data(), head.data(), spec, kept)
                : vocrel::dsp::rnr_ifft_real_head(spec, n, b.data(), head.data(), kept);
        ASSERT_EQ(s_full, s_head) << order << " " << kept;
        for (int k = 0; k < kept; ++k) {
          ASSERT_EQ(full[static_cast<std::size_t>(2 * k)], head[static_cast<std::size_t>(2 * k)])
              << "order " << order << " kept " << kept << " output " << k << " fnr " << fnr;
        }
      }
    }
  }
}

template <std::size_t... L>
void check_first_stage_real(int order, std::index_sequence<L...>) {
  using vocrel::fft::Direction;
  const int n = 1 << order;
  const auto fns = {&vocrel::fft::run_first_stage_real<8, Direction::kForward, false,
                                                       static_cast<int>(L) + 1>...};
  int live = 1;
  for (const auto fn : fns) {
    vocrel_test::Lcg32 rng{static_cast<uint32_t>(order * 16 + live)};
    Words in(static_cast<std::size_t>(2 * n), 0);
    // Real parts up to the end of block `live`, extremes included.
    for (int i = 0; i < live * n / 8; ++i)
      in[static_cast<std::size_t>(2 * i)] = rng.uniform(1 << 30);
    in[0] = INT32_MIN;
    in[static_cast<std::size_t>(2 * (live * n / 8 - 1))] = INT32_MAX;
    Words general(in.size()), fast(in.size(), 0x5A5A5A5A);
    vocrel::fft::run_stage<8, true, Direction::kForward, false>(in.data(), general.data(), nullptr,
                                                                n, 1);
    fn(in.data(), fast.data(), nullptr, n, 1);
    ASSERT_EQ(general, fast) << "order " << order << " live blocks " << live;
    ++live;
  }
}

TEST(FftRealHead, RealFirstStageMatchesTheGeneralOne) {
  for (const int order : {3, 5, 9, 11})
    check_first_stage_real(order, std::make_index_sequence<8>{});
}

}  // namespace
