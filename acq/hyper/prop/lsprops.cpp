#include "acq/hyper/prop/lsprops.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

namespace {

const char kFile[] = "acq/hyper/prop/lsprops";

} // namespace

ccPersistent* ccFirstPelOffsetProp::cmCreate() { return new (std::nothrow) ccFirstPelOffsetProp; }

void ccFirstPelOffsetProp::firstPelOffset(int8_t offset)
{
    if (offset < 0)
        throw BadParams();
    if (fifo_)
        fifo_->firstPelOffset(static_cast<uint8_t>(offset));
    offset_ = offset;
}

void ccFirstPelOffsetProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccFirstPelOffsetProp)))
        return;
    ccArchiveVersion(ar, kVersion, kFile, __LINE__);
    ccPersistent::archive(ar);
    int8_t offset = offset_;
    ar.archive(offset);
    if (ar.isLoading())
        firstPelOffset(offset);
    ccArchiveVisit::end(this, typeid(ccFirstPelOffsetProp));
}

ccPersistent* ccEncoderControlProp::cmCreate() { return new (std::nothrow) ccEncoderControlProp; }

void ccEncoderControlProp::resetCounterOnHardwareTrigger(bool reset)
{
    if (fifo_)
        fifo_->resetCounterOnHardwareTrigger(reset);
    resetOnTrigger_ = reset;
}

void ccEncoderControlProp::resetCounter()
{
    if (fifo_)
        fifo_->resetCounter();
}

uint32_t ccEncoderControlProp::currentEncoderCount() const { return fifo_ ? fifo_->currentEncoderCount() : 0; }

void ccEncoderControlProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccEncoderControlProp)))
        return;
    ccArchiveVersion(ar, kVersion, kFile, __LINE__);
    ccPersistent::archive(ar);
    bool reset = resetOnTrigger_;
    ar.archive(reset);
    if (ar.isLoading())
        resetCounterOnHardwareTrigger(reset);
    ccArchiveVisit::end(this, typeid(ccEncoderControlProp));
}

ccPersistent* ccEncoderProp::cmCreate() { return new (std::nothrow) ccEncoderProp; }

void ccEncoderProp::testEncoderEnabled(bool enabled)
{
    if (fifo_)
        fifo_->testEncoderEnabled(enabled);
    testEnabled_ = enabled;
}

void ccEncoderProp::testEncoderDirectionPositive(bool positive)
{
    if (fifo_)
        fifo_->testEncoderDirectionPositive(positive);
    testPositive_ = positive;
}

void ccEncoderProp::triggerFromEncoder(bool first, bool second)
{
    if (fifo_)
        fifo_->triggerFromEncoder(first, second);
    triggerFirst_ = first;
    triggerSecond_ = second;
}

void ccEncoderProp::stepsPerLine(uint32_t steps, uint32_t sixteenths)
{
    if (steps < 1 || steps > 4095 || sixteenths > 15)
        throw BadParams();
    if (fifo_)
        fifo_->stepsPerLine(steps, sixteenths);
    sixteenths_ = sixteenths;
    steps_ = steps;
}

void ccEncoderProp::encoderPort(int32_t port)
{
    if (port < 0)
        throw BadParams();
    if (fifo_) {
        // A count of 0 means the implementation does not say how many it has.
        const uint32_t ports = fifo_->numEncoderPorts();
        if (ports != 0 && static_cast<int64_t>(port) >= static_cast<int64_t>(ports))
            throw BadParams();
        fifo_->encoderPort(static_cast<uint32_t>(port));
    }
    port_ = port;
}

uint32_t ccEncoderProp::numEncoderPorts() const
{
    if (!fifo_)
        throw NoFrameGrabber();
    return fifo_->numEncoderPorts();
}

void ccEncoderProp::encoderOffset(int32_t offset)
{
    if (fifo_)
        fifo_->encoderOffset(offset);
    offset_ = offset;
}

void ccEncoderProp::acquireDirectionPositive(bool positive)
{
    if (fifo_)
        fifo_->acquireDirectionPositive(positive);
    acquirePositive_ = positive;
}

void ccEncoderProp::useSingleChannel(bool single)
{
    if (fifo_)
        fifo_->useSingleChannel(single);
    singleChannel_ = single;
}

void ccEncoderProp::encoderResolution(int32_t resolution)
{
    // The implementation takes the word as it is.
    if (fifo_)
        fifo_->encoderResolution(static_cast<uint32_t>(resolution));
    resolution_ = resolution;
}

void ccEncoderProp::startAcqOnEncoderCount(uint32_t count)
{
    if (count > 65535)
        throw BadParams();
    if (fifo_)
        fifo_->startAcqOnEncoderCount(count);
    startCount_ = count;
}

void ccEncoderProp::ignoreBackwardsMotionBetweenAcquires(bool ignore)
{
    if (fifo_)
        fifo_->ignoreBackwardsMotionBetweenAcquires(ignore);
    ignoreBackwards_ = ignore;
}

void ccEncoderProp::ignoreTooFastEncoder(bool ignore)
{
    if (fifo_)
        fifo_->ignoreTooFastEncoder(ignore);
    ignoreTooFast_ = ignore;
}

void ccEncoderProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccEncoderProp)))
        return;
    const uint8_t version = ccArchiveVersion(ar, kVersion, kFile, __LINE__);
    ccPersistent::archive(ar);
    if (ar.isStoring()) {
        bool combined = triggerFromEncoder();
        ar.archive(testEnabled_).archive(testPositive_);
        ar.archive(combined).archive(triggerFirst_).archive(triggerSecond_);
        ar.archive(steps_).archive(sixteenths_).archive(port_).archive(offset_);
        ar.archive(acquirePositive_).archive(singleChannel_);
        ar.archive(resolution_).archive(startCount_);
        ar.archive(ignoreBackwards_).archive(ignoreTooFast_);
    } else {
        // Each field is set as soon as it is read, so a value the setter
        // refuses stops the load with the fields before it in place.
        bool flag = false;
        ar.archive(flag);
        testEncoderEnabled(flag);
        ar.archive(flag);
        testEncoderDirectionPositive(flag);
        bool first = false, second = false;
        if (version >= 1) {
            bool combined = false; // recomputed from the two flags
            ar.archive(combined).archive(first).archive(second);
        } else {
            ar.archive(first);
        }
        triggerFromEncoder(first, second);
        uint32_t steps = 0, sixteenths = 0;
        ar.archive(steps);
        if (version >= 2)
            ar.archive(sixteenths);
        stepsPerLine(steps, sixteenths);
        int32_t word = 0;
        ar.archive(word);
        encoderPort(word);
        ar.archive(word);
        encoderOffset(word);
        ar.archive(flag);
        acquireDirectionPositive(flag);
        if (version >= 3) {
            ar.archive(flag);
            useSingleChannel(flag);
        }
        if (version >= 4) {
            // The resolution goes to the board as well, so that it runs with
            // what was stored.
            ar.archive(word);
            encoderResolution(word);
            uint32_t count = 0;
            ar.archive(count);
            startAcqOnEncoderCount(count);
            ar.archive(flag);
            ignoreBackwardsMotionBetweenAcquires(flag);
        }
        if (version >= 5) {
            ar.archive(flag);
            ignoreTooFastEncoder(flag);
        }
    }
    ccArchiveVisit::end(this, typeid(ccEncoderProp));
}
