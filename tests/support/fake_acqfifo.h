// One stand-in for the FIFO implementation, shared by every test above the
// acquisition FIFO: neutral answers, frames queued per pel type, property
// records, the sync models, and the callback contract of a real
// implementation (handles swapped under a mutex, each call made through a
// copy outside it). Tests add the counters they need.
#pragma once
#include <array>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "acq/acqfifo_impl.h"

namespace test_acq {

class FakeAcqFifo : public cc_AcqFifo {
public:
    enum class Kind { movePart = 0, complete = 1, overrun = 2 };

    std::vector<ccAcqPropertyInfo> info;
    int builds = 0;
    std::vector<int32_t> sampleValues;
    ccSyncModel defaultSync;
    ccSyncModel actualSync;
    int syncSets = 0;
    ccSyncModel lastSync;
    const void* lastReconfigure = nullptr;

    // Handed out by the completions, first in first out; unbound (or an
    // image without a frame) when empty.
    std::deque<ccPelBuffer<unsigned char>> frames8;
    std::deque<ccPelBuffer<ccPackedRGB32Pel>> framesRGB32;
    std::deque<cc3PlanePelBuffer> frames3Plane;
    std::deque<ccPtrHandle<ccAcqImage>> images;

    // Runs before an info callback is taken; may throw to refuse it.
    std::function<void(Kind, const ccAcqInfoCallbackHandle&)> onInfoCallback;

    // Calls the installed callback of kind, if any, as a module thread would.
    void fire(Kind kind, const ccAcquireInfo& record)
    {
        const ccAcqInfoCallbackHandle copy = installed(kind);
        if (copy.rawPointer())
            (*copy)(record);
    }
    ccAcqInfoCallbackHandle installed(Kind kind)
    {
        std::lock_guard<std::mutex> hold(callbackLock_);
        return callbacks_[size_t(kind)];
    }

    bool start(uint32_t) override { return true; }
    bool reconfigure(const void* object) override
    {
        lastReconfigure = object;
        return true;
    }
    bool stateQueryA() override { return false; }
    bool stateQueryB() override { return false; }
    bool isBusy() override { return false; }
    bool stateQueryC() override { return false; }
    bool stateQueryD() override { return false; }
    uint32_t pendingAcqs() override { return 0; }
    uint32_t completedAcqs() override { return 0; }
    uint32_t countQueryC() override { return 0; }
    bool prepare(std::wstring*, ccTimeout&) override { return true; }
    bool stateQueryE() override { return false; }
    void flush() override {}

    ccPelBuffer<unsigned char> completeAcq8(const ccAcqCompleteArgs&) override { return next(frames8); }
    ccPelBuffer<ccPackedRGB32Pel> completeAcqRGB32(const ccAcqCompleteArgs&) override { return next(framesRGB32); }
    cc3PlanePelBuffer completeAcq3Plane(const ccAcqCompleteArgs&) override { return next(frames3Plane); }
    ccPtrHandle<ccAcqImage> completeAcqImage(const ccAcqCompleteArgs& args) override
    {
        ccPtrHandle<ccAcqImage> image = next(images);
        return image.rawPointer() ? image : cc_AcqFifo::completeAcqImage(args);
    }

