// The second group of the acquisition FIFO's property interfaces, each a dual
// interface with a mixin that implements it for the FIFO object class T.
//
// T provides propertyCall (runs a body with the library FIFO's property
// query inside T's error handler and lock) and propertyChanged (after a put
// changed a value). IQorAcqSettingInfo also needs libraryFifo(): the library
// FIFO, called only inside a propertyCall body.
#pragma once
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "acq/acqfifo.h"
#include "acq/hyper/prop/camban.h"
#include "acq/hyper/prop/camctl.h"
#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/lsprops.h"
#include "acq/hyper/prop/offsetclamp.h"
#include "acq/hyper/prop/propquery.h"
#include "acq/hyper/prop/readdir.h"
#include "acq/hyper/prop/roi.h"
#include "acq/hyper/prop/sample.h"
#include "acq/hyper/prop/strobe.h"
#include "acq/hyper/prop/triggerfilter.h"
#include "comframe/archive.h"
#include "comframe/comerror.h"
#include "comframe/objectitfs.h"
#include "platform/com/bstr.h"
#include "platform/com/safearray.h"

// The digital camera's master clock, in MHz.
struct IQorAcqMasterClockFrequency : IDispatch {
    virtual HRESULT get_MasterClockFrequency(double* value) = 0;
    virtual HRESULT put_MasterClockFrequency(double value) = 0;
};

// The region of interest, its mode and the board's limits.
struct IQorAcqROI : IDispatch {
    virtual HRESULT GetROI(LONG* x, LONG* y, LONG* width, LONG* height) = 0;
    virtual HRESULT SetROI(LONG x, LONG y, LONG width, LONG height) = 0;
    virtual HRESULT get_ROIMode(LONG* mode) = 0;
    virtual HRESULT put_ROIMode(LONG mode) = 0;
    virtual HRESULT IsROIModeSupported(LONG mode, VARIANT_BOOL* supported) = 0;
    virtual HRESULT GetROILimits(LONG* x, LONG* y, LONG* width, LONG* height) = 0;
};

// Simultaneous acquisition on several ports: this system has nothing behind
// it, so no FIFO answers it.
struct IQorAcqSimultaneous : IDispatch {
};

struct IQorAcqOffsetClamp : IDispatch {
    virtual HRESULT get_OffsetClampMode(LONG* mode) = 0;
    virtual HRESULT put_OffsetClampMode(LONG mode) = 0;
};

// Sub-sampling factors; IQorAcqSettingInfo lists the supported ones.
struct IQorAcqSample : IDispatch {
    virtual HRESULT get_SampleX(LONG* factor) = 0;
    virtual HRESULT put_SampleX(LONG factor) = 0;
    virtual HRESULT get_SampleY(LONG* factor) = 0;
    virtual HRESULT put_SampleY(LONG factor) = 0;
};

struct IQorAcqReadoutDirection : IDispatch {
    virtual HRESULT get_HorizontalReadoutReversed(VARIANT_BOOL* reversed) = 0;
    virtual HRESULT put_HorizontalReadoutReversed(VARIANT_BOOL reversed) = 0;
    virtual HRESULT get_VerticalReadoutReversed(VARIANT_BOOL* reversed) = 0;
    virtual HRESULT put_VerticalReadoutReversed(VARIANT_BOOL reversed) = 0;
};

// Times in seconds.
struct IQorAcqTriggerFilter : IDispatch {
    virtual HRESULT get_MinTriggerWidth(double* seconds) = 0;
    virtual HRESULT put_MinTriggerWidth(double seconds) = 0;
    virtual HRESULT get_MinTriggerPeriod(double* seconds) = 0;
    virtual HRESULT put_MinTriggerPeriod(double seconds) = 0;
    virtual HRESULT get_TriggerDelay(double* seconds) = 0;
    virtual HRESULT put_TriggerDelay(double seconds) = 0;
    virtual HRESULT get_IgnoreMissedTrigger(VARIANT_BOOL* ignore) = 0;
    virtual HRESULT put_IgnoreMissedTrigger(VARIANT_BOOL ignore) = 0;
};

struct IQorAcqStrobeDelay : IDispatch {
    virtual HRESULT get_StrobeDelay(double* seconds) = 0;
    virtual HRESULT put_StrobeDelay(double seconds) = 0;
};

struct IQorAcqCameraCalibration : IDispatch {
    virtual HRESULT get_OutlierPixelCorrectionEnabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT put_OutlierPixelCorrectionEnabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT get_RowColumnCalibrationEnabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT put_RowColumnCalibrationEnabled(VARIANT_BOOL enabled) = 0;
};

