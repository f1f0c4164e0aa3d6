// The device tree: boards whose cameras are devices of their own (the 7310d)
// expose them below one process-wide root, as frame-grabber devices with
// numbered channels and cameras that are camera ports.
#pragma once
#include <atomic>
#include <mutex>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "acq/acqfifo.h"
#include "modules/ccicomponent.h"
#include "modules/modptr.h"
#include "std/except/except.h"
#include "std/ptrhandle.h"

class cc_VidFmtDesc;
class ccFrameGrabber;
class ccVideoFormat;

class ccQorDevice {
public:
    explicit ccQorDevice(ccQorDevice* parent) : parent_(parent) {}
    ccQorDevice(const ccQorDevice&) = delete;
    ccQorDevice& operator=(const ccQorDevice&) = delete;

    virtual std::wstring name() const = 0;
    virtual ~ccQorDevice();

    ccQorDevice* parent() const { return parent_; }

private:
    ccQorDevice* parent_;
};

// The one root: made at first use, without a parent.
class ccQorDeviceRoot final : public ccQorDevice {
public:
    static ccQorDeviceRoot& instance();
    // "QMB Root Device".
    std::wstring name() const override;

private:
    ccQorDeviceRoot() : ccQorDevice(nullptr) {}
};

class ccQorLinkDevice : public ccQorDevice {
public:
    explicit ccQorLinkDevice(const std::wstring& name, ccQorDevice* parent = &ccQorDeviceRoot::instance())
        : ccQorDevice(parent), name_(name)
    {
    }
    std::wstring name() const override { return name_; }

private:
    std::wstring name_;
};

// A device with numbered channels.
class ccQorLinkChanSet : public ccQorLinkDevice {
public:
    using ccQorLinkDevice::ccQorLinkDevice;

    // The frame grabber the channels belong to.
    virtual ccFrameGrabber& frameGrabber() = 0;
    // The device on that channel, or null.
    virtual ccQorDevice* child(int32_t channel) = 0;

    // The device a dotted path of channel numbers ("2", "0.1") leads to
    // below this one; null for an empty path, a character other than the
    // digits and ".", an empty or out-of-range number, a missing channel, or
    // a step through a device without channels.
    ccQorDevice* deviceFromPath(const std::wstring& path);
};

class ccQorLinkCamera;

// A frame-grabber device; its channels hold cameras.
class ccQorLinkFrameGrabber : public ccQorLinkChanSet {
public:
    cmDeclareException(BadParams, ccException, 5u, "class ccQorLinkFrameGrabber::BadParams");

    using ccQorLinkChanSet::ccQorLinkChanSet;

    // The camera the path leads to; BadParams when it leads to none.
    ccQorLinkCamera& cameraFromPath(const std::wstring& path);
};

// Where a camera is: it knows the video formats its camera takes and makes
// FIFOs bound to itself.
class ccCameraPort {
public:
    cmDeclareException(BadParams, ccException, 5u, "class ccQorLinkCamera::BadParams");

    ccCameraPort() = default;
    ccCameraPort(const ccCameraPort&) = delete;
    ccCameraPort& operator=(const ccCameraPort&) = delete;

    virtual bool supports(const cc_VidFmtDesc& description) const = 0;
    // Of the registered formats, those the port takes, worked out once.
    virtual std::vector<ccVideoFormat*> supportedFormats() = 0;
    virtual ~ccCameraPort();

    // A grey FIFO for the format (whatever its pel type) on the port's frame
    // grabber, whose camera location is this port. BadParams when the port
    // does not take the format (its alias followed).
    ccPtrHandle<ccGreyAcqFifo> createAcqFifo(const ccVideoFormat& format);

protected:
    virtual const ccFrameGrabber& portFrameGrabber() const = 0;
};

// A camera on a channel, over the module's camera (71). Each has a 32-bit
// identity, unique among the cameras alive, by which the module is told of it.
// A board shares its cameras with the FIFOs it told of them, which keep the
// camera they acquire from past the board's close.
class ccQorLinkCamera : public ccQorLinkDevice,
                        public ccCameraPort,
                        public std::enable_shared_from_this<ccQorLinkCamera> {
public:
    // Takes its own reference on camera; grabber must outlive the camera or
    // its close.
    ccQorLinkCamera(ccIQorLink_Camera* camera, const ccFrameGrabber& grabber, const std::wstring& name);
    ~ccQorLinkCamera() override;

    // Its board closes: the module camera and the frame grabber are let go
    // of, and the identity names it no more (identity() is 0). What keeps
    // the camera then finds one without a name that takes no format.
    void close();

    // The module camera's name; empty when the module gives none.
    std::wstring name() const override;
    bool supports(const cc_VidFmtDesc& description) const override;
    std::vector<ccVideoFormat*> supportedFormats() override;

    uint32_t identity() const { return identity_.load(); }
    // The live camera of that identity, or null.
    static ccQorLinkCamera* fromIdentity(uint32_t identity);

protected:
    const ccFrameGrabber& portFrameGrabber() const override;

private:
    // The module camera with a reference of the caller's own, or null once
    // closed: a FIFO's thread may ask while the board closes.
    cc_ModPtr<ccIQorLink_Camera> camera() const;

    mutable std::mutex lock_; // grabber_ and camera_, which close changes
    const ccFrameGrabber* grabber_;
    cc_ModPtr<ccIQorLink_Camera> camera_;
    std::atomic<uint32_t> identity_;
    std::atomic<bool> filled_{false};
    std::vector<ccVideoFormat*> formats_; // written once, under the library mutex
};
