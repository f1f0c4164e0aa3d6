// The acquisition FIFO object over the simulated board, used as a client
// uses it: through its interfaces, connection points and persistence.
#include "grabber/acqfifo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <iterator>
#include <limits>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "grabber/comhelpers.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "platform/event_log_testing.h"
#include "tests/grabber/board_client.h"
#include "tests/grabber/late_bound.h"
#include "tests/support/apartment_sink.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/in_time.h"
#include "tests/support/sim_module.h"

namespace {

using namespace cc_acqfifo;
using board_client::implOf;
using board_client::query;
using cc_grabber::Key;
using sim_module::sim;

using plat::com::Ref;

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

// What a blocking acquire on another thread got; on the heap, since a thread
// that hangs keeps it.
struct Acquired {
    std::atomic<HRESULT> hr{E_FAIL}; // until it returns
    LONG number = -1;
    Ref<IQorImage> image;
};

std::function<void()> acquireOn(IQorAcqFifo7320* object, const std::shared_ptr<Acquired>& into)
{
    return [object, into] { into->hr = object->Acquire(&into->number, &into->image.p); };
}

// Whether done() comes true within the limit (the simulator tells nothing).
bool eventually(const std::function<bool()>& done)
{
    const auto limit = std::chrono::steady_clock::now() + test_support::kHangLimit;
    while (!done())
        if (std::chrono::steady_clock::now() > limit)
            return false;
        else
            std::this_thread::yield();
    return true;
}

// Whether the simulator saw count starts: a blocking acquire is registered
// before its start.
bool startsSeen(uint32_t count)
{
    return eventually([count] { return sim().callCount(ccIidFifoCore, 3) >= count; });
}

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
        // Its event thread may hold it while it fires: it lets go first, so
        // that the release here is the last.
        if (fifo) static_cast<CQorAcqFifo7320*>(fifo.p)->Stop();
        fifo = {};
        EXPECT_EQ(sim().liveFifos(), 0u);
    }
    static Ref<IQorAcqFifo7320> make()
    {
        Ref<IDispatch> object;
        EXPECT_EQ(ccCreateAcqFifoObject(0, kFormat, 0, &object.p), S_OK);
        return object ? query<IQorAcqFifo7320>(object.p, IID_IQorAcqFifo7320) : Ref<IQorAcqFifo7320>();
    }
    template <class I> Ref<I> as(REFIID iid) { return query<I>(fifo.p, iid); }
    // Runs bodies on threads of their own: whether all ended in time. Hung
    // threads keep the object: the test leaks it.
    bool inTime(std::vector<std::function<void()>> bodies)
    {
        if (test_support::finishedInTime(std::move(bodies))) return true;
        fifo.p = nullptr;
        return false;
    }
    // Completes ticket; the image, or null with the failure in hr.
    Ref<IQorImage> complete(LONG ticket, HRESULT* hr, LONG* trigger = nullptr)
    {
        LONG number = -1;
        Ref<IQorImage> image;
        *hr = fifo->Complete(ticket, trigger ? trigger : &number, &image.p);
        return image;
    }

    Ref<IQorAcqFifo7320> fifo;
};

// Tickets are completed by name or oldest first; each image holds its
// frame's pels. A result completed on the way to another ticket is kept: it
// is counted, completed later, and dropped by a flush. With nothing left a
// completion fails rather than waits.
TEST_F(AcqFifoObject, CompletesByTicketOrOldestAndKeepsWhatItPassesOnTheWay)
{
    LONG tickets[4] = {}, count = -1, pending = -1;
    for (LONG& t : tickets) ASSERT_EQ(fifo->Start(&t), S_OK);
    const struct { LONG asked; uint32_t frame; } steps[] = {{tickets[2], 2}, {-1, 0}, {-1, 1}};
    HRESULT hr = E_FAIL;
    for (const auto& s : steps) {
        Ref<IQorImage> image = complete(s.asked, &hr);
        ASSERT_EQ(hr, S_OK);
        EXPECT_TRUE(holdsFrameOf(image.p, static_cast<uint32_t>(tickets[s.frame])));
    }
    EXPECT_FALSE(complete(tickets[3] + 99, &hr));
    EXPECT_EQ(hr, kNothingToComplete);
    EXPECT_EQ(fifo->get_CompletedAcquisitions(&count), S_OK);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(fifo->Flush(), S_OK);
    EXPECT_EQ(fifo->get_CompletedAcquisitions(&count) | fifo->get_PendingAcquisitions(&pending), S_OK);
    EXPECT_EQ(std::make_pair(count, pending), std::make_pair(0, 0));
    EXPECT_FALSE(complete(tickets[3], &hr));
    EXPECT_EQ(hr, kNothingToComplete);
}

