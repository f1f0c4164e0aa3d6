#include "comframe/acqevents.h"
#include "comframe/componentbase.h"

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "tests/support/com_counted.h"
#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <typeinfo>
#include <thread>
#include <utility>

namespace {

const CLSID kFifoClass = {0x5C0E7A31, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const IID kFifoEvents = {0x5C0E7A32, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};

// The clone steps of the objects here, which are never cloned.
template <class Base> class Uncloned : public Base {
public:
    HRESULT CloneCopied(VARIANT_BOOL) override { return S_OK; }
    HRESULT CloneReserved() override { return S_OK; }
    HRESULT CloneFinished(LONG) override { return S_OK; }
};

// Persistent, firing kFifoEvents; Attach keeps the target as an item.
class Fifo : public Uncloned<ccCollectionImpl<Fifo, ccStdPersistAndChangeImpl<Fifo, ITestTwo, &IID_ITestTwo,
                                                      &kFifoClass, &LIBID_TestDispatch, &kFifoEvents>,
                 IDispatch, int>> {
public:
    BEGIN_COM_MAP(Fifo)
    COM_INTERFACE_ENTRY2(IUnknown, ITestTwo)
    COM_INTERFACE_ENTRY2(IDispatch, ITestTwo)
    COM_INTERFACE_ENTRY(ITestTwo)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IPersistStream)
    COM_INTERFACE_ENTRY(IQorPersistArchive)
    COM_INTERFACE_ENTRY(IQorComInternal)
    END_COM_MAP()

    HRESULT get_Name(BSTR* name) override { return *name = SysAllocString(u"fifo"), S_OK; }
    HRESULT Attach(IDispatch* target, LONG*) override { return addItem(target, 0), S_OK; }
    HRESULT Persist(IQorArchive* archive, LONG flags) override { return IQorObjectImpl::Persist(archive, flags); }
};

const IID kIids[] = {IID_ITestOne, IID_ITestTwo, {}};

struct Nothing {
};

// A FIFO whose property interfaces are ITestOne and ITestTwo, with the
// discrete-I/O layer over it: Attach makes the target its input lines, a null
// one its inputs its outputs too.
class Board : public Uncloned<ccQorDiscreteIOQMB<Board, CQorAcqFifoBase<Board, IDispatch, &IID_IDispatch, &kFifoClass,
                                                             &LIBID_TestDispatch, &DIID_IQorAcqFifoEvents, kIids,
                                                             TestMethods<Nothing>>>> {
public:
    BEGIN_COM_MAP(Board)
    COM_INTERFACE_ENTRY2(IDispatch, ITestOne)
    COM_INTERFACE_ENTRY(ITestOne)
    COM_INTERFACE_ENTRY(ITestTwo)
    END_COM_MAP()
    HRESULT Attach(IDispatch* lines, LONG*) override
    {
        return lines ? setInputLines(lines) : setOutputLines(inputLines()), S_OK;
    }
};

template <class T, class I> I* make(REFIID iid)
{
    registerTestTypeLibrary();
    I* object = nullptr;
    EXPECT_EQ(plat::com::createInstance<T>(nullptr, iid, reinterpret_cast<void**>(&object)), S_OK);
    return object;
}

// The Name property read through d by its name, and its member id.
std::pair<std::u16string, DISPID> nameByName(IDispatch* d)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Name")};
    DISPID id = DISPID_UNKNOWN;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    plat::com::Variant result;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    return {result.vt == VT_BSTR ? result.bstrVal : u"", id};
}

