// Locks, events, once-initialisation, sleeping, thread-local slots and time
// stamps of the system layer: status-returning wrappers over the platform's
// objects. Every object here is process-local and unnamed.
#pragma once
#include <cstdint>

#include "system/csys_status.h"

// A mutex or event: the platform handle (pointer-sized) and a valid flag that
// is 1 once the object was created.
struct csys_mutex {
    void* handle;
    int32_t valid;
};

struct csys_event {
    void* handle;
    int32_t valid;
};

// A critical section lives in a block that a slot (csys_criticalSection*)
// owns; a null slot value means "no section".
struct csys_criticalSection;

// Performance-counter ticks; plat::counterFrequency() gives ticks per second.
typedef int64_t csysTimeStamp;

// Event waits take milliseconds; this value waits without limit.
constexpr uint32_t csysWaitForever = 0x7FFFFFFFu;

[[nodiscard]] csysStatus csys_mutexCreate(csys_mutex* record, int32_t initiallyOwned, int32_t* owned);
[[nodiscard]] csysStatus csys_mutexLock(csys_mutex* record, int32_t* acquired);
[[nodiscard]] csysStatus csys_mutexUnlock(csys_mutex* record);

// Closes the handle held in a record's handle word and clears the word; an
// empty word is no error.
[[nodiscard]] csysStatus csys_handleClose(void** handle);

[[nodiscard]] csysStatus csys_csCreate(csys_criticalSection** slot);
[[nodiscard]] csysStatus csys_csDelete(csys_criticalSection** slot);
[[nodiscard]] csysStatus csys_csEnter(csys_criticalSection** slot, int32_t* entered);
[[nodiscard]] csysStatus csys_csLeave(csys_criticalSection** slot);

[[nodiscard]] csysStatus csys_eventCreate(csys_event* record, int32_t manualReset, int32_t initialState);
[[nodiscard]] csysStatus csys_eventWait(csys_event* record, uint32_t milliseconds, int32_t* signalled);
[[nodiscard]] csysStatus csys_eventSet(csys_event* record);

// Runs function(argument) once per flag: a non-negative result sets the flag,
// a failure leaves it clear so that the next caller tries again. The once
// lock is recursive: a once-function may itself initialise another flag, but
// must not wait for another thread's once-initialisation. After the final
// shut-down a flag that is still clear gives csysErrShutDown.
[[nodiscard]] csysStatus csys_once(csysStatus (*function)(void*), void* argument, int32_t* flag);

[[nodiscard]] csysStatus csys_sleep(double seconds);

[[nodiscard]] csysStatus csys_tlsAlloc(uint32_t* key);
[[nodiscard]] csysStatus csys_tlsFree(uint32_t key);
[[nodiscard]] csysStatus csys_tlsGet(uint32_t key, void** value);
[[nodiscard]] csysStatus csys_tlsSet(uint32_t key, void* value);

[[nodiscard]] csysStatus csys_timeNow(csysTimeStamp* now);
[[nodiscard]] csysStatus csys_timeZero(csysTimeStamp* stamp);
[[nodiscard]] csysStatus csys_timeDiff(csysTimeStamp* difference, csysTimeStamp a, csysTimeStamp b);
