#include "system/csys_shutdown.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/atomic.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "system/csys_internal.h"
#include "system/csys_memory.h"
#include "system/csys_sync.h"

namespace {

using csys_detail::firstFailure;

struct ShutdownEntry {
    csys_shutdownFunction function;
    void* argument;
};

struct ForeignExitEntry {
    csys_threadHandle thread;
    csys_shutdownFunction function;
    void* argument;
};

// Lists 0 and 1 and the foreign exit entries; changed under the handler lock.
// A list that has run is closed: an entry added later would never be called.
ShutdownEntry* gLists[2];
int32_t gListCounts[2];
int32_t gListClosed[2];
ForeignExitEntry* gForeign;
int32_t gForeignCount;
int32_t gForeignPending;

// The handler lock: made at first need and never destroyed, so that a user
// that comes late at exit still finds it.
csys_criticalSection* gHandlerSection;
std::atomic<int32_t> gLockState{csys_detail::kLazyNone};

std::atomic<int32_t> gList1Done{0};
std::atomic<int32_t> gShutdownDone{0};
int32_t gList1Election = 1; // atomic

// Threads with a record, or making one. The final shut-down claims a count
// of 0 by closing it, after which no thread counts in. The request and the
// count are sequentially consistent, so that a thread counting out and the
// shut-down request always see at least one another's change.
constexpr int32_t kAttachClosed = INT32_MIN;
std::atomic<int32_t> gAttached{0};
std::atomic<int32_t> gShutdownRequested{0};

// The thread records' slot.
int32_t gSlotOnce = 0;
uint32_t gRecordKey = 0;
std::atomic<int32_t> gSlotAllocated{0};
std::atomic<int32_t> gSlotFreed{0};

void pollUntil(const std::atomic<int32_t>& flag)
{
    while (flag.load(std::memory_order_acquire) == 0)
        plat::sleepMilliseconds(5);
}

csysStatus createHandlerSection() { return csys_csCreate(&gHandlerSection); }

csysStatus lockHandlers()
{
    csysStatus status = csys_detail::lazyCreate(gLockState, &createHandlerSection);
    return status < 0 ? status : csys_csEnter(&gHandlerSection, nullptr);
}

[[nodiscard]] csysStatus unlockHandlers() { return csys_csLeave(&gHandlerSection); }

csysStatus addToList(int which, csys_shutdownFunction function, void* argument)
{
    if (function == nullptr)
        return csysErrNullArg;
    csysStatus status = lockHandlers();
    if (status < 0)
        return status;
    if (gListClosed[which] != 0) {
        status = csysErrShutDown;
    } else {
        int32_t count = gListCounts[which];
        status = csys_realloc(static_cast<int32_t>((count + 1) * sizeof(ShutdownEntry)), &gLists[which]);
        if (status >= 0) {
            gLists[which][count] = {function, argument};
            gListCounts[which] = count + 1;
        }
    }
    return firstFailure(status, unlockHandlers());
}

// Calls the entries last first, each after leaving the lock, so that an
// entry may register another (which then runs next). The list closes under
// the lock as it is found empty. Every entry runs; the status follows the
// results until the first failure, which it keeps.
csysStatus runList(int which)
{
    csysStatus status = csysOk;
    for (;;) {
        csysStatus locked = lockHandlers();
        if (locked < 0)
            return firstFailure(status, locked);
        ShutdownEntry entry = {nullptr, nullptr};
        bool found = gListCounts[which] > 0;
        if (found) {
            entry = gLists[which][gListCounts[which] - 1];
            --gListCounts[which];
        } else {
            (void)csys_free(&gLists[which]); // the slot exists: cannot fail
            gListClosed[which] = 1;
        }
        status = firstFailure(status, unlockHandlers());
        if (!found)
            return status;
        csysStatus result = entry.function(entry.argument);
        if (status >= 0)
            status = result;
    }
}

csysStatus runList1Once()
{
    if (gList1Done.load(std::memory_order_acquire) != 0)
        return csysOk;
    if (plat::atomicDecrement(&gList1Election) == 0) {
        csysStatus status = runList(1);
        gList1Done.store(1, std::memory_order_release);
        return status;
    }
    pollUntil(gList1Done);
    return csysOk;
}

// Runs once, on the caller that claims an attached count of 0: list 1 (when
// not yet run) and list 0, then frees the records' slot. A failure on list 1
// does not keep list 0 from running, and "done" is always set, so that
// nobody polls for ever. A thread still attached gives csysShutdownPending:
// the end runs when it counts out.
csysStatus finalShutdown()
{
    int32_t idle = 0;
    if (!gAttached.compare_exchange_strong(idle, kAttachClosed)) {
        if (idle != kAttachClosed)
            return csysShutdownPending;
        pollUntil(gShutdownDone);
        return csysOk;
    }
    csysStatus status = runList1Once();
    status = firstFailure(status, runList(0));
    if (gSlotAllocated.load(std::memory_order_acquire) != 0) {
        gSlotFreed.store(1, std::memory_order_release);
        status = firstFailure(status, csys_tlsFree(gRecordKey));
    }
    gShutdownDone.store(1, std::memory_order_release);
    return status;
}

csysStatus countIn()
{
    int32_t attached = gAttached.load();
    do {
        if (attached == kAttachClosed)
            return csysErrShutDown;
    } while (!gAttached.compare_exchange_weak(attached, attached + 1));
    return csysOk;
}

// The last thread out after a shut-down request runs the end.
csysStatus countOut()
{
    if (gAttached.fetch_sub(1) != 1 || gShutdownRequested.load() == 0)
        return csysOk;
    csysStatus status = finalShutdown();
    return status < 0 ? status : csysOk;
}

csysStatus allocateRecordSlot(void*)
{
    csysStatus status = csys_tlsAlloc(&gRecordKey);
    if (status >= 0)
        gSlotAllocated.store(1, std::memory_order_release);
    return status;
}

csysStatus growTable(csys_cleanupEntry** table, int32_t* capacity, int32_t newCount)
{
    if (newCount <= *capacity)
        return csysOk;
    int32_t wanted = 2 * (newCount > 5 ? newCount : 5);
    csysStatus status = csys_realloc(static_cast<int32_t>(wanted * sizeof(csys_cleanupEntry)), table);
    if (status < 0)
        return status;
    std::memset(*table + *capacity, 0, (wanted - *capacity) * sizeof(csys_cleanupEntry));
    *capacity = wanted;
    return csysOk;
}

csysStatus runTable(csys_cleanupEntry** table, int32_t* count, int32_t* capacity)
{
    csysStatus status = csysOk;
    if (*table != nullptr && *count > 0)
        (void)csys_cleanupRun(*table, count, &status); // the outcome is in status
    (void)csys_free(table);                            // the slot exists: cannot fail
    *count = 0;
    *capacity = 0;
    return status;
}

// The platform runs this on every thread that touched it, when it ends;
// nobody is left to take a failure but the log.
void detachOnThreadExit()
{
    csysStatus status = csys_threadDetach();
    if (status < 0)
        std::fprintf(stderr, "qorx7320: thread %u: detach failed with status 0x%08X\n",
                     static_cast<unsigned>(plat::currentThreadId()), static_cast<unsigned>(status));
}

// Takes out, under the handler lock, the newest foreign exit entry that
// names the thread, or, when none is left, closes the thread to new ones.
csysStatus takeForeignEntry(csys_threadObject* thread, ForeignExitEntry* taken)
{
    *taken = {nullptr, nullptr, nullptr};
    csysStatus status = lockHandlers();
    if (status < 0) {
        // Nobody can lock to register either; still, take no more.
        __atomic_store_n(&thread->foreignClosed, 1, __ATOMIC_RELEASE);
        return status;
    }
    for (int32_t i = gForeignCount - 1; i >= 0; --i) {
        ForeignExitEntry& entry = gForeign[i];
        if (entry.function == nullptr || entry.thread != thread)
            continue;
        *taken = entry; // the entry's reference moves with it
        entry = {nullptr, nullptr, nullptr};
        if (--gForeignPending == 0) {
            gForeignCount = 0;
            (void)csys_free(&gForeign); // the slot exists: cannot fail
        }
        break;
    }
    if (taken->function == nullptr)
        __atomic_store_n(&thread->foreignClosed, 1, __ATOMIC_RELEASE);
    return unlockHandlers();
}

// Calls the foreign exit entries that name the thread, newest first, each
// outside the handler lock: a handler may take other locks (a once-function
// holds the once lock while it registers on a list), and one may register
// another, which then runs next.
csysStatus runForeignEntries(csys_threadObject* thread)
{
    csysStatus status = csysOk;
    for (;;) {
        ForeignExitEntry entry;
        csysStatus taken = takeForeignEntry(thread, &entry);
        if (entry.function == nullptr)
            return firstFailure(status, taken);
        status = firstFailure(status, taken);
        status = firstFailure(status, entry.function(entry.argument));
        status = firstFailure(status, csys_threadHandleRelease(&entry.thread));
    }
}

// The calling thread's exit work. The exit table stops at its first failing
// handler, as a clean-up stack does, but the record is torn down and the
// thread object signalled whatever the handlers returned, so that a joiner
// never waits for a thread that has gone.
csysStatus threadExitWork(csys_threadRecord* record)
{
    csys_threadHandle self = nullptr;
    csysStatus status = csys_threadHandleInitCopy(&self, &record->thread);

    if (self != nullptr)
        status = firstFailure(status, runForeignEntries(self));

    status = firstFailure(status, runTable(&record->exits, &record->exitCount, &record->exitCapacity));
    status = firstFailure(status, runTable(&record->values, &record->valueCount, &record->valueCapacity));
    status = firstFailure(status, csys_threadHandleRelease(&record->thread));
    (void)csys_free(&record); // the slot exists: cannot fail
    status = firstFailure(status, csys_tlsSet(gRecordKey, nullptr));

    if (self != nullptr)
        status = firstFailure(status, csys_threadMarkExited(self));
    return firstFailure(status, csys_threadHandleRelease(&self));
}

// A new record for the calling thread, stored in the slot; the caller has
// counted the thread in.
csysStatus makeRecord(csys_threadRecord** made, const csys_threadHandle* adopt)
{
    csysStatus status = csys_once(&allocateRecordSlot, nullptr, &gSlotOnce);
    if (status < 0)
        return status;
    // Room for the two entries pushed below: no push is refused.
    csys_cleanupStack<3> cleanup;
    csys_threadRecord* record = nullptr;
    status = csys_allocZeroed(static_cast<int32_t>(sizeof(csys_threadRecord)), &record);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(0, csysCleanupFailure1, &record, [](void* slot) { return csys_free(slot); });
    status = adopt != nullptr ? csys_threadHandleInitCopy(&record->thread, adopt)
                              : csys_threadObjectCreate(&record->thread);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(1, csysCleanupFailure1, &record->thread, [](void* slot) {
        return csys_threadHandleRelease(static_cast<csys_threadHandle*>(slot));
    });
    // The record is torn down by the platform's exit hook when the thread
    // ends.
    if (!plat::addThreadExitCallback(&detachOnThreadExit, plat::kThreadExitOrderSystem) || !plat::touchThread())
        return cleanup.finish(csysErrOsCall);
    status = csys_tlsSet(gRecordKey, record);
    if (status < 0)
        return cleanup.finish(status);
    *made = record;
    return cleanup.finish(csysOk);
}

} // namespace

