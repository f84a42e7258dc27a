// Second-order high-pass pre-filter of both paths: its record inside a path
// state, its Q12 coefficient tables and the filter itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/layout.h"

namespace vocrel::dsp {

// Filter memory as both path states hold it (six words).
struct HpState {
  std::int16_t x2;  // input two samples back
  std::int16_t x1;  // previous input
  std::int32_t reserved;
  std::int32_t y2;  // output two samples back, Q16 sample units
  std::int32_t y1;  // previous output, Q16
  Ref32 coefA;      // table code of the denominator coefficients (kTable8k / kTable16k)
  Ref32 coefB;      // table code of the numerator coefficients
};
static_assert(sizeof(HpState) == 24);
static_assert(offsetof(HpState, y2) == 8 && offsetof(HpState, coefA) == 16);

// One rate's coefficients, {a0 (= -1.0, unused), a1, a2} and {b0, b1, b2}.
struct HpCoefs {
  const std::int16_t* a;
  const std::int16_t* b;
};

// The coefficients of the 8 kHz or of the 16 kHz filter.
HpCoefs hp_coefs(bool is8k);

// The coefficients a state's table codes name; false (nothing set) when the
// codes name no filter, as at 48 kHz.
bool hp_coefs_of(const HpState& s, HpCoefs* c);

// Direct form over n samples (n < 1 does nothing); out may equal in.
void hp_filter(HpState& s, HpCoefs c, const std::int16_t* in, std::int32_t n, std::int16_t* out);

}  // namespace vocrel::dsp

extern "C" {
// Q12, corner near 80 Hz, pass-band gain 1/2.
extern const std::int16_t vocrel_rnr_hpFilterCoefA_8k[3];
extern const std::int16_t vocrel_rnr_hpFilterCoefB_8k[3];
extern const std::int16_t vocrel_rnr_hpFilterCoefA_16k[3];
extern const std::int16_t vocrel_rnr_hpFilterCoefB_16k[3];
}
