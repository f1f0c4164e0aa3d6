#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "acq/syncmodel.h"
#include "acq/trigmodel.h"

namespace {

typedef std::array<uint8_t, 16> Flags;

Flags flagsOf(const ccAcqModelRecord& r)
{
    Flags f;
    std::memcpy(f.data(), r.flags, f.size());
    return f;
}

// Leading flag bytes written as digits; the rest 0.
Flags flags(const char* digits)
{
    Flags f{};
    for (size_t i = 0; digits[i]; ++i)
        f[i] = static_cast<uint8_t>(digits[i] - '0');
    return f;
}

TEST(TriggerModel, PredefinedModelsHaveTheirRecordsAndRefuseTheCustomSetters)
{
    typedef ccPtrHandle<ccTriggerModel> (*Get)();
    const struct { Get get; uint32_t code; std::wstring name; const char* flags; } rows[] = {
        {&ccTriggerModel::manual, 0x80, L"Manual", "000010100"},
        {&ccTriggerModel::automatic, 0x81, L"Automatic", "101010000"},
        {&ccTriggerModel::semiAutomatic, 0x82, L"Semi-Automatic", "100010100"},
        {&ccTriggerModel::slave, 0x83, L"Slave", "000110010"},
        {&ccTriggerModel::freeRun, 0x84, L"FreeRun", "000010000"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        const ccPtrHandle<ccTriggerModel> m = r.get();
        EXPECT_EQ(m->code(), r.code);
        EXPECT_EQ(m->name(), r.name);
        EXPECT_EQ(flagsOf(m->record()), flags(r.flags));
        EXPECT_EQ(m->allowsStart(), r.flags[6] == '1');
        // Its record is shared by the whole process.
        EXPECT_THROW(m->customMode(1), ccTriggerModel::BadParams);
        EXPECT_THROW(m->customFlag(1), ccTriggerModel::BadParams);
    }
}

TEST(TriggerModel, ACustomCopyTakesTheModeAndFlagItIsGivenAndRefusesOthers)
{
    const ccPtrHandle<ccTriggerModel> manual = ccTriggerModel::manual();
    const ccPtrHandle<ccTriggerModel> m = manual->makeCustom();
    EXPECT_EQ(m->code(), 0x84u);
    EXPECT_EQ(std::wstring(m->name()), L"Custom");
    Flags expected = flags("000010100");
    EXPECT_EQ(flagsOf(m->record()), expected);
    // In turn; null: refused, nothing changes.
    const struct { bool mode; uint32_t value; const char* after; } steps[] = {
        {false, 1, "000011100"}, {false, 2, nullptr}, {true, 3, "000011001"},          {true, 4, nullptr},
        {true, 2, "000011110"},  {true, 1, "000011000"}, {true, 0xFFFFFFFFu, nullptr}, {true, 0, "000011100"},
        {false, 0, "000010100"},
    };
    for (const auto& r : steps) {
        SCOPED_TRACE(testing::Message() << (r.mode ? "mode " : "flag ") << r.value);
        const auto set = [&] { r.mode ? m->customMode(r.value) : m->customFlag(r.value); };
        if (r.after) {
            set();
            expected = flags(r.after);
        } else {
            EXPECT_THROW(set(), ccTriggerModel::BadParams);
        }
        EXPECT_EQ(flagsOf(m->record()), expected);
    }
    EXPECT_EQ(flagsOf(manual->record()), flags("000010100"));
}

TEST(TriggerModel, PredefinedModelOutlivesEveryOutsideHandle)
{
    ccPtrHandle<ccTriggerModel> h = ccTriggerModel::slave();
    const ccTriggerModel* first = h.rawPointer();
    const int32_t permanent = h->refCount() - 1;
    h = nullptr;
    EXPECT_EQ(first->refCount(), permanent);
    h = ccTriggerModel::slave();
    EXPECT_EQ(h.rawPointer(), first);
    EXPECT_EQ(std::wstring(h->name()), L"Slave");
}

TEST(SyncModel, RecordsCodesNamesFlagsAndArchiveIndices)
{
    // Flag bytes 0 to 8 (12 too for the internal models); the archive index is
    // code - 149.
    const struct { ccSyncModel (*get)(); uint32_t code; std::wstring name; const char* flags; } rows[] = {
        {&ccSyncModel::defaultModel, 150, L"Default", "0000000000001"},
        {&ccSyncModel::internalComposite, 151, L"Internal composite", "0000010000001"},
        {&ccSyncModel::internalDrive, 152, L"Internal drive", "0000000000001"},
        {&ccSyncModel::internalWithHLock, 153, L"Internal with HLock", "0010101000001"},
        {&ccSyncModel::internalWithHLockAndVLock, 154, L"Internal with HLock and VLock", "0011101000001"},
        {&ccSyncModel::internal2940, 155, L"Internal 2940", "0011101000001"},
        {&ccSyncModel::externalPllComposite, 156, L"External PLL composite", "110100111"},
        {&ccSyncModel::externalPllSync, 157, L"External PLL sync", "010100111"},
        {&ccSyncModel::externalPllDrive, 158, L"External PLL drive", "010100001"},
        {&ccSyncModel::externalPixelSync, 159, L"External pixel sync", "011100112"},
        {&ccSyncModel::externalPixelDrive, 160, L"External pixel drive", "011100012"},
        {&ccSyncModel::slaveExternalPixelDriveVtg0, 161, L"Slave External pixel drive VTGO", "111100012"},
        {&ccSyncModel::slaveExternalPixelDriveVtg1, 162, L"Slave External pixel drive VTG1", "101110102"},
        {&ccSyncModel::displayExternalPixelDrive, 163, L"Display External pixel drive", "101111112"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        const ccSyncModel m = r.get();
        EXPECT_EQ(m.code(), r.code);
        EXPECT_EQ(m.name(), r.name);
        EXPECT_EQ(flagsOf(m.record()), flags(r.flags));
        EXPECT_TRUE(ccSyncModel::fromCode(r.code) == m);
        EXPECT_EQ(ccSyncModel::archiveIndex(m), r.code - 149);
        EXPECT_EQ(ccSyncModel::codeFromArchiveIndex(r.code - 149), r.code);
    }
    for (uint32_t code : {0u, 149u, 164u, 0xFFFFFFFFu})
        EXPECT_TRUE(ccSyncModel::fromCode(code) == ccSyncModel()) << code;
    for (uint32_t index : {0u, 15u, 150u, 0xFFFFFFFFu})
        EXPECT_EQ(ccSyncModel::codeFromArchiveIndex(index), 150u) << index;
}

} // namespace
