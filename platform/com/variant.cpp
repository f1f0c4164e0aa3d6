#include "platform/com/variant.h"

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/environment.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

bool isArray(VARTYPE vt)
{
    return (vt & VT_ARRAY) != 0;
}

// Types a VARIANT may hold by value.
bool isValueType(VARTYPE vt)
{
    switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
    case VT_NULL: return vt == (vt & VT_TYPEMASK);
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_UI1: return (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) == 0;
    case VT_VARIANT: return (vt & (VT_ARRAY | VT_BYREF)) != 0 && (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) == 0;
    default: return false;
    }
}

BSTR copyBstr(BSTR text, HRESULT* hr)
{
    *hr = S_OK;
    if (!text) return nullptr;
    BSTR copy = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
    if (!copy) *hr = E_OUTOFMEMORY;
    return copy;
}

// A deep copy of src into the cleared dst; by-reference values are copied as pointers.
HRESULT copyValue(VARIANT* dst, const VARIANT* src)
{
    *dst = *src;
    if (src->vt & VT_BYREF) return S_OK;
    HRESULT hr = S_OK;
    if (isArray(src->vt)) {
        hr = SafeArrayCopy(src->parray, &dst->parray);
    } else if (src->vt == VT_BSTR) {
        dst->bstrVal = copyBstr(src->bstrVal, &hr);
    } else if (src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) {
        if (dst->punkVal) dst->punkVal->AddRef();
    }
    if (FAILED(hr)) VariantInit(dst);
    return hr;
}

