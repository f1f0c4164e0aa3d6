#include "comframe/comutil.h"

#include <atomic>
#include <chrono>

#include "comframe/comerror.h"
#include "comframe/comutil_testing.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/message.h"

namespace {

bool isSeparator(OLECHAR c) { return c == u'\\' || c == u'/'; }

[[noreturn]] void refuse(uint32_t reason) { throw ccCOMError(CC_E_BADSPACENAME, 0, reason); }

// The runtime's own wait; null as on a runtime without one.
std::atomic<ccCoWaitFunction> runtimeWait{&CoWaitForMultipleHandles};

// A wait's code as the runtime's wait reports it; a failed wait is no success.
HRESULT waitResult(DWORD code, DWORD* index)
{
    if (code == WAIT_TIMEOUT) return RPC_S_CALLPENDING;
    if (code == WAIT_FAILED) return E_INVALIDARG;
    *index = code; // WAIT_OBJECT_0 or WAIT_ABANDONED_0, plus the index
    return S_OK;
}

} // namespace

bool ccIsPrintableUnit(const OLECHAR* text, uint32_t length, uint32_t i)
{
    const char16_t c = text[i];
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) return i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (c >= 0xDC00 && c <= 0xDFFF) return i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
    return true;
}

HRESULT ccValidateSpaceName(BSTR path, bool allowRelative)
{
    const uint32_t length = SysStringLen(path);
    if (length == 0) refuse(kSpaceNameEmpty);
    uint32_t first = 0;
    while (first < length && !isSeparator(path[first]))
        ++first;
    if (first == 0) refuse(kSpaceNameLeadingSeparator);
    if (!allowRelative && first <= 3) {
        uint32_t dots = 0;
        while (dots < first && path[dots] == u'.')
            ++dots;
        if (dots == first) refuse(kSpaceNameRelative);
    }
    for (uint32_t start = 0; start < length;) {
        uint32_t end = start;
        while (end < length && !isSeparator(path[end]))
            ++end;
        if (end == start) refuse(kSpaceNameEmptyPart);
        if (path[start] == u' ' || path[end - 1] == u' ') refuse(kSpaceNameBlankEdge);
        for (uint32_t i = start; i < end; ++i)
            if (!ccIsPrintableUnit(path, length, i)) refuse(kSpaceNameNotPrintable);
        start = end + 1; // one separator; one at the very end ends the path
    }
    return S_OK;
}

ccCoWaitFunction ccGetCoWaitForMultipleHandles()
{
    const ccCoWaitFunction runtime = runtimeWait.load();
    return runtime ? runtime : &ccPumpingWait;
}

void ccComUtilTesting::setRuntimeWaitAvailable(bool available)
{
    runtimeWait.store(available ? &CoWaitForMultipleHandles : nullptr);
}

HRESULT ccPumpingWait(DWORD flags, DWORD milliseconds, ULONG count, const plat::Handle* handles, DWORD* index)
{
    if (count == 0 || !handles || !index) return E_INVALIDARG;
    const BOOL all = (flags & COWAIT_WAITALL) != 0;
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (joined != RPC_E_CHANGED_MODE) {
        // Not in an STA: nothing to dispatch. A thread that could not join
        // still waits.
        if (SUCCEEDED(joined)) CoUninitialize();
        return waitResult(WaitForMultipleObjects(count, handles, all, milliseconds), index);
    }
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    for (;;) {
        DWORD remaining = INFINITE;
        if (!forever) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            remaining = left > 0 ? static_cast<DWORD>(left) : 0;
        }
        const DWORD woken =
            MsgWaitForMultipleObjectsEx(count, handles, remaining, QS_ALLEVENTS, all ? MWMO_WAITALL : 0);
        if (woken != WAIT_OBJECT_0 + count) return waitResult(woken, index);
        // One message per look at the handles: a busy queue does not hold up
        // a wait whose handles are signalled.
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            (void)TranslateMessage(&message);
            (void)DispatchMessageW(&message);
        }
        // Messages that keep coming do not hold the wait past its time-out.
        if (!forever && Clock::now() >= deadline)
            return waitResult(WaitForMultipleObjects(count, handles, all, 0), index);
    }
}

HRESULT ccSafeArrayGetVariant(SAFEARRAY* array, const LONG* indices, VARIANT* out, VARTYPE type)
{
    if (!out) return E_POINTER;
    // The element is copied as the array's type: read as another, its bytes
    // would sit under a wrong tag (a number released as an interface).
    VARTYPE held = VT_EMPTY;
    const HRESULT kind = SafeArrayGetVartype(array, &held);
    if (FAILED(kind)) return kind;
    if (held != type) return DISP_E_TYPEMISMATCH;
    void* field = nullptr;
    switch (type) {
    case VT_I2: field = &out->iVal; break;
    case VT_I4: field = &out->lVal; break;
    case VT_R4: field = &out->fltVal; break;
    case VT_R8: field = &out->dblVal; break;
    case VT_DISPATCH: field = &out->pdispVal; break;
    case VT_BOOL: field = &out->boolVal; break;
    case VT_UI1: field = &out->bVal; break;
    case VT_VARIANT: return SafeArrayGetElement(array, indices, out);
    default: return DISP_E_TYPEMISMATCH;
    }
    // The type is set only once the value is there.
    const HRESULT hr = SafeArrayGetElement(array, indices, field);
    if (SUCCEEDED(hr)) out->vt = type;
    return hr;
}
