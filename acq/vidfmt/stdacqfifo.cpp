#include "acq/vidfmt/stdacqfifo.h"

#include "acq/vidfmt/fgimpl.h"
#include "acq/vidfmt/framegrabber.h"
#include "acq/vidfmt/vidfmt.h"

cc_StdFifoParts::cc_StdFifoParts(const ccVideoFormat& format, const ccFrameGrabber& grabber, cc_AcqFifo* impl)
    : props_(new ccAnalogAcqProps), format_(&format), grabber_(&grabber)
{
    // The properties read their starting values from the implementation.
    if (!impl)
        throw ccAcqFifo::CouldNotCreate();
    props_->attachAll(impl);
}

cc_AcqFifo* cc_StdFifoParts::newImpl(const ccVideoFormat& format, const ccFrameGrabber& grabber,
                                     const cc_fifoKindTag& tag)
{
    cc_FrameGrabber* engine = grabber.frameGrabberImpl();
    if (!engine)
        throw ccAcqFifo::CouldNotCreate();
    return engine->newAcqFifoImpl(format.description(true), tag);
}

ccStdGreyAcqFifo::ccStdGreyAcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber)
    : cc_StdKindFifo(cc_StdFifoParts::newImpl(format, grabber, cc_fifoKindTag::grey()), format, grabber)
{
}

ccStdRGB16AcqFifo::ccStdRGB16AcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber)
    : cc_StdKindFifo(cc_StdFifoParts::newImpl(format, grabber, cc_fifoKindTag::rgb16()), format, grabber)
{
}

ccStdRGB32AcqFifo::ccStdRGB32AcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber)
    : cc_StdKindFifo(cc_StdFifoParts::newImpl(format, grabber, cc_fifoKindTag::rgb32()), format, grabber)
{
}

ccStd3PlaneAcqFifo::ccStd3PlaneAcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber)
    : cc_StdKindFifo(cc_StdFifoParts::newImpl(format, grabber, cc_fifoKindTag::threePlane()), format, grabber)
{
}

ccStdAcqFifo::ccStdAcqFifo(std::unique_ptr<cc_AcqFifo> impl, const ccVideoFormat& format,
                           const ccFrameGrabber& grabber, int32_t pelFormat)
    : cc_StdKindFifo(impl.release(), format, grabber), pelFormat_(pelFormat)
{
}

ccPelBuffer<unsigned char>* ccStdAcqFifo::completeToBuffer(const ccAcqCompleteArgs&)
{
    return new ccPelBuffer<unsigned char>();
}

ccPtrHandle<ccAcqImage> ccStdAcqFifo::completeToImage(const ccAcqCompleteArgs& args)
{
    return impl().completeAcqImage(args);
}
