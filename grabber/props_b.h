// The mixins of grabber/itf_props_b.h: each implements its interface for the
// FIFO object class T through T's propertyCall and propertyChanged, says
// whether a FIFO supports it and saves or loads its values.
#pragma once
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

#include "grabber/comhelpers.h"
#include "grabber/itf_props_b.h"

// The member ids, shared by the mixins (for change events) and the tables.
namespace cc_props_b {

enum : DISPID {
    kMasterClockFrequency = 500,
    kGetROI = 520, kSetROI, kROIMode, kIsROIModeSupported, kGetROILimits,
    kOffsetClampMode = 560,
    kSampleX = 580, kSampleY,
    kHorizontalReadoutReversed = 600, kVerticalReadoutReversed,
    kMinTriggerWidth = 620, kMinTriggerPeriod, kTriggerDelay, kIgnoreMissedTrigger,
    kStrobeDelay = 640,
    kOutlierPixelCorrectionEnabled = 660, kRowColumnCalibrationEnabled,
    kTestEncoderEnabled = 680, kTestEncoderDirectionPositive, kTriggerFromEncoderFirst, kTriggerFromEncoderSecond,
    kStepsPerLine, kStepSixteenths, kEncoderPort, kNumEncoderPorts, kEncoderOffset, kAcquireDirectionPositive,
    kUseSingleChannel, kEncoderResolution, kStartAcqOnEncoderCount, kIgnoreBackwardsMotionBetweenAcquires,
    kIgnoreTooFastEncoder, kResetCounterOnHardwareTrigger, kResetCounter, kCurrentEncoderCount, kFirstPelOffset,
    kStrobePulseDuration = 700,
    kCameraBandwidth = 720,
    kMinExposure = 740, kContrastDefaultValue, kBrightnessDefaultValue, kStrobeEnableSupported,
    kStrobePulseDurationSupported, kSupportedSampleXValues, kSupportedSampleYValues,
    kCustomProperties = 760,
};

// The region at x, y of width by height. BadParams for a negative size,
// which the rectangle would turn into another region, and for an end past
// the 32-bit range, which it would clip.
inline ccPelRect roiOf(int32_t x, int32_t y, int32_t width, int32_t height)
{
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (width < 0 || height < 0 || int64_t{x} + width > kMax || int64_t{y} + height > kMax)
        throw ccRoiProp::BadParams();
    return ccPelRect(x, y, width, height);
}

// One direction of persistValues over an archive, as flags tell it, through
// persistValue; failures are thrown as ccCOMError.
class Archive {
public:
    Archive(IQorArchive* archive, LONG flags) : archive_(archive), flags_(flags)
    {
        if (!archive) throw ccCOMError(E_POINTER, 0);
    }

    // Saves value under key, or loads it: true when it was loaded (a missing
    // key loads nothing and keeps value).
    template <class V> bool item(const OLECHAR* key, V& value)
    {
        bool loaded = false;
        auto take = [&](auto v) {
            value = static_cast<V>(v);
            loaded = true;
        };
        if constexpr (std::is_same_v<V, bool>)
            cc_grabber::persistBool(archive_, flags_, key, value, take);
        else
            cc_grabber::persistValue(archive_, flags_, key, value, take);
        return loaded;
    }
    bool item(const OLECHAR* key, std::wstring& value)
    {
        cc_grabber::Key text;
        *text.out() = cc_grabber::newBstr(value);
        const HRESULT hr = archive_->PersistString(cc_grabber::Key(key).get(), text.out());
        cc_grabber::check(hr);
        if (hr != S_OK || (flags_ & kPersistSaving)) return false;
        value = plat::com::wideFromBstr(text.get());
        return true;
    }

private:
    IQorArchive* archive_;
    LONG flags_;
};

} // namespace cc_props_b

