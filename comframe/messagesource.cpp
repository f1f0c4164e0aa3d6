#include "comframe/messagesource.h"

#include "comframe/comerror.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/environment.h"

#include <map>
#include <mutex>

const IID IID_IQorMessageSource = {0x5C6B0E21, 0x8A4D, 0x4F3B, {0x9E, 0x61, 0x2D, 0x7A, 0x13, 0xC4, 0x58, 0x0B}};
const CLSID CLSID_QorMessageSource = {0x5C6B0E22, 0x8A4D, 0x4F3B, {0x9E, 0x61, 0x2D, 0x7A, 0x13, 0xC4, 0x58, 0x0B}};

namespace {

struct Catalogue {
    std::mutex lock;
    std::map<uint32_t, ccMessageEntry> entries;
    uint16_t language = plat::userLanguage();

    Catalogue()
    {
        static const struct {
            uint32_t id;
            const char16_t* text;
        } standard[] = {
            {0x80048400u, u"The operation completed successfully."},
            {0x80048080u, u"Unspecified error."},
            {0x80048081u, u"Catastrophic failure."},
            {0x80048082u, u"Out of memory."},
            {0x80048083u, u"One or more arguments are invalid."},
            {0x80048084u, u"Invalid pointer."},
            {0x80048085u, u"No such interface supported."},
            {0x80048086u, u"Member not found."},
            {0x80048087u, u"Type mismatch."},
            {0x80048088u, u"Out of present range."},
            {0x80048089u, u"Invalid index."},
            {0x8004808Au, u"Invalid number of parameters."},
            {0x8004808Bu, u"Parameter not optional."},
            {0x8004808Cu, u"Unknown name."},
            {0x8004808Du, u"The path to the object is not valid."},
        };
        for (const auto& row : standard)
            entries[row.id] = ccMessageEntry{row.text, u""};
    }
};

// Made on first use and never destroyed: late reports at exit still find it.
Catalogue& catalogue()
{
    static Catalogue* instance = new Catalogue;
    return *instance;
}

bool findEntry(uint32_t id, ccMessageEntry* entry)
{
    Catalogue& c = catalogue();
    std::lock_guard<std::mutex> guard(c.lock);
    const auto found = c.entries.find(id);
    if (found == c.entries.end()) return false;
    *entry = found->second;
    return true;
}

class MessageSource : public CComObjectRootEx<CComMultiThreadModel>, public IQorMessageSource {
public:
    BEGIN_COM_MAP(MessageSource)
    COM_INTERFACE_ENTRY(IQorMessageSource)
    END_COM_MAP()

    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Init(void*, DWORD) override { return S_OK; }
    HRESULT GetLanguageId(DWORD* language) override
    {
        if (!language) return E_POINTER;
        Catalogue& c = catalogue();
        std::lock_guard<std::mutex> guard(c.lock);
        *language = c.language;
        return S_OK;
    }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT GetText(DWORD id, BSTR* text) override { return get(id, &ccMessageEntry::text, text); }
    HRESULT Reserved9() override { return E_NOTIMPL; }
    HRESULT GetHelpFile(DWORD id, BSTR* helpFile) override { return get(id, &ccMessageEntry::helpFile, helpFile); }
    HRESULT Reserved11() override { return E_NOTIMPL; }
    HRESULT Reserved12() override { return E_NOTIMPL; }
    HRESULT Reserved13() override { return E_NOTIMPL; }
    HRESULT LoadText(DWORD id, OLECHAR* buffer, DWORD capacity) override
    {
        return FormatText(id, buffer, capacity, nullptr, nullptr, nullptr);
    }
    HRESULT FormatText(DWORD id, OLECHAR* buffer, DWORD capacity, LPCOLESTR arg1, LPCOLESTR arg2,
                       LPCOLESTR arg3) override
    {
        if (!buffer || capacity == 0) return E_INVALIDARG;
        buffer[0] = 0;
        try {
            ccMessageEntry entry;
            if (!findEntry(id, &entry)) return E_FAIL;
            ccMessageArgs args;
            if (arg1 || arg2 || arg3) args = ccMessageArgs{arg1, arg2, arg3};
            ccSubstituteMessageArgs(capacity, entry.text.c_str(), buffer, &args);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    HRESULT get(DWORD id, std::u16string ccMessageEntry::*field, BSTR* out)
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        try {
            ccMessageEntry entry;
            if (!findEntry(id, &entry) || (entry.*field).empty()) return E_FAIL;
            *out = SysAllocStringLen((entry.*field).data(), static_cast<UINT>((entry.*field).size()));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return *out ? S_OK : E_OUTOFMEMORY;
    }
};

} // namespace

void* ccModuleInstanceHandle()
{
    // Opaque: an address inside this module.
    static char instance;
    return &instance;
}

HRESULT ccMessageSourceLanguage(uint32_t* language)
{
    if (!language) return E_POINTER;
    IQorMessageSource* source = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_QorMessageSource, nullptr, CLSCTX_ALL, IID_IQorMessageSource,
                                  reinterpret_cast<void**>(&source));
    if (FAILED(hr)) return hr;
    DWORD id = 0;
    hr = source->Init(ccModuleInstanceHandle(), 0);
    if (SUCCEEDED(hr)) hr = source->GetLanguageId(&id);
    source->Release();
    if (SUCCEEDED(hr)) *language = id;
    return hr;
}

HRESULT ccRegisterMessageSource()
{
    return plat::com::registerClass({CLSID_QorMessageSource, &plat::com::createInstance<MessageSource>, L"", L""});
}

void ccSetCatalogueMessage(uint32_t id, const ccMessageEntry& entry)
{
    Catalogue& c = catalogue();
    std::lock_guard<std::mutex> guard(c.lock);
    c.entries[id] = entry;
}

void ccRemoveCatalogueMessage(uint32_t id)
{
    Catalogue& c = catalogue();
    std::lock_guard<std::mutex> guard(c.lock);
    c.entries.erase(id);
}

void ccSetCatalogueLanguage(uint16_t language)
{
    Catalogue& c = catalogue();
    std::lock_guard<std::mutex> guard(c.lock);
    c.language = language;
}
