#include <gtest/gtest.h>

#include <memory>

#include "acq/hyper/prop/startup.h"
#include "acq/hyper/prop/sync.h"
#include "std/except/persist.h"
#include "tests/support/bytes.h"
#include "tests/support/fake_acqfifo.h"

namespace {

using test_acq::FakeAcqFifo;
using test_bytes::Bytes;

// The archive header, the property's version byte, the ccPersistent level's,
// then the index as a little-endian 32-bit word.
Bytes stored(uint8_t version, uint8_t index) { return {0x02, 0x01, version, 0x00, index, 0x00, 0x00, 0x00}; }

Bytes save(ccSyncProp& p)
{
    return test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { ccArchiveObject(p, ar, false); });
}
void load(const Bytes& bytes, ccSyncProp& p)
{
    test_bytes::load(bytes, [&](ccArchive& ar) { ccArchiveObject(p, ar, false); });
}

class SyncProp : public ::testing::Test {
protected:
    void SetUp() override { ccAcqHyperPropStartup(); }
};

TEST_F(SyncProp, RoundTripsThroughItsIndexAndAnAttachedLoadForwards)
{
    for (bool attached : {false, true}) {
        SCOPED_TRACE(attached);
        FakeAcqFifo board;
        ccSyncProp original;
        original.syncModel(ccSyncModel::externalPixelSync());
        const Bytes bytes = save(original);
        EXPECT_EQ(bytes, stored(1, 10));

        ccSyncProp copy;
        if (attached)
            copy.attach(&board);
        load(bytes, copy);
        EXPECT_TRUE(copy.syncModel() == ccSyncModel::externalPixelSync());
        EXPECT_EQ(board.syncSets, attached ? 1 : 0);
        EXPECT_TRUE(board.lastSync == (attached ? ccSyncModel::externalPixelSync() : ccSyncModel()));
    }
    // The registry re-creates the class by its stored name.
    const ccPersistentFactory make = ccFindFactory(ccSyncProp::kStoredName);
    ASSERT_NE(make, nullptr);
    std::unique_ptr<ccPersistent> made(make());
    EXPECT_NE(dynamic_cast<ccSyncProp*>(made.get()), nullptr);
}

TEST_F(SyncProp, VersionZeroLoadsTheDefaultAndANewerVersionIsRefused)
{
    ccSyncProp p;
    p.syncModel(ccSyncModel::internalDrive());
    load(stored(0, 10), p);
    EXPECT_TRUE(p.syncModel().isDefault());

    p.syncModel(ccSyncModel::internalDrive());
    try {
        load(stored(2, 10), p);
        ADD_FAILURE() << "loaded";
    } catch (const ccArchive::UnknownVersion& e) {
        EXPECT_EQ(e.file(), L"acq/hyper/prop/sync");
        EXPECT_EQ(e.line(), 96u);
    }
    EXPECT_TRUE(p.syncModel() == ccSyncModel::internalDrive());
}

// A board that refuses every sync model.
struct RefusingFifo : FakeAcqFifo {
    void syncModel(const ccSyncModel&) override { throw ccUnsupportedHW(); }
};

TEST_F(SyncProp, AttachedSetsGoToTheBoardWhichAnswersForTheDefaultAndActualModels)
{
    FakeAcqFifo board;
    board.defaultSync = ccSyncModel::externalPllSync();
    board.actualSync = ccSyncModel::internalComposite();
    ccSyncProp p;
    EXPECT_THROW(p.actualSyncModel(), ccSyncProp::NoFrameGrabber);
    p.attach(&board);
    EXPECT_EQ(p.fifo(), &board);
    EXPECT_TRUE(p.actualSyncModel() == ccSyncModel::internalComposite());

    p.syncModel(ccSyncModel::defaultModel());
    EXPECT_TRUE(board.lastSync == ccSyncModel::externalPllSync());
    EXPECT_TRUE(p.syncModel() == ccSyncModel::externalPllSync());
    p.syncModel(ccSyncModel::internalDrive());
    EXPECT_TRUE(board.lastSync == ccSyncModel::internalDrive());
    EXPECT_EQ(board.syncSets, 2);

    RefusingFifo refusing;
    p.attach(&refusing);
    EXPECT_THROW(p.syncModel(ccSyncModel::externalPllDrive()), ccUnsupportedHW);
    EXPECT_TRUE(p.syncModel() == ccSyncModel::internalDrive());
}

} // namespace
