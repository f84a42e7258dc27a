// Complex engine: set-up size and record layout, accuracy of every stage plan
// against a double-precision DFT, round trips, wrapping, refusal of bad
// records, and a golden digest of every plan. Block-scaled real-frame
// transforms of both paths: exponents and the shifts they apply to the
// caller's block, round trips, records built for another length, the exported
// shift loops, and a golden digest. The inverses that keep only the real parts
// of a leading run of outputs agree with the full inverses there (same words,
// same block shift), for every order and both families, including kept counts
// that cut a last-stage butterfly's outputs apart; the radix-8 first stage for
// real input with zero tail blocks writes the same words as the general one.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <utility>
#include <vector>

#include "dsp/block_fft.h"
#include "fft/fft_kernels.h"
#include "test_util.h"

namespace {

using Words = std::vector<int32_t>;

// Set-up memory of exactly the queried size, `offset` bytes into its block.
struct SetupMem {
  explicit SetupMem(int order, int offset = 0) : offset(offset) {
    Vocrel_FFTGetBufSize_C_SC32(order, &size);
    bytes.assign(static_cast<std::size_t>(offset + size), 0);
    Vocrel_FFTInit_C_SC32(bytes.data() + offset, order);
  }
  Vocrel_FFTSpec_C_SC32* spec() {
    return reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(bytes.data() + offset);
  }
  std::vector<std::uint8_t> bytes;
  int offset;
  int32_t size = 0;
};

// 2n words of random complex data in [-bound, bound].
Words random_frame(uint32_t seed, int n, int32_t bound) {
  vocrel_test::Lcg32 rng{seed};
  Words v(static_cast<std::size_t>(2 * n));
  for (auto& w : v) w = rng.uniform(bound);
  return v;
}

Words forward(SetupMem& s, const Words& x, int32_t scale) {
  Words out(x.size(), 0x5A5A5A5A);
  Vocrel_FFTFwd_C_SC32(x.data(), out.data(), s.spec(), scale);
  return out;
}

Words inverse(SetupMem& s, const Words& x, int32_t scale) {
  Words out(x.size(), 0x5A5A5A5A);
  Vocrel_FFTInv_C_SC32(x.data(), out.data(), s.spec(), scale);
  return out;
}

// Forward DFT sum over t of x[t] e^(-2 pi i k t / n), unnormalised, by a
// recursive radix-2 split in double precision. The inverse sum of bin k is
// the forward sum of bin n - k.
using Spectrum = std::vector<std::complex<double>>;
Spectrum dft(const Spectrum& x) {
  const std::size_t n = x.size();
  if (n == 1) return x;
  Spectrum half[2] = {Spectrum(n / 2), Spectrum(n / 2)}, out(n);
  for (std::size_t t = 0; t < n; ++t) half[t % 2][t / 2] = x[t];
  half[0] = dft(half[0]);
  half[1] = dft(half[1]);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const auto odd = std::polar(1.0, -2.0 * std::numbers::pi * double(k) / double(n)) * half[1][k];
    out[k] = half[0][k] + odd;
    out[k + n / 2] = half[0][k] - odd;
  }
  return out;
}

// 10 log10(signal / error) of got against ref[k] * gain (bins mirrored for the inverse).
double snr_db(const Spectrum& ref, double gain, const Words& got, bool inv) {
  const std::size_t n = ref.size();
  double sig = 0, err = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::complex<double> r = ref[inv ? (n - k) % n : k] * gain;
    sig += std::norm(r);
    err += std::norm(r - std::complex<double>(got[2 * k], got[2 * k + 1]));
  }
  return err == 0 ? 300.0 : 10.0 * std::log10(sig / err);
}

// SNR floor (dB) for inputs uniform in +-2^(30 - order), divided by
// 2^halvings. Fully halved plans keep 30 - order/2 - halvings bits above a
// noise of about one LSB; the floor sits one bit below that. Unhalved stages
// are limited by the twiddle roundings, about 5.5 dB per level, and each
// halving ahead of them costs one bit more.
double snr_floor(int order, int halvings) {
  if (halvings >= order) return 6.02 * (30.0 - order / 2.0 - halvings) - 1.76 - 6.02;
  return 175.0 - 5.5 * order - (halvings == 0 ? 0.0 : 6.02 * (halvings + 1));
}