TEST_F(AcqFifoObject, CreationRefusesWhatTheBoardDoesNotHave)
{
    const std::tuple<int32_t, const wchar_t*, int32_t> bad[] = {
        {1, kFormat, 0}, {-1, kFormat, 0}, {0, kFormat, 1}, {0, kFormat, -1}, {0, L"No Such Format", 0}};
    for (const auto& [board, format, port] : bad) {
        IDispatch* object = fifo.p;
        EXPECT_TRUE(FAILED(ccCreateAcqFifoObject(board, format, port, &object)) && !object && !ccTestErrorText().empty());
    }
}

TEST_F(AcqFifoObject, ASoftwareStartNeedsTheModelsStartFlag)
{
    Ref<IQorAcqTrigger> trigger = as<IQorAcqTrigger>(IID_IQorAcqTrigger);
    const struct { LONG model; HRESULT hr; } models[] = {{1, kStartNotAllowed}, {0, S_OK}};
    for (const auto& m : models) {
        ASSERT_EQ(trigger->put_TriggerModel(m.model), S_OK);
        LONG ticket = -1, number = 0;
        Ref<IQorImage> image;
        EXPECT_EQ(fifo->Start(&ticket), m.hr);
        EXPECT_TRUE(SUCCEEDED(m.hr) || !ccTestErrorText().empty());
        EXPECT_EQ(FAILED(m.hr) ? fifo->Acquire(&number, &image.p) : m.hr, m.hr);
    }
}

TEST(AcqFifoFailures, EachFailureFlagHasItsCodeTheLowestFirst)
{
    for (uint32_t bit = 0; bit < 8; ++bit) EXPECT_EQ(failureCode(1u << bit), kFailureFlag + static_cast<HRESULT>(bit));
    const std::pair<uint32_t, HRESULT> others[] = {{0x6, kFailureFlag + 1}, {0x100, S_OK}, {0, S_OK}};
    for (const auto& [flags, hr] : others) EXPECT_EQ(failureCode(flags), hr);
}

// Planes in order red, green, blue.
TEST(AcqFifoImages, AColourFrameBecomesThreePlanes)
{
    ccPelBuffer<ccPackedRGB32Pel> packed(3, 2, 32);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) packed.row(y)[x].value = uint32_t(x << 16 | y << 8 | (x + y + 7));
    Ref<IQorImage> image(imageFrom(ccAcqImage(packed)));
    LONG format = 0;
    image->get_PelFormat(&format);
    EXPECT_EQ(format, qorImagePlanar3);
    for (int32_t i = 0; i < 6; ++i) {
        const uint8_t* pel = image->pelData() + i;
        EXPECT_EQ(std::make_tuple(pel[0], pel[6], pel[12]), std::make_tuple(i % 3, i / 3, i % 3 + i / 3 + 7));
    }
}

// A blocking acquire that meets an overrun fails with the overrun's code at
// once, whether the module supports the overrun-callback property or not
// (without it, the acquire waited out its time-out, for ever by default), and
// the next one gets its own frame. Through Complete, an overrun and a
// time-out each give their flag's code.
TEST_F(AcqFifoObject, AFailedAcquisitionGivesItsFlagsCodeAndTheNextAcquireGetsItsFrame)
{
    std::vector<int32_t> allButOverrunCallback;
    for (int32_t n = 1; n <= 33; ++n)
        if (n != 9) allButOverrunCallback.push_back(n);
    const struct { const char* why; int32_t count; } modules[] = {
        {"with the overrun-callback property", -1}, {"without it", int32_t(allButOverrunCallback.size())}};
    uint32_t ticket = 0;
    for (const auto& m : modules) {
        SCOPED_TRACE(m.why);
        sim().setSupported(allButOverrunCallback.data(), m.count);
        sim().injectOverruns(1);
        auto overrun = std::make_shared<Acquired>(), next = std::make_shared<Acquired>();
        ASSERT_TRUE(inTime({acquireOn(fifo.p, overrun)}));
        EXPECT_EQ(overrun->hr, kFailureFlag);
        ASSERT_TRUE(inTime({acquireOn(fifo.p, next)}));
        ASSERT_EQ(next->hr, S_OK);
        EXPECT_TRUE(holdsFrameOf(next->image.p, kAcquireTicket | (ticket + 1)));
        ticket += 2;
    }
    ASSERT_EQ(fifo->put_Timeout(0.3), S_OK);
    const struct { void (*inject)(); HRESULT hr; } cases[] = {
        {[] { sim().injectOverruns(1); }, kFailureFlag}, {[] { sim().setTriggered(1); }, kFailureFlag + 1}};
    for (const auto& c : cases) {
        c.inject();
        LONG started = -1;
        HRESULT hr = fifo->Start(&started);
        // Completed when the module has ended it: the completion waits only
        // a little longer than the module.
        EXPECT_TRUE(eventually([&] {
            LONG count = 0;
            return fifo->get_CompletedAcquisitions(&count) == S_OK && count == 1;
        }));
        EXPECT_FALSE(complete(started, &hr));
        EXPECT_EQ(hr, c.hr);
        EXPECT_FALSE(ccTestErrorText().empty());
    }
}

