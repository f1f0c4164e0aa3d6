// Test seam, not for callers: empties the registry.
#pragma once

namespace plat {

// Removes every key and value and closes every open key; the next use loads
// the file named by "QORALT_REGISTRY_FILE" again when it is set.
void clearRegistry();

} // namespace plat
