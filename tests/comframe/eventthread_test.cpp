#include "comframe/eventthread.h"
#include "comframe/eventthread_testing.h"
#include "platform/com/apartment.h"
#include "platform/com/classes.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace {

constexpr uint32_t kLongEnough = 5000; // ms; only a broken build waits this long

struct Fired {
    DISPID id;
    int32_t count;
    int32_t first; // the first argument's I4 value, -1 when empty
    uint32_t extra;
    bool operator==(const Fired& o) const
    {
        return id == o.id && count == o.count && first == o.first && extra == o.extra;
    }
};

// An event source that records what it fires. Event kBlock holds the thread
// inside fire until the gate opens, so that later posts stay queued.
class Recorder : public ccEventThreadImpl {
public:
    static constexpr DISPID kBlock = 99;

    Recorder()
        : entered(plat::createEvent(true, false))
        , gate(plat::createEvent(true, false))
        , each(plat::createSemaphore(0, 1000))
    {
    }
    ~Recorder() override
    {
        Stop(); // before the members go
        plat::closeHandle(each), plat::closeHandle(gate), plat::closeHandle(entered);
    }

    HRESULT fire(DISPID id, int32_t count, VARIANT* args, uint32_t extra) override
    {
        if (id == kBlock) {
            plat::setEvent(entered);
            (void)plat::waitFor(gate, kLongEnough);
            return S_OK;
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            fired.push_back({id, count, args[0].vt == VT_I4 ? args[0].lVal : -1, extra});
            for (int32_t i = count; i < kMaxFireArguments; ++i)
                emptyBeyondCount = emptyBeyondCount && args[i].vt == VT_EMPTY;
        }
        plat::releaseSemaphore(each, 1, nullptr);
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

    plat::Handle entered, gate, each;
    std::mutex lock;
    std::vector<Fired> fired;
    bool emptyBeyondCount = true;
};

struct Post {
    DISPID id;
    int32_t value; // -1: no argument
    uint32_t extra;
    bool coalesce;
    bool queued; // PostFire's result
};

TEST(EventThread, OrderAndCoalescing)
{
    struct Case {
        const char* name;
        std::vector<Post> posts;
        std::vector<Fired> fired;
    };
    const Case cases[] = {
        {"arrival order", {{1, 10, 2, false, true}, {1, 11, 2, false, true}, {3, -1, 0, false, true}},
         {{1, 1, 10, 2}, {1, 1, 11, 2}, {3, 0, -1, 0}}},
        {"coalesced into the queued request", {{1, 10, 0, false, true}, {2, 20, 0, false, true}, {1, 11, 0, true, false}},
         {{1, 1, 11, 0}, {2, 1, 20, 0}}},
        {"only the newest match", {{1, 10, 0, false, true}, {1, 11, 0, false, true}, {1, 12, 0, true, false}},
         {{1, 1, 10, 0}, {1, 1, 12, 0}}},
        {"another extra word appends", {{1, 10, 0, false, true}, {1, 11, 2, true, true}},
         {{1, 1, 10, 0}, {1, 1, 11, 2}}},
        {"nothing queued to coalesce with", {{1, 10, 0, true, true}}, {{1, 1, 10, 0}}},
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
        // No wake-up was left over by a coalesced post.
        EXPECT_EQ(plat::waitFor(source.each, 0).status, plat::WaitStatus::TimedOut);
    }
}

TEST(EventThread, BadArgumentCountIsRefused)
{
    Recorder source;
    VARIANT v[4] = {};
    EXPECT_THROW(source.PostFire(1, 4, v, 0, false, false), std::invalid_argument);
    EXPECT_THROW(source.PostFire(1, -1, v, 0, false, false), std::invalid_argument);
    EXPECT_THROW(source.PostFire(1, 1, nullptr, 0, false, false), std::invalid_argument);
}

// Releasing one reference of the queued argument tells the test that Stop
// has dropped the queue.
class Counted : public IUnknown {
public:
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        *ppv = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++count; }
    ULONG Release() override
    {
        const ULONG left = --count;
        if (left == 0) plat::setEvent(released);
        return left;
    }
    std::atomic<ULONG> count{0};
    plat::Handle released = plat::createEvent(true, false);
};

TEST(EventThread, StopWaitsForFireAndDropsTheQueue)
{
    Counted argument;
    std::atomic<bool> inFire{false};
    class Source : public Recorder {
    public:
        Source(Counted& a, std::atomic<bool>& f)
            : argument(a)
            , inFire(f)
        {
        }
        ~Source() override { Stop(); }
        HRESULT fire(DISPID id, int32_t count, VARIANT* args, uint32_t extra) override
        {
            if (id != kBlock) return Recorder::fire(id, count, args, extra);
            inFire = true;
            plat::setEvent(entered);
            // Open only once the queued requests have been dropped, while
            // the destructor's Stop waits for this fire to return.
            EXPECT_EQ(plat::waitFor(argument.released, kLongEnough).status, plat::WaitStatus::Signalled);
            inFire = false;
            return S_OK;
        }
        Counted& argument;
        std::atomic<bool>& inFire;
    };
    auto* source = new Source(argument, inFire);
    source->holdThread();
    VARIANT v;
    v.vt = VT_UNKNOWN, v.punkVal = &argument;
    for (DISPID id = 1; id <= 3; ++id)
        ASSERT_TRUE(source->PostFire(id, 1, &v, 0, false, false));
    ASSERT_GT(argument.count.load(), 0u);
    delete source;
    EXPECT_FALSE(inFire.load());
    EXPECT_EQ(argument.count.load(), 0u);
    plat::closeHandle(argument.released);
}

