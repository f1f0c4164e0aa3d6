#include "acq/acqinfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A new record is zero. The module message is taken only from a successful
// call, and never from past the module's buffer.
TEST(AcquireInfo, ANewRecordIsZeroAndTakesTheModuleMessageWithinItsBuffer)
{
    const ccAcqResult result;
    const ccAcquireInfo& a = result.info;
    EXPECT_TRUE(a.ticket == 0 && a.triggerNumber == 0 && a.failure.flags == 0 && a.failure.detail == 0 &&
                a.failure.message.empty() && a.extra[0] == 0 && a.extra[1] == 0 && !result.image.rawPointer());
    const std::u16string full(ccAcquireInfo::kModuleMessageUnits, u'x');
    const struct { int32_t status; std::u16string units; uint32_t length; std::wstring message; } rows[] = {
        {0, u"abc", 0, L""}, {5, u"abc", 3, L""}, {0, u"abcdef", 3, L"abc"},
        {0, std::u16string(u"ab\0cd", 5), 5, L"ab"},
        {0, full, 0xFFFFFFFFu, std::wstring(full.size(), L'x')},
    };
    for (const auto& r : rows) {
        // The module's buffer, exactly its size, so that reading past it is caught.
        std::vector<char16_t> buffer(r.units.begin(), r.units.end());
        buffer.resize(ccAcquireInfo::kModuleMessageUnits);
        ccAcquireInfo info;
        info.failure.message = L"old";
        info.takeModuleMessage(r.status, buffer.data(), r.length);
        EXPECT_EQ(info.failure.message, r.message) << r.length;
    }
}

} // namespace
