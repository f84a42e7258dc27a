// Block-scaled real-frame transforms of both paths: exponents and the shifts
// they apply to the caller's block, round trips, records built for another
// length, the exported shift loops, and a golden digest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fft/vocrel_fft.h"
#include "test_util.h"

namespace {

using W = std::vector<int32_t>;

// Set-up memory of exactly the queried size.
struct SetupMem {
  explicit SetupMem(int order) {
    int32_t size = 0;
    Vocrel_FFTGetBufSize_C_SC32(order, &size);
    bytes.assign(static_cast<std::size_t>(size), 0);
    Vocrel_FFTInit_C_SC32(bytes.data(), order);
  }
  Vocrel_FFTSpec_C_SC32* spec() { return reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(bytes.data()); }
  std::vector<std::uint8_t> bytes;
};

int32_t max_abs_real(const W& v) {
  int32_t m = 0;
  for (std::size_t i = 0; i < v.size(); i += 2) m = std::max(m, std::abs(v[i]));
  return m;
}

TEST(BlockFft, ExponentsAndBlockShifts) {
  SetupMem s(8);
  W src(512, 0), dst(512, 0x5A5A5A5A);
  int16_t e = 0;
  // Largest magnitude 1: s = norm(1) - 8 = 22, result s + 24, exponent s + 16.
  src[0] = 1;
  src[5] = -1;
  EXPECT_EQ(Vocrel_RNR_FFT(s.spec(), 256, src.data(), dst.data(), &e), 46);
  EXPECT_EQ(e, 38);
  EXPECT_TRUE(src[0] == 1 << 22 && src[5] == -(1 << 22) && dst[0] == 1 << 22 &&
              dst[1] == -(1 << 22));
  // All zero: s = -8, output zero.
  src.assign(512, 0);
  EXPECT_EQ(Vocrel_RNR_FFT(s.spec(), 256, src.data(), dst.data(), &e), 16);
  EXPECT_EQ(dst, W(512, 0));
  // -2^31 counts as 2^31 - 1: the block moves right by the order (flooring).
  src[0] = INT32_MIN;
  src[3] = -1;
  src[4] = 1 << 20;
  Vocrel_RNR_FFT(s.spec(), 256, src.data(), dst.data(), &e);
  EXPECT_TRUE(e == 8 && src[0] == -(1 << 23) && src[3] == -1 && src[4] == 1 << 12);
  // Floor-noise form: maxAbs 0 gives s = -order on the real words only; a
  // maxAbs below the true maximum lets the plain left shift wrap.
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<int32_t>(i * 1000 + 7);
  EXPECT_EQ(Vocrel_FNR_FFT(256, src.data(), dst.data(), s.spec(), 0, &e), 8);
  for (std::size_t i = 0; i < src.size(); ++i)
    ASSERT_EQ(src[i], static_cast<int32_t>(i * 1000 + 7) >> (i % 2 ? 0 : 8)) << i;
  src.assign(512, 0);
  src[6] = 512;
  EXPECT_EQ(Vocrel_FNR_FFT(256, src.data(), dst.data(), s.spec(), 1, &e), 38);
  EXPECT_EQ(src[6], INT32_MIN);
}

// Forward then inverse returns the frame scaled by 2^(s_fwd + s_inv) in the
// real parts (normalised floor-noise inverse; the environment-noise inverse
// adds the order), imaginary parts near 0: a few LSB from the halving stages,
// under one input step after the inverse's block shift.
TEST(BlockFft, RoundTripsOfBothFamilies) {
  for (const int order : {8, 9, 10}) {
    const int n = 1 << order;
    SetupMem s(order);
    vocrel_test::Lcg32 rng{900u + order};
    W frame(2 * n, 0), spec(2 * n), back(2 * n);
    for (int t = 0; t < n; ++t) frame[2 * t] = rng.uniform(30000);
    auto worst = [&](int gain) {
      double w = 0;
      for (int t = 0; t < n; ++t)
        w = std::max({w, std::abs(back[2 * t] - std::ldexp(frame[2 * t], gain)),
                      std::abs(double(back[2 * t + 1]))});
      return w;
    };
    W src = frame;
    int16_t e = 0;
    const int f_fwd =
        Vocrel_FNR_FFT(n, src.data(), spec.data(), s.spec(), max_abs_real(frame), &e) - 16;
    EXPECT_LE(worst(f_fwd + Vocrel_FNR_IFFT(n, spec.data(), back.data(), s.spec())), order + 2);
    src = frame;
    const int r_fwd = Vocrel_RNR_FFT(s.spec(), n, src.data(), spec.data(), &e) - 16;
    EXPECT_EQ(r_fwd - order, e - 16);
    const int gain = r_fwd + Vocrel_RNR_IFFT(s.spec(), n, spec.data(), back.data());
    EXPECT_LT(worst(gain), std::ldexp(1.0, gain)) << order;
  }
}

// A record built for another length: buffers are bounded by the caller's N,
// the transform is skipped and dst left zero. The set-up memory is exactly
// the queried size, so the sanitizer build reports any access past it.
TEST(BlockFft, RecordForAnotherLengthIsNotUsed) {
  SetupMem small(8), big(10);  // big holds 1024 points, asked for 256
  small.spec()->N = 1024;      // claims more than its memory holds
  for (SetupMem* s : {&small, &big}) {
    W src(512, 1000);
    int16_t e = 0;
    for (int call = 0; call < 4; ++call) {
      W dst(512, 0x5A5A5A5A);
      if (call == 0) Vocrel_RNR_FFT(s->spec(), 256, src.data(), dst.data(), &e);
      if (call == 1) Vocrel_RNR_IFFT(s->spec(), 256, src.data(), dst.data());
      if (call == 2) Vocrel_FNR_FFT(256, src.data(), dst.data(), s->spec(), 1000, &e);
      if (call == 3) Vocrel_FNR_IFFT(256, src.data(), dst.data(), s->spec());
      EXPECT_EQ(dst, W(512, 0)) << "call " << call;
    }
  }
}

TEST(BlockFft, ExportedShiftLoops) {
  // 40 words: blocks at offsets 24 and 8; the first 40 mod 16 = 8 stay.
  W even(40), all(40);
  for (int i = 0; i < 40; ++i) even[i] = all[i] = i - 20;
  Fnr_Fft_Shift(2, even.data(), 40);
  Fnr_Ifft_Shift(-2, all.data(), 40);
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(even[i], (i >= 8 && i % 2 == 0) ? (i - 20) * 4 : i - 20) << i;
    ASSERT_EQ(all[i], i >= 8 ? ((i - 20) >> 2) : i - 20) << i;
  }
  // Plain shifts wrap; counts of 32 or more leave 0 (left) or the sign
  // (right); a negative word count moves nothing.
  W w(16, 0x40000001);
  w[1] = -5;
  Fnr_Ifft_Shift(1, w.data(), 16);
  EXPECT_TRUE(w[0] == static_cast<int32_t>(0x80000002u) && w[1] == -10);
  Fnr_Ifft_Shift(3, w.data(), INT32_MIN);
  Fnr_Ifft_Shift(-40, w.data(), 16);
  EXPECT_EQ(w, W(16, -1));
  Fnr_Ifft_Shift(99, w.data(), 16);
  EXPECT_EQ(w, W(16, 0));
}

