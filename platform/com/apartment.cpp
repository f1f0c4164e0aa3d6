#include "platform/com/apartment.h"

#include <chrono>
#include <new>

#include "platform/com/internal/apartment.h"
#include "platform/thread.h"

namespace plat::com::detail {
namespace {

// A thread's place in the apartments, kept in a platform slot so that its
// exit work can still end its STA.
struct ThreadApartment {
    int32_t count = 0;
    bool sta = false;
    std::shared_ptr<Apartment> apartment;
};

void endThreadApartment();

uint32_t apartmentSlot()
{
    static const uint32_t slot = [] {
        uint32_t key = 0;
        if (!plat::tlsAlloc(&key) || !plat::addThreadExitCallback(endThreadApartment, plat::kThreadExitOrderLibrary + 50))
            return UINT32_MAX;
        return key;
    }();
    return slot;
}

ThreadApartment* threadApartment(bool make)
{
    const uint32_t slot = apartmentSlot();
    void* value = nullptr;
    if (slot == UINT32_MAX || !plat::tlsGet(slot, &value))
        return nullptr;
    if (value == nullptr && make) {
        auto* state = new (std::nothrow) ThreadApartment;
        if (state == nullptr || !plat::tlsSet(slot, state)) {
            delete state;
            return nullptr;
        }
        value = state;
    }
    return static_cast<ThreadApartment*>(value);
}

// A thread that ends inside its STA leaves it: callers elsewhere are
// disconnected instead of waiting on a thread that is gone.
void endThreadApartment()
{
    ThreadApartment* state = threadApartment(false);
    if (state == nullptr)
        return;
    if (state->apartment)
        state->apartment->end();
    (void)plat::tlsSet(apartmentSlot(), nullptr); // the slot exists: state was found in it
    delete state;
}

} // namespace

struct Apartment::Call {
    std::function<HRESULT()> work;
    plat::Handle done = nullptr; // null when nobody waits
    HRESULT result = RPC_E_DISCONNECTED;
};

HRESULT Apartment::call(const std::function<HRESULT()>& work)
{
    if (plat::currentThreadId() == owner_) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (ended_)
                return RPC_E_DISCONNECTED;
        }
        return work();
    }
    auto waiting = std::make_shared<Call>();
    waiting->work = work;
    waiting->done = plat::createEvent(true, false);
    if (waiting->done == nullptr)
        return E_OUTOFMEMORY;
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!ended_) {
            id = nextId_++;
            pending_.emplace(id, waiting);
        }
    }
    bool queued = id != 0 && PostMessage(target_, WM_USER, id, 0);
    if (id != 0 && !queued) {
        std::lock_guard<std::mutex> guard(lock_);
        queued = pending_.erase(id) == 0; // else end() has it and will answer
    }
    if (queued) {
        DWORD index = 0;
        if (currentSta())
            (void)CoWaitForMultipleHandles(0, INFINITE, 1, &waiting->done, &index); // no time-out: cannot fail
        else
            (void)plat::waitFor(waiting->done, plat::kInfiniteWait);
    }
    (void)plat::closeHandle(waiting->done);
    return waiting->result;
}

bool Apartment::post(std::function<HRESULT()> work)
{
    auto posted = std::make_shared<Call>();
    posted->work = std::move(work);
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (ended_)
            return false;
        id = nextId_++;
        pending_.emplace(id, posted);
    }
    if (!PostMessage(target_, WM_USER, id, 0)) {
        std::lock_guard<std::mutex> guard(lock_);
        return pending_.erase(id) == 0; // else end() has it and runs it
    }
    return true;
}

void Apartment::run(uint64_t id)
{
    std::shared_ptr<Call> taken;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = pending_.find(id);
        if (found == pending_.end())
            return;
        taken = std::move(found->second);
        pending_.erase(found);
    }
    HRESULT result = E_UNEXPECTED;
    try {
        result = taken->work();
    } catch (...) {
        // An exception does not cross to the caller's thread.
    }
    taken->result = result;
    if (taken->done != nullptr)
        (void)plat::setEvent(taken->done); // a live event: its waiter closes it
}

uint64_t Apartment::addStub(IUnknown* object)
{
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (ended_ || object == nullptr)
            return 0;
        id = nextId_++;
        stubs_.emplace(id, object);
    }
    object->AddRef();
    return id;
}

IUnknown* Apartment::stub(uint64_t id)
{
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = stubs_.find(id);
    return found == stubs_.end() ? nullptr : found->second;
}

void Apartment::releaseStub(uint64_t id)
{
    if (plat::currentThreadId() != owner_) {
        post([this, id] {
            releaseStub(id);
            return S_OK;
        });
        return;
    }
    IUnknown* object = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = stubs_.find(id);
        if (found == stubs_.end())
            return;
        object = found->second;
        stubs_.erase(found);
    }
    object->Release();
}

