#include "comframe/acqevents.h"
#include "comframe/componentbase.h"

#include "tests/support/com_counted.h"
#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const CLSID kLineClass = {0x5C0E7A41, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const CLSID kFifoClass = {0x5C0E7A42, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const IID kFifoIids[] = {IID_ITestOne, IID_ITestTwo, {}};

// An I/O line with the discrete-I/O layer of a board over it: every
// interface the bases add, over one object.
class Line : public ccQorDiscreteIOQMB<Line,
                 ccStdChangeImpl<Line, ITestTwo, &IID_ITestTwo, &kLineClass, &LIBID_TestDispatch>> {
public:
    BEGIN_COM_MAP(Line)
    COM_INTERFACE_ENTRY2(IUnknown, ITestTwo)
    COM_INTERFACE_ENTRY2(IDispatch, ITestTwo)
    COM_INTERFACE_ENTRY(ITestTwo)
    COM_INTERFACE_ENTRY(IQorComInternal)
    COM_INTERFACE_ENTRY(IQorChangeEventConfiguration)
    COM_INTERFACE_ENTRY(IQorDiscreteIO)
    END_COM_MAP()

    HRESULT get_Name(BSTR* name) override { return *name = SysAllocString(u"line"), S_OK; }
    // Target becomes the input collection, or the output one for a null target.
    HRESULT Attach(IDispatch* target, LONG*) override
    {
        return target ? setInputLines(target) : setOutputLines(inputLines()), S_OK;
    }
};

// A FIFO whose property interface is ITestOne.
class Fifo : public CQorAcqFifoBase<Fifo, ITestTwo, &IID_ITestTwo, &kFifoClass, &LIBID_TestDispatch,
                 &DIID_IQorAcqFifoEvents, kFifoIids, ITestOne> {
public:
    BEGIN_COM_MAP(Fifo)
    COM_INTERFACE_ENTRY2(IUnknown, ITestTwo)
    COM_INTERFACE_ENTRY2(IDispatch, ITestTwo)
    COM_INTERFACE_ENTRY(ITestOne)
    COM_INTERFACE_ENTRY(ITestTwo)
    COM_INTERFACE_ENTRY(IQorObject)
    END_COM_MAP()

    HRESULT get_Value(LONG* value) override { return *value = 41, S_OK; }
    HRESULT put_Value(LONG) override { return E_NOTIMPL; }
    HRESULT Scale(double, VARIANT, double*) override { return E_NOTIMPL; }
    HRESULT Fail() override { return E_NOTIMPL; }
    HRESULT Twice(LONG*) override { return E_NOTIMPL; }
    HRESULT Sum(SAFEARRAY*, double*) override { return E_NOTIMPL; }
    HRESULT get_Items(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT get_Grid(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT Fill(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT get_Name(BSTR* name) override { return *name = SysAllocString(u"fifo"), S_OK; }
    HRESULT Attach(IDispatch*, LONG*) override { return E_NOTIMPL; }
    HRESULT Persist(IQorArchive* archive, LONG flags) override { return IQorObjectImpl::Persist(archive, flags); }
    HRESULT CloneCopied(VARIANT_BOOL) override { return S_OK; }
    HRESULT CloneReserved() override { return S_OK; }
    HRESULT CloneFinished(LONG) override { return S_OK; }
};

template <class C> IUnknown* make()
{
    registerTestTypeLibrary();
    IUnknown* object = nullptr;
    EXPECT_EQ(plat::com::createInstance<C>(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    return object;
}

// The value of the property name, read by name through the interface iid of object.
VARIANT getByName(IUnknown* object, REFIID iid, const char16_t* name)
{
    VARIANT result{};
    IDispatch* d = nullptr;
    EXPECT_EQ(object->QueryInterface(iid, reinterpret_cast<void**>(&d)), S_OK);
    if (!d) return result;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    d->Release();
    return result;
}

TEST(ObjectLayers, SecondaryInterfacesScriptThroughTheObjectsIDispatch)
{
    IUnknown* line = make<Line>();
    for (const IID* iid : {&IID_IQorChangeEventConfiguration, &IID_IQorDiscreteIO}) {
        VARIANT name = getByName(line, *iid, u"Name");
        EXPECT_EQ(std::u16string(name.bstrVal), u"line");
        VariantClear(&name);
    }
    line->Release();
}

TEST(ObjectLayers, WithoutALibraryObjectTheInternalInterfaceAnswersNotImplemented)
{
    IUnknown* line = make<Line>();
    IQorComInternal* internal = nullptr;
    ASSERT_EQ(line->QueryInterface(IID_IQorComInternal, reinterpret_cast<void**>(&internal)), S_OK);
    int something = 0;
    void* impl = &something;
    const std::pair<HRESULT, HRESULT> cases[] = {
        {internal->GetImpl(nullptr), E_POINTER}, {internal->GetImpl(&impl), E_NOTIMPL}, {internal->SetImpl(&something), E_NOTIMPL}};
    for (const auto& [hr, expected] : cases)
        EXPECT_EQ(hr, expected);
    EXPECT_EQ(impl, nullptr);
    internal->Release();
    line->Release();
}

TEST(ObjectLayers, TheDiscreteIOLayerHoldsItsLineCollectionsUntilTheObjectGoes)
{
    CountedDispatch first, second;
    IUnknown* line = make<Line>();
    ITestTwo* two = nullptr;
    ASSERT_EQ(line->QueryInterface(IID_ITestTwo, reinterpret_cast<void**>(&two)), S_OK);
    // first as inputs, then second in its place, then second as outputs too.
    const std::pair<IDispatch*, std::pair<ULONG, ULONG>> steps[] = {
        {&first, {1, 0}}, {&second, {0, 1}}, {nullptr, {0, 2}}};
    for (const auto& [target, counts] : steps) {
        EXPECT_EQ(two->Attach(target, nullptr), S_OK);
        EXPECT_EQ(first.count, counts.first);
        EXPECT_EQ(second.count, counts.second);
    }
    two->Release();
    line->Release();
    EXPECT_EQ(second.count, 0u);
}

TEST(ObjectLayers, TheFifoAnswersEveryPropertyInterfaceThroughOneMergedIDispatch)
{
    IUnknown* fifo = make<Fifo>();
    const std::pair<const char16_t*, VARIANT> members[] = {
        {u"Value", testValue(VT_I4, 41)}, {u"Name", testText(u"fifo")}};
    for (const IID* iid : {&IID_IDispatch, &IID_IQorObject, &IID_ITestOne})
        for (const auto& [name, expected] : members) {
            VARIANT value = getByName(fifo, *iid, name);
            EXPECT_EQ(VarCmp(&value, const_cast<VARIANT*>(&expected), 0, 0), VARCMP_EQ) << std::string(name, name + 4);
            VariantClear(&value);
        }
    for (auto& [name, expected] : members)
        VariantClear(const_cast<VARIANT*>(&expected));
    fifo->Release();
}

} // namespace
