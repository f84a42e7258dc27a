// Constant tables of the floor-noise path, generated at compile time from
// their defining rules where one exists.
#include <array>
#include <cstdint>

#include "fnr/fnr.h"
#include "math/const_math.h"

namespace {

namespace cmath = vocrel::cmath;
using cmath::exp_series;
using cmath::kLn10;

// ---- generators ---------------------------------------------------------------

// Band edges on the bins of the 1024-point transform; band b covers
// edge[b] <= k < edge[b + 1]. Listed: one, then two, then wider bins per band.
constexpr std::array<uint16_t, 74> kBarkEdges = {
    0,   1,   2,   3,   4,   5,   6,   8,   10,  12,  14,  16,  18,  20,  22,  24,  26,  28,  30,
    32,  34,  36,  38,  40,  42,  44,  46,  48,  50,  52,  54,  56,  58,  61,  64,  67,  70,  73,
    76,  79,  83,  87,  91,  95,  99,  104, 109, 114, 120, 126, 132, 140, 148, 156, 165, 175, 185,
    196, 208, 220, 234, 248, 264, 280, 298, 316, 336, 356, 378, 400, 424, 448, 474, 512};

// round(32767 / width) of every band (halves round up).
constexpr std::array<uint16_t, 73> make_num_down() {
  std::array<uint16_t, 73> r{};
  for (int b = 0; b < 73; ++b) {
    const int width = kBarkEdges[b + 1] - kBarkEdges[b];
    r[b] = static_cast<uint16_t>((2 * 32767 + width) / (2 * width));
  }
  return r;
}

// floor(32767 * 10^(-d/10)), d = 1..30: the noise scale for a ceiling excess of d dB.
constexpr std::array<int16_t, 30> make_noise_ctr() {
  std::array<int16_t, 30> t{};
  for (int d = 1; d <= 30; ++d)
    t[d - 1] = static_cast<int16_t>(32767.0 / exp_series(d * kLn10 / 10.0));
  return t;
}

// Reciprocal of a valley distance: 0, 32767, then round(32768 / d), d = 2..63.
constexpr std::array<int16_t, 64> make_min_dis() {
  std::array<int16_t, 64> t{};
  t[1] = 32767;
  for (int d = 2; d < 64; ++d) t[d] = static_cast<int16_t>((2 * 32768 + d) / (2 * d));
  return t;
}

constexpr auto kNumDown = make_num_down();
constexpr auto kNoiseCtr = make_noise_ctr();
constexpr auto kMinDis = make_min_dis();

// Stated values of the rules.
static_assert(kNumDown[0] == 32767 && kNumDown[6] == 16384 && kNumDown[32] == 10922 &&
              kNumDown[72] == 862);
static_assert(kNoiseCtr[0] == 26027 && kNoiseCtr[9] == 3276 && kNoiseCtr[19] == 327 &&
              kNoiseCtr[29] == 32);
static_assert(kMinDis[2] == 16384 && kMinDis[3] == 10923 && kMinDis[5] == 6554 &&
              kMinDis[62] == 529 && kMinDis[63] == 520);

}  // namespace

// Spells out entries i..i+k-1 of a constexpr std::array as an initializer
// list, so that the exported C arrays are constant data taken from the
// generators above (an array cannot be initialised from another array).
#define FNR_E8(a, i) \
  a[(i)], a[(i) + 1], a[(i) + 2], a[(i) + 3], a[(i) + 4], a[(i) + 5], a[(i) + 6], a[(i) + 7]
#define FNR_E32(a, i) FNR_E8(a, i), FNR_E8(a, (i) + 8), FNR_E8(a, (i) + 16), FNR_E8(a, (i) + 24)
#define FNR_E160(a, i)                                                             \
  FNR_E32(a, i), FNR_E32(a, (i) + 32), FNR_E32(a, (i) + 64), FNR_E32(a, (i) + 96), \
      FNR_E32(a, (i) + 128)

extern "C" {

const uint16_t usFnrBarkId_48k[74] = {FNR_E32(kBarkEdges, 0), FNR_E32(kBarkEdges, 32),
                                      FNR_E8(kBarkEdges, 64), kBarkEdges[72], kBarkEdges[73]};

const uint16_t usFnrNumDown_48k[73] = {FNR_E32(kNumDown, 0), FNR_E32(kNumDown, 32),
                                       FNR_E8(kNumDown, 64), kNumDown[72]};

const int16_t sFnrNoiseCtrTab[30] = {
    FNR_E8(kNoiseCtr, 0), FNR_E8(kNoiseCtr, 8), FNR_E8(kNoiseCtr, 16), kNoiseCtr[24], kNoiseCtr[25],
    kNoiseCtr[26],        kNoiseCtr[27],        kNoiseCtr[28],         kNoiseCtr[29]};

// Minimum band gain of the 48 kHz rule, Q15, by maxNr - 2 (maxNr 2..20; the
// last entry serves no valid maxNr). Tuned values, not a formula.
const int16_t sFnrMinGain[20] = {26214, 23265, 20643, 18350, 16384, 14745, 13107,
                                 11468, 10485, 9175,  8192,  7209,  6553,  5898,
                                 4587,  4260,  3604,  3277,  3277,  3277};

const int16_t sFnrMinDisTab[64] = {FNR_E32(kMinDis, 0), FNR_E32(kMinDis, 32)};

}  // extern "C"

#undef FNR_E160
#undef FNR_E32
#undef FNR_E8
