#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cwchar>
#include <new>
#include <string>
#include <typeinfo>

#include "grabber/startup.h"
#include "std/except/except.h"
#include "std/except/status.h"
#include "std/except/status_testing.h"
#include "std/timeout.h"
#include "tests/support/thrown.h"

namespace {

using namespace thrown;

class StatusThrow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ccLibraryStartup(); }
};

TEST_F(StatusThrow, StartupIsIdempotent)
{
    ccLibraryStartup();
    for (int32_t facility : {1, 3, 30, 44})
        EXPECT_EQ(ccStatusThrowersFor(facility).size(), 1u) << facility;
}

TEST_F(StatusThrow, NonNegativeStatusesReturn)
{
    EXPECT_EQ(thrownBy(0), nullptr);
    EXPECT_EQ(thrownBy(1), nullptr);
    EXPECT_EQ(thrownBy(INT32_MAX), nullptr);
}

TEST_F(StatusThrow, OutOfMemoryIsStandardBadAlloc)
{
    try {
        ccThrowStatus(st(0x80000023u));
        ADD_FAILURE() << "returned";
    } catch (const ccException&) {
        ADD_FAILURE() << "a library exception, not std::bad_alloc";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
}

TEST_F(StatusThrow, CancelIsCaughtByExpiredHandler)
{
    try {
        ccThrowStatus(st(0x80000062u));
        ADD_FAILURE() << "returned";
    } catch (const ccTimeout::Expired& e) {
        EXPECT_TRUE(typeid(e) == typeid(ccTimeout::Cancel));
    }
}

const struct {
    uint32_t status;
    const std::type_info* type;
} kKnown[] = {
    {0x80000023u, &typeid(ccBadAllocation)},
    {0x80000061u, &typeid(ccTimeout::Expired)}, // exactly, not a derived class
    {0x80000062u, &typeid(ccTimeout::Cancel)},
    {0x80000064u, &typeid(ccTimeout::InternalExpired)},
};

// Unknown to their facility's thrower (1, 3) or in facilities without one.
const uint32_t kUnknown[] = {0x80000022u, 0x80000020u, 0x80000060u, 0x80000063u, 0x80000601u,
                             0x80000002u, 0x80000000u, 0x800000C2u, 0x80000584u, 0xFFFFFFFFu};

TEST_F(StatusThrow, EachStatusEndsInItsException)
{
    for (const auto& r : kKnown) {
        const std::type_info* thrown = thrownBy(st(r.status));
        EXPECT_TRUE(thrown && *thrown == *r.type) << std::hex << r.status;
    }
    for (uint32_t status : kUnknown) {
        std::wstring message;
        const std::type_info* thrown = thrownBy(st(status), &message);
        EXPECT_TRUE(thrown && *thrown == typeid(ccUnknownError)) << std::hex << status;
        wchar_t expected[40];
        swprintf(expected, 40, L"Internal error code: 0x%08X", status);
        EXPECT_EQ(message, expected);
    }
}

} // namespace