// A blocking acquire waits without the object's lock: a Flush from another
// thread ends it at once with the code a completion of a flushed acquisition
// gets, and so does the object's last release on another thread (either
// waited for the acquire before, for ever with the default time-out).
TEST_F(AcqFifoObject, AWaitingAcquireIsEndedByAFlushOrTheLastRelease)
{
    sim().setTriggered(1); // nothing is acquired until a software trigger
    const struct { const char* why; bool release; } ends[] = {{"a flush", false}, {"the last release", true}};
    uint32_t starts = 0;
    for (const auto& e : ends) {
        SCOPED_TRACE(e.why);
        IQorAcqFifo7320* object = e.release ? std::exchange(fifo.p, nullptr) : fifo.p;
        auto acquired = std::make_shared<Acquired>();
        ++starts;
        ASSERT_TRUE(inTime({acquireOn(object, acquired), [object, e, starts] {
                                if (!startsSeen(starts)) return;
                                if (e.release)
                                    object->Release();
                                else
                                    EXPECT_EQ(object->Flush(), S_OK);
                            }}));
        EXPECT_EQ(acquired->hr, kNothingToComplete);
        EXPECT_FALSE(acquired->image);
    }
    EXPECT_EQ(sim().liveFifos(), 0u); // the released object went with its library FIFO
}

// Other calls go on while a blocking acquire waits (they waited for it
// before): a query, a put and a completion answer at once, a load and a
// replacement of the library FIFO are refused, and the acquire still gets
// its own frame.
TEST_F(AcqFifoObject, OtherCallsGoOnWhileABlockingAcquireWaits)
{
    ccTestArchive archive(0x40FFFFFF);
    Ref<IQorPersistArchive> persist = as<IQorPersistArchive>(IID_IQorPersistArchive);
    ASSERT_EQ(persist->Persist(archive.held.p, 0x40FFFFFF), S_OK);
    ASSERT_EQ(archive.p->SetMode(0x00FFFFFF), S_OK);
    Ref<IQorComInternal> internal = as<IQorComInternal>(IID_IQorComInternal);
    const ccPtrHandle<ccAcqFifo> other(ccVidFmtSonyXCST50_640x480().newAcqFifo(cc7320::getBoard(0), -1));
    const std::pair<std::function<HRESULT()>, HRESULT> calls[] = {
        {[&] { return as<IQorAcqTrigger>(IID_IQorAcqTrigger) ? S_OK : E_NOINTERFACE; }, S_OK},
        {[&] { return fifo->put_Timeout(1e6); }, S_OK},
        {[&] { HRESULT hr = E_FAIL; return complete(-1, &hr), hr; }, kNothingToComplete},
        {[&] { return persist->Persist(archive.held.p, 0x00FFFFFF); }, kListenersConnected},
        {[&] { return ccSetImpl<ccAcqFifo>(internal.p, other.rawPointer()); }, kListenersConnected},
    };
    sim().setTriggered(1);
    auto acquired = std::make_shared<Acquired>();
    auto answers = std::make_shared<std::vector<HRESULT>>();
    if (!inTime({acquireOn(fifo.p, acquired), [&, answers] {
            if (!startsSeen(1)) return;
            for (const auto& c : calls) answers->push_back(c.first());
            sim().softwareTrigger();
        }})) {
        internal.p = nullptr, persist.p = nullptr; // left to the hung threads with the object
        FAIL() << "the calls waited for the acquire";
    }
    ASSERT_EQ(answers->size(), std::size(calls));
    for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ((*answers)[i], calls[i].second) << i;
    ASSERT_EQ(acquired->hr, S_OK);
    EXPECT_TRUE(holdsFrameOf(acquired->image.p, kAcquireTicket));
}

