#include "comframe/agile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "comframe/agile_testing.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/message.h"

namespace {

const IID IID_IProbe = {0x5e27a4c0, 0x19d3, 0x4b8f, {0x93, 0x6a, 0x0c, 0x41, 0xe8, 0x7d, 0x22, 0xb5}};

struct IProbe : IUnknown {
    virtual HRESULT Ping() = 0;
};

enum Kind { plain, marker, dotNet, freeThreaded };

// Records the thread it is called on. Its IUnknown is not its IDispatch, so
// a pointer handed out as the wrong one shows.
class Probe final : public IProbe, public IDispatch {
public:
    explicit Probe(Kind kind = plain) : kind(kind)
    {
        if (kind == freeThreaded)
            (void)CoCreateFreeThreadedMarshaler(static_cast<IProbe*>(this), &marshaler);
    }
    ~Probe()
    {
        if (marshaler != nullptr)
            marshaler->Release();
    }
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid == IID_IMarshal && marshaler != nullptr)
            return marshaler->QueryInterface(iid, ppv);
        if (iid == IID_IDispatch)
            *ppv = static_cast<IDispatch*>(this);
        else if (iid == IID_IUnknown || iid == IID_IProbe || (iid == IID_IQorAgileMarker && kind == marker) ||
                 (iid == IID_DotNetObject && kind == dotNet))
            *ppv = static_cast<IProbe*>(this);
        if (*ppv == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; } // the test owns the storage
    HRESULT Ping() override { return S_OK; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        calledOn = GetCurrentThreadId();
        return S_OK;
    }
    IUnknown* unknown() { return static_cast<IProbe*>(this); }

    const Kind kind;
    std::atomic<ULONG> references{1};
    IUnknown* marshaler = nullptr;
    std::atomic<uint32_t> calledOn{0};
};

// The process's table, counting what the holders ask of it, in place for a test.
class CountingTable final : public IGlobalInterfaceTable {
public:
    explicit CountingTable(bool refuse = false) : refuse_(refuse) { real_ = ccAgileSwapGlobalInterfaceTable(this); }
    ~CountingTable() { ccAgileSwapGlobalInterfaceTable(real_); }
    HRESULT QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT RegisterInterfaceInGlobal(IUnknown* p, REFIID iid, DWORD* cookie) override
    {
        ++registered;
        return refuse_ ? E_OUTOFMEMORY : real_->RegisterInterfaceInGlobal(p, iid, cookie);
    }
    HRESULT RevokeInterfaceFromGlobal(DWORD cookie) override
    {
        ++revoked;
        return real_->RevokeInterfaceFromGlobal(cookie);
    }
    HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** ppv) override
    {
        ++got;
        return real_->GetInterfaceFromGlobal(cookie, iid, ppv);
    }
    std::atomic<int> registered{0}, revoked{0}, got{0};

private:
    const bool refuse_;
    IGlobalInterfaceTable* real_;
};

template <typename Body>
void onThread(DWORD coInit, Body&& body)
{
    std::thread([&] {
        (void)CoInitializeEx(nullptr, coInit);
        body();
        CoUninitialize();
    }).join();
}

// An STA thread that runs setUp, then serves calls until finish.
class StaOwner {
public:
    template <typename SetUp>
    explicit StaOwner(SetUp&& setUp)
        : thread_([this, setUp] {
              (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
              id = GetCurrentThreadId();
              setUp();
              plat::setEvent(ready_);
              DWORD index = 0;
              (void)CoWaitForMultipleHandles(0, INFINITE, 1, &done_, &index);
              CoUninitialize();
          })
    {
        (void)plat::waitFor(ready_, plat::kInfiniteWait);
    }
    ~StaOwner()
    {
        finish();
        plat::closeHandle(ready_);
        plat::closeHandle(done_);
    }
    void finish()
    {
        plat::setEvent(done_);
        if (thread_.joinable())
            thread_.join();
    }
    uint32_t id = 0;

private:
    plat::Handle ready_ = plat::createEvent(true, false);
    plat::Handle done_ = plat::createEvent(true, false);
    std::thread thread_;
};

TEST(ccAgileInterfacePtr, FreeThreadedObjectsAreHeldDirectAndOthersGoThroughTheTable)
{
    const struct {
        Kind kind;
        bool direct;
    } cases[] = {{marker, true}, {dotNet, true}, {freeThreaded, true}, {plain, false}};
    for (const auto& c : cases) {
        CountingTable table;
        Probe object(c.kind);
        {
            ccAgileInterfacePtr holder(object.unknown()); // from the implicit multithreaded apartment
            EXPECT_EQ(holder.cookie() == ccAgileInterfacePtr::kDirect, c.direct);
            for (DWORD coInit : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED})
                onThread(coInit, [&] {
                    IUnknown* got = nullptr;
                    EXPECT_EQ(holder.get(&got), S_OK);
                    EXPECT_EQ(got, object.unknown());
                    got->Release();
                });
        }
        EXPECT_EQ(table.registered + table.revoked, c.direct ? 0 : 2);
        EXPECT_EQ(object.references, 1u);
    }
}

