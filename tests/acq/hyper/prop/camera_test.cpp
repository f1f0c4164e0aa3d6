#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "acq/hyper/prop/bright.h"
#include "acq/hyper/prop/camban.h"
#include "acq/hyper/prop/camctl.h"
#include "acq/hyper/prop/camloc.h"
#include "acq/hyper/prop/camport.h"
#include "acq/hyper/prop/cti.h"
#include "acq/hyper/prop/horizadj.h"
#include "acq/hyper/prop/startup.h"
#include "std/except/persist.h"
#include "tests/support/fake_acqfifo.h"
#include "tests/support/stored.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;
using test_bytes::codeOf;
using test_bytes::le;
using test_bytes::level;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const uint32_t kPortBad = 0x10000982u, kBandBad = 0x100009C4u, kCtlBad = 0x100009A9u, kCtiBad = 0x10000990u,
               kHorizBad = 0x1000099Au, kCbBad = 0x10000984u, kRefused = ccUnsupportedHW::kCode;

// One call that reached the implementation; channel -1 where it has none.
struct Call {
    std::string op;
    double value;
    int32_t channel;
    bool operator==(const Call& o) const { return op == o.op && value == o.value && channel == o.channel; }
};
std::ostream& operator<<(std::ostream& os, const Call& c)
{
    return os << c.op << '(' << c.value << ", " << c.channel << ')';
}
typedef std::vector<Call> Calls;

// Records the family's operations and answers its counts, limits and
// defaults. A setter throws instead when refuse is set or for refuseChannel.
struct CameraFifo : test_acq::FakeAcqFifo {
    Calls calls;
    bool refuse = false;
    int32_t refuseChannel = -2;
    uint32_t channels = 2;
    double contrastAnswer = 0.25, brightnessAnswer = 0.75;
    ccCameraPort* validLocation = nullptr;

    void record(const char* op, double value, int32_t channel = -1)
    {
        if (refuse || channel == refuseChannel)
            throw ccUnsupportedHW();
        calls.push_back({op, value, channel});
    }
    void contrast(double v, int32_t ch) override { record("contrast", v, ch); }
    void brightness(double v, int32_t ch) override { record("brightness", v, ch); }
    void cameraPort(uint32_t port) override { record("cameraPort", port); }
    void cameraLocation(ccCameraPort* location) override { record("cameraLocation", location == validLocation); }
    void cameraBandwidth(double v) override { record("cameraBandwidth", v); }
    void digitalHighGainSelected(bool on) override { record("highGain", on); }
    void masterClockFrequency(double v) override { record("clock", v); }
    void chargeTransferInterval(double v) override { record("cti", v); }
    void horizontalAdjustment(double v) override { record("horiz", v); }
    uint32_t numCameraPorts() override { return 2; }
    uint32_t numChannels() override { return channels; }
    double contrastDefault() override { return contrastAnswer; }
    double brightnessDefault() override { return brightnessAnswer; }
    double ctiLimit() override { return 0.004; }
    double horizAdjustLimit() override { return 12.5; }
    bool isCameraLocationValid(ccCameraPort* location) override { return location && location == validLocation; }
};

// The persistent properties of the family, side by side.
struct Camera {
    ccContrastBrightnessProp cb;
    ccCameraPortProp port;
    ccCameraBandwidthProp band;
    ccDigitalCameraControlProp ctl;
    ccCtiProp cti;
    ccHorizAdjustProp horiz;

    explicit Camera(cc_AcqFifo* fifo = nullptr)
    {
        cb.attach(fifo); port.attach(fifo); band.attach(fifo); ctl.attach(fifo); cti.attach(fifo); horiz.attach(fifo);
    }
};

