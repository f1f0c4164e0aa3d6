#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "std/except/except.h"
#include "std/except/persist.h"
#include "tests/std/except/archive_support.h"

// Raising, codes, stored names and version bytes of every registered error
// are the error catalogue's (tests/grabber).
namespace {

using namespace archive_support;

const std::wstring kNoInfo = L"no further information provided";

// A message-carrying error; its constructors come from ccExceptionWithString.
cmDeclareException(NoteError, ccExceptionWithString, 0x1000FFF1u, "class NoteError");

TEST(ExceptionText, NumbersAndMessages)
{
    // The sign counts towards the width, the prefix does not; never cut.
    EXPECT_EQ(ccFormatDecimal(-5, 4), L"-005");
    EXPECT_EQ(ccFormatDecimal(12345, 2), L"12345");
    EXPECT_EQ(ccFormatDecimal(INT32_MIN, 12), L"-02147483648");
    EXPECT_EQ(ccFormatHex(0x1F, 3), L"0x01F");
    EXPECT_EQ(ccFormatHex(UINT64_MAX, 0), L"0xFFFFFFFFFFFFFFFF");

    const wchar_t* none = nullptr;
    EXPECT_EQ(NoteError(none).message(), kNoInfo);
    std::wostringstream os;
    os << NoteError(L"disk full");
    EXPECT_EQ(os.str(), L"disk full");
    // A status prints in hex, not sign-extended; 0 is no status.
    EXPECT_EQ(ccUnknownError(0).message(), kNoInfo);
    EXPECT_EQ(ccUnknownError(int32_t(0x80000023u)).message(), L"Internal error code: 0x80000023");
}

// The message follows the ccException level (the catalogue archives only
// empty ones).
TEST(ExceptionArchive, WithStringCarriesItsMessage)
{
    NoteError e(L"hi");
    const Bytes bytes = store(kLittle, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); });
    EXPECT_EQ(bytes, (Bytes{0x00, 0x00, 0x00, 0x00, 0x02, 0xFF, 0xFE, 'h', 0x00, 'i', 0x00, 0xFF, 0xFE}));
    NoteError back;
    Loader l(Loader::framed(bytes));
    ccArchiveObject(back, l.ar(), true);
    EXPECT_EQ(back.text(), L"hi");
}

} // namespace
