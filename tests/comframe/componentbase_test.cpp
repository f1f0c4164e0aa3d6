#include "comframe/componentbase.h"

#include "platform/com/classes.h"
#include "tests/support/com_counted.h"
#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

namespace {

const CLSID kThingClass = {0x5C0E7A31, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const IID kThingEvents = {0x5C0E7A32, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const GUID kNoLibrary = {0x5C0E7A33, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};

template <class Base> class TwoMethods : public Base {
public:
    HRESULT get_Name(BSTR* name) override { return *name = SysAllocString(u"thing"), S_OK; }
    HRESULT Attach(IDispatch* target, LONG* attached) override { return *attached = target ? 1 : 0, S_OK; }
};

class Thing : public TwoMethods<ccStdImpl<Thing, ITestTwo, &IID_ITestTwo, &kThingClass, &LIBID_TestDispatch>> {
public:
    BEGIN_COM_MAP(Thing)
    COM_INTERFACE_ENTRY2(IUnknown, ITestTwo)
    COM_INTERFACE_ENTRY2(IDispatch, ITestTwo)
    COM_INTERFACE_ENTRY(ITestTwo)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    END_COM_MAP()
};

// Described in no registered library, firing kThingEvents.
class Unlisted
    : public TwoMethods<ccComponentBase<Unlisted, ITestTwo, &IID_ITestTwo, &kThingClass, &kNoLibrary, &kThingEvents>> {
public:
    BEGIN_COM_MAP(Unlisted)
    COM_INTERFACE_ENTRY2(IUnknown, ITestTwo)
    COM_INTERFACE_ENTRY2(IDispatch, ITestTwo)
    COM_INTERFACE_ENTRY(ITestTwo)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    END_COM_MAP()
};

// Persistent, firing kThingEvents.
class Fifo
    : public TwoMethods<ccStdPersistAndChangeImpl<Fifo, ITestTwo, &IID_ITestTwo, &kThingClass, &LIBID_TestDispatch,
          &kThingEvents>> {
public:
    BEGIN_COM_MAP(Fifo)
    COM_INTERFACE_ENTRY2(IUnknown, ITestTwo)
    COM_INTERFACE_ENTRY2(IDispatch, ITestTwo)
    COM_INTERFACE_ENTRY(ITestTwo)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IPersistStream)
    COM_INTERFACE_ENTRY(IQorPersistArchive)
    END_COM_MAP()

    HRESULT Persist(IQorArchive* archive, LONG flags) override { return IQorObjectImpl::Persist(archive, flags); }
    HRESULT CloneCopied(VARIANT_BOOL) override { return S_OK; }
    HRESULT CloneReserved() override { return S_OK; }
    HRESULT CloneFinished(LONG) override { return S_OK; }
};

// Holds the items it is given.
class Holder : public ccCollectionImpl<Holder, ccStdImpl<Holder, ITestTwo, &IID_ITestTwo, &kThingClass,
                                                   &LIBID_TestDispatch>,
                   IDispatch, std::u16string> {
public:
    BEGIN_COM_MAP(Holder)
    COM_INTERFACE_ENTRY2(IUnknown, ITestTwo)
    COM_INTERFACE_ENTRY(ITestTwo)
    END_COM_MAP()

    HRESULT get_Name(BSTR* name) override { return *name = SysAllocString(items().back().key.c_str()), S_OK; }
    HRESULT Attach(IDispatch* target, LONG* count) override
    {
        addItem(target, u"item" + std::u16string(1, char16_t(u'0' + items().size())));
        return *count = static_cast<LONG>(items().size()), S_OK;
    }
};

template <class T> IUnknown* make()
{
    registerTestTypeLibrary();
    IUnknown* object = nullptr;
    EXPECT_EQ(plat::com::createInstance<T>(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    return object;
}

// "Name" read by name through the IDispatch that iid gives.
HRESULT nameThrough(IUnknown* object, REFIID iid, std::u16string* text)
{
    IDispatch* d = nullptr;
    HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&d));
    if (FAILED(hr)) return hr;
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Name")};
    DISPID id = DISPID_UNKNOWN;
    hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result{};
    if (SUCCEEDED(hr)) hr = d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    if (result.vt == VT_BSTR) *text = result.bstrVal;
    VariantClear(&result);
    d->Release();
    return hr;
}

std::u16string guidText(const GUID& guid)
{
    OLECHAR buffer[40] = {};
    StringFromGUID2(guid, buffer, 40);
    return buffer;
}

HRESULT classGuid(IUnknown* object, DWORD kind, std::u16string* text)
{
    IProvideClassInfo2* info = nullptr;
    object->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info));
    GUID guid = kNoLibrary;
    const HRESULT hr = info->GetGUID(kind, &guid);
    *text = guidText(guid);
    info->Release();
    return hr;
}

