#include "comframe/agile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "comframe/agile_testing.h"
#include "comframe/connpoint.h"
#include "platform/com/apartment.h"
#include "platform/com/message.h"
#include "platform/com/simpleobject.h"
#include "tests/support/com_home_bound.h"

namespace {

struct IOther : IUnknown {};

enum Kind { plain, marker, dotNet, freeThreaded };

// Its IUnknown is not its IDispatch, so a pointer handed out as the wrong one shows.
class Probe final : public IOther, public IDispatch {
public:
    explicit Probe(Kind kind = plain) : kind(kind)
    {
        if (kind == freeThreaded)
            (void)CoCreateFreeThreadedMarshaler(unknown(), &marshaler);
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
        else if (iid == IID_IUnknown || (iid == IID_IQorAgileMarker && kind == marker) ||
                 (iid == IID_DotNetObject && kind == dotNet))
            *ppv = unknown();
        if (*ppv != nullptr)
            AddRef();
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; } // the test owns the storage
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }
    IUnknown* unknown() { return static_cast<IOther*>(this); }

    const Kind kind;
    std::atomic<ULONG> references{1};
    IUnknown* marshaler = nullptr;
};

// In place of the process's table for a test, counting what holders ask of it.
class CountingTable final : public IGlobalInterfaceTable {
public:
    explicit CountingTable(bool refuse = false) : refuse_(refuse), real_(ccAgileSwapGlobalInterfaceTable(this)) {}
    ~CountingTable() { ccAgileSwapGlobalInterfaceTable(real_); }
    HRESULT QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT RegisterInterfaceInGlobal(IUnknown* p, REFIID iid, DWORD* cookie) override
    {
        ++registered;
        return refuse_ ? E_OUTOFMEMORY : real_->RegisterInterfaceInGlobal(p, iid, cookie);
    }
    HRESULT RevokeInterfaceFromGlobal(DWORD cookie) override { return ++revoked, real_->RevokeInterfaceFromGlobal(cookie); }
    HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** ppv) override
    {
        return ++got, real_->GetInterfaceFromGlobal(cookie, iid, ppv);
    }
    std::atomic<int> registered{0}, revoked{0}, got{0};

private:
    const bool refuse_;
    IGlobalInterfaceTable* const real_;
};

VARIANT variantOf(VARTYPE vt, void* value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.byref = value;
    return v;
}

template <typename Body>
void onThread(DWORD coInit, Body&& body)
{
    std::thread([&] {
        (void)CoInitializeEx(nullptr, coInit);
        body();
        CoUninitialize();
    }).join();
}

