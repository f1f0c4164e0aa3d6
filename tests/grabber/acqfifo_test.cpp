// The acquisition FIFO object over the simulated board, used as a client
// uses it: through its interfaces, connection points and persistence.
#include "grabber/acqfifo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

#include "comframe/agile.h"
#include "comframe/dotnet_testing.h"
#include "platform/com/classes.h"
#include "platform/com/errorinfo.h"
#include "platform/com/stream.h"
#include "tests/support/sim_module.h"

namespace {

using namespace cc_acqfifo;
using sim_module::sim;

constexpr int32_t kWidth = 16, kHeight = 8;
const wchar_t* const kFormat = L"Sony XC75 640x480";

// Each pel of a grey image is the simulator's for ticket.
bool holdsFrameOf(IQorImage* image, uint32_t ticket)
{
    LONG w = 0, h = 0;
    bool same = image->get_Width(&w) == S_OK && image->get_Height(&h) == S_OK && w == kWidth && h == kHeight;
    for (int32_t i = 0; same && i < kWidth * kHeight; ++i)
        same = image->pelData()[i] == ccSimPel(i % kWidth, i / kWidth, ticket, 0);
    return same;
}

// The calling thread's error text; empty without an error object.
std::u16string errorText()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR text = nullptr;
    const std::u16string result(info->GetDescription(&text) == S_OK && text ? text : u"");
    SysFreeString(text), info->Release();
    return result;
}

// Records (event id, first argument, second argument) of each call; agile,
// so that the event thread calls it directly.
class Sink : public IDispatch {
public:
    explicit Sink(const IID& iid) : iid_(iid) {}
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != iid_ && iid != IID_IQorAgileMarker)
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        std::lock_guard<std::mutex> hold(lock);
        const LONG last = p->rgvarg[0].lVal, first = p->cArgs > 1 ? p->rgvarg[1].lVal : -1;
        seen.insert({id, first, last});
        arrived.notify_all();
        return S_OK;
    }
    // Waits for a call with these arguments; kAny matches any first one.
    static constexpr LONG kAny = -2;
    bool waitFor(DISPID id, LONG first, LONG last)
    {
        std::unique_lock<std::mutex> hold(lock);
        return arrived.wait_for(hold, std::chrono::seconds(2), [&] {
            return std::any_of(seen.begin(), seen.end(), [&](const auto& call) {
                return call == std::make_tuple(id, first == kAny ? std::get<1>(call) : first, last); });
        });
    }
    const IID iid_;
    std::atomic<ULONG> references{0};
    std::mutex lock;
    std::condition_variable arrived;
    std::set<std::tuple<DISPID, LONG, LONG>> seen;
};

class AcqFifoObject : public testing::Test {
protected:
    void SetUp() override
    {
        sim().reset();
        sim().setFrameSize(kWidth, kHeight);
        fifo = make();
    }
    void TearDown() override
    {
        if (fifo) fifo->Release();
        EXPECT_EQ(sim().liveFifos(), 0u);
    }
    static IQorAcqFifo7320* make()
    {
        IDispatch* object = nullptr;
        EXPECT_EQ(ccCreateAcqFifoObject(0, kFormat, 0, &object), S_OK);
        IQorAcqFifo7320* result = nullptr;
        if (object) object->QueryInterface(IID_IQorAcqFifo7320, reinterpret_cast<void**>(&result)), object->Release();
        return result;
    }
    template <class I> I* as(REFIID iid, IUnknown* object = nullptr)
    {
        I* result = nullptr;
        EXPECT_EQ((object ? object : fifo)->QueryInterface(iid, reinterpret_cast<void**>(&result)), S_OK);
        return result;
    }
    // Completes ticket; the image, or null with the failure in hr.
    IQorImage* complete(LONG ticket, HRESULT* hr, LONG* trigger = nullptr)
    {
        LONG number = -1;
        IQorImage* image = nullptr;
        *hr = fifo->Complete(ticket, trigger ? trigger : &number, &image);
        return image;
    }

    IQorAcqFifo7320* fifo = nullptr;
};

// Tickets are completed by name or oldest first; each image holds its
// frame's pels; with nothing left a completion fails rather than waits.
TEST_F(AcqFifoObject, CompletesByTicketOrOldestIntoImagesOfTheFrame)
{
    LONG tickets[3] = {};
    for (LONG& t : tickets) ASSERT_EQ(fifo->Start(&t), S_OK);
    const struct { LONG asked; uint32_t frame; } steps[] = {{tickets[2], 2}, {-1, 0}, {-1, 1}};
    for (const auto& s : steps) {
        HRESULT hr = E_FAIL;
        IQorImage* image = complete(s.asked, &hr);
        ASSERT_EQ(hr, S_OK);
        EXPECT_TRUE(holdsFrameOf(image, static_cast<uint32_t>(tickets[s.frame])));
        image->Release();
    }
    HRESULT hr = S_OK;
    EXPECT_EQ(complete(-1, &hr), nullptr);
    EXPECT_EQ(hr, kNothingToComplete);
}

