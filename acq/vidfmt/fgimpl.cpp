#include "acq/vidfmt/fgimpl.h"

#include "acq/vidfmt/vidfmt.h"

cc_FrameGrabber::~cc_FrameGrabber() = default;

cc_AcqFifo* cc_FrameGrabber::newAcqFifoImplA(const cc_VidFmtDesc&) { throw ccVideoFormat::NotSupported(); }
cc_AcqFifo* cc_FrameGrabber::newAcqFifoImplB(const cc_VidFmtDesc&) { throw ccVideoFormat::NotSupported(); }
cc_AcqFifo* cc_FrameGrabber::newAcqFifoImplC(const cc_VidFmtDesc&) { throw ccVideoFormat::NotSupported(); }
cc_AcqFifo* cc_FrameGrabber::newAcqFifoImplD(const cc_VidFmtDesc&) { throw ccVideoFormat::NotSupported(); }
cc_AcqFifo* cc_FrameGrabber::newAcqFifoImplE(const cc_VidFmtDesc&) { throw ccVideoFormat::NotSupported(); }
cc_AcqFifo* cc_FrameGrabber::newAcqFifoImplF(const cc_VidFmtDesc&) { throw ccVideoFormat::NotSupported(); }
cc_AcqFifo* cc_FrameGrabber::newAcqFifoImplG(const cc_VidFmtDesc&) { throw ccVideoFormat::NotSupported(); }

cc_AcqFifo* cc_FrameGrabber::newAcqFifoImpl(const cc_VidFmtDesc&, int32_t) { throw ccVideoFormat::NotSupported(); }

cc_AcqFifo* cc_FrameGrabber::newAcqFifoImpl(const cc_VidFmtDesc&, const cc_fifoKindTag&)
{
    throw ccVideoFormat::NotSupported();
}

uint32_t cc_FrameGrabber::numCameraPorts(const cc_VidFmtDesc&) { return 0; }

uint32_t cc_FrameGrabber::numCameraPortsIfSupported(const ccVideoFormat& format)
{
    const cc_VidFmtDesc& description = format.description(true);
    return isFormatSupported(description, -1) ? numCameraPorts(description) : 0;
}

cc_AcqFifo* cc_FrameGrabber::newAcqFifoImplH(const cc_VidFmtDesc&) { throw ccVideoFormat::NotSupported(); }
void cc_FrameGrabber::hookA() {}
bool cc_FrameGrabber::queryA() { return false; }
bool cc_FrameGrabber::isFormatSupportedAnyPel(const cc_VidFmtDesc&) { return false; }

bool cc_FrameGrabber::isFormatSupported(const cc_VidFmtDesc& description, int32_t moduleCode)
{
    return (moduleCode == 0 || moduleCode == -1) && isFormatSupportedAnyPel(description);
}

bool cc_FrameGrabber::hasFormatOptions() { return false; }
bool cc_FrameGrabber::isFormatRestricted(const cc_VidFmtDesc&) { return false; }
int32_t cc_FrameGrabber::tvmId() { return -2; }
void cc_FrameGrabber::disconnect(bool) {}
std::wstring cc_FrameGrabber::uniqueId() { return std::wstring(); }
void cc_FrameGrabber::hookB() {}
