// The acquisition engine behind a frame-grabber handle: it creates FIFO
// implementations for a video format and answers the board-level questions.
// The module-backed engine derives from it; operations it does not supply
// keep the neutral bodies here.
#pragma once
#include <cstdint>
#include <string>

#include "acq/acqfifo.h"

class cc_VidFmtDesc;
class ccVideoFormat;

class cc_FrameGrabber {
public:
    cc_FrameGrabber() = default;
    cc_FrameGrabber(const cc_FrameGrabber&) = delete;
    cc_FrameGrabber& operator=(const cc_FrameGrabber&) = delete;

    // A board value, passed on unchanged by the handle.
    virtual int32_t coreValue() = 0;
    virtual ~cc_FrameGrabber();

    // Format-specific creators: each throws ccVideoFormat::NotSupported here.
    virtual cc_AcqFifo* newAcqFifoImplA(const cc_VidFmtDesc& description);
    virtual cc_AcqFifo* newAcqFifoImplB(const cc_VidFmtDesc& description);
    virtual cc_AcqFifo* newAcqFifoImplC(const cc_VidFmtDesc& description);
    virtual cc_AcqFifo* newAcqFifoImplD(const cc_VidFmtDesc& description);
    virtual cc_AcqFifo* newAcqFifoImplE(const cc_VidFmtDesc& description);
    virtual cc_AcqFifo* newAcqFifoImplF(const cc_VidFmtDesc& description);
    virtual cc_AcqFifo* newAcqFifoImplG(const cc_VidFmtDesc& description);
    // A new FIFO implementation the caller owns, for a module pel-format code
    // or for a FIFO kind; both throw ccVideoFormat::NotSupported here.
    virtual cc_AcqFifo* newAcqFifoImpl(const cc_VidFmtDesc& description, int32_t moduleCode);
    virtual cc_AcqFifo* newAcqFifoImpl(const cc_VidFmtDesc& description, const cc_fifoKindTag& tag);
    // 0 here.
    virtual uint32_t numCameraPorts(const cc_VidFmtDesc& description);
    // Of the format with its alias followed: numCameraPorts when the format
    // is supported with any pel format, else 0.
    virtual uint32_t numCameraPortsIfSupported(const ccVideoFormat& format);
    virtual cc_AcqFifo* newAcqFifoImplH(const cc_VidFmtDesc& description);
    virtual void hookA();
    virtual bool queryA(); // false here
    virtual bool isFormatSupportedAnyPel(const cc_VidFmtDesc& description); // false here
    // moduleCode -1 (or 0) asks for any pel format; another code answers
    // false here.
    virtual bool isFormatSupported(const cc_VidFmtDesc& description, int32_t moduleCode);
    virtual bool hasFormatOptions(); // false here
    // The format is left out of the grabber's format lists; false here.
    virtual bool isFormatRestricted(const cc_VidFmtDesc& description);
    // The attached vision module; -1 and -2 mean none (-2 here).
    virtual int32_t tvmId();
    virtual void disconnect(bool flag);
    virtual std::wstring uniqueId(); // empty here
    virtual void hookB();
};