TEST(ccAgileInterfacePtr, AnStaObjectIsCalledOnItsOwnerFromAnotherStaAndTheMta)
{
    CountingTable table;
    Probe object;
    ccAgileInterfacePtr holder;
    StaOwner owner([&] {
        holder.assign(object.unknown());
        IUnknown* got = nullptr;
        EXPECT_EQ(holder.get(&got), S_OK);
        EXPECT_EQ(got, object.unknown()); // unchanged on its own thread, without the table
        got->Release();
    });
    for (DWORD coInit : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED})
        onThread(coInit, [&] {
            IDispatch* first = nullptr;
            IDispatch* second = nullptr;
            ASSERT_EQ(holder.getForCurrentThread(IID_IDispatch, reinterpret_cast<void**>(&first)), S_OK);
            ASSERT_EQ(holder.getForCurrentThread(IID_IDispatch, reinterpret_cast<void**>(&second)), S_OK);
            EXPECT_NE(first, static_cast<IDispatch*>(&object));
            EXPECT_EQ(first, second);
            EXPECT_EQ(first->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), S_OK);
            EXPECT_EQ(object.calledOn, owner.id);
            first->Release();
            second->Release();
        });
    EXPECT_EQ(table.got, 2); // once per thread
    holder.release();
    EXPECT_EQ(table.revoked, 1);
    owner.finish();
    EXPECT_EQ(object.references, 1u);
}

TEST(ccAgileInterfacePtr, EachThreadGetsTheInterfaceItAsksFor)
{
    Probe agile(freeThreaded), bound;
    for (Probe* object : {&agile, &bound}) {
        ccAgileInterfacePtr holder(object->unknown());
        IDispatch* got = nullptr;
        EXPECT_EQ(holder.getForCurrentThread(IID_IDispatch, reinterpret_cast<void**>(&got)), S_OK);
        EXPECT_EQ(got, static_cast<IDispatch*>(object));
        got->Release();
        EXPECT_EQ(holder.getForCurrentThread(IID_IDispatch, nullptr), E_POINTER);
    }
}

TEST(ccAgileInterfacePtr, ARefusedRegistrationLeavesTheValueToTheStoringThread)
{
    CountingTable table(true);
    Probe object;
    ccAgileInterfacePtr holder(object.unknown());
    EXPECT_EQ(holder.cookie(), 0u);
    IUnknown* got = nullptr;
    EXPECT_EQ(holder.get(&got), S_OK);
    EXPECT_EQ(got, object.unknown());
    got->Release();
    onThread(COINIT_MULTITHREADED, [&] {
        IUnknown* elsewhere = object.unknown();
        EXPECT_EQ(holder.get(&elsewhere), RPC_E_WRONG_THREAD);
        EXPECT_EQ(elsewhere, nullptr);
    });
}

VARIANT variantOf(VARTYPE vt, void* value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.byref = value;
    return v;
}

