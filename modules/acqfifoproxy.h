// The FIFO implementation that does every acquisition of a board reached
// through a driver module: each operation goes to one of the module FIFO's
// interfaces, library values become module calls (property requests,
// trigger and sync codes, callbacks, pools) and module results become
// library objects (acquired images, acquire-info records, property records).
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acq/acqfifo_impl.h"
#include "modules/ccicomponent.h"
#include "modules/modptr.h"
#include "modules/propquery.h"

class cc_ModFifoList;
class cc_UnknownFrameGrabber;
class cc_VidFmtDesc;
class ccCallbackWrap;
class ccCallbackInfoWrap;
class ccCompleteArgs_obj;
class cc_ModCallbackGate;
class ccQorLinkCamera;

class cc_UnknownAcqFifo : public cc_AcqFifo {
public:
    // Made only by grabber. Creates the module FIFO for the description's
    // format and moduleCode: without the creator (49) only code 0 can be
    // made (ccVideoFormat::NotSupported otherwise); a module error is raised
    // as the module's exception.
    cc_UnknownAcqFifo(cc_UnknownFrameGrabber& grabber, const cc_VidFmtDesc& description, int32_t moduleCode);
    // Triggers off, then every module interface is let go before the
    // callbacks are: the module calls no callback once its FIFO is released,
    // and none of this FIFO's callbacks runs on another thread once this
    // returns. An operation still running on another thread keeps the module
    // FIFO until it returns.
    ~cc_UnknownAcqFifo() override;

    // For the grabber, as it goes: the FIFO's hold on the module, for the
    // grabber to drop outside its locks (the module FIFO goes with the last
    // hold, which operations in progress share). Afterwards what needs the
    // FIFO core or sets a property raises ccUnknownFG::MissingFunctionality,
    // and the rest answers as for a module FIFO without the interface.
    [[nodiscard]] std::shared_ptr<void> orphan() noexcept;

    // Operations on the FIFO core raise ccUnknownFG::MissingFunctionality
    // when the module FIFO has none.
    bool start(uint32_t ticket) override;
    bool reconfigure(const void* object) override;
    bool stateQueryA() override;
    bool stateQueryB() override;
    bool isBusy() override;
    bool stateQueryC() override;
    bool stateQueryD() override;
    uint32_t pendingAcqs() override;
    uint32_t completedAcqs() override;
    uint32_t countQueryC() override;
    // Never raises a module error.
    bool prepare(std::wstring* message, ccTimeout& timeout) override;
    bool stateQueryE() override;
    void flush() override;

    ccPelBuffer<unsigned char> completeAcq8(const ccAcqCompleteArgs& args) override;
    ccPelBuffer<ccPackedRGB16Pel> completeAcqRGB16(const ccAcqCompleteArgs& args) override;
    ccPelBuffer<ccPackedRGB32Pel> completeAcqRGB32(const ccAcqCompleteArgs& args) override;
    cc3PlanePelBuffer completeAcq3Plane(const ccAcqCompleteArgs& args) override;
    // An empty handle when the result has no image interface (kind 3: no
    // frame either); an image without pels when a kind-1 result has no frame.
    // ccAcqFifo::BadParams for a result without a format or of a pel format
    // without a code.
    ccPtrHandle<ccAcqImage> completeAcqImage(const ccAcqCompleteArgs& args) override;

    uint32_t extQueryA() override;
    uint32_t extQueryB(uint32_t value) override;
    void sendPropertyRequest(const ccAcqPropertyRequest& request) override;
    void extRecordQuery(ccAcqPropertyRequest& request) override;

    void contrast(double value, int32_t channel) override;
    void brightness(double value, int32_t channel) override;
    void inputLut(const uint8_t* table, uint32_t size, int32_t channel) override;
    void cameraPort(uint32_t port) override;

    // The module keeps calling the same callback objects; only the callback
    // they hold changes. A module without callbacks drops the handle.
    void completeCallback(const ccPtrHandle<ccCallback>& callback) override;
    void completeInfoCallback(const ccAcqInfoCallbackHandle& callback) override;
    void exposure(double seconds) override;
    void settlingTime(double value) override;
    void movePartCallback(const ccPtrHandle<ccCallback>& callback) override;
    void movePartInfoCallback(const ccAcqInfoCallbackHandle& callback) override;
    void overrunCallback(const ccPtrHandle<ccCallback>& callback) override;
    void overrunInfoCallback(const ccAcqInfoCallbackHandle& callback) override;
    void pelRootPool(const ccPtrHandle<ccPelRootPool>& pool) override;
    void timeout(double seconds) override;

    void strobeEnable(bool enable) override;
    void strobePulseDuration(double value) override;
    void strobePulsePolarityHigh(bool high) override;
    void strobeDelay(double value) override;
    void cameraBandwidth(double value) override;
    void syncModel(const ccSyncModel& model) override;

    bool triggerEnabled() override;
    void triggerEnable(bool enable) override;
    void triggerModel(const ccAcqModelRecord& model) override;
    void triggerLowToHigh(bool lowToHigh) override;
    // ccAcqFifo::InvalidMaster for a master that is not module-backed, or
    // for any master when the module has no masters.
    void triggerMaster(cc_AcqFifo* master) override;

    void chargeTransferInterval(double value) override;
    void horizontalAdjustment(double value) override;
    void roi(const ccPelRect& region) override;
    void roiMode(uint32_t mode) override;
    bool isRoiModeSupported(uint32_t mode) override;

    void lightEnabled(bool enabled) override;
    void brightFieldPowerRatio(double value) override;
    void lightPower(double value) override;
    void lightDelay(double value) override;
    void auxLightPort(uint32_t port) override;
    void auxBrightFieldPowerRatio(double value) override;
    void auxLightPower(double value) override;

