// Constant tables of the environment-noise path.
#include <array>
#include <cstdint>

#include "rnr/rnr.h"

namespace {

// The shape detector weights group j (bins 4j+1..4j+4) by the curve at bin
// 4j: a single-bin band for j <= 8, else the four-bin band 24 + j.
template <std::size_t N>
constexpr std::array<std::int16_t, 32> make_group_weights(const std::array<std::int16_t, N>& band) {
  std::array<std::int16_t, 32> w{};
  for (int j = 0; j < 32; ++j) w[j] = band[j <= 8 ? 4 * j : 24 + j];
  return w;
}

}  // namespace

extern "C" {

// Hangover after a harmonic run of 1..3, 4..5, 6..7, 8..9, 10+ frames.
extern constexpr std::array<std::uint32_t, 10> vocrel_rnr_harmHoldTab = {5,  5,  5,  10, 10,
                                                                         15, 15, 20, 20, 30};

// Noise-floor band weights (Q15): samples of one rising curve of normalised
// frequency, 0.1 at 0 Hz to 0.9 at Nyquist. Bands 0..32 are bins 0..32, band
// 33 + j is sampled at its last bin 36 + 4j. Measured values, listed as data (no
// rule gives them);
// three zero pads let four-band loops run past the last band.
extern constexpr std::array<std::int16_t, 60> vocrel_rnr_mcra_powSmCoef_8k = {
    3276,  3296,  3354,  3449,  3578,  3737,  3922,  4130,  4357,  4601,  4858,  5127,
    5406,  5693,  5986,  6286,  6590,  6898,  7209,  7523,  7839,  8156,  8475,  8796,
    9117,  9438,  9760,  10081, 10403, 10724, 11045, 11365, 11684, 12952, 14199, 15419,
    16609, 17763, 18879, 19953, 20981, 21962, 22891, 23767, 24588, 25351, 26054, 26696,
    27275, 27789, 28237, 28618, 28931, 29175, 29350, 29456, 29456, 0,     0,     0};

extern constexpr std::array<std::int16_t, 92> vocrel_rnr_mcra_powSmCoef_16k = {
    3276,  3281,  3296,  3320,  3354,  3397,  3449,  3510,  3578,  3654,  3737,  3826,
    3922,  4023,  4130,  4241,  4357,  4477,  4601,  4728,  4858,  4992,  5127,  5266,
    5406,  5549,  5693,  5839,  5986,  6135,  6286,  6437,  6590,  7209,  7839,  8475,
    9117,  9760,  10403, 11045, 11684, 12320, 12952, 13578, 14199, 14813, 15419, 16018,
    16609, 17191, 17763, 18326, 18879, 19421, 19953, 20473, 20981, 21478, 21962, 22433,
    22891, 23336, 23767, 24185, 24588, 24977, 25351, 25710, 26054, 26383, 26696, 26993,
    27275, 27540, 27789, 28021, 28237, 28436, 28618, 28783, 28931, 29062, 29175, 29272,
    29350, 29412, 29456, 29482, 29482, 0,     0,     0};

extern constexpr std::array<std::int16_t, 32> vocrel_rnr_vad2SmCoef_8k =
    make_group_weights(vocrel_rnr_mcra_powSmCoef_8k);
extern constexpr std::array<std::int16_t, 32> vocrel_rnr_vad2SmCoef_16k =
    make_group_weights(vocrel_rnr_mcra_powSmCoef_16k);

}  // extern "C"

// Stated points of the group weights.
static_assert(vocrel_rnr_vad2SmCoef_8k[1] == 3578 && vocrel_rnr_vad2SmCoef_8k[31] == 29456);
static_assert(vocrel_rnr_vad2SmCoef_16k[9] == 7209 && vocrel_rnr_vad2SmCoef_16k[31] == 20473);
