#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "acq/hyper/prop/acqprops.h"
#include "acq/hyper/prop/analog.h"
#include "acq/hyper/prop/propquery.h"
#include "acq/hyper/prop/startup.h"
#include "std/except/persist.h"
#include "tests/support/prop_fake.h"
#include "tests/support/stored.h"

namespace {

using test_bytes::Bytes;

// ---- the stored form, written out by hand ----

const Bytes kHeader = {0x02, 0x01}; // header version 1, not seekable; little-endian

using test_bytes::dbl;
using test_bytes::u32;
Bytes operator+(Bytes a, const Bytes& b) { return test_bytes::cat({a, b}); }

const double kInf = std::numeric_limits<double>::infinity();
using test_bytes::kNoObject;
using test_prop::kClipTable;
using test_prop::kReversed;

// One property's level as the aggregate archives it: its version byte, then
// its fields, at their defaults or at other values that every setter takes.
// gate is the first aggregate version that carries it; legacy marks the
// eight that an analog form of version 0 carried after its aggregate.
struct Level {
    const char* name;
    uint8_t gate;
    uint8_t version;
    Bytes defaults;
    Bytes other;
    bool legacy;
};

// In the order the aggregate archives them.
const std::vector<Level>& levels()
{
    static const std::vector<Level> all = {
        {"trigger", 0, 1, {1, 1}, {0, 0}, false},
        {"strobe", 0, 0, Bytes{0} + dbl(2e-5) + Bytes{1}, Bytes{1} + dbl(1e-3) + Bytes{0}, false},
        {"exposure", 0, 0, dbl(2e-5), dbl(0.01), false},
        {"timeout", 0, 0, dbl(kInf), dbl(2.5), false},
        {"camera port", 0, 0, u32(0), u32(1), false},
        {"move-part callback", 0, 0, kNoObject, test_prop::callbackObject(5), false},
        {"complete callback", 0, 0, kNoObject, kNoObject, false},
        {"charge transfer interval", 0, 0, dbl(kInf), dbl(0.25), false},
        {"horizontal adjustment", 0, 0, dbl(kInf), dbl(0.5), false},
        {"region of interest", 0, 1, Bytes{0} + u32(0) + u32(0) + u32(0) + u32(0) + u32(0),
         Bytes{0} + u32(1) + u32(2) + u32(11) + u32(22) + u32(3), false},
        {"sync", 0, 1, u32(1), u32(10), false},
        {"light", 0, 0, dbl(0) + dbl(0) + dbl(0.03) + u32(0xFFFFFFFF) + dbl(0) + dbl(0),
         dbl(0.25) + dbl(0.5) + dbl(0.125) + u32(2) + dbl(0.75) + dbl(1.0), false},
        {"input table", 1, 2, u32(256) + u32(1) + kClipTable, u32(256) + u32(1) + kReversed, true},
        {"contrast and brightness", 1, 2, u32(1) + dbl(0.5) + dbl(0.5), u32(1) + dbl(0.25) + dbl(0.75), true},
        {"first pel offset", 1, 0, {0}, {5}, true},
        {"encoder control", 1, 0, {0}, {1}, true},
        {"encoder", 1, 5,
         Bytes{0, 1, 0, 0, 0} + u32(3) + u32(0) + u32(0) + u32(0) + Bytes{1, 0} + u32(0) + u32(0) + Bytes{0, 1},
         Bytes{1, 0, 1, 1, 0} + u32(100) + u32(7) + u32(1) + u32(5) + Bytes{0, 1} + u32(9) + u32(12) + Bytes{1, 0},
         true},
        {"clipping", 1, 0, {1, 15, 240}, {0, 16, 224}, true},
        {"alpha colour", 1, 1, Bytes{0} + u32(9) + Bytes{0}, Bytes{1} + u32(7) + Bytes{2}, true},
        {"digital camera control", 1, 0, Bytes{0} + dbl(32.0), Bytes{1} + dbl(20.0), true},
        {"settling time", 1, 0, dbl(0), dbl(0.125), false},
        {"overrun callback", 1, 0, kNoObject, kNoObject, false},
        {"strobe delay", 1, 1, dbl(0), dbl(5e-4), false},
        {"offset clamp", 2, 0, u32(0), u32(2), false},
        {"trigger filter", 2, 1, Bytes{1} + dbl(5e-6) + dbl(0) + dbl(0), Bytes{0} + dbl(1e-5) + dbl(1e-3) + dbl(2e-3),
         false},
        {"camera test", 2, 0, Bytes{0} + u32(0) + Bytes{0}, Bytes{1} + u32(4) + Bytes{6}, false},
        {"sample", 2, 0, u32(1) + u32(1), u32(2) + u32(4), false},
        {"readout direction", 2, 0, {0, 0}, {1, 1}, false},
        {"CDC calibration", 3, 0, {0, 85, 25, 1}, {1, 64, 48, 0}, false},
        {"camera bandwidth", 4, 0, dbl(1.0), dbl(0.5), false},
    };
    return all;
}

typedef std::function<bool(const Level&)> Pick;

// A level's bytes. The whole object's ccPersistent level (one byte 0) comes
// once, in the first level archived, right after its version byte.
Bytes level(const Level& l, bool other)
{
    Bytes out{l.version};
    if (&l == &levels().front())
        out.push_back(0);
    return out + (other ? l.other : l.defaults);
}

// An aggregate of version v: its version byte, then the levels it carries.
Bytes aggregate(uint8_t v, const Pick& other)
{
    Bytes out{v};
    for (const Level& l : levels())
        if (l.gate <= v)
            out = out + level(l, other(l));
    return out;
}

// The eight levels that follow the aggregate in an analog form of version 0.
Bytes legacyEight(const Pick& other)
{
    Bytes out;
    for (const Level& l : levels())
        if (l.legacy)
            out = out + level(l, other(l));
    return out;
}

const Pick kNone = [](const Level&) { return false; };
const Pick kAll = [](const Level&) { return true; };
Pick carriedBy(uint8_t v)
{
    return [v](const Level& l) { return l.gate <= v; };
}

using test_prop::Board;

// How often the board heard op.
long heard(const Board& board, const std::string& op)
{
    return std::count_if(board.calls.begin(), board.calls.end(),
                         [&](const std::string& c) { return c.compare(0, op.size() + 1, op + ' ') == 0; });
}

// ---- stored form ----

// Makes an aggregate by its stored name and stores it with every property at
// its default; then attaches it to a board, loads a stored form and stores it
// again: the properties the stored form carried hold their loaded values,
// every other one its default.
TEST(AcqProps, LoadsEveryStoredVersionLeavingWhatItDoesNotCarryAtItsDefault)
{
    ccAcqHyperPropStartup();
    ccRegisterPersistent<test_prop::TestCallback>();
    const struct { const char* what; bool analog; Bytes stored; Pick loaded; } rows[] = {
        {"aggregate 0", false, aggregate(0, kAll), carriedBy(0)},
        {"aggregate 1", false, aggregate(1, kAll), carriedBy(1)},
        {"aggregate 2", false, aggregate(2, kAll), carriedBy(2)},
        {"aggregate 3", false, aggregate(3, kAll), carriedBy(3)},
        {"aggregate 4", false, aggregate(4, kAll), kAll},
        {"analog 1, aggregate 4", true, Bytes{1} + aggregate(4, kAll), kAll},
        {"analog 0, aggregate 0, legacy eight", true, Bytes{0} + aggregate(0, kAll) + legacyEight(kAll),
         [](const Level& l) { return l.gate == 0 || l.legacy; }},
        // The eight were read inside the aggregate: they are not looked for again.
        {"analog 0, aggregate 1", true, Bytes{0} + aggregate(1, kAll), carriedBy(1)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const char* name = r.analog ? "class ccAnalogAcqProps" : "class ccAcqProps";
        const ccPersistentFactory make = ccFindFactory(name);
        ASSERT_NE(make, nullptr);
        Board board;
        const std::unique_ptr<ccPersistent> made(make());
        EXPECT_STREQ(made->storedTypeName(), name);
        EXPECT_EQ(dynamic_cast<ccAnalogAcqProps*>(made.get()) != nullptr, r.analog);
        ccAcqProps& props = dynamic_cast<ccAcqProps&>(*made);
        const auto whole = [&](const Pick& held) {
            return kHeader + (r.analog ? Bytes{1} : Bytes{}) + aggregate(4, held);
        };
        EXPECT_EQ(test_bytes::storeObject(props), whole(kNone));
        props.attachAll(&board);
        test_bytes::loadObject(props, kHeader + r.stored);
        EXPECT_EQ(test_bytes::storeObject(props), whole(r.loaded));
        // Loaded callbacks reach the board like every loaded value.
        const Level& overrun = *std::find_if(levels().begin(), levels().end(),
                                             [](const Level& l) { return l.name == std::string("overrun callback"); });
        EXPECT_EQ(std::make_tuple(heard(board, "movePartCallback"), heard(board, "completeCallback"),
                                  heard(board, "overrunCallback")),
                  std::make_tuple(1L, 1L, r.loaded(overrun) ? 1L : 0L));
    }
}

// The last call of op the board heard ("" for none).
std::string lastHeard(const Board& board, const std::string& op)
{
    const auto last = std::find_if(board.calls.rbegin(), board.calls.rend(),
                                   [&](const std::string& c) { return c.compare(0, op.size() + 1, op + ' ') == 0; });
    return last == board.calls.rend() ? "" : *last;
}

// A load that fails puts every property it reached back as it was, as an
// aggregate that never saw it holds them: an attached board hears the old
// values again, the notification held is the same object, the trigger model
// stays and a detached input table and contrast stay unshaped.
TEST(AcqProps, AFailedLoadPutsBackEveryPropertyItReached)
{
    ccAcqHyperPropStartup();
    ccRegisterPersistent<test_prop::TestCallback>();
    const Bytes whole = kHeader + Bytes{1} + aggregate(4, kAll), legacy = kHeader + Bytes{0} + aggregate(0, kAll) +
                                                                     legacyEight(kAll);
    const Pick movePart = [](const Level& l) { return l.name == std::string("move-part callback"); };
    const struct {
        const char* what;
        bool attached;
        Bytes stored;
        const char* refuse;
        uint32_t code;
        std::string op, heard;
    } rows[] = {
        {"a damaged end", true, Bytes(whole.begin(), whole.end() - 1), "", ccArchive::Eof::kCode, "exposure",
         "exposure 2.0000000000000002e-05"},
        {"the board refuses the last value", true, whole, "cameraBandwidth", ccUnsupportedHW::kCode, "exposure",
         "exposure 2.0000000000000002e-05"},
        // A version-0 trigger level sets the model.
        {"a version-0 trigger level", true, kHeader + Bytes{1, 0, 0, 0, 1, 0, 9, 9, 9, 9}, "", ccArchive::Eof::kCode,
         "triggerModel", "triggerModel 131"},
        {"detached, the legacy eight damaged", false, Bytes(legacy.begin(), legacy.end() - 1), "",
         ccArchive::Eof::kCode, "", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Board board, reference;
        ccAnalogAcqProps props, unloaded;
        for (auto [p, b] : {std::make_pair(&props, &board), std::make_pair(&unloaded, &reference)}) {
            if (r.attached)
                p->attachAll(b);
            test_bytes::loadObject(*p, kHeader + Bytes{1} + aggregate(0, movePart));
            p->triggerModel(ccTriggerModel::slave().rawPointer());
        }
        ccCallback* const held = props.movePartCallback().rawPointer();
        board.refuse = r.refuse;
        EXPECT_EQ(test_bytes::codeOf([&] { test_bytes::loadObject(props, r.stored); }), r.code);
        board.refuse.clear();
        EXPECT_EQ(lastHeard(board, r.op), r.heard);
        EXPECT_TRUE(held && props.movePartCallback().rawPointer() == held);
        EXPECT_EQ(props.triggerModel(), ccTriggerModel::slave().rawPointer());
        if (!r.attached) { // an unshaped table and contrast take the board's two channels
            board.channels = reference.channels = 2;
            props.attachAll(&board);
            unloaded.attachAll(&reference);
        }
        EXPECT_EQ(test_bytes::storeObject(props), test_bytes::storeObject(unloaded));
    }
}

TEST(AcqProps, NewerStoredVersionsAreRefusedNamingTheirSource)
{
    ccAcqHyperPropStartup();
    const struct { bool analog; Bytes stored; const wchar_t* file; uint32_t line; } rows[] = {
        {false, Bytes{5}, L"acq/hyper/prop/acqprops", 93},
        {true, Bytes{2} + aggregate(4, kNone), L"acq/hyper/prop/analog", 28},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        ccAnalogAcqProps analog;
        ccAcqProps plain;
        ccAcqProps& props = r.analog ? analog : plain;
        std::wstring file;
        uint32_t line = 0;
        EXPECT_EQ(test_bytes::codeOf([&] { test_bytes::loadObject(props, kHeader + r.stored); }, &file, &line),
                  ccArchive::UnknownVersion::kCode);
        EXPECT_TRUE(file == r.file && line == r.line);
    }
}

// ---- attach-all ----

typedef std::function<cc_AcqFifo*(ccAcqProps&)> FifoOf;
template <class P>
std::pair<const char*, FifoOf> base(const char* name)
{
    return {name, [](ccAcqProps& p) { return static_cast<P&>(p).fifo(); }};
}

// Every base, in the order attach-all attaches them.
const std::vector<std::pair<const char*, FifoOf>>& attachOrder()
{
    static const std::vector<std::pair<const char*, FifoOf>> all = {
        base<ccTriggerProp>("trigger"), base<ccStrobeProp>("strobe"), base<ccStrobeDelayProp>("strobe delay"),
        base<ccCameraBandwidthProp>("camera bandwidth"), base<ccExposureProp>("exposure"),
        base<ccTimeoutProp>("timeout"), base<ccCameraPortProp>("camera port"),
        base<ccCameraLocationProp>("camera location"), base<ccMovePartCallbackProp>("move-part callback"),
        base<ccCompleteCallbackProp>("complete callback"), base<ccPelRootPoolProp>("pel-root pool"),
        base<ccCtiProp>("charge transfer interval"), base<ccHorizAdjustProp>("horizontal adjustment"),
        base<ccRoiProp>("region of interest"), base<ccSyncProp>("sync"), base<ccLightProp>("light"),
        base<cc8BitInputLutProp>("input table"), base<ccContrastBrightnessProp>("contrast and brightness"),
        base<ccFirstPelOffsetProp>("first pel offset"), base<ccEncoderControlProp>("encoder control"),
        base<ccEncoderProp>("encoder"), base<ccClippingProp>("clipping"), base<ccOffsetClampProp>("offset clamp"),
        base<ccAlphaColorProp>("alpha colour"), base<ccDigitalCameraControlProp>("digital camera control"),
        base<ccSettlingTimeProp>("settling time"), base<ccOverrunCallbackProp>("overrun callback"),
        base<ccTriggerFilterProp>("trigger filter"), base<ccCameraTestProp>("camera test"),
        base<ccSampleProp>("sample"), base<ccReadoutDirectionProp>("readout direction"),
        base<ccCdcCameraCalibrationProp>("CDC calibration"), base<ccCustomProp>("custom"),
    };
    return all;
}

// How far attach-all gets: every base before the one that stops it is
// attached, none after it.
TEST(AcqProps, AttachAllAttachesEveryBaseInOrderAndStopsAtABoardWithoutChannelsOrANullOne)
{
    const struct { const char* what; uint32_t channels; bool tableShaped; size_t stop; uint32_t code; } rows[] = {
        {"board with a channel", 1, false, 33, 0},
        {"no channel, table unshaped", 0, false, 16, cc8BitInputLutProp::BadParams::kCode}, // the input table
        {"no channel, table shaped", 0, true, 17, ccContrastBrightnessProp::BadParams::kCode}, // contrast
        {"no board", 1, false, 0, ccBadPointer::kCode},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Board board;
        board.channels = r.channels;
        ccAnalogAcqProps props;
        if (r.tableShaped) {
            EXPECT_EQ(static_cast<cc8BitInputLutProp&>(props).numChannels(), 1);
        }
        EXPECT_EQ(test_bytes::codeOf([&] { props.attachAll(r.stop ? &board : nullptr); }), r.code);
        for (size_t i = 0; i < attachOrder().size(); ++i) {
            if (i != r.stop || !r.stop) {
                EXPECT_EQ(attachOrder()[i].second(props), i < r.stop ? &board : nullptr) << attachOrder()[i].first;
            }
        }
    }
}

// ---- the FIFO's operations that go through its aggregate ----

// A board that hands out a query of its own and records the aggregate the
// query is given.
struct QueryBoard : Board {
    const ccAcqModelRecord* lastModel = nullptr;
    void triggerModel(const ccAcqModelRecord& model) override { lastModel = &model; }
    struct Query : ccAcqPropertyQuery {
    } query;
    ccAcqProps* queried = nullptr;
    ccAcqPropertyQuery* propertyQuery() override { return &query; }
    void attachProps(ccAcqProps* props) override { queried = props; }
};

// A kind with an aggregate of its own, attached as a standard FIFO's is.
struct Fifo : ccGreyAcqFifo {
    explicit Fifo(cc_AcqFifo* board) : ccGreyAcqFifo(board) { props.attachAll(board); }
    ccAnalogAcqProps props;
    ccAcqProps& acqProps() override { return props; }
    const ccVideoFormat& videoFormat() const override { throw ccBadPointer(); }
    const ccFrameGrabber& frameGrabber() const override { throw ccBadPointer(); }
};

TEST(AcqProps, TheFifosTriggerOperationsAndPropertyQueryGoThroughItsAggregate)
{
    auto* board = new QueryBoard;
    const ccPtrHandle<Fifo> fifo(new Fifo(board));
    const ccTriggerProp& trigger = fifo->props;

    fifo->triggerEnable(false);
    EXPECT_FALSE(board->enabled);
    board->enabled = true; // the board's answer is what the FIFO reports
    EXPECT_TRUE(fifo->triggerEnable());

    const ccPtrHandle<ccTriggerModel> custom = ccTriggerModel::slave()->makeCustom();
    fifo->triggerModel(custom);
    EXPECT_EQ(board->lastModel, &custom->record());
    EXPECT_EQ(trigger.triggerModelHandle().rawPointer(), custom.rawPointer());

    EXPECT_EQ(fifo->propertyQuery(), &board->query);
    EXPECT_EQ(board->queried, &fifo->props);
}

} // namespace