TEST(ComponentBase, DispatchClassInformationEventsAndPersistence)
{
    plat::com::Ref<IUnknown> fifo(make<Fifo, IUnknown>(IID_IUnknown));
    // "Name" by name through each interface's IDispatch: IQorObject's is the object's own.
    for (const IID* iid : {&IID_IDispatch, &IID_IQorObject}) {
        plat::com::Ref<IDispatch> d;
        ASSERT_EQ(fifo->QueryInterface(*iid, d.out()), S_OK);
        EXPECT_EQ(nameByName(d.p).first, u"fifo");
    }
    plat::com::Ref<IProvideClassInfo2> info;
    plat::com::Ref<IConnectionPointContainer> container;
    plat::com::Ref<IPersistStream> stream;
    ASSERT_EQ(fifo->QueryInterface(IID_IProvideClassInfo2, info.out()), S_OK);
    ASSERT_EQ(fifo->QueryInterface(IID_IConnectionPointContainer, container.out()), S_OK);
    ASSERT_EQ(fifo->QueryInterface(IID_IPersistStream, stream.out()), S_OK);
    const std::pair<DWORD, HRESULT> kinds[] = {{GUIDKIND_DEFAULT_SOURCE_DISP_IID, S_OK}, {7, E_INVALIDARG}};
    for (const auto& [kind, hr] : kinds) {
        GUID guid = GUID_NULL;
        EXPECT_EQ(info->GetGUID(kind, &guid), hr);
        EXPECT_EQ(IsEqualGUID(guid, kFifoEvents), hr == S_OK);
    }
    const std::pair<const IID*, HRESULT> points[] = {{&kFifoEvents, S_OK}, {&DIID_IQorChangeEvent, CONNECT_E_NOCONNECTION}};
    for (const auto& [iid, hr] : points) {
        plat::com::Ref<IConnectionPoint> point;
        EXPECT_EQ(container->FindConnectionPoint(*iid, &point.p), hr);
    }
    EXPECT_EQ(stream->IsDirty(), S_FALSE);
}

// The main interface's IDispatch describes it from the registered library;
// a class without a library object says so; a clone carries the Tag; the
// computer name and CreateObject are the object base's; null out pointers
// are refused.
TEST(ComponentBase, TypeInformationLibraryObjectCloneAndRefusals)
{
    ASSERT_EQ(plat::com::registerClass({kFifoClass, &plat::com::createInstance<Fifo>, L"", L""}), S_OK);
    plat::com::Ref<IQorObject> fifo(make<Fifo, IQorObject>(IID_IQorObject));
    plat::com::Ref<IDispatch> d;
    ASSERT_EQ(fifo->QueryInterface(IID_IDispatch, d.out()), S_OK);
    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(d.p); // overwritten
    EXPECT_EQ(d->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    ASSERT_EQ(d->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_ITestTwo));
    info->ReleaseTypeAttr(attr);
    info->Release();

    plat::com::Ref<IQorComInternal> internal;
    ASSERT_EQ(fifo->QueryInterface(IID_IQorComInternal, internal.out()), S_OK);
    void* impl = &count;
    EXPECT_EQ(internal->GetImpl(&impl), E_NOTIMPL);
    EXPECT_EQ(impl, nullptr);
    EXPECT_EQ(internal->SetImpl(typeid(UINT), &count), E_NOTIMPL);

    ASSERT_EQ(fifo->putref_Tag(testValue(VT_I4, 7)), S_OK);
    plat::com::Ref<IQorObject> copy;
    ASSERT_EQ(fifo->Clone(&copy.p), S_OK);
    EXPECT_NE(copy.p, fifo.p);
    plat::com::Variant tag;
    EXPECT_EQ(copy->get_Tag(&tag), S_OK);
    EXPECT_EQ(std::make_pair(tag.vt, tag.lVal), std::make_pair(VARTYPE(VT_I4), LONG(7)));

    BSTR name = nullptr, expected = nullptr;
    EXPECT_EQ(fifo->GetLocalComputerName(&name), S_OK);
    EXPECT_EQ(ccGetLocalComputerName(&expected), S_OK);
    EXPECT_EQ(std::u16string(name), std::u16string(expected));
    SysFreeString(name), SysFreeString(expected);
    IUnknown* made = d.p; // overwritten
    BSTR bad = SysAllocString(u"{not a class id}");
    EXPECT_EQ(fifo->CreateObject(bad, &made), CO_E_CLASSSTRING);
    SysFreeString(bad);
    EXPECT_EQ(made, nullptr);

    const std::function<HRESULT()> nulls[] = {
        [&] { return d->GetTypeInfoCount(nullptr); },
        [&] { return d->GetTypeInfo(0, 0, nullptr); },
        [&] { return internal->GetImpl(nullptr); },
        [&] { return fifo->get_Tag(nullptr); },
        [&] { return fifo->Clone(nullptr); },
        [&] { return fifo->Persist(nullptr, 0); },
    };
    for (const auto& call : nulls)
        EXPECT_EQ(call(), E_POINTER);
    EXPECT_EQ(plat::com::unregisterClass(kFifoClass), S_OK);
}

