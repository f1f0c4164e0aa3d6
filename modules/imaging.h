// Boards that are cameras rather than frame grabbers: generic imaging devices
// and GigE Vision cameras, whose features are read and set by name, and IEEE
// 1394 cameras, which order themselves in the board registry.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/ccicomponent.h"
#include "modules/modptr.h"
#include "modules/unknownfg.h"
#include "std/callback.h"
#include "std/except/except.h"
#include "std/ptrhandle.h"

// A camera's features by name. Names and values go to the module as their
// first 255 UTF-16 units (never half a surrogate pair).
class ccUnknownFeatureAccess {
public:
    virtual ~ccUnknownFeatureAccess() = default;

    virtual void executeFeature(const std::wstring& name) = 0;
    virtual std::wstring featureValue(const std::wstring& name) = 0;
    virtual void setFeatureValue(const std::wstring& name, const std::wstring& value) = 0;
    // The features under name; empty when the module lists none.
    virtual std::vector<std::wstring> featureNames(const std::wstring& name) = 0;
    // 0 to 6, or -1 for a kind the module does not name or a device that
    // does not say. A name over 256 units raises ccBoard::BadParams.
    virtual int32_t featureKind(const std::wstring& name) = 0;
    virtual std::vector<std::wstring> featureChoices(const std::wstring& name) = 0;
    // Empty when the device does not say.
    virtual std::wstring featureEntry(const std::wstring& name, uint32_t index) = 0;
};

// The feature operations both feature-access classes share: the device's
// feature interface (103) and its engine's (113). Module errors are raised
// through the engine; the board's own engine is made when needed.
class cc_ModFeatures {
public:
    // Lists stop here, should the module never end them.
    static constexpr uint32_t kMaxListed = 4096;

    cc_ModFeatures(ccFrameGrabber& board, cc_ModPtr<ccIDevice_Features> features);
    // Lets go of the feature interface: from then on execute, value and set
    // raise ccUnknownFG::MissingFunctionality.
    void release() noexcept { features_.reset(); }

    void execute(const std::wstring& name);
    std::wstring value(const std::wstring& name);
    void setValue(const std::wstring& name, const std::wstring& value);
    std::vector<std::wstring> names(const std::wstring& name);
    int32_t kind(const std::wstring& name);
    std::vector<std::wstring> choices(const std::wstring& name);
    std::wstring entry(const std::wstring& name, uint32_t index);

private:
    ccIDevice_Features& required() const;
    std::vector<std::wstring> listed(const std::wstring& name, bool choices);

    ccFrameGrabber& board_;
    cc_ModPtr<ccIDevice_Features> features_;
};

// The feature access of a device that has the module's feature interfaces.
class cc_ModFeatureAccess : public ccUnknownFeatureAccess {
public:
    void executeFeature(const std::wstring& name) override { features_.execute(name); }
    std::wstring featureValue(const std::wstring& name) override { return features_.value(name); }
    void setFeatureValue(const std::wstring& name, const std::wstring& value) override
    {
        features_.setValue(name, value);
    }
    std::vector<std::wstring> featureNames(const std::wstring& name) override { return features_.names(name); }
    int32_t featureKind(const std::wstring& name) override { return features_.kind(name); }
    std::vector<std::wstring> featureChoices(const std::wstring& name) override { return features_.choices(name); }
    std::wstring featureEntry(const std::wstring& name, uint32_t index) override
    {
        return features_.entry(name, index);
    }

protected:
    cc_ModFeatureAccess(ccFrameGrabber& board, cc_ModPtr<ccIDevice_Features> features)
        : features_(board, std::move(features))
    {
    }

    cc_ModFeatures features_;
};

// A generic imaging device (the board interface answers 106).
class ccImagingDevice : public cc_TabledBoard<ccImagingDevice, ccUnknownFG>, public cc_ModFeatureAccess {
public:
    static constexpr uint32_t kTableSize = 0;
    static constexpr const wchar_t* kModel = L"imaging device";
    using Errors = ccBoard::Errors;
    cmDeclareException(FeatureError, Errors, 0x10002c12u, "class ccImagingDevice::FeatureError");

