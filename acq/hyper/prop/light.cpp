#include "acq/hyper/prop/light.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

namespace {

// Written so that NaN fails both tests.
void checkFraction(double value)
{
    if (!(value >= 0.0 && value <= 1.0))
        throw ccLightProp::BadParams();
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
    checkFraction(ratio);
    if (fifo_)
        fifo_->brightFieldPowerRatio(ratio);
    brightFieldRatio_ = ratio;
}

void ccLightProp::lightPower(double power)
{
    checkFraction(power);
    if (fifo_)
        fifo_->lightPower(power);
    power_ = power;
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
    checkFraction(ratio);
    if (fifo_)
        fifo_->auxBrightFieldPowerRatio(ratio);
    auxBrightFieldRatio_ = ratio;
}

void ccLightProp::auxLightPower(double power)
{
    checkFraction(power);
    if (fifo_)
        fifo_->auxLightPower(power);
    auxPower_ = power;
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
