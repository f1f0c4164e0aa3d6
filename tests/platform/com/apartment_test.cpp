#include "platform/com/apartment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/classes.h"
#include "platform/com/git.h"
#include "platform/com/message.h"
#include "platform/com/stream.h"
#include "tests/support/com_targets.h"
#include "tests/support/com_home_bound.h"

namespace {

constexpr DWORD kLimit = 60000; // milliseconds: a wait that takes longer has hung

// Runs body on a thread of its own and waits for it.
template <typename Body>
void onThread(Body&& body)
{
    std::thread(std::forward<Body>(body)).join();
}

// A manual-reset event, closed at the end of the scope.
struct Event {
    plat::Handle handle = plat::createEvent(true, false);
    ~Event() { plat::closeHandle(handle); }
};

enum Step { sta, mta, leave };

TEST(ComApartment, InitialiseCountsPerThreadAndRefusesTheOtherMode)
{
    const struct {
        std::vector<Step> steps;
        std::vector<HRESULT> results; // of the CoInitializeEx steps
    } cases[] = {
        {{sta, sta}, {S_OK, S_FALSE}},
        {{mta, mta}, {S_OK, S_FALSE}},
        {{sta, mta}, {S_OK, RPC_E_CHANGED_MODE}},
        {{mta, sta}, {S_OK, RPC_E_CHANGED_MODE}},
        {{sta, sta, leave, mta}, {S_OK, S_FALSE, RPC_E_CHANGED_MODE}},
        {{sta, leave, mta, leave, sta}, {S_OK, S_OK, S_OK}},
        {{leave, mta}, {S_OK}},
    };
    for (const auto& c : cases) {
        onThread([&] {
            std::vector<HRESULT> results;
            for (Step step : c.steps) {
                if (step == leave)
                    CoUninitialize();
                else
                    results.push_back(CoInitializeEx(nullptr, step == sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED));
            }
            EXPECT_EQ(results, c.results);
        });
    }
}

TEST(ComApartment, AWaitInAnStaDispatchesWhatIsPostedAndAWaitElsewhereTimesOut)
{
    Event dispatched;
    Event never;
    std::atomic<HWND> target{nullptr};
    Event ready;
    std::thread owner([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        target = makeTarget(setEventProcedure, reinterpret_cast<LONG_PTR>(dispatched.handle));
        plat::setEvent(ready.handle);
        DWORD index = 99;
        // Only the procedure, run by the wait itself, signals the event.
        EXPECT_EQ(CoWaitForMultipleHandles(0, kLimit, 1, &dispatched.handle, &index), S_OK);
        EXPECT_EQ(index, 0u);
        EXPECT_EQ(CoWaitForMultipleHandles(0, 10, 1, &never.handle, &index), RPC_S_CALLPENDING);
        // Messages that keep coming do not restart the time-out.
        const HWND flood = makeTarget(floodProcedure, 0);
        PostMessage(flood, WM_USER + 2, 0, 0);
        EXPECT_EQ(CoWaitForMultipleHandles(0, 10, 1, &never.handle, &index), RPC_S_CALLPENDING);
        DestroyWindow(flood);
        CoUninitialize();
    });
    EXPECT_EQ(plat::waitFor(ready.handle, kLimit).status, plat::WaitStatus::Signalled);
    EXPECT_TRUE(PostMessage(target, WM_USER + 1, 0, 0));
    owner.join();
    DWORD index = 0;
    EXPECT_EQ(CoWaitForMultipleHandles(0, 0, 1, &never.handle, &index), RPC_S_CALLPENDING);
}

// Bad handle lists are refused; a mutex whose owner ended without releasing
// it is taken and told as abandoned.
TEST(ComApartment, AWaitRefusesBadHandlesAndTellsAnAbandonedMutex)
{
    Event set;
    plat::setEvent(set.handle);
    plat::Handle abandoned = nullptr;
    onThread([&] { abandoned = plat::createMutex(true); });
    const plat::Handle withNull[2] = {set.handle, nullptr}, twice[2] = {set.handle, set.handle};
    const plat::Handle afterSet[2] = {abandoned, set.handle};
    const struct {
        const char* what;
        DWORD flags;
        ULONG count;
        const plat::Handle* handles;
        bool index;
        HRESULT hr;
        DWORD at;
    } cases[] = {
        {"no handles", 0, 0, &set.handle, true, E_INVALIDARG, 99},
        {"no handle list", 0, 1, nullptr, true, E_INVALIDARG, 99},
        {"no index", 0, 1, &set.handle, false, E_INVALIDARG, 99},
        {"a null handle", 0, 2, withNull, true, E_INVALIDARG, 99},
        {"one handle twice, for all", COWAIT_WAITALL, 2, twice, true, E_INVALIDARG, 99},
        {"one handle twice, for one", 0, 2, twice, true, S_OK, 0},
        {"an abandoned mutex", 0, 2, afterSet, true, S_OK, WAIT_ABANDONED_0},
    };
    for (const auto& c : cases) {
        DWORD index = 99;
        EXPECT_EQ(CoWaitForMultipleHandles(c.flags, 0, c.count, c.handles, c.index ? &index : nullptr), c.hr) << c.what;
        EXPECT_EQ(index, c.at) << c.what;
    }
    EXPECT_TRUE(plat::releaseMutex(abandoned));
    plat::closeHandle(abandoned);
}

// A wait for all ends only once every handle is signalled: outside an STA
// when another thread sets the last, in one when a message it dispatches does.
TEST(ComApartment, AWaitForAllEndsOnlyWhenEveryHandleIsSignalled)
{
    for (const bool sta : {false, true}) {
        onThread([sta] {
            if (sta) {
                ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
            }
            Event last;
            Event first;
            plat::setEvent(first.handle);
            const plat::Handle both[2] = {first.handle, last.handle};
            DWORD index = 99;
            EXPECT_EQ(CoWaitForMultipleHandles(COWAIT_WAITALL, 0, 2, both, &index), RPC_S_CALLPENDING) << sta;
            std::thread setter;
            HWND target = nullptr;
            if (sta) {
                target = makeTarget(setEventProcedure, reinterpret_cast<LONG_PTR>(last.handle));
                PostMessage(target, WM_USER + 1, 0, 0);
            } else {
                setter = std::thread([&] { plat::setEvent(last.handle); });
            }
            EXPECT_EQ(CoWaitForMultipleHandles(COWAIT_WAITALL, 60000, 2, both, &index), S_OK) << sta;
            EXPECT_EQ(index, 0u) << sta;
            if (setter.joinable())
                setter.join();
            if (target)
                DestroyWindow(target);
            if (sta)
                CoUninitialize();
        });
    }
}

// A reference let go through its home goes back to the home apartment's
// thread: at once there, else when that thread dispatches or at its
// apartment's end; without a home, or once it has ended, where it is let go.
TEST(ComApartment, AReferenceIsLetGoOnItsHomeApartmentsThread)
{
    enum When { onItsThread, whileItPumps, atItsEnd, afterItsEnd, homeless };
    for (const When when : {onItsThread, whileItPumps, atItsEnd, afterItsEnd, homeless}) {
        Event taken, leave, gone;
        auto strays = std::make_shared<std::atomic<int>>(0); // releases elsewhere
        IUnknown* object = nullptr;
        plat::com::ApartmentHome home;
        std::thread owner([&] {
            (void)CoInitializeEx(nullptr, when == homeless ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
            object = new HomeBound(gone.handle, strays);
            home = plat::com::ApartmentHome::current();
            if (when == onItsThread)
                home.release(object);
            plat::setEvent(taken.handle);
            DWORD index = 0;
            if (when == whileItPumps) {
                EXPECT_EQ(CoWaitForMultipleHandles(0, kLimit, 1, &gone.handle, &index), S_OK); // let go meanwhile
            } else if (when == atItsEnd) {
                EXPECT_EQ(plat::waitFor(leave.handle, kLimit).status, plat::WaitStatus::Signalled); // dispatching nothing
            }
            CoUninitialize();
        });
        EXPECT_EQ(plat::waitFor(taken.handle, kLimit).status, plat::WaitStatus::Signalled);
        EXPECT_EQ(home.empty(), when == homeless) << when;
        if (when == afterItsEnd)
            owner.join();
        if (when != onItsThread)
            home.release(object);
        plat::setEvent(leave.handle);
        if (owner.joinable())
            owner.join();
        EXPECT_EQ(*strays, when == afterItsEnd || when == homeless ? 1 : 0) << when;
        EXPECT_EQ(plat::waitFor(gone.handle, 0).status, plat::WaitStatus::Signalled) << when;
    }
}

// Which object or the queue ends a wait is the platform's; here, how it is told.
TEST(ComMessages, AMessageWaitTellsATimeOutAQueuedMessageAndNoObjects)
{
    onThread([] {
        Event unset;
        EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &unset.handle, 0, QS_ALLEVENTS, 0), WAIT_TIMEOUT);
        PostThreadMessage(GetCurrentThreadId(), WM_USER, 0, 0);
        EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &unset.handle, 0, QS_ALLEVENTS, 0), WAIT_OBJECT_0 + 1);
        EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, nullptr, 0, QS_ALLEVENTS, 0), WAIT_FAILED);
    });
}

