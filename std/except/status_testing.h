// Test seam, not for callers: reads back the status-thrower table that the
// start-up fills.
#pragma once
#include <cstdint>
#include <vector>

#include "std/except/status.h"

// The throwers of one facility, in registration order.
std::vector<ccStatusThrower> ccStatusThrowersFor(int32_t facility);
