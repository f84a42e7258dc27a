// Block-scaled real-frame transforms of both paths: exponents, the shifts
// they apply to the caller's block, round trips, guards against a record built
// for another length, the exported shift loops, and a golden digest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fft/vocrel_fft.h"
#include "test_util.h"

namespace {

using vocrel_test::Lcg32;

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

constexpr int32_t kGarbage = 0x5A5A5A5A;

// A real frame of n samples in [-bound, bound]: real parts only.
std::vector<int32_t> real_frame(uint32_t seed, int n, int32_t bound) {
  Lcg32 rng{seed};
  std::vector<int32_t> v(static_cast<std::size_t>(2 * n), 0);
  for (int t = 0; t < n; ++t) v[static_cast<std::size_t>(2 * t)] = rng.uniform(bound);
  return v;
}

int32_t max_abs_real(const std::vector<int32_t>& v) {
  int32_t m = 0;
  for (std::size_t i = 0; i < v.size(); i += 2) m = std::max(m, std::abs(v[i]));
  return m;
}

TEST(BlockFft, RnrForwardExponentsAndBlockShift) {
  SetupMem s(8);
  std::vector<int32_t> dst(512, kGarbage);

  // Largest magnitude 1: s = norm(1) - 8 = 22.
  std::vector<int32_t> src(512, 0);
  src[0] = 1;
  src[5] = -1;
  int16_t exp_out = 0;
  EXPECT_EQ(Vocrel_RNR_FFT(s.spec(), 256, src.data(), dst.data(), &exp_out), 46);
  EXPECT_EQ(exp_out, 38);
  EXPECT_EQ(src[0], 1 << 22);
  EXPECT_EQ(src[5], -(1 << 22));
  EXPECT_EQ(dst[0], 1 << 22);  // bin 0 sums the block
  EXPECT_EQ(dst[1], -(1 << 22));

  // All zero: s = -8, output zero.
  std::fill(src.begin(), src.end(), 0);
  std::fill(dst.begin(), dst.end(), kGarbage);
  EXPECT_EQ(Vocrel_RNR_FFT(s.spec(), 256, src.data(), dst.data(), &exp_out), 16);
  EXPECT_EQ(exp_out, 8);
  EXPECT_EQ(dst, std::vector<int32_t>(512, 0));

  // -2^31 counts as 2^31 - 1 (norm 0): the block moves right by the order.
  src[0] = INT32_MIN;
  src[2] = 255;
  src[3] = -1;
  src[4] = 1 << 20;
  Vocrel_RNR_FFT(s.spec(), 256, src.data(), dst.data(), &exp_out);
  EXPECT_EQ(exp_out, 8);
  EXPECT_EQ(src[0], -(1 << 23));
  EXPECT_EQ(src[2], 0);
  EXPECT_EQ(src[3], -1);  // arithmetic shift rounds toward minus infinity
  EXPECT_EQ(src[4], 1 << 12);
}

TEST(BlockFft, FnrForwardShiftsRealPartsOnlyAndWithoutSaturation) {
  SetupMem s(8);
  std::vector<int32_t> src(512);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<int32_t>(i * 1000 + 7);
  std::vector<int32_t> dst(512, kGarbage);
  int16_t exp_out = 0;
  // maxAbs 0: s = -order, as for an all-zero block.
  EXPECT_EQ(Vocrel_FNR_FFT(256, src.data(), dst.data(), s.spec(), 0, &exp_out), 8);
  EXPECT_EQ(exp_out, 8);
  for (std::size_t i = 0; i < src.size(); ++i) {
    const int32_t orig = static_cast<int32_t>(i * 1000 + 7);
    ASSERT_EQ(src[i], i % 2 == 0 ? orig >> 8 : orig) << i;
  }

  // A maxAbs below the true maximum lets the plain left shift wrap:
  // 512 << 22 = 2^31 becomes -2^31 (a saturating shift would give 2^31 - 1).
  std::fill(src.begin(), src.end(), 0);
  src[6] = 512;
  EXPECT_EQ(Vocrel_FNR_FFT(256, src.data(), dst.data(), s.spec(), 1, &exp_out), 38);
  EXPECT_EQ(src[6], INT32_MIN);
}

// Forward then inverse returns the frame scaled by 2^(s_fwd + s_inv) in the
// real parts (FNR, normalised inverse) or by N 2^(s_fwd + s_inv) (RNR,
// unnormalised inverse), with imaginary parts near 0.
TEST(BlockFft, RoundTripsOfBothFamilies) {
  for (const int order : {8, 9, 10}) {
    const int n = 1 << order;
    SetupMem s(order);
    const auto frame = real_frame(900u + static_cast<uint32_t>(order), n, 30000);
    std::vector<int32_t> spec(static_cast<std::size_t>(2 * n));
    std::vector<int32_t> back(static_cast<std::size_t>(2 * n));

    auto src = frame;
    int16_t e = 0;
    const int s_fwd =
        Vocrel_FNR_FFT(n, src.data(), spec.data(), s.spec(), max_abs_real(frame), &e) - 16;
    const int s_inv = Vocrel_FNR_IFFT(n, spec.data(), back.data(), s.spec());
    double worst = 0;
    for (int t = 0; t < n; ++t) {
      const double want = std::ldexp(frame[static_cast<std::size_t>(2 * t)], s_fwd + s_inv);
      worst = std::max(worst, std::abs(back[static_cast<std::size_t>(2 * t)] - want));
      worst =
          std::max(worst, std::abs(static_cast<double>(back[static_cast<std::size_t>(2 * t + 1)])));
    }
    // The halving stages truncate: a few LSB of the output scale.
    EXPECT_LE(worst, order + 2) << "FNR order " << order;

    src = frame;
    const int r_fwd = Vocrel_RNR_FFT(s.spec(), n, src.data(), spec.data(), &e) - 16 - order;
    EXPECT_EQ(r_fwd, e - 16);
    const int r_inv = Vocrel_RNR_IFFT(s.spec(), n, spec.data(), back.data());
    worst = 0;
    const int gain = r_fwd + r_inv + order;  // log2 of one input sample step in the output
    for (int t = 0; t < n; ++t) {
      const double want = std::ldexp(frame[static_cast<std::size_t>(2 * t)], gain);
      worst = std::max(worst, std::abs(back[static_cast<std::size_t>(2 * t)] - want));
      worst =
          std::max(worst, std::abs(static_cast<double>(back[static_cast<std::size_t>(2 * t + 1)])));
    }
    // The inverse's block shift truncates the spectrum: under one sample step.
    EXPECT_LT(worst, std::ldexp(1.0, gain)) << "RNR order " << order;
  }
}

// A record built for another length: buffers are bounded by the caller's N,
// the transform is skipped and dst left zero. The set-up memory is exactly
// the queried size, so the sanitizer build reports any access past it.
TEST(BlockFft, RecordForAnotherLengthIsNotUsed) {
  SetupMem small(8);
  small.spec()->N = 1024;  // claims more than its memory holds
  SetupMem big(10);        // holds 1024 points, asked for 256
  for (SetupMem* s : {&small, &big}) {
    auto src = real_frame(3u, 256, 1000);
    int16_t e = 0;
    for (int call = 0; call < 4; ++call) {
      std::vector<int32_t> dst(512, kGarbage);
      if (call == 0) Vocrel_RNR_FFT(s->spec(), 256, src.data(), dst.data(), &e);
      if (call == 1) Vocrel_RNR_IFFT(s->spec(), 256, src.data(), dst.data());
      if (call == 2) Vocrel_FNR_FFT(256, src.data(), dst.data(), s->spec(), 1000, &e);
      if (call == 3) Vocrel_FNR_IFFT(256, src.data(), dst.data(), s->spec());
      EXPECT_EQ(dst, std::vector<int32_t>(512, 0)) << "call " << call;
    }
  }
}

TEST(BlockFft, ExportedShiftLoops) {
  // 40 words: blocks at offsets 24 and 8; the first 40 mod 16 = 8 stay.
  std::vector<int32_t> even(40);
  for (std::size_t i = 0; i < even.size(); ++i) even[i] = static_cast<int32_t>(i) - 20;
  std::vector<int32_t> all = even;
  Fnr_Fft_Shift(2, even.data(), 40);
  Fnr_Ifft_Shift(-2, all.data(), 40);
  for (std::size_t i = 0; i < even.size(); ++i) {
    const int32_t orig = static_cast<int32_t>(i) - 20;
    ASSERT_EQ(even[i], (i >= 8 && i % 2 == 0) ? orig * 4 : orig) << i;
    ASSERT_EQ(all[i], i >= 8 ? (orig >> 2) : orig) << i;
  }
  // Plain shifts wrap; counts of 32 or more leave 0 (left) or the sign
  // (right); a negative word count moves nothing.
  std::vector<int32_t> w(16, 0x40000001);
  w[1] = -5;
  Fnr_Ifft_Shift(1, w.data(), 16);
  EXPECT_EQ(w[0], static_cast<int32_t>(0x80000002u));
  EXPECT_EQ(w[1], -10);
  Fnr_Ifft_Shift(3, w.data(), INT32_MIN);
  Fnr_Ifft_Shift(-40, w.data(), 16);
  EXPECT_EQ(w, std::vector<int32_t>(16, -1));
  Fnr_Ifft_Shift(99, w.data(), 16);
  EXPECT_EQ(w, std::vector<int32_t>(16, 0));
}

// Integer outputs of all four transforms on pinned inputs (seeded LCG, no
// floating point), identical on every target.
TEST(BlockFft, GoldenDigest) {
  vocrel_test::Fnv h;
  for (const int order : {8, 9, 10}) {
    const int n = 1 << order;
    SetupMem s(order);
    struct Input {
      uint32_t seed;
      int32_t bound;
      bool complex;
    };
    for (const Input& in : {Input{11u, 32767, false}, Input{12u, 3, false},
                            Input{13u, 1 << 18, true}, Input{14u, 0, false}}) {
      Lcg32 rng{in.seed};
      std::vector<int32_t> x(static_cast<std::size_t>(2 * n), 0);
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (in.complex || i % 2 == 0) x[i] = rng.uniform(in.bound);
      }
      if (in.bound == 32767) x[6] = -32768;

      std::vector<int32_t> src = x;
      std::vector<int32_t> fwd(x.size(), kGarbage);
      std::vector<int32_t> inv(x.size(), kGarbage);
      int16_t e = 0;
      h.add32(Vocrel_RNR_FFT(s.spec(), n, src.data(), fwd.data(), &e));
      h.add32(e);
      h.add_all(src);
      h.add_all(fwd);
      h.add32(Vocrel_RNR_IFFT(s.spec(), n, fwd.data(), inv.data()));
      h.add_all(fwd);
      h.add_all(inv);

      src = x;
      std::fill(fwd.begin(), fwd.end(), 0);
      h.add32(Vocrel_FNR_FFT(n, src.data(), fwd.data(), s.spec(), max_abs_real(x), &e));
      h.add32(e);
      h.add_all(src);
      h.add_all(fwd);
      h.add32(Vocrel_FNR_IFFT(n, fwd.data(), inv.data(), s.spec()));
      h.add_all(fwd);
      h.add_all(inv);
    }
  }
  EXPECT_EQ(h.h, 0x09cbff551a1328ccull) << std::hex << h.h;
}

}  // namespace
