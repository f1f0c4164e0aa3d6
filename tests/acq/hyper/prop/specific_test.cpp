// What single property classes do beyond the shared pattern (pattern_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acq/hyper/prop/acqprops.h"
#include "acq/hyper/prop/startup.h"
#include "tests/support/prop_fake.h"
#include "tests/support/stored.h"

namespace {

using namespace std::string_literals;
using namespace test_bytes;
using namespace test_prop;

const uint32_t kRefused = ccUnsupportedHW::kCode, kCbBad = ccContrastBrightnessProp::BadParams::kCode,
               kLutBad = cc8BitInputLutProp::BadParams::kCode;

ccCustomPropertyBag parsed(const std::wstring& text)
{
    ccCustomPropertyBag bag;
    bag.fromString(text);
    return bag;
}

// Each text parsed into a bag holding kOld: what it prints afterwards, or
// nullptr where BadParams must leave kOld.
TEST(CustomPropertyBag, ParsesItsTextFormAndRefusesMalformedTextLeavingTheBagAsItWas)
{
    const std::wstring kOld = L"Command\tOld\n\r", kResetGain = L"Command\tReset\n\rWrite\tGain\t12\n\r";
    const struct { const char* what; std::wstring text; const wchar_t* printed; } rows[] = {
        {"empty", L"", L""},
        {"lone CR", L"\r", L""},
        {"command and write", kResetGain, kResetGain.c_str()},
        {"LF alone ends records", L"Command\tReset\nWrite\tGain\t12\n", kResetGain.c_str()},
        {"CR before LF stays in the value", L"Write\tGain\t12\r\n", L"Write\tGain\t12\r\n\r"},
        {"a command's name runs to LF", L"Command\tA\tB\n\r", L"Command\tA\tB\n\r"},
        {"runs of delimiters", L"Write\t\tGain\t12\n\r", L"Write\tGain\t12\n\r"},
        {"unknown keyword", L"Read\tx", nullptr},
        {"write without value", L"Write\tGain", nullptr},
        {"command without name", L"Command", nullptr},
        {"second record malformed", L"Command\tNew\n\rWrite\tGain", nullptr},
        {"keywords are case-sensitive", L"command\tReset\n\r", nullptr},
        {"keywords are whole tokens", L"Commands\tReset\n\r", nullptr},
        {"a NUL would cut the board's copy short", L"Command\tRe\0set\n\r"s, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        ccCustomPropertyBag bag = parsed(kOld);
        EXPECT_EQ(codeOf([&] { bag.fromString(r.text); }), r.printed ? 0 : ccCustomPropertyBag::BadParams::kCode);
        EXPECT_EQ(bag.asString(), r.printed ? r.printed : kOld);
        EXPECT_EQ(parsed(bag.asString()).asString(), bag.asString());
    }
    const ccCustomPropertyBag bag = parsed(kResetGain);
    EXPECT_EQ(bag.kinds(), (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(bag.names(), (std::vector<std::wstring>{L"Reset", L"Gain"}));
    EXPECT_EQ(bag.values(), (std::vector<std::wstring>{L"", L"12"}));
}

TEST(ContrastBrightnessProp, AttachShapesFromTheBoardAndSendsItsDefaultsToEveryChannel)
{
    const Calls one = {"contrast 0.25 0", "brightness 0.75 0"};
    const Calls two = {"contrast 0.25 0", "contrast 0.25 1", "brightness 0.75 0", "brightness 0.75 1"};
    const struct { bool shapedBefore; uint32_t boardChannels; uint32_t code; int32_t channels; Calls calls; } rows[] = {
        {false, 2, 0, 2, two},
        {true, 2, 0, 1, one},
        {false, 0, kCbBad, 1, {}},
        {true, 0, 0, 1, one},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.boardChannels) + (r.shapedBefore ? " shaped" : " unshaped"));
        Board board;
        board.channels = r.boardChannels;
        board.contrastAnswer = 0.25;
        board.brightnessAnswer = 0.75;
        ccContrastBrightnessProp p;
        if (r.shapedBefore) {
            EXPECT_EQ(p.numChannels(), 1);
        }
        EXPECT_EQ(codeOf([&] { p.attach(&board); }), r.code);
        EXPECT_EQ(p.fifo(), r.code ? nullptr : &board);
        EXPECT_EQ(board.calls, r.calls);
        // A fresh property reads as one channel at 0.5.
        EXPECT_EQ(p.numChannels(), r.channels);
        EXPECT_EQ(p.contrast(r.channels - 1), r.code ? 0.5 : 0.25);
        EXPECT_EQ(p.brightness(r.channels - 1), r.code ? 0.5 : 0.75);
        EXPECT_EQ(codeOf([&] { p.contrast(r.channels); }), kCbBad);
        p.attach(nullptr); // detached, nothing is sent
        EXPECT_TRUE(p.fifo() == nullptr && board.calls == r.calls);
    }
}

// A table of n entries over size: entry i takes source entry i * n / size,
// so that a table that does not divide the size still ends at its last entry.
Bytes spread(const Bytes& source, size_t size)
{
    Bytes t(size);
    for (size_t i = 0; i < size; ++i)
        t[i] = source[i * source.size() / size];
    return t;
}

Bytes channel(const cc8BitInputLutProp& p, int32_t c, size_t n)
{
    const unsigned char* t = p.table(c);
    return t ? Bytes(t, t + n) : Bytes();
}

TEST(InputLutProp, AttachShapesAsTheBoardReportsAndSendsTheDefault)
{
    cc8BitInputLutProp before; // asked before attach: 256 x 1 with the clipping table
    EXPECT_EQ(before.table(0), nullptr);
    EXPECT_TRUE(before.numChannels() == 1 && before.size() == 256);
    EXPECT_EQ(channel(before, 0, 256), kClipTable);
    EXPECT_EQ(before.table(1), nullptr);
    Bytes twice(512);
    for (size_t i = 0; i < 512; ++i)
        twice[i] = kClipTable[i / 2];
    const struct { uint32_t channels, entries; uint32_t code; Calls calls; Bytes table; } rows[] = {
        {2, 512, 0, {"inputLut 512 0", "inputLut 512 1"}, twice},
        {1, 0, 0, {}, {}},
        {0, 256, kLutBad, {}, {}},
        {1, 255, kLutBad, {}, {}},
        {1, 300, 0, {"inputLut 300 0"}, spread(kClipTable, 300)}, // the default spread over 300
        {0xFFFFFFFFu, 0xFFFFFF00u, kLutBad, {}, {}}, // no allocation from a board's words
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.channels) + " x " + std::to_string(r.entries));
        Board board;
        board.channels = r.channels;
        board.luts = r.entries;
        cc8BitInputLutProp p;
        EXPECT_EQ(codeOf([&] { p.attach(&board); }), r.code);
        EXPECT_EQ(p.fifo(), r.code ? nullptr : &board);
        if (!r.code) {
            EXPECT_TRUE(p.numChannels() == int32_t(r.channels) && p.size() == int32_t(r.entries));
        }
        EXPECT_EQ(board.calls, r.calls);
        EXPECT_EQ(channel(p, r.code ? 0 : int32_t(r.channels) - 1, r.entries), r.table);
    }
    // A shape is kept: a later attach sends nothing.
    Board small, large;
    large.channels = 4;
    cc8BitInputLutProp p;
    p.attach(&small);
    p.attach(&large);
    EXPECT_TRUE(large.calls.empty() && p.numChannels() == 1);
    // A board refusing the default leaves the property without a shape.
    large.refuse = "*";
    cc8BitInputLutProp q;
    EXPECT_EQ(codeOf([&] { q.attach(&large); }), kRefused);
    EXPECT_TRUE(q.table(0) == nullptr && q.fifo() == nullptr);
}