TEST(CameraProps, SettersCheckForwardWhenAttachedAndStoreOnlyWhatTheBoardTook)
{
    struct Prop {
        void (*set)(Camera&, double);
        double (*get)(Camera&);
    };
    const Prop port{[](Camera& c, double v) { c.port.cameraPort(int32_t(v)); },
                    [](Camera& c) { return double(c.port.cameraPort()); }};
    const Prop band{[](Camera& c, double v) { c.band.cameraBandwidth(v); },
                    [](Camera& c) { return c.band.cameraBandwidth(); }};
    const Prop gain{[](Camera& c, double v) { c.ctl.digitalHighGainSelected(v != 0); },
                    [](Camera& c) { return double(c.ctl.digitalHighGainSelected()); }};
    const Prop clock{[](Camera& c, double v) { c.ctl.masterClockFrequency(v); },
                     [](Camera& c) { return c.ctl.masterClockFrequency(); }};
    const Prop cti{[](Camera& c, double v) { c.cti.chargeTransferInterval(v); },
                   [](Camera& c) { return c.cti.chargeTransferInterval(); }};
    const Prop horiz{[](Camera& c, double v) { c.horiz.horizontalAdjustment(v); },
                     [](Camera& c) { return c.horiz.horizontalAdjustment(); }};
    const Prop contrast1{[](Camera& c, double v) { c.cb.contrast(v, 1); }, [](Camera& c) { return c.cb.contrast(1); }};
    const Prop bright0{[](Camera& c, double v) { c.cb.brightness(v, 0); },
                       [](Camera& c) { return c.cb.brightness(0); }};
    const struct { const char* op; Prop prop; int32_t channel; double value; bool attached; uint32_t refusal; }
    rows[] = {
        {"cameraPort", port, -1, 1, true, 0},
        {"cameraPort", port, -1, 2, true, kPortBad}, // the board has two ports
        {"cameraPort", port, -1, 7, false, 0},
        {"cameraPort", port, -1, -1, false, kPortBad},
        {"cameraBandwidth", band, -1, 0.0, true, 0},
        {"cameraBandwidth", band, -1, 1.0, true, 0},
        {"cameraBandwidth", band, -1, -1e-9, true, kBandBad},
        {"cameraBandwidth", band, -1, 1.0000001, true, kBandBad},
        {"cameraBandwidth", band, -1, kNaN, true, kBandBad},
        {"highGain", gain, -1, 1, true, 0},
        {"clock", clock, -1, 5.0, true, 0},
        {"clock", clock, -1, 40.0, true, 0},
        {"clock", clock, -1, 4.9, true, kCtlBad},
        {"clock", clock, -1, 40.5, true, kCtlBad},
        {"clock", clock, -1, kNaN, true, kCtlBad},
        {"cti", cti, -1, 0.0, true, 0},
        {"cti", cti, -1, -1e-12, true, kCtiBad},
        {"cti", cti, -1, kNaN, true, kCtiBad},
        {"horiz", horiz, -1, 0.0, true, 0},
        {"horiz", horiz, -1, kInf, true, 0},
        {"horiz", horiz, -1, -1e-12, true, kHorizBad},
        {"horiz", horiz, -1, kNaN, true, kHorizBad},
        {"contrast", contrast1, 1, 0.0, true, 0},
        {"contrast", contrast1, 1, 1.0, true, 0},
        {"contrast", contrast1, 1, -1e-9, true, kCbBad},
        {"contrast", contrast1, 1, 1.0000001, true, kCbBad},
        {"contrast", contrast1, 1, kNaN, true, kCbBad},
        {"brightness", bright0, 0, 1.0, true, 0},
    };
    for (const auto& r : rows) {
        for (const bool refusing : {false, true}) {
            if (refusing && (r.refusal || !r.attached))
                continue;
            SCOPED_TRACE(std::string(r.op) + " " + std::to_string(r.value) + (r.attached ? "" : " detached") +
                         (refusing ? ", the board refuses" : ""));
            CameraFifo board;
            Camera camera(r.attached ? &board : nullptr);
            board.calls.clear();
            board.refuse = refusing;
            const double before = r.prop.get(camera);
            EXPECT_EQ(codeOf([&] { r.prop.set(camera, r.value); }), refusing ? kRefused : r.refusal);
            const bool taken = !r.refusal && !refusing;
            EXPECT_EQ(r.prop.get(camera), taken ? r.value : before);
            EXPECT_EQ(board.calls, (taken && r.attached ? Calls{{r.op, r.value, r.channel}} : Calls{}));
        }
    }
}

