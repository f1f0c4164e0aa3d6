#include "std/except/status.h"

#include <map>
#include <vector>

#include "std/except/except.h"
#include "std/except/status_testing.h"

namespace {

// Never destroyed: threads that leave during shut-down may still throw.
std::multimap<int32_t, ccStatusThrower>& registry()
{
    static auto* r = new std::multimap<int32_t, ccStatusThrower>;
    return *r;
}

} // namespace

void ccStatusThrowerRegistry::add(int32_t facility, ccStatusThrower thrower)
{
    if (thrower)
        registry().emplace(facility, thrower); // equal keys keep insertion order
}

std::vector<ccStatusThrower> ccStatusThrowersFor(int32_t facility)
{
    std::vector<ccStatusThrower> out;
    auto range = registry().equal_range(facility);
    for (auto it = range.first; it != range.second; ++it)
        out.push_back(it->second);
    return out;
}

void ccThrowStatus(csysStatus status)
{
    if (status >= 0)
        return;
    auto range = registry().equal_range(csysFacility(status));
    for (auto it = range.first; it != range.second; ++it)
        it->second(status);
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
    csys_cleanupRun(entries_, count_, &status);
    *count_ = -1;
}
