// The board's I/O lines as COM objects, over the simulated board's lines.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "grabber/lines.h"
#include "modules/unknownfg.h"
#include "platform/com/connection.h"
#include "tests/grabber/board_client.h"
#include "tests/grabber/late_bound.h"
#include "tests/support/apartment_sink.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/in_time.h"
#include "tests/support/sim_module.h"

namespace {

using namespace board_client;
using sim_module::sim;

template <class Collection> LONG countOf(IDispatch* lines, REFIID iid)
{
    Held<Collection> collection;
    LONG count = -1;
    EXPECT_EQ(lines->QueryInterface(iid, collection.out()), S_OK);
    EXPECT_EQ(collection->get_Count(&count), S_OK);
    return count;
}

class Lines : public testing::Test {
protected:
    void SetUp() override
    {
        sim().reset();
        sim().setAnswer(ccIidLineIO, 10, 0, 1); // both transitions can be told
        board = board_client::board(); // sets the board's I/O option, which reset cleared
        ASSERT_EQ(board->get_InputLines(&inputs.p) | board->get_OutputLines(&outputs.p), S_OK);
    }
    void TearDown() override { ccReleaseLineCollections(), sim().waitEdges(); }
    Held<IConnectionPoint> advise(LONG i, ccTestSink& sink, DWORD* cookie)
    {
        return ccTestAdvise(lineAt<IQorInputLines, IQorInputLine>(inputs.p, IID_IQorInputLines, i).p, sink, cookie);
    }

