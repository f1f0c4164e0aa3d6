#include "std/startup.h"

#include <mutex>

#include "std/except/status.h"
#include "std/timeout.h"

namespace {

void registerStatusThrowers()
{
    ccStatusThrowerRegistry::add(1, &ccMemoryStatusThrower);
    ccStatusThrowerRegistry::add(3, &ccTimeoutStatusThrower);
}

} // namespace

void ccLibraryStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccCounterFrequency(); // reads the counter frequency and calibrates
        registerStatusThrowers();
    });
}