template <class T>
class IQorAcqMasterClockFrequencyImpl : public IQorAcqMasterClockFrequency {
public:
    HRESULT get_MasterClockFrequency(double* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqMasterClockFrequency, u"get_MasterClockFrequency", value,
                               [](ccAcqPropertyQuery& q) { return q.digitalCameraControlPropRef().masterClockFrequency(); });
    }
    HRESULT put_MasterClockFrequency(double value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqMasterClockFrequency, u"put_MasterClockFrequency", cc_props_b::kMasterClockFrequency, value,
            [](ccAcqPropertyQuery& q) { return q.digitalCameraControlPropRef().masterClockFrequency(); },
            [](ccAcqPropertyQuery& q, double v) { q.digitalCameraControlPropRef().masterClockFrequency(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.digitalCameraControlProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccDigitalCameraControlProp& prop = query.digitalCameraControlPropRef();
        double value = prop.masterClockFrequency();
        if (a.item(u"MasterClockFrequency", value)) prop.masterClockFrequency(value);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T>
class IQorAcqROIImpl : public IQorAcqROI {
public:
    HRESULT GetROI(LONG* x, LONG* y, LONG* width, LONG* height) override
    {
        return self().propertyCall(IID_IQorAcqROI, u"GetROI", [&](ccAcqPropertyQuery& q) {
            return rect(q.roiPropRef().roi(), x, y, width, height);
        });
    }
    HRESULT SetROI(LONG x, LONG y, LONG width, LONG height) override
    {
        return cc_grabber::change(self(), IID_IQorAcqROI, u"SetROI", cc_props_b::kSetROI, [&](ccAcqPropertyQuery& q) {
            const ccPelRect region = cc_props_b::roiOf(x, y, width, height);
            ccRoiProp& prop = q.roiPropRef();
            if (prop.roi() == region) return false;
            prop.roi(region);
            return true;
        });
    }
    HRESULT get_ROIMode(LONG* mode) override
    {
        return cc_grabber::get(self(), IID_IQorAcqROI, u"get_ROIMode", mode,
                               [](ccAcqPropertyQuery& q) { return q.roiPropRef().roiMode(); });
    }
    HRESULT put_ROIMode(LONG mode) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqROI, u"put_ROIMode", cc_props_b::kROIMode, int32_t{mode},
            [](ccAcqPropertyQuery& q) { return q.roiPropRef().roiMode(); },
            [](ccAcqPropertyQuery& q, int32_t v) { q.roiPropRef().roiMode(v); });
    }
    HRESULT IsROIModeSupported(LONG mode, VARIANT_BOOL* supported) override
    {
        return cc_grabber::get(self(), IID_IQorAcqROI, u"IsROIModeSupported", supported,
                               [&](ccAcqPropertyQuery& q) { return cc_grabber::toVariantBool(q.roiPropRef().isRoiModeSupported(mode)); });
    }
    HRESULT GetROILimits(LONG* x, LONG* y, LONG* width, LONG* height) override
    {
        return self().propertyCall(IID_IQorAcqROI, u"GetROILimits", [&](ccAcqPropertyQuery& q) {
            ccPelRect limits;
            return rect(q.roiPropRef().roiLimits(limits), x, y, width, height);
        });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.roiProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccRoiProp& prop = query.roiPropRef();
        const ccPelRect& region = prop.roi();
        int32_t x = region.x0(), y = region.y0();
        int32_t width = static_cast<int32_t>(region.width()), height = static_cast<int32_t>(region.height());
        bool loaded = a.item(u"ROIX", x);
        loaded = a.item(u"ROIY", y) || loaded;
        loaded = a.item(u"ROIWidth", width) || loaded;
        loaded = a.item(u"ROIHeight", height) || loaded;
        if (loaded) prop.roi(cc_props_b::roiOf(x, y, width, height));
        int32_t mode = prop.roiMode();
        if (a.item(u"ROIMode", mode)) prop.roiMode(mode);
    }

private:
    T& self() { return static_cast<T&>(*this); }
    static HRESULT rect(const ccPelRect& r, LONG* x, LONG* y, LONG* width, LONG* height)
    {
        if (!x || !y || !width || !height) throw ccCOMError(E_POINTER, 0);
        *x = r.x0();
        *y = r.y0();
        *width = static_cast<LONG>(r.width());
        *height = static_cast<LONG>(r.height());
        return S_OK;
    }
};

// Nothing in the library stands behind it.
template <class T>
class IQorAcqSimultaneousImpl : public IQorAcqSimultaneous {
public:
    static bool isSupported(ccAcqPropertyQuery&) { return false; }
    static void persistValues(T&, IQorArchive*, LONG, ccAcqPropertyQuery&) {}
};

template <class T>
class IQorAcqOffsetClampImpl : public IQorAcqOffsetClamp {
public:
    HRESULT get_OffsetClampMode(LONG* mode) override
    {
        return cc_grabber::get(self(), IID_IQorAcqOffsetClamp, u"get_OffsetClampMode", mode,
                               [](ccAcqPropertyQuery& q) { return q.offsetClampPropRef().offsetClampMode(); });
    }
    HRESULT put_OffsetClampMode(LONG mode) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqOffsetClamp, u"put_OffsetClampMode", cc_props_b::kOffsetClampMode, int32_t{mode},
            [](ccAcqPropertyQuery& q) { return q.offsetClampPropRef().offsetClampMode(); },
            [](ccAcqPropertyQuery& q, int32_t v) { q.offsetClampPropRef().offsetClampMode(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.offsetClampProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccOffsetClampProp& prop = query.offsetClampPropRef();
        int32_t mode = prop.offsetClampMode();
        if (a.item(u"OffsetClampMode", mode)) prop.offsetClampMode(mode);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T>
class IQorAcqSampleImpl : public IQorAcqSample {
public:
    HRESULT get_SampleX(LONG* factor) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSample, u"get_SampleX", factor,
                               [](ccAcqPropertyQuery& q) { return q.samplePropRef().sampleX(); });
    }
    HRESULT put_SampleX(LONG factor) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqSample, u"put_SampleX", cc_props_b::kSampleX, int32_t{factor},
            [](ccAcqPropertyQuery& q) { return q.samplePropRef().sampleX(); },
            [](ccAcqPropertyQuery& q, int32_t v) { q.samplePropRef().sampleX(v); });
    }
    HRESULT get_SampleY(LONG* factor) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSample, u"get_SampleY", factor,
                               [](ccAcqPropertyQuery& q) { return q.samplePropRef().sampleY(); });
    }
    HRESULT put_SampleY(LONG factor) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqSample, u"put_SampleY", cc_props_b::kSampleY, int32_t{factor},
            [](ccAcqPropertyQuery& q) { return q.samplePropRef().sampleY(); },
            [](ccAcqPropertyQuery& q, int32_t v) { q.samplePropRef().sampleY(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.sampleProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccSampleProp& prop = query.samplePropRef();
        int32_t x = prop.sampleX(), y = prop.sampleY();
        if (a.item(u"SampleX", x)) prop.sampleX(x);
        if (a.item(u"SampleY", y)) prop.sampleY(y);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T>
class IQorAcqReadoutDirectionImpl : public IQorAcqReadoutDirection {
public:
    HRESULT get_HorizontalReadoutReversed(VARIANT_BOOL* reversed) override
    {
        return cc_grabber::get(self(), IID_IQorAcqReadoutDirection, u"get_HorizontalReadoutReversed", reversed,
                               [](ccAcqPropertyQuery& q) { return cc_grabber::toVariantBool(q.readoutDirectionPropRef().horizontalReadoutReversed()); });
    }
    HRESULT put_HorizontalReadoutReversed(VARIANT_BOOL reversed) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqReadoutDirection, u"put_HorizontalReadoutReversed", cc_props_b::kHorizontalReadoutReversed,
            reversed != VARIANT_FALSE,
            [](ccAcqPropertyQuery& q) { return q.readoutDirectionPropRef().horizontalReadoutReversed(); },
            [](ccAcqPropertyQuery& q, bool v) { q.readoutDirectionPropRef().horizontalReadoutReversed(v); });
    }
    HRESULT get_VerticalReadoutReversed(VARIANT_BOOL* reversed) override
    {
        return cc_grabber::get(self(), IID_IQorAcqReadoutDirection, u"get_VerticalReadoutReversed", reversed,
                               [](ccAcqPropertyQuery& q) { return cc_grabber::toVariantBool(q.readoutDirectionPropRef().verticalReadoutReversed()); });
    }
    HRESULT put_VerticalReadoutReversed(VARIANT_BOOL reversed) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqReadoutDirection, u"put_VerticalReadoutReversed", cc_props_b::kVerticalReadoutReversed,
            reversed != VARIANT_FALSE,
            [](ccAcqPropertyQuery& q) { return q.readoutDirectionPropRef().verticalReadoutReversed(); },
            [](ccAcqPropertyQuery& q, bool v) { q.readoutDirectionPropRef().verticalReadoutReversed(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.readoutDirectionProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccReadoutDirectionProp& prop = query.readoutDirectionPropRef();
        bool h = prop.horizontalReadoutReversed(), v = prop.verticalReadoutReversed();
        if (a.item(u"HorizontalReadoutReversed", h)) prop.horizontalReadoutReversed(h);
        if (a.item(u"VerticalReadoutReversed", v)) prop.verticalReadoutReversed(v);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T>
class IQorAcqTriggerFilterImpl : public IQorAcqTriggerFilter {
public:
    HRESULT get_MinTriggerWidth(double* seconds) override
    {
        return cc_grabber::get(self(), IID_IQorAcqTriggerFilter, u"get_MinTriggerWidth", seconds,
                               [](ccAcqPropertyQuery& q) { return q.triggerFilterPropRef().minTriggerWidth(); });
    }
    HRESULT put_MinTriggerWidth(double seconds) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqTriggerFilter, u"put_MinTriggerWidth", cc_props_b::kMinTriggerWidth, seconds,
            [](ccAcqPropertyQuery& q) { return q.triggerFilterPropRef().minTriggerWidth(); },
            [](ccAcqPropertyQuery& q, double v) { q.triggerFilterPropRef().minTriggerWidth(v); });
    }
    HRESULT get_MinTriggerPeriod(double* seconds) override
    {
        return cc_grabber::get(self(), IID_IQorAcqTriggerFilter, u"get_MinTriggerPeriod", seconds,
                               [](ccAcqPropertyQuery& q) { return q.triggerFilterPropRef().minTriggerPeriod(); });
    }
    HRESULT put_MinTriggerPeriod(double seconds) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqTriggerFilter, u"put_MinTriggerPeriod", cc_props_b::kMinTriggerPeriod, seconds,
            [](ccAcqPropertyQuery& q) { return q.triggerFilterPropRef().minTriggerPeriod(); },
            [](ccAcqPropertyQuery& q, double v) { q.triggerFilterPropRef().minTriggerPeriod(v); });
    }
    HRESULT get_TriggerDelay(double* seconds) override
    {
        return cc_grabber::get(self(), IID_IQorAcqTriggerFilter, u"get_TriggerDelay", seconds,
                               [](ccAcqPropertyQuery& q) { return q.triggerFilterPropRef().triggerDelay(); });
    }
    HRESULT put_TriggerDelay(double seconds) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqTriggerFilter, u"put_TriggerDelay", cc_props_b::kTriggerDelay, seconds,
            [](ccAcqPropertyQuery& q) { return q.triggerFilterPropRef().triggerDelay(); },
            [](ccAcqPropertyQuery& q, double v) { q.triggerFilterPropRef().triggerDelay(v); });
    }
    HRESULT get_IgnoreMissedTrigger(VARIANT_BOOL* ignore) override
    {
        return cc_grabber::get(self(), IID_IQorAcqTriggerFilter, u"get_IgnoreMissedTrigger", ignore,
                               [](ccAcqPropertyQuery& q) { return cc_grabber::toVariantBool(q.triggerFilterPropRef().ignoreMissedTrigger()); });
    }
    HRESULT put_IgnoreMissedTrigger(VARIANT_BOOL ignore) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqTriggerFilter, u"put_IgnoreMissedTrigger", cc_props_b::kIgnoreMissedTrigger,
            ignore != VARIANT_FALSE,
            [](ccAcqPropertyQuery& q) { return q.triggerFilterPropRef().ignoreMissedTrigger(); },
            [](ccAcqPropertyQuery& q, bool v) { q.triggerFilterPropRef().ignoreMissedTrigger(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.triggerFilterProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccTriggerFilterProp& prop = query.triggerFilterPropRef();
        double width = prop.minTriggerWidth(), period = prop.minTriggerPeriod(), delay = prop.triggerDelay();
        bool ignore = prop.ignoreMissedTrigger();
        if (a.item(u"MinTriggerWidth", width)) prop.minTriggerWidth(width);
        if (a.item(u"MinTriggerPeriod", period)) prop.minTriggerPeriod(period);
        if (a.item(u"TriggerDelay", delay)) prop.triggerDelay(delay);
        if (a.item(u"IgnoreMissedTrigger", ignore)) prop.ignoreMissedTrigger(ignore);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T>
class IQorAcqStrobeDelayImpl : public IQorAcqStrobeDelay {
public:
    HRESULT get_StrobeDelay(double* seconds) override
    {
        return cc_grabber::get(self(), IID_IQorAcqStrobeDelay, u"get_StrobeDelay", seconds,
                               [](ccAcqPropertyQuery& q) { return q.strobeDelayPropRef().strobeDelay(); });
    }
    HRESULT put_StrobeDelay(double seconds) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqStrobeDelay, u"put_StrobeDelay", cc_props_b::kStrobeDelay, seconds,
            [](ccAcqPropertyQuery& q) { return q.strobeDelayPropRef().strobeDelay(); },
            [](ccAcqPropertyQuery& q, double v) { q.strobeDelayPropRef().strobeDelay(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.strobeDelayProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccStrobeDelayProp& prop = query.strobeDelayPropRef();
        double delay = prop.strobeDelay();
        if (a.item(u"StrobeDelay", delay)) prop.strobeDelay(delay);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T>
class IQorAcqCameraCalibrationImpl : public IQorAcqCameraCalibration {
public:
    HRESULT get_OutlierPixelCorrectionEnabled(VARIANT_BOOL* enabled) override
    {
        return cc_grabber::get(self(), IID_IQorAcqCameraCalibration, u"get_OutlierPixelCorrectionEnabled", enabled,
                               [](ccAcqPropertyQuery& q) { return cc_grabber::toVariantBool(q.cdcCameraCalibrationPropRef().outlierPixelCorrectionEnabled()); });
    }
    HRESULT put_OutlierPixelCorrectionEnabled(VARIANT_BOOL enabled) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqCameraCalibration, u"put_OutlierPixelCorrectionEnabled",
            cc_props_b::kOutlierPixelCorrectionEnabled, enabled != VARIANT_FALSE,
            [](ccAcqPropertyQuery& q) { return q.cdcCameraCalibrationPropRef().outlierPixelCorrectionEnabled(); },
            [](ccAcqPropertyQuery& q, bool v) { q.cdcCameraCalibrationPropRef().outlierPixelCorrectionEnabled(v); });
    }
    HRESULT get_RowColumnCalibrationEnabled(VARIANT_BOOL* enabled) override
    {
        return cc_grabber::get(self(), IID_IQorAcqCameraCalibration, u"get_RowColumnCalibrationEnabled", enabled,
                               [](ccAcqPropertyQuery& q) { return cc_grabber::toVariantBool(q.cdcCameraCalibrationPropRef().rowColumnCalibrationEnabled()); });
    }
    HRESULT put_RowColumnCalibrationEnabled(VARIANT_BOOL enabled) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqCameraCalibration, u"put_RowColumnCalibrationEnabled",
            cc_props_b::kRowColumnCalibrationEnabled, enabled != VARIANT_FALSE,
            [](ccAcqPropertyQuery& q) { return q.cdcCameraCalibrationPropRef().rowColumnCalibrationEnabled(); },
            [](ccAcqPropertyQuery& q, bool v) { q.cdcCameraCalibrationPropRef().rowColumnCalibrationEnabled(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.cdcCameraCalibrationProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccCdcCameraCalibrationProp& prop = query.cdcCameraCalibrationPropRef();
        bool outlier = prop.outlierPixelCorrectionEnabled(), rowColumn = prop.rowColumnCalibrationEnabled();
        if (a.item(u"OutlierPixelCorrectionEnabled", outlier)) prop.outlierPixelCorrectionEnabled(outlier);
        if (a.item(u"RowColumnCalibrationEnabled", rowColumn)) prop.rowColumnCalibrationEnabled(rowColumn);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

// The encoder's values, the counter's flag and the first pel offset; the
// interface answers when the FIFO has any of the three line-scan properties,
// and each member refuses ("bad cast") when its own is missing.
template <class T>
class IQorAcqLineScanImpl : public IQorAcqLineScan {
    using Q = ccAcqPropertyQuery;

public:
#define CC_LINESCAN_BOOL(Name, prop, getter)                                                                        \
    HRESULT get_##Name(VARIANT_BOOL* value) override                                                                \
    {                                                                                                               \
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_" #Name, value,                                    \
                               [](Q& q) { return cc_grabber::toVariantBool(q.prop##Ref().getter()); });                        \
    }                                                                                                               \
    HRESULT put_##Name(VARIANT_BOOL value) override                                                                 \
    {                                                                                                               \
        return cc_grabber::put(                                                                                     \
            self(), IID_IQorAcqLineScan, u"put_" #Name, cc_props_b::k##Name, value != VARIANT_FALSE,                \
            [](Q& q) { return q.prop##Ref().getter(); }, [](Q& q, bool v) { q.prop##Ref().getter(v); });            \
    }
    CC_LINESCAN_BOOL(TestEncoderEnabled, encoderProp, testEncoderEnabled)
    CC_LINESCAN_BOOL(TestEncoderDirectionPositive, encoderProp, testEncoderDirectionPositive)
    CC_LINESCAN_BOOL(AcquireDirectionPositive, encoderProp, acquireDirectionPositive)
    CC_LINESCAN_BOOL(UseSingleChannel, encoderProp, useSingleChannel)
    CC_LINESCAN_BOOL(IgnoreBackwardsMotionBetweenAcquires, encoderProp, ignoreBackwardsMotionBetweenAcquires)
    CC_LINESCAN_BOOL(IgnoreTooFastEncoder, encoderProp, ignoreTooFastEncoder)
    CC_LINESCAN_BOOL(ResetCounterOnHardwareTrigger, encoderControlProp, resetCounterOnHardwareTrigger)
#undef CC_LINESCAN_BOOL

    // The two trigger sources go to the library together.
    HRESULT get_TriggerFromEncoderFirst(VARIANT_BOOL* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_TriggerFromEncoderFirst", value,
                               [](Q& q) { return cc_grabber::toVariantBool(q.encoderPropRef().triggerFromEncoderFirst()); });
    }
    HRESULT put_TriggerFromEncoderFirst(VARIANT_BOOL value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_TriggerFromEncoderFirst", cc_props_b::kTriggerFromEncoderFirst,
            value != VARIANT_FALSE, [](Q& q) { return q.encoderPropRef().triggerFromEncoderFirst(); },
            [](Q& q, bool v) {
                ccEncoderProp& p = q.encoderPropRef();
                p.triggerFromEncoder(v, p.triggerFromEncoderSecond());
            });
    }
    HRESULT get_TriggerFromEncoderSecond(VARIANT_BOOL* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_TriggerFromEncoderSecond", value,
                               [](Q& q) { return cc_grabber::toVariantBool(q.encoderPropRef().triggerFromEncoderSecond()); });
    }
    HRESULT put_TriggerFromEncoderSecond(VARIANT_BOOL value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_TriggerFromEncoderSecond", cc_props_b::kTriggerFromEncoderSecond,
            value != VARIANT_FALSE, [](Q& q) { return q.encoderPropRef().triggerFromEncoderSecond(); },
            [](Q& q, bool v) {
                ccEncoderProp& p = q.encoderPropRef();
                p.triggerFromEncoder(p.triggerFromEncoderFirst(), v);
            });
    }

    // Steps and sixteenths go to the library together. The unsigned values
    // travel as their 32 bits: a negative LONG is a count the library refuses.
    HRESULT get_StepsPerLine(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_StepsPerLine", value,
                               [](Q& q) { return static_cast<LONG>(q.encoderPropRef().stepsPerLine()); });
    }
    HRESULT put_StepsPerLine(LONG value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_StepsPerLine", cc_props_b::kStepsPerLine, static_cast<uint32_t>(value),
            [](Q& q) { return q.encoderPropRef().stepsPerLine(); },
            [](Q& q, uint32_t v) {
                ccEncoderProp& p = q.encoderPropRef();
                p.stepsPerLine(v, p.stepSixteenths());
            });
    }
    HRESULT get_StepSixteenths(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_StepSixteenths", value,
                               [](Q& q) { return static_cast<LONG>(q.encoderPropRef().stepSixteenths()); });
    }
    HRESULT put_StepSixteenths(LONG value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_StepSixteenths", cc_props_b::kStepSixteenths, static_cast<uint32_t>(value),
            [](Q& q) { return q.encoderPropRef().stepSixteenths(); },
            [](Q& q, uint32_t v) {
                ccEncoderProp& p = q.encoderPropRef();
                p.stepsPerLine(p.stepsPerLine(), v);
            });
    }
    HRESULT get_EncoderPort(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_EncoderPort", value,
                               [](Q& q) { return q.encoderPropRef().encoderPort(); });
    }
    HRESULT put_EncoderPort(LONG value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_EncoderPort", cc_props_b::kEncoderPort, int32_t{value},
            [](Q& q) { return q.encoderPropRef().encoderPort(); },
            [](Q& q, int32_t v) { q.encoderPropRef().encoderPort(v); });
    }
    HRESULT get_NumEncoderPorts(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_NumEncoderPorts", value,
                               [](Q& q) { return static_cast<LONG>(q.encoderPropRef().numEncoderPorts()); });
    }
    HRESULT get_EncoderOffset(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_EncoderOffset", value,
                               [](Q& q) { return q.encoderPropRef().encoderOffset(); });
    }
    HRESULT put_EncoderOffset(LONG value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_EncoderOffset", cc_props_b::kEncoderOffset, int32_t{value},
            [](Q& q) { return q.encoderPropRef().encoderOffset(); },
            [](Q& q, int32_t v) { q.encoderPropRef().encoderOffset(v); });
    }
    HRESULT get_EncoderResolution(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_EncoderResolution", value,
                               [](Q& q) { return q.encoderPropRef().encoderResolution(); });
    }
    HRESULT put_EncoderResolution(LONG value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_EncoderResolution", cc_props_b::kEncoderResolution, int32_t{value},
            [](Q& q) { return q.encoderPropRef().encoderResolution(); },
            [](Q& q, int32_t v) { q.encoderPropRef().encoderResolution(v); });
    }
    HRESULT get_StartAcqOnEncoderCount(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_StartAcqOnEncoderCount", value,
                               [](Q& q) { return static_cast<LONG>(q.encoderPropRef().startAcqOnEncoderCount()); });
    }
    HRESULT put_StartAcqOnEncoderCount(LONG value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_StartAcqOnEncoderCount", cc_props_b::kStartAcqOnEncoderCount,
            static_cast<uint32_t>(value), [](Q& q) { return q.encoderPropRef().startAcqOnEncoderCount(); },
            [](Q& q, uint32_t v) { q.encoderPropRef().startAcqOnEncoderCount(v); });
    }
    HRESULT ResetCounter() override
    {
        return self().propertyCall(IID_IQorAcqLineScan, u"ResetCounter", [](Q& q) {
            q.encoderControlPropRef().resetCounter();
            return S_OK;
        });
    }
    HRESULT get_CurrentEncoderCount(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_CurrentEncoderCount", value,
                               [](Q& q) { return static_cast<LONG>(q.encoderControlPropRef().currentEncoderCount()); });
    }
    HRESULT get_FirstPelOffset(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLineScan, u"get_FirstPelOffset", value,
                               [](Q& q) { return LONG{q.firstPelOffsetPropRef().firstPelOffset()}; });
    }
    // The library keeps one signed byte: a value beyond it is refused here
    // rather than cut into another offset.
    HRESULT put_FirstPelOffset(LONG value) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqLineScan, u"put_FirstPelOffset", cc_props_b::kFirstPelOffset, int32_t{value},
            [](Q& q) { return int32_t{q.firstPelOffsetPropRef().firstPelOffset()}; },
            [](Q& q, int32_t v) { firstPelOffset(q.firstPelOffsetPropRef(), v); });
    }

    static bool isSupported(Q& query)
    {
        return query.encoderProp() || query.encoderControlProp() || query.firstPelOffsetProp();
    }
    static void persistValues(T&, IQorArchive* archive, LONG flags, Q& query)
    {
        cc_props_b::Archive a(archive, flags);
        if (ccEncoderProp* p = query.encoderProp()) {
            bool b = p->testEncoderEnabled();
            if (a.item(u"TestEncoderEnabled", b)) p->testEncoderEnabled(b);
            b = p->testEncoderDirectionPositive();
            if (a.item(u"TestEncoderDirectionPositive", b)) p->testEncoderDirectionPositive(b);
            bool first = p->triggerFromEncoderFirst(), second = p->triggerFromEncoderSecond();
            bool loaded = a.item(u"TriggerFromEncoderFirst", first);
            if (a.item(u"TriggerFromEncoderSecond", second) || loaded) p->triggerFromEncoder(first, second);
            int32_t steps = static_cast<int32_t>(p->stepsPerLine());
            int32_t sixteenths = static_cast<int32_t>(p->stepSixteenths());
            loaded = a.item(u"StepsPerLine", steps);
            if (a.item(u"StepSixteenths", sixteenths) || loaded)
                p->stepsPerLine(static_cast<uint32_t>(steps), static_cast<uint32_t>(sixteenths));
            int32_t n = p->encoderPort();
            if (a.item(u"EncoderPort", n)) p->encoderPort(n);
            n = p->encoderOffset();
            if (a.item(u"EncoderOffset", n)) p->encoderOffset(n);
            b = p->acquireDirectionPositive();
            if (a.item(u"AcquireDirectionPositive", b)) p->acquireDirectionPositive(b);
            b = p->useSingleChannel();
            if (a.item(u"UseSingleChannel", b)) p->useSingleChannel(b);
            n = p->encoderResolution();
            if (a.item(u"EncoderResolution", n)) p->encoderResolution(n);
            n = static_cast<int32_t>(p->startAcqOnEncoderCount());
            if (a.item(u"StartAcqOnEncoderCount", n)) p->startAcqOnEncoderCount(static_cast<uint32_t>(n));
            b = p->ignoreBackwardsMotionBetweenAcquires();
            if (a.item(u"IgnoreBackwardsMotionBetweenAcquires", b)) p->ignoreBackwardsMotionBetweenAcquires(b);
            b = p->ignoreTooFastEncoder();
            if (a.item(u"IgnoreTooFastEncoder", b)) p->ignoreTooFastEncoder(b);
        }
        if (ccEncoderControlProp* p = query.encoderControlProp()) {
            bool b = p->resetCounterOnHardwareTrigger();
            if (a.item(u"ResetCounterOnHardwareTrigger", b)) p->resetCounterOnHardwareTrigger(b);
        }
        if (ccFirstPelOffsetProp* p = query.firstPelOffsetProp()) {
            int32_t offset = p->firstPelOffset();
            if (a.item(u"FirstPelOffset", offset)) firstPelOffset(*p, offset);
        }
    }