TEST(CameraProps, CountAndLimitQueriesNeedTheImplementation)
{
    const struct { std::function<double(Camera&)> query; uint32_t noFrameGrabber; double answer; } rows[] = {
        {[](Camera& c) { return double(c.port.numCameraPorts()); }, 0x10000983u, 2},
        {[](Camera& c) { return c.cti.ctiLimit(); }, 0x10000992u, 0.004},
        {[](Camera& c) { return c.horiz.horizAdjustLimit(); }, 0x1000099Bu, 12.5},
    };
    for (const auto& r : rows) {
        CameraFifo board;
        Camera detached, attached(&board);
        EXPECT_EQ(codeOf([&] { r.query(detached); }), r.noFrameGrabber);
        EXPECT_EQ(r.query(attached), r.answer);
    }
}

TEST(CameraProps, ACameraLocationIsCheckedByTheAttachedImplementation)
{
    alignas(8) unsigned char devices[2];
    ccCameraPort* const valid = reinterpret_cast<ccCameraPort*>(&devices[0]);
    ccCameraPort* const other = reinterpret_cast<ccCameraPort*>(&devices[1]);
    CameraFifo board;
    board.validLocation = valid;
    ccCameraLocationProp p;
    EXPECT_EQ(p.cameraLocation(), nullptr);
    p.cameraLocation(other); // detached: anything goes
    p.attach(&board);
    EXPECT_THROW(p.cameraLocation(nullptr), ccCameraLocationProp::BadParams);
    EXPECT_EQ(p.cameraLocation(), other);
    p.cameraLocation(valid);
    EXPECT_EQ(p.cameraLocation(), valid);
    EXPECT_EQ(board.calls, (Calls{{"cameraLocation", 1, -1}}));
    board.validLocation = other;
    board.refuse = true;
    EXPECT_THROW(p.cameraLocation(other), ccUnsupportedHW);
    EXPECT_EQ(p.cameraLocation(), valid);
}

TEST(ContrastBrightnessProp, AttachShapesFromTheBoardAndSendsItsDefaultsToEveryChannel)
{
    const Calls one = {{"contrast", 0.25, 0}, {"brightness", 0.75, 0}};
    const Calls two = {{"contrast", 0.25, 0}, {"contrast", 0.25, 1}, {"brightness", 0.75, 0}, {"brightness", 0.75, 1}};
    const struct { bool shapedBefore; uint32_t boardChannels; uint32_t refusal; int32_t channels; Calls calls; }
    rows[] = {
        {false, 2, 0, 2, two},
        {true, 2, 0, 1, one},
        {false, 0, kCbBad, 1, {}},
        {true, 0, 0, 1, one},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.boardChannels) + (r.shapedBefore ? " shaped" : " unshaped"));
        CameraFifo board;
        board.channels = r.boardChannels;
        ccContrastBrightnessProp p;
        if (r.shapedBefore) {
            EXPECT_EQ(p.numChannels(), 1);
        }
        EXPECT_EQ(codeOf([&] { p.attach(&board); }), r.refusal);
        EXPECT_EQ(p.fifo(), r.refusal ? nullptr : &board);
        EXPECT_EQ(board.calls, r.calls);
        // A fresh property reads as one channel at 0.5.
        EXPECT_EQ(p.numChannels(), r.channels);
        EXPECT_EQ(p.contrast(r.channels - 1), r.refusal ? 0.5 : 0.25);
        EXPECT_EQ(p.brightness(r.channels - 1), r.refusal ? 0.5 : 0.75);
        EXPECT_EQ(codeOf([&] { p.contrast(r.channels); }), kCbBad);
    }
}

