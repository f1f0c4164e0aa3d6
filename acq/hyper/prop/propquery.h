// How a client asks for one property of a FIFO: the FIFO's property object
// when the board says the FIFO supports it, otherwise nothing. Each property
// class has a pair of questions, the pointer form (null for nothing) and the
// reference form (std::bad_cast for nothing); here every pointer form
// answers null and every reference form refuses.
#pragma once

// Each property class with the name of its pair, in the order of the pairs
// (which is neither the aggregate's order of bases nor the module's order
// of numbers).
#define CC_ACQ_PROPERTY_PAIRS(X)                                \
    X(ccTriggerProp, triggerProp)                               \
    X(ccTriggerFilterProp, triggerFilterProp)                   \
    X(ccStrobeProp, strobeProp)                                 \
    X(ccStrobeDelayProp, strobeDelayProp)                       \
    X(ccExposureProp, exposureProp)                             \
    X(ccSettlingTimeProp, settlingTimeProp)                     \
    X(ccTimeoutProp, timeoutProp)                               \
    X(ccCameraPortProp, cameraPortProp)                         \
    X(ccCameraLocationProp, cameraLocationProp)                 \
    X(ccMovePartCallbackProp, movePartCallbackProp)             \
    X(ccOverrunCallbackProp, overrunCallbackProp)               \
    X(ccCompleteCallbackProp, completeCallbackProp)             \
    X(ccPelRootPoolProp, pelRootPoolProp)                       \
    X(ccCtiProp, ctiProp)                                       \
    X(ccHorizAdjustProp, horizAdjustProp)                       \
    X(ccRoiProp, roiProp)                                       \
    X(ccSyncProp, syncProp)                                     \
    X(ccLightProp, lightProp)                                   \
    X(cc8BitInputLutProp, inputLut8BitProp)                     \
    X(ccContrastBrightnessProp, contrastBrightnessProp)         \
    X(ccFirstPelOffsetProp, firstPelOffsetProp)                 \
    X(ccEncoderControlProp, encoderControlProp)                 \
    X(ccEncoderProp, encoderProp)                               \
    X(ccClippingProp, clippingProp)                             \
    X(ccOffsetClampProp, offsetClampProp)                       \
    X(ccAlphaColorProp, alphaColorProp)                         \
    X(ccDigitalCameraControlProp, digitalCameraControlProp)     \
    X(ccSampleProp, sampleProp)                                 \
    X(ccReadoutDirectionProp, readoutDirectionProp)             \
    X(ccCameraTestProp, cameraTestProp)                         \
    X(ccCdcCameraCalibrationProp, cdcCameraCalibrationProp)     \
    X(ccCameraBandwidthProp, cameraBandwidthProp)               \
    X(ccCustomProp, customProp)

#define CC_ACQ_DECLARE_PROPERTY_CLASS(Class, name) class Class;
CC_ACQ_PROPERTY_PAIRS(CC_ACQ_DECLARE_PROPERTY_CLASS)
#undef CC_ACQ_DECLARE_PROPERTY_CLASS

class ccAcqPropertyQuery {
public:
    ccAcqPropertyQuery(const ccAcqPropertyQuery&) = delete;
    ccAcqPropertyQuery& operator=(const ccAcqPropertyQuery&) = delete;
    virtual ~ccAcqPropertyQuery();

#define CC_ACQ_QUERY_PAIR(Class, name) \
    virtual Class* name();             \
    virtual Class& name##Ref();
    CC_ACQ_PROPERTY_PAIRS(CC_ACQ_QUERY_PAIR)
#undef CC_ACQ_QUERY_PAIR

protected:
    ccAcqPropertyQuery() = default;

    // A std::bad_cast whose text is "bad cast".
    [[noreturn]] static void refuse();
};
