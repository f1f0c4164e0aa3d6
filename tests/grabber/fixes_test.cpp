// Faults mended in the COM objects: each case fails on the former behaviour.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "grabber/acqfifo.h"
#include "grabber/lines.h"
#include "platform/event_log_testing.h"
#include "platform/ini.h"
#include "tests/grabber/board_client.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/sim_module.h"

namespace {

using namespace board_client;

Held<IQorAcqFifo7320> newFifo()
{
    Held<IDispatch> object;
    EXPECT_EQ(ccCreateAcqFifoObject(0, L"Sony XC75 640x480", 0, &object.p), S_OK);
    Held<IQorAcqFifo7320> fifo;
    EXPECT_TRUE(object && object->QueryInterface(IID_IQorAcqFifo7320, fifo.out()) == S_OK);
    return fifo;
}

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

// An interface the FIFO lacks (Simultaneous, on the simulated board) is told
// while another thread holds its lock.
TEST_F(Fixes, TheFifoAnswersQueriesWhileItsLockIsHeld)
{
    Held<IQorAcqFifo7320> fifo = newFifo();
    ASSERT_TRUE(fifo);
    std::promise<void> held, done;
    std::thread holder([&] {
        ccThreadOwnerLockGuard guard(&static_cast<CQorAcqFifo7320*>(fifo.p)->ownerLock());
        held.set_value();
        done.get_future().wait();
    });
    held.get_future().wait();
    auto query = std::async(std::launch::async, [&] {
        void* itf = nullptr;
        return fifo->QueryInterface(IID_IQorAcqSimultaneous, &itf);
    });
    const bool answered = query.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    done.set_value();
    holder.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(query.get(), E_NOINTERFACE);
}

TEST_F(Fixes, ALostChangedEventIsLogged)
{
    ccTestSink sink(DIID_IQorAcqFifoEvents);
    Held<IQorAcqFifo7320> fifo = newFifo();
    DWORD cookie = 0;
    Held<IConnectionPoint> point = ccTestAdvise(fifo.p, sink, &cookie);
    static_cast<CQorAcqFifo7320*>(fifo.p)->Stop(); // no event is queued from now on
    plat::collectEventLines(true);
    EXPECT_EQ(fifo->put_Timeout(7.5), S_OK);
    EXPECT_EQ(plat::takeEventLines().size(), 1u);
    plat::collectEventLines(false);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

TEST_F(Fixes, AGetWithoutItsOutSetsAnErrorObject)
{
    Held<IQorAcqBrightness> brightness;
    ASSERT_EQ(newFifo()->QueryInterface(IID_IQorAcqBrightness, brightness.out()), S_OK);
    (void)SetErrorInfo(0, nullptr);
    EXPECT_EQ(brightness->get_Brightness(nullptr), E_POINTER);
    EXPECT_FALSE(ccTestErrorText().empty());
}

TEST(FixesIni, AByteOrderMarkDoesNotHideTheFirstSection)
{
    std::wstring value;
    ASSERT_TRUE(plat::profileStringInText("\xEF\xBB\xBF[QorFrameGrabber7320 #0]\r\nIOConfig=External\r\n",
                                          L"QorFrameGrabber7320 #0", L"IOConfig", &value));
    EXPECT_EQ(value, L"External");
}

} // namespace
