// Trigger models: what starts an acquisition (a software start, a hardware
// trigger, another FIFO). The five predefined models live for the whole
// process; a custom model owns a copy of the record it was made from.
#pragma once
#include <cstdint>
#include <memory>

#include "std/except/except.h"
#include "std/ptrhandle.h"

// The constant record behind a trigger or sync model. Flag bytes travel to
// the driver module unchanged; only those named below mean anything here.
struct ccAcqModelRecord {
    uint32_t code;
    const wchar_t* name;
    uint8_t flags[16];
};

class ccTriggerModel : public virtual ccRepBase {
public:
    cmDeclareException(BadParams, ccException, 0x100009AFu, "class ccTriggerModel::BadParams");

    static constexpr uint32_t kCodeManual = 0x80;
    static constexpr uint32_t kCodeAutomatic = 0x81;
    static constexpr uint32_t kCodeSemiAutomatic = 0x82;
    static constexpr uint32_t kCodeSlave = 0x83;
    static constexpr uint32_t kCodeFreeRun = 0x84; // also every custom model
    static constexpr int kSoftwareStartByte = 6;

    // The process-wide predefined models, built on first use, never freed.
    static ccPtrHandle<ccTriggerModel> manual();
    static ccPtrHandle<ccTriggerModel> automatic();
    static ccPtrHandle<ccTriggerModel> semiAutomatic();
    static ccPtrHandle<ccTriggerModel> slave();
    static ccPtrHandle<ccTriggerModel> freeRun();
    // The predefined model of an index (0 Manual, 1 Automatic, 2
    // Semi-Automatic, 3 Slave, 4 FreeRun); any other index throws BadParams.
    static ccPtrHandle<ccTriggerModel> fromIndex(int32_t index);

    ~ccTriggerModel() override;

    const ccAcqModelRecord& record() const { return *record_; }
    uint32_t code() const { return record_->code; }
    const wchar_t* name() const { return record_->name; }
    // A client may start an acquisition by software only when this is true.
    bool allowsStart() const { return record_->flags[kSoftwareStartByte] != 0; }
    bool isCustom() const { return owned_ != nullptr; }

    // A new custom model ("Custom", code 0x84) over a copy of this record.
    ccPtrHandle<ccTriggerModel> makeCustom() const;
    // Custom models only: the mode (0 to 3) sets bytes 6 to 8, the flag (0
    // or 1) byte 5. Any other model or value throws BadParams and changes
    // nothing.
    void customMode(uint32_t selector);
    void customFlag(uint32_t value);

private:
    explicit ccTriggerModel(const ccAcqModelRecord* record) : record_(record) {}
    explicit ccTriggerModel(std::unique_ptr<ccAcqModelRecord> owned);

    // The custom model's own record, changed by the setters; null for a
    // predefined model, whose record is shared by the whole process.
    std::unique_ptr<ccAcqModelRecord> owned_;
    const ccAcqModelRecord* record_;
};
