// Sync models: where the camera's timing comes from. A model is a value that
// refers to one constant, process-wide record.
#pragma once
#include <cstdint>

#include "acq/trigmodel.h"

class ccSyncModel {
public:
    static constexpr uint32_t kCodeDefault = 150;
    static constexpr uint32_t kFirstCode = 151;
    static constexpr uint32_t kLastCode = 163;

    // The default model (150).
    ccSyncModel();

    static ccSyncModel defaultModel();
    static ccSyncModel internalComposite();              // 151
    static ccSyncModel internalDrive();                  // 152
    static ccSyncModel internalWithHLock();              // 153
    static ccSyncModel internalWithHLockAndVLock();      // 154
    static ccSyncModel internal2940();                   // 155
    static ccSyncModel externalPllComposite();           // 156
    static ccSyncModel externalPllSync();                // 157
    static ccSyncModel externalPllDrive();               // 158
    static ccSyncModel externalPixelSync();              // 159
    static ccSyncModel externalPixelDrive();             // 160
    static ccSyncModel slaveExternalPixelDriveVtg0();    // 161
    static ccSyncModel slaveExternalPixelDriveVtg1();    // 162
    static ccSyncModel displayExternalPixelDrive();      // 163

    // 151..163 give that model; any other code the default model.
    static ccSyncModel fromCode(uint32_t code);
    // Archive index: 151..163 -> 2..14, anything else -> 1; and back.
    static uint32_t archiveIndex(const ccSyncModel& model);
    static uint32_t codeFromArchiveIndex(uint32_t index);

    const ccAcqModelRecord& record() const { return *record_; }
    uint32_t code() const { return record_->code; }
    const wchar_t* name() const { return record_->name; }
    bool isDefault() const { return record_->code == kCodeDefault; }

    bool operator==(const ccSyncModel& other) const { return record_ == other.record_; }
    bool operator!=(const ccSyncModel& other) const { return record_ != other.record_; }

private:
    explicit ccSyncModel(const ccAcqModelRecord* record) : record_(record) {}

    const ccAcqModelRecord* record_;
};
