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

    const struct {
        uint32_t code;
        const std::type_info* type;
        const char* calls;
    } cases[] = {
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

// Facility 2002 is this test's: one thrower knows code 1 and is registered
// first; the ones registered later, while other threads throw, know nothing.
constexpr uint32_t kLateFacility = 2002;
csysStatus lateStatus(uint32_t code) { return st(0x80000000u | (kLateFacility << 5) | code); }
void lateFirstThrower(csysStatus s)
{
    if ((s & 0x1F) == 1)
        throw ccUnsupportedHW();
}
void lateQuietThrower(csysStatus) {}

TEST(StatusRegistry, RegistrationWhileOtherThreadsThrow)
{
    static bool first = false;
    if (!first) {
        first = true;
        ccStatusThrowerRegistry::add(kLateFacility, &lateFirstThrower);
    }
    const size_t before = ccStatusThrowersFor(kLateFacility).size();
    constexpr size_t kAdded = 200;

    std::atomic<bool> adding{true};
    std::atomic<int> wrong{0};
    std::vector<std::thread> throwing;
    for (int i = 0; i < 3; ++i) {
        throwing.emplace_back([&] {
            do {
                const std::type_info* known = thrownBy(lateStatus(1));
                const std::type_info* unknown = thrownBy(lateStatus(2));
                if (!known || *known != typeid(ccUnsupportedHW) || !unknown || *unknown != typeid(ccUnknownError))
                    ++wrong;
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
    const std::vector<ccStatusThrower> now = ccStatusThrowersFor(kLateFacility);
    ASSERT_EQ(now.size(), before + kAdded);
    EXPECT_EQ(now.front(), &lateFirstThrower);
    EXPECT_EQ(now.back(), &lateQuietThrower);
}

// Clean-up entries append their tag to a log.
std::string gCleaned;
csysStatus logCleanup(void* tag)
{
    gCleaned += *static_cast<const char*>(tag);
    return csysOk;
}

const uint32_t kSuccessOnly = csysCleanupCallObject | csysCleanupOnSuccess; // 17
char kTagFailure[] = "f", kTagSuccess[] = "s", kTagAlways[] = "a";

class CleanupGuard : public ::testing::Test {
protected:
    void SetUp() override
    {
        gCleaned.clear();
        ASSERT_EQ(stack.push(1, csysCleanupFailure1, kTagFailure, &logCleanup), csysOk);
        ASSERT_EQ(stack.push(2, kSuccessOnly, kTagSuccess, &logCleanup), csysOk);
        ASSERT_EQ(stack.push(3, csysCleanupAlways1, kTagAlways, &logCleanup), csysOk);
    }
    csys_cleanupStack<4> stack;
};

TEST_F(CleanupGuard, ExceptionRunsFailureEntriesOnce)
{
    try {
        ccCleanupGuard guard(stack);
        ccThrowStatus(st(0x80000601u));
        ADD_FAILURE() << "returned";
    } catch (const ccUnknownError&) {
        EXPECT_EQ(gCleaned, "af"); // while the exception passed; last pushed first, success-only skipped
    }
    EXPECT_EQ(stack.count, -1);
    {
        ccCleanupGuard again(stack.entries, &stack.count);
    }
    EXPECT_EQ(gCleaned, "af");
}

TEST_F(CleanupGuard, StackThatAlreadyRanIsLeftAlone)
{
    {
        ccCleanupGuard guard(stack);
        EXPECT_EQ(stack.finish(csysOk), csysOk); // the function's own success exit
        EXPECT_EQ(gCleaned, "as");
    }
    EXPECT_EQ(gCleaned, "as");
    EXPECT_EQ(stack.count, -1);
}

} // namespace
