// Connection points apart from acquisition: argument checks of Advise, the
// enumerators of connections and points, and the sink list's call order.
#include "comframe/connpoint.h"
#include "comframe/objectroot.h"
#include "tests/support/com_sink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const IID kEvents = {0x5C0E7A41, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const IID kOtherEvents = {0x5C0E7A42, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};

class Source : public ccComObjectRoot<ccComFreeThreadModel>, public ccConnectionPointContainerImpl<Source> {
public:
    BEGIN_COM_MAP(Source)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()

    IConnectionPoint* connectionPointAt(size_t i)
    {
        return i == 0 ? static_cast<IConnectionPoint*>(&events) : i == 1 ? &other : nullptr;
    }
    ccConnectionPointImpl<Source, &kEvents> events{this};
    ccConnectionPointImpl<Source, &kOtherEvents> other{this};
};

// Answers kEvents; records the arguments of each call in the order given.
// refuse: what QueryInterface for kEvents answers instead.
class Sink : public CountedSink {
public:
    explicit Sink(HRESULT refuse = S_OK) : CountedSink(kEvents), refuse_(refuse) {}
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (iid != kEvents || SUCCEEDED(refuse_)) return CountedSink::QueryInterface(iid, ppv);
        *ppv = nullptr;
        return refuse_;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        calls.push_back(id);
        for (UINT i = p->cArgs; i-- > 0;) seen.push_back(p->rgvarg[i].lVal); // rgvarg holds the last first
        return E_FAIL; // not looked at
    }
    std::vector<DISPID> calls;
    std::vector<LONG> seen;

private:
    const HRESULT refuse_;
};

class ConnectionPoints : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CComObject<Source>::CreateInstance(&source), S_OK);
        source->AddRef();
    }
    void TearDown() override { source->Release(); }
    CComObject<Source>* source = nullptr;
};

TEST_F(ConnectionPoints, AdviseRefusesWhatItCannotKeep)
{
    Sink sink, failing(E_OUTOFMEMORY), without(E_NOINTERFACE);
    DWORD cookie = 7;
    const struct {
        const char* what;
        IUnknown* sink;
        DWORD* cookie;
        HRESULT hr;
    } rows[] = {
        {"null sink", nullptr, &cookie, E_POINTER},
        {"null cookie", &sink, nullptr, E_POINTER},
        {"sink failing its query", &failing, &cookie, E_OUTOFMEMORY},
        {"sink without the events interface", &without, &cookie, CONNECT_E_CANNOTCONNECT},
    };
    for (const auto& row : rows) {
        cookie = 7;
        EXPECT_EQ(source->events.Advise(row.sink, row.cookie), row.hr) << row.what;
        EXPECT_EQ(cookie, row.cookie && row.sink ? 0u : 7u) << row.what;
    }
    EXPECT_EQ(source->events.sinks().count(), 0u);
    EXPECT_EQ(sink.references.load() + failing.references.load() + without.references.load(), 0u);
}

// Cookies are places: the first free one is reused, and growing moves
// nothing; enumeration lists the occupied places only.
TEST_F(ConnectionPoints, CookiesArePlacesThatStayAndAreReused)
{
    Sink sink;
    auto& point = source->events;
    DWORD cookie = 0;
    for (DWORD expected = 1; expected <= 17; ++expected) {
        ASSERT_EQ(point.Advise(&sink, &cookie), S_OK);
        EXPECT_EQ(cookie, expected);
        EXPECT_EQ(point.sinks().capacity(), expected <= 16 ? 16u : 32u); // grows by 16
    }
    EXPECT_EQ(point.Unadvise(5), S_OK);
    EXPECT_EQ(point.Unadvise(2), S_OK);
    ASSERT_EQ(point.Advise(&sink, &cookie), S_OK);
    EXPECT_EQ(cookie, 2u);
    for (DWORD none : {0u, 5u, 33u}) EXPECT_EQ(point.Unadvise(none), CONNECT_E_NOCONNECTION) << none;
    IEnumConnections* e = nullptr;
    ASSERT_EQ(point.EnumConnections(&e), S_OK);
    CONNECTDATA listed[20];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(20, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 16u);
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(listed[i].dwCookie, i < 4 ? i + 1 : i + 2);
        EXPECT_EQ(listed[i].pUnk, static_cast<IUnknown*>(&sink));
        listed[i].pUnk->Release();
    }
    e->Release();
    for (DWORD c = 1; c <= 17; ++c) EXPECT_EQ(point.Unadvise(c), c == 5 ? CONNECT_E_NOCONNECTION : S_OK);
    EXPECT_EQ(sink.references.load(), 0u);
    EXPECT_EQ(point.sinks().capacity(), 32u); // and never shrinks
}

