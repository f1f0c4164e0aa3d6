// The implementation behind an acquisition FIFO. A ccAcqFifo owns exactly
// one; the module-backed FIFO is the real one, tests use a fake. Optional
// operations have neutral bodies here, the rest are pure. Property classes
// call the setters; the FIFO kinds call the completions.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acq/acqinfo.h"
#include "acq/image/acqimage.h"
#include "acq/syncmodel.h"
#include "acq/trigmodel.h"
#include "defs/ch_core/rect.h"
#include "std/callback.h"
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelroot3.h"
#include "std/pelbuf/rootpool.h"
#include "std/ptrhandle.h"
#include "std/timeout.h"

class ccAcqProps;
class ccAcqPropertyQuery;
class ccCameraPort;
class ccCustomPropertyBag;
class ccCdcCameraCalibrationProp;
class ccReadoutDirectionProp;
class ccSampleProp;
class ccCameraTestProp;
class ccOffsetClampProp;
class ccTriggerFilterProp;
struct ccAcqPropertyRequest;

typedef ccCallback1<const ccAcquireInfo&> ccAcqInfoCallback;
typedef ccPtrHandle<ccAcqInfoCallback> ccAcqInfoCallbackHandle;

// The arguments of every completion. Built by the caller, read by the
// implementation, which fills the two outputs when they are given.
struct ccAcqCompleteArgs {
    // A frame in the driver module's memory is handed over to local memory
    // before it is returned.
    bool localCopy = false;
    double timeout = 0.0; // seconds
    // Passed to the implementation, whose meaning it is.
    uint32_t secondFlag = 0;
    bool* outcome = nullptr;
    ccAcquireInfo* info = nullptr;
};

// What the implementation knows of one property it supports.
struct ccAcqPropertyInfo {
    uint32_t id = 0;
    double minimum = 0.0;
    double maximum = 0.0;
    double defaultValue = 0.0;
    uint64_t extra = 0; // the implementation's own
};

class cc_AcqFifo {
public:
    cc_AcqFifo() = default;
    cc_AcqFifo(const cc_AcqFifo&) = delete;
    cc_AcqFifo& operator=(const cc_AcqFifo&) = delete;

    // The record of property id, or null. The records are built through
    // buildPropertyInfo at the first lookup, once, whichever threads ask;
    // a build that throws is tried again by the next lookup.
    const ccAcqPropertyInfo* propertyInfo(uint32_t id);

    virtual bool start(uint32_t ticket) = 0;
    // object is never null when it comes from ccAcqFifo.
    virtual bool reconfigure(const void* object);
    virtual bool stateQueryA() = 0;
    virtual bool stateQueryB() = 0;
    virtual bool isBusy() = 0;
    virtual bool stateQueryC() = 0;
    virtual bool stateQueryD() = 0;
    virtual uint32_t pendingAcqs() = 0;
    virtual uint32_t completedAcqs() = 0;
    virtual uint32_t countQueryC() = 0;
    // message, when given, receives the module's text.
    virtual bool prepare(std::wstring* message, ccTimeout& timeout) = 0;
    virtual bool stateQueryE() = 0;
    virtual void flush() = 0;

    // Each returns an unbound buffer here.
    virtual ccPelBuffer<unsigned char> completeAcq8(const ccAcqCompleteArgs& args);
    virtual ccPelBuffer<unsigned short> completeAcq16(const ccAcqCompleteArgs& args);
    virtual ccPelBuffer<ccPackedRGB16Pel> completeAcqRGB16(const ccAcqCompleteArgs& args);
    virtual ccPelBuffer<ccPackedRGB32Pel> completeAcqRGB32(const ccAcqCompleteArgs& args);
    virtual cc3PlanePelBuffer completeAcq3Plane(const ccAcqCompleteArgs& args);
    // A new image that holds no frame here.
    virtual ccPtrHandle<ccAcqImage> completeAcqImage(const ccAcqCompleteArgs& args);

    virtual uint32_t extQueryA() = 0;
    virtual uint32_t extQueryB(uint32_t value) = 0;
    virtual void sendPropertyRequest(const ccAcqPropertyRequest& request);
    virtual void extRecordQuery(ccAcqPropertyRequest& request);

    // channel -1: every channel.
    virtual void contrast(double value, int32_t channel) = 0;
    virtual void brightness(double value, int32_t channel) = 0;
    virtual void inputLut(const uint8_t* table, uint32_t size, int32_t channel) = 0;
    virtual void cameraPort(uint32_t port) = 0;
    virtual void cameraLocation(ccCameraPort* location);

    virtual void completeCallback(const ccPtrHandle<ccCallback>& callback) = 0;
    virtual void completeInfoCallback(const ccAcqInfoCallbackHandle& callback) = 0;
    virtual void exposure(double seconds) = 0;
    virtual void settlingTime(double value) = 0;
    virtual void movePartCallback(const ccPtrHandle<ccCallback>& callback) = 0;
    virtual void movePartInfoCallback(const ccAcqInfoCallbackHandle& callback) = 0;
    virtual void overrunCallback(const ccPtrHandle<ccCallback>& callback) = 0;
    virtual void overrunInfoCallback(const ccAcqInfoCallbackHandle& callback) = 0;
    virtual void pelRootPool(const ccPtrHandle<ccPelRootPool>& pool) = 0;
    virtual void timeout(double seconds) = 0;

    virtual void strobeEnable(bool enable) = 0;
    virtual void strobePulseDuration(double value) = 0;
    virtual void strobePulsePolarityHigh(bool high) = 0;
    virtual void strobeDelay(double value) = 0;
    virtual void cameraBandwidth(double value);
    virtual void syncModel(const ccSyncModel& model) = 0;