TEST(InputLutProp, SetsStretchTheTableAndRefuseWhatWouldReadPastIt)
{
    std::unique_ptr<unsigned char[]> source(new unsigned char[256]);
    for (int i = 0; i < 256; ++i)
        source[size_t(i)] = uint8_t(255 - i);
    Bytes stretched(256), reversed(source.get(), source.get() + 256);
    for (size_t i = 0; i < 256; ++i)
        stretched[i] = source[i / 2];
    const struct { uint32_t channels, entries; bool table; int32_t n, channel; Calls calls; Bytes last; } rows[] = {
        {1, 256, true, 128, 0, {"inputLut 256 0"}, stretched},
        {2, 256, true, 256, -1, {"inputLut 256 0", "inputLut 256 1"}, reversed},
        {2, 256, true, 256, 1, {"inputLut 256 1"}, reversed},
        {1, 256, true, 0, 0, {}, {}}, // a step of zero
        {1, 256, true, 200, 0, {"inputLut 256 0"}, spread(Bytes(source.get(), source.get() + 200), 256)},
        {1, 256, true, 257, 0, {}, {}},
        {1, 256, false, 256, 0, {}, {}},
        {2, 256, true, 256, 2, {}, {}},
        {2, 256, true, 256, -2, {}, {}},
        {1, 0, true, 256, 0, {}, {}}, // a board without a table
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.n) + " into " + std::to_string(r.channel));
        Board board;
        board.channels = r.channels;
        board.luts = r.entries;
        cc8BitInputLutProp p;
        p.attach(&board);
        board.calls.clear();
        const Bytes before = channel(p, r.channels - 1, r.entries);
        // Exactly n entries on the heap, so that a read past them is seen.
        std::unique_ptr<unsigned char[]> given(new unsigned char[size_t(std::max(r.n, 1))]);
        std::copy(source.get(), source.get() + std::clamp(r.n, 1, 256), given.get());
        EXPECT_EQ(codeOf([&] { p.inputLut(r.table ? given.get() : nullptr, r.n, r.channel); }),
                  r.calls.empty() ? kLutBad : 0);
        EXPECT_EQ(board.calls, r.calls);
        EXPECT_EQ(channel(p, r.channels - 1, r.entries), r.calls.empty() ? before : r.last);
        if (!r.calls.empty()) {
            EXPECT_EQ(board.tables.back(), r.last);
        }
    }
    // The 256-entry form lets a refusal pass quietly.
    Board none;
    none.luts = 0;
    cc8BitInputLutProp p;
    p.attach(&none);
    p.inputLut(source.get());
    EXPECT_EQ(p.table(0), nullptr);
}

