// Connection points and acquisition events end to end on the simulated
// board: the least event-sourcing COM object over a library FIFO, its sinks
// in other apartments, and the library callbacks its points keep installed.
#include "comframe/acqevents.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "acq/hyper/prop/analog.h"
#include "comframe/objectroot.h"
#include "modules/startup.h"
#include "platform/com/apartment.h"
#include "platform/com/message.h"
#include "tests/modules/module_fifo_fixture.h"
#include "tests/support/com_sink.h"
#include "tests/support/in_time.h"

namespace {

using sim_module::sim;

class SimFifo : public ccGreyAcqFifo {
public:
    explicit SimFifo(cc_AcqFifo* impl) : ccGreyAcqFifo(impl) {}
    ccAcqProps& acqProps() override { return props_; }
    const ccVideoFormat& videoFormat() const override { throw ccBadPointer(); }
    const ccFrameGrabber& frameGrabber() const override { throw ccBadPointer(); }
    ccAnalogAcqProps props_;
};

// Fires each event to the sinks of its kind's point, the arguments in order.
class EventFifo : public ccComObjectRoot<ccComFreeThreadModel>,
                  public ccConnectionPointContainerImpl<EventFifo>,
                  public ccEventThreadImpl,
                  public ccAcqEventSource {
public:
    BEGIN_COM_MAP(EventFifo)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
    END_COM_MAP()

    static const CLSID* classId() { return &GUID_NULL; }
    void FinalRelease() { fifo.reset(), Stop(); } // the FIFO's module threads end first
    IConnectionPoint* connectionPointAt(size_t i) // in kind order
    {
        return i == 0 ? &move : i == 1 ? static_cast<IConnectionPoint*>(&overrun) : i == 2 ? &complete : nullptr;
    }
    ccAcqFifo* libraryFifo() override { return fifo.get(); }
    HRESULT startEventThread() override { return Start(true); }
    void acquisitionEvent(uint32_t kind, const ccAcquireInfo& info) override { ccPostAcqEvent(*this, kind, info); }
    HRESULT fire(DISPID id, int32_t count, VARIANT* args, uint32_t extra) override
    {
        ccSinkList sinks;
        (extra == 0 ? move.sinks() : extra == 1 ? overrun.sinks() : complete.sinks()).takeSinks(sinks);
        VARIANT reversed[3];
        for (int32_t i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
        DISPPARAMS params{reversed, nullptr, static_cast<UINT>(count), 0};
        for (size_t i = 0; i < sinks.size(); ++i)
            sinks[i]->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        return S_OK;
    }

    std::unique_ptr<SimFifo> fifo;
    ccFGConnectionPointImpl<EventFifo, &DIID_IQorAcqMovePartEvent> move{this};
    ccFGConnectionPointImpl<EventFifo, &DIID_IQorAcqOverrunEvent> overrun{this};
    ccFGConnectionPointImpl<EventFifo, &DIID_IQorAcqCompleteEvent> complete{this};
};

// (kind, trigger number, ticket) -> how often it arrived.
struct Log {
    std::mutex lock;
    std::map<std::tuple<uint32_t, LONG, LONG>, int> seen;
    std::thread::id thread; // of the last call
};

// A sink bound to the apartment that made it: it answers no IMarshal.
class Sink : public CountedSink {
public:
    Sink(const IID& iid, uint32_t kind, Log& log) : CountedSink(iid), kind_(kind), log_(log) {}
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id != ccAcqEventId || p->cArgs != 2) return DISP_E_BADPARAMCOUNT;
        std::lock_guard<std::mutex> hold(log_.lock);
        ++log_.seen[{kind_, p->rgvarg[1].lVal, p->rgvarg[0].lVal}];
        log_.thread = std::this_thread::get_id();
        return S_OK;
    }

private:
    const uint32_t kind_;
    Log& log_;
};

const IID* const kPointIids[] = {&DIID_IQorAcqMovePartEvent, &DIID_IQorAcqOverrunEvent, &DIID_IQorAcqCompleteEvent};

class AcqEvents : public sim_module::FifoTest {
protected:
    void SetUp() override
    {
        sim().setFrameSize(16, 8);
        ASSERT_EQ(CComObject<EventFifo>::CreateInstance(&object), S_OK);
        object->AddRef();
        object->fifo = std::make_unique<SimFifo>(grabber_->newAcqFifoImpl(description_, 0));
    }
    void TearDown() override { object->Release(), FifoTest::TearDown(); }
    IConnectionPoint* point(uint32_t kind) { return object->connectionPointAt(kind); }
    // The callback the library FIFO holds for kind, as the point made it.
    ccAcqInfoCallback* installed(uint32_t kind)
    {
        const ccAcqFifo& f = *object->fifo;
        auto* callback = dynamic_cast<ccAcqEventCallback*>(
            (kind == 0 ? f.movePartCallback() : kind == 1 ? f.overrunCallback() : f.completeCallback()).rawPointer());
        return callback && callback->kind() == kind ? callback : nullptr;
    }

