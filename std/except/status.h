// Turning negative system-layer statuses into library exceptions.
//
// Each area registers, for its facility, a thrower that throws the exception
// of the statuses it knows and returns for any other; ccThrowStatus asks the
// facility's throwers in registration order and falls back to ccUnknownError.
#pragma once
#include <new>

#include "system/csys_cleanup.h"
#include "system/csys_status.h"

typedef void (*ccStatusThrower)(csysStatus status);

class ccStatusThrowerRegistry {
public:
    // Ignores a null thrower. Called by the layers' start-ups, which may run
    // while other threads already throw statuses: safe against
    // ccThrowStatus on any thread.
    static void add(int32_t facility, ccStatusThrower thrower);
};

// Returns for 0 and positive statuses; throws for every negative one.
void ccThrowStatus(csysStatus status);

// What an out-of-memory status becomes.
class ccBadAllocation : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "bad allocation"; }
};

// Thrower of facility 1 (memory).
void ccMemoryStatusThrower(csysStatus status);

// Runs a system-layer clean-up stack in failure mode when an exception
// leaves the function before the stack has run.
class ccCleanupGuard {
public:
    ccCleanupGuard(csys_cleanupEntry* entries, int32_t* count) : entries_(entries), count_(count) {}
    template <int N>
    explicit ccCleanupGuard(csys_cleanupStack<N>& stack) : entries_(stack.entries), count_(&stack.count)
    {
    }
    ccCleanupGuard(const ccCleanupGuard&) = delete;
    ccCleanupGuard& operator=(const ccCleanupGuard&) = delete;
    ~ccCleanupGuard();

private:
    csys_cleanupEntry* entries_;
    int32_t* count_;
};
