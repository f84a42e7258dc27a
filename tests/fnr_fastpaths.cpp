// The tonal detector's reciprocal: one division against the sixteen restoring
// shift-and-subtract steps it replaces, over every mantissa it can receive.
#include <gtest/gtest.h>

#include <cstdint>

#include "fnr/fnr_internal.h"
#include "math/fixed.h"

namespace {

using namespace vocrel;

int32_t restoring_steps(int32_t m) {
  const int32_t q = m * 32768;
  const int32_t d0 = sub_wrap32(536870912, q);
  int32_t r = d0 >= 0 ? add_wrap32(1, shl_wrap32(d0, 1)) : 1073741824;
  for (int i = 0; i < 15; ++i) {
    const int32_t d = sub_wrap32(r, q);
    r = d < 0 ? shl_wrap32(r, 1) : add_wrap32(1, shl_wrap32(d, 1));
  }
  const int32_t low = lo16(r);
  return low == -32768 ? 32767 : low;
}

TEST(FnrTonal, ReciprocalEqualsTheRestoringStepsForEveryMantissa) {
  for (int32_t m = 1 << 14; m < 1 << 15; ++m) {
    ASSERT_EQ(fnr::reciprocal_q14(m), restoring_steps(m)) << m;
  }
  EXPECT_EQ(fnr::reciprocal_q14(1 << 14), 32767);
  EXPECT_EQ(fnr::reciprocal_q14(32767), 16384);
}

}  // namespace
