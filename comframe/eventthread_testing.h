#pragma once
// Test seam of the event thread: how its threads are made.

#include "platform/thread.h"

namespace ccEventThreadTesting {

using ThreadCreator = plat::Handle (*)(plat::ThreadFunction function, void* argument, uint32_t* threadId);

// Null restores the platform's createThread.
void setThreadCreator(ThreadCreator creator);

} // namespace ccEventThreadTesting