TEST_F(AcqFifoObject, CreationRefusesWhatTheBoardDoesNotHave)
{
    const std::tuple<int32_t, const wchar_t*, int32_t> bad[] = {
        {1, kFormat, 0}, {-1, kFormat, 0}, {0, L"No Such Format", 0}, {0, kFormat, 1}, {0, kFormat, -1}};
    for (const auto& [board, format, port] : bad) {
        IDispatch* object = fifo;
        EXPECT_TRUE(FAILED(ccCreateAcqFifoObject(board, format, port, &object)) && !object && !errorText().empty());
    }
}

// A trigger model without the software-start flag refuses Start and Acquire.
TEST_F(AcqFifoObject, ASoftwareStartNeedsTheModelsStartFlag)
{
    IQorAcqTrigger* trigger = as<IQorAcqTrigger>(IID_IQorAcqTrigger);
    const struct { LONG model; HRESULT hr; } models[] = {{1, kStartNotAllowed}, {3, kStartNotAllowed}, {0, S_OK}};
    for (const auto& m : models) {
        ASSERT_EQ(trigger->put_TriggerModel(m.model), S_OK);
        LONG ticket = -1, number = 0;
        IQorImage* image = nullptr;
        EXPECT_EQ(fifo->Start(&ticket), m.hr);
        EXPECT_TRUE(SUCCEEDED(m.hr) || !errorText().empty());
        EXPECT_EQ(FAILED(m.hr) ? fifo->Acquire(&number, &image) : m.hr, m.hr);
    }
    trigger->Release();
}

TEST(AcqFifoFailures, EachFailureFlagHasItsCodeTheLowestFirst)
{
    for (uint32_t bit = 0; bit < 8; ++bit) EXPECT_EQ(failureCode(1u << bit), kFailureFlag + static_cast<HRESULT>(bit));
    const std::pair<uint32_t, HRESULT> others[] = {{0x6, kFailureFlag + 1}, {0x100, S_OK}, {0, S_OK}};
    for (const auto& [flags, hr] : others) EXPECT_EQ(failureCode(flags), hr);
}

// A packed colour frame becomes three planes: red, green, blue.
TEST(AcqFifoImages, AColourFrameBecomesThreePlanes)
{
    ccPelBuffer<ccPackedRGB32Pel> packed(3, 2, 32);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) packed.row(y)[x].value = uint32_t(x << 16 | y << 8 | (x + y + 7));
    IQorImage* image = imageFrom(ccAcqImage(packed));
    LONG format = 0;
    image->get_PelFormat(&format);
    EXPECT_EQ(format, qorImagePlanar3);
    for (int32_t i = 0; i < 6; ++i) {
        const uint8_t* pel = image->pelData() + i;
        EXPECT_EQ(std::make_tuple(pel[0], pel[6], pel[12]), std::make_tuple(i % 3, i / 3, i % 3 + i / 3 + 7));
    }
    image->Release();
}

// The simulator's failures through Complete: overrun (flag 1) and a time-out
// (flag 2), each with its code and error information.
TEST_F(AcqFifoObject, AFailedAcquisitionCompletesWithItsFlagsCode)
{
    ASSERT_EQ(fifo->put_Timeout(0.05), S_OK);
    const struct { void (*inject)(); HRESULT hr; } cases[] = {
        {[] { sim().injectOverruns(1); }, kFailureFlag}, {[] { sim().setTriggered(1); }, kFailureFlag + 1}};
    for (const auto& c : cases) {
        c.inject();
        LONG ticket = -1;
        ASSERT_EQ(fifo->Start(&ticket), S_OK);
        HRESULT hr = S_OK;
        EXPECT_EQ(complete(ticket, &hr), nullptr);
        EXPECT_EQ(hr, c.hr);
        EXPECT_FALSE(errorText().empty());
    }
}

// A blocking acquire that meets an overrun fails with the overrun's code (no
// complete callback comes for it, so it would otherwise time out), and the
// next one gets its own frame: the skip counter never swallows it.
TEST_F(AcqFifoObject, AcquireAfterAnOverrunFailsAtOnceAndTheNextGetsItsFrame)
{
    ASSERT_EQ(fifo->put_Timeout(0.3), S_OK);
    sim().injectOverruns(1);
    LONG number = -1;
    IQorImage* image = nullptr;
    EXPECT_EQ(fifo->Acquire(&number, &image), kFailureFlag);
    ASSERT_EQ(fifo->Acquire(&number, &image), S_OK);
    EXPECT_TRUE(holdsFrameOf(image, kAcquireTicket | 1u));
    image->Release();
}

