#include "comframe/threadlock.h"

#include "comframe/objectroot.h"
#include "platform/clock.h"
#include "platform/com/git.h"
#include "platform/com/message.h"
#include "platform/event_log.h"

#include <cassert>

int32_t ccThreadOwnerLock::lock(bool pumpMessages)
{
    const uint32_t self = GetCurrentThreadId();
    if (owner_.load(std::memory_order_relaxed) != self) {
        for (;;) {
            uint32_t expected = 0;
            if (owner_.compare_exchange_strong(expected, self, std::memory_order_acquire, std::memory_order_relaxed))
                break;
            MSG message;
            if (pumpMessages && PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            } else {
                plat::sleepMilliseconds(1);
            }
            // A dispatched call may have taken the lock for this thread and left it held.
            if (owner_.load(std::memory_order_acquire) == self) break;
        }
    }
    ++count_;
    return 0;
}

void ccThreadOwnerLock::unlock()
{
    assert(owner_.load(std::memory_order_relaxed) == GetCurrentThreadId());
    if (--count_ == 0) owner_.store(0, std::memory_order_release);
}

void cc_comframe::dropCompanionFailure() noexcept
{
    try {
        plat::reportEvent(L"qorx7320", L"a .NET companion could not change its strength; its handle was dropped");
    } catch (...) {
    }
}

HRESULT ccComObjectRoot<ccComFreeThreadModel>::queryMarshaler(IUnknown* controlling, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* marshaler = marshaler_.load(std::memory_order_acquire);
    if (!marshaler) {
        IUnknown* made = nullptr;
        if (FAILED(CoCreateFreeThreadedMarshaler(controlling, &made)) || !made) return E_NOINTERFACE;
        IUnknown* expected = nullptr;
        if (marshaler_.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
            marshaler = made;
        } else {
            made->Release(); // another thread's marshaler won
            marshaler = expected;
        }
    }
    return marshaler->QueryInterface(iid, ppv);
}
