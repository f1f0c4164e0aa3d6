// The property aggregate of a FIFO: every acquisition property class in one
// object, attached to the FIFO's implementation together and archived as one
// versioned record. All persistent bases share its one ccPersistent base.
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <typeindex>
#include <vector>

#include "acq/hyper/prop/alpha.h"
#include "acq/hyper/prop/bright.h"
#include "acq/hyper/prop/callback.h"
#include "acq/hyper/prop/camban.h"
#include "acq/hyper/prop/camctl.h"
#include "acq/hyper/prop/cameratest.h"
#include "acq/hyper/prop/camloc.h"
#include "acq/hyper/prop/camport.h"
#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/clip.h"
#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/cti.h"
#include "acq/hyper/prop/exposure.h"
#include "acq/hyper/prop/horizadj.h"
#include "acq/hyper/prop/ilut8.h"
#include "acq/hyper/prop/light.h"
#include "acq/hyper/prop/lsprops.h"
#include "acq/hyper/prop/offsetclamp.h"
#include "acq/hyper/prop/pelpoolprop.h"
#include "acq/hyper/prop/readdir.h"
#include "acq/hyper/prop/roi.h"
#include "acq/hyper/prop/sample.h"
#include "acq/hyper/prop/settletm.h"
#include "acq/hyper/prop/strobe.h"
#include "acq/hyper/prop/sync.h"
#include "acq/hyper/prop/timeout.h"
#include "acq/hyper/prop/trig.h"
#include "acq/hyper/prop/triggerfilter.h"

class cc_AcqFifo;

// The bases come in this order (construction order; destruction runs in
// reverse), which the module FIFO's property query and old archives rely on.
class ccAcqProps : public ccTriggerProp,
                   public ccTriggerFilterProp,
                   public ccStrobeProp,
                   public ccStrobeDelayProp,
                   public ccExposureProp,
                   public ccSettlingTimeProp,
                   public ccTimeoutProp,
                   public ccCameraPortProp,
                   public ccCameraLocationProp,
                   public ccMovePartCallbackProp,
                   public ccOverrunCallbackProp,
                   public ccCompleteCallbackProp,
                   public ccPelRootPoolProp,
                   public ccCtiProp,
                   public ccHorizAdjustProp,
                   public ccRoiProp,
                   public ccSyncProp,
                   public ccLightProp,
                   public cc8BitInputLutProp,
                   public ccContrastBrightnessProp,
                   public ccFirstPelOffsetProp,
                   public ccEncoderControlProp,
                   public ccEncoderProp,
                   public ccClippingProp,
                   public ccOffsetClampProp,
                   public ccAlphaColorProp,
                   public ccDigitalCameraControlProp,
                   public ccCameraTestProp,
                   public ccSampleProp,
                   public ccReadoutDirectionProp,
                   public ccCdcCameraCalibrationProp,
                   public ccCameraBandwidthProp,
                   public ccCustomProp {
public:
    static constexpr const char* kStoredName = "class ccAcqProps";
    static constexpr uint8_t kVersion = 4;
    // The registry's factory: a detached aggregate with every default.
    static ccPersistent* cmCreate();

    ccAcqProps() = default;
    ccAcqProps(const ccAcqProps&) = delete;
    ccAcqProps& operator=(const ccAcqProps&) = delete;
    ~ccAcqProps() override = default;

    // Attaches every property to fifo, in the order the properties that read
    // back from the implementation expect. fifo must not be null
    // (ccBadPointer, nothing attached); the implementation is not owned. An
    // implementation without a channel stops it with the input table's or the
    // contrast's BadParams, the properties before it attached.
    void attachAll(cc_AcqFifo* fifo);

    // Version byte 4, then the properties' own levels, each only from the
    // stored version that first carried it. Camera location, pel-root pool
    // and custom properties are never archived here. A load that fails puts
    // every property it reached back as it was (attached, the implementation
    // hears the old values again) before the error goes on.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

protected:
    // The levels of one archive operation. Loading, each level is kept
    // before it is first loaded, and a load that fails puts the kept ones
    // back, newest first.
    class Levels {
    public:
        Levels(ccAcqProps& props, ccArchive& ar) : props_(props), ar_(ar) {}
        Levels(const Levels&) = delete;
        Levels& operator=(const Levels&) = delete;

        ccArchive& archive() const { return ar_; }
        // Runs body; when it throws, every kept level is put back (a level
        // that cannot be is left as the load made it) and the error goes on.
        void guard(const std::function<void()>& body);
        // Archives level L of the aggregate, keeping it first when loading.
        template <class L>
        void level();

    private:
        template <class L>
        std::function<void()> keep(L& level);

        ccAcqProps& props_;
        ccArchive& ar_;
        std::set<std::type_index> kept_;
        std::vector<std::function<void()>> undo_;
    };

    // The aggregate's own level (its version byte and the levels it carries).
    void archiveAggregate(Levels& levels);
    // The input table, contrast, line-scan, clipping, alpha and
    // camera-control levels in their stored order: the first levels that the
    // aggregate's version 1 added, and those that the analog aggregate's
    // version 0 carried after it.
    void archiveAnalogLevels(Levels& levels);
};
