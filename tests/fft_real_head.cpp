// The inverses that keep only the real parts of a leading run of outputs
// agree with the full inverses there (same words, same block shift), for
// every order and both families, including kept counts that cut a last-stage
// butterfly's outputs apart.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fft/vocrel_fft.h"
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
            fnr ? vocrel::fft::fnr_ifft_real_head(n, b.data(), head.data(), spec, kept)
                : vocrel::fft::rnr_ifft_real_head(spec, n, b.data(), head.data(), kept);
        ASSERT_EQ(s_full, s_head) << order << " " << kept;
        for (int k = 0; k < kept; ++k) {
          ASSERT_EQ(full[static_cast<std::size_t>(2 * k)], head[static_cast<std::size_t>(2 * k)])
              << "order " << order << " kept " << kept << " output " << k << " fnr " << fnr;
        }
      }
    }
  }
}

}  // namespace