TEST(ComMessages, AWaitForAllEndsOnAllTheObjectsOrAMessage)
{
    onThread([] {
        Event unset;
        Event set;
        plat::setEvent(set.handle);
        const plat::Handle both[2] = {unset.handle, set.handle};
        EXPECT_EQ(WaitForMultipleObjects(2, both, false, 0), WAIT_OBJECT_0 + 1);
        EXPECT_EQ(WaitForMultipleObjects(2, both, true, 0), WAIT_TIMEOUT);
        PostThreadMessage(GetCurrentThreadId(), WM_USER, 0, 0);
        EXPECT_EQ(MsgWaitForMultipleObjectsEx(2, both, 0, QS_ALLEVENTS, MWMO_WAITALL), WAIT_OBJECT_0 + 2);
        plat::setEvent(unset.handle);
        EXPECT_EQ(MsgWaitForMultipleObjectsEx(2, both, 0, QS_ALLEVENTS, MWMO_WAITALL), WAIT_OBJECT_0);
    });
}

TEST(ComMessages, RegisteredNumbersAreStablePerNameAndCaseBlind)
{
    const UINT change = RegisterWindowMessageW(L"QorDictionaryLangChange");
    const UINT complete = RegisterWindowMessageW(L"QorDictionaryLangChangeComplete");
    EXPECT_GE(change, 0xC000u);
    EXPECT_GE(complete, 0xC000u);
    EXPECT_NE(change, complete);
    EXPECT_EQ(RegisterWindowMessageW(L"qordictionarylangchange"), change);
    onThread([&] { EXPECT_EQ(RegisterWindowMessageW(L"QorDictionaryLangChange"), change); });
    EXPECT_EQ(RegisterWindowMessageW(L""), 0u);
    EXPECT_EQ(RegisterWindowMessageW(nullptr), 0u);
}

