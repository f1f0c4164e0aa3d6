// Accelerators: the communicators through which pels held by a board are
// reached. The one of a driver-module board carries no remote calls: it
// copies windows of the module's frames straight into local buffers.
#pragma once
#include <cstdint>
#include <memory>

#include "modules/module_errors.h"
#include "std/except/except.h"
#include "std/pelbuf/peltypes.h"
#include "std/rpc/communicator.h"
#include "std/rpc/transfer.h"

class cc_UnknownFrameGrabber;

// Copies a window of a frame that stays with its owner into a local buffer;
// the 8-bit form is the communicator's image-transfer service.
class cc_FastImageTransfer : public ccImageTransfer {
public:
    cc_FastImageTransfer() = default;
    cc_FastImageTransfer(const cc_FastImageTransfer&) = delete;
    cc_FastImageTransfer& operator=(const cc_FastImageTransfer&) = delete;
    virtual ~cc_FastImageTransfer() = default;

    virtual void transfer(ccPelBuffer<unsigned short>& into, const ccPelRect& rect, int32_t rootWidth,
                          uint32_t remoteId, bool transferFlag) = 0;
    virtual void transfer(ccPelBuffer<ccPackedRGB32Pel>& into, const ccPelRect& rect, int32_t rootWidth,
                          uint32_t remoteId, bool transferFlag) = 0;
    using ccImageTransfer::transfer;
};

// Its errors share the board errors' numbering and form.
class ccAccelerator : public ccCommunicator {
public:
    struct ErrorNames {
        static constexpr const char* kStoredName = "class ccAccelerator::Errors";
        static constexpr const char* kVersionText = "ccAccelerator::Errors class version mismatch";
    };
    using Errors = cc_ModuleErrors<ErrorNames>;

    cmDeclareException(BadFile, Errors, 0x10002c05u, "class ccAccelerator::BadFile");
    cmDeclareException(BootFailure, Errors, 0x10002c06u, "class ccAccelerator::BootFailure");
    cmDeclareException(ConnectionBroken, Errors, 0x10002c0au, "class ccAccelerator::ConnectionBroken");

    // Owns peer (null: none) from here on, also when the construction fails.
    explicit ccAccelerator(std::unique_ptr<cc_FastImageTransfer> peer);
    // Deletes the peer, then the archives.
    ~ccAccelerator() override;

    bool isClosed() override { return false; }
    bool isSecondary() override { return true; }
    // The peer.
    ccImageTransfer* imageTransfer() override { return peer_.get(); }

    // Whether pels of sourceBits can be delivered as targetBits.
    virtual bool supportsDepths(int32_t sourceBits, int32_t targetBits) = 0;
    // Opens the connection (endpoint 2) when it is not, gives its reading
    // side the time-out and answers the low byte of the word the peer sends.
    virtual bool setTimeout(double seconds);
    // Waits for at most seconds.
    virtual bool waitFor(double seconds) = 0;

    cc_FastImageTransfer* peer() const { return peer_.get(); }

protected:
    ccRPCArchivePair& archives() { return archives_; }

private:
    ccRPCArchivePair archives_;
    std::unique_ptr<cc_FastImageTransfer> peer_;
};

// Copies through the fast-transfer interface (73) of the module's result
// object that a remote id names.
class cc_ModFastImageTransfer : public cc_FastImageTransfer {
public:
    // ccUnknownFG::MissingFunctionality for a result without 73;
    // ccPel::BadWindow for a rect that starts left of or above the frame or
    // is larger than into's window; ccRemoteObject::ObjectMismatch for an id
    // that names no live result: each leaves into as it is. A failed copy
    // raises the module's error.
    void transfer(ccPelBuffer<unsigned char>& into, const ccPelRect& rect, int32_t rootWidth, uint32_t remoteId,
                  bool transferFlag) override;
    void transfer(ccPelBuffer<unsigned short>& into, const ccPelRect& rect, int32_t rootWidth, uint32_t remoteId,
                  bool transferFlag) override;
    void transfer(ccPelBuffer<ccPackedRGB32Pel>& into, const ccPelRect& rect, int32_t rootWidth,
                  uint32_t remoteId, bool transferFlag) override;

    // Set by the grabber that owns the proxy; module errors are raised
    // through it.
    void setGrabber(cc_UnknownFrameGrabber* grabber) { grabber_ = grabber; }
    cc_UnknownFrameGrabber* grabber() const { return grabber_; }

private:
    template <class T>
    void copyWindow(ccPelBuffer<T>& into, const ccPelRect& rect, uint32_t remoteId, bool transferFlag);

    cc_UnknownFrameGrabber* grabber_ = nullptr;
};

// The communicator of a driver-module board's frames: closed, so that pel
// roots over them count locally and are copied through the peer.
class cc_ModAcceleratorProxy : public ccAccelerator {
public:
    explicit cc_ModAcceleratorProxy(std::unique_ptr<cc_ModFastImageTransfer> peer);
    ~cc_ModAcceleratorProxy() override;

    bool isClosed() override { return true; }
    // (8, 8), (8, 16), (8, 32) and (16, 32).
    bool supportsDepths(int32_t sourceBits, int32_t targetBits) override;
    // cc_Resource::BrokenLock: there is no connection to open.
    void connect(uint16_t endpoint, std::unique_ptr<ccCommStreambuf>& reading,
                 std::unique_ptr<ccCommStreambuf>& storing, double timeoutSeconds) override;
    // Opens nothing.
    void openChannel(uint16_t number, std::unique_ptr<ccCommStreambuf>& reading,
                     std::unique_ptr<ccCommStreambuf>& storing, double timeoutSeconds) override;
    bool setTimeout(double seconds) override;
    // Sleeps for the time-out (not at all for one without limit); false.
    bool waitFor(double seconds) override;

    cc_ModFastImageTransfer* fastTransfer() const { return static_cast<cc_ModFastImageTransfer*>(peer()); }
};
