#include "platform/com/apartment.h"

#include <gtest/gtest.h>

#include <atomic>
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
        EXPECT_EQ(CoWaitForMultipleHandles(0, INFINITE, 1, &dispatched.handle, &index), S_OK);
        EXPECT_EQ(index, 0u);
        EXPECT_EQ(CoWaitForMultipleHandles(0, 10, 1, &never.handle, &index), RPC_S_CALLPENDING);
        // Messages that keep coming do not restart the time-out.
        const HWND flood = makeTarget(floodProcedure, 0);
        PostMessage(flood, WM_USER + 2, 0, 0);
        EXPECT_EQ(CoWaitForMultipleHandles(0, 10, 1, &never.handle, &index), RPC_S_CALLPENDING);
        DestroyWindow(flood);
        CoUninitialize();
    });
    plat::waitFor(ready.handle, plat::kInfiniteWait);
    EXPECT_TRUE(PostMessage(target, WM_USER + 1, 0, 0));
    owner.join();
    DWORD index = 0;
    EXPECT_EQ(CoWaitForMultipleHandles(0, 0, 1, &never.handle, &index), RPC_S_CALLPENDING);
    EXPECT_EQ(CoWaitForMultipleHandles(0, 0, 0, &never.handle, &index), E_INVALIDARG);
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
            if (when == whileItPumps)
                EXPECT_EQ(CoWaitForMultipleHandles(0, 60000, 1, &gone.handle, &index), S_OK); // let go meanwhile
            else if (when == atItsEnd)
                (void)plat::waitFor(leave.handle, plat::kInfiniteWait); // dispatching nothing
            CoUninitialize();
        });
        (void)plat::waitFor(taken.handle, plat::kInfiniteWait);
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
            plat::waitFor(go.handle, plat::kInfiniteWait);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            EXPECT_TRUE(DestroyWindow(target));
            EXPECT_FALSE(PostMessage(target, change, 0, 0));
        });
    }
    for (Event& r : ready)
        plat::waitFor(r.handle, plat::kInfiniteWait);
    // Both targets are queued before either thread looks.
    EXPECT_TRUE(PostMessage(HWND_BROADCAST, change, 0, 0));
    plat::setEvent(go.handle);
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(received[i].calls, (std::vector<std::pair<uint32_t, UINT>>{{ids[i].load(), change}}));
}

const IID IID_IOther = {0x1d7c3b52, 0x8e4f, 0x4a61, {0xb2, 0x9d, 0x70, 0x1e, 0x55, 0xc4, 0x3a, 0x08}};

// Records the thread each call runs on; may aggregate the free-threaded marshaler.
class Recorder final : public IDispatch {
public:
    explicit Recorder(bool agile)
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
        if (riid != IID_IUnknown && riid != IID_IDispatch)
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override
    {
        const ULONG left = --references;
        return left; // the test owns the storage
    }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        calledOn = GetCurrentThreadId();
        return S_OK;
    }

    std::atomic<ULONG> references{1};
    IUnknown* marshaler = nullptr;
    std::atomic<uint32_t> calledOn{0};
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
        Recorder object(c.agile);
        DWORD cookie = 0;
        IStream* stream = nullptr;
        std::atomic<uint32_t> ownerId{0};
        Event marshalled, done;
        std::thread owner([&] {
            ownerId = GetCurrentThreadId();
            CoInitializeEx(nullptr, c.fromSta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
            if (c.stream)
                EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, &object, &stream), S_OK);
            else
                EXPECT_EQ(git->RegisterInterfaceInGlobal(&object, IID_IDispatch, &cookie), S_OK);
            plat::setEvent(marshalled.handle);
            DWORD index = 0;
            CoWaitForMultipleHandles(0, INFINITE, 1, &done.handle, &index); // serves the calls meanwhile
            CoUninitialize();
        });
        plat::waitFor(marshalled.handle, plat::kInfiniteWait);
        IDispatch* got = nullptr;
        if (c.stream) {
            EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&got)), S_OK);
        } else {
            EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IOther, reinterpret_cast<void**>(&got)), E_NOINTERFACE);
            EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&got)), S_OK);
        }
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got != &object, c.proxy);
        EXPECT_EQ(got->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(object.calledOn, c.proxy ? ownerId.load() : GetCurrentThreadId());
        plat::setEvent(done.handle);
        owner.join();
        // The owner apartment has ended: its objects are no longer reached.
        const HRESULT after = c.proxy ? RPC_E_DISCONNECTED : S_OK;
        EXPECT_EQ(got->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), after);
        if (!c.stream) {
            IUnknown* again = nullptr;
            EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IUnknown, reinterpret_cast<void**>(&again)), after);
            if (again != nullptr)
                again->Release();
            EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
            EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
        }
        got->Release();
        EXPECT_EQ(object.references, 1u);
    }
}