struct Received {
    std::mutex lock;
    std::vector<std::pair<uint32_t, UINT>> calls; // thread, message
};

LRESULT recordProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* received = reinterpret_cast<Received*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    std::lock_guard<std::mutex> guard(received->lock);
    received->calls.emplace_back(GetCurrentThreadId(), message);
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(ComMessages, ABroadcastReachesEveryTargetOnItsOwnThread)
{
    const UINT change = RegisterWindowMessageW(L"QorDictionaryLangChange");
    Received received[2];
    Event ready[2];
    Event go;
    std::atomic<uint32_t> ids[2] = {{0}, {0}};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&, i] {
            ids[i] = GetCurrentThreadId();
            const HWND target = makeTarget(recordProcedure, reinterpret_cast<LONG_PTR>(&received[i]));
            plat::setEvent(ready[i].handle);
            EXPECT_EQ(plat::waitFor(go.handle, kLimit).status, plat::WaitStatus::Signalled);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            EXPECT_TRUE(DestroyWindow(target));
            EXPECT_FALSE(PostMessage(target, change, 0, 0));
        });
    }
    for (Event& r : ready)
        EXPECT_EQ(plat::waitFor(r.handle, kLimit).status, plat::WaitStatus::Signalled);
    // Both targets are queued before either thread looks.
    EXPECT_TRUE(PostMessage(HWND_BROADCAST, change, 0, 0));
    plat::setEvent(go.handle);
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(received[i].calls, (std::vector<std::pair<uint32_t, UINT>>{{ids[i].load(), change}}));
}