    uint32_t extQueryA() override { return 0; }
    uint32_t extQueryB(uint32_t) override { return 0; }
    void contrast(double, int32_t) override {}
    void brightness(double, int32_t) override {}
    void inputLut(const uint8_t*, uint32_t, int32_t) override {}
    void cameraPort(uint32_t) override {}
    void completeCallback(const ccPtrHandle<ccCallback>&) override {}
    void completeInfoCallback(const ccAcqInfoCallbackHandle& c) override { take(Kind::complete, c); }
    void exposure(double) override {}
    void settlingTime(double) override {}
    void movePartCallback(const ccPtrHandle<ccCallback>&) override {}
    void movePartInfoCallback(const ccAcqInfoCallbackHandle& c) override { take(Kind::movePart, c); }
    void overrunCallback(const ccPtrHandle<ccCallback>&) override {}
    void overrunInfoCallback(const ccAcqInfoCallbackHandle& c) override { take(Kind::overrun, c); }
    void pelRootPool(const ccPtrHandle<ccPelRootPool>&) override {}
    void timeout(double) override {}
    void strobeEnable(bool) override {}
    void strobePulseDuration(double) override {}
    void strobePulsePolarityHigh(bool) override {}
    void strobeDelay(double) override {}
    void syncModel(const ccSyncModel& model) override
    {
        ++syncSets;
        lastSync = model;
    }
    bool triggerEnabled() override { return false; }
    void triggerEnable(bool) override {}
    void triggerModel(const ccAcqModelRecord&) override {}
    void triggerLowToHigh(bool) override {}
    void triggerMaster(cc_AcqFifo*) override {}
    void chargeTransferInterval(double) override {}
    void horizontalAdjustment(double) override {}
    void roi(const ccPelRect&) override {}
    void roiMode(uint32_t) override {}
    bool isRoiModeSupported(uint32_t mode) override { return mode == 0; }
    void lightEnabled(bool) override {}
    void brightFieldPowerRatio(double) override {}
    void lightPower(double) override {}
    void lightDelay(double) override {}
    void auxLightPort(uint32_t) override {}
    void auxBrightFieldPowerRatio(double) override {}
    void auxLightPower(double) override {}
    void clippingEnabled(uint8_t) override {}
    void clippingLowLevel(uint8_t) override {}
    void clippingHighLevel(uint8_t) override {}
    void alphaColorEnabled(uint8_t) override {}
    void alphaColorValue(int32_t) override {}
    void alphaColorMode(uint32_t) override {}
    void digitalHighGainSelected(bool) override {}
    void masterClockFrequency(double) override {}
    void firstPelOffset(uint8_t) override {}
    void resetCounterOnHardwareTrigger(bool) override {}
    void testEncoderEnabled(bool) override {}
    void testEncoderDirectionPositive(bool) override {}
    void triggerFromEncoder(bool, bool) override {}
    void stepsPerLine(uint32_t, uint32_t) override {}
    void encoderPort(uint32_t) override {}
    uint32_t numEncoderPorts() override { return 0; }
    void encoderOffset(int32_t) override {}
    void acquireDirectionPositive(bool) override {}
    void useSingleChannel(bool) override {}
    void encoderResolution(uint32_t) override {}
    void startAcqOnEncoderCount(uint32_t) override {}
    void ignoreBackwardsMotionBetweenAcquires(bool) override {}
    void ignoreTooFastEncoder(bool) override {}
    uint32_t encoderQueryA() override { return 0; }
    void resetCounter() override {}
    uint32_t currentEncoderCount() override { return 0; }
    uint32_t numCameraPorts() override { return 1; }
    uint32_t numChannels() override { return 1; }
    ccPtrHandle<ccPelRootPool> pelRootPoolHandle() override { return {}; }
    ccSyncModel defaultSyncModel() override { return defaultSync; }
    double ctiLimit() override { return 0.0; }
    double horizAdjustLimit() override { return 0.0; }
    void roiLimits(ccPelRect& limits) override { limits = ccPelRect(0, 0, 1, 1); }
    ccSyncModel actualSyncModel() override { return actualSync; }
    ccAcqPropertyQuery* propertyQuery() override { return nullptr; }
    void attachProps(ccAcqProps*) override {}
    void buildPropertyInfo(std::vector<ccAcqPropertyInfo>& out) override
    {
        ++builds;
        out.insert(out.end(), info.begin(), info.end());
    }
    const std::vector<int32_t>* supportedSampleValues() override { return &sampleValues; }

private:
    template <class T>
    static T next(std::deque<T>& queue)
    {
        if (queue.empty())
            return T();
        T frame = std::move(queue.front());
        queue.pop_front();
        return frame;
    }

    void take(Kind kind, const ccAcqInfoCallbackHandle& callback)
    {
        if (onInfoCallback)
            onInfoCallback(kind, callback);
        // The old callback is let go outside the lock: its last release may
        // run a destructor that fires or installs callbacks itself.
        ccAcqInfoCallbackHandle old = callback;
        {
            std::lock_guard<std::mutex> hold(callbackLock_);
            std::swap(old, callbacks_[size_t(kind)]);
        }
    }

    std::mutex callbackLock_;
    std::array<ccAcqInfoCallbackHandle, 3> callbacks_;
};

} // namespace test_acq
