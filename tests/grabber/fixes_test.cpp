// Faults mended in the COM objects: each case fails on the former behaviour.
// The FIFO's are with its own tests.
#include <gtest/gtest.h>

#include "grabber/lines.h"
#include "platform/ini.h"
#include "tests/grabber/board_client.h"
#include "tests/support/sim_module.h"

namespace {

using namespace board_client;

class Fixes : public testing::Test {
protected:
    void SetUp() override { sim_module::sim().reset(); }
    void TearDown() override { ccReleaseLineCollections(); }
};

TEST_F(Fixes, BoardObjectsOfOneBoardShareTheirLineCollections)
{
    using Getter = HRESULT (IQorFrameGrabber7320::*)(IDispatch**);
    for (Getter get : {&IQorFrameGrabber7320::get_InputLines, &IQorFrameGrabber7320::get_OutputLines}) {
        Held<IDispatch> first, second;
        ASSERT_EQ((board().p->*get)(&first.p), S_OK);
        ASSERT_EQ((board().p->*get)(&second.p), S_OK);
        EXPECT_EQ(first.p, second.p);
    }
}

TEST(FixesIni, AByteOrderMarkDoesNotHideTheFirstSection)
{
    std::wstring value;
    ASSERT_TRUE(plat::profileStringInText("\xEF\xBB\xBF[QorFrameGrabber7320 #0]\r\nIOConfig=External\r\n",
                                          L"QorFrameGrabber7320 #0", L"IOConfig", &value));
    EXPECT_EQ(value, L"External");
}

} // namespace