bool csys_shutdownDone() { return gShutdownDone.load(std::memory_order_acquire) != 0; }

csysStatus csys_atShutdown0(csys_shutdownFunction function, void* argument)
{
    return addToList(0, function, argument);
}

csysStatus csys_atShutdown1(csys_shutdownFunction function, void* argument)
{
    return addToList(1, function, argument);
}

csysStatus csys_atThreadExit(const csys_threadHandle* thread, csys_shutdownFunction function, void* argument)
{
    if (function == nullptr)
        return csysErrNullArg;
    csys_threadRecord* own = nullptr;
    csysStatus status = csys_threadRecordGet(&own, 0, nullptr);
    if (status < 0)
        return status;
    bool foreign = thread != nullptr && *thread != nullptr && (own == nullptr || own->thread != *thread);
    if (!foreign) {
        status = csys_threadRecordGet(&own, 1, nullptr);
        if (status < 0)
            return status;
        // The table is running: the thread is leaving.
        if (own->exitCount < 0)
            return csysErrThreadExited;
        int32_t count = own->exitCount;
        status = growTable(&own->exits, &own->exitCapacity, count + 1);
        if (status < 0)
            return status;
        own->exits[count] = {0, csysCleanupAlways2, argument, function};
        own->exitCount = count + 1;
        return csysOk;
    }

    status = lockHandlers();
    if (status < 0)
        return status;
    if (gListClosed[0] != 0) {
        status = csysErrShutDown;
    } else if (__atomic_load_n(&(*thread)->foreignClosed, __ATOMIC_ACQUIRE) != 0) {
        // The thread has run its foreign handlers: this one would never be.
        status = csysErrThreadExited;
    } else {
        int32_t count = gForeignCount;
        status = csys_realloc(static_cast<int32_t>((count + 1) * sizeof(ForeignExitEntry)), &gForeign);
        if (status >= 0) {
            gForeign[count] = {nullptr, function, argument};
            // Both slots exist: taking a reference cannot fail.
            (void)csys_threadHandleInitCopy(&gForeign[count].thread, thread);
            gForeignCount = count + 1;
            ++gForeignPending;
        }
    }
    return firstFailure(status, unlockHandlers());
}