// A target keeps its user data and procedure and answers nothing else; a
// thread message, and one for a target destroyed before it was dispatched,
// reach no procedure.
TEST(ComMessages, TargetsRefuseWhatTheyDoNotHoldAndGoneTargetsGetNothing)
{
    onThread([] {
        Received received;
        const HWND target = makeTarget(recordProcedure, reinterpret_cast<LONG_PTR>(&received));
        const HWND gone = makeTarget(recordProcedure, reinterpret_cast<LONG_PTR>(&received));
        EXPECT_TRUE(PostMessage(gone, WM_USER, 0, 0));
        EXPECT_TRUE(PostMessage(nullptr, WM_USER + 1, 0, 0)); // to this thread
        EXPECT_TRUE(DestroyWindow(gone));
        EXPECT_FALSE(DestroyWindow(gone));
        EXPECT_FALSE(IsWindow(gone));
        MSG message;
        int queued = 0;
        for (; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++queued)
            EXPECT_EQ(DispatchMessageW(&message), 0);
        EXPECT_EQ(queued, 2);
        EXPECT_TRUE(received.calls.empty());
        EXPECT_EQ(CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, target, nullptr, nullptr, nullptr), nullptr);
        EXPECT_FALSE(PeekMessageW(nullptr, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(DispatchMessageW(nullptr), 0);

        // A null procedure is refused; another index and a gone target hold nothing.
        const auto procedure = reinterpret_cast<LONG_PTR>(&recordProcedure);
        EXPECT_EQ(SetWindowLongPtrW(target, GWLP_WNDPROC, 0), 0);
        EXPECT_EQ(GetWindowLongPtrW(target, GWLP_WNDPROC), procedure);
        const struct {
            HWND window;
            int32_t index;
        } empty[] = {{target, 5}, {gone, GWLP_USERDATA}, {gone, GWLP_WNDPROC}};
        for (const auto& e : empty) {
            EXPECT_EQ(SetWindowLongPtrW(e.window, e.index, procedure), 0) << e.index;
            EXPECT_EQ(GetWindowLongPtrW(e.window, e.index), 0) << e.index;
        }
        EXPECT_TRUE(DestroyWindow(target));
    });
}

const IID IID_IOther = {0x1d7c3b52, 0x8e4f, 0x4a61, {0xb2, 0x9d, 0x70, 0x1e, 0x55, 0xc4, 0x3a, 0x08}};

// Records the thread each call runs on; may aggregate the free-threaded
// marshaler, or offer no IDispatch. It goes at its last release.
class Recorder final : public IDispatch {
public:
    explicit Recorder(bool agile, bool dispatch = true) : dispatch_(dispatch)
    {
        if (agile)
            CoCreateFreeThreadedMarshaler(this, &marshaler);
    }
    ~Recorder()
    {
        if (marshaler != nullptr)
            marshaler->Release();
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IMarshal && marshaler != nullptr)
            return marshaler->QueryInterface(riid, ppv);
        if (riid != IID_IUnknown && (riid != IID_IDispatch || !dispatch_))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* count) override { return note(), *count = 1, S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return note(), DISP_E_BADINDEX; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* ids) override { return note(), ids[0] = 7, S_OK; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return note(), S_OK;
    }

    std::atomic<ULONG> references{1};
    IUnknown* marshaler = nullptr;
    std::atomic<uint32_t> calledOn{0};

private:
    void note() { calledOn = GetCurrentThreadId(); }
    const bool dispatch_;
};

// Each member of IDispatch, called with what the recorder answers.
const struct {
    const char* what;
    HRESULT (*call)(IDispatch* target);
    HRESULT answer;
} kDispatchCalls[] = {
    {"GetTypeInfoCount", [](IDispatch* d) { UINT n = 0; const HRESULT hr = d->GetTypeInfoCount(&n); return FAILED(hr) || n == 1 ? hr : E_FAIL; }, S_OK},
    {"GetTypeInfo", [](IDispatch* d) { ITypeInfo* info = nullptr; return d->GetTypeInfo(0, 0, &info); }, DISP_E_BADINDEX},
    {"GetIDsOfNames", [](IDispatch* d) {
        LPOLESTR name = const_cast<LPOLESTR>(u"Go");
        DISPID id = 0;
        const HRESULT hr = d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
        return FAILED(hr) || id == 7 ? hr : E_FAIL; }, S_OK},
    {"Invoke", [](IDispatch* d) { return d->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr); }, S_OK},
};