TEST(ContrastBrightnessProp, ChannelSetsOnATwoChannelBoard)
{
    typedef ccContrastBrightnessProp P;
    const double c = 0.3, b = 0.7;
    const std::vector<double> attached = {0.25, 0.75, 0.25, 0.75};
    const Calls all = {{"contrast", c, 0}, {"contrast", c, 1}, {"brightness", b, 0}, {"brightness", b, 1}};
    const struct { std::function<void(P&)> act; int32_t refuseChannel; uint32_t code; Calls calls;
                   std::vector<double> after; } rows[] = {
        {[&](P& p) { p.contrast(c, -1); }, -2, 0, {{"contrast", c, 0}, {"contrast", c, 1}}, {c, 0.75, c, 0.75}},
        {[&](P& p) { p.contrastBrightness(c, b); }, -2, 0, all, {c, b, c, b}},
        {[&](P& p) { p.contrastBrightness(c, b, 1); }, -2, 0, {{"contrast", c, 1}, {"brightness", b, 1}},
         {0.25, 0.75, c, b}},
        {[&](P& p) { p.contrastBrightness(c, b, 5); }, -2, 0, {}, attached},
        {[&](P& p) { p.contrast(c, 5); }, -2, kCbBad, {}, attached},
        {[&](P& p) { p.contrastBrightness(c, b, -2); }, -2, kCbBad, {}, attached},
        {[&](P& p) { p.contrastBrightness(c, kNaN); }, -2, kCbBad, {}, attached},
        {[&](P& p) { p.contrastBrightness(c, 1.5, 5); }, -2, kCbBad, {}, attached},
        // Each channel is stored once the board took it.
        {[&](P& p) { p.contrast(c, -1); }, 1, kRefused, {{"contrast", c, 0}}, {c, 0.75, 0.25, 0.75}},
        {[&](P& p) { p.brightness(b, 0); }, 0, kRefused, {}, attached},
    };
    int row = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(row++);
        CameraFifo board;
        P p;
        p.attach(&board);
        board.calls.clear();
        board.refuseChannel = r.refuseChannel;
        EXPECT_EQ(codeOf([&] { r.act(p); }), r.code);
        EXPECT_EQ(board.calls, r.calls);
        EXPECT_EQ((std::vector<double>{p.contrast(0), p.brightness(0), p.contrast(1), p.brightness(1)}), r.after);
    }
}

// ---- archives, byte by byte ----

Bytes u32(uint32_t w) { return le(w, 4); }

// IEEE patterns of the values used below.
const Bytes kOne = le(0x3FF0000000000000u, 8), kHalf = le(0x3FE0000000000000u, 8), kZero = le(0, 8),
            kEighth = le(0x3FC0000000000000u, 8), kThreeEighths = le(0x3FD8000000000000u, 8),
            kInfinity = le(0x7FF0000000000000u, 8), kThirtyTwo = le(0x4040000000000000u, 8),
            kTwenty = le(0x4034000000000000u, 8), kTwelveHalf = le(0x4029000000000000u, 8),
            kMilli = le(0x3F50624DD2F1A9FCu, 8);