// A completion on another thread while a blocking acquire waits takes the
// acquire's result off the library on its way to its own ticket, or leaves
// it: either way each gets its own frame.
TEST_F(AcqFifoObject, ResultsReachTheirOwnersByTicket)
{
    sim().setTriggered(1);
    auto acquired = std::make_shared<Acquired>();
    auto completed = std::make_shared<Acquired>();
    ASSERT_TRUE(inTime({acquireOn(fifo.p, acquired), [object = fifo.p, completed] {
                            if (!startsSeen(1)) return;
                            LONG ticket = -1;
                            EXPECT_EQ(object->Start(&ticket), S_OK);
                            completed->number = ticket;
                            sim().softwareTrigger(); // the acquire's, started first
                            sim().softwareTrigger();
                            LONG number = -1;
                            completed->hr = object->Complete(ticket, &number, &completed->image.p);
                        }}));
    ASSERT_EQ(std::make_pair(acquired->hr.load(), completed->hr.load()), std::make_pair(S_OK, S_OK));
    EXPECT_TRUE(holdsFrameOf(acquired->image.p, kAcquireTicket));
    EXPECT_TRUE(holdsFrameOf(completed->image.p, static_cast<uint32_t>(completed->number)));
}

// A sink in the client's own single-threaded apartment lets go of the
// object's last reference inside an event: the event thread holds the
// object while it calls, so the object ends there once the call is back.
// The release waited for the event thread before, which waited for the sink.
TEST_F(AcqFifoObject, ASinkInTheClientsApartmentMayLetGoOfTheLastReference)
{
    EXPECT_TRUE(test_support::lastReleaseInsideAnEvent(
        DIID_IQorAcqCompleteEvent,
        [] {
            Ref<IQorAcqFifo7320> object = make();
            return static_cast<IUnknown*>(std::exchange(object.p, nullptr));
        },
        [](IUnknown* object) {
            LONG ticket = -1;
            EXPECT_EQ(query<IQorAcqFifo7320>(object, IID_IQorAcqFifo7320)->Start(&ticket), S_OK);
        }));
}

// Move-part, complete and overrun events carry their tickets. A changed
// property tells the general point its member id; once no event
// can be queued, the lost change goes to the event log (it was dropped
// without a word before).
TEST_F(AcqFifoObject, EventsReachTheSinksOfEachKind)
{
    Ref<ccTestSink> sinks[] = {ccNewTestSink(DIID_IQorAcqMovePartEvent), ccNewTestSink(DIID_IQorAcqCompleteEvent),
                               ccNewTestSink(DIID_IQorAcqOverrunEvent), ccNewTestSink(DIID_IQorAcqFifoEvents)};
    ccTestSink &move = *sinks[0].p, &completed = *sinks[1].p, &overrun = *sinks[2].p, &changed = *sinks[3].p;
    DWORD cookies[4] = {};
    Ref<IConnectionPoint> points[] = {ccTestAdvise(fifo.p, move, &cookies[0]), ccTestAdvise(fifo.p, completed, &cookies[1]),
                                      ccTestAdvise(fifo.p, overrun, &cookies[2]), ccTestAdvise(fifo.p, changed, &cookies[3])};
    LONG ticket = -1, number = -1;
    HRESULT hr = fifo->Start(&ticket);
    complete(ticket, &hr, &number);
    EXPECT_TRUE(move.waitFor({ccAcqEventId, number, ticket}));
    EXPECT_TRUE(completed.waitFor({ccAcqEventId, number, ticket}));
    sim().injectOverruns(1);
    ASSERT_EQ(fifo->Start(&ticket), S_OK);
    EXPECT_TRUE(overrun.waitFor({ccAcqEventId, ccTestSink::kAny, ticket}));
    ASSERT_EQ(fifo->put_Timeout(2.5), S_OK);
    EXPECT_TRUE(changed.waitFor({kChangedEventId, ccAcqFifoTimeout}));
    static_cast<CQorAcqFifo7320*>(fifo.p)->Stop();
    plat::collectEventLines(true);
    EXPECT_EQ(fifo->put_Timeout(7.5), S_OK);
    EXPECT_EQ(plat::takeEventLines().size(), 1u);
    plat::collectEventLines(false);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(points[i]->Unadvise(cookies[i]), S_OK);
}

