#pragma once
// Test seam of the event thread: how long a create request is waited for.

#include <cstdint>

namespace ccEventThreadTesting {

// How long CreateObjectOnThread waits for its object; 0 restores 10 s.
void setCreateTimeout(uint32_t milliseconds);

} // namespace ccEventThreadTesting
