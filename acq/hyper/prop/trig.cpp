#include "acq/hyper/prop/trig.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccTriggerProp::cmCreate() { return new (std::nothrow) ccTriggerProp; }

ccTriggerProp::ccTriggerProp() : builtIn_(ccTriggerModel::manual().rawPointer()) {}

void ccTriggerProp::triggerEnable(bool enable)
{
    if (fifo_)
        fifo_->triggerEnable(enable);
    enabled_ = enable;
}

bool ccTriggerProp::triggerEnable()
{
    if (fifo_)
        enabled_ = fifo_->triggerEnabled();
    return enabled_;
}

void ccTriggerProp::triggerLowToHigh(bool lowToHigh)
{
    if (fifo_)
        fifo_->triggerLowToHigh(lowToHigh);
    lowToHigh_ = lowToHigh;
}

void ccTriggerProp::triggerModel(const ccTriggerModel* model)
{
    if (!model || model->isCustom())
        throw BadParams();
    if (fifo_)
        fifo_->triggerModel(model->record());
    builtIn_ = model;
    model_ = ccPtrHandle<ccTriggerModel>();
}

void ccTriggerProp::triggerModel(const ccPtrHandle<ccTriggerModel>& model)
{
    if (!model.rawPointer())
        throw BadParams();
    if (fifo_)
        fifo_->triggerModel(model->record());
    model_ = model;
    builtIn_ = nullptr;
}

void ccTriggerProp::triggerMaster(const ccPtrHandle<ccAcqFifo>& master)
{
    cc_AcqFifo* masterImpl = nullptr;
    if (master.rawPointer()) {
        // A standard FIFO attaches its properties to its own implementation.
        masterImpl = master->implementation();
        if (!masterImpl || (fifo_ && masterImpl == fifo_))
            throw ccAcqFifo::InvalidMaster();
    }
    if (fifo_)
        fifo_->triggerMaster(masterImpl);
    master_ = master;
}

bool ccTriggerProp::isValidMaster(const ccPtrHandle<ccAcqFifo>& master) const
{
    if (!fifo_ || !master.rawPointer())
        return false;
    cc_AcqFifo* masterImpl = master->implementation();
    return masterImpl && masterImpl != fifo_ && fifo_->isValidMaster(masterImpl);
}

void ccTriggerProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccTriggerProp)))
        return;
    const uint8_t version = ccArchiveVersion(ar, kVersion, "acq/hyper/prop/trig", __LINE__);
    ccPersistent::archive(ar);
    if (ar.isStoring())
        triggerEnable(); // the board's flag is the one stored
    bool enabled = enabled_;
    bool lowToHigh = lowToHigh_;
    ar.archive(enabled).archive(lowToHigh);
    if (ar.isLoading()) {
        if (version == 0) {
            uint32_t unused = 0;
            ar.archive(unused);
        }
        triggerEnable(enabled);
        triggerLowToHigh(lowToHigh);
        if (version == 0)
            triggerModel(ccTriggerModel::manual().rawPointer());
    }
    ccArchiveVisit::end(this, typeid(ccTriggerProp));
}
