// Names bench/bench_fnr.cpp uses; the helpers live in signals.h and test_util.h.
#pragma once

#include "signals.h"
#include "test_util.h"

namespace fnr_test {
using namespace sig;
using Fnr = vocrel_test::Instance;
using vocrel_test::stack_high_water;
inline Vocrel_RNR_Params params(int rate, int channels = 1) {
  return vocrel_test::params_for(rate, channels, 0);
}
}  // namespace fnr_test