    CComObject<EventFifo>* object = nullptr;
    Log log;
};

// The callback is installed exactly while COM sinks or the .NET flag
// listen; a removal that removes nothing leaves it for the others.
TEST_F(AcqEvents, TheLibraryCallbackFollowsTheListeners)
{
    Sink sink(DIID_IQorAcqCompleteEvent, 2, log);
    auto& p = object->complete;
    DWORD a = 0, b = 0;
    const struct { std::function<HRESULT()> step; HRESULT hr; bool installed; } steps[] = {
        {[&] { return p.Advise(&sink, &a); }, S_OK, true},
        {[&] { return p.Advise(&sink, &b); }, S_OK, true},
        {[&] { return p.Unadvise(a); }, S_OK, true},
        {[&] { return p.Unadvise(9); }, CONNECT_E_NOCONNECTION, true}, // removes nothing
        {[&] { p.disconnectLibraryCallback(true); return S_OK; }, S_OK, true}, // no .NET listener to remove
        {[&] { p.connectLibraryCallback(true); return S_OK; }, S_OK, true},
        {[&] { return p.Unadvise(b); }, S_OK, true},
        {[&] { p.connectLibraryCallback(true); return S_OK; }, S_OK, true},
        {[&] { p.disconnectLibraryCallback(true); return S_OK; }, S_OK, false},
        {[&] { p.connectLibraryCallback(true); return S_OK; }, S_OK, true}, // .NET alone
        {[&] { p.disconnectLibraryCallback(true); return S_OK; }, S_OK, false},
    };
    ccAcqInfoCallback* first = nullptr;
    for (size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(steps[i].step(), steps[i].hr) << i;
        EXPECT_EQ(installed(2) != nullptr, steps[i].installed) << i;
        if (i == 0) first = installed(2);
        if (steps[i].installed && i < 9) {
            EXPECT_EQ(installed(2), first) << i; // never a second one
        }
    }
    EXPECT_EQ(installed(0), nullptr);
}

// Overrun callbacks need the module's overrun-callback property; a failed
// install keeps no sink.
TEST_F(AcqEvents, AnAdviseThatCannotInstallKeepsNothing)
{
    Sink overrun(DIID_IQorAcqOverrunEvent, 1, log);
    const int32_t none = 0;
    sim().setSupported(&none, 1);
    DWORD cookie = 0;
    EXPECT_EQ(point(1)->Advise(&overrun, &cookie), S_OK);
    EXPECT_EQ(installed(1), nullptr);
    EXPECT_EQ(point(1)->Unadvise(cookie), S_OK);

    sim_module::failNext(ccIidFifoPropertySupport, 3, ccBoard::Timeout(L"late", 5));
    EXPECT_TRUE(FAILED(point(1)->Advise(&overrun, &cookie)));
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(object->overrun.connectionCount(), 0u);
    EXPECT_EQ(overrun.references.load(), 0u);

    // Nor a .NET listener: the sink advised next is the only listener.
    sim().setSupported(nullptr, -1);
    sim_module::failNext(ccIidFifoPropertySupport, 3, ccBoard::Timeout(L"late", 5));
    EXPECT_ANY_THROW(object->overrun.connectLibraryCallback(true));
    ASSERT_EQ(point(1)->Advise(&overrun, &cookie), S_OK);
    EXPECT_NE(installed(1), nullptr);
    EXPECT_EQ(point(1)->Unadvise(cookie), S_OK);
    EXPECT_EQ(installed(1), nullptr);
}

// Eight threads at once, round after round: all connected, the callback is
// there; all gone, it is gone.
TEST_F(AcqEvents, ConcurrentAdviseAndUnadviseKeepTheCallbackRight)
{
    Sink sink(DIID_IQorAcqMovePartEvent, 0, log);
    DWORD cookies[8] = {};
    for (int round = 0; round < 8; ++round) {
        for (const bool advise : {true, false}) {
            std::atomic<int> waiting{8};
            std::vector<std::thread> threads;
            for (DWORD& c : cookies)
                threads.emplace_back([&, advise] {
                    for (--waiting; waiting.load() > 0;) std::this_thread::yield(); // all start together
                    EXPECT_EQ(advise ? point(0)->Advise(&sink, &c) : point(0)->Unadvise(c), S_OK);
                });
            for (std::thread& t : threads) t.join();
            ASSERT_EQ(installed(0) != nullptr, advise) << round;
        }
    }
}

