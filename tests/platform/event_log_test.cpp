#include "platform/event_log.h"

#include <gtest/gtest.h>

#include "platform/event_log_testing.h"

namespace {

TEST(PlatEventLog, OneUtf8LineToStandardErrorWithLineBreaksAsSpacesUnlessCollected)
{
    testing::internal::CaptureStderr();
    plat::reportEvent(L"Qoralt", L"Can't load string resources: caf\u00E9ENU.dll\r\nnext");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Qoralt: Can't load string resources: caf\xC3\xA9" "ENU.dll  next\n");
    // Collected lines are kept instead of written.
    plat::collectEventLines(true);
    testing::internal::CaptureStderr();
    plat::reportEvent(L"A", L"one");
    plat::reportEvent(L"B", L"two\nlines");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    plat::collectEventLines(false);
    EXPECT_EQ(plat::takeEventLines(), (std::vector<std::wstring>{L"A: one", L"B: two lines"}));
    EXPECT_TRUE(plat::takeEventLines().empty());
}

} // namespace
