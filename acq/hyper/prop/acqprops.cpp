#include "acq/hyper/prop/acqprops.h"

#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <typeinfo>
#include <utility>

#include "acq/acqfifo.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccAcqProps::cmCreate() { return new (std::nothrow) ccAcqProps; }

void ccAcqProps::attachAll(cc_AcqFifo* fifo)
{
    // Several properties read from the implementation as they attach.
    if (!fifo)
        throw ccBadPointer();
    ccTriggerProp::attach(fifo);
    ccStrobeProp::attach(fifo);
    ccStrobeDelayProp::attach(fifo);
    ccCameraBandwidthProp::attach(fifo);
    ccExposureProp::attach(fifo);
    ccTimeoutProp::attach(fifo);
    ccCameraPortProp::attach(fifo);
    ccCameraLocationProp::attach(fifo);
    ccMovePartCallbackProp::attach(fifo);
    ccCompleteCallbackProp::attach(fifo);
    ccPelRootPoolProp::attach(fifo);
    ccCtiProp::attach(fifo);
    ccHorizAdjustProp::attach(fifo);
    ccRoiProp::attach(fifo);
    ccSyncProp::attach(fifo);
    ccLightProp::attach(fifo);
    cc8BitInputLutProp::attach(fifo);
    ccContrastBrightnessProp::attach(fifo);
    ccFirstPelOffsetProp::attach(fifo);
    ccEncoderControlProp::attach(fifo);
    ccEncoderProp::attach(fifo);
    ccClippingProp::attach(fifo);
    ccOffsetClampProp::attach(fifo);
    ccAlphaColorProp::attach(fifo);
    ccDigitalCameraControlProp::attach(fifo);
    ccSettlingTimeProp::attach(fifo);
    ccOverrunCallbackProp::attach(fifo);
    ccTriggerFilterProp::attach(fifo);
    ccCameraTestProp::attach(fifo);
    ccSampleProp::attach(fifo);
    ccReadoutDirectionProp::attach(fifo);
    ccCdcCameraCalibrationProp::attach(fifo);
    ccCustomProp::attach(fifo);
}