private:
    T& self() { return static_cast<T&>(*this); }
    static void firstPelOffset(ccFirstPelOffsetProp& prop, int32_t value)
    {
        if (value < std::numeric_limits<int8_t>::min() || value > std::numeric_limits<int8_t>::max())
            throw ccFirstPelOffsetProp::BadParams();
        prop.firstPelOffset(static_cast<int8_t>(value));
    }
};

template <class T>
class IQorAcqStrobePulseDurationImpl : public IQorAcqStrobePulseDuration {
public:
    HRESULT get_StrobePulseDuration(double* seconds) override
    {
        return cc_grabber::get(self(), IID_IQorAcqStrobePulseDuration, u"get_StrobePulseDuration", seconds,
                               [](ccAcqPropertyQuery& q) { return q.strobePropRef().strobePulseDuration(); });
    }
    HRESULT put_StrobePulseDuration(double seconds) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcqStrobePulseDuration, u"put_StrobePulseDuration", cc_props_b::kStrobePulseDuration, seconds,
            [](ccAcqPropertyQuery& q) { return q.strobePropRef().strobePulseDuration(); },
            [](ccAcqPropertyQuery& q, double v) { q.strobePropRef().strobePulseDuration(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.strobeProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccStrobeProp& prop = query.strobePropRef();
        double duration = prop.strobePulseDuration();
        if (a.item(u"StrobePulseDuration", duration)) prop.strobePulseDuration(duration);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T>
class IQorAcq1394DCAMImpl : public IQorAcq1394DCAM {
public:
    HRESULT get_CameraBandwidth(double* share) override
    {
        return cc_grabber::get(self(), IID_IQorAcq1394DCAM, u"get_CameraBandwidth", share,
                               [](ccAcqPropertyQuery& q) { return q.cameraBandwidthPropRef().cameraBandwidth(); });
    }
    HRESULT put_CameraBandwidth(double share) override
    {
        return cc_grabber::put(
            self(), IID_IQorAcq1394DCAM, u"put_CameraBandwidth", cc_props_b::kCameraBandwidth, share,
            [](ccAcqPropertyQuery& q) { return q.cameraBandwidthPropRef().cameraBandwidth(); },
            [](ccAcqPropertyQuery& q, double v) { q.cameraBandwidthPropRef().cameraBandwidth(v); });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.cameraBandwidthProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccCameraBandwidthProp& prop = query.cameraBandwidthPropRef();
        double share = prop.cameraBandwidth();
        if (a.item(u"CameraBandwidth", share)) prop.cameraBandwidth(share);
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

// Read only, from the library FIFO; nothing to persist.
template <class T>
class IQorAcqSettingInfoImpl : public IQorAcqSettingInfo {
public:
    HRESULT get_MinExposure(double* seconds) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSettingInfo, u"get_MinExposure", seconds,
                               [this](ccAcqPropertyQuery&) { return self().libraryFifo().minExposure(); });
    }
    HRESULT get_ContrastDefaultValue(double* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSettingInfo, u"get_ContrastDefaultValue", value,
                               [this](ccAcqPropertyQuery&) { return self().libraryFifo().contrastDefaultValue(); });
    }
    HRESULT get_BrightnessDefaultValue(double* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSettingInfo, u"get_BrightnessDefaultValue", value,
                               [this](ccAcqPropertyQuery&) { return self().libraryFifo().brightnessDefaultValue(); });
    }
    HRESULT get_StrobeEnableSupported(VARIANT_BOOL* supported) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSettingInfo, u"get_StrobeEnableSupported", supported,
                               [this](ccAcqPropertyQuery&) { return cc_grabber::toVariantBool(self().libraryFifo().isStrobeEnableSupported()); });
    }
    HRESULT get_StrobePulseDurationSupported(VARIANT_BOOL* supported) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSettingInfo, u"get_StrobePulseDurationSupported", supported,
                               [this](ccAcqPropertyQuery&) { return cc_grabber::toVariantBool(self().libraryFifo().isStrobePulseDurationSupported()); });
    }
    HRESULT get_SupportedSampleXValues(SAFEARRAY** values) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSettingInfo, u"get_SupportedSampleXValues", values,
                               [this](ccAcqPropertyQuery&) { return array(self().libraryFifo().supportedSampleXValues()); });
    }
    HRESULT get_SupportedSampleYValues(SAFEARRAY** values) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSettingInfo, u"get_SupportedSampleYValues", values,
                               [this](ccAcqPropertyQuery&) { return array(self().libraryFifo().supportedSampleYValues()); });
    }

    // Every FIFO reports of itself.
    static bool isSupported(ccAcqPropertyQuery&) { return true; }
    static void persistValues(T&, IQorArchive*, LONG, ccAcqPropertyQuery&) {}

