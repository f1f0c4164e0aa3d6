// The strobe properties of a FIFO: the strobe output (enable, pulse duration
// in seconds, polarity) and the strobe's delay in seconds, each passed to the
// attached FIFO implementation.
#pragma once

#include "std/except/except.h"

class cc_AcqFifo;

class ccStrobeProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000987u, "class ccStrobeProp::BadParams");

    static constexpr const char* kStoredName = "class ccStrobeProp";
    // The registry's factory: a detached property with the defaults.
    static ccPersistent* cmCreate();

    ccStrobeProp() = default;

    // Attached, each setter sends its value to the implementation first; an
    // error there leaves the stored value.
    void strobeEnable(bool enable);
    bool strobeEnable() const { return enabled_; }
    // From 0 up to the maximum of the implementation's record for the pulse
    // duration, when attached and it has one; else any value from 0
    // (NaN is refused: BadParams).
    void strobePulseDuration(double seconds);
    double strobePulseDuration() const { return pulseDuration_; }
    void strobePulsePolarityHigh(bool high);
    bool strobePulsePolarityHigh() const { return polarityHigh_; }

    // Stores the implementation (not owned); a duration above the maximum
    // of its record is brought down to it, so that what the property stores
    // loads back on this board. Nothing is sent.
    void attach(cc_AcqFifo* fifo);
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, then enabled (bool byte),
    // pulse duration (double), polarity high (bool byte); loaded values go
    // through the setters in that order.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    bool enabled_ = false;
    double pulseDuration_ = 2e-5;
    bool polarityHigh_ = true;
    cc_AcqFifo* fifo_ = nullptr;
};

class ccStrobeDelayProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x100009AAu, "class ccStrobeDelayProp::BadParams");

    static constexpr const char* kStoredName = "class ccStrobeDelayProp";
    // The registry's factory: a detached property with no delay.
    static ccPersistent* cmCreate();

    ccStrobeDelayProp() = default;

    // Within the minimum and maximum of the implementation's record for the
    // strobe delay, when attached and it has one; else any value (NaN is
    // always refused: BadParams). Attached, the implementation receives it
    // first; its error leaves the stored value.
    void strobeDelay(double seconds);
    double strobeDelay() const { return delay_; }

    // Stores the implementation (not owned); a delay outside the range of
    // its record is brought to the nearer bound, so that what the property
    // stores loads back on this board. Nothing is sent.
    void attach(cc_AcqFifo* fifo);
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 1, the ccPersistent level, then the delay as a double.
    // Version 0 held whole microseconds in a 32-bit word. A loaded delay goes
    // through the setter.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    double delay_ = 0.0;
    cc_AcqFifo* fifo_ = nullptr;
};
