// Test seam, not for callers: reads back the persistent-type registry that
// the start-up fills.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "std/except/persist.h"

// Every registration (reading-form name, factory), in registration order.
std::vector<std::pair<std::string, ccPersistentFactory>> ccRegisteredPersistentTypes();
