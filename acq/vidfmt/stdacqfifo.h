// The FIFOs a video format makes for a frame grabber. Each holds the format,
// the grabber and a new property aggregate, attached to its implementation
// as soon as it is made.
#pragma once
#include <cstdint>
#include <memory>

#include "acq/acqfifo.h"
#include "acq/hyper/prop/analog.h"

class ccVideoFormat;
class ccFrameGrabber;

// What every standard FIFO holds beside its implementation.
class cc_StdFifoParts {
public:
    // Attaches the new properties to impl; without one, ccAcqFifo::CouldNotCreate.
    cc_StdFifoParts(const ccVideoFormat& format, const ccFrameGrabber& grabber, cc_AcqFifo* impl);

    ccAcqProps& acqProps() { return *props_; }
    const ccVideoFormat& videoFormat() const { return *format_; }
    const ccFrameGrabber& frameGrabber() const { return *grabber_; }

    // The implementation the grabber's engine makes for the format (its alias
    // followed) and kind; ccAcqFifo::CouldNotCreate without an engine.
    static cc_AcqFifo* newImpl(const ccVideoFormat& format, const ccFrameGrabber& grabber, const cc_fifoKindTag& tag);

private:
    std::unique_ptr<ccAnalogAcqProps> props_;
    const ccVideoFormat* format_;
    const ccFrameGrabber* grabber_;
};

// A FIFO kind in its standard form: the parts beside the implementation.
template <class Kind>
class cc_StdKindFifo : public Kind {
public:
    ccAcqProps& acqProps() override { return parts_.acqProps(); }
    const ccVideoFormat& videoFormat() const override { return parts_.videoFormat(); }
    const ccFrameGrabber& frameGrabber() const override { return parts_.frameGrabber(); }

protected:
    // Owns impl from the start, also when construction fails.
    cc_StdKindFifo(cc_AcqFifo* impl, const ccVideoFormat& format, const ccFrameGrabber& grabber)
        : Kind(impl), parts_(format, grabber, impl)
    {
    }

private:
    cc_StdFifoParts parts_;
};

class ccStdGreyAcqFifo : public cc_StdKindFifo<ccGreyAcqFifo> {
public:
    ccStdGreyAcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber);
};

class ccStdRGB16AcqFifo : public cc_StdKindFifo<ccRGB16AcqFifo> {
public:
    ccStdRGB16AcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber);
};

class ccStdRGB32AcqFifo : public cc_StdKindFifo<ccRGB32AcqFifo> {
public:
    ccStdRGB32AcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber);
};

class ccStd3PlaneAcqFifo : public cc_StdKindFifo<cc3PlaneAcqFifo> {
public:
    ccStd3PlaneAcqFifo(const ccVideoFormat& format, const ccFrameGrabber& grabber);
};

// Over an implementation made for any other pel format: it completes only
// into acquired images.
class ccStdAcqFifo : public cc_StdKindFifo<ccAcqFifo> {
public:
    // Owns impl from the start, also when construction fails.
    ccStdAcqFifo(std::unique_ptr<cc_AcqFifo> impl, const ccVideoFormat& format, const ccFrameGrabber& grabber,
                 int32_t pelFormat);

    // An unbound 8-bit buffer; nothing is completed.
    ccPelBuffer<unsigned char>* completeToBuffer(const ccAcqCompleteArgs& args) override;
    ccPtrHandle<ccAcqImage> completeToImage(const ccAcqCompleteArgs& args) override;
    // The code given, -1 included (as its 32-bit pattern).
    uint32_t pelFormat() const override { return static_cast<uint32_t>(pelFormat_); }

private:
    int32_t pelFormat_;
};
