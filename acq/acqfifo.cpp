#include "acq/acqfifo.h"

#include <memory>

#include "acq/propreq.h"

// The implementation's base behaviour.

const ccAcqPropertyInfo* cc_AcqFifo::propertyInfo(uint32_t id)
{
    if (!infoBuilt_.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> hold(infoLock_);
        if (!infoBuilt_.load(std::memory_order_relaxed)) {
            info_.clear(); // what a failed build left
            buildPropertyInfo(info_);
            infoBuilt_.store(true, std::memory_order_release);
        }
    }
    for (const ccAcqPropertyInfo& record : info_)
        if (record.id == id)
            return &record;
    return nullptr;
}

bool cc_AcqFifo::reconfigure(const void*) { return false; }
ccPelBuffer<unsigned char> cc_AcqFifo::completeAcq8(const ccAcqCompleteArgs&) { return {}; }
ccPelBuffer<unsigned short> cc_AcqFifo::completeAcq16(const ccAcqCompleteArgs&) { return {}; }
ccPelBuffer<ccPackedRGB16Pel> cc_AcqFifo::completeAcqRGB16(const ccAcqCompleteArgs&) { return {}; }
ccPelBuffer<ccPackedRGB32Pel> cc_AcqFifo::completeAcqRGB32(const ccAcqCompleteArgs&) { return {}; }
cc3PlanePelBuffer cc_AcqFifo::completeAcq3Plane(const ccAcqCompleteArgs&) { return {}; }
ccPtrHandle<ccAcqImage> cc_AcqFifo::completeAcqImage(const ccAcqCompleteArgs&)
{
    return ccPtrHandle<ccAcqImage>(new ccAcqImage());
}
void cc_AcqFifo::sendPropertyRequest(const ccAcqPropertyRequest&) {}
void cc_AcqFifo::extRecordQuery(ccAcqPropertyRequest&) {}
void cc_AcqFifo::cameraLocation(ccCameraPort*) {}
void cc_AcqFifo::cameraBandwidth(double) {}
void cc_AcqFifo::noOpHookA(uint32_t) {}
bool cc_AcqFifo::alwaysFalseQuery() { return false; }
void cc_AcqFifo::customProps(const ccCustomPropertyBag&) {}
void cc_AcqFifo::cdcCameraCalibration(const ccCdcCameraCalibrationProp&) {}
void cc_AcqFifo::readoutDirection(const ccReadoutDirectionProp&) {}
void cc_AcqFifo::sample(const ccSampleProp&) {}
void cc_AcqFifo::cameraTest(const ccCameraTestProp&) {}
void cc_AcqFifo::offsetClamp(const ccOffsetClampProp&) {}
void cc_AcqFifo::triggerFilter(const ccTriggerFilterProp&) {}
uint32_t cc_AcqFifo::numInputLuts() { return 0; }
bool cc_AcqFifo::isCameraLocationValid(ccCameraPort*) { return false; }
double cc_AcqFifo::contrastDefault() { return 0.5; }
double cc_AcqFifo::brightnessDefault() { return 0.5; }
bool cc_AcqFifo::cdcCalibrationDefault() { return false; }
double cc_AcqFifo::exposureDefault() { return 2e-5; }
bool cc_AcqFifo::acceptsPelRootPool(const ccPtrHandle<ccPelRootPool>&) { return true; }
void cc_AcqFifo::buildPropertyInfo(std::vector<ccAcqPropertyInfo>&) {}
const std::vector<int32_t>* cc_AcqFifo::supportedSampleValues() { return nullptr; }
bool cc_AcqFifo::isValidMaster(cc_AcqFifo*) { return false; }
bool cc_AcqFifo::hookFalseB(uint32_t) { return false; }
bool cc_AcqFifo::hookFalseC(std::array<uint32_t, 6>&) { return false; }
bool cc_AcqFifo::hookTakesBlock(uint32_t, uint32_t, std::unique_ptr<uint8_t[]>, uint32_t, uint32_t, uint32_t,
                                uint32_t)
{
    return false; // the block goes with the argument
}
bool cc_AcqFifo::hookTrue(uint32_t) { return true; }
void cc_AcqFifo::noOpHookB(uint32_t) {}
uint32_t cc_AcqFifo::hookZeroA() { return 0; }
void cc_AcqFifo::noOpHookC() {}
uint32_t cc_AcqFifo::hookZeroB() { return 0; }

