// A persistent COM object for tests: a few settings of each kind and two
// sub-object references, saved under its own keys after the Tag. Clone
// notifications go to a log shared by every instance.
#pragma once
#include "comframe/archive.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"

#include <string>
#include <vector>

inline const CLSID CLSID_FakeSettings = { 0x6E1A3CF0, 0x7320, 0x4A51, { 0x9B, 0x41, 0, 0, 0, 0, 0, 0x01 } };

class FakeSettings : public ccArchiveBase, public IPersistStreamImplBase {
public:
    BEGIN_COM_MAP(FakeSettings)
    COM_INTERFACE_ENTRY2(IUnknown, IQorObject)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY2(IDispatch, IQorObject)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY2(IPersist, IPersistStream)
    COM_INTERFACE_ENTRY(IPersistStream)
    COM_INTERFACE_ENTRY(IQorPersistArchive)
    END_COM_MAP()

    void FinalRelease()
    {
        SysFreeString(name);
        if (child) child->Release();
        if (other) other->Release();
    }

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    HRESULT GetClassID(CLSID* clsid) override
    {
        *clsid = CLSID_FakeSettings;
        return S_OK;
    }

    HRESULT Persist(IQorArchive* archive, LONG flags) override
    {
        HRESULT hr = ccArchiveBase::Persist(archive, flags);
        const bool saving = flags & kPersistSaving;
        const struct {
            BSTR gain = SysAllocString(u"Gain"), name = SysAllocString(u"Name"), count = SysAllocString(u"Count"),
                 child = SysAllocString(u"Child"), other = SysAllocString(u"Other");
        } k;
        if (SUCCEEDED(hr)) hr = archive->PersistR8(k.gain, &gain);
        if (SUCCEEDED(hr)) hr = archive->PersistString(k.name, &name);
        if (SUCCEEDED(hr)) hr = archive->PersistI4(k.count, &count);
        if (SUCCEEDED(hr) && child) hr = saving ? archive->SaveObject(k.child, child) : hr;
        if (SUCCEEDED(hr) && other) hr = saving ? archive->SaveObject(k.other, other) : hr;
        if (SUCCEEDED(hr) && !saving) hr = archive->LoadObject(k.child, &child), hr = archive->LoadObject(k.other, &other);
        for (BSTR s : {k.gain, k.name, k.count, k.child, k.other}) SysFreeString(s);
        return SUCCEEDED(hr) ? S_OK : hr;
    }
    HRESULT CloneCopied(VARIANT_BOOL subObject) override
    {
        log().push_back(subObject == VARIANT_TRUE ? "sub" : "top");
        return S_OK;
    }
    HRESULT CloneReserved() override { return S_OK; }
    HRESULT CloneFinished(LONG value) override
    {
        log().push_back("finished " + std::to_string(value));
        return S_OK;
    }
    void markDirty() { setDirty(true); }

    static std::vector<std::string>& log()
    {
        static std::vector<std::string> events;
        return events;
    }
    static HRESULT registerClass()
    {
        return plat::com::registerClass({ CLSID_FakeSettings, &plat::com::createInstance<FakeSettings>, L"", L"" });
    }
    // A new object with one reference.
    static CComObject<FakeSettings>* make()
    {
        CComObject<FakeSettings>* made = nullptr;
        if (FAILED(CComObject<FakeSettings>::CreateInstance(&made))) return nullptr;
        made->AddRef();
        return made;
    }

    double gain = 1.0;
    BSTR name = nullptr;
    LONG count = 0;
    IUnknown* child = nullptr;
    IUnknown* other = nullptr;
};
