#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <typeinfo>

#include "grabber/startup.h"
#include "modules/acqmodule.h"
#include "std/deferredinit.h"
#include "std/except/resource.h"
#include "std/except/status_testing.h"
#include "std/math/matherr.h"
#include "std/math/xfbase.h"
#include "std/pelbuf/pel_errors.h"
#include "std/threadid.h"
#include "std/timeout.h"
#include "system/csys_shutdown.h"
#include "tests/support/child_check.h"
#include "tests/support/thrown.h"

namespace {

using namespace thrown;

// Every status the facilities' throwers know (1 memory, 3 time-out, 30 pel,
// 44 transforms), statuses they do not know, statuses of facilities without
// a thrower, and statuses that are not failures (null: it returns).
const std::type_info* const kUnknown = &typeid(ccUnknownError);
const struct { uint32_t status; const std::type_info* type; } kStatuses[] = {
    {0, nullptr}, {0x7FFFFFFFu, nullptr},
    {0x80000023u, &typeid(ccBadAllocation)}, // std::bad_alloc, not a library exception
    {0x80000022u, kUnknown}, {0x80000020u, kUnknown},
    {0x80000061u, &typeid(ccTimeout::Expired)}, // exactly, not a derived class
    {0x80000062u, &typeid(ccTimeout::Cancel)}, {0x80000064u, &typeid(ccTimeout::InternalExpired)},
    {0x80000060u, kUnknown}, {0x80000063u, kUnknown},
    {0x800003C3u, &typeid(ccPel::UnboundWindow)}, {0x800003CAu, &typeid(ccPel::NonlinearXform)},
    {0x800003C9u, kUnknown},
    {0x80000582u, &typeid(ccMathError::Singular)}, {0x80000583u, &typeid(ccMathError::Singular)},
    {0x80000585u, &typeid(ccPel::NonlinearXform)}, {0x80000586u, &typeid(cc2XformDefs::NotImplemented)},
    {0x80000584u, kUnknown},
    {0x80000601u, kUnknown}, {0x80000000u, kUnknown}, {0xFFFFFFFFu, kUnknown},
};

TEST(Startup, EachStatusEndsInItsExceptionAndRepeatedStartupsRegisterOneThrowerPerFacility)
{
    ccLibraryStartup();
    ccLibraryStartup();
    for (int32_t facility : {1, 3, 30, 44})
        EXPECT_EQ(ccStatusThrowersFor(facility).size(), 1u) << facility;
    for (const auto& r : kStatuses) {
        std::wstring message;
        const std::type_info* thrown = thrownBy(st(r.status), &message);
        if (!r.type) {
            EXPECT_EQ(thrown, nullptr) << std::hex << r.status;
            continue;
        }
        EXPECT_TRUE(thrown && *thrown == *r.type) << std::hex << r.status;
        wchar_t expected[40] = L"no further information provided";
        if (r.type == kUnknown)
            swprintf(expected, 40, L"Internal error code: 0x%08X", r.status);
        else if (*r.type == typeid(ccBadAllocation))
            swprintf(expected, 40, L"bad allocation");
        EXPECT_EQ(message, expected) << std::hex << r.status;
    }
}

// Plain bytes: a string object of this executable would be destroyed before
// the library's exit handlers run.
char gExitTrace[8];

void record(char step)
{
    gExitTrace[std::strlen(gExitTrace)] = step;
}

// In a fresh process, at exit: the shut-down list, last added first, with the
// board-module registry made at load still alive for the entries added later;
// then the library's threads stop; then the system layer's lists run.
void exitInOrder()
{
    ccThreadID::start([](void*) {
        ccThreadID::current().addExitHandler([](const ccThreadID&, void*) { record('T'); }, nullptr);
        (void)ccSemaphore(0, 1).lock(HUGE_VAL);
    }, nullptr);
    ccDeferredInit::add([] { record('A'); });
    ccDeferredInit::add([] { record('B'); });
    ccDeferredInit::add([] { record(cc_UnknownModule::instance() != nullptr ? 'C' : 'c'); });
    auto last = [](void*) -> csysStatus {
        REQUIRE(std::strcmp(gExitTrace, "CBAT") == 0 && cc_UnknownModule::instance() == nullptr);
        childExit(0);
    };
    REQUIRE(csys_atShutdown1(last, nullptr) == csysOk);
    std::exit(3); // only the check above ends it with 0

}

TEST(Startup, AtExitTheShutDownListRunsLastAddedFirstThenTheThreadsStopThenTheSystemLayerEnds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exitInOrder(), testing::ExitedWithCode(0), "");
}

} // namespace