private:
    T& self() { return static_cast<T&>(*this); }
    // A one-dimensional VT_I4 array from 0; none is an empty one.
    static SAFEARRAY* array(const std::vector<int32_t>* values)
    {
        SAFEARRAYBOUND bound = {values ? static_cast<ULONG>(values->size()) : 0, 0};
        SAFEARRAY* result = SafeArrayCreate(VT_I4, 1, &bound);
        if (!result) throw ccCOMError(E_OUTOFMEMORY, 0);
        if (bound.cElements == 0) return result;
        void* data = nullptr;
        const HRESULT hr = SafeArrayAccessData(result, &data);
        if (FAILED(hr)) {
            SafeArrayDestroy(result);
            throw ccCOMError(hr, 0);
        }
        std::copy(values->begin(), values->end(), static_cast<LONG*>(data));
        SafeArrayUnaccessData(result);
        return result;
    }
};

template <class T>
class IQorAcqCustomPropertiesImpl : public IQorAcqCustomProperties {
public:
    HRESULT get_CustomProperties(BSTR* text) override
    {
        return self().propertyCall(IID_IQorAcqCustomProperties, u"get_CustomProperties", [&](ccAcqPropertyQuery& q) {
            if (!text) throw ccCOMError(E_POINTER, 0);
            *text = cc_grabber::newBstr(q.customPropRef().customProps().asString());
            return S_OK;
        });
    }
    // The text is parsed first: one that does not parse leaves the bag.
    HRESULT put_CustomProperties(BSTR text) override
    {
        // The text is converted inside the call, whose handler reports a failure.
        return cc_grabber::change(self(), IID_IQorAcqCustomProperties, u"put_CustomProperties",
            cc_props_b::kCustomProperties, [&](ccAcqPropertyQuery& q) {
                const std::wstring value = plat::com::wideFromBstr(text);
                if (q.customPropRef().customProps().asString() == value) return false;
                set(q.customPropRef(), value);
                return true;
            });
    }

    static bool isSupported(ccAcqPropertyQuery& query) { return query.customProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_b::Archive a(archive, flags);
        ccCustomProp& prop = query.customPropRef();
        std::wstring text = prop.customProps().asString();
        if (a.item(u"CustomProperties", text)) set(prop, text);
    }

private:
    T& self() { return static_cast<T&>(*this); }
    static void set(ccCustomProp& prop, const std::wstring& text)
    {
        ccCustomPropertyBag bag;
        bag.fromString(text);
        prop.customProps(bag);
    }
};
