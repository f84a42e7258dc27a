// The robustness tests' include; the helpers live in test_util.h.
#pragma once

#include "test_util.h"
