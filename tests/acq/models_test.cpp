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
    const struct {
        ccPtrHandle<ccTriggerModel> (*get)();
        uint32_t code;
        std::wstring name;
        const char* flags;
        bool allowsStart;
    } rows[] = {
        {&ccTriggerModel::manual, 0x80, L"Manual", "000010100", true},
        {&ccTriggerModel::automatic, 0x81, L"Automatic", "101010000", false},
        {&ccTriggerModel::semiAutomatic, 0x82, L"Semi-Automatic", "100010100", true},
        {&ccTriggerModel::slave, 0x83, L"Slave", "000110010", false},
        {&ccTriggerModel::freeRun, 0x84, L"FreeRun", "000010000", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        const ccPtrHandle<ccTriggerModel> m = r.get();
        EXPECT_EQ(m->code(), r.code);
        EXPECT_EQ(m->name(), r.name);
        EXPECT_EQ(m->allowsStart(), r.allowsStart);
        EXPECT_FALSE(m->isCustom());
        EXPECT_EQ(r.get().rawPointer(), m.rawPointer()); // one model per process
        // Its record is shared by the whole process.
        EXPECT_THROW(m->customMode(1), ccTriggerModel::BadParams);
        EXPECT_THROW(m->customFlag(1), ccTriggerModel::BadParams);
        EXPECT_EQ(flagsOf(m->record()), flags(r.flags));
    }
}

TEST(TriggerModel, CustomCopiesTheRecordUnderItsOwnCodeAndName)
{
    const ccPtrHandle<ccTriggerModel> manual = ccTriggerModel::manual();
    const ccPtrHandle<ccTriggerModel> custom = manual->makeCustom();
    EXPECT_EQ(custom->code(), 0x84u);
    EXPECT_EQ(std::wstring(custom->name()), L"Custom");
    EXPECT_EQ(flagsOf(custom->record()), flags("000010100"));
    EXPECT_TRUE(custom->isCustom());

    custom->customMode(3);
    custom->customFlag(1);
    EXPECT_EQ(std::wstring(manual->name()), L"Manual");
    EXPECT_EQ(flagsOf(manual->record()), flags("000010100"));
}

TEST(TriggerModel, CustomSettersTakeTheirValuesAndRefuseOthersLeavingTheModel)
{
    // In turn on one copy of Slave, each step changing the flags it accepts;
    // null: refused, nothing changes.
    const struct {
        bool mode; // else the flag
        uint32_t value;
        const char* after;
    } steps[] = {
        {false, 1, "000111010"}, {false, 2, nullptr},     {false, 0, "000110010"},
        {true, 0, "000110100"},  {true, 4, nullptr},      {true, 3, "000110001"},
        {true, 2, "000110110"},  {true, 0xFFFFFFFFu, nullptr}, {true, 1, "000110000"},
    };
    const ccPtrHandle<ccTriggerModel> m = ccTriggerModel::slave()->makeCustom();
    Flags expected = flagsOf(m->record());
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
        EXPECT_EQ(m->allowsStart(), expected[6] != 0);
    }
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
    const struct {
        ccSyncModel (*get)();
        uint32_t code;
        std::wstring name;
        const char* flags; // bytes 0 to 8
        uint8_t byte12;
        uint32_t index;
    } rows[] = {
        {&ccSyncModel::defaultModel, 150, L"Default", "000000000", 1, 1},
        {&ccSyncModel::internalComposite, 151, L"Internal composite", "000001000", 1, 2},
        {&ccSyncModel::internalDrive, 152, L"Internal drive", "000000000", 1, 3},
        {&ccSyncModel::internalWithHLock, 153, L"Internal with HLock", "001010100", 1, 4},
        {&ccSyncModel::internalWithHLockAndVLock, 154, L"Internal with HLock and VLock", "001110100", 1, 5},
        {&ccSyncModel::internal2940, 155, L"Internal 2940", "001110100", 1, 6},
        {&ccSyncModel::externalPllComposite, 156, L"External PLL composite", "110100111", 0, 7},
        {&ccSyncModel::externalPllSync, 157, L"External PLL sync", "010100111", 0, 8},
        {&ccSyncModel::externalPllDrive, 158, L"External PLL drive", "010100001", 0, 9},
        {&ccSyncModel::externalPixelSync, 159, L"External pixel sync", "011100112", 0, 10},
        {&ccSyncModel::externalPixelDrive, 160, L"External pixel drive", "011100012", 0, 11},
        {&ccSyncModel::slaveExternalPixelDriveVtg0, 161, L"Slave External pixel drive VTGO", "111100012", 0, 12},
        {&ccSyncModel::slaveExternalPixelDriveVtg1, 162, L"Slave External pixel drive VTG1", "101110102", 0, 13},
        {&ccSyncModel::displayExternalPixelDrive, 163, L"Display External pixel drive", "101111112", 0, 14},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        const ccSyncModel m = r.get();
        EXPECT_EQ(m.code(), r.code);
        EXPECT_EQ(m.name(), r.name);
        Flags expected = flags(r.flags);
        expected[12] = r.byte12;
        EXPECT_EQ(flagsOf(m.record()), expected);
        EXPECT_EQ(m.isDefault(), r.code == 150);
        EXPECT_TRUE(ccSyncModel::fromCode(r.code) == m);
        EXPECT_EQ(ccSyncModel::archiveIndex(m), r.index);
        EXPECT_EQ(ccSyncModel::codeFromArchiveIndex(r.index), r.code);
    }
    EXPECT_TRUE(ccSyncModel() == ccSyncModel::defaultModel());
    for (uint32_t code : {0u, 149u, 164u, 0xFFFFFFFFu})
        EXPECT_TRUE(ccSyncModel::fromCode(code) == ccSyncModel()) << code;
    for (uint32_t index : {0u, 15u, 150u, 0xFFFFFFFFu})
        EXPECT_EQ(ccSyncModel::codeFromArchiveIndex(index), 150u) << index;
}

} // namespace
