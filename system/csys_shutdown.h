// Shut-down lists, thread records and thread detach.
//
// The system layer sets itself up lazily; its end is orderly. Services put
// clean-up functions on two process-wide lists (list 1 runs first, list 0
// last, each last registered first). Every thread that uses a thread service
// gets a thread record with its thread handle and its own exit handlers; the
// record is torn down when the thread leaves (the platform's thread-exit
// hook calls csys_threadDetach). The process's shut-down runs the lists once,
// after the last attached thread has detached.
#pragma once
#include <cstdint>

#include "system/csys_cleanup.h"
#include "system/csys_status.h"
#include "system/csys_thread.h"

// Positive notices of csys_shutdown.
constexpr csysStatus csysShutdownPending = 65; // runs when the last thread detaches
constexpr csysStatus csysShutdownAlreadyDone = 66;

typedef csysStatus (*csys_shutdownFunction)(void* argument);

struct csys_threadRecord {
    csys_threadHandle thread;
    csys_cleanupEntry* values;
    int32_t valueCount;
    int32_t valueCapacity;
    csys_cleanupEntry* exits; // key 0, flags csysCleanupAlways2
    int32_t exitCount;
    int32_t exitCapacity;
    int32_t detaching; // the exit work is running: a nested detach returns at once
};

// A list that has run takes no more entries: csysErrShutDown.
[[nodiscard]] csysStatus csys_atShutdown0(csys_shutdownFunction function, void* argument);
[[nodiscard]] csysStatus csys_atShutdown1(csys_shutdownFunction function, void* argument);

// A null (or empty) thread handle, or one naming the calling thread, adds to
// the calling thread's own exit handlers; another thread's handlers run on
// that thread when it detaches, before its own. A thread that has already run
// them gives csysErrThreadExited.
[[nodiscard]] csysStatus csys_atThreadExit(const csys_threadHandle* thread, csys_shutdownFunction function,
                                           void* argument);

// Called again while it runs (from one of the thread's exit handlers), it
// returns 0 at once.
[[nodiscard]] csysStatus csys_threadDetach();
[[nodiscard]] csysStatus csys_shutdown();

// A thread that is running its exit work, or has run it, gets no new record:
// csysErrThreadExited.
[[nodiscard]] csysStatus csys_threadRecordGet(csys_threadRecord** record, int32_t create,
                                              const csys_threadHandle* adopt);
[[nodiscard]] csysStatus csys_threadHasRecord(int32_t* hasRecord);
[[nodiscard]] csysStatus csys_threadGetCurrent(csys_threadHandle* thread);
[[nodiscard]] csysStatus csys_threadAssignCurrent(csys_threadHandle* thread);
[[nodiscard]] csysStatus csys_threadGetCurrentObject(csys_threadObject** object);

// True once the final shut-down has run.
bool csys_shutdownDone();
