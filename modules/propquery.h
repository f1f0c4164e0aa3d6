// The property query of a module-backed FIFO: each question asks the driver
// module afresh (id 43) whether the FIFO supports the property's class, and
// answers with that class inside the FIFO's attached ccAcqProps.
#pragma once
#include <cstdint>
#include <functional>
#include <utility>

#include "acq/hyper/prop/propquery.h"
#include "modules/ccicomponent.h"

class ccAcqProps;

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

    // supported asks the module whether it supports a class number, raising
    // a module error as the module's exception; empty: nothing is supported.
    // It goes through the FIFO, so a question asked while the board closes
    // keeps the module's interface until it is answered.
    explicit cc_UnknownAcqPropertyQuery(std::function<bool(int32_t)> supported) : supported_(std::move(supported))
    {
    }

    // Not owned; null detaches. Returns props.
    ccAcqProps* attach(ccAcqProps* props);

#define CC_MODULE_QUERY_PAIR(Class, name) \
    Class* name() override;               \
    Class& name##Ref() override;
    CC_ACQ_PROPERTY_PAIRS(CC_MODULE_QUERY_PAIR)
#undef CC_MODULE_QUERY_PAIR

private:
    // The attached properties when the module supports number, else null.
    ccAcqProps* ask(int32_t number) const { return supported_ && supported_(number) ? props_ : nullptr; }

    ccAcqProps* props_ = nullptr;
    std::function<bool(int32_t)> supported_;
};
