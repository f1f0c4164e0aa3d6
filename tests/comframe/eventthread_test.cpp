#include "comframe/eventthread.h"
#include "comframe/eventthread_testing.h"
#include "platform/com/classes.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/com/apartment.h"
#include "platform/com/simpleobject.h"
#include "platform/sync.h"
#include "tests/support/in_time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLongEnough = 5000; // ms; only a broken build waits this long
std::atomic<bool> inBlock{false};

struct Fired {
    DISPID id;
    int32_t count, first; // first: the first argument's I4 value, -1 when empty
    uint32_t extra;
    bool operator==(const Fired& o) const
    {
        return id == o.id && count == o.count && first == o.first && extra == o.extra;
    }
};

// Records what it fires. Event kBlock holds the thread inside fire until the
// gate opens, so that later posts stay queued; event kThrow throws once recorded.
class Recorder : public ccEventThreadImpl {
public:
    static constexpr DISPID kBlock = 99, kThrow = 98;
    ~Recorder() override
    {
        Stop(); // before the members go
        plat::closeHandle(each), plat::closeHandle(gate), plat::closeHandle(entered);
    }
    HRESULT fire(DISPID id, int32_t count, VARIANT* args, uint32_t extra) override
    {
        if (id == kBlock) {
            inBlock = true;
            plat::setEvent(entered);
            EXPECT_EQ(plat::waitFor(gate, kLongEnough).status, plat::WaitStatus::Signalled);
            inBlock = false;
            return S_OK;
        }
        std::lock_guard<std::mutex> guard(lock);
        fired.push_back({id, count, args[0].vt == VT_I4 ? args[0].lVal : -1, extra});
        for (int32_t i = count; i < kMaxFireArguments; ++i)
            emptyBeyondCount = emptyBeyondCount && args[i].vt == VT_EMPTY;
        plat::releaseSemaphore(each, 1, nullptr);
        if (id == kThrow) throw std::runtime_error("the owner's own failure");
        return S_OK;
    }
    void holdThread()
    {
        ASSERT_TRUE(PostFire(kBlock, 0, nullptr, 0, false, false));
        ASSERT_EQ(plat::waitFor(entered, kLongEnough).status, plat::WaitStatus::Signalled);
    }
    std::vector<Fired> waitFired(size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            EXPECT_EQ(plat::waitFor(each, kLongEnough).status, plat::WaitStatus::Signalled);
        std::lock_guard<std::mutex> guard(lock);
        return fired;
    }

    plat::Handle entered = plat::createEvent(true, false), gate = plat::createEvent(true, false);
    plat::Handle each = plat::createSemaphore(0, 1000);
    std::mutex lock;
    std::vector<Fired> fired;
    bool emptyBeyondCount = true;
};

