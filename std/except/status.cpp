#include "std/except/status.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "std/except/except.h"
#include "std/except/status_testing.h"

namespace {

struct Entry {
    int32_t facility;
    ccStatusThrower thrower;
    std::atomic<Entry*> next{nullptr};
};

// A list in registration order that only grows. An entry is complete before
// it is linked, and links are published with release stores, so readers walk
// it without a lock (and without allocating: out-of-memory statuses come
// through here) while a later start-up adds its throwers. Never destroyed:
// threads that leave during shut-down may still throw.
struct Registry {
    std::mutex adding;
    std::atomic<Entry*> first{nullptr};
    Entry* last = nullptr; // under adding
};

Registry& registry()
{
    static auto* r = new Registry;
    return *r;
}

template <class Visit>
void forEachThrower(int32_t facility, Visit visit)
{
    for (Entry* e = registry().first.load(std::memory_order_acquire); e; e = e->next.load(std::memory_order_acquire))
        if (e->facility == facility)
            visit(e->thrower);
}

} // namespace

void ccStatusThrowerRegistry::add(int32_t facility, ccStatusThrower thrower)
{
    if (!thrower)
        return;
    Registry& r = registry();
    auto* e = new Entry{facility, thrower};
    std::lock_guard<std::mutex> hold(r.adding);
    (r.last ? r.last->next : r.first).store(e, std::memory_order_release);
    r.last = e;
}

std::vector<ccStatusThrower> ccStatusThrowersFor(int32_t facility)
{
    std::vector<ccStatusThrower> out;
    forEachThrower(facility, [&](ccStatusThrower t) { out.push_back(t); });
    return out;
}

void ccThrowStatus(csysStatus status)
{
    if (status >= 0)
        return;
    forEachThrower(csysFacility(status), [&](ccStatusThrower t) { t(status); });
    throw ccUnknownError(status);
}

void ccMemoryStatusThrower(csysStatus status)
{
    if (status == csysErrNoMemory)
        throw ccBadAllocation();
}

ccCleanupGuard::~ccCleanupGuard()
{
    if (!count_ || *count_ < 0)
        return;
    csysStatus status = csysErrFail;
    // An entry that fails cannot be reported: the exception that is passing
    // already stands for the failure.
    (void)csys_cleanupRun(entries_, count_, &status);
    *count_ = -1;
}
