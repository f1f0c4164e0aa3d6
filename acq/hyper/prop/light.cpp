#include "acq/hyper/prop/light.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

namespace {

// A ratio or power: from 0 to 1 (written so that NaN fails both tests), sent
// to the implementation when attached, then stored.
void setFraction(double value, cc_AcqFifo* fifo, void (cc_AcqFifo::*send)(double), double& stored)
{
    if (!(value >= 0.0 && value <= 1.0))
        throw ccLightProp::BadParams();
    if (fifo)
        (fifo->*send)(value);
    stored = value;
}

} // namespace

ccPersistent* ccLightProp::cmCreate() { return new (std::nothrow) ccLightProp; }

void ccLightProp::lightEnabled(bool enabled)
{
    if (fifo_)
        fifo_->lightEnabled(enabled);
    enabled_ = enabled;
}

void ccLightProp::brightFieldPowerRatio(double ratio)
{
    setFraction(ratio, fifo_, &cc_AcqFifo::brightFieldPowerRatio, brightFieldRatio_);
}

void ccLightProp::lightPower(double power)
{
    setFraction(power, fifo_, &cc_AcqFifo::lightPower, power_);
}

void ccLightProp::lightDelay(double seconds)
{
    if (!(seconds >= 0.0))
        throw BadParams();
    if (fifo_)
        fifo_->lightDelay(seconds);
    delay_ = seconds;
}

void ccLightProp::auxLightPort(int32_t port)
{
    // The implementation takes the port as a 32-bit word; -1 keeps its bits.
    if (fifo_)
        fifo_->auxLightPort(static_cast<uint32_t>(port));
    auxPort_ = port;
}

void ccLightProp::auxBrightFieldPowerRatio(double ratio)
{
    setFraction(ratio, fifo_, &cc_AcqFifo::auxBrightFieldPowerRatio, auxBrightFieldRatio_);
}

void ccLightProp::auxLightPower(double power)
{
    setFraction(power, fifo_, &cc_AcqFifo::auxLightPower, auxPower_);
}

void ccLightProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccLightProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/light", __LINE__);
    ccPersistent::archive(ar);
    double ratio = brightFieldRatio_, power = power_, delay = delay_;
    double auxRatio = auxBrightFieldRatio_, auxPower = auxPower_;
    uint32_t port = static_cast<uint32_t>(auxPort_);
    ar.archive(ratio).archive(power).archive(delay).archive(port).archive(auxRatio).archive(auxPower);
    if (ar.isLoading()) {
        brightFieldPowerRatio(ratio);
        lightPower(power);
        lightDelay(delay);
        auxLightPort(static_cast<int32_t>(port));
        auxBrightFieldPowerRatio(auxRatio);
        auxLightPower(auxPower);
    }
    ccArchiveVisit::end(this, typeid(ccLightProp));
}