const GUID kNoLibrary = {0x5C0E7A3F, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};

// A class whose type library was never registered.
class Unlisted : public ccComponentBase<Unlisted, ITestTwo, &IID_ITestTwo, &kFifoClass, &kNoLibrary, &kFifoEvents> {
public:
    BEGIN_COM_MAP(Unlisted)
    COM_INTERFACE_ENTRY2(IDispatch, ITestTwo)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    END_COM_MAP()
    HRESULT get_Name(BSTR*) override { return E_NOTIMPL; }
    HRESULT Attach(IDispatch*, LONG*) override { return E_NOTIMPL; }
};

// Without its library a class describes nothing and dispatches nothing: each
// call gives the load's failure, and no type information.
TEST(ComponentBase, WithoutItsLibraryEveryDescriptionFails)
{
    plat::com::Ref<IDispatch> d(make<Unlisted, IDispatch>(IID_IDispatch));
    plat::com::Ref<IProvideClassInfo2> provided;
    ASSERT_EQ(d->QueryInterface(IID_IProvideClassInfo2, provided.out()), S_OK);
    ITypeInfo* none = nullptr;
    const HRESULT unloaded = LoadRegTypeLib(kNoLibrary, 1, 0, 0, reinterpret_cast<ITypeLib**>(&none));
    ASSERT_TRUE(FAILED(unloaded));
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Name")};
    DISPID id = 0;
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(d.p); // overwritten
    const std::function<HRESULT()> calls[] = {
        [&] { return d->GetTypeInfo(0, 0, &info); },
        [&] { return d->GetIDsOfNames(IID_NULL, names, 1, 0, &id); },
        [&] { return d->Invoke(20, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, nullptr, nullptr, nullptr); },
        [&] { return provided->GetClassInfo(&info); },
    };
    for (const auto& call : calls) {
        EXPECT_EQ(call(), unloaded);
        EXPECT_EQ(info, nullptr);
    }
}

TEST(ComponentBase, TheTagIsEmptyUntilSetAndReadsBackOnAnotherThread)
{
    IQorObject* object = make<Fifo, IQorObject>(IID_IQorObject);
    VARIANT tag = testValue(VT_I4, 3);
    EXPECT_EQ(object->get_Tag(&tag), S_OK);
    EXPECT_EQ(tag.vt, VT_EMPTY);
    std::thread([object] {
        VARIANT text = testText(u"left");
        EXPECT_EQ(object->put_Tag(text), S_OK);
        VariantClear(&text);
    }).join();
    EXPECT_EQ(object->get_Tag(&tag), S_OK);
    EXPECT_EQ(std::u16string(tag.bstrVal), u"left");
    VariantClear(&tag);
    object->Release();
}

TEST(ComponentBase, ACollectionReleasesItsItemsWhenItGoes)
{
    CountedDispatch item;
    ITestTwo* fifo = make<Fifo, ITestTwo>(IID_ITestTwo);
    EXPECT_EQ(fifo->Attach(&item, nullptr), S_OK);
    EXPECT_EQ(fifo->Attach(&item, nullptr), S_OK);
    EXPECT_EQ(item.count, 2u);
    fifo->Release();
    EXPECT_EQ(item.count, 0u);
}

TEST(ObjectLayers, TheDiscreteIOLayerHoldsItsLineCollectionsUntilTheObjectGoes)
{
    CountedDispatch first, second;
    ITestTwo* board = make<Board, ITestTwo>(IID_ITestTwo);
    // first as inputs, second in its place, second as outputs too.
    for (IDispatch* lines : {&first, &second, static_cast<CountedDispatch*>(nullptr)})
        board->Attach(lines, nullptr);
    EXPECT_EQ(std::make_pair(first.count, second.count), std::make_pair(0u, 2u));
    board->Release();
    EXPECT_EQ(second.count, 0u);
}

} // namespace
