// Not part of the test executable: discarded_status.cmake compiles it alone
// and expects one unused-result warning for every line marked "discarded".
#include "system/csys_array.h"
#include "system/csys_cleanup.h"
#include "system/csys_copy.h"
#include "system/csys_cpu.h"
#include "system/csys_handle.h"
#include "system/csys_memory.h"
#include "system/csys_shutdown.h"
#include "system/csys_sync.h"
#include "system/csys_thread.h"

void discardOneStatusOfEachKind(csys_cleanupStack<1>& stack, csys_array* array, csys_handle* handle,
                                csys_threadHandle* thread, csys_criticalSection** section)
{
    csys_alloc(0, nullptr);                                       // discarded
    csys_cleanupRun(stack.entries, &stack.count, &stack.status);  // discarded
    stack.push(0, csysCleanupFailure1, nullptr, nullptr);         // discarded
    stack.finish(csysOk);                                         // discarded
    csys_memCopy(0, nullptr, nullptr);                            // discarded
    csys_resetCpuInfo();                                          // discarded
    csys_handleRelease(handle);                                   // discarded
    csys_csLeave(section);                                        // discarded
    csys_arrayFree(array);                                        // discarded
    csys_threadHandleRelease(thread);                             // discarded
    csys_threadDetach();                                          // discarded
    csys_shutdown();                                              // discarded
}