    Held<IQorFrameGrabber7320> board;
    Held<IDispatch> inputs, outputs;
};

TEST_F(Lines, CountTheStandardOptionsLinesAndAnOutputDrivesTheBoardsLine)
{
    cc7320& library = cc7320::getBoard(0);
    EXPECT_EQ(std::make_pair(countOf<IQorInputLines>(inputs.p, IID_IQorInputLines), countOf<IQorOutputLines>(outputs.p, IID_IQorOutputLines)),
              std::make_pair(static_cast<LONG>(library.numInputLines()), static_cast<LONG>(library.numOutputLines())));
    Held<IQorOutputLine> line = lineAt<IQorOutputLines, IQorOutputLine>(outputs.p, IID_IQorOutputLines, 19);
    LONG number = -1;
    ASSERT_EQ(line->get_LineNumber(&number) | line->put_Value(VARIANT_TRUE), S_OK);
    ASSERT_EQ(line->put_Value(VARIANT_FALSE), S_OK);
    EXPECT_EQ(std::make_pair(number, library.outputLine(19).value()), std::make_pair(LONG{19}, false));
    // The pulse goes in seconds; a duration that is no time is refused.
    ASSERT_EQ(line->Pulse(VARIANT_TRUE, 2.5), S_OK);
    double args[3] = {};
    ASSERT_EQ(sim().lastArgs(ccIidLineIO, 9, args, 3), 3u);
    EXPECT_EQ(std::vector<double>(args, args + 3), (std::vector<double>{1.0, 0.0025, 0.0}));
    for (double bad : {-1.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(line->Pulse(VARIANT_TRUE, bad), E_INVALIDARG);
}

TEST_F(Lines, TheReleaseAtTheModulesEndLeavesNoLineHeld)
{
    Held<IQorInputLine> line = lineAt<IQorInputLines, IQorInputLine>(inputs.p, IID_IQorInputLines, 3);
    Held<ccTestSink> sink = ccNewTestSink(DIID_IQorInputLineEvents);
    DWORD cookie = 0;
    Held<IConnectionPoint> point = advise(3, *sink.p, &cookie);
    ccReleaseLineCollections();
    EXPECT_EQ(sim().wakeObjects(3), 0u);
    EXPECT_EQ(countOf<IQorInputLines>(inputs.p, IID_IQorInputLines), 0);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// A transition reaches the sinks with the line's new value while they
// listen. The line's library callbacks are registered once, at the first
// sink, and withdrawn with the last; a sink that left hears nothing more.
TEST_F(Lines, AnInputLineWatchesOnceForAllItsSinks)
{
    EXPECT_EQ(sim().wakeObjects(5), 0u); // nobody listens yet
    Held<ccTestSink> sinks[] = {ccNewTestSink(DIID_IQorInputLineEvents), ccNewTestSink(DIID_IQorInputLineEvents)};
    ccTestSink &first = *sinks[0].p, &second = *sinks[1].p;
    DWORD cookies[2] = {};
    Held<IConnectionPoint> point = advise(5, first, &cookies[0]);
    advise(5, second, &cookies[1]);
    EXPECT_EQ(sim().wakeObjects(5), 2u);
    sim().raiseEdges(5, 2, 1); // low to high
    EXPECT_TRUE(first.waitFor({kInputLineChanged, 1}) && second.waitFor({kInputLineChanged, 1}));
    ASSERT_EQ(point->Unadvise(cookies[0]), S_OK);
    EXPECT_EQ(sim().wakeObjects(5), 2u);
    sim().raiseEdges(5, 1, 1);
    EXPECT_TRUE(second.waitFor({kInputLineChanged, 0}));
    EXPECT_EQ(std::make_pair(first.calls().size(), second.calls().size()), std::make_pair(size_t{1}, size_t{2}));
    ASSERT_EQ(point->Unadvise(cookies[1]), S_OK);
    EXPECT_EQ(sim().wakeObjects(5), 0u);
    EXPECT_TRUE(first.waitReferences(1) && second.waitReferences(1)); // the line let go of both
}

// A line that cannot tell both transitions, or has no library line left,
// refuses a sink and keeps no reference to it; so does one whose module
// fails while it registers the second transition, with the module's error,
// and the first transition's registration withdrawn.
TEST_F(Lines, AnInputLineThatCannotWatchRefusesTheSink)
{
    const auto eventsOf = [&](Held<IConnectionPoint>* point) {
        Held<IConnectionPointContainer> container;
        Held<IQorInputLine> line = lineAt<IQorInputLines, IQorInputLine>(inputs.p, IID_IQorInputLines, 3);
        ASSERT_EQ(line->QueryInterface(IID_IConnectionPointContainer, container.out()), S_OK);
        ASSERT_EQ(container->FindConnectionPoint(DIID_IQorInputLineEvents, &point->p), S_OK);
    };
    // Each transition's registration makes the same module calls.
    uint32_t perTransition = 0;
    {
        Held<IConnectionPoint> point;
        eventsOf(&point);
        Held<ccTestSink> sink = ccNewTestSink(DIID_IQorInputLineEvents);
        DWORD cookie = 0;
        const uint32_t before = sim().calls();
        ASSERT_EQ(point->Advise(sink.p, &cookie), S_OK);
        perTransition = (sim().calls() - before) / 2;
        ASSERT_EQ(point->Unadvise(cookie), S_OK);
    }
    const test_bytes::Bytes error = sim_module::archived(ccParallelIO::Unspecified());
    const struct { const char* why; std::function<void()> make; HRESULT refusal; } cases[] = {
        {"the module fails", [&] { sim().failCall(perTransition + 1, error.data(), uint32_t(error.size()), ccSimErrorBytes); },
         late_bound::translated<ccParallelIO::Unspecified>()},
        {"one transition only", [] { sim().setAnswer(ccIidLineIO, 10, 0, 0); }, CONNECT_E_CANNOTCONNECT},
        {"released", [] { ccReleaseLineCollections(); }, CONNECT_E_CANNOTCONNECT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Held<IConnectionPoint> point;
        eventsOf(&point);
        c.make();
        Held<ccTestSink> sink = ccNewTestSink(DIID_IQorInputLineEvents);
        DWORD cookie = 7;
        (void)SetErrorInfo(0, nullptr);
        EXPECT_EQ(point->Advise(sink.p, &cookie), c.refusal);
        if (c.refusal != CONNECT_E_CANNOTCONNECT) {
            EXPECT_NE(ccTestErrorText().find(u"ccParallelIO::Unspecified"), std::u16string::npos);
        }
        EXPECT_EQ(std::make_tuple(cookie, sink->references.load(), sim().wakeObjects(3)), std::make_tuple(0u, 1u, 0u));
    }
}

// A sink in the client's own single-threaded apartment lets go of a line's
// last reference inside an event: the line ends on its event thread once the
// call is back, and stops watching. The release waited for the event
// thread before, which waited for the sink.
TEST_F(Lines, ASinkInTheClientsApartmentMayLetGoOfTheLastReference)
{
    EXPECT_TRUE(test_support::lastReleaseInsideAnEvent(
        DIID_IQorInputLineEvents,
        [] {
            CComObject<CQorInputLine>* line = nullptr;
            EXPECT_EQ(CComObject<CQorInputLine>::CreateInstance(&line), S_OK);
            line->AddRef();
            line->attach(cc7320::getBoard(0).inputLine(5)); // no collection holds it
            return line->GetUnknown();
        },
        [](IUnknown*) { sim().raiseEdges(5, 2, 1); }));
    EXPECT_EQ(sim().wakeObjects(5), 0u);
}

// A line's library line is replaced only by a line of its kind. An input
// line's sinks' watch moves to the new line, whose transitions they hear from
// then on; an output line drives its new line.
TEST_F(Lines, ALinesLibraryLineIsReplacedOnlyByALineOfItsKind)
{
    cc7320& library = cc7320::getBoard(0);
    ccInputLine input = library.inputLine(5);
    ccOutputLine output = library.outputLine(18);
    Held<IQorInputLine> in = lineAt<IQorInputLines, IQorInputLine>(inputs.p, IID_IQorInputLines, 3);
    Held<IQorOutputLine> out = lineAt<IQorOutputLines, IQorOutputLine>(outputs.p, IID_IQorOutputLines, 19);
    Held<ccTestSink> sink = ccNewTestSink(DIID_IQorInputLineEvents);
    DWORD cookie = 0;
    Held<IConnectionPoint> point = ccTestAdvise(in.p, *sink.p, &cookie);
    expectImplRefused(in.p, {{"an output line", typeid(ccOutputLine), &output}, {"no line", typeid(ccInputLine), nullptr}},
                      [] { EXPECT_EQ(sim().wakeObjects(3), 2u); });
    expectImplRefused(out.p, {{"an input line", typeid(ccInputLine), &input}, {"no line", typeid(ccOutputLine), nullptr}});
    ASSERT_EQ(ccSetImpl<ccInputLine>(query<IQorComInternal>(in.p, IID_IQorComInternal).p, &input)
                  | ccSetImpl<ccOutputLine>(query<IQorComInternal>(out.p, IID_IQorComInternal).p, &output),
              S_OK);
    LONG number = -1;
    ASSERT_EQ(in->get_LineNumber(&number) | out->put_Value(VARIANT_TRUE), S_OK);
    EXPECT_EQ(std::make_tuple(number, static_cast<ccInputLine*>(implOf(in.p))->lineNumber(), sim().wakeObjects(3),
                              sim().wakeObjects(5)),
              std::make_tuple(LONG{5}, 5u, 0u, 2u));
    EXPECT_EQ(std::make_tuple(static_cast<ccOutputLine*>(implOf(out.p))->lineNumber(), output.value(),
                              library.outputLine(19).value()),
              std::make_tuple(18u, true, false));
    sim().raiseEdges(5, 2, 1); // low to high
    EXPECT_TRUE(sink->waitFor({kInputLineChanged, 1}));
    ASSERT_EQ(point->Unadvise(cookie), S_OK);
}

// An input line asks a new sink for its interface before it takes its own
// lock: a sink that has another thread use the line meanwhile shuts nobody
// out.
TEST_F(Lines, ASinkIsAskedForItsInterfaceOutsideTheLinesLock)
{
    class Asking final : public ccTestSink {
    public:
        explicit Asking(IQorInputLine* line) : ccTestSink(DIID_IQorInputLineEvents), line_(line) { AddRef(); }
        HRESULT QueryInterface(REFIID iid, void** ppv) override
        {
            if (iid == events && !asked.exchange(true)) {
                line_->AddRef(); // the other thread's, kept should it outlive the wait
                unblocked = test_support::finishedInTime({[line = line_] {
                    VARIANT_BOOL value;
                    EXPECT_EQ(line->get_Value(&value), S_OK);
                    line->Release();
                }}, std::chrono::seconds(10));
            }
            return ccTestSink::QueryInterface(iid, ppv);
        }
        ULONG Release() override
        {
            const ULONG left = ccTestSink::Release();
            if (left == 0) delete this;
            return left;
        }
        std::atomic<bool> asked{false};
        bool unblocked = false;

    private:
        IQorInputLine* line_;
    };
    Held<IQorInputLine> line = lineAt<IQorInputLines, IQorInputLine>(inputs.p, IID_IQorInputLines, 4);
    Held<Asking> sink;
    sink.p = new Asking(line.p);
    DWORD cookie = 0;
    Held<IConnectionPoint> point = ccTestAdvise(line.p, *sink.p, &cookie);
    EXPECT_TRUE(sink->unblocked);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

} // namespace