namespace {

// One level archived in a whole-object operation of its own.
class LevelOperation : public ccPersistent {
public:
    explicit LevelOperation(std::function<void(ccArchive&)> level) : level_(std::move(level)) {}
    void archive(ccArchive& ar) override { level_(ar); }

private:
    std::function<void(ccArchive&)> level_;
};

// Stores level L of level's object apart; the function returned loads that
// back through the setters, so that an attached implementation hears it too.
template <class L>
std::function<void()> keepStored(L& level)
{
    const std::function<void(ccArchive&)> run = [&level](ccArchive& ar) { level.L::archive(ar); };
    std::stringbuf buffer(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    {
        ccArchive out(&buffer, ccArchive::storing, ccArchive::littleEndian, false);
        out.archiveHeader();
        LevelOperation operation(run);
        ccArchiveObject(operation, out, false);
        out.flush();
    }
    const auto bytes = std::make_shared<const std::string>(buffer.str());
    return [bytes, run] {
        ccMemoryArchive in(bytes->data(), static_cast<int32_t>(bytes->size()), false, false);
        LevelOperation operation(run);
        ccArchiveObject(operation, in, false);
    };
}

// A notification is put back as the same object, not as a copy of it; the
// implementation gets it again.
std::function<void()> keepCallback(ccPtrHandle<ccCallback>& held, cc_AcqFifo* fifo, cc_detail::CallbackInstall install)
{
    return [&held, fifo, install, kept = held] {
        if (fifo)
            (fifo->*install)(kept);
        held = kept;
    };
}

} // namespace

template <class L>
std::function<void()> ccAcqProps::Levels::keep(L& level)
{
    return keepStored(level);
}

// The model is no stored value, but a version-0 load sets it.
template <>
std::function<void()> ccAcqProps::Levels::keep(ccTriggerProp& level)
{
    const std::function<void()> values = keepStored(level);
    const ccTriggerModel* builtIn = level.triggerModel();
    const ccPtrHandle<ccTriggerModel> handle = level.triggerModelHandle();
    return [&level, values, builtIn, handle] {
        if (level.triggerModel() != builtIn || level.triggerModelHandle().rawPointer() != handle.rawPointer()) {
            if (builtIn)
                level.triggerModel(builtIn);
            else
                level.triggerModel(handle);
        }
        values();
    };
}

// Storing would shape an unshaped property, which a load then could not.
template <>
std::function<void()> ccAcqProps::Levels::keep(ccContrastBrightnessProp& level)
{
    if (props_.ccContrastBrightnessProp::shaped())
        return keepStored(level);
    return [this] { props_.ccContrastBrightnessProp::unshape(); };
}

template <>
std::function<void()> ccAcqProps::Levels::keep(cc8BitInputLutProp& level)
{
    if (props_.cc8BitInputLutProp::shaped())
        return keepStored(level);
    return [this] { props_.cc8BitInputLutProp::unshape(); };
}

template <>
std::function<void()> ccAcqProps::Levels::keep(ccMovePartCallbackProp& level)
{
    return keepCallback(props_.ccMovePartCallbackProp::callback_, level.fifo(), &cc_AcqFifo::movePartCallback);
}

template <>
std::function<void()> ccAcqProps::Levels::keep(ccOverrunCallbackProp& level)
{
    return keepCallback(props_.ccOverrunCallbackProp::callback_, level.fifo(), &cc_AcqFifo::overrunCallback);
}

template <>
std::function<void()> ccAcqProps::Levels::keep(ccCompleteCallbackProp& level)
{
    return keepCallback(props_.ccCompleteCallbackProp::callback_, level.fifo(), &cc_AcqFifo::completeCallback);
}

template <class L>
void ccAcqProps::Levels::level()
{
    L& level = props_;
    if (ar_.isLoading() && kept_.insert(std::type_index(typeid(L))).second)
        undo_.push_back(keep(level));
    level.L::archive(ar_);
}

void ccAcqProps::Levels::guard(const std::function<void()>& body)
{
    try {
        body();
    } catch (...) {
        for (auto undo = undo_.rbegin(); undo != undo_.rend(); ++undo) {
            try {
                (*undo)();
            } catch (...) {
                // The implementation refused the old value: the level stays
                // as the load left it, which the implementation has.
            }
        }
        throw;
    }
}

void ccAcqProps::archive(ccArchive& ar)
{
    Levels levels(*this, ar);
    levels.guard([&] { archiveAggregate(levels); });
}

void ccAcqProps::archiveAggregate(Levels& levels)
{
    if (ccArchiveVisit::begin(this, typeid(ccAcqProps)))
        return;
    const uint8_t version = ccArchiveVersion(levels.archive(), kVersion, "acq/hyper/prop/acqprops", 93);
    levels.level<ccTriggerProp>();
    levels.level<ccStrobeProp>();
    levels.level<ccExposureProp>();
    levels.level<ccTimeoutProp>();
    levels.level<ccCameraPortProp>();
    levels.level<ccMovePartCallbackProp>();
    levels.level<ccCompleteCallbackProp>();
    levels.level<ccCtiProp>();
    levels.level<ccHorizAdjustProp>();
    levels.level<ccRoiProp>();
    levels.level<ccSyncProp>();
    levels.level<ccLightProp>();
    if (version >= 1) {
        archiveAnalogLevels(levels);
        levels.level<ccSettlingTimeProp>();
        levels.level<ccOverrunCallbackProp>();
        levels.level<ccStrobeDelayProp>();
    }
    if (version >= 2) {
        levels.level<ccOffsetClampProp>();
        levels.level<ccTriggerFilterProp>();
        levels.level<ccCameraTestProp>();
        levels.level<ccSampleProp>();
        levels.level<ccReadoutDirectionProp>();
    }
    if (version >= 3)
        levels.level<ccCdcCameraCalibrationProp>();
    if (version >= 4)
        levels.level<ccCameraBandwidthProp>();
    ccArchiveVisit::end(this, typeid(ccAcqProps));
}

void ccAcqProps::archiveAnalogLevels(Levels& levels)
{
    levels.level<cc8BitInputLutProp>();
    levels.level<ccContrastBrightnessProp>();
    levels.level<ccFirstPelOffsetProp>();
    levels.level<ccEncoderControlProp>();
    levels.level<ccEncoderProp>();
    levels.level<ccClippingProp>();
    levels.level<ccAlphaColorProp>();
    levels.level<ccDigitalCameraControlProp>();
}

// The FIFO's own trigger operations, defined here because only the aggregate
// knows its trigger property. Without an implementation each raises
// ccAcqFifo::CouldNotCreate, as every forwarding operation of the FIFO does.

void ccAcqFifo::triggerEnable(bool enable)
{
    (void)impl();
    static_cast<ccTriggerProp&>(acqProps()).triggerEnable(enable);
}

bool ccAcqFifo::triggerEnable()
{
    (void)impl();
    return static_cast<ccTriggerProp&>(acqProps()).triggerEnable();
}

void ccAcqFifo::triggerModel(const ccPtrHandle<ccTriggerModel>& model)
{
    (void)impl();
    static_cast<ccTriggerProp&>(acqProps()).triggerModel(model);
}