TEST(ComponentBase, DispatchAndClassInformation)
{
    IUnknown* thing = make<Thing>();
    IUnknown* unlisted = make<Unlisted>();
    struct Row {
        const char* what;
        IUnknown* object;
        std::function<HRESULT(IUnknown*, std::u16string*)> call;
        HRESULT hr;
        std::u16string text;
    };
    const Row rows[] = {
        {"main interface by name", thing, [](IUnknown* o, std::u16string* t) { return nameThrough(o, IID_IDispatch, t); },
            S_OK, u"thing"},
        {"IQorObject hands its IDispatch to the object's own", thing,
            [](IUnknown* o, std::u16string* t) { return nameThrough(o, IID_IQorObject, t); }, S_OK, u"thing"},
        {"a library that is not registered", unlisted,
            [](IUnknown* o, std::u16string* t) { return nameThrough(o, IID_IDispatch, t); }, TYPE_E_LIBNOTREGISTERED,
            u""},
        {"no events", thing, [](IUnknown* o, std::u16string* t) { return classGuid(o, GUIDKIND_DEFAULT_SOURCE_DISP_IID, t); },
            S_OK, guidText(GUID_NULL)},
        {"the event interface", unlisted,
            [](IUnknown* o, std::u16string* t) { return classGuid(o, GUIDKIND_DEFAULT_SOURCE_DISP_IID, t); }, S_OK,
            guidText(kThingEvents)},
        {"another kind", thing, [](IUnknown* o, std::u16string* t) { return classGuid(o, 7, t); }, E_INVALIDARG,
            guidText(GUID_NULL)},
    };
    for (const Row& row : rows) {
        std::u16string text;
        EXPECT_EQ(row.call(row.object, &text), row.hr) << row.what;
        EXPECT_EQ(text, row.text) << row.what;
    }
    thing->Release();
    unlisted->Release();
}

TEST(ComponentBase, TheTagIsEmptyUntilSetAndReadsBackOnAnotherThread)
{
    IUnknown* thing = make<Thing>();
    IQorObject* object = nullptr;
    ASSERT_EQ(thing->QueryInterface(IID_IQorObject, reinterpret_cast<void**>(&object)), S_OK);
    VARIANT tag = testValue(VT_I4, 3);
    EXPECT_EQ(object->get_Tag(&tag), S_OK);
    EXPECT_EQ(tag.vt, VT_EMPTY);
    std::thread([object] {
        VARIANT text = testText(u"left");
        EXPECT_EQ(object->put_Tag(text), S_OK);
        VariantClear(&text);
    }).join();
    EXPECT_EQ(object->get_Tag(&tag), S_OK);
    ASSERT_EQ(tag.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(tag.bstrVal), u"left");
    VariantClear(&tag);
    EXPECT_EQ(object->get_Tag(nullptr), E_POINTER);
    object->Release();
    thing->Release();
}

TEST(ComponentBase, APersistentObjectWithEventsStartsCleanAndHasOnePoint)
{
    IUnknown* fifo = make<Fifo>();
    IPersistStream* stream = nullptr;
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(fifo->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&stream)), S_OK);
    ASSERT_EQ(fifo->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    EXPECT_EQ(stream->IsDirty(), S_FALSE);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(stream->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, kThingClass));
    const std::pair<const IID*, HRESULT> points[] = {{&kThingEvents, S_OK}, {&DIID_IQorChangeEvent, CONNECT_E_NOCONNECTION}};
    for (const auto& [iid, hr] : points) {
        IConnectionPoint* point = nullptr;
        EXPECT_EQ(container->FindConnectionPoint(*iid, &point), hr);
        if (point) point->Release();
    }
    container->Release();
    stream->Release();
    fifo->Release();
}

TEST(ComponentBase, ACollectionReleasesItsItemsWhenItGoes)
{
    CountedDispatch first, second;
    IUnknown* holder = make<Holder>();
    ITestTwo* two = nullptr;
    ASSERT_EQ(holder->QueryInterface(IID_ITestTwo, reinterpret_cast<void**>(&two)), S_OK);
    LONG count = 0;
    EXPECT_EQ(two->Attach(&first, &count), S_OK);
    EXPECT_EQ(two->Attach(&second, &count), S_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(first.count + second.count, 2u);
    two->Release();
    holder->Release();
    EXPECT_EQ(first.count + second.count, 0u);
}

} // namespace