void Apartment::end()
{
    std::map<uint64_t, std::shared_ptr<Call>> pending;
    std::map<uint64_t, IUnknown*> stubs;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (ended_)
            return;
        ended_ = true;
        pending.swap(pending_);
        stubs.swap(stubs_);
    }
    for (auto& [id, waiting] : pending) {
        if (waiting->done != nullptr) {
            (void)plat::setEvent(waiting->done); // answered RPC_E_DISCONNECTED
            continue;
        }
        // Posted work (references let go here) still runs on this thread.
        try {
            (void)waiting->work();
        } catch (...) {
        }
    }
    for (auto& [id, object] : stubs)
        object->Release();
    (void)DestroyWindow(target_); // this thread's own target
}

LRESULT Apartment::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_USER)
        return DefWindowProcW(window, message, wParam, lParam);
    auto* apartment = reinterpret_cast<Apartment*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (apartment != nullptr)
        apartment->run(wParam);
    return 0;
}

std::shared_ptr<Apartment> currentSta()
{
    ThreadApartment* state = threadApartment(false);
    return state != nullptr && state->sta ? state->apartment : nullptr;
}

} // namespace plat::com::detail

namespace plat::com {

ApartmentHome ApartmentHome::current()
{
    ApartmentHome home;
    home.apartment_ = detail::currentSta();
    return home;
}

void ApartmentHome::release(IUnknown* object) const
{
    if (object == nullptr)
        return;
    if (apartment_ && plat::currentThreadId() != apartment_->owner()) {
        try {
            if (apartment_->post([object] {
                    object->Release();
                    return S_OK;
                }))
                return;
        } catch (const std::bad_alloc&) {
            // no room to queue it: let go here rather than keep it for ever
        }
    }
    object->Release();
}

} // namespace plat::com

using plat::com::detail::Apartment;
using plat::com::detail::ThreadApartment;

HRESULT CoInitializeEx(void*, DWORD coInit)
{
    const bool sta = (coInit & COINIT_APARTMENTTHREADED) != 0;
    ThreadApartment* state = plat::com::detail::threadApartment(true);
    if (state == nullptr)
        return E_OUTOFMEMORY;
    if (state->count > 0) {
        if (state->sta != sta)
            return RPC_E_CHANGED_MODE;
        ++state->count;
        return S_FALSE;
    }
    if (sta) {
        const HWND target = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        if (target == nullptr)
            return E_OUTOFMEMORY;
        try {
            state->apartment = std::make_shared<Apartment>(GetCurrentThreadId(), target);
        } catch (const std::bad_alloc&) {
            (void)DestroyWindow(target);
            return E_OUTOFMEMORY;
        }
        (void)SetWindowLongPtrW(target, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state->apartment.get()));
        (void)SetWindowLongPtrW(target, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Apartment::procedure));
    }
    state->sta = sta;
    state->count = 1;
    return S_OK;
}

void CoUninitialize()
{
    ThreadApartment* state = plat::com::detail::threadApartment(false);
    if (state == nullptr || state->count == 0 || --state->count > 0)
        return;
    if (state->apartment) {
        state->apartment->end();
        state->apartment.reset();
    }
    state->sta = false;
}

HRESULT CoWaitForMultipleHandles(DWORD flags, DWORD milliseconds, ULONG count, const plat::Handle* handles, DWORD* index)
{
    if (count == 0 || handles == nullptr || index == nullptr)
        return E_INVALIDARG;
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    const bool pump = plat::com::detail::currentSta() != nullptr;
    const bool all = (flags & COWAIT_WAITALL) != 0;
    for (;;) {
        DWORD remaining = INFINITE;
        if (!forever) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            remaining = left > 0 ? static_cast<DWORD>(left) : 0;
        }
        const auto wait = pump ? (all ? plat::waitForAllOrMessage : plat::waitForAnyOrMessage)
                               : (all ? plat::waitForAll : plat::waitForAny);
        const plat::WaitResult result = wait(handles, count, remaining);
        switch (result.status) {
        case plat::WaitStatus::Signalled:
            if (result.index < count) {
                *index = result.index;
                return S_OK;
            }
            break; // a message
        case plat::WaitStatus::Abandoned:
            *index = WAIT_ABANDONED_0 + result.index;
            return S_OK;
        case plat::WaitStatus::TimedOut:
            return RPC_S_CALLPENDING;
        case plat::WaitStatus::Failed:
            return E_INVALIDARG;
        }
        // Messages that keep coming do not hold the wait past its time-out.
        if (!forever && Clock::now() >= deadline)
            return RPC_S_CALLPENDING;
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            (void)TranslateMessage(&message);
            (void)DispatchMessageW(&message);
        }
    }
}