IGlobalInterfaceTable* table()
{
    IGlobalInterfaceTable* git = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_ALL, IID_IGlobalInterfaceTable,
                               reinterpret_cast<void**>(&git)),
              S_OK);
    return git;
}

TEST(ComMarshalling, OnlyStaBoundObjectsReachOtherThreadsAsProxiesRunOnTheirOwner)
{
    const struct {
        bool stream; // else the table
        bool fromSta;
        bool agile;
        bool proxy;
    } cases[] = {
        {false, true, false, true}, {true, true, false, true},    {false, false, false, false},
        {true, false, false, false}, {false, true, true, false}, {true, true, true, false},
    };
    IGlobalInterfaceTable* git = table();
    for (const auto& c : cases) {
        auto* object = new Recorder(c.agile);
        DWORD cookie = 0;
        IStream* stream = nullptr;
        std::atomic<uint32_t> ownerId{0};
        Event marshalled, done;
        std::thread owner([&] {
            ownerId = GetCurrentThreadId();
            CoInitializeEx(nullptr, c.fromSta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
            if (c.stream)
                EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object, &stream), S_OK);
            else
                EXPECT_EQ(git->RegisterInterfaceInGlobal(object, IID_IDispatch, &cookie), S_OK);
            plat::setEvent(marshalled.handle);
            DWORD index = 0;
            EXPECT_EQ(CoWaitForMultipleHandles(0, kLimit, 1, &done.handle, &index), S_OK); // serves the calls meanwhile
            CoUninitialize();
        });
        EXPECT_EQ(plat::waitFor(marshalled.handle, kLimit).status, plat::WaitStatus::Signalled);
        IDispatch* got = nullptr;
        if (c.stream) {
            EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&got)), S_OK);
        } else {
            EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IOther, reinterpret_cast<void**>(&got)), E_NOINTERFACE);
            EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&got)), S_OK);
        }
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got != object, c.proxy);
        for (const auto& call : kDispatchCalls) {
            object->calledOn = 0;
            EXPECT_EQ(call.call(got), call.answer) << call.what;
            EXPECT_EQ(object->calledOn, c.proxy ? ownerId.load() : GetCurrentThreadId()) << call.what;
        }
        plat::setEvent(done.handle);
        owner.join();
        // The owner apartment has ended: its objects are no longer reached.
        for (const auto& call : kDispatchCalls)
            EXPECT_EQ(call.call(got), c.proxy ? RPC_E_DISCONNECTED : call.answer) << call.what;
        const HRESULT after = c.proxy ? RPC_E_DISCONNECTED : S_OK;
        if (!c.stream) {
            IUnknown* again = nullptr;
            EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IUnknown, reinterpret_cast<void**>(&again)), after);
            if (again != nullptr)
                again->Release();
            EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
        }
        got->Release();
        EXPECT_EQ(object->Release(), 0u);
    }
}

// On its own thread the owner gets the object itself and a revocation lets
// it go there; once its apartment has ended, the table disconnects it there too.
TEST(ComMarshalling, TheOwnerGetsItsObjectItselfUntilItsApartmentEnds)
{
    IGlobalInterfaceTable* git = table();
    auto* object = new Recorder(false);
    onThread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        DWORD cookie = 0, kept = 0;
        ASSERT_EQ(git->RegisterInterfaceInGlobal(object, IID_IUnknown, &cookie), S_OK);
        ASSERT_EQ(git->RegisterInterfaceInGlobal(object, IID_IUnknown, &kept), S_OK);
        EXPECT_NE(cookie, 0u);
        IDispatch* got = nullptr;
        EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&got)), S_OK);
        EXPECT_EQ(got, object);
        got->Release();
        EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
        EXPECT_EQ(object->references, 2u); // the test's and kept's
        CoUninitialize();
        EXPECT_EQ(object->references, 1u);
        void* none = object;
        EXPECT_EQ(git->GetInterfaceFromGlobal(kept, IID_IUnknown, &none), RPC_E_DISCONNECTED);
        EXPECT_EQ(none, nullptr);
        EXPECT_EQ(git->RevokeInterfaceFromGlobal(kept), S_OK);
    });
    EXPECT_EQ(object->Release(), 0u);
}


