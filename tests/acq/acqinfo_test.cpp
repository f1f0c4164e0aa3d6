#include "acq/acqinfo.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

auto fields(const ccAcquireInfo& a)
{
    return std::make_tuple(a.ticket, a.triggerNumber, a.failure.flags, a.failure.detail, a.failure.message, a.extra[0],
                           a.extra[1]);
}

ccAcquireInfo filled(const std::wstring& message)
{
    ccAcquireInfo info;
    info.ticket = 1;
    info.triggerNumber = 2;
    info.failure = {0x1FE, 4, message};
    info.extra[0] = 5;
    info.extra[1] = 6;
    return info;
}

TEST(AcquireInfo, ANewRecordIsZeroAndCopiesCarryEveryFieldWhole)
{
    const auto zero = std::make_tuple(0u, 0u, 0u, 0u, std::wstring(), 0u, 0u);
    EXPECT_EQ(fields(ccAcqResult().info), zero);
    EXPECT_EQ(ccAcqResult().image.rawPointer(), nullptr);
    // Only the module transfer is limited to its buffer.
    ccAcquireInfo copy(filled(std::wstring(1000, L'm')));
    EXPECT_EQ(fields(copy), fields(filled(std::wstring(1000, L'm'))));
    copy = ccAcquireInfo();
    EXPECT_EQ(fields(copy), zero);
}

TEST(AcquireInfo, TheModuleMessageIsTakenOnlyFromASuccessfulCallAndNeverPastItsBuffer)
{
    const std::u16string full(ccAcquireInfo::kModuleMessageUnits, u'x');
    const struct { const char* name; int32_t status; std::u16string units; uint32_t length; std::wstring message; } rows[] = {
        {"no text", 0, u"abc", 0, L""},
        {"failed call", 5, u"abc", 3, L""},
        {"the length given", 0, u"abcdef", 3, L"abc"},
        {"ends at a 0 unit", 0, std::u16string(u"ab\0cd", 5), 5, L"ab"},
        {"a surrogate pair", 0, u"a\U0001F600", 3, L"a\U0001F600"},
        {"a length past the buffer", 0, full, 0xFFFFFFFFu, std::wstring(full.size(), L'x')},
        {"a pair cut by the buffer's end", 0, full.substr(1) + u"\xD83D", 300, std::wstring(255, L'x') + L"\xFFFD"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        // The module's buffer, exactly its size, so that reading past it is caught.
        std::vector<char16_t> buffer(r.units.begin(), r.units.end());
        buffer.resize(ccAcquireInfo::kModuleMessageUnits);
        ccAcquireInfo info = filled(L"old");
        info.takeModuleMessage(r.status, buffer.data(), r.length);
        EXPECT_EQ(info.failure.message, r.message);
    }
}

} // namespace