// 1,000 acquisitions, some overrun, reach a sink in another apartment once
// each with ticket and trigger number, while other sinks come and go.
TEST_F(AcqEvents, EveryAcquisitionReachesASinkInAnotherApartmentOnce)
{
    constexpr LONG kAcquisitions = 1000, kSentinel = 100000;
    std::vector<std::unique_ptr<Sink>> sinks;
    for (uint32_t kind = 0; kind < 3; ++kind) sinks.push_back(std::make_unique<Sink>(*kPointIids[kind], kind, log));
    Log churnLog;
    Sink churn(DIID_IQorAcqCompleteEvent, 2, churnLog);
    std::promise<void> ready;
    std::thread client([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        DWORD cookies[3] = {};
        for (uint32_t kind = 0; kind < 3; ++kind) EXPECT_EQ(point(kind)->Advise(sinks[kind].get(), &cookies[kind]), S_OK);
        ready.set_value();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30); // a guard, not a wait
        for (bool done = false; !done && std::chrono::steady_clock::now() < deadline;) {
            MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLEVENTS, 0);
            for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
            std::lock_guard<std::mutex> hold(log.lock);
            done = log.seen.count({2, 0, kSentinel}) != 0;
        }
        for (uint32_t kind = 0; kind < 3; ++kind) EXPECT_EQ(point(kind)->Unadvise(cookies[kind]), S_OK);
        CoUninitialize();
    });
    const std::thread::id clientThread = client.get_id();
    ready.get_future().wait();
    std::atomic<bool> stop{false};
    std::thread churner([&] { // in the multithreaded apartment
        for (DWORD cookie = 0; !stop.load();) {
            EXPECT_EQ(point(2)->Advise(&churn, &cookie), S_OK);
            EXPECT_EQ(point(2)->Unadvise(cookie), S_OK);
        }
    });
    for (LONG ticket = 1; ticket <= kAcquisitions; ++ticket) {
        if (ticket % 100 == 50) sim().injectOverruns(1);
        EXPECT_TRUE(object->fifo->start(static_cast<uint32_t>(ticket)));
        bool ok = false;
        ccAcqCompleteArgs args;
        args.timeout = 30.0;
        args.outcome = &ok;
        (void)object->fifo->completeToImage(args);
        EXPECT_EQ(ok, ticket % 100 != 50) << ticket;
    }
    stop = true;
    churner.join();
    object->fifo.reset(); // its last callbacks have run
    ccAcquireInfo sentinel;
    sentinel.ticket = kSentinel;
    EXPECT_TRUE(ccPostAcqEvent(*object, ccEventThreadImpl::kEventComplete, sentinel)); // queued behind them all
    client.join();

    std::map<std::tuple<uint32_t, LONG, LONG>, int> expected{{{2, 0, kSentinel}, 1}};
    for (LONG t = 1; t <= kAcquisitions; ++t) // an overrun has no move-part event
        for (uint32_t kind : t % 100 == 50 ? std::vector<uint32_t>{1} : std::vector<uint32_t>{0, 2}) expected[{kind, t, t}] = 1;
    EXPECT_EQ(log.seen, expected);
    EXPECT_EQ(log.thread, clientThread); // called in the sink's own apartment
    for (const auto& s : sinks) EXPECT_EQ(s->references.load(), 0u);
}


// While it is asked for its event interface, has another thread call the
// point it is connected to, and notes whether that call came back in time.
class CallingBackSink : public CountedSink {
public:
    explicit CallingBackSink(IConnectionPoint* point) : CountedSink(DIID_IQorAcqCompleteEvent), point_(point) {}
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == DIID_IQorAcqCompleteEvent && !asked_.exchange(true)) {
            point_->AddRef(); // the object stays for the other thread, however long it takes
            answered = test_support::finishedInTime({[point = point_] {
                EXPECT_EQ(point->Unadvise(99), CONNECT_E_NOCONNECTION);
                point->Release();
            }});
        }
        return CountedSink::QueryInterface(iid, ppv);
    }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }

    bool answered = false;

private:
    IConnectionPoint* const point_;
    std::atomic<bool> asked_{false};
};

// Advise asks the sink for its interface before it takes any lock: a sink
// that has the point called from another thread meanwhile is not locked out.
TEST_F(AcqEvents, ASinkIsAskedForItsInterfaceBeforeThePointIsLocked)
{
    auto sink = std::make_unique<CallingBackSink>(point(2));
    DWORD cookie = 0;
    ASSERT_EQ(point(2)->Advise(sink.get(), &cookie), S_OK);
    EXPECT_TRUE(sink->answered);
    EXPECT_NE(installed(2), nullptr);
    EXPECT_EQ(point(2)->Unadvise(cookie), S_OK);
    EXPECT_EQ(sink->references.load(), 0u); // it goes with no reference left
}

} // namespace