// A thread with an STA that registers object in the table and serves calls
// until served is set; then it runs then() and leaves its apartment.
class StaOwner {
public:
    StaOwner(IUnknown* object, const IID& iid, std::function<void()> then = {})
        : thread_([this, object, iid, then] {
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
              EXPECT_EQ(table()->RegisterInterfaceInGlobal(object, iid, &cookie), S_OK);
              plat::setEvent(registered_.handle);
              DWORD index = 0;
              EXPECT_EQ(CoWaitForMultipleHandles(0, kLimit, 1, &served.handle, &index), S_OK);
              if (then)
                  then();
              CoUninitialize();
          })
    {
        EXPECT_EQ(plat::waitFor(registered_.handle, kLimit).status, plat::WaitStatus::Signalled);
    }
    void join()
    {
        plat::setEvent(served.handle);
        thread_.join();
    }

    Event served;
    DWORD cookie = 0;

private:
    Event registered_;
    std::thread thread_;
};

// A call waiting on an apartment that ends without serving it is answered
// RPC_E_DISCONNECTED, and the object is never called.
TEST(ComMarshalling, ACallWaitingWhenItsApartmentEndsIsDisconnected)
{
    auto* object = new Recorder(false);
    StaOwner owner(object, IID_IDispatch, [] {
        // The call is queued, never dispatched.
        EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, kLimit, QS_ALLEVENTS, 0), WAIT_OBJECT_0);
    });
    IDispatch* proxy = nullptr;
    EXPECT_EQ(table()->GetInterfaceFromGlobal(owner.cookie, IID_IDispatch, reinterpret_cast<void**>(&proxy)), S_OK);
    plat::setEvent(owner.served.handle);
    if (proxy != nullptr) {
        EXPECT_EQ(proxy->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), RPC_E_DISCONNECTED);
        proxy->Release();
    }
    owner.join();
    EXPECT_EQ(object->calledOn, 0u);
    EXPECT_EQ(table()->RevokeInterfaceFromGlobal(owner.cookie), S_OK);
    EXPECT_EQ(object->Release(), 0u);
}