    virtual bool triggerEnabled() = 0;
    virtual void triggerEnable(bool enable) = 0;
    virtual void triggerModel(const ccAcqModelRecord& model) = 0;
    virtual void triggerLowToHigh(bool lowToHigh) = 0;
    // null: no master.
    virtual void triggerMaster(cc_AcqFifo* master) = 0;

    virtual void chargeTransferInterval(double value) = 0;
    virtual void horizontalAdjustment(double value) = 0;
    virtual void roi(const ccPelRect& region) = 0;
    virtual void roiMode(uint32_t mode) = 0;
    virtual bool isRoiModeSupported(uint32_t mode) = 0;
    virtual void noOpHookA(uint32_t value);

    virtual void lightEnabled(bool enabled) = 0;
    virtual void brightFieldPowerRatio(double value) = 0;
    virtual void lightPower(double value) = 0;
    virtual void lightDelay(double value) = 0;
    virtual void auxLightPort(uint32_t port) = 0;
    virtual void auxBrightFieldPowerRatio(double value) = 0;
    virtual void auxLightPower(double value) = 0;
    virtual bool alwaysFalseQuery();

    virtual void clippingEnabled(uint8_t value) = 0;
    virtual void clippingLowLevel(uint8_t value) = 0;
    virtual void clippingHighLevel(uint8_t value) = 0;
    virtual void alphaColorEnabled(uint8_t value) = 0;
    virtual void alphaColorValue(int32_t value) = 0;
    virtual void alphaColorMode(uint32_t value) = 0;
    virtual void digitalHighGainSelected(bool selected) = 0;
    virtual void masterClockFrequency(double value) = 0;

    // The grouped properties hand over their whole object.
    virtual void customProps(const ccCustomPropertyBag& bag);
    virtual void cdcCameraCalibration(const ccCdcCameraCalibrationProp& prop);
    virtual void readoutDirection(const ccReadoutDirectionProp& prop);
    virtual void sample(const ccSampleProp& prop);
    virtual void cameraTest(const ccCameraTestProp& prop);
    virtual void offsetClamp(const ccOffsetClampProp& prop);
    virtual void triggerFilter(const ccTriggerFilterProp& prop);

    // Line scan. firstPelOffset is 0..127.
    virtual void firstPelOffset(uint8_t value) = 0;
    virtual void resetCounterOnHardwareTrigger(bool reset) = 0;
    virtual void testEncoderEnabled(bool enabled) = 0;
    virtual void testEncoderDirectionPositive(bool positive) = 0;
    virtual void triggerFromEncoder(bool first, bool second) = 0;
    virtual void stepsPerLine(uint32_t steps, uint32_t sixteenths) = 0;
    virtual void encoderPort(uint32_t port) = 0;
    virtual uint32_t numEncoderPorts() = 0;
    virtual void encoderOffset(int32_t offset) = 0;
    virtual void acquireDirectionPositive(bool positive) = 0;
    virtual void useSingleChannel(bool single) = 0;
    virtual void encoderResolution(uint32_t value) = 0;
    virtual void startAcqOnEncoderCount(uint32_t count) = 0;
    virtual void ignoreBackwardsMotionBetweenAcquires(bool ignore) = 0;
    virtual void ignoreTooFastEncoder(bool ignore) = 0;
    virtual uint32_t encoderQueryA() = 0;
    virtual void resetCounter() = 0;
    virtual uint32_t currentEncoderCount() = 0;

    // Read-backs and limits.
    virtual uint32_t numCameraPorts() = 0;
    // Contrast and brightness channels, input tables.
    virtual uint32_t numChannels() = 0;
    // Entries per input table; 0 here.
    virtual uint32_t numInputLuts();
    virtual bool isCameraLocationValid(ccCameraPort* location);
    virtual double contrastDefault();
    virtual double brightnessDefault();
    virtual bool cdcCalibrationDefault();
    virtual double exposureDefault(); // seconds
    virtual ccPtrHandle<ccPelRootPool> pelRootPoolHandle() = 0;
    virtual ccSyncModel defaultSyncModel() = 0;
    virtual double ctiLimit() = 0;
    virtual double horizAdjustLimit() = 0;
    virtual void roiLimits(ccPelRect& limits) = 0;
    virtual ccSyncModel actualSyncModel() = 0;
    virtual bool acceptsPelRootPool(const ccPtrHandle<ccPelRootPool>& pool);
    virtual ccAcqPropertyQuery* propertyQuery() = 0;
    virtual void attachProps(ccAcqProps* props) = 0;
    // Appends the records of the supported properties; nothing here.
    virtual void buildPropertyInfo(std::vector<ccAcqPropertyInfo>& info);
    // null here.
    virtual const std::vector<int32_t>* supportedSampleValues();
    virtual bool isValidMaster(cc_AcqFifo* candidate);

    virtual bool hookFalseB(uint32_t value);
    virtual bool hookFalseC(std::array<uint32_t, 6>& record);
    // The callee owns block; here it is freed at once.
    virtual bool hookTakesBlock(uint32_t a, uint32_t b, std::unique_ptr<uint8_t[]> block, uint32_t d, uint32_t e,
                                uint32_t f, uint32_t g);
    virtual bool hookTrue(uint32_t value);
    virtual void noOpHookB(uint32_t value);
    virtual uint32_t hookZeroA();
    virtual void noOpHookC();
    virtual uint32_t hookZeroB();
    // The last slot of the interface.
    virtual ~cc_AcqFifo() = default;

private:
    // Not a once-flag: a build that throws must leave a state that the next
    // lookup can take up again, under every threading runtime.
    std::mutex infoLock_;
    std::atomic<bool> infoBuilt_{false};
    std::vector<ccAcqPropertyInfo> info_;
};
