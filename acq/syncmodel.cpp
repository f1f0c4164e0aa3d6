#include "acq/syncmodel.h"

namespace {

// Indexed by code - 150. Byte 8 is the clock source (0 internal, 1 external
// PLL, 2 external pixel clock); byte 12 marks the internal models.
constexpr ccAcqModelRecord kRecords[] = {
    {150, L"Default", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    {151, L"Internal composite", {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
    {152, L"Internal drive", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    {153, L"Internal with HLock", {0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1}},
    {154, L"Internal with HLock and VLock", {0, 0, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 1}},
    {155, L"Internal 2940", {0, 0, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 1}},
    {156, L"External PLL composite", {1, 1, 0, 1, 0, 0, 1, 1, 1}},
    {157, L"External PLL sync", {0, 1, 0, 1, 0, 0, 1, 1, 1}},
    {158, L"External PLL drive", {0, 1, 0, 1, 0, 0, 0, 0, 1}},
    {159, L"External pixel sync", {0, 1, 1, 1, 0, 0, 1, 1, 2}},
    {160, L"External pixel drive", {0, 1, 1, 1, 0, 0, 0, 1, 2}},
    {161, L"Slave External pixel drive VTGO", {1, 1, 1, 1, 0, 0, 0, 1, 2}},
    {162, L"Slave External pixel drive VTG1", {1, 0, 1, 1, 1, 0, 1, 0, 2}},
    {163, L"Display External pixel drive", {1, 0, 1, 1, 1, 1, 1, 1, 2}},
};
static_assert(sizeof kRecords / sizeof kRecords[0] == ccSyncModel::kLastCode - ccSyncModel::kCodeDefault + 1);

// The archive numbers the models from 1, the default first.
constexpr uint32_t kFirstIndex = 2;
constexpr uint32_t kLastIndex = kFirstIndex + (ccSyncModel::kLastCode - ccSyncModel::kFirstCode);
constexpr uint32_t kDefaultIndex = 1;

bool isModelCode(uint32_t code) { return code >= ccSyncModel::kFirstCode && code <= ccSyncModel::kLastCode; }

} // namespace

ccSyncModel::ccSyncModel() : record_(&kRecords[0]) {}

ccSyncModel ccSyncModel::defaultModel() { return ccSyncModel(); }
ccSyncModel ccSyncModel::internalComposite() { return ccSyncModel(&kRecords[151 - kCodeDefault]); }
ccSyncModel ccSyncModel::internalDrive() { return ccSyncModel(&kRecords[152 - kCodeDefault]); }
ccSyncModel ccSyncModel::internalWithHLock() { return ccSyncModel(&kRecords[153 - kCodeDefault]); }
ccSyncModel ccSyncModel::internalWithHLockAndVLock() { return ccSyncModel(&kRecords[154 - kCodeDefault]); }
ccSyncModel ccSyncModel::internal2940() { return ccSyncModel(&kRecords[155 - kCodeDefault]); }
ccSyncModel ccSyncModel::externalPllComposite() { return ccSyncModel(&kRecords[156 - kCodeDefault]); }
ccSyncModel ccSyncModel::externalPllSync() { return ccSyncModel(&kRecords[157 - kCodeDefault]); }
ccSyncModel ccSyncModel::externalPllDrive() { return ccSyncModel(&kRecords[158 - kCodeDefault]); }
ccSyncModel ccSyncModel::externalPixelSync() { return ccSyncModel(&kRecords[159 - kCodeDefault]); }
ccSyncModel ccSyncModel::externalPixelDrive() { return ccSyncModel(&kRecords[160 - kCodeDefault]); }
ccSyncModel ccSyncModel::slaveExternalPixelDriveVtg0() { return ccSyncModel(&kRecords[161 - kCodeDefault]); }
ccSyncModel ccSyncModel::slaveExternalPixelDriveVtg1() { return ccSyncModel(&kRecords[162 - kCodeDefault]); }
ccSyncModel ccSyncModel::displayExternalPixelDrive() { return ccSyncModel(&kRecords[163 - kCodeDefault]); }

ccSyncModel ccSyncModel::fromCode(uint32_t code)
{
    return isModelCode(code) ? ccSyncModel(&kRecords[code - kCodeDefault]) : ccSyncModel();
}

uint32_t ccSyncModel::archiveIndex(const ccSyncModel& model)
{
    return isModelCode(model.code()) ? model.code() - kFirstCode + kFirstIndex : kDefaultIndex;
}

uint32_t ccSyncModel::codeFromArchiveIndex(uint32_t index)
{
    return index >= kFirstIndex && index <= kLastIndex ? index - kFirstIndex + kFirstCode : kCodeDefault;
}
