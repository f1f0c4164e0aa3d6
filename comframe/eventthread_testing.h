#pragma once
// Test seams of the event thread: how long a create request is waited for,
// and a call made once a create request is queued.

#include <cstdint>

namespace ccEventThreadTesting {

// How long CreateObjectOnThread waits for its object; 0 restores 10 s.
void setCreateTimeout(uint32_t milliseconds);

// Called on the requester's thread right after its request is queued; null
// for none.
void setCreateQueuedHook(void (*hook)());

} // namespace ccEventThreadTesting
