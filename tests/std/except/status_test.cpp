#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "std/except/except.h"
#include "std/except/status.h"
#include "std/except/status_testing.h"
#include "system/csys_cleanup.h"
#include "tests/support/thrown.h"

namespace {

using namespace thrown;

// Facility 2000 belongs to no area; these throwers log the order of calls.
std::string gCalls;
constexpr uint32_t kTestFacility = 2000;
csysStatus testStatus(uint32_t code) { return st(0x80000000u | (kTestFacility << 5) | code); }

void firstThrower(csysStatus s)
{
    gCalls += 'A';
    if ((s & 0x1F) == 1)
        throw ccInvariantFailure();
}

void secondThrower(csysStatus s)
{
    gCalls += 'B';
    if ((s & 0x1F) <= 2)
        throw ccUnsupportedHW();
}

// Throws for anything; must never be asked about facility 2000.
void neighbourThrower(csysStatus) { throw ccBadPointer(); }

TEST(StatusRegistry, ThrowersOfOneFacilityRunInRegistrationOrder)
{
    // The registry keeps every entry, so register once per process.
    static bool registered = false;
    if (!registered) {
        registered = true;
        ccStatusThrowerRegistry::add(kTestFacility, &firstThrower);
        ccStatusThrowerRegistry::add(kTestFacility, nullptr); // ignored
        ccStatusThrowerRegistry::add(kTestFacility, &secondThrower);
        ccStatusThrowerRegistry::add(kTestFacility + 1, &neighbourThrower);
    }
    EXPECT_EQ(ccStatusThrowersFor(kTestFacility).size(), 2u);

    const struct { uint32_t code; const std::type_info* type; const char* calls; } cases[] = {
        {1, &typeid(ccInvariantFailure), "A"}, // both know it: the first wins
        {2, &typeid(ccUnsupportedHW), "AB"},   // the first returns, the second throws
        {3, &typeid(ccUnknownError), "AB"},    // neither knows it
    };
    for (const auto& c : cases) {
        gCalls.clear();
        const std::type_info* thrown = thrownBy(testStatus(c.code));
        EXPECT_TRUE(thrown && *thrown == *c.type) << "code " << c.code;
        EXPECT_EQ(gCalls, c.calls) << "code " << c.code;
    }
}

// Facility 2002 is this test's; its throwers, registered while other threads
// throw, know nothing, so every throw walks the whole list as it grows.
constexpr uint32_t kLateFacility = 2002;
void lateQuietThrower(csysStatus) {}

TEST(StatusRegistry, RegistrationWhileOtherThreadsThrow)
{
    const size_t before = ccStatusThrowersFor(kLateFacility).size();
    constexpr size_t kAdded = 200;

    std::atomic<bool> adding{true};
    std::atomic<int> wrong{0};
    std::vector<std::thread> throwing;
    for (int i = 0; i < 3; ++i) {
        throwing.emplace_back([&] {
            do {
                const std::type_info* thrown = thrownBy(st(0x80000000u | (kLateFacility << 5) | 2));
                wrong += !thrown || *thrown != typeid(ccUnknownError);
            } while (adding);
        });
    }
    for (size_t i = 0; i < kAdded; ++i) {
        ccStatusThrowerRegistry::add(kLateFacility, &lateQuietThrower);
        ccStatusThrowerRegistry::add(kLateFacility + 1, &lateQuietThrower);
        std::this_thread::yield();
    }
    adding = false;
    for (std::thread& t : throwing)
        t.join();

    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ccStatusThrowersFor(kLateFacility).size(), before + kAdded);
}

// Clean-up entries append their tag to a log.
std::string gCleaned;
csysStatus logCleanup(void* tag)
{
    gCleaned += *static_cast<const char*>(tag);
    return csysOk;
}

// A failure entry, a success-only one (flags 17) and an always one, pushed in that order.
const uint32_t kFlags[] = {csysCleanupFailure1, csysCleanupCallObject | csysCleanupOnSuccess, csysCleanupAlways1};
char kTags[] = "fsa";

TEST(CleanupGuard, ExceptionRunsFailureEntriesOnceAndAStackThatRanIsLeftAlone)
{
    for (bool failing : {true, false}) {
        SCOPED_TRACE(failing);
        gCleaned.clear();
        csys_cleanupStack<4> stack;
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(stack.push(i + 1, kFlags[i], &kTags[i], &logCleanup), csysOk);
        const std::string expected = failing ? "af" : "as"; // last pushed first
        try {
            ccCleanupGuard guard(stack);
            if (failing)
                ccThrowStatus(st(0x80000601u));
            EXPECT_FALSE(failing) << "returned";
            EXPECT_EQ(stack.finish(csysOk), csysOk); // the function's own success exit
        } catch (const ccUnknownError&) {
            EXPECT_EQ(gCleaned, expected); // while the exception passed
        }
        EXPECT_EQ(stack.count, -1);
        {
            ccCleanupGuard again(stack.entries, &stack.count);
        }
        EXPECT_EQ(gCleaned, expected);
    }
}

} // namespace