// Sizes, the record at several alignments modulo 32, no write past the
// queried size, and the twiddles of the smallest plan.
TEST(FftSetup, SizesRecordAndTwiddles) {
  const int32_t sizes[][2] = {{0, 16}, {1, 102}, {8, 3662}, {9, 7246}, {10, 14414}, {12, 57422}};
  for (const auto& c : sizes) EXPECT_EQ(SetupMem(c[0]).size, c[1]) << "order " << c[0];
  EXPECT_EQ(SetupMem(13).size, 0) << "orders past the master table are not set up";

  for (int order = 0; order <= 12; ++order) {
    for (const int offset : {0, 4, 12, 24}) {
      const int32_t size = SetupMem(order).size;
      std::vector<std::uint8_t> mem(static_cast<std::size_t>(offset + size + 64), 0xA5);
      Vocrel_FFTInit_C_SC32(mem.data() + offset, order);
      for (std::size_t i = 0; i < mem.size(); ++i) {
        if (i < std::size_t(offset) || i >= std::size_t(offset + size)) {
          ASSERT_EQ(mem[i], 0xA5) << "write outside the set-up, order " << order;
        }
      }
      const auto* spec = reinterpret_cast<const Vocrel_FFTSpec_C_SC32*>(mem.data() + offset);
      ASSERT_EQ(spec->N, 1 << order);
      if (order == 0) continue;  // the length word alone
      const int n = 1 << order, count = 3 * n / 4;
      const auto addr = reinterpret_cast<std::uintptr_t>(spec);
      EXPECT_EQ(spec->reserved, 0);
      EXPECT_EQ((addr + spec->pTwiddle) % 32, 0u);
      EXPECT_EQ((addr + spec->pBuf) % 32, 0u);
      EXPECT_GE(spec->pBuf, spec->pTwiddle + 8 * count);
      EXPECT_LE(spec->pBuf + 8 * n, size);
    }
  }
  SetupMem four(2);
  const auto* tw = reinterpret_cast<const int32_t*>(four.bytes.data() + four.spec()->pTwiddle);
  EXPECT_EQ(Words(tw, tw + 6), (Words{INT32_MIN, 0, 0, INT32_MAX, INT32_MAX, 0}));
  EXPECT_EQ(Vocrel_FFT_S32TwiddleTable[512][0], -1518500250);
}

// Scales chosen so that every plan shape runs: unscaled radix 8/4, halving
// radix-2 stages followed by unhalved radix-4 (even remainder) or radix-2 (odd
// remainder) stages, full halving, and full halving plus a rounding shift.
// Inputs leave one bit more than the growth of the transform as headroom.
TEST(FftEngine, EveryPlanMatchesTheDftAndRoundTrips) {
  for (int order = 1; order <= 12; ++order) {
    const int n = 1 << order;
    SetupMem s(order, 8);
    const Words x = random_frame(0x1234u + order, n, (1 << (30 - order)) - 1);
    Spectrum xc(n);
    for (int t = 0; t < n; ++t) xc[t] = {double(x[2 * t]), double(x[2 * t + 1])};
    const Spectrum ref = dft(xc);
    for (const int scale : {0, 1, 2, order, order + 2}) {
      EXPECT_GT(snr_db(ref, 1.0 / (1 << scale), forward(s, x, scale), false),
                snr_floor(order, scale))
          << "forward order " << order << " scale " << scale;
    }
    const int first = order <= 3 ? 0 : -order;  // small sizes halve at every stage
    for (const int scale : {first, -order + 1, -order + 2, 0, 2}) {
      if (scale < first) continue;
      const int budget = order <= 3 ? std::max(scale, 0) + order : scale + order;
      EXPECT_GT(snr_db(ref, 1.0 / (1 << budget), inverse(s, x, scale), true),
                snr_floor(order, budget))
          << "inverse order " << order << " scale " << scale;
    }
    // Forward, then normalised inverse: truncating halvings lose under one
    // LSB each, twiddle rounding a little more.
    const Words back = inverse(s, forward(s, x, 0), 0);
    for (std::size_t i = 0; i < x.size(); ++i)
      ASSERT_LE(std::abs(back[i] - x[i]), order + 2) << "order " << order;
  }
}

TEST(FftEngine, WrapsAndEdgeScales) {
  // Without headroom the butterflies wrap: -2^31 at t = 0 and t = N/2 meet
  // in the first stage as -2^32, which wraps to 0 in every bin.
  for (const int order : {2, 3, 8, 9, 10}) {
    SetupMem s(order);
    Words x(static_cast<std::size_t>(2 << order), 0);
    x[0] = x[static_cast<std::size_t>(1 << order)] = INT32_MIN;
    EXPECT_EQ(forward(s, x, 0), Words(x.size(), 0)) << "order " << order;
  }
  SetupMem one(0);  // one point: a copy with the rounding shift
  EXPECT_EQ(forward(one, {-7, 6}, 0), (Words{-7, 6}));
  EXPECT_EQ(forward(one, {-7, 6}, 2), (Words{-2, 2}));
  EXPECT_EQ(inverse(one, {-7, 6}, 1), (Words{-3, 3}));
}

