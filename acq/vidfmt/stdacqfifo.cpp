#include "acq/vidfmt/stdacqfifo.h"

#include "acq/vidfmt/fgimpl.h"
#include "acq/vidfmt/framegrabber.h"
#include "acq/vidfmt/vidfmt.h"

cc_StdFifoParts::cc_StdFifoParts(const ccVideoFormat& format, const ccFrameGrabber& grabber, cc_AcqFifo* impl)
    : props_(new ccAnalogAcqProps), format_(&format), grabber_(&grabber)
{
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
    : ccGreyAcqFifo(cc_StdFifoParts::newImpl(format, grabber, cc_fifoKindTag::grey())),
      parts_(format, grabber, implementation())
{
}

ccStdRGB16AcqFifo::ccStdRGB16AcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber)
    : ccRGB16AcqFifo(cc_StdFifoParts::newImpl(format, grabber, cc_fifoKindTag::rgb16())),
      parts_(format, grabber, implementation())
{
}

ccStdRGB32AcqFifo::ccStdRGB32AcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber)
    : ccRGB32AcqFifo(cc_StdFifoParts::newImpl(format, grabber, cc_fifoKindTag::rgb32())),
      parts_(format, grabber, implementation())
{
}

ccStd3PlaneAcqFifo::ccStd3PlaneAcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber)
    : cc3PlaneAcqFifo(cc_StdFifoParts::newImpl(format, grabber, cc_fifoKindTag::threePlane())),
      parts_(format, grabber, implementation())
{
}

ccStdAcqFifo::ccStdAcqFifo(std::unique_ptr<cc_AcqFifo> impl, const ccVideoFormat& format,
                           const ccFrameGrabber& grabber, int32_t pelFormat)
    : ccAcqFifo(impl.release()), parts_(format, grabber, implementation()), pelFormat_(pelFormat)
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
