#include "comframe/objectbase.h"

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "tests/support/com_counted.h"

#include <gtest/gtest.h>

namespace {

const IID IID_ISecondary = {0x5C0E7A20, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const CLSID kCreatable = {0x5C0E7A21, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};

struct ISecondary : IDispatch { };

// Answers IDispatch with `target`, or with itself when there is none.
class Secondary : public ccDelegateDispatch<ISecondary> {
public:
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(iid, IID_IDispatch)) {
            *ppv = target ? static_cast<IDispatch*>(target) : static_cast<IDispatch*>(this);
            static_cast<IUnknown*>(*ppv)->AddRef();
        }
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    CountedDispatch* target = nullptr;
};

class Creatable : public CComObjectRootEx<CComMultiThreadModel>, public IDispatch {
public:
    BEGIN_COM_MAP(Creatable)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

TEST(ObjectBase, SecondaryDispatchGoesToTheObjectsOwn)
{
    CountedDispatch own;
    own.value.vt = VT_I4;
    own.value.lVal = 5;
    Secondary secondary;
    secondary.target = &own;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result{};
    EXPECT_EQ(secondary.Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.lVal, 5);
    EXPECT_EQ(own.count, 0u);
    secondary.target = nullptr;
    UINT count = 0;
    EXPECT_EQ(secondary.GetTypeInfoCount(&count), E_NOTIMPL);
}

TEST(ObjectBase, CreateObjectByClassIdTextOrProgId)
{
    ASSERT_EQ(plat::com::registerClass({kCreatable, &plat::com::createInstance<Creatable>, L"Qor.Creatable.1", L""}),
        S_OK);
    OLECHAR braced[40] = {};
    ASSERT_GT(StringFromGUID2(kCreatable, braced, 40), 0);
    struct Row {
        const OLECHAR* name;
        HRESULT hr;
    };
    const Row rows[] = {
        {braced, S_OK},
        {u"qor.creatable.1", S_OK},
        {u"{not a class id}", CO_E_CLASSSTRING},
        {u"Qor.Unknown", CO_E_CLASSSTRING},
        {nullptr, E_INVALIDARG},
    };
    for (const Row& row : rows) {
        BSTR name = row.name ? SysAllocString(row.name) : nullptr;
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(ccCreateObject(name, &object), row.hr);
        EXPECT_EQ(object != nullptr, SUCCEEDED(row.hr));
        if (object) object->Release();
        SysFreeString(name);
    }
    EXPECT_EQ(ccCreateObject(nullptr, nullptr), E_POINTER);
    (void)plat::com::unregisterClass(kCreatable);
}

TEST(ObjectBase, ComputerName)
{
    BSTR name = nullptr;
    ASSERT_EQ(ccGetLocalComputerName(&name), S_OK);
    EXPECT_GT(SysStringLen(name), 0u);
    SysFreeString(name);
    EXPECT_EQ(ccGetLocalComputerName(nullptr), E_POINTER);
}

} // namespace
