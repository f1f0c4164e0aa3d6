#include "comframe/objectroot.h"

#include "comframe/comerror.h"
#include "platform/com/git.h"
#include "platform/com/message.h"
#include "platform/event_log_testing.h"
#include "tests/support/in_time.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

template <class Body> void onThreads(size_t count, Body body)
{
    std::vector<std::thread> threads;
    for (size_t t = 0; t < count; ++t)
        threads.emplace_back(body, t);
    for (auto& thread : threads)
        thread.join();
}

TEST(ThreadOwnerLock, RecursiveUntilAsManyUnlocks)
{
    ccThreadOwnerLock lock;
    EXPECT_EQ(lock.lock(false) + lock.lock(false), 0);
    lock.unlock();
    EXPECT_EQ(lock.owner(), GetCurrentThreadId());
    lock.unlock();
    EXPECT_EQ(lock.owner(), 0u);
}

std::atomic<int> g_dispatched{0};

LRESULT countUserMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_dispatched += message == WM_USER;
    return DefWindowProcW(window, message, wParam, lParam);
}

// A waiter pumps only WM_USER, and only when asked to; every other message stays queued.
TEST(ThreadOwnerLock, WaiterPumpsOnlyUserMessages)
{
    for (const bool pump : {true, false}) {
        g_dispatched = 0;
        ccThreadOwnerLock lock;
        lock.lock(false);
        std::atomic<bool> posted{false};
        bool left[2] = {};
        std::thread waiter([&] {
            HWND target = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
            SetWindowLongPtrW(target, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countUserMessages));
            PostMessage(target, WM_USER + 1, 0, 0), PostMessage(target, WM_USER, 0, 0);
            posted = true;
            ccThreadOwnerLockGuard(&lock, pump);
            MSG message;
            for (UINT i = 0; i < 2; ++i)
                left[i] = PeekMessageW(&message, nullptr, WM_USER + i, WM_USER + i, PM_REMOVE) != 0;
            DestroyWindow(target);
        });
        while (!posted || (pump && g_dispatched == 0))
            std::this_thread::yield();
        if (!pump) std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the waiter spins meanwhile
        lock.unlock();
        waiter.join();
        EXPECT_EQ(g_dispatched, pump ? 1 : 0) << pump;
        EXPECT_EQ(left[0], !pump) << pump;
        EXPECT_TRUE(left[1]) << pump;
    }
}

struct FakeCompanion {
    std::vector<bool> changes; // changed only under the object's counting lock
    bool fail = false;
    void setStrong(bool strong)
    {
        changes.push_back(strong);
        if (fail) throw ccCOMError(E_FAIL, 0);
    }
};

class Counted : public ccComObjectRoot<ccComFreeThreadModel> {
public:
    CC_COM_COMPANION_COUNTING(companion)
    BEGIN_COM_MAP(Counted)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
    END_COM_MAP()

    FakeCompanion companion;
};

CComObject<Counted>* makeCounted()
{
    CComObject<Counted>* object = nullptr;
    EXPECT_EQ(CComObject<Counted>::CreateInstance(&object), S_OK);
    object->AddRef();
    return object;
}

// Only 1 -> 2 makes the companion strong and only 2 -> 1 makes it weak; its
// failure stays inside AddRef and Release: the count changed and nothing is thrown.
TEST(FreeThreadedCount, CompanionFollowsTheCountAndItsFailureDoesNotEscape)
{
    CComObject<Counted>* object = makeCounted();
    object->companion.fail = true;
    plat::collectEventLines(true);
    std::vector<ULONG> counts;
    EXPECT_NO_THROW((counts = {object->AddRef(), object->AddRef(), object->Release(), object->Release()}));
    plat::collectEventLines(false);
    EXPECT_EQ(counts, (std::vector<ULONG>{2, 3, 2, 1}));
    EXPECT_EQ(object->companion.changes, (std::vector<bool>{true, false}));
    EXPECT_FALSE(plat::takeEventLines().empty());
    object->Release();
}

TEST(FreeThreadedCount, CountsAcrossThreads)
{
    CComObject<Counted>* object = makeCounted();
    onThreads(4, [object](size_t) {
        for (int i = 0; i < 2000; ++i)
            object->AddRef(), object->Release();
    });
    // Strong and weak alternate, ending weak with one reference left.
    const std::vector<bool>& changes = object->companion.changes;
    ASSERT_FALSE(changes.empty());
    for (size_t i = 0; i < changes.size(); ++i)
        EXPECT_EQ(changes[i], i % 2 == 0) << i;
    EXPECT_EQ(changes.size() % 2, 0u);
    EXPECT_EQ(object->Release(), 0u);
}

// Counting never waits for the object's lock, which its methods may hold
// while they count other objects: two objects that do so from two threads
// would wait on each other for ever.
TEST(FreeThreadedCount, CountingDoesNotWaitForTheObjectsLock)
{
    CComObject<Counted>* object = makeCounted();
    object->ownerLock().lock(false);
    const bool counted = test_support::finishedInTime({[object] {
        for (int i = 0; i < 3; ++i) object->AddRef(), object->Release(); // 1 -> 2 -> 1 each time
    }});
    object->ownerLock().unlock();
    ASSERT_TRUE(counted); // else the counting thread still uses the object: it is left
    EXPECT_EQ(object->companion.changes, (std::vector<bool>{true, false, true, false, true, false}));
    EXPECT_EQ(object->Release(), 0u);
}

// One marshaler however many threads ask first; error information for every interface.
TEST(FreeThreadedCount, OneMarshalerForConcurrentFirstQueries)
{
    CComObject<Counted>* object = makeCounted();
    std::vector<IMarshal*> marshalers(8, nullptr);
    onThreads(marshalers.size(), [&](size_t t) {
        EXPECT_EQ(object->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshalers[t])), S_OK);
    });
    for (IMarshal* marshaler : marshalers) {
        EXPECT_EQ(marshaler, marshalers[0]);
        marshaler->Release();
    }
    ISupportErrorInfo* support = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    for (const IID* iid : {&IID_IUnknown, &IID_IMarshal, &IID_IDispatch})
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(*iid), S_OK);
    support->Release();
    EXPECT_EQ(object->Release(), 0u);
}

} // namespace
