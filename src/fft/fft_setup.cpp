// Master twiddle table, set-up size query and set-up initialisation.
#include "fft/fft_setup.h"

#include <array>

#include "math/const_math.h"
#include "math/constants.h"
#include "math/fixed.h"

namespace vocrel::fft {
namespace {

constexpr double kQ31One = 2147483648.0;  // 2^31

// round() of a non-negative value.
constexpr std::int64_t round_non_negative(double v) { return static_cast<std::int64_t>(v + 0.5); }

// Entry k = -e^(-2 pi i k/4096) in Q31: {-round(2^31 cos), round(2^31 sin)}.
// Entry 0 is exactly -2^31; no entry needs a clamp (sin stays below 0.71).
constexpr std::array<std::array<std::int32_t, 2>, kMasterEntries> make_master_table() {
  std::array<std::array<std::int32_t, 2>, kMasterEntries> t{};
  for (int k = 0; k < kMasterEntries; ++k) {
    const double theta = 2.0 * cmath::kPi * k / kMaxLength;
    t[k] = {static_cast<std::int32_t>(-round_non_negative(kQ31One * cmath::cos_series(theta))),
            sat32(round_non_negative(kQ31One * cmath::sin_series(theta)))};
  }
  return t;
}

}  // namespace
}  // namespace vocrel::fft

// The one copy of the master table: the set-ups unfold it too.
extern "C" constexpr std::array<std::array<std::int32_t, 2>, 513> Vocrel_FFT_S32TwiddleTable =
    vocrel::fft::make_master_table();

static_assert(vocrel::fft::kMasterEntries == 513);
static_assert(Vocrel_FFT_S32TwiddleTable[0][0] == vocrel::kInt32Min &&
              Vocrel_FFT_S32TwiddleTable[0][1] == 0);
static_assert(Vocrel_FFT_S32TwiddleTable[512][0] == -vocrel::math::kSqrtHalfQ31 &&
              Vocrel_FFT_S32TwiddleTable[512][1] == vocrel::math::kSqrtHalfQ31);

namespace vocrel::fft {
namespace {

void store_pair(std::int32_t* tw, std::int32_t index, std::int32_t re, std::int32_t im) {
  tw[2 * index] = re;
  tw[2 * index + 1] = im;
}

// T[j] = (-cos(2 pi j/N), sin(2 pi j/N)) in Q31 for j < floor(3N/4), unfolded
// from master entries m * 4096/N (m = 1..N/8) by eighth-circle symmetry.
// +1.0 is stored as 2^31 - 1; negations are plain 32-bit negations.
void build_twiddles(std::int32_t* tw, int order) {
  const std::int32_t n = std::int32_t{1} << order;
  const std::int32_t step = kMaxLength >> order;
  const std::int32_t quarter = n / 4;
  const std::int32_t half = n / 2;
  store_pair(tw, 0, Vocrel_FFT_S32TwiddleTable[0][0], Vocrel_FFT_S32TwiddleTable[0][1]);
  if (n >= 4) {
    store_pair(tw, quarter, 0, kInt32Max);
    store_pair(tw, half, kInt32Max, 0);
  }
  for (std::int32_t m = 1; m <= n / 8; ++m) {
    const auto& entry = Vocrel_FFT_S32TwiddleTable[static_cast<std::size_t>(m * step)];
    const std::int32_t c = entry[0];  // -cos(2 pi m/N)
    const std::int32_t s = entry[1];  // sin(2 pi m/N)
    store_pair(tw, m, c, s);
    store_pair(tw, quarter - m, neg_wrap32(s), neg_wrap32(c));
    store_pair(tw, quarter + m, s, neg_wrap32(c));
    store_pair(tw, half - m, neg_wrap32(c), s);
    store_pair(tw, half + m, neg_wrap32(c), neg_wrap32(s));
    store_pair(tw, 3 * quarter - m, s, c);
  }
}

}  // namespace
}  // namespace vocrel::fft

// Builds the record and its twiddle array for 2^order points (0..kMaxOrder).
void vocrel::fft::build_setup(void* mem, int order) {
  auto* spec = static_cast<Vocrel_FFTSpec_C_SC32*>(mem);
  const std::int32_t n = std::int32_t{1} << order;
  spec->N = n;
  if (order == 0) return;  // a 1-point set-up is the length alone
  const SetupOffsets off = setup_offsets(spec, n);
  spec->reserved = 0;
  spec->pTwiddle = off.twiddle;
  spec->pBuf = off.scratch;
  build_twiddles(reinterpret_cast<std::int32_t*>(static_cast<unsigned char*>(mem) + off.twiddle),
                 order);
}