TEST(ComMarshalling, TheOwnerGetsItsObjectItselfAndRevocationReleasesThere)
{
    IGlobalInterfaceTable* git = table();
    Recorder object(false);
    onThread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        DWORD cookie = 0;
        ASSERT_EQ(git->RegisterInterfaceInGlobal(&object, IID_IUnknown, &cookie), S_OK);
        EXPECT_NE(cookie, 0u);
        IDispatch* got = nullptr;
        EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&got)), S_OK);
        EXPECT_EQ(got, &object);
        got->Release();
        EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
        EXPECT_EQ(object.references, 1u);
        CoUninitialize();
    });
    void* none = &object;
    EXPECT_EQ(git->GetInterfaceFromGlobal(0, IID_IUnknown, &none), E_INVALIDARG);
    EXPECT_EQ(none, nullptr);
}

TEST(ComMarshalling, TheFreeThreadedMarshalerNamesItsClassAndCountsOnItsOuterObject)
{
    Recorder outer(false);
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateFreeThreadedMarshaler(&outer, &inner), S_OK);
    IMarshal* marshal = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    EXPECT_EQ(outer.references, 2u); // the interface's reference is the outer object's
    CLSID unmarshaler = GUID_NULL;
    EXPECT_EQ(marshal->GetUnmarshalClass(IID_IUnknown, &outer, MSHCTX_INPROC, nullptr, MSHLFLAGS_TABLESTRONG,
                                         &unmarshaler),
              S_OK);
    EXPECT_EQ(unmarshaler, CLSID_InProcFreeMarshaler);
    marshal->Release();
    EXPECT_EQ(outer.references, 1u);
    inner->Release();
    EXPECT_EQ(CoCreateFreeThreadedMarshaler(&outer, nullptr), E_INVALIDARG);
}

// A marshal stream is unmarshalled once, by its own function, and holds its
// reference until then; any other stream is refused and still released.
TEST(ComMarshalling, AMarshalStreamGivesItsInterfaceOnceAndHoldsItUntilThen)
{
    Recorder object(false);
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
        ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, &object, &stream), S_OK) << c.what;
        EXPECT_EQ(object.references, 2u) << c.what; // the test's and the stream's
        IStream* same = nullptr;
        ASSERT_EQ(stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(&same)), S_OK);
        if (!c.unmarshal) {
            same->Release();
            stream->Release();
            EXPECT_EQ(object.references, 1u) << c.what;
            continue;
        }
        void* got = nullptr;
        EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, c.iid, &got), c.hr) << c.what;
        EXPECT_EQ(got, c.hr == S_OK ? static_cast<IDispatch*>(&object) : nullptr) << c.what;
        EXPECT_EQ(object.references, c.hr == S_OK ? 2u : 1u) << c.what; // the stream let go of its own
        // The caller's second reference: the interface was handed out once.
        EXPECT_EQ(CoGetInterfaceAndReleaseStream(same, IID_IDispatch, &got), E_UNEXPECTED) << c.what;
        if (c.hr == S_OK)
            object.Release();
    }

    IStream* memory = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, 1, &memory), S_OK);
    memory->AddRef();
    void* got = &object;
    EXPECT_EQ(CoGetInterfaceAndReleaseStream(memory, IID_IUnknown, &got), E_INVALIDARG);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(memory->Release(), 0u); // the call released the reference it was given
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, nullptr, &memory), E_INVALIDARG);
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, &object, nullptr), E_INVALIDARG);
    EXPECT_EQ(object.references, 1u);
}

} // namespace