TEST(EventThread, OrderAndCoalescing)
{
    struct Post {
        DISPID id;
        int32_t value; // -1: no argument
        uint32_t extra;
        bool coalesce, queued;
    };
    struct Case {
        const char* name;
        std::vector<Post> posts;
        std::vector<Fired> fired;
    };
    const Case cases[] = {
        {"arrival order", {{1, 10, 2, false, true}, {1, 11, 2, false, true}, {3, -1, 0, false, true}},
         {{1, 1, 10, 2}, {1, 1, 11, 2}, {3, 0, -1, 0}}},
        {"coalesced in place", {{1, 10, 0, false, true}, {2, 20, 0, false, true}, {1, 11, 0, true, false}},
         {{1, 1, 11, 0}, {2, 1, 20, 0}}},
        {"only the newest match", {{1, 10, 0, false, true}, {1, 11, 0, false, true}, {1, 12, 0, true, false}},
         {{1, 1, 10, 0}, {1, 1, 12, 0}}},
        {"another extra word appends", {{1, 10, 0, false, true}, {1, 11, 2, true, true}}, {{1, 1, 10, 0}, {1, 1, 11, 2}}},
        {"a fire that throws stops nothing", {{Recorder::kThrow, 5, 0, false, true}, {1, 10, 0, false, true}},
         {{Recorder::kThrow, 1, 5, 0}, {1, 1, 10, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder source;
        source.holdThread();
        for (const Post& p : c.posts) {
            VARIANT v;
            v.vt = VT_I4, v.lVal = p.value;
            EXPECT_EQ(source.PostFire(p.id, p.value < 0 ? 0 : 1, &v, p.extra, p.coalesce, false), p.queued);
        }
        plat::setEvent(source.gate);
        EXPECT_EQ(source.waitFired(c.fired.size()), c.fired);
        EXPECT_TRUE(source.emptyBeyondCount);
        EXPECT_EQ(plat::waitFor(source.each, 0).status, plat::WaitStatus::TimedOut); // no spare wake-up
    }
    Recorder source;
    EXPECT_THROW(source.PostFire(1, 4, nullptr, 0, false, false), std::invalid_argument);
    EXPECT_THROW(source.PostFire(1, 1, nullptr, 0, false, false), std::invalid_argument);
}

// Once stopped, for good: nothing is queued, started or made, also when
// Stop came before the thread ever ran.
TEST(EventThread, AfterStopEveryRequestIsRefused)
{
    for (const bool started : {false, true}) {
        SCOPED_TRACE(started ? "stopped while running" : "stopped before the start");
        Recorder source;
        if (started) {
            ASSERT_EQ(source.Start(false), S_OK);
        }
        source.Stop();
        source.Stop(); // a second Stop changes nothing
        EXPECT_EQ(source.Start(false), E_FAIL);
        EXPECT_FALSE(source.PostFire(1, 0, nullptr, 0, false, false));
        IUnknown* made = nullptr;
        EXPECT_EQ(source.CreateObjectOnThread(u"{5A1C0E11-7320-4A51-9B02-112233445566}", &made), E_FAIL);
        EXPECT_EQ(made, nullptr);
        EXPECT_FALSE(source.firing());
    }
    Recorder source;
    IUnknown* made = reinterpret_cast<IUnknown*>(&source);
    EXPECT_EQ(source.CreateObjectOnThread(nullptr, &made), E_INVALIDARG);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(source.CreateObjectOnThread(u"Qorx.Anything", nullptr), E_POINTER);
}

// A create request still queued when the source stops lets its requester
// go at once with E_FAIL, long before its wait would end.
TEST(EventThread, StopReleasesAWaitingCreateRequest)
{
    Recorder source;
    source.holdThread();
    EXPECT_TRUE(source.firing());
    HRESULT created = S_OK;
    IUnknown* made = nullptr;
    static plat::Handle queued;
    queued = plat::createEvent(true, false);
    ccEventThreadTesting::setCreateQueuedHook([] { plat::setEvent(queued); });
    std::thread requester(
        [&] { created = source.CreateObjectOnThread(u"{5A1C0E11-7320-4A51-9B02-112233445566}", &made); });
    // The request waits behind the held fire.
    ASSERT_EQ(plat::waitFor(queued, kLongEnough).status, plat::WaitStatus::Signalled);
    ccEventThreadTesting::setCreateQueuedHook(nullptr);
    std::thread stopper([&] { source.Stop(); });
    requester.join(); // while fire still holds the thread
    EXPECT_EQ(created, E_FAIL);
    EXPECT_EQ(made, nullptr);
    plat::setEvent(source.gate);
    stopper.join();
    EXPECT_FALSE(source.firing());
    plat::closeHandle(queued);
}

std::atomic<int> alive{0};

// Opens a gate when its last reference goes, and deletes itself if it was made so.
class Counted final : public IUnknown {
public:
    explicit Counted(plat::Handle g, bool deleted = false) : gate(g), deleted(deleted) { ++alive; }
    ~Counted() { --alive; }
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        *ppv = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++count; }
    ULONG Release() override
    {
        const ULONG left = --count;
        if (left == 0 && gate) plat::setEvent(gate);
        if (left == 0 && deleted) delete this;
        return left;
    }
    std::atomic<ULONG> count{0};
    plat::Handle gate;
    bool deleted;
};

TEST(EventThread, StopDropsTheQueueAndWaitsForFire)
{
    auto* source = new Recorder;
    source->holdThread();
    Counted argument(source->gate); // fire returns once the queue is dropped
    VARIANT v;
    v.vt = VT_UNKNOWN, v.punkVal = &argument;
    for (DISPID id = 1; id <= 3; ++id)
        ASSERT_TRUE(source->PostFire(id, 1, &v, 0, false, false));
    delete source;
    EXPECT_FALSE(inBlock.load());
    EXPECT_EQ(argument.count.load(), 0u);
}

// A sink drops the source's last reference inside fire: the release, its
// Stop and the deletion all happen on the event thread.
class SelfReleased : public ccEventThreadImpl {
public:
    SelfReleased(plat::Handle gate, plat::Handle gone) : gate_(gate), gone_(gone) {}
    void Release()
    {
        if (--count_ == 0) Stop(), delete this; // the final release's work, then the members go
    }
    HRESULT fire(DISPID, int32_t, VARIANT*, uint32_t) override
    {
        ++count_; // held while the sinks are called
        (void)plat::waitFor(gate_, kLongEnough);
        Release(); // the sink
        Release();
        return S_OK;
    }

private:
    ~SelfReleased() override { plat::setEvent(gone_); }
    std::atomic<ULONG> count_{1};
    plat::Handle gate_, gone_;
};

TEST(EventThread, LastReleaseInsideFire)
{
    plat::Handle gate = plat::createEvent(true, false), gone = plat::createEvent(true, false);
    auto* source = new SelfReleased(gate, gone); // the sink gets this reference
    ASSERT_TRUE(source->PostFire(1, 0, nullptr, 0, false, false));
    ASSERT_TRUE(source->PostFire(2, 0, nullptr, 0, false, false)); // dropped with the source
    plat::setEvent(gate);
    EXPECT_EQ(plat::waitFor(gone, kLongEnough).status, plat::WaitStatus::Signalled);
    plat::closeHandle(gone), plat::closeHandle(gate);
}

// Bound to the apartment that made it; notes the thread its calls run on.
class BoundSink final : public plat::com::SimpleObject<IDispatch, IID_IDispatch> {
public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        calledOn = plat::currentThreadId();
        return S_OK;
    }
    std::atomic<uint32_t> calledOn{0};
};

// Calls its sink, kept agile, inside each event.
class CallingSource : public ccEventThreadImpl {
public:
    explicit CallingSource(IDispatch* sink) { sink_.assign(sink, IID_IDispatch); }
    ~CallingSource() override
    {
        Stop();
        plat::closeHandle(entered);
    }
    HRESULT fire(DISPID, int32_t, VARIANT*, uint32_t) override
    {
        plat::setEvent(entered);
        IDispatch* sink = nullptr;
        EXPECT_EQ(sink_.getForCurrentThread(IID_IDispatch, reinterpret_cast<void**>(&sink)), S_OK);
        if (!sink) return E_FAIL;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        const HRESULT hr = sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        sink->Release();
        return hr;
    }
    plat::Handle entered = plat::createEvent(true, false);

private:
    ccAgileInterfacePtr sink_;
};

// The event thread calls a sink of the stopping thread's apartment inside an
// event: Stop serves that call while it waits, so neither waits for the other.
TEST(EventThread, StopServesTheCallsTheEventThreadMakesToItsThread)
{
    const auto client = [] {
        (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        auto* sink = new BoundSink;
        auto* source = new CallingSource(sink);
        ASSERT_TRUE(source->PostFire(1, 0, nullptr, 0, false, false));
        ASSERT_EQ(plat::waitFor(source->entered, plat::kInfiniteWait).status, plat::WaitStatus::Signalled);
        delete source; // its call to the sink comes to this thread meanwhile
        EXPECT_EQ(sink->calledOn.load(), plat::currentThreadId());
        sink->Release();
        CoUninitialize();
    };
    ASSERT_TRUE(test_support::finishedInTime({client})); // else left to the hung thread
}

// A class the event thread makes; it notes the thread, and may be held up.
const CLSID kSinkClass = {0x5a1c0e11, 0x7320, 0x4a51, {0x9b, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
std::atomic<uint32_t> madeOn{0};
plat::Handle holdUp = nullptr;

HRESULT createSink(IUnknown*, REFIID iid, void** ppv)
{
    madeOn = plat::currentThreadId();
    if (holdUp) (void)plat::waitFor(holdUp, kLongEnough);
    return (new Counted(nullptr, true))->QueryInterface(iid, ppv); // asked for IUnknown only
}

TEST(EventThread, CreatesObjectsOnItsThread)
{
    ASSERT_EQ(plat::com::registerClass({kSinkClass, &createSink, L"Qorx.EventSink.1", L"Qorx.EventSink"}), S_OK);
    Recorder source;
    IUnknown* made = nullptr;
    CLSID unknown;
    EXPECT_EQ(source.CreateObjectOnThread(u"Qorx.NoSuchSink", &made), CLSIDFromProgID(u"Qorx.NoSuchSink", &unknown));
    ASSERT_EQ(source.CreateObjectOnThread(u"{5A1C0E11-7320-4A51-9B02-112233445566}", &made), S_OK);
    EXPECT_NE(madeOn.load(), plat::currentThreadId());
    made->Release();
    EXPECT_EQ(source.CreateObjectOnThread(u"{5A1C0E11-7320-4A51-9B02-000000000000}", &made), E_FAIL);

    // An object made after its requester gave up is released, and the next
    // request gets its own.
    holdUp = plat::createEvent(true, false);
    ccEventThreadTesting::setCreateTimeout(20);
    EXPECT_EQ(source.CreateObjectOnThread(u"Qorx.EventSink", &made), RPC_S_CALLPENDING);
    EXPECT_EQ(made, nullptr);
    plat::setEvent(holdUp);
    ccEventThreadTesting::setCreateTimeout(0);
    ASSERT_EQ(source.CreateObjectOnThread(u"Qorx.EventSink", &made), S_OK);
    EXPECT_EQ(alive.load(), 1); // the late one is gone already: requests are served in order
    made->Release();
    plat::closeHandle(holdUp), holdUp = nullptr;
    EXPECT_EQ(plat::com::unregisterClass(kSinkClass), S_OK);
}

} // namespace