// The last release while sinks listen and acquisitions are under way: the
// library callbacks and the module's threads end before the object's state
// goes (the sanitizers see any callback that reaches it later), and the
// object lets go of its sinks, on its event thread when that was firing.
TEST_F(AcqFifoObject, TheLastReleaseWaitsForCallbacksInFlight)
{
    sim().setCallbackThreads(2);
    for (int round = 0; round < 20; ++round) {
        Ref<IQorAcqFifo7320> object = make();
        Ref<ccTestSink> sinks[] = {ccNewTestSink(DIID_IQorAcqMovePartEvent), ccNewTestSink(DIID_IQorAcqCompleteEvent)};
        DWORD cookie = 0;
        for (Ref<ccTestSink>& sink : sinks) ccTestAdvise(object.p, *sink.p, &cookie);
        for (LONG i = 0, ticket = 0; i < 8; ++i) ASSERT_EQ(object->Start(&ticket), S_OK);
        object = {};
        for (Ref<ccTestSink>& sink : sinks) EXPECT_TRUE(sink->waitReferences(1)) << round;
    }
}

// An archive that names no FIFO leaves the object bare.
TEST_F(AcqFifoObject, PersistsIntoABareObjectAndAFailedLoadChangesNothing)
{
    ASSERT_EQ(fifo->put_Timeout(1.5), S_OK);
    ccTestArchive saved(0x40FFFFFF), empty(0x00FFFFFF);
    ASSERT_EQ(as<IQorPersistArchive>(IID_IQorPersistArchive)->Persist(saved.held.p, 0x40FFFFFF), S_OK);
    Ref<IQorAcqFifo7320> bare;
    ASSERT_EQ(CoCreateInstance(CLSID_QorAcqFifo7320, nullptr, CLSCTX_ALL, IID_IQorAcqFifo7320, bare.out()), S_OK);
    Ref<IQorPersistArchive> loading = query<IQorPersistArchive>(bare.p, IID_IQorPersistArchive);
    LONG port = -1, board = -1;
    double timeout = 0;
    EXPECT_EQ(loading->Persist(empty.held.p, 0x00FFFFFF), kNoFifoInArchive);
    EXPECT_EQ(bare->get_CameraPort(&port), kNoLibraryFifo);
    ASSERT_EQ(saved.p->SetMode(0x00FFFFFF), S_OK);
    ASSERT_EQ(loading->Persist(saved.held.p, 0x00FFFFFF), S_OK);
    EXPECT_EQ(bare->get_BoardIndex(&board) | bare->get_CameraPort(&port) | bare->get_Timeout(&timeout), S_OK);
    EXPECT_EQ(std::make_tuple(board, port, timeout), std::make_tuple(0, 0, 1.5));
}

// A clone is a FIFO object of its own, over a library FIFO of its own for
// the same board, format and port, with the original's values.
TEST_F(AcqFifoObject, ACloneHasALibraryFifoOfItsOwnWithTheSameValues)
{
    ASSERT_EQ(fifo->put_Timeout(1.5) | as<IQorAcqExposure>(IID_IQorAcqExposure)->put_Exposure(0.02), S_OK);
    Ref<IQorObject> clone;
    ASSERT_EQ(as<IQorObject>(IID_IQorObject)->Clone(&clone.p), S_OK);
    LONG board = -1, port = -1;
    double timeout = 0, exposure = 0;
    Ref<IQorAcqFifo7320> copy = query<IQorAcqFifo7320>(clone.p, IID_IQorAcqFifo7320);
    ASSERT_EQ(copy->get_BoardIndex(&board) | copy->get_CameraPort(&port) | copy->get_Timeout(&timeout)
                  | query<IQorAcqExposure>(clone.p, IID_IQorAcqExposure)->get_Exposure(&exposure),
              S_OK);
    EXPECT_NE(implOf(clone.p), implOf(fifo.p));
    EXPECT_EQ(std::make_tuple(board, port, timeout, exposure), std::make_tuple(0, 0, 1.5, 0.02));
}

