#include "acq/hyper/prop/acqprops.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccAcqProps::cmCreate() { return new (std::nothrow) ccAcqProps; }

void ccAcqProps::attachAll(cc_AcqFifo* fifo)
{
    // Several properties read from the implementation as they attach.
    if (!fifo)
        throw ccBadPointer();
    ccTriggerProp::attach(fifo);
    ccStrobeProp::attach(fifo);
    ccStrobeDelayProp::attach(fifo);
    ccCameraBandwidthProp::attach(fifo);
    ccExposureProp::attach(fifo);
    ccTimeoutProp::attach(fifo);
    ccCameraPortProp::attach(fifo);
    ccCameraLocationProp::attach(fifo);
    ccMovePartCallbackProp::attach(fifo);
    ccCompleteCallbackProp::attach(fifo);
    ccPelRootPoolProp::attach(fifo);
    ccCtiProp::attach(fifo);
    ccHorizAdjustProp::attach(fifo);
    ccRoiProp::attach(fifo);
    ccSyncProp::attach(fifo);
    ccLightProp::attach(fifo);
    cc8BitInputLutProp::attach(fifo);
    ccContrastBrightnessProp::attach(fifo);
    ccFirstPelOffsetProp::attach(fifo);
    ccEncoderControlProp::attach(fifo);
    ccEncoderProp::attach(fifo);
    ccClippingProp::attach(fifo);
    ccOffsetClampProp::attach(fifo);
    ccAlphaColorProp::attach(fifo);
    ccDigitalCameraControlProp::attach(fifo);
    ccSettlingTimeProp::attach(fifo);
    ccOverrunCallbackProp::attach(fifo);
    ccTriggerFilterProp::attach(fifo);
    ccCameraTestProp::attach(fifo);
    ccSampleProp::attach(fifo);
    ccReadoutDirectionProp::attach(fifo);
    ccCdcCameraCalibrationProp::attach(fifo);
    ccCustomProp::attach(fifo);
}

void ccAcqProps::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccAcqProps)))
        return;
    const uint8_t version = ccArchiveVersion(ar, kVersion, "acq/hyper/prop/acqprops", 93);
    ccTriggerProp::archive(ar);
    ccStrobeProp::archive(ar);
    ccExposureProp::archive(ar);
    ccTimeoutProp::archive(ar);
    ccCameraPortProp::archive(ar);
    ccMovePartCallbackProp::archive(ar);
    ccCompleteCallbackProp::archive(ar);
    ccCtiProp::archive(ar);
    ccHorizAdjustProp::archive(ar);
    ccRoiProp::archive(ar);
    ccSyncProp::archive(ar);
    ccLightProp::archive(ar);
    if (version >= 1) {
        archiveAnalogLevels(ar);
        ccSettlingTimeProp::archive(ar);
        ccOverrunCallbackProp::archive(ar);
        ccStrobeDelayProp::archive(ar);
    }
    if (version >= 2) {
        ccOffsetClampProp::archive(ar);
        ccTriggerFilterProp::archive(ar);
        ccCameraTestProp::archive(ar);
        ccSampleProp::archive(ar);
        ccReadoutDirectionProp::archive(ar);
    }
    if (version >= 3)
        ccCdcCameraCalibrationProp::archive(ar);
    if (version >= 4)
        ccCameraBandwidthProp::archive(ar);
    ccArchiveVisit::end(this, typeid(ccAcqProps));
}

void ccAcqProps::archiveAnalogLevels(ccArchive& ar)
{
    cc8BitInputLutProp::archive(ar);
    ccContrastBrightnessProp::archive(ar);
    ccFirstPelOffsetProp::archive(ar);
    ccEncoderControlProp::archive(ar);
    ccEncoderProp::archive(ar);
    ccClippingProp::archive(ar);
    ccAlphaColorProp::archive(ar);
    ccDigitalCameraControlProp::archive(ar);
}

// The FIFO's own trigger operations, defined here because only the aggregate
// knows its trigger property. Without an implementation each raises
// ccAcqFifo::CouldNotCreate, as every forwarding operation of the FIFO does.

void ccAcqFifo::triggerEnable(bool enable)
{
    (void)impl();
    static_cast<ccTriggerProp&>(acqProps()).triggerEnable(enable);
}

bool ccAcqFifo::triggerEnable()
{
    (void)impl();
    return static_cast<ccTriggerProp&>(acqProps()).triggerEnable();
}

void ccAcqFifo::triggerModel(const ccPtrHandle<ccTriggerModel>& model)
{
    (void)impl();
    static_cast<ccTriggerProp&>(acqProps()).triggerModel(model);
}
