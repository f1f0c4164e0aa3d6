// Test seam, not for callers: replaces the system call that sets a thread's
// nice value, so that a refusal can be simulated.
#pragma once
#include <cstdint>

namespace plat {

// Sets the nice value of the thread of that kernel id: 0, or the error number
// of the refusal.
using ThreadNiceSetter = int (*)(uint32_t threadId, int nice);

// Replaces the setter; null restores the system call.
void setThreadNiceSetter(ThreadNiceSetter setter);

} // namespace plat