    void clippingEnabled(uint8_t value) override;
    void clippingLowLevel(uint8_t value) override;
    void clippingHighLevel(uint8_t value) override;
    void alphaColorEnabled(uint8_t value) override;
    void alphaColorValue(int32_t value) override;
    void alphaColorMode(uint32_t mode) override;
    void digitalHighGainSelected(bool selected) override;
    void masterClockFrequency(double value) override;

    // The grouped properties send one request per member, in ascending order
    // of identifier; a member the module refuses raises its error, and the
    // members after it are not sent.
    void cdcCameraCalibration(const ccCdcCameraCalibrationProp& prop) override;
    void readoutDirection(const ccReadoutDirectionProp& prop) override;
    void sample(const ccSampleProp& prop) override;
    void cameraTest(const ccCameraTestProp& prop) override;
    void offsetClamp(const ccOffsetClampProp& prop) override;
    void triggerFilter(const ccTriggerFilterProp& prop) override;
    // The bag's text, zero-terminated UTF-16; nothing for a module without
    // custom properties.
    void customProps(const ccCustomPropertyBag& bag) override;

    void firstPelOffset(uint8_t value) override;
    void resetCounterOnHardwareTrigger(bool reset) override;
    void testEncoderEnabled(bool enabled) override;
    void testEncoderDirectionPositive(bool positive) override;
    void triggerFromEncoder(bool first, bool second) override;
    void stepsPerLine(uint32_t steps, uint32_t sixteenths) override;
    void encoderPort(uint32_t port) override;
    uint32_t numEncoderPorts() override;
    void encoderOffset(int32_t offset) override;
    void acquireDirectionPositive(bool positive) override;
    void useSingleChannel(bool single) override;
    void encoderResolution(uint32_t value) override;
    void startAcqOnEncoderCount(uint32_t count) override;
    void ignoreBackwardsMotionBetweenAcquires(bool ignore) override;
    void ignoreTooFastEncoder(bool ignore) override;
    uint32_t encoderQueryA() override;
    void resetCounter() override;
    uint32_t currentEncoderCount() override;

    uint32_t numCameraPorts() override;
    uint32_t numChannels() override;
    uint32_t numInputLuts() override;
    // The module's value when it gives one, else the base default.
    double contrastDefault() override;
    double brightnessDefault() override;
    bool cdcCalibrationDefault() override;
    double exposureDefault() override;
    ccPtrHandle<ccPelRootPool> pelRootPoolHandle() override;
    ccSyncModel defaultSyncModel() override;
    double ctiLimit() override;
    double horizAdjustLimit() override;
    void roiLimits(ccPelRect& limits) override;
    ccSyncModel actualSyncModel() override;
    ccAcqPropertyQuery* propertyQuery() override;
    void attachProps(ccAcqProps* props) override;
    void buildPropertyInfo(std::vector<ccAcqPropertyInfo>& info) override;
    const std::vector<int32_t>* supportedSampleValues() override;
    bool isValidMaster(cc_AcqFifo* candidate) override;
    // The module is told the identity of the camera a location is, and the
    // FIFO keeps that camera (when shared) while it lives; any other location
    // is none the module knows: it is not sent and not valid.
    void cameraLocation(ccCameraPort* location) override;
    bool isCameraLocationValid(ccCameraPort* location) override;

    bool hookFalseC(std::array<uint32_t, 6>& record) override;
    bool hookTakesBlock(uint32_t a, uint32_t b, std::unique_ptr<uint8_t[]> block, uint32_t d, uint32_t e,
                        uint32_t f, uint32_t g) override;
    uint32_t hookZeroA() override;
    void noOpHookC() override;
    uint32_t hookZeroB() override;

private:
    // The module FIFO's interfaces and the callback wraps it calls, shared
    // by the FIFO and the operations in progress.
    struct Module;

    // The FIFO's module, or one without interfaces once the FIFO is orphaned.
    std::shared_ptr<Module> held() const;
    // Nothing without the property interface.
    void setProperty(int32_t id, double value, int32_t channel = -1);
    // The module's answer, or fallback when it gives none.
    double readBack(int32_t id, double fallback);
    // The out value of slot on the interface, preset to neutral (also the
    // answer without the interface); a failed call raises the module's error.
    template <class I, class T>
    T ask(cc_ModPtr<I> Module::*iface, int32_t (I::*slot)(T*), T neutral = T()) const;
    // The same on the core, which the call cannot do without.
    template <class T>
    T askCore(int32_t (ccIAcqFifo_Core::*slot)(T*)) const;
    // Whether the module supports the property class number (id 43); false
    // without the interface or once orphaned.
    bool supportsProperty(int32_t number) const;
    // Core slot 4; the result object (with a reference) or a raised error.
    cc_ModPtr<ccIUnknown> completeOnCore(const Module& module, ccCompleteArgs_obj& obj);

    cc_UnknownFrameGrabber& grabber_;
    std::unique_ptr<cc_UnknownAcqPropertyQuery> propertyQuery_;
    std::vector<int32_t> sampleValues_;
    // Shared with the callback wraps, which the module may keep longer.
    std::shared_ptr<cc_ModCallbackGate> gate_;
    // Held only to copy or take module_, which is empty once orphaned.
    mutable std::mutex moduleMutex_;
    std::shared_ptr<Module> module_;
    // Shared with the grabber, which may go first.
    std::shared_ptr<cc_ModFifoList> fifos_;
    // The camera last sent as the location (under moduleMutex_).
    std::shared_ptr<const ccQorLinkCamera> location_;
};
