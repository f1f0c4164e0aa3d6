#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <type_traits>

#include "modules/accelerator.h"
#include "modules/board.h"
#include "modules/startup.h"
#include "std/except/archutil.h"
#include "tests/std/except/archive_support.h"
#include "tests/std/except/archutil_support.h"

// Codes, names, registration and archiving of every module error are in the
// catalogue of tests/grabber; here are the fields they carry.
namespace {

using namespace archive_support;
using archutil_support::classBlock;
using archutil_support::le;
using archutil_support::reference;

// The proxies reach pels through an accelerator as through any communicator.
static_assert(std::is_base_of<ccCommunicator, ccAccelerator>::value, "an accelerator is a communicator");

TEST(ModuleErrorText, MessageThenLastErrorWhenNotZero)
{
    const struct { const wchar_t* message; uint32_t lastError; const wchar_t* printed; } kCases[] = {
        {nullptr, 0, L"no further information provided"},
        {L"", 0, L"no further information provided"},
        {L"Lost", 0, L"Lost"},
        {nullptr, 5, L" : LastError = 5"},
        {L"Lost", 0xFFFFFFFFu, L"Lost : LastError = 4294967295"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ccBoard::NotSupported(c.message, c.lastError).message(), c.printed);
        EXPECT_EQ(ccAccelerator::BadFile(c.message, c.lastError).message(), c.printed);
    }
}

// A board time-out as the driver module sends it: "Lost", last error 5.
// Reference record and class block as the object-table tests spell them out;
// then the four version bytes, the message and the last error.
const Bytes kTimeoutType = {0x00, 0x00, 0x10, 0x22, 0xB4, 0x34, 0x71, 0x40, 0x32, 0x43, 0x35, 0x69,
                            0x69, 0x25, 0x3A, 0x3E, 0x36, 0x40, 0x46, 0x45, 0x22, 0x00, 0x00}; // "ccBoard::Timeout"
const Bytes kSentTimeout = cat({{0x02, 0x01}, reference(1, 1), classBlock(1, kTimeoutType), {0x00, 0x00, 0x00, 0x00},
                                {0x04, 0xFF, 0xFE, 'L', 0, 'o', 0, 's', 0, 't', 0, 0xFF, 0xFE}, le(5, 4)});

TEST(SentModuleError, BoardTimeoutTravelsWithMessageAndLastError)
{
    ccModulesStartup();
    ccBoard::Timeout sent(L"Lost", 5u);
    ccPersistent* p = nullptr;
    EXPECT_EQ(storeAll(kLittle, false, [&](ccArchive& ar) { archivePointer(ar, &sent, p); }), kSentTimeout);
    Loader l(kSentTimeout);
    p = nullptr;
    archivePointer(l.ar(), nullptr, p);
    std::unique_ptr<ccBoard::Timeout> loaded(dynamic_cast<ccBoard::Timeout*>(p));
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->text(), L"Lost");
    EXPECT_EQ(loaded->lastError(), 5u);
}

} // namespace