TEST(ccAgileVariant, KindsOfValue)
{
    Probe object;
    IDispatch* dispatch = &object;
    BSTR text = SysAllocString(u"text");
    VARIANT i4 = variantOf(VT_I4, nullptr);
    i4.lVal = 7;
    const struct {
        VARIANT in;
        VARTYPE stored;
    } cases[] = {
        {variantOf(VT_EMPTY, nullptr), VT_EMPTY},          {i4, VT_I4},
        {variantOf(VT_BSTR, text), VT_BSTR},               {variantOf(VT_DISPATCH, dispatch), VT_DISPATCH},
        {variantOf(VT_DISPATCH | VT_BYREF, &dispatch), VT_DISPATCH}, {variantOf(VT_UNKNOWN, nullptr), VT_UNKNOWN},
    };
    for (const auto& c : cases) {
        ccAgileVariant agile(c.in);
        EXPECT_EQ(agile.vt(), c.stored);
        VARIANT out;
        ASSERT_EQ(agile.copyToNew(&out), S_OK);
        EXPECT_EQ(out.vt, c.stored);
        VARIANT expected = variantOf(VT_EMPTY, nullptr);
        ASSERT_EQ(VariantCopyInd(&expected, &c.in), S_OK);
        if (c.stored == VT_I4 || c.stored == VT_BSTR) {
            EXPECT_EQ(VarCmp(&out, &expected, 0, 0), VARCMP_EQ);
            EXPECT_TRUE(c.stored == VT_I4 || out.bstrVal != text); // its own copy
        }
        if (c.stored == VT_DISPATCH || c.stored == VT_UNKNOWN) {
            EXPECT_EQ(out.punkVal, expected.punkVal);
        }
        IUnknown* got = nullptr;
        EXPECT_EQ(agile.getInterface(&got), c.stored == VT_DISPATCH || c.stored == VT_UNKNOWN ? S_OK : E_POINTER);
        if (got != nullptr)
            got->Release();
        (void)VariantClear(&out);
        (void)VariantClear(&expected);
    }
    SysFreeString(text);
    EXPECT_EQ(object.references, 1u);
}

TEST(ccAgileVariant, ATwoDimensionalArrayOfInterfacesKeepsItsBoundsAndOrder)
{
    Probe objects[6];
    const SAFEARRAYBOUND bounds[] = {{3, -1}, {2, 4}};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    VARIANT* elements = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)), S_OK);
    for (int i = 0; i < 6; ++i)
        elements[i] = variantOf(VT_UNKNOWN, objects[i].unknown()), objects[i].AddRef();
    (void)SafeArrayUnaccessData(array);
    ccAgileVariant agile(variantOf(VT_ARRAY | VT_VARIANT, array));
    (void)SafeArrayDestroy(array); // releases the references the array held
    VARIANT out;
    onThread(COINIT_MULTITHREADED, [&] { ASSERT_EQ(agile.copyToNew(&out), S_OK); });
    ASSERT_EQ(out.vt, VT_ARRAY | VT_VARIANT);
    ASSERT_EQ(SafeArrayGetDim(out.parray), 2u);
    for (UINT d = 0; d < 2; ++d) {
        LONG lower = 0, upper = 0;
        EXPECT_EQ(SafeArrayGetLBound(out.parray, d + 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(out.parray, d + 1, &upper), S_OK);
        EXPECT_EQ(lower, bounds[d].lLbound);
        EXPECT_EQ(upper - lower + 1, static_cast<LONG>(bounds[d].cElements));
    }
    ASSERT_EQ(SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&elements)), S_OK);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(elements[i].punkVal, objects[i].unknown());
    (void)SafeArrayUnaccessData(out.parray);
    (void)VariantClear(&out);
    agile.clear();
    for (const Probe& object : objects)
        EXPECT_EQ(object.references, 1u);
}

TEST(ccAgileVariant, ClearingRevokesAndAnEndedOwnerIsAFailureNotANull)
{
    CountingTable table;
    Probe object;
    ccAgileVariant agile;
    StaOwner owner([&] { agile = variantOf(VT_DISPATCH, static_cast<IDispatch*>(&object)); });
    owner.finish();
    onThread(COINIT_MULTITHREADED, [&] {
        VARIANT out = variantOf(VT_I4, nullptr);
        EXPECT_EQ(agile.copyTo(&out), RPC_E_DISCONNECTED);
        EXPECT_EQ(out.vt, VT_EMPTY);
    });
    agile.clear();
    EXPECT_EQ(table.revoked, 1);
    EXPECT_EQ(agile.vt(), VT_EMPTY);
}

} // namespace
