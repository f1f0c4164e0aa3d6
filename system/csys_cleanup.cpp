#include "system/csys_cleanup.h"

namespace {

// Calls one entry if its flags hold the mask; reports whether it called.
bool runEntry(csys_cleanupEntry& e, uint32_t mask, csysStatus* result)
{
    bool called = false;
    if ((e.flags & mask) && e.function) {
        switch (e.flags & csysCleanupKindMask) {
        case csysCleanupCallObject:
        case csysCleanupCallObject2:
            *result = e.function(e.object);
            called = true;
            break;
        case csysCleanupCallAddress:
            *result = e.function(&e.object);
            called = true;
            break;
        case csysCleanupCallNone:
            *result = reinterpret_cast<csys_cleanupFunction0>(reinterpret_cast<void (*)()>(e.function))();
            called = true;
            break;
        default:
            break;
        }
    }
    e.flags = 0;
    return called;
}

uint32_t maskFor(csysStatus status) { return status < 0 ? csysCleanupOnFailure : csysCleanupOnSuccess; }

} // namespace

csysStatus csys_cleanupRun(csys_cleanupEntry* entries, int32_t* count, csysStatus* status)
{
    if (!count || !status)
        return csysErrNullArg;
    int32_t n = *count;
    *count = -1;
    const uint32_t mask = maskFor(*status);
    csysStatus last = csysOk;
    bool anyCalled = false;
    for (int32_t i = n - 1; i >= 0 && entries; --i) {
        csysStatus r = csysOk;
        if (runEntry(entries[i], mask, &r)) {
            anyCalled = true;
            last = r;
            if (r < 0)
                break; // entries below a failing one are not run
        }
    }
    if (*status >= 0)
        *status = anyCalled ? last : csysOk;
    return last;
}

csysStatus csys_cleanupRemove(csys_cleanupEntry* entries, int32_t* count, csysStatus* status, int32_t key,
                              int32_t run)
{
    if (!entries || !count || !status)
        return csysErrNullArg;
    int32_t n = *count;
    int32_t found = -1;
    for (int32_t i = n - 1; i >= 0; --i) {
        if (entries[i].key == key) {
            found = i;
            break;
        }
    }
    if (found < 0)
        return csysOk;
    csysStatus result = csysOk;
    if (run) {
        if (runEntry(entries[found], maskFor(*status), &result) && *status >= 0)
            *status = result;
    }
    for (int32_t i = found; i + 1 < n; ++i)
        entries[i] = entries[i + 1];
    entries[n - 1].key = -1;
    entries[n - 1].flags = 0;
    *count = n - 1;
    return result;
}
