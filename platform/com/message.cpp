#include "platform/com/message.h"

#include <map>
#include <mutex>
#include <vector>

#include "platform/text.h"
#include "platform/thread.h"

namespace {

struct Target {
    uint32_t owner;
    WNDPROC procedure;
    LONG_PTR userData;
};

// Never destroyed, so that late users at exit find them.
struct Targets {
    std::mutex lock;
    std::map<uintptr_t, Target> byId;
    uintptr_t nextId = 0x10000; // above HWND_BROADCAST; ids are never reused
    std::map<std::wstring, UINT> registered;
};

Targets& targets()
{
    static Targets* instance = new Targets;
    return *instance;
}

uintptr_t idOf(HWND window)
{
    return reinterpret_cast<uintptr_t>(window);
}

// A thread's targets go with it.
void dropThreadTargets()
{
    const uint32_t self = plat::currentThreadId();
    Targets& t = targets();
    std::lock_guard<std::mutex> guard(t.lock);
    for (auto it = t.byId.begin(); it != t.byId.end();)
        it = it->second.owner == self ? t.byId.erase(it) : std::next(it);
}

} // namespace

DWORD GetCurrentThreadId()
{
    return plat::currentThreadId();
}

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    return plat::postThreadMessage(threadId, message, wParam, lParam) ? 1 : 0;
}

BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window == nullptr)
        return plat::touchThread() && plat::postThreadMessage(plat::currentThreadId(), message, wParam, lParam);
    std::vector<std::pair<uintptr_t, uint32_t>> destinations;
    {
        Targets& t = targets();
        std::lock_guard<std::mutex> guard(t.lock);
        if (window == HWND_BROADCAST) {
            for (const auto& [id, target] : t.byId)
                destinations.emplace_back(id, target.owner);
        } else {
            const auto found = t.byId.find(idOf(window));
            if (found == t.byId.end())
                return 0;
            destinations.emplace_back(found->first, found->second.owner);
        }
    }
    bool posted = true;
    for (const auto& [id, owner] : destinations)
        posted = plat::postThreadMessage(owner, id, message, wParam, lParam) && posted;
    return window == HWND_BROADCAST || posted ? 1 : 0;
}

BOOL PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT remove)
{
    if (message == nullptr)
        return 0;
    plat::ThreadMessage taken{};
    if (!plat::peekThreadMessage(&taken, (remove & PM_REMOVE) != 0, first, last, idOf(window)))
        return 0;
    *message = MSG{reinterpret_cast<HWND>(taken.target), taken.message, taken.wParam, taken.lParam};
    return 1;
}

BOOL TranslateMessage(const MSG*)
{
    return 0;
}

LRESULT DispatchMessageW(const MSG* message)
{
    if (message == nullptr || message->hwnd == nullptr)
        return 0;
    WNDPROC procedure = nullptr;
    {
        Targets& t = targets();
        std::lock_guard<std::mutex> guard(t.lock);
        const auto found = t.byId.find(idOf(message->hwnd));
        if (found == t.byId.end())
            return 0;
        procedure = found->second.procedure;
    }
    return procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

namespace {

DWORD waitCode(plat::WaitResult result)
{
    switch (result.status) {
    case plat::WaitStatus::Signalled:
        return WAIT_OBJECT_0 + result.index;
    case plat::WaitStatus::Abandoned:
        return WAIT_ABANDONED_0 + result.index;
    case plat::WaitStatus::TimedOut:
        return WAIT_TIMEOUT;
    case plat::WaitStatus::Failed:
        break;
    }
    return WAIT_FAILED;
}

} // namespace

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const plat::Handle* objects, DWORD milliseconds, DWORD, DWORD flags)
{
    if (count > 0 && objects == nullptr)
        return WAIT_FAILED;
    const auto wait = (flags & MWMO_WAITALL) != 0 ? plat::waitForAllOrMessage : plat::waitForAnyOrMessage;
    return waitCode(wait(objects, count, milliseconds));
}

DWORD WaitForMultipleObjects(DWORD count, const plat::Handle* objects, BOOL waitAll, DWORD milliseconds)
{
    return waitCode((waitAll ? plat::waitForAll : plat::waitForAny)(objects, count, milliseconds));
}

UINT RegisterWindowMessageW(const wchar_t* name)
{
    if (name == nullptr || *name == L'\0')
        return 0;
    Targets& t = targets();
    std::lock_guard<std::mutex> guard(t.lock);
    const std::wstring folded = plat::foldCase(name);
    const auto found = t.registered.find(folded);
    if (found != t.registered.end())
        return found->second;
    const UINT number = 0xC000 + static_cast<UINT>(t.registered.size());
    if (number > 0xFFFF)
        return 0;
    t.registered.emplace(folded, number);
    return number;
}

HWND CreateWindowExW(DWORD, const wchar_t*, const wchar_t*, DWORD, int32_t, int32_t, int32_t, int32_t, HWND parent,
                     void*, void*, void*)
{
    if (parent != nullptr)
        return nullptr;
    // The thread's queue and exit hook, so that posts reach it and its
    // targets go when it ends.
    static const bool hooked = plat::addThreadExitCallback(dropThreadTargets, plat::kThreadExitOrderLibrary + 60);
    if (!hooked || !plat::touchThread())
        return nullptr;
    Targets& t = targets();
    std::lock_guard<std::mutex> guard(t.lock);
    const uintptr_t id = t.nextId++;
    t.byId.emplace(id, Target{plat::currentThreadId(), DefWindowProcW, 0});
    return reinterpret_cast<HWND>(id);
}

BOOL DestroyWindow(HWND window)
{
    Targets& t = targets();
    std::lock_guard<std::mutex> guard(t.lock);
    return t.byId.erase(idOf(window)) != 0 ? 1 : 0;
}

BOOL IsWindow(HWND window)
{
    Targets& t = targets();
    std::lock_guard<std::mutex> guard(t.lock);
    return t.byId.count(idOf(window)) != 0 ? 1 : 0;
}

LONG_PTR SetWindowLongPtrW(HWND window, int32_t index, LONG_PTR value)
{
    Targets& t = targets();
    std::lock_guard<std::mutex> guard(t.lock);
    const auto found = t.byId.find(idOf(window));
    if (found == t.byId.end())
        return 0;
    Target& target = found->second;
    LONG_PTR previous = 0;
    if (index == GWLP_USERDATA) {
        previous = target.userData;
        target.userData = value;
    } else if (index == GWLP_WNDPROC && value != 0) {
        previous = reinterpret_cast<LONG_PTR>(target.procedure);
        target.procedure = reinterpret_cast<WNDPROC>(value);
    }
    return previous;
}

LONG_PTR GetWindowLongPtrW(HWND window, int32_t index)
{
    Targets& t = targets();
    std::lock_guard<std::mutex> guard(t.lock);
    const auto found = t.byId.find(idOf(window));
    if (found == t.byId.end())
        return 0;
    if (index == GWLP_USERDATA)
        return found->second.userData;
    if (index == GWLP_WNDPROC)
        return reinterpret_cast<LONG_PTR>(found->second.procedure);
    return 0;
}

LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}
