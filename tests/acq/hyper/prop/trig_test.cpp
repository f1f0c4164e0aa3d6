#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "acq/hyper/prop/ilut8.h"
#include "acq/hyper/prop/startup.h"
#include "acq/hyper/prop/trig.h"
#include "std/except/persist.h"
#include "tests/support/fake_acqfifo.h"
#include "tests/support/stored.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;

// Records the trigger and table operations as text, in order; refuses them
// all when asked.
struct Board : test_acq::FakeAcqFifo {
    std::vector<std::string> log;
    std::vector<Bytes> tables; // each forwarded table
    bool refuse = false;
    bool enabled = false;
    bool valid = true;
    uint32_t channels = 1, entries = 256;

    void note(const std::string& s)
    {
        if (refuse)
            throw ccUnsupportedHW();
        log.push_back(s);
    }
    bool triggerEnabled() override { return enabled; }
    void triggerEnable(bool on) override { note("enable " + std::to_string(on)); }
    void triggerLowToHigh(bool on) override { note("lowToHigh " + std::to_string(on)); }
    void triggerModel(const ccAcqModelRecord& r) override { note("model " + std::to_string(r.code)); }
    void triggerMaster(cc_AcqFifo* m) override { note(m ? "master" : "no master"); }
    bool isValidMaster(cc_AcqFifo*) override { return valid; }
    uint32_t numChannels() override { return channels; }
    uint32_t numInputLuts() override { return entries; }
    void inputLut(const uint8_t* t, uint32_t n, int32_t channel) override
    {
        note("lut " + std::to_string(n) + " " + std::to_string(channel));
        tables.emplace_back(t, t + n);
    }
};

// A FIFO over its own implementation (none when impl is null).
struct Fifo : ccGreyAcqFifo {
    explicit Fifo(cc_AcqFifo* impl) : ccGreyAcqFifo(impl) {}
    ccAcqProps& acqProps() override { throw ccBadPointer(); }
    const ccVideoFormat& videoFormat() const override { throw ccBadPointer(); }
    const ccFrameGrabber& frameGrabber() const override { throw ccBadPointer(); }
};

typedef std::vector<std::string> Log;

