#include "system/csys_sync.h"

#include <atomic>
#include <cmath>
#include <new>

#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "system/csys_internal.h"
#include "system/csys_memory.h"
#include "system/csys_shutdown.h"

struct csys_criticalSection {
    plat::CriticalSection section;
};

namespace {

using csys_detail::platHandle;

// The wait of events and mutexes: signalled or abandoned acquires.
csysStatus waitHandle(void* handle, uint32_t milliseconds, int32_t* signalled)
{
    if (signalled != nullptr)
        *signalled = 0;
    uint32_t limit = milliseconds == csysWaitForever ? plat::kInfiniteWait : milliseconds;
    plat::WaitResult result = plat::waitFor(platHandle(handle), limit);
    switch (result.status) {
    case plat::WaitStatus::Signalled:
    case plat::WaitStatus::Abandoned:
        if (signalled != nullptr)
            *signalled = 1;
        return csysOk;
    case plat::WaitStatus::TimedOut:
        return csysOk;
    case plat::WaitStatus::Failed:
        break;
    }
    return csysErrOsCall;
}

// The once mutex: made by the first caller and never destroyed, so that a
// caller that has just found it ready can always lock it. Shut-down list 0
// only closes it for new initialisations.
std::atomic<int32_t> gOnceState{csys_detail::kLazyNone};
std::atomic<int32_t> gOnceClosed{0};
csys_mutex gOnceMutex;

// Under the mutex, so that no once-function is still running when the
// entry returns and none starts afterwards.
csysStatus closeOnceMutex(void*)
{
    csysStatus status = csys_mutexLock(&gOnceMutex, nullptr);
    gOnceClosed.store(1);
    return status < 0 ? status : csys_mutexUnlock(&gOnceMutex);
}

// Not yet published on failure, so closing the new mutex again is safe.
csysStatus createOnceMutex()
{
    csysStatus status = csys_mutexCreate(&gOnceMutex, 0, nullptr);
    if (status < 0)
        return status;
    status = csys_atShutdown0(&closeOnceMutex, nullptr);
    if (status < 0) {
        (void)csys_handleClose(&gOnceMutex.handle); // made just above: closing cannot fail
        gOnceMutex.valid = 0;
    }
    return status;
}

} // namespace

csysStatus csys_mutexCreate(csys_mutex* record, int32_t initiallyOwned, int32_t* owned)
{
    if (record == nullptr)
        return csysErrNullArg;
    if (owned != nullptr)
        *owned = 0;
    plat::Handle mutex = plat::createMutex(initiallyOwned != 0);
    if (mutex == nullptr)
        return csysErrOsCall;
    record->handle = mutex;
    record->valid = 1;
    if (owned != nullptr)
        *owned = initiallyOwned != 0 ? 1 : 0;
    return csysOk;
}

csysStatus csys_mutexLock(csys_mutex* record, int32_t* acquired)
{
    if (acquired != nullptr)
        *acquired = 0;
    if (record == nullptr || record->handle == nullptr)
        return csysErrNullArg;
    return waitHandle(record->handle, csysWaitForever, acquired);
}

csysStatus csys_mutexUnlock(csys_mutex* record)
{
    if (record == nullptr || record->handle == nullptr)
        return csysErrNullArg;
    return plat::releaseMutex(platHandle(record->handle)) ? csysOk : csysErrOsCall;
}

csysStatus csys_handleClose(void** handle)
{
    if (handle == nullptr)
        return csysErrNullArg;
    void* held = *handle;
    if (held == nullptr)
        return csysOk;
    *handle = nullptr;
    return plat::closeHandle(platHandle(held)) ? csysOk : csysErrOsCall;
}

csysStatus csys_csCreate(csys_criticalSection** slot)
{
    if (slot == nullptr)
        return csysErrNullArg;
    *slot = nullptr;
    csysStatus status = csys_alloc(static_cast<int32_t>(sizeof(csys_criticalSection)), slot);
    if (status < 0)
        return status;
    new (*slot) csys_criticalSection; // cannot throw
    return csysOk;
}

csysStatus csys_csDelete(csys_criticalSection** slot)
{
    if (slot == nullptr)
        return csysErrNullArg;
    if (*slot == nullptr)
        return csysOk;
    (*slot)->~csys_criticalSection();
    return csys_free(slot);
}

csysStatus csys_csEnter(csys_criticalSection** slot, int32_t* entered)
{
    if (entered != nullptr)
        *entered = 0;
    if (slot == nullptr || *slot == nullptr)
        return csysErrNullArg;
    (*slot)->section.enter();
    if (entered != nullptr)
        *entered = 1;
    return csysOk;
}