csysStatus csys_threadDetach()
{
    csys_threadRecord* record = nullptr;
    csysStatus status = csys_threadRecordGet(&record, 0, nullptr);
    if (status < 0 || record == nullptr)
        return status;
    // Called from one of the thread's own exit handlers: the outer run still
    // walks the record's tables and counts the thread out.
    if (record->detaching != 0)
        return csysOk;
    record->detaching = 1;
    status = threadExitWork(record);
    return firstFailure(status, countOut());
}

// A failure of the caller's detach is returned before list 1 runs: the
// caller has counted out all the same, so the last thread to detach (this
// one, when none is left) runs both lists. A failure of list 1 is reported,
// but list 0 still runs: nobody would run it later.
csysStatus csys_shutdown()
{
    if (csys_shutdownDone())
        return csysShutdownAlreadyDone;
    gShutdownRequested.store(1);
    int32_t hasRecord = 0;
    csysStatus status = csys_threadHasRecord(&hasRecord);
    if (status >= 0 && hasRecord != 0) {
        status = csys_threadDetach();
        if (status < 0 || csys_shutdownDone())
            return status;
    }
    status = firstFailure(status, runList1Once());
    return firstFailure(status, finalShutdown());
}

csysStatus csys_threadRecordGet(csys_threadRecord** record, int32_t create, const csys_threadHandle* adopt)
{
    if (record != nullptr)
        *record = nullptr;
    bool allocated = gSlotAllocated.load(std::memory_order_acquire) != 0;
    bool freed = gSlotFreed.load(std::memory_order_acquire) != 0;
    if (create == 0 && (!allocated || freed))
        return csysOk;
    if (freed)
        return csysErrShutDown;
    void* held = nullptr;
    if (allocated) {
        csysStatus status = csys_tlsGet(gRecordKey, &held);
        // The end may free the slot under a thread that has no record.
        if (status < 0 && gSlotFreed.load(std::memory_order_acquire) != 0)
            return create != 0 ? csysErrShutDown : csysOk;
        if (status < 0)
            return status;
    }
    if (held != nullptr || create == 0) {
        if (record != nullptr)
            *record = static_cast<csys_threadRecord*>(held);
        return csysOk;
    }

    // A thread running or past its exit work would never detach a new
    // record, and the count it holds would keep the end from running.
    if (plat::threadIsExiting())
        return csysErrThreadExited;

    // Counted in before anything is made: the final shut-down, which claims
    // a count of 0, then never runs beside a record in the making.
    csysStatus status = countIn();
    if (status < 0)
        return status;
    csys_threadRecord* made = nullptr;
    status = makeRecord(&made, adopt);
    if (status < 0)
        return firstFailure(status, countOut());
    if (record != nullptr)
        *record = made;
    return status;
}