TEST_F(AcqFifoObject, DotNetSinksInstallAndRemoveTheLibraryCallback)
{
    void* impl = nullptr;
    ASSERT_EQ(as<IQorComInternal>(IID_IQorComInternal)->GetImpl(&impl), S_OK);
    const ccAcqFifo& lib = *static_cast<ccAcqFifo*>(impl);
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
        EXPECT_EQ((fifo.p->*k.add)(), S_OK);
        EXPECT_NE((lib.*k.installed)().rawPointer(), nullptr);
        EXPECT_EQ((fifo.p->*k.remove)(), S_OK);
        EXPECT_EQ((lib.*k.installed)().rawPointer(), nullptr);
    }
}

// A blocking acquire that ends without its frame gives its code and leaves
// nothing waiting: the library callbacks kept for it go, and the library
// FIFO may be replaced. A start the module refuses gives the module's error;
// a module that reports nothing within the time-out (here one never told
// it), 0x8004E60B.
TEST_F(AcqFifoObject, AnAcquireEndedWithoutItsFrameLeavesNothingWaiting)
{
    const struct { const char* why; void (*arrange)(); HRESULT hr; } cases[] = {
        {"the start refused", [] { sim_module::failNext(ccIidFifoCore, 3, ccAcqFifo::BadParams()); },
         late_bound::translated<ccAcqFifo::BadParams>()},
        {"no report in time", [] { sim().setTriggered(1), sim().setOffered(ccIidFifoProperties, 0); }, kAcquireTimedOut},
    };
    const ccPtrHandle<ccAcqFifo> other(ccVidFmtSonyXCST50_640x480().newAcqFifo(cc7320::getBoard(0), -1));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        c.arrange();
        Ref<IQorAcqFifo7320> object = make();
        ASSERT_EQ(object->put_Timeout(0.2), S_OK);
        const ccPtrHandle<ccAcqFifo> held(static_cast<ccAcqFifo*>(implOf(object.p)));
        LONG number = -1;
        Ref<IQorImage> image;
        EXPECT_EQ(object->Acquire(&number, &image.p), c.hr);
        EXPECT_FALSE(ccTestErrorText().empty());
        EXPECT_EQ(std::make_tuple(number, image.p, held->completeCallback().rawPointer(), held->overrunCallback().rawPointer()),
                  std::make_tuple(0, nullptr, nullptr, nullptr));
        EXPECT_EQ(ccSetImpl<ccAcqFifo>(query<IQorComInternal>(object.p, IID_IQorComInternal).p, other.rawPointer()), S_OK);
    }
}

// A time-out longer than the clock can count is no limit: the blocking
// acquire still waits for its frame rather than giving up at once.
TEST_F(AcqFifoObject, AnAcquireUnderAVeryLongTimeoutWaitsForItsFrame)
{
    ASSERT_EQ(fifo->put_Timeout(1e10), S_OK);
    LONG number = -1;
    Ref<IQorImage> image;
    EXPECT_EQ(fifo->Acquire(&number, &image.p), S_OK);
    EXPECT_TRUE(image);
}

// Null outs, tickets below -1 and time-outs that are no length are refused
// with their codes and an error object (a property's get without its out
// set none before); a refused time-out changes nothing.
TEST_F(AcqFifoObject, BadArgumentsAreRefused)
{
    LONG number = 0;
    IQorImage* image = nullptr;
    double timeout = 0;
    const std::pair<std::function<HRESULT()>, HRESULT> calls[] = {
        {[&] { return fifo->Start(nullptr); }, E_POINTER},
        {[&] { return fifo->Complete(0, nullptr, &image); }, E_POINTER},
        {[&] { return fifo->Complete(0, &number, nullptr); }, E_POINTER},
        {[&] { return fifo->Complete(-2, &number, &image); }, E_INVALIDARG},
        {[&] { return fifo->Acquire(&number, nullptr); }, E_POINTER},
        {[&] { return fifo->get_PendingAcquisitions(nullptr); }, E_POINTER},
        {[&] { return fifo->get_VideoFormat(nullptr); }, E_POINTER},
        {[&] { return as<IQorAcqBrightness>(IID_IQorAcqBrightness)->get_Brightness(nullptr); }, E_POINTER},
        {[&] { return SUCCEEDED(fifo->put_Timeout(-1.0)) ? S_OK : E_FAIL; }, E_FAIL},
        {[&] { return SUCCEEDED(fifo->put_Timeout(std::nan(""))) ? S_OK : E_FAIL; }, E_FAIL},
    };
    for (size_t i = 0; i < std::size(calls); ++i) {
        (void)SetErrorInfo(0, nullptr);
        EXPECT_EQ(calls[i].first(), calls[i].second) << i;
        EXPECT_FALSE(ccTestErrorText().empty()) << i;
    }
    EXPECT_EQ(image, nullptr);
    ASSERT_EQ(fifo->get_Timeout(&timeout), S_OK);
    EXPECT_EQ(timeout, std::numeric_limits<double>::infinity());
}

