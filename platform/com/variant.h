#pragma once
// VARIANT, its type numbers and the automation operations on it. Conversions
// between text and numbers use the user's decimal separator (from the user's
// language), never the process C locale.

#include "platform/com/base.h"

struct SAFEARRAY;

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        int64_t llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        float* pfltVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } brecord;
    };
};
static_assert(sizeof(VARIANT) == 24, "VARIANT keeps its 64-bit layout");

// VariantChangeType flag: booleans become "True" and "False" rather than -1 and 0.
constexpr USHORT VARIANT_ALPHABOOL = 0x2;

constexpr HRESULT VARCMP_LT = 0;
constexpr HRESULT VARCMP_EQ = 1;
constexpr HRESULT VARCMP_GT = 2;
constexpr HRESULT VARCMP_NULL = 3;
constexpr DWORD NORM_IGNORECASE = 0x1;

void VariantInit(VARIANT* v);
// Frees what the value owns (text, interfaces, arrays; never by-reference targets).
HRESULT VariantClear(VARIANT* v);
// Deep copy; copying a VARIANT onto itself does nothing and succeeds.
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// As VariantCopy, with by-reference values read through.
HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src);
// Converts among the scalar types, text and the two interface types; dst may be src.
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, USHORT flags, VARTYPE vt);
HRESULT VarCmp(VARIANT* left, VARIANT* right, LCID lcid, ULONG flags);
// Ordinal comparison of UTF-16 units (ASCII case folded under NORM_IGNORECASE).
HRESULT VarBstrCmp(BSTR left, BSTR right, LCID lcid, ULONG flags);

namespace plat::com {
// The decimal separator of the user's language.
OLECHAR userDecimalSeparator();
} // namespace plat::com