Bytes clipping()
{
    Bytes t(256);
    for (int i = 0; i < 256; ++i)
        t[size_t(i)] = uint8_t(i < 15 ? 15 : i > 240 ? 240 : i);
    return t;
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

TEST(TriggerAndLutProps, TheRegistryRecreatesThemByTheirStoredNames)
{
    ccAcqHyperPropStartup();
    const ccTriggerProp trig;
    const cc8BitInputLutProp lut;
    for (const ccPersistent* made : {static_cast<const ccPersistent*>(&trig), static_cast<const ccPersistent*>(&lut)}) {
        const ccPersistentFactory make = ccFindFactory(made->storedTypeName());
        ASSERT_NE(make, nullptr) << made->storedTypeName();
        const std::unique_ptr<ccPersistent> fresh(make());
        const ccPersistent& a = *fresh;
        EXPECT_EQ(typeid(a), typeid(*made));
    }
}

// The stored values: enabled, low to high, the model's code ("h" when held
// by handle), whether there is a master.
std::string state(ccTriggerProp& p)
{
    cc_AcqFifo* board = p.fifo();
    p.attach(nullptr); // the stored flag, not the board's
    const ccTriggerModel* m = p.triggerModel() ? p.triggerModel() : p.triggerModelHandle().rawPointer();
    const std::string s = std::to_string(p.triggerEnable()) + std::to_string(p.triggerLowToHigh()) +
                          (p.triggerModel() ? " " : " h") + std::to_string(m->code()) + (p.triggerMaster() ? " m" : "");
    p.attach(board);
    return s;
}

TEST(TriggerProp, SettersCheckForwardWhenAttachedAndKeepTheValueTheBoardRefuses)
{
    const ccPtrHandle<ccTriggerModel> custom = ccTriggerModel::freeRun()->makeCustom();
    const ccPtrHandle<ccAcqFifo> master(new Fifo(new Board)), noImpl(new Fifo(nullptr));
    const char* const bad = typeid(ccTriggerProp::BadParams).name();
    const struct { std::function<void(ccTriggerProp&)> set; const char* refusal; Log forwarded; std::string after; } rows[] = {
        {[](ccTriggerProp& p) { p.triggerEnable(false); }, nullptr, {"enable 0"}, "01 128"},
        {[](ccTriggerProp& p) { p.triggerLowToHigh(false); }, nullptr, {"lowToHigh 0"}, "10 128"},
        {[](ccTriggerProp& p) { p.triggerModel(ccTriggerModel::slave().rawPointer()); }, nullptr, {"model 131"}, "11 131"},
        {[&](ccTriggerProp& p) { p.triggerModel(custom); }, nullptr, {"model 132"}, "11 h132"},
        {[](ccTriggerProp& p) { p.triggerModel(static_cast<const ccTriggerModel*>(nullptr)); }, bad, {}, ""},
        {[&](ccTriggerProp& p) { p.triggerModel(custom.rawPointer()); }, bad, {}, ""},
        {[](ccTriggerProp& p) { p.triggerModel(ccPtrHandle<ccTriggerModel>()); }, bad, {}, ""},
        {[&](ccTriggerProp& p) { p.triggerMaster(master); }, nullptr, {"master"}, "11 128 m"},
        {[](ccTriggerProp& p) { p.triggerMaster(ccPtrHandle<ccAcqFifo>()); }, nullptr, {"no master"}, "11 128"},
        {[&](ccTriggerProp& p) { p.triggerMaster(noImpl); }, typeid(ccAcqFifo::InvalidMaster).name(), {}, ""},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& r = rows[i];
        for (int mode = 0; mode < 3; ++mode) { // detached, attached, attached to a refusing board
            SCOPED_TRACE("row " + std::to_string(i) + " mode " + std::to_string(mode));
            Board board;
            board.refuse = mode == 2;
            ccTriggerProp p;
            p.triggerModel(custom); // the model changes from a handle to a pointer and back
            p.triggerModel(ccTriggerModel::manual().rawPointer());
            if (mode > 0)
                p.attach(&board);
            const char* refusal = r.refusal ? r.refusal : mode == 2 ? typeid(ccUnsupportedHW).name() : "";
            std::string thrown;
            try {
                r.set(p);
            } catch (const ccException& e) {
                thrown = typeid(e).name();
            }
            EXPECT_EQ(thrown, refusal);
            EXPECT_EQ(board.log, mode == 1 && !r.refusal ? r.forwarded : Log());
            EXPECT_EQ(state(p), *refusal ? "11 128" : r.after);
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
    EXPECT_FALSE(p.triggerEnable());
    own->enabled = true;
    EXPECT_TRUE(p.triggerEnable());
    EXPECT_TRUE(p.isValidMaster(other));
    EXPECT_FALSE(p.isValidMaster(ccPtrHandle<ccAcqFifo>()));
    own->valid = false;
    EXPECT_FALSE(p.isValidMaster(other));
    // Its own FIFO as master would keep that FIFO alive through itself.
    EXPECT_FALSE(p.isValidMaster(self));
    EXPECT_THROW(p.triggerMaster(self), ccAcqFifo::InvalidMaster);
    EXPECT_TRUE(own->log.empty() && !p.triggerMaster());
}

TEST(TriggerProp, ArchiveStoresTheBoardsFlagsAndLoadsEveryVersionThroughTheSetters)
{
    ccAcqHyperPropStartup();
    Board board;
    ccTriggerProp p;
    p.attach(&board);
    p.triggerLowToHigh(false);
    // Version byte, the ccPersistent level's byte, enabled (the board's), low to high.
    EXPECT_EQ(test_bytes::storeObject(p),
              Bytes({0x02, 0x01, 0x01, 0x00, 0x00, 0x00}));

    const struct { Bytes stored; Log forwarded; bool manual; } rows[] = {
        {{0x02, 0x01, 0x01, 0x00, 0x00, 0x01}, {"enable 0", "lowToHigh 1"}, false},
        {{0x02, 0x01, 0x00, 0x00, 0x01, 0x00, 0x78, 0x56, 0x34, 0x12}, {"enable 1", "lowToHigh 0", "model 128"}, true},
        {{0x02, 0x01, 0x02, 0x00, 0x00, 0x01}, {}, false},
    };
    for (const auto& r : rows) {
        Board b;
        ccTriggerProp q;
        q.triggerModel(ccTriggerModel::automatic().rawPointer());
        q.attach(&b);
        try {
            test_bytes::loadObject(q, r.stored);
            EXPECT_FALSE(r.forwarded.empty());
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_TRUE(r.forwarded.empty() && e.file() == L"acq/hyper/prop/trig");
        }
        EXPECT_EQ(b.log, r.forwarded);
        EXPECT_EQ(q.triggerModel(), (r.manual ? ccTriggerModel::manual() : ccTriggerModel::automatic()).rawPointer());
    }
}

TEST(InputLutProp, AskedBeforeAttachItIs256By1WithTheClippingTable)
{
    cc8BitInputLutProp p;
    EXPECT_EQ(p.table(0), nullptr);
    EXPECT_EQ(p.numChannels(), 1);
    EXPECT_EQ(p.size(), 256);
    EXPECT_EQ(channel(p, 0, 256), clipping());
    EXPECT_EQ(p.table(1), nullptr);
}

TEST(InputLutProp, AttachShapesAsTheBoardReportsAndSendsTheDefault)
{
    Bytes twice(512);
    for (size_t i = 0; i < 512; ++i)
        twice[i] = clipping()[i / 2];
    const struct { uint32_t channels, entries; bool taken; Log forwarded; Bytes table; } rows[] = {
        {1, 256, true, {"lut 256 0"}, clipping()},
        {2, 512, true, {"lut 512 0", "lut 512 1"}, twice},
        {1, 0, true, {}, {}},
        {0, 256, false, {}, {}},
        {1, 255, false, {}, {}},
        {1, 300, true, {"lut 300 0"}, spread(clipping(), 300)}, // the default spread over 300
        {0xFFFFFFFFu, 0xFFFFFF00u, false, {}, {}}, // no allocation from a board's words
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.channels) + " x " + std::to_string(r.entries));
        Board board;
        board.channels = r.channels;
        board.entries = r.entries;
        cc8BitInputLutProp p;
        if (r.taken) {
            p.attach(&board);
            EXPECT_EQ(p.numChannels(), int32_t(r.channels));
            EXPECT_EQ(p.size(), int32_t(r.entries));
        } else {
            EXPECT_THROW(p.attach(&board), cc8BitInputLutProp::BadParams);
            EXPECT_EQ(p.fifo(), nullptr);
        }
        EXPECT_EQ(board.log, r.forwarded);
        EXPECT_EQ(channel(p, r.taken ? int32_t(r.channels) - 1 : 0, r.entries), r.table);
    }
    // A shape is kept: a later attach sends nothing.
    Board small, large;
    large.channels = 4;
    cc8BitInputLutProp p;
    p.attach(&small);
    small.log.clear();
    p.attach(&large);
    EXPECT_TRUE(large.log.empty() && p.numChannels() == 1);
    // A board refusing the default leaves the property without a shape.
    large.refuse = true;
    cc8BitInputLutProp q;
    EXPECT_THROW(q.attach(&large), ccUnsupportedHW);
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
    const struct { uint32_t channels, entries; bool table; int32_t n, channel; Log forwarded; Bytes last; } rows[] = {
        {1, 256, true, 128, 0, {"lut 256 0"}, stretched},
        {2, 256, true, 256, -1, {"lut 256 0", "lut 256 1"}, reversed},
        {2, 256, true, 256, 1, {"lut 256 1"}, reversed},
        {1, 256, true, 0, 0, {}, {}},   // a step of zero
        {1, 256, true, 200, 0, {"lut 256 0"}, spread(Bytes(source.get(), source.get() + 200), 256)},
        {1, 256, true, 257, 0, {}, {}},
        {1, 256, false, 256, 0, {}, {}},
        {2, 256, true, 256, 2, {}, {}},
        {2, 256, true, 256, -2, {}, {}},
        {1, 0, true, 256, 0, {}, {}}, // a board without a table
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.n) + " into " + std::to_string(r.channel));
        for (bool refusing : {false, true}) {
            Board board;
            board.channels = r.channels;
            board.entries = r.entries;
            cc8BitInputLutProp p;
            p.attach(&board);
            board.log.clear();
            board.refuse = refusing;
            const bool taken = !r.forwarded.empty();
            const Bytes before = channel(p, r.channels - 1, r.entries);
            // Exactly n entries on the heap, so that a read past them is seen.
            std::unique_ptr<unsigned char[]> given(new unsigned char[size_t(std::max(r.n, 1))]);
            std::copy(source.get(), source.get() + std::clamp(r.n, 1, 256), given.get());
            const auto set = [&] { p.inputLut(r.table ? given.get() : nullptr, r.n, r.channel); };
            if (!taken) {
                EXPECT_THROW(set(), cc8BitInputLutProp::BadParams);
            } else if (refusing) {
                EXPECT_THROW(set(), ccUnsupportedHW);
            } else {
                set();
            }
            EXPECT_EQ(board.log, refusing ? Log() : r.forwarded);
            EXPECT_EQ(channel(p, r.channels - 1, r.entries), taken && !refusing ? r.last : before);
            if (taken && !refusing) {
                EXPECT_EQ(board.tables.back(), r.last);
            }
        }
    }
    // The 256-entry form lets a refusal pass quietly.
    Board none;
    none.entries = 0;
    cc8BitInputLutProp p;
    p.attach(&none);
    p.inputLut(source.get());
    EXPECT_EQ(p.table(0), nullptr);
}