TEST(ccAgileInterfacePtr, FreeThreadedObjectsAreHeldDirectAndOthersGoThroughTheTable)
{
    const struct {
        Kind kind;
        bool refuse; // the table refuses registration
        bool direct;
        HRESULT elsewhere; // on other threads
    } cases[] = {{marker, false, true, S_OK}, {dotNet, false, true, S_OK}, {freeThreaded, false, true, S_OK},
                 {plain, false, false, S_OK}, {plain, true, false, RPC_E_WRONG_THREAD}};
    for (const auto& c : cases) {
        CountingTable table(c.refuse);
        Probe object(c.kind);
        {
            ccAgileInterfacePtr holder(object.unknown()); // from the implicit multithreaded apartment
            EXPECT_EQ(holder.cookie() == ccAgileInterfacePtr::kDirect, c.direct);
            EXPECT_EQ(holder.cookie() == 0, c.refuse);
            // Asked for another interface than it was stored as, it answers that one.
            IDispatch* dispatch = nullptr;
            EXPECT_EQ(holder.getForCurrentThread(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
            EXPECT_EQ(dispatch, static_cast<IDispatch*>(&object));
            dispatch->Release();
            for (DWORD coInit : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED})
                onThread(coInit, [&] {
                    IUnknown* got = nullptr;
                    EXPECT_EQ(holder.get(&got), c.elsewhere);
                    EXPECT_EQ(got, SUCCEEDED(c.elsewhere) ? object.unknown() : nullptr);
                    if (got != nullptr)
                        got->Release();
                });
        }
        EXPECT_EQ(table.registered + table.revoked, c.direct ? 0 : c.refuse ? 1 : 2);
        EXPECT_EQ(object.references, 1u);
    }
}

// Freed at its last release, so that a use after it shows.
struct Marked final : plat::com::SimpleObject<IUnknown, IID_IQorAgileMarker> {};
struct Unmarked final : plat::com::SimpleObject<IUnknown> {};

// A holder given what it alone holds keeps it, held directly or through the table.
TEST(ccAgileInterfacePtr, AssigningWhatItAloneHoldsKeepsIt)
{
    for (const auto& [object, marked] : {std::pair<IUnknown*, bool>{new Marked, true}, {new Unmarked, false}}) {
        ccAgileInterfacePtr holder(object);
        object->Release(); // the holder's reference is the only one
        holder.assign(object);
        IUnknown* got = nullptr;
        ASSERT_EQ(holder.get(&got), S_OK);
        EXPECT_EQ(got, object);
        EXPECT_EQ(got->Release(), marked ? 1u : 2u); // the table's reference too
        EXPECT_EQ(holder.getForCurrentThread(IID_IUnknown, nullptr), E_POINTER);
    }
    ccAgileInterfacePtr empty;
    IUnknown* got = reinterpret_cast<IUnknown*>(&empty); // overwritten
    EXPECT_EQ(empty.get(&got), S_OK);
    EXPECT_EQ(got, nullptr);
}

// Got from another apartment, an apartment-bound object comes as one proxy per thread.
TEST(ccAgileInterfacePtr, AnStaObjectReachesAnotherStaAndTheMtaThroughTheTable)
{
    CountingTable table;
    Probe object;
    ccAgileInterfacePtr holder;
    ccAgileVariant value;
    plat::Handle ready = plat::createEvent(true, false), done = plat::createEvent(true, false);
    std::thread owner([&] {
        (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        holder.assign(object.unknown());
        value = variantOf(VT_DISPATCH, static_cast<IDispatch*>(&object));
        IUnknown* got = nullptr;
        EXPECT_EQ(holder.get(&got), S_OK);
        EXPECT_EQ(got, object.unknown()); // unchanged on its own thread, without the table
        got->Release();
        plat::setEvent(ready);
        DWORD index = 0;
        (void)CoWaitForMultipleHandles(0, INFINITE, 1, &done, &index); // serves the calls meanwhile
        CoUninitialize();
    });
    (void)plat::waitFor(ready, plat::kInfiniteWait);
    for (DWORD coInit : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED})
        onThread(coInit, [&] {
            IDispatch* first = nullptr;
            IDispatch* second = nullptr;
            ASSERT_EQ(holder.getForCurrentThread(IID_IDispatch, reinterpret_cast<void**>(&first)), S_OK);
            ASSERT_EQ(holder.getForCurrentThread(IID_IDispatch, reinterpret_cast<void**>(&second)), S_OK);
            EXPECT_NE(first, static_cast<IDispatch*>(&object));
            EXPECT_EQ(first, second);
            first->Release();
            second->Release();
        });
    EXPECT_EQ(table.got, 2); // once per thread
    holder.release();
    EXPECT_EQ(table.revoked, 1);
    plat::setEvent(done);
    owner.join();
    // Once the owner has ended, its object is a failure, not a null.
    onThread(COINIT_MULTITHREADED, [&] {
        VARIANT out = variantOf(VT_I4, nullptr);
        EXPECT_EQ(value.copyTo(&out), RPC_E_DISCONNECTED);
        EXPECT_EQ(out.vt, VT_EMPTY);
    });
    value.clear();
    EXPECT_EQ(table.revoked, 2);
    EXPECT_EQ(object.references, 1u);
    plat::closeHandle(ready);
    plat::closeHandle(done);
}

TEST(ccAgileVariant, KindsOfValue)
{
    Probe object;
    IDispatch* dispatch = &object;
    VARIANT i4 = variantOf(VT_I4, nullptr);
    i4.lVal = 7;
    const struct {
        VARIANT in;
        VARTYPE stored;
        IDispatch* out; // for interfaces
        HRESULT asInterface;
    } cases[] = {
        {i4, VT_I4, nullptr, E_POINTER},
        {variantOf(VT_DISPATCH, dispatch), VT_DISPATCH, dispatch, S_OK},
        {variantOf(VT_DISPATCH | VT_BYREF, &dispatch), VT_DISPATCH, dispatch, S_OK},
        {variantOf(VT_UNKNOWN, nullptr), VT_UNKNOWN, nullptr, S_OK},
    };
    for (const auto& c : cases) {
        ccAgileVariant agile(c.in);
        VARIANT out;
        ASSERT_EQ(agile.copyToNew(&out), S_OK);
        EXPECT_EQ(out.vt, c.stored);
        EXPECT_TRUE(c.stored == VT_I4 ? out.lVal == 7 : out.pdispVal == c.out);
        IUnknown* got = nullptr;
        EXPECT_EQ(agile.getInterface(&got), c.asInterface);
        if (got != nullptr)
            got->Release();
        (void)VariantClear(&out);
        EXPECT_EQ(agile.copyTo(nullptr), E_POINTER);
        EXPECT_EQ(agile.copyToNew(nullptr), E_POINTER);
        EXPECT_EQ(agile.getInterface(nullptr), E_POINTER);
    }
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
        EXPECT_TRUE(SUCCEEDED(SafeArrayGetLBound(out.parray, d + 1, &lower)) && lower == bounds[d].lLbound);
        EXPECT_TRUE(SUCCEEDED(SafeArrayGetUBound(out.parray, d + 1, &upper)) && upper == lower + 2 - LONG(d));
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

// An array that is not of the type its VARIANT names, or a value of no
// type, is refused, and the holder stays empty.
TEST(ccAgileVariant, AValueItCannotHoldIsRefused)
{
    ccAgileVariant held(variantOf(VT_I4, nullptr));
    EXPECT_EQ(held.assign(variantOf(0x7F, nullptr)), DISP_E_BADVARTYPE);
    EXPECT_EQ(held.vt(), VT_EMPTY);
    EXPECT_THROW(ccAgileVariant{variantOf(0x7F, nullptr)}, std::invalid_argument);
    EXPECT_THROW(held = variantOf(0x7F, nullptr), std::invalid_argument);
    VARIANT none = variantOf(0x7F, nullptr);
    EXPECT_EQ(held.assign(variantOf(VT_BYREF | VT_VARIANT, &none)), DISP_E_BADVARTYPE); // looked through first
    EXPECT_EQ(held.vt(), VT_EMPTY);
    const SAFEARRAYBOUND bound{1, 0};
    SAFEARRAY* numbers = SafeArrayCreate(VT_I4, 1, &bound);
    for (VARTYPE claimed : {VARTYPE(VT_ARRAY | VT_UNKNOWN), VARTYPE(VT_ARRAY | VT_DISPATCH), VARTYPE(VT_ARRAY | VT_VARIANT)}) {
        ccAgileVariant agile;
        EXPECT_EQ(agile.assign(variantOf(claimed, numbers)), E_INVALIDARG);
        EXPECT_EQ(agile.vt(), VT_EMPTY);
        EXPECT_THROW(ccAgileVariant{variantOf(claimed, numbers)}, std::invalid_argument);
    }
    (void)SafeArrayDestroy(numbers);
}

// An array of anything but interfaces or VARIANTs is kept as a copy; a null
// array stays null.
TEST(ccAgileSafeArray, AnArrayOfPlainValuesIsACopyOfIt)
{
    const SAFEARRAYBOUND bound{2, 3};
    SAFEARRAY* numbers = SafeArrayCreate(VT_I4, 1, &bound);
    static_cast<int32_t*>(numbers->pvData)[1] = 7;
    const ccAgileSafeArray agile(VT_ARRAY | VT_I4, numbers);
    EXPECT_THROW(ccAgileSafeArray(VT_ARRAY | VT_R8, numbers), std::invalid_argument);
    (void)SafeArrayDestroy(numbers);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(agile.toSafeArray(&copy), S_OK);
    LONG lower = 0, upper = 0;
    EXPECT_TRUE(SUCCEEDED(SafeArrayGetLBound(copy, 1, &lower)) && SUCCEEDED(SafeArrayGetUBound(copy, 1, &upper)));
    EXPECT_EQ(std::make_tuple(lower, upper, static_cast<int32_t*>(copy->pvData)[1]), std::make_tuple(3, 4, 7));
    (void)SafeArrayDestroy(copy);
    EXPECT_EQ(agile.toSafeArray(nullptr), E_POINTER);

    ccAgileVariant none(variantOf(VT_ARRAY | VT_DISPATCH, nullptr));
    VARIANT out;
    ASSERT_EQ(none.copyToNew(&out), S_OK);
    EXPECT_EQ(std::make_pair(out.vt, out.parray), std::make_pair(VARTYPE(VT_ARRAY | VT_DISPATCH), (SAFEARRAY*)nullptr));
}

// An element that cannot be had on this thread fails the copy, and the
// elements already handed out are released with the unfinished array.
TEST(ccAgileVariant, AnArrayCopyThatFailsHalfwayReleasesWhatItGot)
{
    CountingTable refusing(true);
    Probe objects[] = {Probe(marker), Probe(plain), Probe(marker)};
    const SAFEARRAYBOUND bound{3, 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UNKNOWN, 1, &bound);
    IUnknown** elements = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)), S_OK);
    for (int i = 0; i < 3; ++i)
        elements[i] = objects[i].unknown(), objects[i].AddRef();
    (void)SafeArrayUnaccessData(array);
    ccAgileVariant agile(variantOf(VT_ARRAY | VT_UNKNOWN, array));
    (void)SafeArrayDestroy(array);
    onThread(COINIT_MULTITHREADED, [&] {
        VARIANT out = variantOf(VT_I4, nullptr);
        EXPECT_EQ(agile.copyTo(&out), RPC_E_WRONG_THREAD);
        EXPECT_EQ(out.vt, VT_EMPTY);
        EXPECT_EQ(objects[0].references, 2u); // the holder's alone
    });
    agile.clear();
    for (const Probe& object : objects)
        EXPECT_EQ(object.references, 1u);
}


