#pragma once
// Small services of the COM layer: the check of a space name path (parts
// separated by '\' or '/'), the wait the event thread uses, and the reading
// of one SAFEARRAY element into a VARIANT.

#include <cstdint>

#include "platform/com/base.h"
#include "platform/com/safearray.h"
#include "platform/com/variant.h"
#include "platform/sync.h"

// The HRESULT of a bad space name; the message id tells why.
constexpr HRESULT CC_E_BADSPACENAME = static_cast<HRESULT>(0x8004E281u);
constexpr uint32_t kSpaceNameEmpty = 0x80048240u; // null or empty path
constexpr uint32_t kSpaceNameEmptyPart = 0x80048241u; // two separators in a row
constexpr uint32_t kSpaceNameLeadingSeparator = 0x80048242u;
constexpr uint32_t kSpaceNameRelative = 0x80048243u; // a first part of one to three dots
constexpr uint32_t kSpaceNameBlankEdge = 0x80048244u; // a part starts or ends with a blank
constexpr uint32_t kSpaceNameNotPrintable = 0x80048245u;

// S_OK, or throws ccCOMError(CC_E_BADSPACENAME, no capture, the reason's id).
// A single separator at the end is accepted. The whole BSTR is checked: an
// embedded NUL is a character that is not printable.
HRESULT ccValidateSpaceName(BSTR path, bool allowRelative);

// Whether a UTF-16 unit at i of text (length units) is printable, whatever
// the process locale: control characters, the non-characters U+FFFE and
// U+FFFF and unpaired surrogates are not.
bool ccIsPrintableUnit(const OLECHAR* text, uint32_t length, uint32_t i);

using ccCoWaitFunction = HRESULT (*)(DWORD flags, DWORD milliseconds, ULONG count, const plat::Handle* handles,
                                     DWORD* index);

// The wait the event thread uses: the runtime's CoWaitForMultipleHandles
// when the runtime has one, else ccPumpingWait.
ccCoWaitFunction ccGetCoWaitForMultipleHandles();

// The stand-in for the runtime's wait, with its results: S_OK with the index
// of the signalled handle (0 with COWAIT_WAITALL, WAIT_ABANDONED_0 plus the
// index for an abandoned mutex), RPC_S_CALLPENDING when the time-out passes,
// E_INVALIDARG for no handles, a null handle or index, or a wait that fails.
// A thread in a single-threaded apartment dispatches its window messages
// until the handles end the wait or the time-out, counted from the call,
// passes; any other thread waits without dispatching.
HRESULT ccPumpingWait(DWORD flags, DWORD milliseconds, ULONG count, const plat::Handle* handles, DWORD* index);

// One element of array at indices into out, whose old value is not cleared
// (pass an empty one). VT_I2, VT_I4, VT_R4, VT_R8, VT_DISPATCH, VT_BOOL and
// VT_UI1 go into the value of that type, VT_VARIANT into out itself; any
// other type, or one that is not the array's, gives DISP_E_TYPEMISMATCH.
// Otherwise SafeArrayGetElement's result.
HRESULT ccSafeArrayGetVariant(SAFEARRAY* array, const LONG* indices, VARIANT* out, VARTYPE type);
