#include "modules/propquery.h"

#include "acq/hyper/prop/acqprops.h"

ccAcqProps* cc_UnknownAcqPropertyQuery::attach(ccAcqProps* props)
{
    props_ = props;
    return props;
}

// A supported class without attached properties is refused too: a
// reference may not be bound to nothing.
#define CC_MODULE_PAIR(Class, name, number)                           \
    Class* cc_UnknownAcqPropertyQuery::name() { return ask(number); } \
    Class& cc_UnknownAcqPropertyQuery::name##Ref()                    \
    {                                                                 \
        if (ccAcqProps* props = ask(number))                          \
            return *props;                                            \
        refuse();                                                     \
    }
CC_MODULE_PAIR(ccTriggerProp, triggerProp, kTriggerProp)
CC_MODULE_PAIR(ccTriggerFilterProp, triggerFilterProp, kTriggerFilterProp)
CC_MODULE_PAIR(ccStrobeProp, strobeProp, kStrobeProp)
CC_MODULE_PAIR(ccStrobeDelayProp, strobeDelayProp, kStrobeDelayProp)
CC_MODULE_PAIR(ccExposureProp, exposureProp, kExposureProp)
CC_MODULE_PAIR(ccSettlingTimeProp, settlingTimeProp, kSettlingTimeProp)
CC_MODULE_PAIR(ccTimeoutProp, timeoutProp, kTimeoutProp)
CC_MODULE_PAIR(ccCameraPortProp, cameraPortProp, kCameraPortProp)
CC_MODULE_PAIR(ccCameraLocationProp, cameraLocationProp, kCameraLocationProp)
CC_MODULE_PAIR(ccMovePartCallbackProp, movePartCallbackProp, kMovePartCallbackProp)
CC_MODULE_PAIR(ccOverrunCallbackProp, overrunCallbackProp, kOverrunCallbackProp)
CC_MODULE_PAIR(ccCompleteCallbackProp, completeCallbackProp, kCompleteCallbackProp)
CC_MODULE_PAIR(ccPelRootPoolProp, pelRootPoolProp, kPelRootPoolProp)
CC_MODULE_PAIR(ccCtiProp, ctiProp, kCtiProp)
CC_MODULE_PAIR(ccHorizAdjustProp, horizAdjustProp, kHorizAdjustProp)
CC_MODULE_PAIR(ccRoiProp, roiProp, kRoiProp)
CC_MODULE_PAIR(ccSyncProp, syncProp, kSyncProp)
CC_MODULE_PAIR(ccLightProp, lightProp, kLightProp)
CC_MODULE_PAIR(cc8BitInputLutProp, inputLut8BitProp, k8BitInputLutProp)
CC_MODULE_PAIR(ccContrastBrightnessProp, contrastBrightnessProp, kContrastBrightnessProp)
CC_MODULE_PAIR(ccFirstPelOffsetProp, firstPelOffsetProp, kFirstPelOffsetProp)
CC_MODULE_PAIR(ccEncoderControlProp, encoderControlProp, kEncoderControlProp)
CC_MODULE_PAIR(ccEncoderProp, encoderProp, kEncoderProp)
CC_MODULE_PAIR(ccClippingProp, clippingProp, kClippingProp)
CC_MODULE_PAIR(ccOffsetClampProp, offsetClampProp, kOffsetClampProp)
CC_MODULE_PAIR(ccAlphaColorProp, alphaColorProp, kAlphaColorProp)
CC_MODULE_PAIR(ccDigitalCameraControlProp, digitalCameraControlProp, kDigitalCameraControlProp)
CC_MODULE_PAIR(ccSampleProp, sampleProp, kSampleProp)
CC_MODULE_PAIR(ccReadoutDirectionProp, readoutDirectionProp, kReadoutDirectionProp)
CC_MODULE_PAIR(ccCameraTestProp, cameraTestProp, kCameraTestProp)
CC_MODULE_PAIR(ccCdcCameraCalibrationProp, cdcCameraCalibrationProp, kCdcCameraCalibrationProp)
CC_MODULE_PAIR(ccCameraBandwidthProp, cameraBandwidthProp, kCameraBandwidthProp)
CC_MODULE_PAIR(ccCustomProp, customProp, kCustomProp)
#undef CC_MODULE_PAIR