// Each acquisition point calls its sinks with (trigger number, ticket); a
// changed property tells the general point its member id.
TEST_F(AcqFifoObject, EventsReachTheSinksOfEachKind)
{
    IConnectionPointContainer* container = as<IConnectionPointContainer>(IID_IConnectionPointContainer);
    const IID* iids[] = {&DIID_IQorAcqMovePartEvent, &DIID_IQorAcqCompleteEvent, &DIID_IQorAcqOverrunEvent,
                         &DIID_IQorAcqFifoEvents};
    Sink move(*iids[0]), done(*iids[1]), overrun(*iids[2]), changed(*iids[3]);
    Sink* sinks[] = {&move, &done, &overrun, &changed};
    IConnectionPoint* points[4] = {};
    DWORD cookies[4] = {};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(container->FindConnectionPoint(*iids[i], &points[i]), S_OK);
        ASSERT_EQ(points[i]->Advise(sinks[i], &cookies[i]), S_OK);
    }
    LONG ticket = -1, number = -1;
    ASSERT_EQ(fifo->Start(&ticket), S_OK);
    HRESULT hr = E_FAIL;
    complete(ticket, &hr, &number)->Release();
    EXPECT_TRUE(move.waitFor(ccAcqEventId, number, ticket));
    EXPECT_TRUE(done.waitFor(ccAcqEventId, number, ticket));
    sim().injectOverruns(1);
    ASSERT_EQ(fifo->Start(&ticket), S_OK);
    EXPECT_TRUE(overrun.waitFor(ccAcqEventId, Sink::kAny, ticket));
    ASSERT_EQ(fifo->put_Timeout(2.5), S_OK);
    EXPECT_TRUE(changed.waitFor(kChangedEventId, -1, ccAcqFifoTimeout));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(points[i]->Unadvise(cookies[i]), S_OK);
        points[i]->Release();
    }
    container->Release();
}

// The last release while sinks listen and acquisitions are under way: the
// library callbacks and the module's threads end before the object's state
// goes (the sanitizers see any callback that reaches it later).
TEST_F(AcqFifoObject, TheLastReleaseWaitsForCallbacksInFlight)
{
    sim().setCallbackThreads(2);
    for (int round = 0; round < 20; ++round) {
        IQorAcqFifo7320* object = make();
        IConnectionPointContainer* container = as<IConnectionPointContainer>(IID_IConnectionPointContainer, object);
        Sink sinks[] = {Sink(DIID_IQorAcqMovePartEvent), Sink(DIID_IQorAcqCompleteEvent)};
        for (const IID* iid : {&DIID_IQorAcqMovePartEvent, &DIID_IQorAcqCompleteEvent}) {
            IConnectionPoint* point = nullptr;
            DWORD cookie = 0;
            container->FindConnectionPoint(*iid, &point);
            ASSERT_EQ(point->Advise(&sinks[iid == &DIID_IQorAcqMovePartEvent ? 0 : 1], &cookie), S_OK);
            point->Release();
        }
        container->Release();
        for (LONG i = 0, ticket = 0; i < 8; ++i) ASSERT_EQ(object->Start(&ticket), S_OK);
        object->Release();
        EXPECT_EQ(sinks[0].references.load() + sinks[1].references.load(), 0u);
    }
}