// The motion encoder, its counter and the first pel of each line.
struct IQorAcqLineScan : IDispatch {
    virtual HRESULT get_TestEncoderEnabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT put_TestEncoderEnabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT get_TestEncoderDirectionPositive(VARIANT_BOOL* positive) = 0;
    virtual HRESULT put_TestEncoderDirectionPositive(VARIANT_BOOL positive) = 0;
    virtual HRESULT get_TriggerFromEncoderFirst(VARIANT_BOOL* trigger) = 0;
    virtual HRESULT put_TriggerFromEncoderFirst(VARIANT_BOOL trigger) = 0;
    virtual HRESULT get_TriggerFromEncoderSecond(VARIANT_BOOL* trigger) = 0;
    virtual HRESULT put_TriggerFromEncoderSecond(VARIANT_BOOL trigger) = 0;
    virtual HRESULT get_StepsPerLine(LONG* steps) = 0;
    virtual HRESULT put_StepsPerLine(LONG steps) = 0;
    virtual HRESULT get_StepSixteenths(LONG* sixteenths) = 0;
    virtual HRESULT put_StepSixteenths(LONG sixteenths) = 0;
    virtual HRESULT get_EncoderPort(LONG* port) = 0;
    virtual HRESULT put_EncoderPort(LONG port) = 0;
    virtual HRESULT get_NumEncoderPorts(LONG* count) = 0;
    virtual HRESULT get_EncoderOffset(LONG* offset) = 0;
    virtual HRESULT put_EncoderOffset(LONG offset) = 0;
    virtual HRESULT get_AcquireDirectionPositive(VARIANT_BOOL* positive) = 0;
    virtual HRESULT put_AcquireDirectionPositive(VARIANT_BOOL positive) = 0;
    virtual HRESULT get_UseSingleChannel(VARIANT_BOOL* single) = 0;
    virtual HRESULT put_UseSingleChannel(VARIANT_BOOL single) = 0;
    virtual HRESULT get_EncoderResolution(LONG* resolution) = 0;
    virtual HRESULT put_EncoderResolution(LONG resolution) = 0;
    virtual HRESULT get_StartAcqOnEncoderCount(LONG* count) = 0;
    virtual HRESULT put_StartAcqOnEncoderCount(LONG count) = 0;
    virtual HRESULT get_IgnoreBackwardsMotionBetweenAcquires(VARIANT_BOOL* ignore) = 0;
    virtual HRESULT put_IgnoreBackwardsMotionBetweenAcquires(VARIANT_BOOL ignore) = 0;
    virtual HRESULT get_IgnoreTooFastEncoder(VARIANT_BOOL* ignore) = 0;
    virtual HRESULT put_IgnoreTooFastEncoder(VARIANT_BOOL ignore) = 0;
    virtual HRESULT get_ResetCounterOnHardwareTrigger(VARIANT_BOOL* reset) = 0;
    virtual HRESULT put_ResetCounterOnHardwareTrigger(VARIANT_BOOL reset) = 0;
    virtual HRESULT ResetCounter() = 0;
    // The counter's 32 bits.
    virtual HRESULT get_CurrentEncoderCount(LONG* count) = 0;
    virtual HRESULT get_FirstPelOffset(LONG* offset) = 0;
    virtual HRESULT put_FirstPelOffset(LONG offset) = 0;
};

struct IQorAcqStrobePulseDuration : IDispatch {
    virtual HRESULT get_StrobePulseDuration(double* seconds) = 0;
    virtual HRESULT put_StrobePulseDuration(double seconds) = 0;
};

// The share of the bus a 1394 camera may take, 0 to 1.
struct IQorAcq1394DCAM : IDispatch {
    virtual HRESULT get_CameraBandwidth(double* share) = 0;
    virtual HRESULT put_CameraBandwidth(double share) = 0;
};

// What the FIFO reports of itself. A sample list is empty when the FIFO has
// no such factor.
struct IQorAcqSettingInfo : IDispatch {
    virtual HRESULT get_MinExposure(double* seconds) = 0;
    virtual HRESULT get_ContrastDefaultValue(double* value) = 0;
    virtual HRESULT get_BrightnessDefaultValue(double* value) = 0;
    virtual HRESULT get_StrobeEnableSupported(VARIANT_BOOL* supported) = 0;
    virtual HRESULT get_StrobePulseDurationSupported(VARIANT_BOOL* supported) = 0;
    virtual HRESULT get_SupportedSampleXValues(SAFEARRAY** values) = 0;
    virtual HRESULT get_SupportedSampleYValues(SAFEARRAY** values) = 0;
};

// The custom property bag in its text form: one record a line, "Command"
// TAB name or "Write" TAB name TAB value, each ended by LF then CR.
struct IQorAcqCustomProperties : IDispatch {
    virtual HRESULT get_CustomProperties(BSTR* text) = 0;
    virtual HRESULT put_CustomProperties(BSTR text) = 0;
};

#include "grabber/props_b.h"