// An object made by its class id has no library FIFO until a load: every
// call that needs one says so, and it answers no property interface.
TEST_F(AcqFifoObject, ABareObjectRefusesWhatNeedsALibraryFifo)
{
    Ref<IQorAcqFifo7320> bare;
    ASSERT_EQ(CoCreateInstance(CLSID_QorAcqFifo7320, nullptr, CLSCTX_ALL, IID_IQorAcqFifo7320, bare.out()), S_OK);
    LONG value = 0;
    BSTR name = nullptr;
    IQorImage* image = nullptr;
    ccTestArchive saving(0x40FFFFFF);
    const std::function<HRESULT()> calls[] = {
        [&] { return bare->Start(&value); },
        [&] { return bare->Complete(-1, &value, &image); },
        [&] { return bare->Acquire(&value, &image); },
        [&] { return bare->Flush(); },
        [&] { return bare->put_Timeout(1.0); },
        [&] { return bare->get_VideoFormat(&name); },
        [&] { return bare->get_BoardIndex(&value); },
        [&] { return bare->AddDotNetCompleteSink(); },
        [&] { return query<IQorPersistArchive>(bare.p, IID_IQorPersistArchive)->Persist(saving.held.p, 0x40FFFFFF); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) {
        EXPECT_EQ(calls[i](), kNoLibraryFifo) << i;
        EXPECT_FALSE(ccTestErrorText().empty()) << i;
    }
    void* impl = this;
    EXPECT_EQ(query<IQorComInternal>(bare.p, IID_IQorComInternal)->GetImpl(&impl), E_FAIL);
    EXPECT_EQ(impl, nullptr);
    Ref<IQorAcqTrigger> trigger;
    EXPECT_EQ(bare->QueryInterface(IID_IQorAcqTrigger, trigger.out()), E_NOINTERFACE);
}

// An interface the FIFO lacks (Simultaneous, on the simulated board) is told
// while another thread holds its lock: the query waited for the lock before.
TEST_F(AcqFifoObject, AnswersQueriesWhileItsLockIsHeld)
{
    std::promise<void> held, done;
    std::thread holder([&] {
        ccThreadOwnerLockGuard guard(&static_cast<CQorAcqFifo7320*>(fifo.p)->ownerLock());
        held.set_value();
        done.get_future().wait();
    });
    held.get_future().wait();
    auto query = std::async(std::launch::async, [&] {
        void* itf = nullptr;
        return fifo->QueryInterface(IID_IQorAcqSimultaneous, &itf);
    });
    const bool answered = query.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    done.set_value();
    holder.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(query.get(), E_NOINTERFACE);
}

// A load would replace the library FIFO the listeners' callbacks are on. A
// C++ client's library FIFO stays usable after a load replaced it.
TEST_F(AcqFifoObject, ALoadIsRefusedWhileListenersAreConnectedAndTheLibraryFifoGivenOutOutlivesIt)
{
    void* impl = nullptr;
    ASSERT_EQ(as<IQorComInternal>(IID_IQorComInternal)->GetImpl(&impl), S_OK);
    ccTestArchive archive(0x40FFFFFF);
    Ref<IQorPersistArchive> persist = as<IQorPersistArchive>(IID_IQorPersistArchive);
    ASSERT_EQ(persist->Persist(archive.held.p, 0x40FFFFFF), S_OK);
    ASSERT_EQ(archive.p->SetMode(0x00FFFFFF), S_OK);
    Ref<ccTestSink> sink = ccNewTestSink(DIID_IQorAcqCompleteEvent);
    DWORD cookie = 0;
    Ref<IConnectionPoint> point = ccTestAdvise(fifo.p, *sink.p, &cookie);
    EXPECT_EQ(persist->Persist(archive.held.p, 0x00FFFFFF), kListenersConnected);
    ASSERT_EQ(point->Unadvise(cookie), S_OK);
    ASSERT_EQ(fifo->AddDotNetOverrunSink(), S_OK);
    EXPECT_EQ(persist->Persist(archive.held.p, 0x00FFFFFF), kListenersConnected);
    ASSERT_EQ(fifo->RemoveDotNetOverrunSink(), S_OK);
    EXPECT_EQ(persist->Persist(archive.held.p, 0x00FFFFFF), S_OK);
    EXPECT_EQ(static_cast<ccAcqFifo*>(impl)->pendingAcqs(), 0u);
    void* now = nullptr;
    ASSERT_EQ(as<IQorComInternal>(IID_IQorComInternal)->GetImpl(&now), S_OK);
    EXPECT_NE(now, impl);
}

// A load that fails part-way, at the FIFO it names or at a value, leaves the
// object with its library FIFO and values.
TEST_F(AcqFifoObject, ALoadThatFailsPartWayChangesNothing)
{
    ASSERT_EQ(fifo->put_Timeout(2.0), S_OK);
    void* before = nullptr;
    ASSERT_EQ(as<IQorComInternal>(IID_IQorComInternal)->GetImpl(&before), S_OK);
    const struct { const char* why; LONG port; double timeout; } cases[] = {{"a port the board lacks", 3, 1.0},
                                                                            {"a negative time-out", 0, -1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ccTestArchive archive(0x40FFFFFF);
        LONG board = 0, port = c.port;
        double timeout = c.timeout;
        Key format(u"Sony XC75 640x480");
        EXPECT_EQ(archive.p->PersistI4(Key(u"BoardIndex").get(), &board)
                      | archive.p->PersistString(Key(u"VideoFormat").get(), format.out())
                      | archive.p->PersistI4(Key(u"CameraPort").get(), &port)
                      | archive.p->PersistR8(Key(u"Timeout").get(), &timeout),
                  S_OK);
        ASSERT_EQ(archive.p->SetMode(0x00FFFFFF), S_OK);
        EXPECT_TRUE(FAILED(as<IQorPersistArchive>(IID_IQorPersistArchive)->Persist(archive.held.p, 0x00FFFFFF)));
        void* now = nullptr;
        EXPECT_EQ(as<IQorComInternal>(IID_IQorComInternal)->GetImpl(&now) | fifo->get_Timeout(&timeout), S_OK);
        EXPECT_EQ(std::make_pair(now, timeout), std::make_pair(before, 2.0));
    }
}

// The library FIFO behind the object is replaced only by a FIFO, and not
// while a sink listens (its callback would stay on the old one); the object
// then answers for the new FIFO, format included, and has changed since its
// last save.
TEST_F(AcqFifoObject, ItsLibraryFifoIsReplacedByAFifoWhileNoSinkListens)
{
    Ref<IQorComInternal> internal = as<IQorComInternal>(IID_IQorComInternal);
    void* const before = implOf(fifo.p);
    ccStdVideoFormat& format = ccVidFmtSonyXCST50_640x480();
    const ccPtrHandle<ccAcqFifo> other(format.newAcqFifo(cc7320::getBoard(0), -1));
    board_client::expectImplRefused(
        fifo.p, {{"a board", typeid(cc7320), &cc7320::getBoard(0)}, {"no FIFO", typeid(ccAcqFifo), nullptr}});
    Ref<ccTestSink> sink = ccNewTestSink(DIID_IQorAcqCompleteEvent);
    DWORD cookie = 0;
    Ref<IConnectionPoint> point = ccTestAdvise(fifo.p, *sink.p, &cookie);
    EXPECT_EQ(ccSetImpl<ccAcqFifo>(internal.p, other.rawPointer()), kListenersConnected);
    EXPECT_EQ(implOf(fifo.p), before);
    ASSERT_EQ(point->Unadvise(cookie), S_OK);
    ASSERT_EQ(ccSetImpl<ccAcqFifo>(internal.p, other.rawPointer()), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(fifo->put_Timeout(3.0) | fifo->get_VideoFormat(&name), S_OK);
    EXPECT_EQ(std::make_tuple(implOf(fifo.p), other->acqProps().timeout(), std::u16string(name, SysStringLen(name))),
              std::make_tuple(static_cast<void*>(other.rawPointer()), 3.0, std::u16string(format.name())));
    SysFreeString(name);
    EXPECT_EQ(as<IPersistStream>(IID_IPersistStream)->IsDirty(), S_OK);
}

} // namespace