// A FIFO over its own implementation (none when impl is null).
struct Fifo : ccGreyAcqFifo {
    explicit Fifo(cc_AcqFifo* impl) : ccGreyAcqFifo(impl) {}
    ccAcqProps& acqProps() override { throw ccBadPointer(); }
    const ccVideoFormat& videoFormat() const override { throw ccBadPointer(); }
    const ccFrameGrabber& frameGrabber() const override { throw ccBadPointer(); }
};

// The stored model's code ("h" when held by handle) and whether there is a master.
std::string model(const ccTriggerProp& p)
{
    const ccTriggerModel* m = p.triggerModel() ? p.triggerModel() : p.triggerModelHandle().rawPointer();
    return (p.triggerModel() ? "" : "h") + std::to_string(m->code()) + (p.triggerMaster() ? " m" : "");
}

TEST(TriggerProp, ModelsAndMastersAreCheckedThenForwarded)
{
    const ccPtrHandle<ccTriggerModel> custom = ccTriggerModel::freeRun()->makeCustom();
    const ccPtrHandle<ccAcqFifo> master(new Fifo(new Board)), noImpl(new Fifo(nullptr));
    const uint32_t bad = ccTriggerProp::BadParams::kCode, invalid = ccAcqFifo::InvalidMaster::kCode;
    const struct { std::function<void(ccTriggerProp&)> set; uint32_t code; Calls calls; std::string after; } rows[] = {
        {[](ccTriggerProp& p) { p.triggerModel(ccTriggerModel::slave().rawPointer()); }, 0, {"triggerModel 131"},
         "131"},
        {[&](ccTriggerProp& p) { p.triggerModel(custom); }, 0, {"triggerModel 132"}, "h132"},
        {[&](ccTriggerProp& p) { p.triggerModel(custom.rawPointer()); }, bad, {}, "128"},
        {[](ccTriggerProp& p) { p.triggerModel(ccPtrHandle<ccTriggerModel>()); }, bad, {}, "128"},
        {[&](ccTriggerProp& p) { p.triggerMaster(master); }, 0, {"triggerMaster 1"}, "128 m"},
        {[](ccTriggerProp& p) { p.triggerMaster(ccPtrHandle<ccAcqFifo>()); }, 0, {"triggerMaster 0"}, "128"},
        {[&](ccTriggerProp& p) { p.triggerMaster(noImpl); }, invalid, {}, "128"},
    };
    for (const auto& r : rows) {
        for (const char* refuse : {static_cast<const char*>(nullptr), "", "*"}) { // detached, attached, refused
            SCOPED_TRACE(std::to_string(&r - rows) + (refuse ? refuse : " detached"));
            Board board;
            ccTriggerProp p;
            p.triggerModel(custom); // the model changes from a handle to a pointer and back
            p.triggerModel(ccTriggerModel::manual().rawPointer());
            if (refuse)
                p.attach(&board);
            board.refuse = refuse ? refuse : "";
            const bool refused = board.refuse == "*";
            EXPECT_EQ(codeOf([&] { r.set(p); }), r.code ? r.code : refused ? kRefused : 0);
            EXPECT_EQ(board.calls, refuse && !refused ? r.calls : Calls());
            EXPECT_EQ(model(p), refused ? "128" : r.after);
        }
    }
}

