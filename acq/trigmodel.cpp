#include "acq/trigmodel.h"

#include <utility>

namespace {

constexpr ccAcqModelRecord kManual = {ccTriggerModel::kCodeManual, L"Manual", {0, 0, 0, 0, 1, 0, 1, 0, 0}};
constexpr ccAcqModelRecord kAutomatic = {ccTriggerModel::kCodeAutomatic, L"Automatic", {1, 0, 1, 0, 1, 0, 0, 0, 0}};
constexpr ccAcqModelRecord kSemiAutomatic = {ccTriggerModel::kCodeSemiAutomatic, L"Semi-Automatic",
                                             {1, 0, 0, 0, 1, 0, 1, 0, 0}};
constexpr ccAcqModelRecord kSlave = {ccTriggerModel::kCodeSlave, L"Slave", {0, 0, 0, 1, 1, 0, 0, 1, 0}};
constexpr ccAcqModelRecord kFreeRun = {ccTriggerModel::kCodeFreeRun, L"FreeRun", {0, 0, 0, 0, 1, 0, 0, 0, 0}};

constexpr int kModeByte = 6; // bytes 6 to 8 take the custom mode
constexpr int kCustomFlagByte = 5;

// Bytes 6, 7 and 8 for each custom-mode selector.
constexpr uint8_t kModeBytes[][3] = {{1, 0, 0}, {0, 0, 0}, {1, 1, 0}, {0, 0, 1}};

} // namespace

// The accessors' handles are never destroyed, so a predefined model outlives
// every outside handle and is never freed.
#define cmPredefinedModel(Accessor, Record)                                                       \
    ccPtrHandle<ccTriggerModel> ccTriggerModel::Accessor()                                        \
    {                                                                                             \
        static const auto* held = new ccPtrHandle<ccTriggerModel>(new ccTriggerModel(&(Record))); \
        return *held;                                                                             \
    }

cmPredefinedModel(manual, kManual)
cmPredefinedModel(automatic, kAutomatic)
cmPredefinedModel(semiAutomatic, kSemiAutomatic)
cmPredefinedModel(slave, kSlave)
cmPredefinedModel(freeRun, kFreeRun)
#undef cmPredefinedModel

ccPtrHandle<ccTriggerModel> ccTriggerModel::fromIndex(int32_t index)
{
    switch (index) {
    case 0: return manual();
    case 1: return automatic();
    case 2: return semiAutomatic();
    case 3: return slave();
    case 4: return freeRun();
    default: throw BadParams();
    }
}

ccTriggerModel::ccTriggerModel(std::unique_ptr<ccAcqModelRecord> owned)
    : owned_(std::move(owned)), record_(owned_.get())
{
}

ccTriggerModel::~ccTriggerModel() = default;

ccPtrHandle<ccTriggerModel> ccTriggerModel::makeCustom() const
{
    auto copy = std::make_unique<ccAcqModelRecord>(*record_);
    copy->code = kCodeFreeRun;
    copy->name = L"Custom";
    return ccPtrHandle<ccTriggerModel>(new ccTriggerModel(std::move(copy)));
}

void ccTriggerModel::customMode(uint32_t selector)
{
    // A predefined record is shared by every FIFO of the process.
    if (!owned_ || selector >= sizeof kModeBytes / sizeof kModeBytes[0])
        throw BadParams();
    for (int i = 0; i < 3; ++i)
        owned_->flags[kModeByte + i] = kModeBytes[selector][i];
}

void ccTriggerModel::customFlag(uint32_t value)
{
    if (!owned_ || value > 1)
        throw BadParams();
    owned_->flags[kCustomFlagByte] = static_cast<uint8_t>(value);
}
