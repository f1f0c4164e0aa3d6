// The acquisition FIFO: the handle through which every acquisition runs. It
// owns one implementation (acq/acqfifo_impl.h) and forwards to it; the kinds
// decide which pel type a completed acquisition is delivered in.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "acq/acqfifo_impl.h"
#include "acq/acqinfo.h"
#include "acq/image/acqimage.h"
#include "std/except/except.h"
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelroot3.h"
#include "std/ptrhandle.h"

class ccAcqProps;
class ccVideoFormat;
class ccFrameGrabber;

// Names the kind of FIFO the frame grabber is asked to create. The tags live
// for the whole process and are compared word by word; they never leave it.
struct cc_fifoKindTag {
    uintptr_t first;
    uintptr_t second;

    static const cc_fifoKindTag& grey();
    static const cc_fifoKindTag& threePlane();
    static const cc_fifoKindTag& rgb16();
    static const cc_fifoKindTag& rgb32();
    // What the frame grabber uses for 16-bit grey.
    static const cc_fifoKindTag& other();

    bool operator==(const cc_fifoKindTag& tag) const { return first == tag.first && second == tag.second; }
    bool operator!=(const cc_fifoKindTag& tag) const { return !(*this == tag); }
};

class ccAcqFifo : public virtual ccRepBase {
public:
    // Defined and carried in archives; nothing here raises it.
    cmDeclareException(StartNotAllowed, ccException, 0x1000098Eu, "class ccAcqFifo::StartNotAllowed");
    cmDeclareException(InvalidMaster, ccException, 0x10000993u, "class ccAcqFifo::InvalidMaster");
    // Also what any operation of a FIFO without an implementation raises.
    cmDeclareException(CouldNotCreate, ccException, 0x100009A3u, "class ccAcqFifo::CouldNotCreate");
    cmDeclareException(BadParams, ccException, 0x100009C5u, "class ccAcqFifo::BadParams");

    ccAcqFifo(const ccAcqFifo&) = delete;
    ccAcqFifo& operator=(const ccAcqFifo&) = delete;
    // Deletes the implementation, then lets go of the callbacks.
    ~ccAcqFifo() override;

    // Completes the next acquisition into a new buffer of the kind's pel
    // type, which the caller deletes; null when the completed buffer is
    // unbound.
    virtual cc_PelBuffer* completeToBuffer(const ccAcqCompleteArgs& args) = 0;
    virtual ccPtrHandle<ccAcqImage> completeToImage(const ccAcqCompleteArgs& args) = 0;
    virtual ccAcqProps& acqProps() = 0;
    virtual const ccVideoFormat& videoFormat() const = 0;
    virtual const ccFrameGrabber& frameGrabber() const = 0;
    // The acquired-image code of the kind.
    virtual uint32_t pelFormat() const = 0;

    // The implementation; null when none was created.
    cc_AcqFifo* implementation() const { return impl_; }

    // Each forwards to the implementation. Its errors pass through as they
    // are; without an implementation each raises CouldNotCreate.
    bool start(uint32_t ticket);
    // Without an object the implementation is given a zero word, never null.
    bool reconfigure(const void* object = nullptr);
    bool isBusy();
    uint32_t pendingAcqs();
    uint32_t completedAcqs();
    bool prepare(double seconds);
    // message, when given, receives the module's text.
    bool prepare(std::wstring* message, double seconds);
    void flush();

    // Through the kind's property aggregate to its trigger property, so that
    // the aggregate keeps what the board was given. Defined with the
    // aggregate (acq/hyper/prop), which knows its bases.
    void triggerEnable(bool enable);
    bool triggerEnable();
    void triggerModel(const ccPtrHandle<ccTriggerModel>& model);
    // Attaches the kind's property aggregate to the implementation, then
    // hands out the implementation's property query.
    ccAcqPropertyQuery* propertyQuery();

    // The implementation takes the callback first; the FIFO keeps it only
    // once that succeeded. An empty handle removes the callback.
    void movePartCallback(const ccAcqInfoCallbackHandle& callback);
    void completeCallback(const ccAcqInfoCallbackHandle& callback);
    void overrunCallback(const ccAcqInfoCallbackHandle& callback);
    const ccAcqInfoCallbackHandle& movePartCallback() const { return movePart_; }
    const ccAcqInfoCallbackHandle& completeCallback() const { return complete_; }
    const ccAcqInfoCallbackHandle& overrunCallback() const { return overrun_; }

    // From the implementation's property records: absent ones answer false,
    // 0.0 or null.
    bool isStrobeEnableSupported();
    bool isStrobePulseDurationSupported();
    double contrastDefaultValue();
    double brightnessDefaultValue();
    bool isPropertyPresent9008();
    const std::vector<int32_t>* supportedSampleXValues();
    // The same list as for x; only the record tested differs.
    const std::vector<int32_t>* supportedSampleYValues();
    double minExposure();

protected:
    // Owns impl, which may be null.
    explicit ccAcqFifo(cc_AcqFifo* impl) : impl_(impl) {}

    // CouldNotCreate when there is none.
    cc_AcqFifo& impl() const;

private:
    void setCallback(ccAcqInfoCallbackHandle& member, const ccAcqInfoCallbackHandle& callback,
                     void (cc_AcqFifo::*install)(const ccAcqInfoCallbackHandle&));

    cc_AcqFifo* impl_;
    ccAcqInfoCallbackHandle movePart_;
    ccAcqInfoCallbackHandle complete_;
    ccAcqInfoCallbackHandle overrun_;
};

// The kinds. Each completes through its pel type's completion; the forms
// with properties, video format and frame grabber derive from them.

class ccGreyAcqFifo : public ccAcqFifo {
public:
    ccPelBuffer<unsigned char>* completeToBuffer(const ccAcqCompleteArgs& args) override;
    ccPtrHandle<ccAcqImage> completeToImage(const ccAcqCompleteArgs& args) override;
    uint32_t pelFormat() const override { return 1; }

protected:
    explicit ccGreyAcqFifo(cc_AcqFifo* impl) : ccAcqFifo(impl) {}
};

class ccRGB16AcqFifo : public ccAcqFifo {
public:
    ccPelBuffer<ccPackedRGB16Pel>* completeToBuffer(const ccAcqCompleteArgs& args) override;
    ccPtrHandle<ccAcqImage> completeToImage(const ccAcqCompleteArgs& args) override;
    uint32_t pelFormat() const override { return 3; }

protected:
    explicit ccRGB16AcqFifo(cc_AcqFifo* impl) : ccAcqFifo(impl) {}
};

class ccRGB32AcqFifo : public ccAcqFifo {
public:
    ccPelBuffer<ccPackedRGB32Pel>* completeToBuffer(const ccAcqCompleteArgs& args) override;
    ccPtrHandle<ccAcqImage> completeToImage(const ccAcqCompleteArgs& args) override;
    uint32_t pelFormat() const override { return 4; }

protected:
    explicit ccRGB32AcqFifo(cc_AcqFifo* impl) : ccAcqFifo(impl) {}
};

// Three-plane frames are made in this process, so there is no local copy
// to make.
class cc3PlaneAcqFifo : public ccAcqFifo {
public:
    cc3PlanePelBuffer* completeToBuffer(const ccAcqCompleteArgs& args) override;
    // Through the implementation's image completion.
    ccPtrHandle<ccAcqImage> completeToImage(const ccAcqCompleteArgs& args) override;
    uint32_t pelFormat() const override { return 12; }

protected:
    explicit cc3PlaneAcqFifo(cc_AcqFifo* impl) : ccAcqFifo(impl) {}
};
