// The board group's objects and the FIFO's own interface called by name, as
// scripting clients call them, against the same calls through the vtable:
// every member the type library describes, and refusals on the way; and the
// event points the objects' containers offer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "acq/vidfmt/vidfmt.h"
#include "comframe/archive.h"
#include "grabber/acqfifo.h"
#include "grabber/lines.h"
#include "modules/parallel_io.h"
#include "tests/grabber/board_client.h"
#include "tests/grabber/late_bound.h"
#include "tests/support/sim_module.h"

namespace {

using namespace late_bound;
using board_client::Held;
using board_client::lineAt;
using sim_module::sim;

constexpr WORD kGet = DISPATCH_PROPERTYGET, kCall = DISPATCH_METHOD;
const char16_t* const kFormat = u"Sony XC75 640x480";

class LateBound : public testing::Test {
protected:
    void SetUp() override
    {
        sim().reset();
        sim().setFrameSize(16, 8);
        // The board's texts differ from each other.
        sim().setText(ccIidGrabberInfo, 4, u"unique 7");
        std::vector<uint8_t> eeram(256, 0);
        const char serial[] = "S1234";
        std::copy(serial, serial + 5, eeram.begin() + ccEERAMSerialOffset);
        sim().setEERAM(eeram.data(), static_cast<uint32_t>(eeram.size()));
    }
    void TearDown() override { ccReleaseLineCollections(); }
};

// Two collections, their first boards and the boards' lines, which the
// boards share.
TEST_F(LateBound, TheBoardsAndTheirLinesAnswerByNameAsThroughTheirInterfaces)
{
    using C = IQorFrameGrabber7320s;
    using B = IQorFrameGrabber7320;
    const IID &c = IID_IQorFrameGrabber7320s, &b = IID_IQorFrameGrabber7320;
    const std::vector<Call> collection = {
        call(c, u"Count", kGet, &C::get_Count),
        call(c, u"Item", kGet, &C::get_Item, {i4(0)}),
        call(c, u"_NewEnum", kGet, &C::get__NewEnum),
    };
    const std::vector<Call> board = {
        call(b, u"Name", kGet, &B::get_Name),
        call(b, u"SerialNumber", kGet, &B::get_SerialNumber),
        call(b, u"UniqueID", kGet, &B::get_UniqueID),
        call(b, u"VideoFormats", kGet, &B::get_VideoFormats),
        call(b, u"NumCameraPorts", kGet, &B::get_NumCameraPorts, {text(kFormat)}),
        call(b, u"NumCameraPorts", kGet, &B::get_NumCameraPorts, {text(u"no such format")}, translated<ccVideoFormat::NotFound>()),
        call(b, u"CreateAcqFifo", kCall, &B::CreateAcqFifo, {text(kFormat), i4(0)}),
        call(b, u"CreateAcqFifo", kCall, &B::CreateAcqFifo, {text(kFormat), i4(7)}, translated<ccCameraPortProp::BadParams>()),
        call(b, u"InputLines", kGet, &B::get_InputLines),
        call(b, u"OutputLines", kGet, &B::get_OutputLines),
    };
    Held<C> twins[] = {board_client::collection(), board_client::collection()};
    EXPECT_EQ(expectTwinsAlike(twins[0].p, twins[1].p, {&c}, collection), 1u);
    Held<B> boards[] = {board_client::board(), board_client::board()};
    EXPECT_EQ(expectTwinsAlike(boards[0].p, boards[1].p, {&b}, board), 1u);

    Held<IDispatch> inputs, outputs;
    ASSERT_EQ(boards[0]->get_InputLines(&inputs.p) | boards[0]->get_OutputLines(&outputs.p), S_OK);
    using Ins = IQorInputLines;
    using Outs = IQorOutputLines;
    const std::vector<Call> lines = {
        call(IID_IQorInputLines, u"Count", kGet, &Ins::get_Count),
        call(IID_IQorInputLines, u"Item", kGet, &Ins::get_Item, {i4(3)}),
        call(IID_IQorOutputLines, u"Count", kGet, &Outs::get_Count),
        call(IID_IQorOutputLines, u"Item", kGet, &Outs::get_Item, {i4(19)}),
    };
    for (IDispatch* kind : {inputs.p, outputs.p}) {
        EXPECT_EQ(expectTwinsAlike(kind, kind, {&IID_IQorInputLines, &IID_IQorOutputLines}, lines), 1u);
    }

    using In = IQorInputLine;
    using Out = IQorOutputLine;
    const IID &in = IID_IQorInputLine, &out = IID_IQorOutputLine;
    const std::vector<Call> line = joined(
        std::vector<Call>{call(in, u"Value", kGet, &In::get_Value), call(in, u"LineNumber", kGet, &In::get_LineNumber)},
        prop(in, u"Enabled", &In::get_Enabled, &In::put_Enabled, flag(false)),
        prop(out, u"Value", &Out::get_Value, &Out::put_Value, flag(true)),
        std::vector<Call>{call(out, u"LineNumber", kGet, &Out::get_LineNumber)},
        prop(out, u"Enabled", &Out::get_Enabled, &Out::put_Enabled, flag(false)),
        std::vector<Call>{call(out, u"Pulse", kCall, &Out::Pulse, {flag(true), r8(2.5)})});
    // A line the module's end released refuses each member as its library
    // line without a board line does.
    const HRESULT notEnabled = translated<ccParallelIO::NotEnabled>(), cannotEnable = translated<ccParallelIO::CannotEnable>();
    const std::vector<Call> released = {
        call(in, u"Value", kGet, &In::get_Value, {}, notEnabled),
        call(in, u"LineNumber", kGet, &In::get_LineNumber, {}, notEnabled),
        call(in, u"Enabled", kGet, &In::get_Enabled, {}, notEnabled),
        call(in, u"Enabled", DISPATCH_PROPERTYPUT, &In::put_Enabled, {flag(true)}, cannotEnable),
        call(out, u"Value", kGet, &Out::get_Value, {}, notEnabled),
        call(out, u"Value", DISPATCH_PROPERTYPUT, &Out::put_Value, {flag(true)}, notEnabled),
        call(out, u"Enabled", DISPATCH_PROPERTYPUT, &Out::put_Enabled, {flag(true)}, cannotEnable),
        call(out, u"Pulse", kCall, &Out::Pulse, {flag(true), r8(2.5)}, notEnabled),
    };
    Held<In> input = lineAt<Ins, In>(inputs.p, IID_IQorInputLines, 3);
    Held<Out> output = lineAt<Outs, Out>(outputs.p, IID_IQorOutputLines, 19);
    for (IUnknown* object : {static_cast<IUnknown*>(input.p), static_cast<IUnknown*>(output.p)}) {
        EXPECT_EQ(expectTwinsAlike(object, object, {&in, &out}, line), 1u);
    }
    ccReleaseLineCollections();
    for (IUnknown* object : {static_cast<IUnknown*>(input.p), static_cast<IUnknown*>(output.p)}) {
        expectLikeDirectCalls(object, object, released);
        expectNullOutsRefused(object, released); // before the line is asked
    }
}

Call triggered(Call c, std::function<void()> before)
{
    c.before = std::move(before);
    return c;
}

// Two FIFOs of one format and port: each start waits for its software
// trigger, so that the counts do not change meanwhile.
TEST_F(LateBound, TheFifoAnswersByNameAsThroughItsOwnInterface)
{
    sim().setTriggered(1);
    using F = IQorAcqFifo7320;
    const IID& f = IID_IQorAcqFifo7320;
    const std::vector<Call> calls = joined(
        std::vector<Call>{
            call(f, u"VideoFormat", kGet, &F::get_VideoFormat),
            call(f, u"CameraPort", kGet, &F::get_CameraPort),
            call(f, u"BoardIndex", kGet, &F::get_BoardIndex),
        },
        repeatingPuts(prop(f, u"Timeout", &F::get_Timeout, &F::put_Timeout, r8(60.0))),
        std::vector<Call>{
            call(f, u"Start", kCall, &F::Start),
            call(f, u"PendingAcquisitions", kGet, &F::get_PendingAcquisitions),
            triggered(call(f, u"Complete", kCall, &F::Complete, {i4(0)}), [] { sim().softwareTrigger(); }),
            triggered(call(f, u"Acquire", kCall, &F::Acquire), [] { sim().setTriggered(0); }),
            call(f, u"CompletedAcquisitions", kGet, &F::get_CompletedAcquisitions),
            call(f, u"Flush", kCall, &F::Flush),
            call(f, u"AddDotNetMovePartSink", kCall, &F::AddDotNetMovePartSink),
            call(f, u"AddDotNetCompleteSink", kCall, &F::AddDotNetCompleteSink),
            call(f, u"AddDotNetOverrunSink", kCall, &F::AddDotNetOverrunSink),
            call(f, u"RemoveDotNetMovePartSink", kCall, &F::RemoveDotNetMovePartSink),
            call(f, u"RemoveDotNetCompleteSink", kCall, &F::RemoveDotNetCompleteSink),
            call(f, u"RemoveDotNetOverrunSink", kCall, &F::RemoveDotNetOverrunSink),
        });
    Held<IDispatch> twins[2];
    for (Held<IDispatch>& twin : twins) ASSERT_EQ(ccCreateAcqFifoObject(0, L"Sony XC75 640x480", 0, &twin.p), S_OK);
    EXPECT_EQ(expectTwinsAlike(twins[0].p, twins[1].p, {&f}, calls, [] { return sim().calls(); }), 1u);
}

// Each event source's container lists its points in order and finds no
// point for an interface it does not fire.
TEST_F(LateBound, EventSourcesOfferTheirPointsAndNoOther)
{
    Held<IDispatch> fifo, inputs, outputs;
    ASSERT_EQ(ccCreateAcqFifoObject(0, L"Sony XC75 640x480", 0, &fifo.p), S_OK);
    Held<IQorFrameGrabber7320> board = board_client::board();
    ASSERT_EQ(board->get_InputLines(&inputs.p) | board->get_OutputLines(&outputs.p), S_OK);
    const std::pair<IUnknown*, std::vector<IID>> sources[] = {
        {fifo.p, {DIID_IQorAcqFifoEvents, DIID_IQorAcqMovePartEvent, DIID_IQorAcqCompleteEvent, DIID_IQorAcqOverrunEvent}},
        {lineAt<IQorInputLines, IQorInputLine>(inputs.p, IID_IQorInputLines, 3).p, {DIID_IQorChangeEvent, DIID_IQorInputLineEvents}},
        {lineAt<IQorOutputLines, IQorOutputLine>(outputs.p, IID_IQorOutputLines, 19).p, {DIID_IQorChangeEvent}},
    };
    for (const auto& [source, events] : sources) {
        Held<IConnectionPointContainer> container = board_client::query<IConnectionPointContainer>(source, IID_IConnectionPointContainer);
        Held<IEnumConnectionPoints> points;
        ASSERT_EQ(container->EnumConnectionPoints(&points.p), S_OK);
        std::vector<IID> offered;
        for (Held<IConnectionPoint> point; points->Next(1, &point.p, nullptr) == S_OK; point = {}) {
            offered.emplace_back();
            EXPECT_EQ(point->GetConnectionInterface(&offered.back()), S_OK);
        }
        EXPECT_EQ(offered, events);
        Held<IConnectionPoint> none;
        EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &none.p), CONNECT_E_NOCONNECTION);
    }
}

} // namespace
