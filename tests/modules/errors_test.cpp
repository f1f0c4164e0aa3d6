#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <type_traits>

#include "modules/accelerator.h"
#include "modules/board.h"
#include "modules/startup.h"
#include "std/except/archutil.h"
#include "tests/std/except/archive_support.h"

// Codes, names, registration and archiving of every module error are in the
// catalogue of tests/grabber; here are the fields they carry.
namespace {

using namespace archive_support;

// The proxies reach pels through an accelerator as through any communicator.
static_assert(std::is_base_of<ccCommunicator, ccAccelerator>::value, "an accelerator is a communicator");

TEST(ModuleErrorText, MessageThenLastErrorWhenNotZero)
{
    const struct {
        const wchar_t* message;
        uint32_t lastError;
        const wchar_t* printed;
    } kCases[] = {
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
const Bytes kSentTimeout = {
    0x02, 0x01,                                                 // header
    0x4F, 0xE5, 0x70, 0x54, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, // reference record: number 1, kind 1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,             //   positions A and B
    0x6F, 0x8B, 0x68, 0x44, 0x00, 0x01, 0x00, 0x00, 0x00,       // class block: link block, number 1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00,                                           //   size form
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //   size, position
    0x00, 0x00, 0x10, 0x22, 0xB4, 0x34, 0x71, 0x40, 0x32, 0x43, 0x35, 0x69, // type record "ccBoard::Timeout"
    0x69, 0x25, 0x3A, 0x3E, 0x36, 0x40, 0x46, 0x45, 0x22, 0x00, 0x00,       //
    0x00, 0x00, 0x00, 0x00, // the four levels
    0x04, 0xFF, 0xFE, 'L', 0, 'o', 0, 's', 0, 't', 0, 0xFF, 0xFE, 0x05, 0x00, 0x00, 0x00, // message, last error
};

TEST(SentModuleError, BoardTimeoutTravelsWithMessageAndLastError)
{
    ccModulesStartup();
    ccBoard::Timeout sent(L"Lost", 5u);
    EXPECT_EQ(storeAll(kLittle, false,
                       [&](ccArchive& ar) {
                           ccPersistent* unused = nullptr;
                           archivePointer(ar, &sent, unused);
                       }),
              kSentTimeout);
    Loader l(kSentTimeout);
    ccPersistent* p = nullptr;
    archivePointer(l.ar(), nullptr, p);
    std::unique_ptr<ccBoard::Timeout> loaded(dynamic_cast<ccBoard::Timeout*>(p));
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->text(), L"Lost");
    EXPECT_EQ(loaded->lastError(), 5u);
}

} // namespace
