#include <gtest/gtest.h>

#include <string>

#include "acq/syncmodel.h"
#include "acq/trigmodel.h"

namespace {

// The flag bytes as digits, without trailing zeros.
std::string flags(const ccAcqModelRecord& r)
{
    std::string digits;
    for (uint8_t b : r.flags)
        digits += char('0' + b);
    return digits.erase(digits.find_last_not_of('0') + 1);
}

// Each predefined model's code, name and software-start flag. It outlives
// every outside handle (each get() here is dropped at once), and its record is
// shared by the whole process, so the custom setters refuse it.
TEST(TriggerModel, PredefinedModelsAndTheirSoftwareStart)
{
    const struct { ccPtrHandle<ccTriggerModel> (*get)(); uint32_t code; std::wstring name; bool start; } rows[] = {
        {&ccTriggerModel::manual, 0x80, L"Manual", true},     {&ccTriggerModel::automatic, 0x81, L"Automatic", false},
        {&ccTriggerModel::semiAutomatic, 0x82, L"Semi-Automatic", true},
        {&ccTriggerModel::slave, 0x83, L"Slave", false},      {&ccTriggerModel::freeRun, 0x84, L"FreeRun", false},
    };
    for (const auto& r : rows) {
        ccTriggerModel* m = r.get().rawPointer();
        EXPECT_TRUE(m->code() == r.code && m->name() == r.name && m->allowsStart() == r.start) << r.code;
        EXPECT_EQ(r.get().rawPointer(), m);
        EXPECT_THROW(m->customMode(1), ccTriggerModel::BadParams);
        EXPECT_THROW(m->customFlag(1), ccTriggerModel::BadParams);
    }
}

TEST(TriggerModel, FromIndexGivesThePredefinedModelsInTheirOrder)
{
    const struct { int32_t index; ccPtrHandle<ccTriggerModel> (*get)(); } rows[] = {
        {0, &ccTriggerModel::manual}, {1, &ccTriggerModel::automatic}, {2, &ccTriggerModel::semiAutomatic},
        {3, &ccTriggerModel::slave},  {4, &ccTriggerModel::freeRun},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ccTriggerModel::fromIndex(r.index).rawPointer(), r.get().rawPointer()) << r.index;
    for (int32_t bad : {-1, 5})
        EXPECT_THROW(ccTriggerModel::fromIndex(bad), ccTriggerModel::BadParams) << bad;
}

TEST(TriggerModel, ACustomCopyTakesTheModeAndFlagItIsGivenAndRefusesOthers)
{
    const ccPtrHandle<ccTriggerModel> manual = ccTriggerModel::manual();
    const ccPtrHandle<ccTriggerModel> m = manual->makeCustom();
    EXPECT_TRUE(m->code() == 0x84u && std::wstring(m->name()) == L"Custom");
    std::string expected = "0000101";
    // In turn; null: refused, nothing changes.
    const struct { bool mode; uint32_t value; const char* after; } steps[] = {
        {false, 1, "0000111"}, {false, 2, nullptr}, {true, 3, "000011001"},          {true, 4, nullptr},
        {true, 2, "00001111"}, {true, 1, "000011"}, {true, 0xFFFFFFFFu, nullptr},    {true, 0, "0000111"},
        {false, 0, "0000101"},
    };
    for (const auto& r : steps) {
        const auto set = [&] { r.mode ? m->customMode(r.value) : m->customFlag(r.value); };
        if (r.after) {
            set();
            expected = r.after;
        } else {
            EXPECT_THROW(set(), ccTriggerModel::BadParams);
        }
        EXPECT_EQ(flags(m->record()), expected) << (r.mode ? "mode " : "flag ") << r.value;
    }
    EXPECT_EQ(flags(manual->record()), "0000101");
}

// Every code maps to its model and archive index (code - 149) and back;
// unknown codes give the default model and unknown indices its code 150. A
// few records with their names and flag bytes (8 and 12 among them).
TEST(SyncModel, CodesArchiveIndicesAndRecords)
{
    for (uint32_t code = 150; code <= 163; ++code) {
        const ccSyncModel m = ccSyncModel::fromCode(code);
        EXPECT_EQ(m.code(), code);
        EXPECT_EQ(ccSyncModel::archiveIndex(m), code - 149);
        EXPECT_EQ(ccSyncModel::codeFromArchiveIndex(code - 149), code);
    }
    for (uint32_t code : {0u, 149u, 164u, 0xFFFFFFFFu})
        EXPECT_TRUE(ccSyncModel::fromCode(code) == ccSyncModel()) << code;
    for (uint32_t index : {0u, 15u, 150u, 0xFFFFFFFFu})
        EXPECT_EQ(ccSyncModel::codeFromArchiveIndex(index), 150u) << index;
    const struct { ccSyncModel (*get)(); uint32_t code; std::wstring name; const char* flags; } rows[] = {
        {&ccSyncModel::defaultModel, 150, L"Default", "0000000000001"},
        {&ccSyncModel::internalWithHLockAndVLock, 154, L"Internal with HLock and VLock", "0011101000001"},
        {&ccSyncModel::externalPllComposite, 156, L"External PLL composite", "110100111"},
        {&ccSyncModel::slaveExternalPixelDriveVtg0, 161, L"Slave External pixel drive VTGO", "111100012"},
    };
    for (const auto& r : rows) {
        const ccSyncModel m = r.get();
        EXPECT_TRUE(m.code() == r.code && m.name() == r.name && flags(m.record()) == r.flags) << r.code;
    }
}

} // namespace