// Both classes as levels of one object, as the aggregate archives them.
struct Pair : ccTriggerProp, cc8BitInputLutProp {
    void archive(ccArchive& ar) override
    {
        ccTriggerProp::archive(ar);
        cc8BitInputLutProp::archive(ar);
    }
    const char* storedTypeName() const override { return "pair"; }
};

TEST(InputLutProp, ArchiveStoresTheShapeAndTablesAndLoadsEveryVersionThroughTheSetter)
{
    ccAcqHyperPropStartup();
    Bytes a(256, 7), b(256, 9);
    const Bytes header{0x02, 0x01}, shape512x1{0x00, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
        shape256x1{0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    // Version byte 2, the ccPersistent level, size and channels, the table;
    // inside a larger object the ccPersistent level is written once.
    cc8BitInputLutProp alone;
    EXPECT_EQ(test_bytes::storeObject(alone),
              cat({header, {0x02, 0x00}, shape256x1, clipping()}));
    Pair pair;
    EXPECT_EQ(test_bytes::storeObject(pair),
              cat({header, {0x01, 0x00, 0x01, 0x01}, {0x02}, shape256x1, clipping()}));

    Bytes ab = cat({a, b}), aThenB512(512);
    for (size_t i = 0; i < 512; ++i)
        aThenB512[i] = i < 256 ? 7 : 9;
    // boardChannels 0: loaded detached, shaped by the archive.
    const struct {
        const char* name; uint32_t boardChannels, boardEntries; Bytes stored; bool taken; int32_t channels;
        Log forwarded; Bytes table0;
    } rows[] = {
        {"v2", 0, 0, cat({header, {0x02, 0x00}, shape512x1, aThenB512}), true, 1, {}, aThenB512},
        {"v2 attached", 1, 512, cat({header, {0x02, 0x00}, shape512x1, aThenB512}), true, 1, {"lut 512 0"}, aThenB512},
        {"v2 other shape", 1, 256, cat({header, {0x02, 0x00}, shape512x1, aThenB512}), false, 1, {}, clipping()},
        {"v1 different", 0, 0, cat({header, {0x01, 0x00}, ab}), true, 2, {}, b},
        {"v1 different attached", 2, 256, cat({header, {0x01, 0x00}, ab}), true, 2, {"lut 256 1", "lut 256 0"}, b},
        {"v1 equal", 0, 0, cat({header, {0x01, 0x00}, a, a}), true, 1, {}, a},
        {"v0", 1, 256, cat({header, {0x00, 0x00}, b}), true, 1, {"lut 256 0"}, b},
        {"v3", 1, 256, cat({header, {0x03, 0x00}, shape256x1, a}), false, 1, {}, clipping()},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        cc8BitInputLutProp p;
        Board board;
        board.channels = r.boardChannels;
        board.entries = r.boardEntries;
        if (r.boardChannels)
            p.attach(&board);
        board.log.clear(); // the default sent at attach
        try {
            test_bytes::loadObject(p, r.stored);
            EXPECT_TRUE(r.taken);
        } catch (const cc8BitInputLutProp::BadParams&) {
            EXPECT_FALSE(r.taken);
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_TRUE(!r.taken && e.file() == L"acq/hyper/prop/ilut8");
        }
        EXPECT_EQ(board.log, r.forwarded);
        p.attach(nullptr);
        EXPECT_EQ(p.numChannels(), r.channels);
        EXPECT_EQ(channel(p, 0, r.table0.size()), r.table0);
        if (r.channels == 2) {
            EXPECT_EQ(channel(p, 1, 256), a);
        }
    }
}

} // namespace