// A proxy offers IUnknown, IDispatch where its object has it, and the
// free-threaded marshaler: it may itself be used on any thread.
TEST(ComMarshalling, AProxyOffersTheUnknownTheDispatchOfItsObjectAndTheFreeThreadedMarshaler)
{
    IGlobalInterfaceTable* git = table();
    for (const bool dispatch : {true, false}) {
        auto* object = new Recorder(false, dispatch);
        StaOwner owner(object, IID_IUnknown);
        void* asDispatch = object;
        EXPECT_EQ(git->GetInterfaceFromGlobal(owner.cookie, IID_IDispatch, &asDispatch), dispatch ? S_OK : E_NOINTERFACE);
        IUnknown* proxy = nullptr;
        EXPECT_EQ(git->GetInterfaceFromGlobal(owner.cookie, IID_IUnknown, reinterpret_cast<void**>(&proxy)), S_OK);
        const struct {
            IID iid;
            bool offered;
        } asks[] = {{IID_IUnknown, true}, {IID_IDispatch, dispatch}, {IID_IMarshal, true}, {IID_IOther, false}};
        for (const auto& ask : asks) {
            IUnknown* got = object;
            EXPECT_EQ(proxy->QueryInterface(ask.iid, reinterpret_cast<void**>(&got)), ask.offered ? S_OK : E_NOINTERFACE);
            EXPECT_EQ(got != nullptr, ask.offered);
            CLSID unmarshaler = GUID_NULL;
            if (ask.iid == IID_IMarshal && got != nullptr) {
                EXPECT_EQ(static_cast<IMarshal*>(got)->GetUnmarshalClass(IID_IUnknown, proxy, MSHCTX_INPROC, nullptr,
                                                                          MSHLFLAGS_NORMAL, &unmarshaler),
                          S_OK);
            }
            EXPECT_EQ(unmarshaler == CLSID_InProcFreeMarshaler, ask.iid == IID_IMarshal);
            if (got != nullptr)
                got->Release();
        }
        EXPECT_EQ(proxy->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
        proxy->Release();
        if (asDispatch != nullptr)
            static_cast<IDispatch*>(asDispatch)->Release();
        owner.join();
        EXPECT_EQ(git->RevokeInterfaceFromGlobal(owner.cookie), S_OK);
        EXPECT_EQ(object->Release(), 0u) << dispatch;
    }
}

// The table is one object for the process, never destroyed.
TEST(ComMarshalling, TheTableIsOneObjectThatReleasesNeverDestroy)
{
    IGlobalInterfaceTable* git = table();
    IGlobalInterfaceTable* again = table();
    EXPECT_EQ(again, git);
    again->Release();
    git->Release();
    DWORD cookie = 0;
    auto* object = new Recorder(false);
    EXPECT_EQ(table()->RegisterInterfaceInGlobal(object, IID_IUnknown, &cookie), S_OK);
    EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(object->Release(), 0u);
}

// A cookie given back through a pointer out value, for the table below.
void* cookieOut(DWORD cookie)
{
    return reinterpret_cast<void*>(uintptr_t{cookie});
}

// Refusals of the table and of the marshal functions: each gives its code,
// leaves its out value empty and keeps no reference to the object.
TEST(ComMarshalling, RefusalsLeaveTheOutValueEmptyAndKeepNoReference)
{
    struct Context {
        IGlobalInterfaceTable* git;
        IUnknown* object;
        DWORD revoked;
    };
    const struct {
        const char* what;
        HRESULT (*call)(const Context& c, void** out);
        HRESULT hr;
        bool out = true; // the call has an out value
    } rows[] = {
        {"registering no object", [](const Context& c, void** out) {
            DWORD cookie = 9;
            const HRESULT hr = c.git->RegisterInterfaceInGlobal(nullptr, IID_IUnknown, &cookie);
            return *out = cookieOut(cookie), hr; }, E_INVALIDARG},
        {"registering without a cookie", [](const Context& c, void**) {
            return c.git->RegisterInterfaceInGlobal(c.object, IID_IUnknown, nullptr); }, E_INVALIDARG, false},
        {"registering an interface the object lacks", [](const Context& c, void** out) {
            DWORD cookie = 9;
            const HRESULT hr = c.git->RegisterInterfaceInGlobal(c.object, IID_IOther, &cookie);
            return *out = cookieOut(cookie), hr; }, E_NOINTERFACE},
        {"getting without an out pointer", [](const Context& c, void**) {
            return c.git->GetInterfaceFromGlobal(c.revoked, IID_IUnknown, nullptr); }, E_INVALIDARG, false},
        {"getting cookie 0", [](const Context& c, void** out) {
            return c.git->GetInterfaceFromGlobal(0, IID_IUnknown, out); }, E_INVALIDARG},
        {"getting a revoked cookie", [](const Context& c, void** out) {
            return c.git->GetInterfaceFromGlobal(c.revoked, IID_IUnknown, out); }, E_INVALIDARG},
        {"revoking it again", [](const Context& c, void**) { return c.git->RevokeInterfaceFromGlobal(c.revoked); },
         E_INVALIDARG, false},
        {"the table inside another object", [](const Context& c, void** out) {
            return CoCreateInstance(CLSID_StdGlobalInterfaceTable, c.object, CLSCTX_ALL, IID_IUnknown, out); },
         CLASS_E_NOAGGREGATION},
        {"the table as another interface", [](const Context& c, void** out) {
            return c.git->QueryInterface(IID_IOther, out); }, E_NOINTERFACE},
        {"marshalling no object", [](const Context&, void** out) {
            return CoMarshalInterThreadInterfaceInStream(IID_IUnknown, nullptr, reinterpret_cast<IStream**>(out)); },
         E_INVALIDARG},
        {"marshalling without a stream out", [](const Context& c, void**) {
            return CoMarshalInterThreadInterfaceInStream(IID_IUnknown, c.object, nullptr); }, E_INVALIDARG, false},
        {"marshalling an interface the object lacks", [](const Context& c, void** out) {
            return CoMarshalInterThreadInterfaceInStream(IID_IOther, c.object, reinterpret_cast<IStream**>(out)); },
         E_NOINTERFACE},
        {"unmarshalling no stream", [](const Context&, void** out) {
            return CoGetInterfaceAndReleaseStream(nullptr, IID_IUnknown, out); }, E_INVALIDARG},
        {"unmarshalling without an out pointer", [](const Context& c, void**) { // the stream goes all the same
            IStream* stream = nullptr;
            (void)CoMarshalInterThreadInterfaceInStream(IID_IUnknown, c.object, &stream);
            return CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, nullptr); }, E_INVALIDARG, false},
    };
    auto* object = new Recorder(false);
    Context context{table(), object, 0};
    ASSERT_EQ(context.git->RegisterInterfaceInGlobal(object, IID_IUnknown, &context.revoked), S_OK);
    ASSERT_EQ(context.git->RevokeInterfaceFromGlobal(context.revoked), S_OK);
    for (const auto& row : rows) {
        void* out = object;
        EXPECT_EQ(row.call(context, &out), row.hr) << row.what;
        EXPECT_EQ(out, row.out ? nullptr : object) << row.what;
        EXPECT_EQ(object->references, 1u) << row.what;
    }
    EXPECT_EQ(object->Release(), 0u);
}