// Each class is made by its stored name and stores its defaults; each stored
// version loads through the setters and stores back in the current one.
TEST(CameraProps, ArchivesStoreTheDefaultsAndLoadEveryVersionThroughTheSetters)
{
    ccAcqHyperPropStartup();
    typedef ccPersistent& (*Object)(Camera&);
    const Object port = [](Camera& c) -> ccPersistent& { return c.port; };
    const Object band = [](Camera& c) -> ccPersistent& { return c.band; };
    const Object ctl = [](Camera& c) -> ccPersistent& { return c.ctl; };
    const Object cti = [](Camera& c) -> ccPersistent& { return c.cti; };
    const Object horiz = [](Camera& c) -> ccPersistent& { return c.horiz; };
    const Object cb = [](Camera& c) -> ccPersistent& { return c.cb; };
    const char* const cbName = "class ccContrastBrightnessProp";
    const Bytes cbDefaults = cat({u32(1), kHalf, kHalf}), cbPairs = cat({kEighth, kThreeEighths, kOne, kZero});
    const Calls pairs = {
        {"contrast", 0.125, 0}, {"brightness", 0.375, 0}, {"contrast", 1.0, 1}, {"brightness", 0.0, 1}};
    const struct {
        const char* name;
        Object object;
        uint8_t current;
        const wchar_t* file;
        Bytes storedDefaults;
        uint8_t version; // loaded
        Bytes fields;
        Calls calls;
        Bytes restored; // empty: the fields as loaded
    } rows[] = {
        {"class ccCameraPortProp", port, 0, L"acq/hyper/prop/camport", u32(0), 0, u32(1), {{"cameraPort", 1, -1}}, {}},
        {"class ccCameraBandwidthProp", band, 0, L"acq/hyper/prop/camban", kOne, 0, kHalf,
         {{"cameraBandwidth", 0.5, -1}}, {}},
        {"class ccDigitalCameraControlProp", ctl, 0, L"acq/hyper/prop/camctl", cat({{0x00}, kThirtyTwo}), 0,
         cat({{0x01}, kTwenty}), {{"highGain", 1, -1}, {"clock", 20.0, -1}}, {}},
        {"class ccCtiProp", cti, 0, L"acq/hyper/prop/cti", kInfinity, 0, kMilli, {{"cti", 0.001, -1}}, {}},
        {"class ccHorizAdjustProp", horiz, 0, L"acq/hyper/prop/horizadj", kInfinity, 0, kTwelveHalf,
         {{"horiz", 12.5, -1}}, {}},
        {cbName, cb, 2, L"acq/hyper/prop/bright", cbDefaults, 2, cat({u32(2), cbPairs}), pairs, {}},
        {cbName, cb, 2, L"acq/hyper/prop/bright", cbDefaults, 1, cbPairs, pairs, cat({u32(2), cbPairs})},
        {cbName, cb, 2, L"acq/hyper/prop/bright", cbDefaults, 0, cat({kEighth, kThreeEighths}),
         {{"contrast", 0.125, 0}, {"contrast", 0.125, 1}, {"brightness", 0.375, 0}, {"brightness", 0.375, 1}},
         cat({u32(2), kEighth, kThreeEighths, kEighth, kThreeEighths})},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.name) + " version " + std::to_string(r.version));
        const ccPersistentFactory make = ccFindFactory(r.name);
        ASSERT_NE(make, nullptr);
        const std::unique_ptr<ccPersistent> made(make());
        EXPECT_STREQ(made->storedTypeName(), r.name);
        EXPECT_EQ(test_bytes::storeObject(*made), level(r.current, r.storedDefaults));

        CameraFifo board;
        Camera camera(&board);
        board.calls.clear();
        test_bytes::loadObject(r.object(camera), level(r.version, r.fields));
        EXPECT_EQ(board.calls, r.calls);
        EXPECT_EQ(test_bytes::storeObject(r.object(camera)),
                  level(r.current, r.restored.empty() ? r.fields : r.restored));

        Camera newer;
        try {
            test_bytes::loadObject(r.object(newer), level(uint8_t(r.current + 1), r.fields));
            ADD_FAILURE() << "a newer version loaded";
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_EQ(e.file(), r.file);
        }
    }
}

TEST(ContrastBrightnessProp, LoadsShapeAnUnshapedPropertyAndRefuseACountThatDoesNotFit)
{
    const struct { uint32_t boardChannels; uint8_t version; Bytes fields; uint32_t code; int32_t channels; double c0; }
        rows[] = {
            {0, 1, cat({kEighth, kHalf, kEighth, kHalf}), 0, 1, 0.125}, // equal pairs: one channel
            {1, 1, cat({kEighth, kHalf, kHalf, kHalf}), 0, 1, 0.125}, // the second pair is dropped
            {1, 2, cat({u32(2), kEighth, kHalf, kHalf, kHalf}), kCbBad, 1, 0.5},
            {0, 2, u32(0), kCbBad, 1, 0.5},
            {0, 2, u32(0xFFFFFFFFu), kCbBad, 1, 0.5},
            // A damaged count meets the end of the archive before anything is shaped.
            {0, 2, cat({u32(0x01000000u), kEighth, kHalf}), ccArchive::Eof::kCode, 1, 0.5},
        };
    int row = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(row++);
        CameraFifo board;
        board.channels = r.boardChannels;
        board.contrastAnswer = 0.5;
        ccContrastBrightnessProp p;
        if (r.boardChannels)
            p.attach(&board);
        EXPECT_EQ(codeOf([&] { test_bytes::loadObject(p, level(r.version, r.fields)); }), r.code);
        EXPECT_EQ(p.numChannels(), r.channels);
        EXPECT_EQ(p.contrast(0), r.c0);
    }
}

} // namespace
