// Faults mended in the COM objects: each case fails on the former behaviour.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "grabber/acqfifo.h"
#include "grabber/boards.h"
#include "grabber/lines.h"
#include "comframe/agile.h"
#include "platform/com/connection.h"
#include "platform/com/errorinfo.h"
#include "platform/event_log_testing.h"
#include "platform/ini.h"
#include "tests/grabber/board_client.h"
#include "tests/support/sim_module.h"

namespace {

using namespace board_client;
using sim_module::sim;

Held<IQorAcqFifo7320> newFifo()
{
    Held<IDispatch> object;
    EXPECT_EQ(ccCreateAcqFifoObject(0, L"Sony XC75 640x480", 0, &object.p), S_OK);
    Held<IQorAcqFifo7320> fifo;
    if (object) {
        EXPECT_EQ(object->QueryInterface(IID_IQorAcqFifo7320, fifo.out()), S_OK);
    }
    return fifo;
}

bool errorObjectSet()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return false;
    info->Release();
    return true;
}

// An object index whose conversion would call it; also an agile event sink.
class Counted : public IDispatch {
public:
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        ++calls;
        *ppv = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID_IQorAcqFifoEvents && iid != IID_IQorAgileMarker)
            return E_NOINTERFACE;
        return *ppv = this, S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return ++calls, E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return ++calls, E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return ++calls, E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        ++calls;
        if (result) result->vt = VT_I4, result->lVal = 0;
        return S_OK;
    }
    int calls = 0;
};

class Fixes : public testing::Test {
protected:
    void SetUp() override { sim().reset(); }
    void TearDown() override { ccReleaseLineCollections(); }
};

// Every board object of one library board shares its line collections.
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

// Objects and no value are not numbers: nothing converts them.
TEST_F(Fixes, CollectionIndexesThatAreObjectsOrEmptyAreRefusedUnconverted)
{
    Counted object;
    IDispatch* byRef = &object;
    VARIANT cases[4] = {};
    cases[1].vt = VT_DISPATCH, cases[1].pdispVal = &object;
    cases[2].vt = VT_UNKNOWN, cases[2].punkVal = &object;
    cases[3].vt = VT_BYREF | VT_DISPATCH, cases[3].ppdispVal = &byRef;
    Held<IQorFrameGrabber7320s> boards = collection();
    for (const VARIANT& index : cases) {
        Held<IQorFrameGrabber7320> item;
        EXPECT_EQ(boards->get_Item(index, &item.p), kArchiveBadIndexType) << index.vt;
    }
    EXPECT_EQ(object.calls, 0);
}

// The interfaces the FIFO lacks are told while another thread holds its lock.
TEST_F(Fixes, TheFifoAnswersQueriesWhileItsLockIsHeld)
{
    Held<IQorAcqFifo7320> fifo = newFifo();
    ASSERT_TRUE(fifo);
    const IID* lacking = nullptr;
    for (size_t i = 0; i < 28; ++i) {
        Held<IUnknown> itf;
        if (fifo->QueryInterface(kQorAcqFifoPropertyIids[i], itf.out()) == E_NOINTERFACE) lacking = &kQorAcqFifoPropertyIids[i];
    }
    if (!lacking) GTEST_SKIP() << "the format's FIFO has every property";
    auto* object = static_cast<CQorAcqFifo7320*>(fifo.p);
    std::promise<void> held, done;
    std::thread holder([&] {
        ccThreadOwnerLockGuard guard(&object->ownerLock());
        held.set_value();
        done.get_future().wait();
    });
    held.get_future().wait();
    auto query = std::async(std::launch::async, [&] {
        void* itf = nullptr;
        return fifo->QueryInterface(*lacking, &itf);
    });
    const bool answered = query.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    done.set_value();
    holder.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(query.get(), E_NOINTERFACE);
}

// A "changed" event that cannot be queued is told in the event log.
TEST_F(Fixes, ALostChangedEventIsLogged)
{
    Counted sink;
    Held<IQorAcqFifo7320> fifo = newFifo();
    Held<IConnectionPointContainer> container;
    ASSERT_EQ(fifo->QueryInterface(IID_IConnectionPointContainer, container.out()), S_OK);
    Held<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID_IQorAcqFifoEvents, &point.p), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    static_cast<CQorAcqFifo7320*>(fifo.p)->Stop(); // no event is queued from now on
    plat::collectEventLines(true);
    EXPECT_EQ(fifo->put_Timeout(7.5), S_OK);
    const std::vector<std::wstring> lines = plat::takeEventLines();
    plat::collectEventLines(false);
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

TEST_F(Fixes, AGetWithoutItsOutSetsAnErrorObject)
{
    Held<IQorAcqFifo7320> fifo = newFifo();
    Held<IQorAcqBrightness> brightness;
    ASSERT_EQ(fifo->QueryInterface(IID_IQorAcqBrightness, brightness.out()), S_OK);
    (void)SetErrorInfo(0, nullptr);
    EXPECT_EQ(brightness->get_Brightness(nullptr), E_POINTER);
    EXPECT_TRUE(errorObjectSet());
}

TEST(FixesIni, AByteOrderMarkDoesNotHideTheFirstSection)
{
    std::wstring value;
    ASSERT_TRUE(plat::profileStringInText("\xEF\xBB\xBF[QorFrameGrabber7320 #0]\r\nIOConfig=External\r\n",
                                          L"QorFrameGrabber7320 #0", L"IOConfig", &value));
    EXPECT_EQ(value, L"External");
}

} // namespace
