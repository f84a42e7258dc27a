// One FNV-1a 64 digest over the outputs of every arithmetic routine on a
// fixed pseudo-random input set. The value is pinned: it must come out the
// same on x86-64 and on 32-bit ARM, and any change to a truncation, a
// saturation or a table shows up here.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "math/vocrel_math.h"
#include "test_util.h"

namespace {

using vocrel_test::SplitMix;

constexpr int32_t kN = 1024;  // even, as the vector logarithms require

uint64_t digest_all_routines() {
  SplitMix rng{0x5EED2026};
  vocrel_test::Fnv h;
  std::vector<int32_t> in(kN);
  std::vector<int32_t> out(kN);

  for (int32_t& x : in) x = rng.wide();
  in[0] = 0;
  in[1] = 1;
  in[2] = INT32_MAX;
  in[3] = INT32_MIN;
  for (const int32_t x : in) {
    h.add32(Vocrel_RNR_10xlog10(x));
    h.add32(Fnr_10xlog10(x));
    h.add32(Fnr_Log2(x));
    h.add32(Vocrel_RNR_fnExp10(x));
    h.add32(Vocrel_Fnr_fnExp10(x < 0 ? x : -x - 1));
    h.add32(Vocrel_RNR_cos(x));
    h.add32(Vocrel_RNR_cos(rng.range(-320000, 320000)));
  }
  Vocrel_RNR_vec_10xlog10(in.data(), kN, out.data());
  h.add_all(out);
  Vocrel_RNR_vec_log(in.data(), kN, out.data());
  h.add_all(out);
  std::vector<int32_t> small(kN);
  for (int32_t& x : small) x = rng.range(-40000, 12 * 32768);
  Vocrel_RNR_vec_powe(small.data(), kN, out.data());
  h.add_all(out);

  const int32_t sqrt_modes[4][2] = {{32768, 9}, {0, 1}, {0, 16}, {-100, -3}};
  for (const auto& m : sqrt_modes) {
    Vocrel_RNR_vec_sqrt32(in.data(), m[0], m[1], kN - 1, out.data());
    h.add_all(out);
    Vocrel_fnr_vec_sqrt32(in.data(), m[0], m[1], kN - 1, out.data());
    h.add_all(out);
  }
  for (int i = 0; i < kN; ++i) {
    const uint64_t r = rng.next();
    const auto x = static_cast<int64_t>(r >> (1 + (r & 63) % 63));
    h.add32(Vocrel_RNR_sqrt_i64(x));
    h.add32(Vocrel_RNR_sqrt_i64(-x));
    h.add32(Fnr_sqrt_i64_vec(x));
  }

  std::vector<int32_t> den(kN);
  for (int i = 0; i < kN; ++i) {
    den[i] = i % 61 == 0 ? 0 : rng.wide();
    const int32_t q = rng.range(-4, 40);
    h.add32(Vocrel_RNR_L_divide_Q(in[i], den[i], q));
    h.add32(Fnr_L_divide_Q(in[i], den[i], q));
  }
  std::vector<int16_t> out16(kN);
  Vocrel_RNR_vecvec2s_L_divide_Q(in.data(), den.data(), 15, kN - 1, out16.data());
  h.add_all(out16);
  for (const int32_t d : {1, -3, 0, 1000, INT32_MIN}) {
    for (const int32_t q : {0, 15, 31, 33}) {
      Vocrel_RNR_vecscl2i_L_divide_Q(in.data(), d, q, kN - 1, out.data());
      h.add_all(out);
    }
  }

  // Vector primitives over random spans.
  std::vector<int16_t> s16(kN);
  for (int16_t& x : s16) x = static_cast<int16_t>(rng.wide() >> 16);
  for (int t = 0; t < 64; ++t) {
    const int32_t n = rng.range(0, kN - 65);  // spans start at t < 64
    h.add32(Vocrel_RNR_vecSum32Int16(s16.data(), n));
    h.add32(Vocrel_RNR_vecSum32Int32(in.data(), n));
    h.add64(Vocrel_RNR_vecSum64Int32(in.data(), n));
    h.add32(Vocrel_RNR_vecMeanInt32(in.data(), n + 1));
    int32_t m = 0;
    Vocrel_RNR_vecMinInt32(in.data() + t, n + 1, &m);
    h.add32(m);
    h.add32(Vocrel_RNR_VecMaxItemInt32(in.data(), t, t + n / 2, &m));
    h.add32(m);
    const int32_t a = rng.wide();
    const int32_t b = rng.wide();
    const int32_t c = rng.wide();
    const int32_t w = rng.range(0, 32767);
    h.add32(FnrSmoothTwoInt(a, b, w, 32767 - w));
    const int32_t wb = rng.wide();  // drawn one per statement: argument order is unspecified
    const int32_t wc = rng.wide();
    h.add32(FnrSmoothThreeInt(a, b, c, w, wb, wc));
    h.add32(FnrSmoothTwoShort(a, b, w, wb));
  }
  std::vector<int32_t> c32 = in;
  Vocrel_RNR_vecCopyInt32(c32.data(), kN - 7, c32.data() + 3);
  Vocrel_RNR_vecCeilInt32(c32.data(), kN, 1 << 20);
  h.add_all(c32);
  std::vector<int16_t> c16 = s16;
  FnrCopyShort(c16.data() + 1, c16.data(), kN - 9);
  Vocrel_RNR_vecFloorInt16(c16.data(), kN, -1000);
  h.add_all(c16);
  return h.h;
}

TEST(MathGolden, DigestOfEveryRoutineIsPinned) {
  EXPECT_EQ(digest_all_routines(), 0x24016DB12FE4E599ULL) << std::hex << digest_all_routines();
}

}  // namespace
