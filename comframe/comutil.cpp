#include "comframe/comutil.h"

#include "comframe/comerror.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"

namespace {

bool isSeparator(OLECHAR c) { return c == u'\\' || c == u'/'; }

[[noreturn]] void refuse(uint32_t reason) { throw ccCOMError(CC_E_BADSPACENAME, 0, reason); }

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
    // The runtime always offers the pumping wait itself.
    return &CoWaitForMultipleHandles;
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