// The board, format, port, Tag and properties travel through IPersistStream
// into an object made bare by its ProgID; a load that fails changes nothing.
TEST_F(AcqFifoObject, PersistsIntoABareObjectAndAFailedLoadChangesNothing)
{
    ASSERT_EQ(ccRegisterSerializer(), S_OK);
    // The stream format carries no arrays: a FIFO without lookup tables (17).
    std::vector<int32_t> supported;
    for (int32_t number = 1; number <= 40; ++number)
        if (number != 17) supported.push_back(number);
    sim().setSupported(supported.data(), static_cast<int32_t>(supported.size()));
    fifo->Release();
    fifo = make();
    IQorAcqExposure* exposure = as<IQorAcqExposure>(IID_IQorAcqExposure);
    ASSERT_EQ(exposure->put_Exposure(0.004), S_OK);
    exposure->Release();
    ASSERT_EQ(fifo->put_Timeout(1.5), S_OK);
    IPersistStream* saved = as<IPersistStream>(IID_IPersistStream);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, 1, &stream), S_OK);
    ASSERT_EQ(saved->Save(stream, 1), S_OK);
    saved->Release();
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Qoralt.QorAcqFifo7320", &clsid), S_OK);
    IQorAcqFifo7320* bare = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IQorAcqFifo7320, reinterpret_cast<void**>(&bare)), S_OK);
    LONG port = -1;
    // An empty archive names no FIFO: the object stays bare.
    IQorPersistArchive* direct = as<IQorPersistArchive>(IID_IQorPersistArchive, bare);
    CQorArchive* empty = nullptr;
    ASSERT_EQ(CQorArchive::create(&empty), S_OK);
    static_cast<IQorArchive*>(empty)->AddRef();
    EXPECT_EQ(direct->Persist(static_cast<IQorArchive*>(empty), 0), kNoFifoInArchive);
    EXPECT_EQ(bare->get_CameraPort(&port), kNoLibraryFifo);
    static_cast<IQorArchive*>(empty)->Release();
    direct->Release();
    LARGE_INTEGER start{};
    ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    IPersistStream* loaded = as<IPersistStream>(IID_IPersistStream, bare);
    ASSERT_EQ(loaded->Load(stream), S_OK);
    loaded->Release();
    stream->Release();
    LONG board = -1;
    BSTR format = nullptr;
    double timeout = 0, seconds = 0;
    exposure = as<IQorAcqExposure>(IID_IQorAcqExposure, bare);
    EXPECT_EQ(std::make_tuple(bare->get_BoardIndex(&board), bare->get_CameraPort(&port), bare->get_VideoFormat(&format),
                              bare->get_Timeout(&timeout), exposure->get_Exposure(&seconds)),
              std::make_tuple(S_OK, S_OK, S_OK, S_OK, S_OK));
    EXPECT_EQ(std::make_tuple(board, port, plat::com::wideFromBstr(format), timeout, seconds),
              std::make_tuple(0, 0, std::wstring(kFormat), 1.5, 0.004));
    SysFreeString(format);
    exposure->Release();
    bare->Release();
}

// Each .NET sink method installs its kind's library callback; its removal
// takes it away again.
TEST_F(AcqFifoObject, DotNetSinksInstallAndRemoveTheLibraryCallback)
{
    IQorComInternal* internal = as<IQorComInternal>(IID_IQorComInternal);
    void* impl = nullptr;
    ASSERT_EQ(internal->GetImpl(&impl), S_OK);
    internal->Release();
    ccAcqFifo& lib = *static_cast<ccAcqFifo*>(impl);
    const struct {
        HRESULT (IQorAcqFifo7320::*add)();
        HRESULT (IQorAcqFifo7320::*remove)();
        const ccAcqInfoCallbackHandle& (ccAcqFifo::*installed)() const;
    } kinds[] = {
        {&IQorAcqFifo7320::AddDotNetMovePartSink, &IQorAcqFifo7320::RemoveDotNetMovePartSink, &ccAcqFifo::movePartCallback},
        {&IQorAcqFifo7320::AddDotNetCompleteSink, &IQorAcqFifo7320::RemoveDotNetCompleteSink, &ccAcqFifo::completeCallback},
        {&IQorAcqFifo7320::AddDotNetOverrunSink, &IQorAcqFifo7320::RemoveDotNetOverrunSink, &ccAcqFifo::overrunCallback},
    };
    for (const auto& k : kinds) {
        EXPECT_EQ((fifo->*k.add)(), S_OK);
        EXPECT_NE((lib.*k.installed)().rawPointer(), nullptr);
        EXPECT_EQ((fifo->*k.remove)(), S_OK);
        EXPECT_EQ((lib.*k.installed)().rawPointer(), nullptr);
    }
}

// With the .NET bridge each new object gets its companion, released with
// it; after the managed side shut down no object is made. Without a bridge
// (the fixture's) the object works alone.
TEST_F(AcqFifoObject, ACompanionComesWithTheBridge)
{
    ccDotNetResetForTesting();
    ASSERT_EQ(ccDotNetRegisterStandInBridge(), S_OK);
    ccDotNetStandInLogged(true);
    make()->Release();
    const ccDotNetStandInLog log = ccDotNetStandInLogged();
    EXPECT_EQ(std::make_tuple(log.companions, log.releases), std::make_tuple(1, 1));
    ASSERT_EQ(ccDotNetStandInShutdown(), S_OK);
    IDispatch* refused = nullptr;
    EXPECT_EQ(ccCreateAcqFifoObject(0, kFormat, 0, &refused), E_FAIL);
    EXPECT_EQ(plat::com::unregisterClass(CLSID_QorDotNetBridge), S_OK);
    ccDotNetResetForTesting();
}

} // namespace
