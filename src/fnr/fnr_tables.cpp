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

// Band edges on the bins of the 1024-point transform; band b covers
// edge[b] <= k < edge[b + 1].
constexpr std::array<std::uint16_t, 74> kBarkEdges = {
    0,   1,   2,   3,   4,   5,   6,   8,   10,  12,  14,  16,  18,  20,  22,  24,  26,  28,  30,
    32,  34,  36,  38,  40,  42,  44,  46,  48,  50,  52,  54,  56,  58,  61,  64,  67,  70,  73,
    76,  79,  83,  87,  91,  95,  99,  104, 109, 114, 120, 126, 132, 140, 148, 156, 165, 175, 185,
    196, 208, 220, 234, 248, 264, 280, 298, 316, 336, 356, 378, 400, 424, 448, 474, 512};

// round(32767 / width) of every band (halves round up).
constexpr std::array<std::uint16_t, 73> make_num_down() {
  std::array<std::uint16_t, 73> r{};
  for (int b = 0; b < 73; ++b) {
    const int width = kBarkEdges[b + 1] - kBarkEdges[b];
    r[b] = static_cast<std::uint16_t>((2 * 32767 + width) / (2 * width));
  }
  return r;
}

// floor(32767 * 10^(-d/10)), d = 1..30: the noise scale for a ceiling excess of d dB.
constexpr std::array<std::int16_t, 30> make_noise_ctr() {
  std::array<std::int16_t, 30> t{};
  for (int d = 1; d <= 30; ++d)
    t[d - 1] = static_cast<std::int16_t>(32767.0 / exp_series(d * kLn10 / 10.0));
  return t;
}

// Reciprocal of a valley distance: 0, 32767, then round(32768 / d), d = 2..63.
constexpr std::array<std::int16_t, 64> make_min_dis() {
  std::array<std::int16_t, 64> t{};
  t[1] = 32767;
  for (int d = 2; d < 64; ++d) t[d] = static_cast<std::int16_t>((2 * 32768 + d) / (2 * d));
  return t;
}

}  // namespace

extern "C" {

// Listed: one, then two, then wider bins per band; no rule gives the edges.
extern constexpr std::array<std::uint16_t, 74> usFnrBarkId_48k = kBarkEdges;
extern constexpr std::array<std::uint16_t, 73> usFnrNumDown_48k = make_num_down();
extern constexpr std::array<std::int16_t, 30> sFnrNoiseCtrTab = make_noise_ctr();
// Listed: the minimum band gain of the 48 kHz rule, Q15, by maxNr - 2 (maxNr
// 2..20; the last entry serves no valid maxNr). Tuned values, no rule gives them.
extern constexpr std::array<std::int16_t, 20> sFnrMinGain = {
    26214, 23265, 20643, 18350, 16384, 14745, 13107, 11468, 10485, 9175,
    8192,  7209,  6553,  5898,  4587,  4260,  3604,  3277,  3277,  3277};
extern constexpr std::array<std::int16_t, 64> sFnrMinDisTab = make_min_dis();

}  // extern "C"

// Stated values of the rules.
static_assert(usFnrNumDown_48k[0] == 32767 && usFnrNumDown_48k[6] == 16384 &&
              usFnrNumDown_48k[32] == 10922 && usFnrNumDown_48k[72] == 862);
static_assert(sFnrNoiseCtrTab[0] == 26027 && sFnrNoiseCtrTab[9] == 3276 &&
              sFnrNoiseCtrTab[19] == 327 && sFnrNoiseCtrTab[29] == 32);
static_assert(sFnrMinDisTab[2] == 16384 && sFnrMinDisTab[3] == 10923 && sFnrMinDisTab[5] == 6554 &&
              sFnrMinDisTab[62] == 529 && sFnrMinDisTab[63] == 520);
