#pragma once
// Test seam of the COM utilities: a runtime without its own wait.

namespace ccComUtilTesting {

// Whether ccGetCoWaitForMultipleHandles finds the runtime's wait; false
// makes it hand out ccPumpingWait. Starts true.
void setRuntimeWaitAvailable(bool available);

} // namespace ccComUtilTesting
