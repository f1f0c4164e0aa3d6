#include "comframe/objectbase.h"

#include "comframe/dispatch.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "tests/support/com_counted.h"

#include <gtest/gtest.h>

namespace {

const CLSID kCreatable = {0x5C0E7A21, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};

// Answers IDispatch with `target`, or with itself when there is none.
struct Secondary : ccDelegateDispatch<IDispatch> {
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = target ? static_cast<IDispatch*>(target) : static_cast<IDispatch*>(this);
        return static_cast<IUnknown*>(*ppv)->AddRef(), S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    CountedDispatch* target = nullptr;
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
    ITypeInfo* info = nullptr;
    EXPECT_EQ(secondary.GetTypeInfo(0, 0, &info), E_NOTIMPL); // the object's own answer
    EXPECT_EQ(own.count, 0u);
    secondary.target = nullptr; // an object whose IDispatch is this very interface
    EXPECT_EQ(secondary.GetTypeInfoCount(nullptr), E_NOTIMPL);
}

TEST(ObjectBase, CreateObjectByClassIdTextOrProgId)
{
    ASSERT_EQ(plat::com::registerClass({kCreatable, &plat::com::createInstance<ccDynamicTypeInfo>, L"Qor.Made.1", L""}),
        S_OK);
    OLECHAR braced[40] = {};
    StringFromGUID2(kCreatable, braced, 40);
    const std::pair<const OLECHAR*, HRESULT> rows[] = {{braced, S_OK}, {u"qor.made.1", S_OK},
        {u"{not a class id}", CO_E_CLASSSTRING}, {u"Qor.Unknown", CO_E_CLASSSTRING}, {nullptr, E_INVALIDARG}};
    for (const auto& [text, hr] : rows) {
        BSTR name = text ? SysAllocString(text) : nullptr;
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(ccCreateObject(name, &object), hr);
        EXPECT_EQ(object != nullptr, SUCCEEDED(hr));
        if (object) object->Release();
        SysFreeString(name);
    }
    (void)plat::com::unregisterClass(kCreatable);
}

} // namespace