    // board is the board interface itself; asks it for 106 and 103.
    ccImagingDevice(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board);
    ~ccImagingDevice() override;

    void close() override;
    // From the device's core (23 slot 8); ccUnknownFG::MissingFunctionality
    // when the device has none.
    std::wstring serialNumber() const override;

    // The devices alive, in the order they were built; getDevice raises
    // ccBoard::BadParams outside 0..numDevices()-1.
    static uint32_t numDevices() { return numBoards(); }
    static ccImagingDevice& getDevice(int i) { return getBoard(i); }

    // A new device when board answers 106, else null; entry is taken only then.
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);

protected:
    cc_FrameGrabber* createFrameGrabberImpl() override;

private:
    cc_ModPtr<ccIUnknown> device_;
};

// A GigE Vision camera (the board interface answers 97).
class ccGigEVisionCamera : public cc_TabledBoard<ccGigEVisionCamera, ccUnknownFG>, public cc_ModFeatureAccess {
public:
    static constexpr uint32_t kTableSize = 0;
    static constexpr const wchar_t* kModel = L"GigE Vision camera";
    // Sent by a module; the library raises none of them itself.
    using Errors = ccBoard::Errors;
    cmDeclareException(NetworkError, Errors, 0x10002c0fu, "class ccGigEVisionCamera::NetworkError");
    cmDeclareException(CameraError, Errors, 0x10002c10u, "class ccGigEVisionCamera::CameraError");
    cmDeclareException(FeatureError, Errors, 0x10002c11u, "class ccGigEVisionCamera::FeatureError");

    // board is the board interface itself; asks it for 97, 103, 104, 107.
    ccGigEVisionCamera(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board);
    ~ccGigEVisionCamera() override;

    void close() override;
    std::wstring serialNumber() const override;

    static uint32_t numCameras() { return numBoards(); }
    static ccGigEVisionCamera& getCamera(int i) { return getBoard(i); }

    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);

protected:
    cc_FrameGrabber* createFrameGrabberImpl() override;

private:
    cc_ModPtr<ccIUnknown> camera_;
    // Held for the camera's life.
    cc_ModPtr<ccIUnknown> heldA_, heldB_;
};

// What an IEEE 1394 camera reports of its bus.
struct ccDcamBusEventInfo {
    uint32_t event = 0;
};

// An IEEE 1394 camera (the board interface answers 44).
class cc1394DCAM : public cc_TabledBoard<cc1394DCAM, ccUnknownFG> {
public:
    static constexpr uint32_t kTableSize = 0;
    static constexpr const wchar_t* kModel = L"IEEE 1394 camera";
    using BusEventCallback = ccCallback1<const ccDcamBusEventInfo&>;

    // board is the board interface itself; asks it for 44, 77, 85, 88, 94
    // and 101, in that order.
    cc1394DCAM(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board);
    ~cc1394DCAM() override;

    // Cameras of different identity texts sort by them, cameras of one by
    // their sort values; against any other board class 0.
    int32_t compare(const ccBoard& other) const override;
    std::wstring serialNumber() const override;
    void close() override;

    static uint32_t numCameras() { return numBoards(); }
    static cc1394DCAM& getCamera(int i) { return getBoard(i); }

    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);

protected:
    cc_FrameGrabber* createFrameGrabberImpl() override;

private:
    // Empty without 101.
    std::u16string identity() const;
    uint32_t sortValue() const;

    // Nothing fills these yet: a client's callbacks will reach the module
    // through the held interfaces.
    ccPtrHandle<ccCallback> callback_;
    std::unique_ptr<ccPtrHandle<ccCallback>> callbackHolder_;
    ccPtrHandle<BusEventCallback> busEvent_;
    std::unique_ptr<ccPtrHandle<BusEventCallback>> busEventHolder_;

    cc_ModPtr<ccIDcam_Camera> camera_;
    cc_ModPtr<ccIUnknown> heldA_, heldB_, heldC_, heldD_;
    cc_ModPtr<ccIDcam_Identity> identity_;
};
