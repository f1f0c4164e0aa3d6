#include "platform/com/errorinfo.h"

#include "platform/com/bstr.h"
#include "platform/com/object.h"

#include <mutex>
#include <string>

namespace {

class ErrorInfo : public CComObjectRootEx<CComMultiThreadModel>, public IErrorInfo, public ICreateErrorInfo {
public:
    BEGIN_COM_MAP(ErrorInfo)
    COM_INTERFACE_ENTRY(IErrorInfo)
    COM_INTERFACE_ENTRY(ICreateErrorInfo)
    END_COM_MAP()

    HRESULT GetGUID(GUID* guid) override
    {
        if (!guid) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(mutex_);
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return get(source_, source); }
    HRESULT GetDescription(BSTR* description) override { return get(description_, description); }
    HRESULT GetHelpFile(BSTR* helpFile) override { return get(helpFile_, helpFile); }
    HRESULT GetHelpContext(DWORD* helpContext) override
    {
        if (!helpContext) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(mutex_);
        *helpContext = helpContext_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR source) override { return set(source_, source); }
    HRESULT SetDescription(LPOLESTR description) override { return set(description_, description); }
    HRESULT SetHelpFile(LPOLESTR helpFile) override { return set(helpFile_, helpFile); }
    HRESULT SetHelpContext(DWORD helpContext) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        helpContext_ = helpContext;
        return S_OK;
    }

private:
    HRESULT get(const std::u16string& field, BSTR* out)
    {
        if (!out) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(mutex_);
        *out = SysAllocStringLen(field.data(), static_cast<UINT>(field.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT set(std::u16string& field, LPOLESTR text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            field = text ? std::u16string(text) : std::u16string();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    std::mutex mutex_;
    GUID guid_ = GUID_NULL;
    std::u16string source_;
    std::u16string description_;
    std::u16string helpFile_;
    DWORD helpContext_ = 0;
};

// The thread's slot releases what it holds when the thread ends.
struct Slot {
    IErrorInfo* info = nullptr;
    ~Slot()
    {
        if (info) info->Release();
    }
};
thread_local Slot t_slot;

} // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** info)
{
    return plat::com::createInstance<ErrorInfo>(nullptr, IID_ICreateErrorInfo, reinterpret_cast<void**>(info));
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info)
{
    if (info) info->AddRef();
    IErrorInfo* old = t_slot.info;
    t_slot.info = info;
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info)
{
    if (!info) return E_INVALIDARG;
    *info = t_slot.info;
    t_slot.info = nullptr;
    return *info ? S_OK : S_FALSE;
}
