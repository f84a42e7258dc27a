// Constant tables of the environment-noise path.
#include <array>
#include <cstdint>

#include "math/const_math.h"
#include "rnr/rnr.h"

namespace {

constexpr std::int16_t round_to_i16(double v) {
  return static_cast<std::int16_t>(v >= 0 ? v + 0.5 : v - 0.5);
}

// Sine window of 320 entries in Q15: w[n] = round(32767 sin(pi (n+1) / 320)),
// except the listed leading entries (within 3 units of the curve), taken as
// they stand. Squared, an entry plus the entry half a window away is 1 to
// within rounding, so the analysis and synthesis windows together reconstruct
// under overlap-add.
struct ListedEntry {
  int n;
  std::int16_t value;
};
constexpr ListedEntry kListed16k[] = {{0, 321},  {1, 642},  {2, 963},  {3, 1288},
                                      {4, 1609}, {5, 1930}, {7, 2572}, {9, 3211}};

constexpr std::array<std::int16_t, 320> make_window_16k() {
  std::array<std::int16_t, 320> w{};
  for (int n = 0; n < 320; ++n) {
    w[n] = round_to_i16(32767.0 * vocrel::cmath::sin_pi_ratio(n + 1, 320));
  }
  for (const auto& e : kListed16k) w[e.n] = e.value;
  return w;
}

// The 8 kHz window samples the same curve at every other point.
constexpr std::array<std::int16_t, 160> make_window_8k() {
  constexpr auto w16 = make_window_16k();
  std::array<std::int16_t, 160> w{};
  for (int n = 0; n < 160; ++n) w[n] = w16[2 * n + 1];
  return w;
}

// The shape detector weights group j (bins 4j+1..4j+4) by the curve at bin
// 4j: a single-bin band for j <= 8, else the four-bin band 24 + j.
template <std::size_t N>
constexpr std::array<std::int16_t, 32> make_group_weights(const std::array<std::int16_t, N>& band) {
  std::array<std::int16_t, 32> w{};
  for (int j = 0; j < 32; ++j) w[j] = band[j <= 8 ? 4 * j : 24 + j];
  return w;
}

// Compile-time checks of the exported data against the rules that give it.
template <std::size_t N>
constexpr bool equals(const int16_t (&a)[N], const std::array<std::int16_t, N>& b) {
  for (std::size_t i = 0; i < N; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" {

// Second-order high-pass sections in Q12 (design values).
extern constexpr int16_t vocrel_rnr_hpFilterCoefA_8k[3] = {-4096, 7828, -3748};
extern constexpr int16_t vocrel_rnr_hpFilterCoefB_8k[3] = {1959, -3918, 1959};
extern constexpr int16_t vocrel_rnr_hpFilterCoefA_16k[3] = {-4096, 8010, -3918};
extern constexpr int16_t vocrel_rnr_hpFilterCoefB_16k[3] = {2003, -4006, 2003};

// Hangover after a harmonic run of 1..3, 4..5, 6..7, 8..9, 10+ frames.
extern constexpr uint32_t vocrel_rnr_harmHoldTab[10] = {5, 5, 5, 10, 10, 15, 15, 20, 20, 30};

// Sine windows with listed leading entries, output of tools/gen_rnr_windows.py
// (checked below), W = 160
extern constexpr int16_t vocrel_rnr_fftWinCoef_8k[160] = {
    642,   1288,  1930,  2572,  3211,  3851,  4489,  5126,  5760,  6393,  7022,  7649,  8273,
    8894,  9512,  10126, 10735, 11341, 11943, 12539, 13131, 13718, 14300, 14876, 15446, 16011,
    16569, 17121, 17666, 18204, 18736, 19260, 19777, 20286, 20787, 21280, 21766, 22242, 22710,
    23170, 23620, 24062, 24494, 24916, 25329, 25732, 26126, 26509, 26882, 27245, 27597, 27938,
    28269, 28589, 28898, 29196, 29482, 29757, 30021, 30273, 30513, 30742, 30958, 31163, 31356,
    31537, 31705, 31862, 32006, 32137, 32257, 32364, 32458, 32540, 32609, 32666, 32710, 32742,
    32761, 32767, 32761, 32742, 32710, 32666, 32609, 32540, 32458, 32364, 32257, 32137, 32006,
    31862, 31705, 31537, 31356, 31163, 30958, 30742, 30513, 30273, 30021, 29757, 29482, 29196,
    28898, 28589, 28269, 27938, 27597, 27245, 26882, 26509, 26126, 25732, 25329, 24916, 24494,
    24062, 23620, 23170, 22710, 22242, 21766, 21280, 20787, 20286, 19777, 19260, 18736, 18204,
    17666, 17121, 16569, 16011, 15446, 14876, 14300, 13718, 13131, 12539, 11943, 11341, 10735,
    10126, 9512,  8894,  8273,  7649,  7022,  6393,  5760,  5126,  4489,  3851,  3212,  2571,
    1929,  1286,  643,   0,
};
// tools/gen_rnr_windows.py, W = 320
extern constexpr int16_t vocrel_rnr_fftWinCoef_16k[320] = {
    321,   642,   963,   1288,  1609,  1930,  2250,  2572,  2891,  3211,  3532,  3851,  4171,
    4489,  4808,  5126,  5443,  5760,  6077,  6393,  6708,  7022,  7336,  7649,  7962,  8273,
    8584,  8894,  9203,  9512,  9819,  10126, 10431, 10735, 11039, 11341, 11642, 11943, 12242,
    12539, 12836, 13131, 13425, 13718, 14010, 14300, 14589, 14876, 15162, 15446, 15729, 16011,
    16291, 16569, 16846, 17121, 17394, 17666, 17936, 18204, 18471, 18736, 18999, 19260, 19519,
    19777, 20032, 20286, 20537, 20787, 21035, 21280, 21524, 21766, 22005, 22242, 22477, 22710,
    22941, 23170, 23396, 23620, 23842, 24062, 24279, 24494, 24706, 24916, 25124, 25329, 25532,
    25732, 25930, 26126, 26319, 26509, 26697, 26882, 27065, 27245, 27422, 27597, 27769, 27938,
    28105, 28269, 28431, 28589, 28745, 28898, 29048, 29196, 29340, 29482, 29621, 29757, 29890,
    30021, 30148, 30273, 30394, 30513, 30629, 30742, 30852, 30958, 31062, 31163, 31261, 31356,
    31448, 31537, 31623, 31705, 31785, 31862, 31935, 32006, 32073, 32137, 32199, 32257, 32312,
    32364, 32412, 32458, 32500, 32540, 32576, 32609, 32639, 32666, 32690, 32710, 32728, 32742,
    32753, 32761, 32765, 32767, 32765, 32761, 32753, 32742, 32728, 32710, 32690, 32666, 32639,
    32609, 32576, 32540, 32500, 32458, 32412, 32364, 32312, 32257, 32199, 32137, 32073, 32006,
    31935, 31862, 31785, 31705, 31623, 31537, 31448, 31356, 31261, 31163, 31062, 30958, 30852,
    30742, 30629, 30513, 30394, 30273, 30148, 30021, 29890, 29757, 29621, 29482, 29340, 29196,
    29048, 28898, 28745, 28589, 28431, 28269, 28105, 27938, 27769, 27597, 27422, 27245, 27065,
    26882, 26697, 26509, 26319, 26126, 25930, 25732, 25532, 25329, 25124, 24916, 24706, 24494,
    24279, 24062, 23842, 23620, 23396, 23170, 22941, 22710, 22477, 22242, 22005, 21766, 21524,
    21280, 21035, 20787, 20537, 20286, 20032, 19777, 19519, 19260, 18999, 18736, 18471, 18204,
    17936, 17666, 17394, 17121, 16846, 16569, 16291, 16011, 15729, 15446, 15162, 14876, 14589,
    14300, 14010, 13718, 13425, 13131, 12836, 12539, 12242, 11943, 11642, 11341, 11039, 10735,
    10431, 10126, 9819,  9512,  9203,  8894,  8584,  8273,  7962,  7649,  7336,  7022,  6708,
    6393,  6077,  5760,  5443,  5126,  4808,  4489,  4171,  3851,  3532,  3212,  2891,  2571,
    2250,  1929,  1608,  1286,  965,   643,   322,   0,
};

// Noise-floor band weights (Q15): samples of one rising curve of normalised
// frequency, 0.1 at 0 Hz to 0.9 at Nyquist. Bands 0..32 are bins 0..32, band
// 33 + j is sampled at its last bin 36 + 4j. Measured values, kept as data;
// three zero pads let four-band loops run past the last band.
extern constexpr int16_t vocrel_rnr_mcra_powSmCoef_8k[60] = {
    3276,  3296,  3354,  3449,  3578,  3737,  3922,  4130,  4357,  4601,  4858,  5127,
    5406,  5693,  5986,  6286,  6590,  6898,  7209,  7523,  7839,  8156,  8475,  8796,
    9117,  9438,  9760,  10081, 10403, 10724, 11045, 11365, 11684, 12952, 14199, 15419,
    16609, 17763, 18879, 19953, 20981, 21962, 22891, 23767, 24588, 25351, 26054, 26696,
    27275, 27789, 28237, 28618, 28931, 29175, 29350, 29456, 29456, 0,     0,     0};

extern constexpr int16_t vocrel_rnr_mcra_powSmCoef_16k[92] = {
    3276,  3281,  3296,  3320,  3354,  3397,  3449,  3510,  3578,  3654,  3737,  3826,
    3922,  4023,  4130,  4241,  4357,  4477,  4601,  4728,  4858,  4992,  5127,  5266,
    5406,  5549,  5693,  5839,  5986,  6135,  6286,  6437,  6590,  7209,  7839,  8475,
    9117,  9760,  10403, 11045, 11684, 12320, 12952, 13578, 14199, 14813, 15419, 16018,
    16609, 17191, 17763, 18326, 18879, 19421, 19953, 20473, 20981, 21478, 21962, 22433,
    22891, 23336, 23767, 24185, 24588, 24977, 25351, 25710, 26054, 26383, 26696, 26993,
    27275, 27540, 27789, 28021, 28237, 28436, 28618, 28783, 28931, 29062, 29175, 29272,
    29350, 29412, 29456, 29482, 29482, 0,     0,     0};

extern constexpr int16_t vocrel_rnr_vad2SmCoef_8k[32] = {
    3276,  3578,  4357,  5406,  6590,  7839,  9117,  10403, 11684, 12952, 14199,
    15419, 16609, 17763, 18879, 19953, 20981, 21962, 22891, 23767, 24588, 25351,
    26054, 26696, 27275, 27789, 28237, 28618, 28931, 29175, 29350, 29456};

extern constexpr int16_t vocrel_rnr_vad2SmCoef_16k[32] = {
    3276,  3354,  3578,  3922,  4357,  4858,  5406,  5986,  6590,  7209,  7839,
    8475,  9117,  9760,  10403, 11045, 11684, 12320, 12952, 13578, 14199, 14813,
    15419, 16018, 16609, 17191, 17763, 18326, 18879, 19421, 19953, 20473};

}  // extern "C"

static_assert(equals(vocrel_rnr_fftWinCoef_16k, make_window_16k()));
static_assert(equals(vocrel_rnr_fftWinCoef_8k, make_window_8k()));
static_assert(vocrel_rnr_fftWinCoef_16k[159] == 32767 && vocrel_rnr_fftWinCoef_16k[319] == 0);
static_assert(equals(vocrel_rnr_vad2SmCoef_8k,
                     make_group_weights(std::to_array(vocrel_rnr_mcra_powSmCoef_8k))));
static_assert(equals(vocrel_rnr_vad2SmCoef_16k,
                     make_group_weights(std::to_array(vocrel_rnr_mcra_powSmCoef_16k))));