// Whatever keeps an apartment-bound object, and lets it go on another
// thread, lets it go on the object's own thread.
TEST(ccAgileInterfacePtr, AnApartmentBoundObjectIsReleasedOnItsOwnThread)
{
    ccAgileInterfacePtr holder;
    ccAgileVariant value;
    std::unique_ptr<ccConnectionSinks> sinks;
    DWORD cookie = 0;
    const struct {
        const char* what;
        std::function<void(IDispatch*)> keep; // on the object's thread
        std::function<void()> letGo; // on another
    } rows[] = {
        {"a holder", [&](IDispatch* object) { holder.assign(object, IID_IDispatch); }, [&] { holder.release(); }},
        {"a value", [&](IDispatch* object) { ASSERT_EQ(value.assign(variantOf(VT_DISPATCH, object)), S_OK); },
         [&] { value.clear(); }},
        {"a point's sinks",
         [&](IDispatch* object) {
             sinks = std::make_unique<ccConnectionSinks>(IID_IDispatch);
             ASSERT_EQ(sinks->advise(object, &cookie), S_OK);
         },
         [&] { sinks.reset(); }},
    };
    for (const auto& row : rows) {
        auto strays = std::make_shared<std::atomic<int>>(0);
        plat::Handle kept = plat::createEvent(true, false), gone = plat::createEvent(true, false);
        std::thread home([&] {
            (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            auto* object = new HomeBound(gone, strays);
            row.keep(object);
            object->Release(); // what keeps it holds it alone
            plat::setEvent(kept);
            DWORD index = 0;
            // Serves the releases queued here; its end runs those still queued.
            (void)CoWaitForMultipleHandles(0, 60000, 1, &gone, &index);
            CoUninitialize();
        });
        (void)plat::waitFor(kept, plat::kInfiniteWait);
        row.letGo();
        home.join();
        EXPECT_EQ(*strays, 0) << row.what;
        EXPECT_EQ(plat::waitFor(gone, 0).status, plat::WaitStatus::Signalled) << row.what;
        plat::closeHandle(kept);
        plat::closeHandle(gone);
    }
}

// An object of the multithreaded apartment is no apartment's to send back:
// got on a single-threaded one too, it goes at once where the holder goes.
TEST(ccAgileInterfacePtr, AnObjectOfTheMultithreadedApartmentGoesWhereItIsLetGo)
{
    plat::Handle got = plat::createEvent(true, false), leave = plat::createEvent(true, false),
                 gone = plat::createEvent(true, false);
    auto* object = new HomeBound(gone, std::make_shared<std::atomic<int>>(0));
    ccAgileInterfacePtr holder(object);
    object->Release();
    std::thread sta([&] {
        (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IUnknown* mine = nullptr;
        EXPECT_EQ(holder.get(&mine), S_OK);
        mine->Release();
        plat::setEvent(got);
        (void)plat::waitFor(leave, plat::kInfiniteWait); // dispatching nothing
        CoUninitialize();
    });
    (void)plat::waitFor(got, plat::kInfiniteWait);
    holder.release();
    EXPECT_EQ(plat::waitFor(gone, 0).status, plat::WaitStatus::Signalled);
    plat::setEvent(leave);
    sta.join();
    for (plat::Handle h : {got, leave, gone})
        plat::closeHandle(h);
}

// Threads at once, round after round: each gets its pointer, and those of
// threads that have ended are dropped as others come.
TEST(ccAgileInterfacePtr, ThePointersOfEndedThreadsAreDropped)
{
    auto* object = new Unmarked;
    ccAgileInterfacePtr holder(object); // through the table
    object->Release();
    constexpr size_t kAtOnce = 4;
    for (int round = 0; round < 10; ++round) {
        std::vector<std::thread> threads;
        for (size_t t = 0; t < kAtOnce; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 20; ++i) {
                    IUnknown* got = nullptr;
                    ASSERT_EQ(holder.get(&got), S_OK);
                    EXPECT_EQ(got, object);
                    got->Release();
                }
            });
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_LE(ccAgileThreadEntries(holder), 1 + kAtOnce); // the storing thread's, and the last round's
}

} // namespace
