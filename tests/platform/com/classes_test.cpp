#include "platform/com/classes.h"

#include "platform/com/bstr.h"

#include <string>

#include <gtest/gtest.h>

namespace {

class Plain : public CComObjectRootEx<CComMultiThreadModel>, public IDispatch {
public:
    BEGIN_COM_MAP(Plain)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

const CLSID kNamed = {0x51A0C002, 0x7320, 0x4C0B, {0x9E, 0x01, 0, 0, 0, 0, 0, 2}};
const CLSID kNameless = {0x51A0C003, 0x7320, 0x4C0B, {0x9E, 0x01, 0, 0, 0, 0, 0, 3}};

struct Registered {
    Registered()
    {
        EXPECT_EQ(plat::com::registerClass({kNamed, &plat::com::createInstance<Plain>, L"Qor.Plain.1", L"Qor.Plain"}), S_OK);
        EXPECT_EQ(plat::com::registerClass({kNameless, &plat::com::createInstance<Plain>, L"", L""}), S_OK);
    }
    ~Registered()
    {
        (void)plat::com::unregisterClass(kNamed);
        (void)plat::com::unregisterClass(kNameless);
    }
};

TEST(ComClasses, CreationByClassIdAndEitherProgId)
{
    Registered registered;
    const struct { const char16_t* name; HRESULT hr; } names[] = {
        {u"Qor.Plain.1", S_OK}, {u"Qor.Plain", S_OK}, {u"qor.PLAIN", S_OK}, {u"Qor.Plain.2", CO_E_CLASSSTRING}, {u"", CO_E_CLASSSTRING}};
    for (const auto& n : names) {
        CLSID clsid = GUID_NULL;
        EXPECT_EQ(CLSIDFromProgID(n.name, &clsid), n.hr);
        EXPECT_EQ(IsEqualCLSID(clsid, kNamed), n.hr == S_OK);
    }
    IDispatch* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kNamed, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->Release(), 0u);
    void* out = &out;
    EXPECT_EQ(CoCreateInstance(IID_IDispatch, nullptr, CLSCTX_ALL, IID_IDispatch, &out), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CoCreateInstance(kNamed, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, &out), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(kNamed, object, CLSCTX_ALL, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(kNamed, nullptr, CLSCTX_ALL, IID_IMarshal, &out), E_NOINTERFACE);
    // A ProgID is one class's only.
    EXPECT_EQ(plat::com::registerClass({IID_IDispatch, &plat::com::createInstance<Plain>, L"", L"QOR.PLAIN"}), E_INVALIDARG);

    LPOLESTR progId = nullptr;
    EXPECT_EQ(ProgIDFromCLSID(kNamed, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Qor.Plain.1");
    CoTaskMemFree(progId);
    EXPECT_EQ(ProgIDFromCLSID(kNameless, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
}

TEST(ComClasses, TheClassObjectRefusesAnOuterAndLocksTheModule)
{
    Registered registered;
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(kNamed, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    const ULONG locks = plat::com::moduleLockCount();
    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(plat::com::moduleLockCount(), locks + 1);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(plat::com::moduleLockCount(), locks);
    void* out = nullptr;
    EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), S_OK);
    static_cast<IUnknown*>(out)->Release();
    EXPECT_EQ(factory->Release(), 0u);
    void* none = &none;
    EXPECT_EQ(CoGetClassObject(IID_IDispatch, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &none),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(none, nullptr);
}

TEST(ComClasses, GuidTextRoundTripsAndBadTextIsRefused)
{
    const GUID guid = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(guid, &text), S_OK);
    EXPECT_EQ(std::u16string(text), u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    CLSID back = GUID_NULL;
    EXPECT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_TRUE(IsEqualCLSID(back, guid));
    CoTaskMemFree(text);
    EXPECT_EQ(CLSIDFromString(u"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", &back), S_OK);
    EXPECT_TRUE(IsEqualCLSID(back, guid));

    const char16_t* bad[] = {u"", u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",
                             u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}x", u"{0A1B2C3D-4E5F-6071-8293+A4B5C6D7E8F9}",
                             u"{0A1B2C3G-4E5F-6071-8293-A4B5C6D7E8F9}", u"Qor.Plain", nullptr};
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; ++i)
        EXPECT_EQ(CLSIDFromString(bad[i], &back), CO_E_CLASSSTRING) << i;

    // Interface ids read the same text; bad text is an invalid argument there.
    ASSERT_EQ(StringFromIID(guid, &text), S_OK);
    IID iid = GUID_NULL;
    EXPECT_EQ(IIDFromString(text, &iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, guid));
    EXPECT_EQ(IIDFromString(text, nullptr), E_INVALIDARG);
    CoTaskMemFree(text);
    EXPECT_EQ(IIDFromString(u"Qor.Plain", &iid), E_INVALIDARG);

    OLECHAR small[38];
    EXPECT_EQ(StringFromGUID2(guid, small, 38), 0);
    OLECHAR exact[39];
    EXPECT_EQ(StringFromGUID2(guid, exact, 39), 39);
}

} // namespace
