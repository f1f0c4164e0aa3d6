#include "platform/com/object.h"

#include "tests/support/com_counted.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct IThing : IUnknown {
    virtual int value() = 0;
};
const IID IID_IThing = {0x51A0C001, 0x7320, 0x4C0B, {0x9E, 0x01, 0, 0, 0, 0, 0, 1}};

std::vector<std::string> g_log;

struct Member {
    ~Member() { g_log.push_back("member"); }
};

class Thing : public CComObjectRootEx<CComMultiThreadModel>, public IThing, public IDispatch {
public:
    BEGIN_COM_MAP(Thing)
    COM_INTERFACE_ENTRY(IThing)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    HRESULT FinalConstruct() { return failConstruct ? E_FAIL : S_OK; }
    void FinalRelease() { g_log.push_back("final"); }
    int value() override { return 7; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

    static inline bool failConstruct = false;
    Member member;
};

TEST(ComObject, FinalReleaseRunsBeforeMembersAndAFailedConstructionDeletes)
{
    const ULONG locks = plat::com::moduleLockCount();
    g_log.clear();
    CComObject<Thing>* thing = nullptr;
    ASSERT_EQ(CComObject<Thing>::CreateInstance(&thing), S_OK);
    thing->AddRef();
    EXPECT_EQ(plat::com::moduleLockCount(), locks + 1);
    EXPECT_EQ(thing->Release(), 0u);
    EXPECT_EQ(g_log, (std::vector<std::string>{"final", "member"}));
    EXPECT_EQ(plat::com::moduleLockCount(), locks);

    Thing::failConstruct = true;
    EXPECT_EQ(CComObject<Thing>::CreateInstance(&thing), E_FAIL);
    Thing::failConstruct = false;
    EXPECT_EQ(thing, nullptr);
    EXPECT_EQ(plat::com::moduleLockCount(), locks);
}

TEST(ComObject, QueryAnswersFromTheTableWithOneIdentity)
{
    IThing* thing = nullptr;
    ASSERT_EQ(plat::com::createInstance<Thing>(nullptr, IID_IThing, reinterpret_cast<void**>(&thing)), S_OK);
    IUnknown *viaThing = nullptr, *viaDispatch = nullptr;
    IDispatch* dispatch = nullptr;
    EXPECT_EQ(thing->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaThing)), S_OK);
    EXPECT_EQ(thing->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaDispatch)), S_OK);
    EXPECT_EQ(viaThing, viaDispatch);
    void* none = &none;
    EXPECT_EQ(thing->QueryInterface(IID_IMarshal, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    for (IUnknown* p : {viaThing, viaDispatch, static_cast<IUnknown*>(dispatch)})
        p->Release();
    EXPECT_EQ(thing->Release(), 0u);
}

TEST(ComObject, AnInnerObjectCountsTheOuterForItsInterfaces)
{
    CountedDispatch outer;
    CComAggObject<Thing>* inner = nullptr;
    ASSERT_EQ(CComAggObject<Thing>::CreateInstance(&outer, &inner), S_OK);
    inner->AddRef();
    IThing* thing = nullptr;
    EXPECT_EQ(inner->QueryInterface(IID_IThing, reinterpret_cast<void**>(&thing)), S_OK);
    EXPECT_EQ(thing->value(), 7);
    EXPECT_EQ(outer.count, 1u);
    IUnknown* outerUnknown = nullptr;
    EXPECT_EQ(thing->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&outerUnknown)), S_OK);
    EXPECT_EQ(outerUnknown, static_cast<IUnknown*>(&outer));
    outerUnknown->Release();
    thing->Release();
    EXPECT_EQ(outer.count, 0u);
    EXPECT_EQ(inner->Release(), 0u);
}

} // namespace
