// Message targets for tests of waits that dispatch: one whose procedure sets
// the event held as its user data at message WM_USER + 1, one that posts
// itself again at every dispatch so that its queue is never empty.
#pragma once
#include "platform/com/message.h"
#include "platform/sync.h"

inline LRESULT setEventProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER + 1)
        plat::setEvent(reinterpret_cast<plat::Handle>(GetWindowLongPtrW(window, GWLP_USERDATA)));
    return DefWindowProcW(window, message, wParam, lParam);
}

inline LRESULT floodProcedure(HWND window, UINT message, WPARAM, LPARAM)
{
    PostMessage(window, message, 0, 0);
    return 0;
}

// A target of the calling thread with that procedure and user data.
inline HWND makeTarget(WNDPROC procedure, LONG_PTR userData)
{
    const HWND target = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(target, GWLP_USERDATA, userData);
    SetWindowLongPtrW(target, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    return target;
}