TEST(TriggerProp, EnabledIsReadFromTheBoardAndMastersAreCheckedByIt)
{
    Board* own = new Board;
    const ccPtrHandle<ccAcqFifo> self(new Fifo(own)), other(new Fifo(new Board));
    ccTriggerProp p;
    EXPECT_FALSE(p.isValidMaster(other)); // detached
    p.attach(own);
    own->enabled = false;
    EXPECT_FALSE(p.triggerEnable());
    own->enabled = true;
    EXPECT_TRUE(p.triggerEnable());
    EXPECT_TRUE(p.isValidMaster(other));
    EXPECT_FALSE(p.isValidMaster(ccPtrHandle<ccAcqFifo>()));
    own->validMaster = false;
    EXPECT_FALSE(p.isValidMaster(other));
    // Its own FIFO as master would keep that FIFO alive through itself.
    EXPECT_FALSE(p.isValidMaster(self));
    EXPECT_THROW(p.triggerMaster(self), ccAcqFifo::InvalidMaster);
    EXPECT_TRUE(own->calls.empty() && !p.triggerMaster());
}

struct TestPool : ccPelRootPool {};

TEST(PelRootPoolProp, TheBoardMustAcceptAPoolAndAttachTakesTheBoardsPool)
{
    const ccPtrHandle<ccPelRootPool> before(new TestPool), given(new TestPool);
    const struct {
        const char* what;
        bool attached, accepts;
        std::string refuse;
        uint32_t code;
        Calls calls;
    } rows[] = {
        {"detached", false, false, "", 0, {}},
        {"accepted", true, true, "", 0, {"acceptsPelRootPool", "pelRootPool"}},
        {"not accepted", true, false, "", ccPelRootPoolProp::BadParams::kCode, {"acceptsPelRootPool"}},
        {"refused", true, true, "pelRootPool", kRefused, {"acceptsPelRootPool"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Board board;
        board.acceptsPools = r.accepts;
        board.refuse = r.refuse;
        board.ownPool = before;
        ccPelRootPoolProp p;
        EXPECT_EQ(p.pelRootPool().rawPointer(), nullptr);
        p.pelRootPool(given);
        if (r.attached) // the pool set while detached gives way to the board's
            p.attach(&board);
        EXPECT_EQ(p.pelRootPool().rawPointer(), (r.attached ? before : given).rawPointer());
        EXPECT_EQ(codeOf([&] { p.pelRootPool(given); }), r.code);
        EXPECT_EQ(board.calls, r.calls);
        EXPECT_EQ(p.pelRootPool().rawPointer(), (r.code ? before : given).rawPointer());
    }
}

double corners(const ccPelRect& r) { return ((r.x0() * 1e3 + r.y0()) * 1e3 + r.x1()) * 1e3 + r.y1(); }

TEST(Props, CountsLimitsAndDefaultsComeFromTheBoard)
{
    const uint32_t kEncNoBoard = ccEncoderProp::NoFrameGrabber::kCode;
    // Detached: an error's code, or 0 and the value alone.
    const struct { std::function<double(cc_AcqFifo*)> query; uint32_t detached; double answer, alone = 0; } rows[] = {
        {[](cc_AcqFifo* f) { ccCameraPortProp p; p.attach(f); return double(p.numCameraPorts()); },
         ccCameraPortProp::NoFrameGrabber::kCode, 2},
        {[](cc_AcqFifo* f) { ccCtiProp p; p.attach(f); return p.ctiLimit(); }, ccCtiProp::NoFrameGrabber::kCode, 0.004},
        {[](cc_AcqFifo* f) { ccHorizAdjustProp p; p.attach(f); return p.horizAdjustLimit(); },
         ccHorizAdjustProp::NoFrameGrabber::kCode, 12.5},
        {[](cc_AcqFifo* f) { ccEncoderProp p; p.attach(f); return double(p.numEncoderPorts()); }, kEncNoBoard, 0},
        {[](cc_AcqFifo* f) { ccRoiProp p; p.attach(f); ccPelRect l; return &p.roiLimits(l) == &l ? corners(l) : -1; },
         ccRoiProp::NoFrameGrabber::kCode, 4005644485.0},
        {[](cc_AcqFifo* f) { ccSyncProp p; p.attach(f); return double(p.actualSyncModel().code()); },
         ccSyncProp::NoFrameGrabber::kCode, 151},
        // Detached, the count is 0.
        {[](cc_AcqFifo* f) { ccEncoderControlProp p; p.attach(f); return double(p.currentEncoderCount()); }, 0, 77},
        // Attaching takes the board's exposure and sends nothing.
        {[](cc_AcqFifo* f) { ccExposureProp p; p.exposure(0.5); p.attach(f); return p.exposure(); }, 0, 0.004, 0.5},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(&r - rows);
        Board board;
        board.actualSync = ccSyncModel::internalComposite();
        board.exposureAnswer = 0.004;
        double detached = -1;
        EXPECT_EQ(codeOf([&] { detached = r.query(nullptr); }), r.detached);
        if (!r.detached) {
            EXPECT_EQ(detached, r.alone);
        }
        EXPECT_EQ(r.query(&board), r.answer);
        EXPECT_TRUE(board.calls.empty());
    }
}

TEST(CdcCameraCalibrationProp, AttachReadsTheOutlierDefaultAndPushesItself)
{
    ccCdcCameraCalibrationProp p;
    p.rowColumnCalibrationEnabled(false);
    Board refusing;
    refusing.refuse = "*";
    refusing.cdcDefault = true;
    EXPECT_EQ(codeOf([&] { p.attach(&refusing); }), kRefused);
    EXPECT_EQ(storeObject(p), level(0, {0, 85, 25, 0}));
    EXPECT_EQ(p.fifo(), nullptr);
    Board board;
    board.cdcDefault = true;
    p.attach(&board);
    EXPECT_EQ(board.calls, Calls{"cdcCameraCalibration 1 85 25 0"});
    EXPECT_EQ(storeObject(p), level(0, {1, 85, 25, 0}));
}

TEST(CameraLocationProp, ALocationIsCheckedByTheAttachedImplementation)
{
    alignas(8) unsigned char devices[2];
    ccCameraPort* const valid = reinterpret_cast<ccCameraPort*>(&devices[0]);
    ccCameraPort* const other = reinterpret_cast<ccCameraPort*>(&devices[1]);
    Board board;
    board.validLocation = valid;
    ccCameraLocationProp p;
    EXPECT_EQ(p.cameraLocation(), nullptr);
    p.cameraLocation(other); // detached: anything goes
    p.attach(&board);
    EXPECT_EQ(codeOf([&] { p.cameraLocation(nullptr); }), ccCameraLocationProp::BadParams::kCode);
    EXPECT_EQ(p.cameraLocation(), other);
    p.cameraLocation(valid);
    EXPECT_EQ(p.cameraLocation(), valid);
    EXPECT_EQ(board.calls, Calls{"cameraLocation 1"});
    board.validLocation = other;
    board.refuse = "*";
    EXPECT_EQ(codeOf([&] { p.cameraLocation(other); }), kRefused);
    EXPECT_EQ(p.cameraLocation(), valid);
}

// The property as one level of a larger object that archives nothing before it.
struct Larger : ccSyncProp {};

TEST(SyncProp, StoresItsPersistentLevelFirstAlsoAsALevelOfALargerObject)
{
    const auto stored = [](uint8_t version) { return Bytes{0x02, 0x01, 0x00, version, 0x0A, 0x00, 0x00, 0x00}; };
    Larger larger;
    larger.syncModel(ccSyncModel::externalPixelSync());
    EXPECT_EQ(storeObject(larger), stored(1));
    larger.syncModel(ccSyncModel::internalDrive());
    loadObject(larger, stored(1));
    EXPECT_TRUE(larger.syncModel() == ccSyncModel::externalPixelSync());
    loadObject(larger, stored(0));
    EXPECT_TRUE(larger.syncModel() == ccSyncModel());
    std::wstring file;
    uint32_t line = 0;
    EXPECT_EQ(codeOf([&] { loadObject(larger, stored(2)); }, &file, &line),
              ccArchive::UnknownVersion::kCode);
    EXPECT_TRUE(file == L"acq/hyper/prop/sync" && line == 96u);
    EXPECT_TRUE(larger.syncModel() == ccSyncModel());
}

} // namespace
