// Clean-up stacks: a system-layer function pushes an entry after each
// acquisition and runs the stack on every exit, so that what it acquired is
// released on failure (and, for "always" entries, on success too).
#pragma once
#include <cstdint>

#include "system/csys_status.h"

// A kind-8 function is stored cast to the one-argument type and cast back
// before the call.

typedef csysStatus (*csys_cleanupFunction)(void* argument);
typedef csysStatus (*csys_cleanupFunction0)();

// Call kinds (bits 0..3 of the flags) and when an entry runs.
enum : uint32_t {
    csysCleanupCallObject = 1,   // function(object)
    csysCleanupCallObject2 = 2,  // function(object)
    csysCleanupCallAddress = 4,  // function(&entry.object)
    csysCleanupCallNone = 8,     // function()
    csysCleanupKindMask = 0xF,
    csysCleanupOnSuccess = 16,
    csysCleanupOnFailure = 32,
};

// The flag words in use.
enum : uint32_t {
    csysCleanupFailure1 = 33,
    csysCleanupFailure2 = 34,
    csysCleanupAlways1 = 49,
    csysCleanupAlways2 = 50,
};

struct csys_cleanupEntry {
    int32_t key;   // -1 marks a cleared entry
    uint32_t flags;
    void* object;
    csys_cleanupFunction function; // kind 8 stores a csys_cleanupFunction0
};

// Runs the entries last pushed first; count becomes -1 so that a stack runs
// only once. A negative status stays; otherwise it becomes the last result.
[[nodiscard]] csysStatus csys_cleanupRun(csys_cleanupEntry* entries, int32_t* count, csysStatus* status);

// Runs (when asked) and removes the topmost entry with the key.
[[nodiscard]] csysStatus csys_cleanupRemove(csys_cleanupEntry* entries, int32_t* count, csysStatus* status, int32_t key,
                                            int32_t run);

// A clean-up stack on a function's frame with a push that cannot overrun it.
template <int N>
struct csys_cleanupStack {
    csys_cleanupEntry entries[N];
    int32_t count = 0;
    csysStatus status = csysOk;

    // Refuses (csysErrFail) when the stack is full or has already run.
    [[nodiscard]] csysStatus push(int32_t key, uint32_t flags, void* object, csys_cleanupFunction function)
    {
        if (count < 0 || count >= N)
            return csysErrFail;
        entries[count] = {key, flags, object, function};
        ++count;
        return csysOk;
    }
    [[nodiscard]] csysStatus push0(int32_t key, uint32_t flags, csys_cleanupFunction0 function)
    {
        return push(key, flags, nullptr, reinterpret_cast<csys_cleanupFunction>(reinterpret_cast<void (*)()>(function)));
    }
    // Runs the stack with the given exit status and returns the final status.
    [[nodiscard]] csysStatus finish(csysStatus exitStatus)
    {
        status = exitStatus;
        (void)csys_cleanupRun(entries, &count, &status); // the outcome is in status
        return status;
    }
    [[nodiscard]] csysStatus remove(int32_t key, bool run)
    {
        return csys_cleanupRemove(entries, &count, &status, key, run ? 1 : 0);
    }
};