// The connections enumerated keep their sinks until the enumerator and its
// clones go; Skip, Reset and Clone keep their places.
TEST_F(ConnectionPoints, ConnectionEnumeratorsKeepTheirSinksAndPlaces)
{
    Sink a, b, c;
    DWORD cookies[3] = {};
    Sink* sinks[] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(source->events.Advise(sinks[i], &cookies[i]), S_OK);
    IEnumConnections* e = nullptr;
    ASSERT_EQ(source->events.EnumConnections(&e), S_OK);
    for (DWORD cookie : cookies) EXPECT_EQ(source->events.Unadvise(cookie), S_OK);
    EXPECT_EQ(a.references.load(), 1u); // the enumerator's

    CONNECTDATA got[3] = {};
    ULONG fetched = 9;
    EXPECT_EQ(e->Next(2, got, nullptr), E_POINTER);
    EXPECT_EQ(e->Skip(1), S_OK);
    IEnumConnections* clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(e->Skip(5), S_FALSE); // at the end now
    EXPECT_EQ(e->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    e->Release();
    EXPECT_EQ(clone->Next(3, got, &fetched), S_FALSE); // from the clone's own place
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(got[0].pUnk, static_cast<IUnknown*>(&b));
    EXPECT_EQ(got[0].dwCookie, cookies[1]);
    EXPECT_EQ(got[1].pUnk, static_cast<IUnknown*>(&c));
    got[0].pUnk->Release(), got[1].pUnk->Release();
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0].pUnk, static_cast<IUnknown*>(&a));
    got[0].pUnk->Release();
    clone->Release();
    for (Sink* s : sinks) EXPECT_EQ(s->references.load(), 0u);
}

// Points are listed in order, each with a reference that keeps the object;
// the container finds a point by its interface and no other.
TEST_F(ConnectionPoints, PointEnumeratorListsEveryPointInOrder)
{
    IEnumConnectionPoints* e = nullptr;
    ASSERT_EQ(source->EnumConnectionPoints(&e), S_OK);
    IConnectionPoint* points[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, points, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(points[0], static_cast<IConnectionPoint*>(&source->events));
    EXPECT_EQ(points[1], static_cast<IConnectionPoint*>(&source->other));
    e->Release();
    source->Release(); // the points keep the object alive
    IID iid = GUID_NULL;
    EXPECT_EQ(points[1]->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, kOtherEvents);
    source->AddRef();
    points[0]->Release(), points[1]->Release();
    EXPECT_EQ(source->FindConnectionPoint(kEvents, nullptr), E_POINTER);
    IConnectionPoint* found = nullptr;
    EXPECT_EQ(source->FindConnectionPoint(IID_IDispatch, &found), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(source->FindConnectionPoint(kOtherEvents, &found), S_OK);
    EXPECT_EQ(found, static_cast<IConnectionPoint*>(&source->other));
    found->Release();
    // A point answers for itself and gives its object's container.
    const struct {
        const IID* iid;
        HRESULT hr;
    } asked[] = {{&IID_IConnectionPoint, S_OK}, {&IID_IUnknown, S_OK}, {&IID_IDispatch, E_NOINTERFACE}};
    for (const auto& [iid, hr] : asked) {
        void* got = source; // overwritten
        EXPECT_EQ(source->other.QueryInterface(*iid, &got), hr);
        EXPECT_EQ(got, SUCCEEDED(hr) ? static_cast<IConnectionPoint*>(&source->other) : nullptr);
        if (got) source->other.Release();
    }
    EXPECT_EQ(source->other.QueryInterface(IID_IConnectionPoint, nullptr), E_POINTER);
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(source->other.GetConnectionPointContainer(&container), S_OK);
    EXPECT_EQ(container, static_cast<IConnectionPointContainer*>(source));
    container->Release();
}

// Each sink connected is called once with the arguments in the order the
// caller wrote them; a sink's failure does not stop the others.
TEST_F(ConnectionPoints, SinkListCallsEverySinkWithTheArgumentsInOrder)
{
    Sink a, b;
    DWORD cookie = 0;
    ASSERT_EQ(source->events.Advise(&a, &cookie), S_OK);
    ASSERT_EQ(source->events.Advise(&b, &cookie), S_OK);
    ASSERT_EQ(source->events.Unadvise(1), S_OK);
    ASSERT_EQ(source->events.Advise(&a, &cookie), S_OK); // back in place 1
    {
        ccSinkList list;
        source->events.sinks().takeSinks(list);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0], static_cast<IDispatch*>(&a));
        VARIANT args[3] = {};
        for (LONG i = 0; i < 3; ++i) args[i].vt = VT_I4, args[i].lVal = 10 + i;
        list.invokeAll(5, 3, args);
        list.invokeAll(6, 0, nullptr);
    }
    for (Sink* s : {&a, &b}) {
        EXPECT_EQ(s->calls, (std::vector<DISPID>{5, 6}));
        EXPECT_EQ(s->seen, (std::vector<LONG>{10, 11, 12}));
    }
    for (DWORD c : {1u, 2u}) EXPECT_EQ(source->events.Unadvise(c), S_OK);
    EXPECT_EQ(a.references.load() + b.references.load(), 0u);
}

} // namespace