// Reads a by-reference value into a deep copy held by value.
HRESULT copyIndirect(VARIANT* dst, const VARIANT* src)
{
    if (!(src->vt & VT_BYREF)) return copyValue(dst, src);
    if (!src->byref) return E_INVALIDARG;
    const VARTYPE vt = src->vt & ~VT_BYREF;
    if (vt == VT_VARIANT) {
        const VARIANT* inner = src->pvarVal;
        if (inner->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
        if (!isValueType(inner->vt)) return DISP_E_BADVARTYPE;
        return copyIndirect(dst, inner);
    }
    VARIANT value;
    VariantInit(&value);
    value.vt = vt;
    if (isArray(vt)) {
        value.parray = *src->pparray;
    } else {
        switch (vt) {
        case VT_UI1: value.bVal = *src->pbVal; break;
        case VT_I2: value.iVal = *src->piVal; break;
        case VT_BOOL: value.boolVal = *src->pboolVal; break;
        case VT_I4: value.lVal = *src->plVal; break;
        case VT_ERROR: value.scode = *src->pscode; break;
        case VT_R4: value.fltVal = *src->pfltVal; break;
        case VT_R8: value.dblVal = *src->pdblVal; break;
        case VT_DATE: value.date = *src->pdate; break;
        case VT_BSTR: value.bstrVal = *src->pbstrVal; break;
        case VT_UNKNOWN: value.punkVal = *src->ppunkVal; break;
        case VT_DISPATCH: value.pdispVal = *src->ppdispVal; break;
        default: return DISP_E_BADVARTYPE;
        }
    }
    return copyValue(dst, &value);
}

// Text and numbers -----------------------------------------------------------

bool isSpace(OLECHAR c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Parses the whole text (blanks around it allowed) as a decimal number with
// the user's decimal separator.
HRESULT numberFromText(BSTR text, double* value)
{
    const OLECHAR separator = plat::com::userDecimalSeparator();
    std::string ascii;
    const UINT length = SysStringLen(text);
    UINT i = 0;
    while (i < length && isSpace(text[i])) ++i;
    UINT end = length;
    while (end > i && isSpace(text[end - 1])) --end;
    for (; i < end; ++i) {
        const OLECHAR c = text[i];
        if (c == separator)
            ascii += '.';
        else if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'e' || c == 'E')
            ascii += static_cast<char>(c);
        else
            return DISP_E_TYPEMISMATCH;
    }
    if (ascii.empty()) return DISP_E_TYPEMISMATCH;
    const char* first = ascii.data();
    if (*first == '+' && *++first == '-') return DISP_E_TYPEMISMATCH; // from_chars takes no plus sign, so one sign only
    const auto result = std::from_chars(first, ascii.data() + ascii.size(), *value);
    if (result.ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size()) return DISP_E_TYPEMISMATCH;
    return S_OK;
}

bool equalsAsciiNoCase(BSTR text, const char* word)
{
    const UINT length = SysStringLen(text);
    if (length != std::strlen(word)) return false;
    for (UINT i = 0; i < length; ++i) {
        OLECHAR c = text[i];
        if (c >= 'A' && c <= 'Z') c = OLECHAR(c - 'A' + 'a');
        if (c != OLECHAR(word[i])) return false;
    }
    return true;
}

HRESULT textFromNumber(double value, int digits, BSTR* out)
{
    char buffer[64];
    std::string text;
    if (std::isnan(value)) {
        text = "NaN";
    } else if (std::isinf(value)) {
        text = value < 0 ? "-Infinity" : "Infinity";
    } else {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
        text.assign(buffer, result.ptr);
    }
    std::u16string units;
    for (char c : text) units += c == '.' ? plat::com::userDecimalSeparator() : OLECHAR(c == 'e' ? 'E' : c);
    *out = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Scalars --------------------------------------------------------------------

// The value of a scalar source as a double, or the reason it has none.
HRESULT doubleOf(const VARIANT& v, double* value)
{
    switch (v.vt) {
    case VT_EMPTY: *value = 0; return S_OK;
    case VT_UI1: *value = v.bVal; return S_OK;
    case VT_I2: *value = v.iVal; return S_OK;
    case VT_BOOL: *value = v.boolVal ? -1 : 0; return S_OK;
    case VT_I4: *value = v.lVal; return S_OK;
    case VT_R4: *value = v.fltVal; return S_OK;
    case VT_R8: *value = v.dblVal; return S_OK;
    case VT_BSTR:
        if (equalsAsciiNoCase(v.bstrVal, "true")) {
            *value = -1;
            return S_OK;
        }
        if (equalsAsciiNoCase(v.bstrVal, "false")) {
            *value = 0;
            return S_OK;
        }
        return numberFromText(v.bstrVal, value);
    default: return DISP_E_TYPEMISMATCH;
    }
}

// Rounds half to even, then checks the target's range.
template <class T> HRESULT integerOf(double value, T* result)
{
    if (std::isnan(value)) return DISP_E_OVERFLOW;
    const double rounded = std::nearbyint(value);
    if (rounded < double(std::numeric_limits<T>::min()) || rounded > double(std::numeric_limits<T>::max()))
        return DISP_E_OVERFLOW;
    *result = static_cast<T>(rounded);
    return S_OK;
}

// Converts a by-value scalar or text source into a fresh VARIANT of type vt.
HRESULT convertScalar(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* out)
{
    out->vt = vt;
    if (vt == VT_BSTR) {
        switch (src.vt) {
        case VT_EMPTY: out->bstrVal = SysAllocStringLen(u"", 0); return out->bstrVal ? S_OK : E_OUTOFMEMORY;
        case VT_BOOL:
            if (flags & VARIANT_ALPHABOOL) {
                out->bstrVal = SysAllocString(src.boolVal ? u"True" : u"False");
                return out->bstrVal ? S_OK : E_OUTOFMEMORY;
            }
            return textFromNumber(src.boolVal ? -1 : 0, 15, &out->bstrVal);
        case VT_R4: return textFromNumber(src.fltVal, 7, &out->bstrVal);
        case VT_UI1:
        case VT_I2:
        case VT_I4:
        case VT_R8: {
            double value = 0;
            (void)doubleOf(src, &value); // every one of these has a value
            return textFromNumber(value, 15, &out->bstrVal);
        }
        default: return DISP_E_TYPEMISMATCH;
        }
    }
    if (vt == VT_ERROR) {
        if (src.vt != VT_I4) return DISP_E_TYPEMISMATCH;
        out->scode = src.lVal;
        return S_OK;
    }
    if (src.vt == VT_ERROR) {
        if (vt != VT_I4) return DISP_E_TYPEMISMATCH;
        out->lVal = src.scode;
        return S_OK;
    }
    double value = 0;
    const HRESULT hr = doubleOf(src, &value);
    if (FAILED(hr)) return hr;
    switch (vt) {
    case VT_BOOL: out->boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VT_UI1:
        if (src.vt == VT_BOOL) {
            out->bVal = src.boolVal ? 0xFF : 0;
            return S_OK;
        }
        return integerOf(value, &out->bVal);
    case VT_I2: return integerOf(value, &out->iVal);
    case VT_I4: return integerOf(value, &out->lVal);
    case VT_R4:
        if (std::isfinite(value) && std::fabs(value) > double(std::numeric_limits<float>::max()))
            return DISP_E_OVERFLOW;
        out->fltVal = static_cast<float>(value);
        return S_OK;
    case VT_R8: out->dblVal = value; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT convertInterface(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* out)
{
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        out->vt = vt;
        out->punkVal = nullptr;
        if (!src.punkVal) return S_OK;
        void* result = nullptr;
        if (FAILED(src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &result)))
            return DISP_E_TYPEMISMATCH;
        out->punkVal = static_cast<IUnknown*>(result);
        return S_OK;
    }
    // An object becomes a scalar through its value property.
    if (src.vt != VT_DISPATCH || !src.pdispVal) return DISP_E_TYPEMISMATCH;
    VARIANT value;
    VariantInit(&value);
    DISPPARAMS none = { nullptr, nullptr, 0, 0 };
    HRESULT hr = src.pdispVal->Invoke(
        DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
    if (SUCCEEDED(hr))
        hr = (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) ? DISP_E_TYPEMISMATCH
                                                                 : VariantChangeType(&value, &value, flags, vt);
    if (SUCCEEDED(hr)) {
        *out = value;
        return S_OK;
    }
    (void)VariantClear(&value); // a value this call made
    return hr;
}

} // namespace

void VariantInit(VARIANT* v)
{
    if (!v) return;
    std::memset(v, 0, sizeof *v);
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v) return E_INVALIDARG;
    if (!isValueType(v->vt)) return DISP_E_BADVARTYPE;
    if (!(v->vt & VT_BYREF)) {
        if (isArray(v->vt)) {
            const HRESULT hr = SafeArrayDestroy(v->parray);
            if (FAILED(hr)) return hr;
        } else if (v->vt == VT_BSTR) {
            SysFreeString(v->bstrVal);
        } else if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) {
            v->punkVal->Release();
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src)
{
    if (!dst || !src) return E_INVALIDARG;
    if (dst == src) return S_OK;
    if (!isValueType(src->vt)) return DISP_E_BADVARTYPE;
    // Copy first, so that a failure leaves dst as it was and src may live inside dst.
    VARIANT copy;
    HRESULT hr = copyValue(&copy, src);
    if (SUCCEEDED(hr)) hr = VariantClear(dst);
    if (FAILED(hr)) {
        (void)VariantClear(&copy); // a copy this call made
        return hr;
    }
    *dst = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src)
{
    if (!dst || !src) return E_INVALIDARG;
    if (!isValueType(src->vt)) return DISP_E_BADVARTYPE;
    if (dst == src && !(src->vt & VT_BYREF)) return S_OK;
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = copyIndirect(&copy, src);
    if (SUCCEEDED(hr)) hr = VariantClear(dst);
    if (FAILED(hr)) {
        (void)VariantClear(&copy);
        return hr;
    }
    *dst = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, USHORT flags, VARTYPE vt)
{
    if (!dst || !src) return E_INVALIDARG;
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = VariantCopyInd(&value, src);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    if (value.vt == vt) {
        result = value;
        VariantInit(&value);
    } else if (vt == VT_EMPTY) {
        // An empty result needs nothing of the source.
    } else if (vt == VT_NULL || value.vt == VT_NULL || isArray(value.vt) || isArray(vt)) {
        hr = DISP_E_TYPEMISMATCH;
    } else if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
        hr = convertInterface(value, flags, vt, &result);
    } else {
        hr = convertScalar(value, flags, vt, &result);
    }
    (void)VariantClear(&value); // by value and made here
    if (SUCCEEDED(hr)) hr = VariantClear(dst);
    if (FAILED(hr)) {
        (void)VariantClear(&result);
        return hr;
    }
    *dst = result;
    return S_OK;
}

HRESULT VarBstrCmp(BSTR left, BSTR right, LCID, ULONG flags)
{
    const UINT leftLength = SysStringLen(left);
    const UINT rightLength = SysStringLen(right);
    const auto fold
        = [flags](OLECHAR c) { return (flags & NORM_IGNORECASE) && c >= 'A' && c <= 'Z' ? OLECHAR(c - 'A' + 'a') : c; };
    for (UINT i = 0; i < leftLength && i < rightLength; ++i) {
        const OLECHAR a = fold(left[i]);
        const OLECHAR b = fold(right[i]);
        if (a != b) return a < b ? VARCMP_LT : VARCMP_GT;
    }
    if (leftLength == rightLength) return VARCMP_EQ;
    return leftLength < rightLength ? VARCMP_LT : VARCMP_GT;
}

HRESULT VarCmp(VARIANT* left, VARIANT* right, LCID lcid, ULONG flags)
{
    if (!left || !right) return E_INVALIDARG;
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    HRESULT hr = VariantCopyInd(&a, left);
    if (SUCCEEDED(hr)) hr = VariantCopyInd(&b, right);
    if (SUCCEEDED(hr)) {
        const auto isNumber = [](VARTYPE vt) {
            return vt == VT_EMPTY || vt == VT_UI1 || vt == VT_I2 || vt == VT_I4 || vt == VT_R4 || vt == VT_R8
                || vt == VT_BOOL;
        };
        if (a.vt == VT_NULL || b.vt == VT_NULL) {
            hr = VARCMP_NULL;
        } else if (a.vt == VT_BSTR && b.vt == VT_BSTR) {
            hr = VarBstrCmp(a.bstrVal, b.bstrVal, lcid, flags);
        } else if (a.vt == VT_BSTR && b.vt == VT_EMPTY) {
            hr = VarBstrCmp(a.bstrVal, nullptr, lcid, flags);
        } else if (a.vt == VT_EMPTY && b.vt == VT_BSTR) {
            hr = VarBstrCmp(nullptr, b.bstrVal, lcid, flags);
        } else if (isNumber(a.vt) && isNumber(b.vt)) {
            double x = 0, y = 0;
            (void)doubleOf(a, &x); // numbers always have a value
            (void)doubleOf(b, &y);
            // A NaN equals nothing, itself included; unordered, it sorts after every number.
            if (x < y || x > y || x == y)
                hr = x < y ? VARCMP_LT : x > y ? VARCMP_GT : VARCMP_EQ;
            else
                hr = std::isnan(x) ? VARCMP_GT : VARCMP_LT;
        } else if (a.vt == VT_BSTR && isNumber(b.vt)) {
            hr = VARCMP_GT; // text sorts after every number
        } else if (isNumber(a.vt) && b.vt == VT_BSTR) {
            hr = VARCMP_LT;
        } else {
            hr = DISP_E_TYPEMISMATCH;
        }
    }
    (void)VariantClear(&a);
    (void)VariantClear(&b);
    return hr;
}

namespace plat::com {

OLECHAR userDecimalSeparator()
{
    // Primary languages (low ten bits of the language id) that write a decimal comma.
    static const uint16_t kComma[] = { 0x05, 0x06, 0x07, 0x0A, 0x0B, 0x0C, 0x0E, 0x10, 0x13, 0x14, 0x15, 0x16, 0x18,
        0x19, 0x1B, 0x1D, 0x1F, 0x22, 0x24, 0x25 };
    const uint16_t primary = plat::userLanguage() & 0x3FF;
    for (uint16_t language : kComma)
        if (language == primary) return u',';
    return u'.';
}

} // namespace plat::com
