#include "acq/hyper/prop/camctl.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

ccPersistent* ccDigitalCameraControlProp::cmCreate() { return new (std::nothrow) ccDigitalCameraControlProp; }

void ccDigitalCameraControlProp::digitalHighGainSelected(bool selected)
{
    if (fifo_)
        fifo_->digitalHighGainSelected(selected);
    highGain_ = selected;
}

void ccDigitalCameraControlProp::masterClockFrequency(double value)
{
    // Written so that NaN fails it.
    if (!(value >= 5.0 && value <= 40.0))
        throw BadParams();
    if (fifo_)
        fifo_->masterClockFrequency(value);
    clock_ = value;
}

void ccDigitalCameraControlProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccDigitalCameraControlProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/camctl", __LINE__);
    ccPersistent::archive(ar);
    bool highGain = highGain_;
    double clock = clock_;
    ar.archive(highGain);
    if (ar.isLoading())
        digitalHighGainSelected(highGain);
    ar.archive(clock);
    if (ar.isLoading())
        masterClockFrequency(clock);
    ccArchiveVisit::end(this, typeid(ccDigitalCameraControlProp));
}