// A reference-counted source whose last reference a sink drops inside fire:
// the release, its Stop and the deletion all happen on the event thread.
class SelfReleased : public ccEventThreadImpl {
public:
    SelfReleased(plat::Handle gate, plat::Handle gone)
        : gate_(gate)
        , gone_(gone)
    {
    }
    ULONG AddRef() { return ++count_; }
    ULONG Release()
    {
        const ULONG left = --count_;
        if (left == 0) {
            Stop(); // the final release's work, before the members go
            delete this;
        }
        return left;
    }
    HRESULT fire(DISPID, int32_t, VARIANT*, uint32_t) override
    {
        AddRef(); // held while the sinks are called
        (void)plat::waitFor(gate_, kLongEnough);
        sinkReleasesSource(this);
        Release();
        return S_OK;
    }
    static void sinkReleasesSource(SelfReleased* source) { source->Release(); }

private:
    ~SelfReleased() override { plat::setEvent(gone_); }
    std::atomic<ULONG> count_{1};
    plat::Handle gate_, gone_;
    std::vector<int> members_ = std::vector<int>(16); // touched after Stop would be a use after free
};

TEST(EventThread, LastReleaseInsideFireDoesNotHang)
{
    plat::Handle gate = plat::createEvent(true, false), gone = plat::createEvent(true, false);
    auto* source = new SelfReleased(gate, gone); // the sink gets this reference
    VARIANT v;
    v.vt = VT_I4, v.lVal = 1;
    ASSERT_TRUE(source->PostFire(1, 1, &v, 0, false, false));
    ASSERT_TRUE(source->PostFire(2, 1, &v, 0, false, false)); // dropped with the source
    plat::setEvent(gate);
    EXPECT_EQ(plat::waitFor(gone, kLongEnough).status, plat::WaitStatus::Signalled);
    plat::closeHandle(gone), plat::closeHandle(gate);
}

std::atomic<int> threadsAsked{0};

TEST(EventThread, FailedThreadCreationIsFinal)
{
    ccEventThreadTesting::setThreadCreator([](plat::ThreadFunction, void*, uint32_t*) -> plat::Handle {
        ++threadsAsked;
        return nullptr;
    });
    Recorder source;
    IUnknown* made = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(source.Start(false), E_FAIL);
    EXPECT_EQ(source.Start(true), E_FAIL);
    EXPECT_FALSE(source.PostFire(1, 0, nullptr, 0, false, false));
    EXPECT_EQ(source.CreateObjectOnThread(u"{00000000-0000-0000-C000-000000000046}", &made), E_FAIL);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(threadsAsked.load(), 1);
    ccEventThreadTesting::setThreadCreator(nullptr);
}

// A class made by the event thread: it notes the thread that made it.
const CLSID kSinkClass = {0x5a1c0e11, 0x7320, 0x4a51, {0x9b, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
std::atomic<uint32_t> madeOn{0};

class Sink final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        *ppv = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++count_; }
    ULONG Release() override
    {
        const ULONG left = --count_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> count_{0};
};

HRESULT createSink(IUnknown* outer, REFIID iid, void** ppv)
{
    if (outer) return CLASS_E_NOAGGREGATION;
    madeOn = plat::currentThreadId();
    auto* sink = new Sink;
    sink->AddRef();
    const HRESULT hr = sink->QueryInterface(iid, ppv);
    sink->Release();
    return hr;
}

TEST(EventThread, CreatesObjectsOnItsThread)
{
    ASSERT_EQ(plat::com::registerClass({kSinkClass, &createSink, L"Qorx.EventSink.1", L"Qorx.EventSink"}), S_OK);
    struct Case {
        const OLECHAR* text;
        HRESULT result;
    };
    const Case cases[] = {
        {u"{5A1C0E11-7320-4A51-9B02-112233445566}", S_OK},
        {u"Qorx.EventSink", S_OK},
        {u"{5A1C0E11-7320-4A51-9B02-000000000000}", E_FAIL}, // parsed, but no such class
        {u"Qorx.NoSuchSink", E_FAIL}, // any failure: CLSIDFromProgID's own
        {nullptr, E_INVALIDARG},
    };
    Recorder source;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)) : "null");
        madeOn = 0;
        IUnknown* made = nullptr;
        const HRESULT hr = source.CreateObjectOnThread(c.text, &made);
        if (c.result == S_OK) {
            ASSERT_EQ(hr, S_OK);
            ASSERT_NE(made, nullptr);
            EXPECT_NE(madeOn.load(), 0u);
            EXPECT_NE(madeOn.load(), plat::currentThreadId());
            made->Release();
        } else {
            EXPECT_TRUE(FAILED(hr));
            EXPECT_EQ(made, nullptr);
        }
    }
    EXPECT_EQ(source.CreateObjectOnThread(u"Qorx.EventSink", nullptr), E_POINTER);
    EXPECT_EQ(plat::com::unregisterClass(kSinkClass), S_OK);
}

TEST(EventThread, UnknownProgIdQueuesNothing)
{
    threadsAsked = 0;
    ccEventThreadTesting::setThreadCreator([](plat::ThreadFunction f, void* a, uint32_t* id) {
        ++threadsAsked;
        return plat::createThread(f, a, id);
    });
    Recorder source;
    IUnknown* made = nullptr;
    EXPECT_TRUE(FAILED(source.CreateObjectOnThread(u"Qorx.NoSuchSink", &made)));
    EXPECT_EQ(threadsAsked.load(), 0); // failed before the thread was started
    ccEventThreadTesting::setThreadCreator(nullptr);
}

} // namespace
