// The instance layout lives with the other shared building blocks; this name
// is kept for code outside the engine that still includes it.
#pragma once

#include "base/layout.h"
