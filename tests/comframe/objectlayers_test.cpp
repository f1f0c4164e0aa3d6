#include "comframe/acqevents.h"
#include "comframe/componentbase.h"

#include "tests/support/com_counted.h"
#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

namespace {

const CLSID kClass = {0x5C0E7A41, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const IID kIids[] = {IID_ITestOne, IID_ITestTwo, {}};

struct Nothing {
};

// A FIFO whose property interfaces are ITestOne and ITestTwo, with the
// discrete-I/O layer over it: Attach makes the target its input lines, a null
// one its inputs its outputs too.
class Probe : public ccQorDiscreteIOQMB<Probe, CQorAcqFifoBase<Probe, IDispatch, &IID_IDispatch, &kClass,
                                                   &LIBID_TestDispatch, &DIID_IQorAcqFifoEvents, kIids,
                                                   TestMethods<Nothing>>> {
public:
    BEGIN_COM_MAP(Probe)
    COM_INTERFACE_ENTRY2(IDispatch, ITestOne)
    COM_INTERFACE_ENTRY(ITestOne)
    COM_INTERFACE_ENTRY(ITestTwo)
    END_COM_MAP()
    HRESULT Attach(IDispatch* lines, LONG*) override
    {
        return lines ? setInputLines(lines) : setOutputLines(inputLines()), S_OK;
    }
    HRESULT CloneCopied(VARIANT_BOOL) override { return S_OK; }
    HRESULT CloneReserved() override { return S_OK; }
    HRESULT CloneFinished(LONG) override { return S_OK; }
};

template <class I> I* make(REFIID iid)
{
    registerTestTypeLibrary();
    I* probe = nullptr;
    EXPECT_EQ(plat::com::createInstance<Probe>(nullptr, iid, reinterpret_cast<void**>(&probe)), S_OK);
    return probe;
}

TEST(ObjectLayers, TheDiscreteIOLayerHoldsItsLineCollectionsUntilTheObjectGoes)
{
    CountedDispatch first, second;
    ITestTwo* board = make<ITestTwo>(IID_ITestTwo);
    // first as inputs, second in its place, second as outputs too.
    for (IDispatch* lines : {&first, &second, static_cast<CountedDispatch*>(nullptr)})
        board->Attach(lines, nullptr);
    EXPECT_EQ(std::make_pair(first.count, second.count), std::make_pair(0u, 2u));
    board->Release();
    EXPECT_EQ(second.count, 0u);
}

TEST(ObjectLayers, TheFifosIDispatchReachesALaterPropertyInterfaceByItsOwnMemberId)
{
    IDispatch* fifo = make<IDispatch>(IID_IDispatch);
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Name")};
    DISPID id = DISPID_UNKNOWN;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result{};
    EXPECT_EQ(fifo->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(fifo->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(id, 20);
    EXPECT_EQ(std::u16string(result.vt == VT_BSTR ? result.bstrVal : u""), u"two");
    VariantClear(&result);
    fifo->Release();
}

} // namespace
