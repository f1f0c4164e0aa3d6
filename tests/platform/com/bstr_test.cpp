#include "platform/com/bstr.h"

#include <cstring>

#include <gtest/gtest.h>

namespace {

TEST(ComBstr, LengthsCountTheDataAndKeepEmbeddedNulsWithANulAfter)
{
    const char bytes[] = "a\0b\0\0\0c";
    const struct { BSTR text; UINT units, bytes; } cases[] = {
        {SysAllocString(u"abc"), 3, 6},
        {SysAllocString(u""), 0, 0},
        {SysAllocStringLen(u"a\0b", 3), 3, 6},
        {SysAllocStringLen(nullptr, 2), 2, 4},
        {SysAllocStringByteLen(bytes, 7), 3, 7},
        {SysAllocStringByteLen(bytes, 0), 0, 0},
    };
    for (const auto& c : cases) {
        ASSERT_NE(c.text, nullptr);
        EXPECT_EQ(SysStringLen(c.text), c.units);
        EXPECT_EQ(SysStringByteLen(c.text), c.bytes);
        EXPECT_EQ(reinterpret_cast<const char*>(c.text)[c.bytes], 0);
        SysFreeString(c.text);
    }
    BSTR copy = SysAllocStringByteLen(bytes, 7);
    EXPECT_EQ(std::memcmp(copy, bytes, 7), 0);
    SysFreeString(copy);
    // Null is empty and may be freed; a null source is no text.
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

TEST(ComBstr, WideTextCrossesAsUtf16)
{
    const std::wstring text = L"x\U0001F600y";
    BSTR b = plat::com::bstrFromWide(text);
    EXPECT_EQ(SysStringLen(b), 4u);
    EXPECT_EQ(plat::com::wideFromBstr(b), text);
    SysFreeString(b);
    EXPECT_EQ(plat::com::wideFromBstr(nullptr), L"");
}

} // namespace