// Integer outputs of all four transforms on pinned inputs, identical on
// every target.
TEST(BlockFft, GoldenDigest) {
  vocrel_test::Fnv h;
  for (const int order : {8, 9, 10}) {
    const int n = 1 << order;
    SetupMem s(order);
    const struct {
      uint32_t seed;
      int32_t bound;
      bool complex;
    } inputs[] = {{11u, 32767, false}, {12u, 3, false}, {13u, 1 << 18, true}, {14u, 0, false}};
    for (const auto& in : inputs) {
      vocrel_test::Lcg32 rng{in.seed};
      W x(2 * n, 0);
      for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = in.complex || i % 2 == 0 ? rng.uniform(in.bound) : 0;
      if (in.bound == 32767) x[6] = -32768;
      for (int path = 0; path < 2; ++path) {
        W src = x, fwd(x.size(), path ? 0 : 0x5A5A5A5A), inv(x.size(), 0x5A5A5A5A);
        int16_t e = 0;
        h.add32(path ? Vocrel_FNR_FFT(n, src.data(), fwd.data(), s.spec(), max_abs_real(x), &e)
                     : Vocrel_RNR_FFT(s.spec(), n, src.data(), fwd.data(), &e));
        h.add32(e);
        h.add_all(src);
        h.add_all(fwd);
        h.add32(path ? Vocrel_FNR_IFFT(n, fwd.data(), inv.data(), s.spec())
                     : Vocrel_RNR_IFFT(s.spec(), n, fwd.data(), inv.data()));
        h.add_all(fwd);
        h.add_all(inv);
      }
    }
  }
  EXPECT_EQ(h.h, 0x09cbff551a1328ccull) << std::hex << h.h;
}

}  // namespace
