#include "platform/com/image.h"

#include "platform/com/typeinfo.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <vector>

const GUID LIBID_QorImage = {0x6E1A3D00, 0x7320, 0x4A51, {0x9B, 0x41, 0x51, 0x6F, 0x72, 0x49, 0x6D, 0x01}};
const IID IID_IQorImage = {0x6E1A3D01, 0x7320, 0x4A51, {0x9B, 0x41, 0x51, 0x6F, 0x72, 0x49, 0x6D, 0x01}};

namespace {

using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;

IQorImage* img(void* p) { return static_cast<IQorImage*>(p); }

constexpr USHORT kRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const ParamEntry kRetLong[] = {{u"value", {VT_PTR, VT_I4}, kRet}};
const ParamEntry kRetPels[] = {{u"pels", {VT_PTR, VT_SAFEARRAY, VT_UI1}, kRet}};

const FunctionEntry kImageFunctions[] = {
    {u"Width", 1, INVOKE_PROPERTYGET, kRetLong, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_I4; return img(i)->get_Width(&r->lVal); }},
    {u"Height", 2, INVOKE_PROPERTYGET, kRetLong, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_I4; return img(i)->get_Height(&r->lVal); }},
    {u"PelFormat", 3, INVOKE_PROPERTYGET, kRetLong, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_I4; return img(i)->get_PelFormat(&r->lVal); }},
    {u"Pels", 4, INVOKE_PROPERTYGET, kRetPels, 1, [](void* i, VARIANT*, VARIANT* r) {
        r->vt = VT_ARRAY | VT_UI1;
        return img(i)->get_Pels(&r->parray); }},
};
const InterfaceEntry kImage = {&IID_IQorImage, u"IQorImage", kImageFunctions, std::size(kImageFunctions)};
const InterfaceEntry* const kInterfaces[] = {&kImage};
const plat::com::TypeLibraryEntry kLibrary = {&LIBID_QorImage, 1, 0, kInterfaces, std::size(kInterfaces)};

// The type information of IQorImage, from the library registered once.
ITypeInfo* imageTypeInfo()
{
    static ITypeInfo* const info = [] {
        plat::com::registerTypeLibrary(kLibrary);
        ITypeLib* lib = nullptr;
        ITypeInfo* found = nullptr;
        if (SUCCEEDED(LoadRegTypeLib(LIBID_QorImage, 1, 0, 0, &lib))) {
            if (FAILED(lib->GetTypeInfoOfGuid(IID_IQorImage, &found))) found = nullptr;
            lib->Release();
        }
        return found; // kept for the life of the process
    }();
    return info;
}

class Image final : public IQorImage {
public:
    Image(int32_t width, int32_t height, int32_t format, std::vector<uint8_t> pels)
        : width_(width), height_(height), format_(format), pels_(std::move(pels))
    {
    }

    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        const bool known = iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IQorImage;
        *ppv = known ? static_cast<IQorImage*>(this) : nullptr;
        if (!known) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override
    {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT GetTypeInfoCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = imageTypeInfo() ? 1 : 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        *info = index == 0 ? imageTypeInfo() : nullptr;
        if (!*info) return DISP_E_BADINDEX;
        (*info)->AddRef();
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        ITypeInfo* info = imageTypeInfo();
        return info ? info->GetIDsOfNames(names, count, ids) : E_UNEXPECTED;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                   UINT* argErr) override
    {
        ITypeInfo* info = imageTypeInfo();
        if (!info) return E_UNEXPECTED;
        return info->Invoke(static_cast<IQorImage*>(this), id, flags, params, result, excepInfo, argErr);
    }

    HRESULT get_Width(LONG* width) override { return give(width, width_); }
    HRESULT get_Height(LONG* height) override { return give(height, height_); }
    HRESULT get_PelFormat(LONG* format) override { return give(format, format_); }
    HRESULT get_Pels(SAFEARRAY** pels) override
    {
        if (!pels) return E_POINTER;
        *pels = nullptr;
        SAFEARRAYBOUND bound{static_cast<ULONG>(pels_.size()), 0};
        SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
        if (!array) return E_OUTOFMEMORY;
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            (void)SafeArrayDestroy(array);
            return E_UNEXPECTED;
        }
        if (!pels_.empty()) std::memcpy(data, pels_.data(), pels_.size());
        (void)SafeArrayUnaccessData(array); // accessed just above
        *pels = array;
        return S_OK;
    }
    const uint8_t* pelData() override { return pels_.data(); }

private:
    static HRESULT give(LONG* out, int32_t value)
    {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }

    std::atomic<ULONG> references_{1};
    const int32_t width_, height_, format_;
    const std::vector<uint8_t> pels_;
};

} // namespace

namespace plat::com {

int32_t imagePlaneCount(int32_t pelFormat)
{
    return pelFormat == qorImageGrey8 ? 1 : pelFormat == qorImagePlanar3 ? 3 : 0;
}

HRESULT createImage(int32_t width, int32_t height, int32_t pelFormat, const uint8_t* const* rows, IQorImage** image)
{
    if (!image) return E_POINTER;
    *image = nullptr;
    const int32_t planes = imagePlaneCount(pelFormat);
    if (planes == 0 || width < 0 || height < 0) return E_INVALIDARG;
    const int64_t bytes = int64_t{width} * height * planes;
    if (bytes > std::numeric_limits<int32_t>::max()) return E_INVALIDARG;
    if (bytes > 0 && !rows) return E_POINTER;
    try {
        std::vector<uint8_t> pels(static_cast<size_t>(bytes));
        const int64_t rowCount = int64_t{height} * planes;
        for (int64_t r = 0; r < rowCount && width > 0; ++r) {
            if (!rows[r]) return E_POINTER;
            std::memcpy(pels.data() + r * width, rows[r], static_cast<size_t>(width));
        }
        *image = new Image(width, height, pelFormat, std::move(pels));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace plat::com