// The marshaler's IMarshal counts on its outer object, or on itself without
// one; its own unknown answers only itself and IMarshal.
TEST(ComMarshalling, TheFreeThreadedMarshalerNamesItsClassAndCountsOnItsOuterObject)
{
    auto* outer = new Recorder(false);
    for (IUnknown* counted : {static_cast<IUnknown*>(outer), static_cast<IUnknown*>(nullptr)}) {
        IUnknown* inner = nullptr;
        ASSERT_EQ(CoCreateFreeThreadedMarshaler(counted, &inner), S_OK);
        IMarshal* marshal = nullptr;
        ASSERT_EQ(inner->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
        EXPECT_EQ(outer->references, counted ? 2u : 1u); // the interface's reference is the outer object's
        CLSID unmarshaler = GUID_NULL;
        EXPECT_EQ(marshal->GetUnmarshalClass(IID_IUnknown, counted, MSHCTX_INPROC, nullptr, MSHLFLAGS_TABLESTRONG,
                                             &unmarshaler),
                  S_OK);
        EXPECT_EQ(unmarshaler, CLSID_InProcFreeMarshaler);
        IUnknown* identity = nullptr;
        EXPECT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
        EXPECT_EQ(identity, counted ? counted : inner);
        identity->Release();
        marshal->Release();
        void* other = inner;
        EXPECT_EQ(inner->QueryInterface(IID_IOther, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
        EXPECT_EQ(outer->references, 1u);
        EXPECT_EQ(inner->Release(), 0u);
    }
    EXPECT_EQ(CoCreateFreeThreadedMarshaler(outer, nullptr), E_INVALIDARG);
    EXPECT_EQ(outer->Release(), 0u);
}

// A marshal stream is unmarshalled once, by its own function, and holds its
// reference until then; any other stream is refused and still released.
TEST(ComMarshalling, AMarshalStreamGivesItsInterfaceOnceAndHoldsItUntilThen)
{
    auto* object = new Recorder(false);
    const struct {
        const char* what;
        bool unmarshal;
        IID iid;
        HRESULT hr;
    } cases[] = {
        {"unmarshalled", true, IID_IDispatch, S_OK},
        {"asked for an interface the object lacks", true, IID_IMarshal, E_NOINTERFACE},
        {"released unread", false, IID_IUnknown, S_OK},
    };
    for (const auto& c : cases) {
        IStream* stream = nullptr;
        ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object, &stream), S_OK) << c.what;
        EXPECT_EQ(object->references, 2u) << c.what; // the test's and the stream's
        IStream* same = nullptr;
        ASSERT_EQ(stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(&same)), S_OK);
        if (!c.unmarshal) {
            same->Release();
            stream->Release();
            EXPECT_EQ(object->references, 1u) << c.what;
            continue;
        }
        void* got = nullptr;
        EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, c.iid, &got), c.hr) << c.what;
        EXPECT_EQ(got, c.hr == S_OK ? object : nullptr) << c.what;
        EXPECT_EQ(object->references, c.hr == S_OK ? 2u : 1u) << c.what; // the stream let go of its own
        // The caller's second reference: the interface was handed out once.
        EXPECT_EQ(CoGetInterfaceAndReleaseStream(same, IID_IDispatch, &got), E_UNEXPECTED) << c.what;
        EXPECT_EQ(got, nullptr) << c.what;
        if (c.hr == S_OK)
            object->Release();
    }

    IStream* memory = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, 1, &memory), S_OK);
    memory->AddRef();
    void* got = object;
    EXPECT_EQ(CoGetInterfaceAndReleaseStream(memory, IID_IUnknown, &got), E_INVALIDARG);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(memory->Release(), 0u); // the call released the reference it was given
    EXPECT_EQ(object->Release(), 0u);
}

} // namespace
