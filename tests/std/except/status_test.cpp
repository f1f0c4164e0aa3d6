#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <typeinfo>

#include "std/except/except.h"
#include "std/except/status.h"
#include "std/except/status_testing.h"
#include "system/csys_cleanup.h"
#include "tests/support/thrown.h"

namespace {

using namespace thrown;

// Facilities 2000 and 2002 belong to no area.
csysStatus testStatus(uint32_t facility, uint32_t code) { return st(0x80000000u | (facility << 5) | code); }

// The throwers log the order of calls.
std::string gCalls;

TEST(StatusRegistry, ThrowersOfOneFacilityRunInRegistrationOrder)
{
    ccStatusThrowerRegistry::add(2000, [](csysStatus s) {
        gCalls += 'A';
        if ((s & 0x1F) == 1)
            throw ccInvariantFailure();
    });
    ccStatusThrowerRegistry::add(2000, nullptr); // ignored
    ccStatusThrowerRegistry::add(2000, [](csysStatus s) {
        gCalls += 'B';
        if ((s & 0x1F) <= 2)
            throw ccUnsupportedHW();
    });
    const struct { uint32_t code; const std::type_info* type; const char* calls; } cases[] = {
        {1, &typeid(ccInvariantFailure), "A"}, // both know it: the first wins
        {2, &typeid(ccUnsupportedHW), "AB"},   // the first returns, the second throws
        {3, &typeid(ccUnknownError), "AB"},    // neither knows it
    };
    for (const auto& c : cases) {
        gCalls.clear();
        const std::type_info* thrown = thrownBy(testStatus(2000, c.code));
        EXPECT_TRUE(thrown && *thrown == *c.type) << "code " << c.code;
        EXPECT_EQ(gCalls, c.calls) << "code " << c.code;
    }
}

// Throwers that know nothing, registered while other threads throw, so that
// every throw walks the whole list as it grows.
void quietThrower(csysStatus) {}

TEST(StatusRegistry, RegistrationWhileOtherThreadsThrow)
{
    std::atomic<bool> adding{true};
    std::atomic<int> wrong{0};
    auto throwing = [&] {
        do {
            const std::type_info* thrown = thrownBy(testStatus(2002, 2));
            wrong += !thrown || *thrown != typeid(ccUnknownError);
        } while (adding);
    };
    std::thread reader(throwing);
    for (size_t i = 0; i < 200; ++i) {
        ccStatusThrowerRegistry::add(2002, &quietThrower);
        std::this_thread::yield();
    }
    adding = false;
    reader.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ccStatusThrowersFor(2002).size(), 200u);
}

// Clean-up entries append their tag to a log.
std::string gCleaned;
csysStatus logCleanup(void* tag)
{
    gCleaned += *static_cast<const char*>(tag);
    return csysOk;
}

// A failure entry, a success-only one and an always one, pushed in that
// order; they run last pushed first.
TEST(CleanupGuard, ExceptionRunsFailureEntriesOnceAndAStackThatRanIsLeftAlone)
{
    const uint32_t flags[] = {csysCleanupFailure1, csysCleanupCallObject | csysCleanupOnSuccess, csysCleanupAlways1};
    static char tags[] = "fsa";
    for (bool failing : {true, false}) {
        gCleaned.clear();
        csys_cleanupStack<4> stack;
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(stack.push(i + 1, flags[i], &tags[i], &logCleanup), csysOk);
        try {
            ccCleanupGuard guard(stack);
            if (failing)
                ccThrowStatus(st(0x80000601u));
            EXPECT_EQ(stack.finish(csysOk), csysOk); // the function's own success exit
        } catch (const ccUnknownError&) {
        }
        EXPECT_EQ(stack.count, -1);
        {
            ccCleanupGuard again(stack.entries, &stack.count);
        }
        EXPECT_EQ(gCleaned, failing ? "af" : "as") << failing;
    }
}

} // namespace
