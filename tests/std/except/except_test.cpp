#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <sstream>
#include <string>

#include "std/except/except.h"
#include "std/except/persist.h"
#include "tests/std/except/archive_support.h"

namespace {

using namespace archive_support;

const std::wstring kNoInfo = L"no further information provided";

// Counts the live objects of a test-only error class.
class LiveCounted : public ccException {
public:
    static int live;
    LiveCounted() { ++live; }
    LiveCounted(const LiveCounted& o) : ccPersistent(o), ccException(o) { ++live; }
    ~LiveCounted() override { --live; }
};
int LiveCounted::live = 0;

cmDeclareException(CountedError, LiveCounted, 0x1000FFF0u, "class CountedError");

TEST(ExceptionRaise, HeapObjectIsGoneWhileTheCopyIsHandled)
{
    LiveCounted::live = 0;
    auto* heap = dynamic_cast<ccException*>(CountedError::cmCreate());
    ASSERT_EQ(LiveCounted::live, 1);
    try {
        heap->raise();
        ADD_FAILURE() << "returned";
    } catch (const CountedError& e) {
        EXPECT_EQ(LiveCounted::live, 1); // only the thrown copy
        EXPECT_EQ(e.code(), 0x1000FFF0u);
    }
    EXPECT_EQ(LiveCounted::live, 0);
}

TEST(ExceptionFormat, DecimalAndHex)
{
    struct Case { int32_t value; int width; const wchar_t* text; } cases[] = {
        {-5, 4, L"-005"},   // the sign counts towards the width
        {12345, 2, L"12345"}, // never cut
        {-1, 2, L"-1"},     {-1, 3, L"-01"},
        {0, 0, L"0"},       {0, 3, L"000"},
        {42, -1, L"42"},    {INT32_MAX, 0, L"2147483647"},
        {INT32_MIN, 0, L"-2147483648"}, {INT32_MIN, 12, L"-02147483648"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ccFormatDecimal(c.value, c.width), c.text) << c.value << " width " << c.width;

    struct HexCase { uint64_t value; int width; const wchar_t* text; } hexCases[] = {
        {0x1F, 8, L"0x0000001F"}, {0x1F, 2, L"0x1F"}, {0x1F, 3, L"0x01F"}, // the prefix does not count
        {0, 0, L"0x0"},           {0xABCDEF, 0, L"0xABCDEF"},
        {static_cast<uint32_t>(int32_t(0x80000601u)), 8, L"0x80000601"}, // a status is not sign-extended
        {0x123456789ABCDEF0ull, 4, L"0x123456789ABCDEF0"},                 {UINT64_MAX, 0, L"0xFFFFFFFFFFFFFFFF"},
    };
    for (const HexCase& c : hexCases)
        EXPECT_EQ(ccFormatHex(c.value, c.width), c.text) << std::hex << c.value << " width " << std::dec << c.width;
}

// A message-carrying error; its constructors come from ccExceptionWithString.
cmDeclareException(NoteError, ccExceptionWithString, 0x1000FFF1u, "class NoteError");

TEST(ExceptionMessage, TextOrPlaceholder)
{
    const wchar_t* none = nullptr;
    for (const NoteError& e : {NoteError(), NoteError(std::wstring()), NoteError(L""), NoteError(none)})
        EXPECT_EQ(e.message(), kNoInfo);
    std::wostringstream os;
    os << NoteError(L"disk full");
    EXPECT_EQ(os.str(), L"disk full");
    // A status prints in hex; 0 is no status.
    EXPECT_EQ(ccUnknownError(0).message(), kNoInfo);
    EXPECT_EQ(ccUnknownError(int32_t(0x80000023u)).message(), L"Internal error code: 0x80000023");
    EXPECT_EQ(ccUnknownError(5).message(), L"Internal error code: 0x00000005");
    // The out form replaces what the string held.
    std::wstring out = L"stale text";
    NoteError(L"disk full").message(out, true);
    EXPECT_EQ(out, L"NoteError: disk full");
}

// The message follows the ccException level; ccUnknownError archives the
// ccException level directly, so its message does not travel (the error catalogue in tests/grabber).
TEST(ExceptionArchive, WithStringCarriesItsMessageAndNamesItsLevel)
{
    NoteError e(L"hi");
    const Bytes bytes = store(kLittle, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); });
    EXPECT_EQ(bytes, (Bytes{0x00, 0x00, 0x00, 0x00, 0x02, 0xFF, 0xFE, 'h', 0x00, 'i', 0x00, 0xFF, 0xFE}));
    NoteError back;
    Loader l(Loader::framed(bytes));
    ccArchiveObject(back, l.ar(), true);
    EXPECT_EQ(back.text(), L"hi");

    Bytes newer = bytes;
    newer[1] = 1; // the ccExceptionWithString level
    Loader m(Loader::framed(newer));
    try {
        ccArchiveObject(back, m.ar(), true);
        ADD_FAILURE() << "loaded";
    } catch (const ccArchive::UnknownVersion& v) {
        EXPECT_EQ(v.file(), L"std/except/except");
    }
}

} // namespace