// A record whose length is not a power of two up to 4096, or a scale out of
// range, is refused without writing dst; a huge scale shifts everything out.
TEST(FftEngine, RefusesBadRecordsAndScales) {
  SetupMem s(4);
  const Words x = random_frame(5u, 16, 1000), sentinel(32, 0x5A5A5A5A);
  for (const int32_t bad_n : {0, -16, 3, 24, 8192, INT32_MIN}) {
    s.spec()->N = bad_n;
    EXPECT_EQ(forward(s, x, 0), sentinel) << bad_n;
    EXPECT_EQ(inverse(s, x, 0), sentinel) << bad_n;
  }
  s.spec()->N = 16;
  EXPECT_EQ(forward(s, x, -1), sentinel);
  EXPECT_EQ(inverse(s, x, -5), sentinel);
  EXPECT_NE(inverse(s, x, -4), sentinel);
  EXPECT_EQ(forward(s, x, INT32_MAX), Words(32, 0));
  EXPECT_EQ(inverse(s, x, INT32_MAX), Words(32, 0));
}

// Integer outputs of every plan shape at every order on pinned inputs,
// identical on every target.
TEST(FftEngine, GoldenDigestOfEveryPlan) {
  vocrel_test::Fnv h;
  for (int order = 0; order <= 12; ++order) {
    SetupMem s(order);
    const Words x = random_frame(0xC0FFEEu + order, 1 << order, (1 << (30 - order)) - 1);
    for (const int scale : {0, 1, 2, order, order + 3}) {
      h.add_all(forward(s, x, scale));
      h.add_all(inverse(s, x, scale - order));
    }
  }
  EXPECT_EQ(h.h, 0x6022fa5fc04b0f5aull) << std::hex << h.h;
}

int32_t max_abs_real(const Words& v) {
  int32_t m = 0;
  for (std::size_t i = 0; i < v.size(); i += 2) m = std::max(m, std::abs(v[i]));
  return m;
}

TEST(BlockFft, ExponentsAndBlockShifts) {
  SetupMem s(8, 0);
  Words src(512, 0), dst(512, 0x5A5A5A5A);
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
  EXPECT_EQ(dst, Words(512, 0));
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
    Words frame(2 * n, 0), spec(2 * n), back(2 * n);
    for (int t = 0; t < n; ++t) frame[2 * t] = rng.uniform(30000);
    auto worst = [&](int gain) {
      double w = 0;
      for (int t = 0; t < n; ++t)
        w = std::max({w, std::abs(back[2 * t] - std::ldexp(frame[2 * t], gain)),
                      std::abs(double(back[2 * t + 1]))});
      return w;
    };
    Words src = frame;
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
    Words src(512, 1000);
    int16_t e = 0;
    for (int call = 0; call < 4; ++call) {
      Words dst(512, 0x5A5A5A5A);
      if (call == 0) Vocrel_RNR_FFT(s->spec(), 256, src.data(), dst.data(), &e);
      if (call == 1) Vocrel_RNR_IFFT(s->spec(), 256, src.data(), dst.data());
      if (call == 2) Vocrel_FNR_FFT(256, src.data(), dst.data(), s->spec(), 1000, &e);
      if (call == 3) Vocrel_FNR_IFFT(256, src.data(), dst.data(), s->spec());
      EXPECT_EQ(dst, Words(512, 0)) << "call " << call;
    }
  }
}

TEST(BlockFft, ExportedShiftLoops) {
  // 40 words: blocks at offsets 24 and 8; the first 40 mod 16 = 8 stay.
  Words even(40), all(40);
  for (int i = 0; i < 40; ++i) even[i] = all[i] = i - 20;
  Fnr_Fft_Shift(2, even.data(), 40);
  Fnr_Ifft_Shift(-2, all.data(), 40);
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(even[i], (i >= 8 && i % 2 == 0) ? (i - 20) * 4 : i - 20) << i;
    ASSERT_EQ(all[i], i >= 8 ? ((i - 20) >> 2) : i - 20) << i;
  }
  // Plain shifts wrap; counts of 32 or more leave 0 (left) or the sign
  // (right); a negative word count moves nothing.
  Words w(16, 0x40000001);
  w[1] = -5;
  Fnr_Ifft_Shift(1, w.data(), 16);
  EXPECT_TRUE(w[0] == static_cast<int32_t>(0x80000002u) && w[1] == -10);
  Fnr_Ifft_Shift(3, w.data(), INT32_MIN);
  Fnr_Ifft_Shift(-40, w.data(), 16);
  EXPECT_EQ(w, Words(16, -1));
  Fnr_Ifft_Shift(99, w.data(), 16);
  EXPECT_EQ(w, Words(16, 0));
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
      Words x(2 * n, 0);
      for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = in.complex || i % 2 == 0 ? rng.uniform(in.bound) : 0;
      if (in.bound == 32767) x[6] = -32768;
      for (int path = 0; path < 2; ++path) {
        Words src = x, fwd(x.size(), path ? 0 : 0x5A5A5A5A), inv(x.size(), 0x5A5A5A5A);
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

TEST(FftRealHead, KeptRealPartsMatchTheFullInverse) {
  for (int order = 0; order <= 12; ++order) {
    const int n = 1 << order;
    SetupMem s(order);
    auto* spec = s.spec();
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