// The kind tags. Those that pair an address take one of their own accessor,
// which no other tag can share.

const cc_fifoKindTag& cc_fifoKindTag::grey()
{
    static const cc_fifoKindTag tag{0, 2};
    return tag;
}

const cc_fifoKindTag& cc_fifoKindTag::threePlane()
{
    static const cc_fifoKindTag tag{0, 4};
    return tag;
}

const cc_fifoKindTag& cc_fifoKindTag::rgb16()
{
    static const cc_fifoKindTag tag{reinterpret_cast<uintptr_t>(&cc_fifoKindTag::rgb16), 0};
    return tag;
}

const cc_fifoKindTag& cc_fifoKindTag::rgb32()
{
    static const cc_fifoKindTag tag{reinterpret_cast<uintptr_t>(&cc_fifoKindTag::rgb32), 1};
    return tag;
}

const cc_fifoKindTag& cc_fifoKindTag::other()
{
    static const cc_fifoKindTag tag{reinterpret_cast<uintptr_t>(&cc_fifoKindTag::other), 3};
    return tag;
}

// The handle.

namespace {

// What reconfigure passes when no object is given.
const uint32_t kZeroWord = 0;

} // namespace

ccAcqFifo::~ccAcqFifo()
{
    delete impl_;
    // The members go after this body, overrun first and move part last.
}

cc_AcqFifo& ccAcqFifo::impl() const
{
    if (!impl_)
        throw CouldNotCreate();
    return *impl_;
}

bool ccAcqFifo::start(uint32_t ticket) { return impl().start(ticket); }
bool ccAcqFifo::reconfigure(const void* object) { return impl().reconfigure(object ? object : &kZeroWord); }
bool ccAcqFifo::isBusy() { return impl().isBusy(); }
uint32_t ccAcqFifo::pendingAcqs() { return impl().pendingAcqs(); }
uint32_t ccAcqFifo::completedAcqs() { return impl().completedAcqs(); }
bool ccAcqFifo::prepare(double seconds) { return prepare(nullptr, seconds); }

bool ccAcqFifo::prepare(std::wstring* message, double seconds)
{
    cc_AcqFifo& fifo = impl();
    ccTimeout timeout(seconds);
    return fifo.prepare(message, timeout);
}

void ccAcqFifo::flush() { impl().flush(); }

ccAcqPropertyQuery* ccAcqFifo::propertyQuery()
{
    cc_AcqFifo& implementation = impl();
    implementation.attachProps(&acqProps());
    return implementation.propertyQuery();
}

void ccAcqFifo::setCallback(ccAcqInfoCallbackHandle& member, const ccAcqInfoCallbackHandle& callback,
                            void (cc_AcqFifo::*install)(const ccAcqInfoCallbackHandle&))
{
    (impl().*install)(callback);
    member = callback;
}

void ccAcqFifo::movePartCallback(const ccAcqInfoCallbackHandle& callback)
{
    setCallback(movePart_, callback, &cc_AcqFifo::movePartInfoCallback);
}

void ccAcqFifo::completeCallback(const ccAcqInfoCallbackHandle& callback)
{
    setCallback(complete_, callback, &cc_AcqFifo::completeInfoCallback);
}

void ccAcqFifo::overrunCallback(const ccAcqInfoCallbackHandle& callback)
{
    setCallback(overrun_, callback, &cc_AcqFifo::overrunInfoCallback);
}

bool ccAcqFifo::isStrobeEnableSupported() { return impl().propertyInfo(ccPropStrobeEnable) != nullptr; }
bool ccAcqFifo::isStrobePulseDurationSupported() { return impl().propertyInfo(ccPropStrobePulseDuration) != nullptr; }
bool ccAcqFifo::isPropertyPresent9008() { return impl().propertyInfo(ccPropPresence9008) != nullptr; }

