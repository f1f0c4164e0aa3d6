// The property query of a module-backed FIFO: each question asks the driver
// module afresh (id 43) whether the FIFO supports the property's class, and
// answers with that class inside the FIFO's attached ccAcqProps.
#pragma once
#include <cstdint>

#include "acq/hyper/prop/propquery.h"
#include "modules/ccicomponent.h"

class ccAcqProps;
class cc_UnknownFrameGrabber;

class cc_UnknownAcqPropertyQuery : public ccAcqPropertyQuery {
public:
    // The number the module knows each property class by, in the order of
    // the question pairs; it differs from that order in places.
    static constexpr int32_t kTriggerProp = 1;
    static constexpr int32_t kTriggerFilterProp = 25;
    static constexpr int32_t kStrobeProp = 2;
    static constexpr int32_t kStrobeDelayProp = 3;
    static constexpr int32_t kExposureProp = 4;
    static constexpr int32_t kSettlingTimeProp = 5;
    static constexpr int32_t kTimeoutProp = 6;
    static constexpr int32_t kCameraPortProp = 7;
    static constexpr int32_t kCameraLocationProp = 32;
    static constexpr int32_t kMovePartCallbackProp = 8;
    static constexpr int32_t kOverrunCallbackProp = 9;
    static constexpr int32_t kCompleteCallbackProp = 10;
    static constexpr int32_t kPelRootPoolProp = 11;
    static constexpr int32_t kCtiProp = 12;
    static constexpr int32_t kHorizAdjustProp = 13;
    static constexpr int32_t kRoiProp = 14;
    static constexpr int32_t kSyncProp = 15;
    static constexpr int32_t kLightProp = 16;
    static constexpr int32_t k8BitInputLutProp = 17;
    static constexpr int32_t kContrastBrightnessProp = 18;
    static constexpr int32_t kFirstPelOffsetProp = 19;
    static constexpr int32_t kEncoderControlProp = 20;
    static constexpr int32_t kEncoderProp = 21;
    static constexpr int32_t kClippingProp = 22;
    static constexpr int32_t kOffsetClampProp = 26;
    static constexpr int32_t kAlphaColorProp = 23;
    static constexpr int32_t kDigitalCameraControlProp = 24;
    static constexpr int32_t kSampleProp = 28;
    static constexpr int32_t kReadoutDirectionProp = 29;
    static constexpr int32_t kCameraTestProp = 27;
    static constexpr int32_t kCdcCameraCalibrationProp = 30;
    static constexpr int32_t kCameraBandwidthProp = 31;
    static constexpr int32_t kCustomProp = 33;

    // support (may be null: nothing is supported) stays the FIFO's, which
    // releases it after this query is gone.
    cc_UnknownAcqPropertyQuery(ccIAcqFifo_PropertySupport* support, cc_UnknownFrameGrabber& grabber)
        : support_(support), grabber_(grabber)
    {
    }

    // Not owned; null detaches. Returns props.
    ccAcqProps* attach(ccAcqProps* props);
    // The FIFO lets go of the interface: nothing is supported from then on.
    void forgetSupport() { support_ = nullptr; }

#define CC_MODULE_QUERY_PAIR(Class, name) \
    Class* name() override;               \
    Class& name##Ref() override;
    CC_ACQ_PROPERTY_PAIRS(CC_MODULE_QUERY_PAIR)
#undef CC_MODULE_QUERY_PAIR

private:
    // A module error on the question is raised as the module's exception.
    bool supported(int32_t number) const;
    // The attached properties when the module supports number, else null.
    ccAcqProps* ask(int32_t number) const { return supported(number) ? props_ : nullptr; }

    ccAcqProps* props_ = nullptr;
    ccIAcqFifo_PropertySupport* support_;
    cc_UnknownFrameGrabber& grabber_;
};