csysStatus csys_csLeave(csys_criticalSection** slot)
{
    if (slot == nullptr || *slot == nullptr)
        return csysErrNullArg;
    // Leaving a section the caller does not hold is refused, not undefined.
    return (*slot)->section.leave() ? csysOk : csysErrOsCall;
}

csysStatus csys_eventCreate(csys_event* record, int32_t manualReset, int32_t initialState)
{
    if (record == nullptr)
        return csysErrNullArg;
    plat::Handle event = plat::createEvent(manualReset != 0, initialState != 0);
    if (event == nullptr)
        return csysErrOsCall;
    record->handle = event;
    record->valid = 1;
    return csysOk;
}

csysStatus csys_eventWait(csys_event* record, uint32_t milliseconds, int32_t* signalled)
{
    if (signalled != nullptr)
        *signalled = 0;
    if (record == nullptr || record->handle == nullptr)
        return csysErrNullArg;
    return waitHandle(record->handle, milliseconds, signalled);
}

csysStatus csys_eventSet(csys_event* record)
{
    if (record == nullptr || record->handle == nullptr)
        return csysErrNullArg;
    return plat::setEvent(platHandle(record->handle)) ? csysOk : csysErrOsCall;
}

csysStatus csys_once(csysStatus (*function)(void*), void* argument, int32_t* flag)
{
    if (function == nullptr || flag == nullptr)
        return csysErrNullArg;
    if (__atomic_load_n(flag, __ATOMIC_ACQUIRE) != 0)
        return csysOk;
    if (gOnceClosed.load() != 0)
        return csysErrShutDown;
    csysStatus status = csys_detail::lazyCreate(gOnceState, &createOnceMutex);
    if (status < 0)
        return status;
    status = csys_mutexLock(&gOnceMutex, nullptr);
    if (status < 0)
        return status;
    csysStatus result = csysOk;
    if (__atomic_load_n(flag, __ATOMIC_ACQUIRE) == 0) {
        // Shut-down may have closed it while this caller waited for the lock.
        result = gOnceClosed.load() != 0 ? csysErrShutDown : function(argument);
        if (result >= 0)
            __atomic_store_n(flag, 1, __ATOMIC_RELEASE);
    }
    status = csys_mutexUnlock(&gOnceMutex);
    return result < 0 ? result : status;
}

csysStatus csys_sleep(double seconds)
{
    if (std::isnan(seconds) || seconds < 0)
        return csysErrNullArg;
    if (seconds == HUGE_VAL) {
        plat::sleepMilliseconds(plat::kInfiniteWait);
        return csysOk;
    }
    // Too long a delay is clamped below "without limit", never converted out
    // of range.
    constexpr double kLongest = static_cast<double>(plat::kInfiniteWait - 1);
    double rounded = std::trunc(seconds * 1000.0 + 0.5);
    uint32_t milliseconds = rounded >= kLongest ? plat::kInfiniteWait - 1 : static_cast<uint32_t>(rounded);
    if (milliseconds == 0 && seconds > 0)
        milliseconds = 1;
    plat::sleepMilliseconds(milliseconds);
    return csysOk;
}

csysStatus csys_tlsAlloc(uint32_t* key)
{
    if (key == nullptr)
        return csysErrNullArg;
    return plat::tlsAlloc(key) ? csysOk : csysErrOsCall;
}

csysStatus csys_tlsFree(uint32_t key) { return plat::tlsFree(key) ? csysOk : csysErrOsCall; }

csysStatus csys_tlsGet(uint32_t key, void** value)
{
    if (value == nullptr)
        return csysErrNullArg;
    return plat::tlsGet(key, value) ? csysOk : csysErrOsCall;
}

csysStatus csys_tlsSet(uint32_t key, void* value) { return plat::tlsSet(key, value) ? csysOk : csysErrOsCall; }

csysStatus csys_timeNow(csysTimeStamp* now)
{
    if (now == nullptr)
        return csysErrNullArg;
    *now = plat::counterNow();
    return csysOk;
}

csysStatus csys_timeZero(csysTimeStamp* stamp)
{
    if (stamp == nullptr)
        return csysErrNullArg;
    *stamp = 0;
    return csysOk;
}

csysStatus csys_timeDiff(csysTimeStamp* difference, csysTimeStamp a, csysTimeStamp b)
{
    if (difference == nullptr)
        return csysErrNullArg;
    // Wraps like the counter itself rather than overflowing.
    *difference = static_cast<csysTimeStamp>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
    return csysOk;
}