double ccAcqFifo::contrastDefaultValue()
{
    const ccAcqPropertyInfo* record = impl().propertyInfo(ccPropContrast);
    return record ? record->defaultValue : 0.0;
}

double ccAcqFifo::brightnessDefaultValue()
{
    const ccAcqPropertyInfo* record = impl().propertyInfo(ccPropBrightness);
    return record ? record->defaultValue : 0.0;
}

double ccAcqFifo::minExposure()
{
    const ccAcqPropertyInfo* record = impl().propertyInfo(ccPropExposure);
    return record ? record->minimum : 0.0;
}

const std::vector<int32_t>* ccAcqFifo::supportedSampleXValues()
{
    cc_AcqFifo& fifo = impl();
    return fifo.propertyInfo(ccPropSampleX) ? fifo.supportedSampleValues() : nullptr;
}

const std::vector<int32_t>* ccAcqFifo::supportedSampleYValues()
{
    cc_AcqFifo& fifo = impl();
    return fifo.propertyInfo(ccPropSampleY) ? fifo.supportedSampleValues() : nullptr;
}

// The kinds.

namespace {

// A completed buffer as the caller gets it: over local memory when a local
// copy is asked for and its root is in the driver module. The hand-over
// needs the buffer to be the root's only holder, so it is never copied first.
template <class T>
ccPelBuffer<T>& localWhenAsked(ccPelBuffer<T>& buffer, const ccAcqCompleteArgs& args)
{
    if (args.localCopy && buffer.isBound() && buffer.root().destination())
        buffer = ccPelBuffer<T>::fromRemote(buffer, false);
    return buffer;
}

template <class T>
ccPelBuffer<T>* completeBuffer(ccPelBuffer<T> buffer, const ccAcqCompleteArgs& args)
{
    if (!buffer.isBound())
        return nullptr;
    return new ccPelBuffer<T>(localWhenAsked(buffer, args));
}

// code: the acquired-image code, which only a byte buffer needs.
template <class T, class... Code>
ccPtrHandle<ccAcqImage> completeImage(ccPelBuffer<T> buffer, const ccAcqCompleteArgs& args, Code... code)
{
    return ccPtrHandle<ccAcqImage>(new ccAcqImage(localWhenAsked(buffer, args), code...));
}

} // namespace

ccPelBuffer<unsigned char>* ccGreyAcqFifo::completeToBuffer(const ccAcqCompleteArgs& args)
{
    return completeBuffer(impl().completeAcq8(args), args);
}

ccPtrHandle<ccAcqImage> ccGreyAcqFifo::completeToImage(const ccAcqCompleteArgs& args)
{
    return completeImage(impl().completeAcq8(args), args, ccGreyAcqFifo::pelFormat());
}

ccPelBuffer<ccPackedRGB16Pel>* ccRGB16AcqFifo::completeToBuffer(const ccAcqCompleteArgs& args)
{
    return completeBuffer(impl().completeAcqRGB16(args), args);
}

ccPtrHandle<ccAcqImage> ccRGB16AcqFifo::completeToImage(const ccAcqCompleteArgs& args)
{
    return completeImage(impl().completeAcqRGB16(args), args);
}

ccPelBuffer<ccPackedRGB32Pel>* ccRGB32AcqFifo::completeToBuffer(const ccAcqCompleteArgs& args)
{
    return completeBuffer(impl().completeAcqRGB32(args), args);
}

ccPtrHandle<ccAcqImage> ccRGB32AcqFifo::completeToImage(const ccAcqCompleteArgs& args)
{
    return completeImage(impl().completeAcqRGB32(args), args);
}

cc3PlanePelBuffer* cc3PlaneAcqFifo::completeToBuffer(const ccAcqCompleteArgs& args)
{
    cc3PlanePelBuffer buffer = impl().completeAcq3Plane(args);
    return buffer.isBound() ? new cc3PlanePelBuffer(buffer) : nullptr;
}

ccPtrHandle<ccAcqImage> cc3PlaneAcqFifo::completeToImage(const ccAcqCompleteArgs& args)
{
    return impl().completeAcqImage(args);
}
