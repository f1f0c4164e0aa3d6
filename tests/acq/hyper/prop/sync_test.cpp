#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "acq/hyper/prop/startup.h"
#include "acq/hyper/prop/sync.h"
#include "std/except/persist.h"
#include "tests/support/bytes.h"
#include "tests/support/fake_acqfifo.h"

namespace {

using test_acq::FakeAcqFifo;
using test_bytes::Bytes;

// The property as one level of a larger object that archives nothing before it.
struct Larger : ccSyncProp {};

// The archive header, the ccPersistent level's byte (0), the version byte,
// then the index as a little-endian 32-bit word, whatever object the
// property is a level of.
Bytes stored(uint8_t version, uint8_t index) { return {0x02, 0x01, 0x00, version, index, 0x00, 0x00, 0x00}; }

TEST(SyncProp, StoresItsPersistentLevelFirstLoadsItsIndexThroughTheSetterVersionZeroGivesTheDefault)
{
    ccAcqHyperPropStartup();
    const struct { bool standAlone; uint8_t version; bool attached; ccSyncModel loaded; } rows[] = {
        {true, 1, true, ccSyncModel::externalPixelSync()},
        {true, 0, false, ccSyncModel()},
        {true, 2, false, ccSyncModel::internalDrive()}, // refused: nothing changes
        {false, 1, true, ccSyncModel::externalPixelSync()},
        {false, 0, false, ccSyncModel()},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.standAlone ? "alone " : "a level ") + std::to_string(r.version));
        ccSyncProp alone;
        Larger aggregate;
        ccSyncProp& p = r.standAlone ? alone : aggregate;
        ccPersistent& object = r.standAlone ? static_cast<ccPersistent&>(alone) : aggregate;
        p.syncModel(ccSyncModel::externalPixelSync());
        EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { ccArchiveObject(object, ar, false); }),
                  stored(1, 10));

        FakeAcqFifo board;
        p.syncModel(ccSyncModel::internalDrive());
        if (r.attached)
            p.attach(&board);
        try {
            test_bytes::load(stored(r.version, 10),
                             [&](ccArchive& ar) { ccArchiveObject(object, ar, false); });
            EXPECT_LT(r.version, 2);
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_TRUE(r.version == 2 && e.file() == L"acq/hyper/prop/sync" && e.line() == 96u);
        }
        EXPECT_TRUE(p.syncModel() == r.loaded);
        EXPECT_EQ(board.syncSets, r.attached ? 1 : 0);
        EXPECT_TRUE(board.lastSync == (r.attached ? r.loaded : ccSyncModel()));
    }
    // The registry re-creates the class by its stored name.
    const ccPersistentFactory make = ccFindFactory(ccSyncProp::kStoredName);
    ASSERT_NE(make, nullptr);
    EXPECT_NE(dynamic_cast<ccSyncProp*>(std::unique_ptr<ccPersistent>(make()).get()), nullptr);
}

// A board that refuses every sync model.
struct RefusingFifo : FakeAcqFifo {
    void syncModel(const ccSyncModel&) override { throw ccUnsupportedHW(); }
};

TEST(SyncProp, AttachedSetsGoToTheBoardWhichAnswersForTheDefaultAndActualModels)
{
    FakeAcqFifo board;
    board.defaultSync = ccSyncModel::externalPllSync();
    board.actualSync = ccSyncModel::internalComposite();
    ccSyncProp p;
    EXPECT_THROW(p.actualSyncModel(), ccSyncProp::NoFrameGrabber);
    p.attach(&board);
    EXPECT_TRUE(p.actualSyncModel() == ccSyncModel::internalComposite());

    p.syncModel(ccSyncModel::defaultModel());
    EXPECT_TRUE(board.lastSync == ccSyncModel::externalPllSync());
    EXPECT_TRUE(p.syncModel() == ccSyncModel::externalPllSync());
    p.syncModel(ccSyncModel::internalDrive());
    EXPECT_TRUE(board.lastSync == ccSyncModel::internalDrive());

    RefusingFifo refusing;
    p.attach(&refusing);
    EXPECT_THROW(p.syncModel(ccSyncModel::externalPllDrive()), ccUnsupportedHW);
    EXPECT_TRUE(p.syncModel() == ccSyncModel::internalDrive());
}

} // namespace
