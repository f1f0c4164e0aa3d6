#include "platform/com/classes.h"
#include "platform/com/git.h"

#include "platform/com/bstr.h"
#include "platform/text.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace plat::com {
namespace {

    struct ClassTable {
        std::mutex mutex;
        std::map<CLSID, ClassRegistration> classes;
    };

    // Created on first use and never destroyed: late releases at exit find it.
    ClassTable& table()
    {
        static ClassTable* instance = [] {
            auto* t = new ClassTable;
            // The runtime's own classes.
            t->classes[CLSID_StdGlobalInterfaceTable] = {CLSID_StdGlobalInterfaceTable, createGlobalInterfaceTable,
                                                         L"", L""};
            return t;
        }();
        return *instance;
    }

    bool sameProgId(const std::wstring& a, const std::wstring& b)
    {
        return !a.empty() && plat::foldCase(a) == plat::foldCase(b);
    }

    bool findCreator(REFCLSID clsid, CreatorFunction* creator)
    {
        ClassTable& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        const auto found = t.classes.find(clsid);
        if (found == t.classes.end()) return false;
        *creator = found->second.creator;
        return true;
    }

    int hexValue(OLECHAR c)
    {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // Reads digits hex digits at text[at].
    bool readHex(LPCOLESTR text, int at, int digits, uint64_t* value)
    {
        *value = 0;
        for (int i = 0; i < digits; ++i) {
            const int digit = hexValue(text[at + i]);
            if (digit < 0) return false;
            *value = *value << 4 | uint64_t(digit);
        }
        return true;
    }

    constexpr int kGuidTextLength = 38;

    bool guidFromText(LPCOLESTR text, GUID* guid)
    {
        if (!text) return false;
        for (int i = 0; i < kGuidTextLength; ++i)
            if (!text[i]) return false; // too short: never read past the NUL
        if (text[kGuidTextLength] || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-'
            || text[19] != '-' || text[24] != '-')
            return false;
        uint64_t d1, d2, d3, d4, d5;
        if (!readHex(text, 1, 8, &d1) || !readHex(text, 10, 4, &d2) || !readHex(text, 15, 4, &d3)
            || !readHex(text, 20, 4, &d4) || !readHex(text, 25, 12, &d5))
            return false;
        guid->Data1 = uint32_t(d1);
        guid->Data2 = uint16_t(d2);
        guid->Data3 = uint16_t(d3);
        guid->Data4[0] = uint8_t(d4 >> 8);
        guid->Data4[1] = uint8_t(d4);
        for (int i = 0; i < 6; ++i) guid->Data4[2 + i] = uint8_t(d5 >> (40 - 8 * i));
        return true;
    }

    LPOLESTR taskMemText(const std::u16string& text)
    {
        auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
        if (out) std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
        return out;
    }

} // namespace

HRESULT registerClass(const ClassRegistration& registration)
{
    if (!registration.creator) return E_INVALIDARG;
    ClassTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& [clsid, other] : t.classes) {
        if (clsid == registration.clsid) continue;
        for (const std::wstring* name : { &registration.progId, &registration.versionIndependentProgId })
            if (sameProgId(*name, other.progId) || sameProgId(*name, other.versionIndependentProgId))
                return E_INVALIDARG;
    }
    t.classes[registration.clsid] = registration;
    return S_OK;
}

HRESULT unregisterClass(REFCLSID clsid)
{
    ClassTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.classes.erase(clsid) ? S_OK : S_FALSE;
}

} // namespace plat::com

using plat::com::CreatorFunction;

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CreatorFunction creator = nullptr;
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) || !plat::com::findCreator(clsid, &creator))
        return REGDB_E_CLASSNOTREG;
    return creator(outer, iid, ppv);
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CreatorFunction creator = nullptr;
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) || !plat::com::findCreator(clsid, &creator))
        return REGDB_E_CLASSNOTREG;
    return plat::com::createClassFactory(creator, iid, ppv);
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid)
{
    if (!clsid) return E_INVALIDARG;
    return plat::com::guidFromText(text, clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid)
{
    if (!iid) return E_INVALIDARG;
    return plat::com::guidFromText(text, iid) ? S_OK : E_INVALIDARG;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid)
{
    if (!progId || !clsid) return E_INVALIDARG;
    size_t length = 0;
    while (progId[length]) ++length;
    const std::wstring name = plat::wideFromUtf16(progId, length);
    plat::com::ClassTable& t = plat::com::table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& [id, registration] : t.classes) {
        if (plat::com::sameProgId(name, registration.progId)
            || plat::com::sameProgId(name, registration.versionIndependentProgId)) {
            *clsid = id;
            return S_OK;
        }
    }
    return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId)
{
    if (!progId) return E_INVALIDARG;
    *progId = nullptr;
    std::u16string name;
    {
        plat::com::ClassTable& t = plat::com::table();
        std::lock_guard<std::mutex> lock(t.mutex);
        const auto found = t.classes.find(clsid);
        if (found == t.classes.end() || found->second.progId.empty()) return REGDB_E_CLASSNOTREG;
        name = plat::utf16FromWide(found->second.progId);
    }
    *progId = plat::com::taskMemText(name);
    return *progId ? S_OK : E_OUTOFMEMORY;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size)
{
    if (!buffer || size < plat::com::kGuidTextLength + 1) return 0;
    char text[plat::com::kGuidTextLength + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(guid.Data1),
        unsigned(guid.Data2), unsigned(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
        guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    for (int i = 0; i <= plat::com::kGuidTextLength; ++i) buffer[i] = OLECHAR(text[i]);
    return plat::com::kGuidTextLength + 1;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text)
{
    if (!text) return E_INVALIDARG;
    OLECHAR buffer[plat::com::kGuidTextLength + 1];
    StringFromGUID2(clsid, buffer, plat::com::kGuidTextLength + 1);
    *text = plat::com::taskMemText(buffer);
    return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* text)
{
    return StringFromCLSID(iid, text);
}
