#include "platform/com/safearray.h"

#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The element type sits in a prefix before the descriptor.
struct alignas(16) Prefix {
    VARTYPE vt;
};
constexpr size_t kPrefixSize = sizeof(Prefix);

Prefix* prefixOf(SAFEARRAY* array)
{
    return reinterpret_cast<Prefix*>(reinterpret_cast<unsigned char*>(array) - kPrefixSize);
}

uint32_t elementSize(VARTYPE vt, USHORT* features)
{
    *features = FADF_HAVEVARTYPE;
    switch (vt) {
    case VT_UI1: return 1;
    case VT_I2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_R8:
    case VT_DATE: return 8;
    case VT_BSTR: *features |= FADF_BSTR; return sizeof(BSTR);
    case VT_UNKNOWN: *features |= FADF_UNKNOWN; return sizeof(IUnknown*);
    case VT_DISPATCH: *features |= FADF_DISPATCH; return sizeof(IDispatch*);
    case VT_VARIANT: *features |= FADF_VARIANT; return sizeof(VARIANT);
    default: return 0;
    }
}

// Bounds of dimension dim (1 = leftmost); the descriptor keeps them reversed.
SAFEARRAYBOUND& boundOf(SAFEARRAY* array, UINT dim)
{
    return array->rgsabound[array->cDims - dim];
}

uint64_t elementCount(SAFEARRAY* array)
{
    uint64_t count = 1;
    for (UINT i = 0; i < array->cDims; ++i) count *= array->rgsabound[i].cElements;
    return count;
}

void releaseElements(SAFEARRAY* array, VARTYPE vt)
{
    const uint64_t count = elementCount(array);
    for (uint64_t i = 0; i < count; ++i) {
        void* slot = static_cast<unsigned char*>(array->pvData) + i * array->cbElements;
        switch (vt) {
        case VT_BSTR: SysFreeString(*static_cast<BSTR*>(slot)); break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (auto* unknown = *static_cast<IUnknown**>(slot)) unknown->Release();
            break;
        case VT_VARIANT: (void)VariantClear(static_cast<VARIANT*>(slot)); break; // a cleared slot cannot fail
        default: break;
        }
    }
}

// Copies one element into uninitialised storage.
HRESULT copyElement(VARTYPE vt, const void* from, void* to, uint32_t size)
{
    switch (vt) {
    case VT_BSTR: {
        BSTR text = *static_cast<const BSTR*>(from);
        BSTR copy = nullptr;
        if (text && !(copy = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text))))
            return E_OUTOFMEMORY;
        *static_cast<BSTR*>(to) = copy;
        return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
        IUnknown* unknown = *static_cast<IUnknown* const*>(from);
        if (unknown) unknown->AddRef();
        *static_cast<IUnknown**>(to) = unknown;
        return S_OK;
    }
    case VT_VARIANT:
        VariantInit(static_cast<VARIANT*>(to));
        return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(from));
    default: std::memcpy(to, from, size); return S_OK;
    }
}

} // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds)
{
    USHORT features;
    const uint32_t size = elementSize(vt, &features);
    if (size == 0 || cDims == 0 || cDims > 0xFFFF || !bounds) return nullptr;
    uint64_t bytes = size;
    for (UINT i = 0; i < cDims; ++i) {
        bytes *= bounds[i].cElements;
        if (int64_t(bounds[i].lLbound) + bounds[i].cElements - 1 > INT32_MAX) return nullptr; // upper bound unreadable
        if (bytes > 0x7FFFFFFFu) return nullptr;
    }
    const size_t header = kPrefixSize + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, header));
    if (!block) return nullptr;
    void* data = std::calloc(1, bytes ? bytes : 1); // zero bytes: VT_EMPTY VARIANTs, null text and interfaces
    if (!data) {
        std::free(block);
        return nullptr;
    }
    reinterpret_cast<Prefix*>(block)->vt = vt;
    auto* array = reinterpret_cast<SAFEARRAY*>(block + kPrefixSize);
    array->cDims = static_cast<USHORT>(cDims);
    array->fFeatures = features;
    array->cbElements = size;
    array->pvData = data;
    for (UINT i = 0; i < cDims; ++i) boundOf(array, i + 1) = bounds[i];
    return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array)
{
    if (!array) return S_OK;
    if (array->cLocks) return DISP_E_ARRAYISLOCKED;
    releaseElements(array, prefixOf(array)->vt);
    std::free(array->pvData);
    std::free(prefixOf(array));
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy)
{
    if (!copy) return E_INVALIDARG;
    *copy = nullptr;
    if (!array) return S_OK;
    const VARTYPE vt = prefixOf(array)->vt;
    SAFEARRAYBOUND* bounds = new (std::nothrow) SAFEARRAYBOUND[array->cDims];
    if (!bounds) return E_OUTOFMEMORY;
    for (UINT d = 1; d <= array->cDims; ++d) bounds[d - 1] = boundOf(array, d);
    SAFEARRAY* result = SafeArrayCreate(vt, array->cDims, bounds);
    delete[] bounds;
    if (!result) return E_OUTOFMEMORY;
    const uint64_t count = elementCount(array);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t offset = i * array->cbElements;
        const HRESULT hr = copyElement(vt, static_cast<unsigned char*>(array->pvData) + offset,
            static_cast<unsigned char*>(result->pvData) + offset, array->cbElements);
        if (FAILED(hr)) {
            (void)SafeArrayDestroy(result); // unlocked: cannot fail
            return hr;
        }
    }
    *copy = result;
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array)
{
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0xFFFFFFFFu) return E_UNEXPECTED;
    ++array->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array)
{
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data)
{
    if (!data) return E_INVALIDARG;
    *data = nullptr;
    const HRESULT hr = SafeArrayLock(array);
    if (SUCCEEDED(hr)) *data = array->pvData;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array)
{
    return SafeArrayUnlock(array);
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* element)
{
    if (!array || !indices || !element) return E_INVALIDARG;
    uint64_t offset = 0;
    uint64_t stride = 1;
    for (UINT d = 1; d <= array->cDims; ++d) {
        const SAFEARRAYBOUND& bound = boundOf(array, d);
        const int64_t index = int64_t(indices[d - 1]) - bound.lLbound;
        if (index < 0 || index >= int64_t(bound.cElements)) return DISP_E_BADINDEX;
        offset += uint64_t(index) * stride;
        stride *= bound.cElements;
    }
    return copyElement(prefixOf(array)->vt, static_cast<unsigned char*>(array->pvData) + offset * array->cbElements,
        element, array->cbElements);
}

UINT SafeArrayGetDim(SAFEARRAY* array)
{
    return array ? array->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* array)
{
    return array ? array->cbElements : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound)
{
    if (!array || !bound) return E_INVALIDARG;
    if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
    *bound = boundOf(array, dim).lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound)
{
    if (!array || !bound) return E_INVALIDARG;
    if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = boundOf(array, dim);
    *bound = static_cast<LONG>(int64_t(b.lLbound) + int64_t(b.cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt)
{
    if (!array || !vt) return E_INVALIDARG;
    *vt = prefixOf(array)->vt;
    return S_OK;
}