csysStatus csys_threadHasRecord(int32_t* hasRecord)
{
    if (hasRecord == nullptr)
        return csysErrNullArg;
    csys_threadRecord* record = nullptr;
    csysStatus status = csys_threadRecordGet(&record, 0, nullptr);
    *hasRecord = record != nullptr ? 1 : 0;
    return status;
}

namespace {

// The calling thread's record, made at its first use.
csysStatus currentRecord(csys_threadRecord** record)
{
    *record = nullptr;
    return csys_threadRecordGet(record, 1, nullptr);
}

} // namespace

csysStatus csys_threadGetCurrent(csys_threadHandle* thread)
{
    if (thread == nullptr)
        return csysErrNullArg;
    *thread = nullptr;
    csys_threadRecord* record;
    csysStatus status = currentRecord(&record);
    return status < 0 ? status : csys_threadHandleInitCopy(thread, &record->thread);
}

csysStatus csys_threadAssignCurrent(csys_threadHandle* thread)
{
    if (thread == nullptr)
        return csysErrNullArg;
    csys_threadRecord* record;
    csysStatus status = currentRecord(&record);
    return status < 0 ? status : csys_threadHandleAssign(thread, &record->thread);
}

csysStatus csys_threadGetCurrentObject(csys_threadObject** object)
{
    if (object == nullptr)
        return csysErrNullArg;
    *object = nullptr;
    csys_threadRecord* record;
    csysStatus status = currentRecord(&record);
    if (status < 0)
        return status;
    *object = record->thread;
    return csysOk;
}
