// Window messages over the platform layer's thread queues: message targets
// (hidden windows) owned by the thread that made them, registered message
// numbers, posting (to a thread, a target, or every target), range-filtered
// peeking, dispatch to a target's procedure and waits that also end on a
// queued message.
//
// A target's messages are queued on its owning thread and reach its
// procedure only when that thread dispatches them. A target goes when it is
// destroyed or its owning thread ends; messages still queued for it are then
// dispatched to nobody.
#pragma once
#include <cstdint>

#include "platform/com/base.h"
#include "platform/sync.h"

using BOOL = int32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using LONG_PTR = intptr_t;

struct HWND__;
using HWND = HWND__*;

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct MSG {
    HWND hwnd; // null for a thread message
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_USER = 0x0400;

constexpr UINT PM_NOREMOVE = 0x0;
constexpr UINT PM_REMOVE = 0x1;

constexpr int32_t GWLP_WNDPROC = -4;
constexpr int32_t GWLP_USERDATA = -21;

constexpr DWORD QS_ALLEVENTS = 0x04BF;
constexpr DWORD MWMO_WAITALL = 0x1;
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Every target, as the destination of a post.
inline HWND const HWND_BROADCAST = reinterpret_cast<HWND>(uintptr_t{0xFFFF});

// The calling thread's kernel id.
DWORD GetCurrentThreadId();

// Queues a thread message (hwnd null); 0 when the thread has no queue. A
// thread has one once it has peeked, waited in an STA or made a target.
BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// Queues a message for a target on its owning thread; null posts a thread
// message to the calling thread, HWND_BROADCAST one to every target. 0 for a
// target that does not exist.
BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The oldest message of the calling thread numbered first to last (both 0:
// any) and, unless window is null, meant for that target; the others stay
// queued in their order.
BOOL PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT remove);
BOOL TranslateMessage(const MSG* message); // nothing to translate: 0
// Calls the target's procedure; 0 for thread messages and unknown targets.
LRESULT DispatchMessageW(const MSG* message);

// WAIT_OBJECT_0 + i when object i is signalled, WAIT_OBJECT_0 + count when
// the calling thread's queue holds a message, WAIT_ABANDONED_0 + i,
// WAIT_TIMEOUT or WAIT_FAILED. Any wake mask counts as every message. With
// MWMO_WAITALL in flags the objects end the wait only all together
// (WAIT_OBJECT_0, see plat::waitForAll); a message still ends it alone.
DWORD MsgWaitForMultipleObjectsEx(DWORD count, const plat::Handle* objects, DWORD milliseconds, DWORD wakeMask,
                                  DWORD flags);

// The same wait without the queue: for one object, or with waitAll for all.
DWORD WaitForMultipleObjects(DWORD count, const plat::Handle* objects, BOOL waitAll, DWORD milliseconds);

// A number from 0xC000 up, the same for the same name (case ignored) for the
// life of the process; 0 for a null or empty name or when the numbers run out.
UINT RegisterWindowMessageW(const wchar_t* name);

// A target owned by the calling thread, its procedure DefWindowProcW. The
// class, names, styles and geometry are not kept; the parent must be null.
HWND CreateWindowExW(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int32_t x,
                     int32_t y, int32_t width, int32_t height, HWND parent, void* menu, void* instance, void* param);
// Any thread may destroy a target; 0 when it does not exist.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// GWLP_USERDATA or GWLP_WNDPROC; the previous value. 0 for another index or
// an unknown target (and a null procedure is refused).
LONG_PTR SetWindowLongPtrW(HWND window, int32_t index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND window, int32_t index);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam); // 0
