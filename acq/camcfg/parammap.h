// The vocabulary of a camera-configuration file: every section and key, the
// entry number its value is stored under and the kind of entry that holds it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "acq/camcfg/entry.h"
#include "std/except/except.h"
#include "std/ptrhandle.h"

class cc_CCFParameterMap {
public:
    // For an entry number outside the rows; the map itself never raises it.
    cmDeclareException(BadIndex, ccException, 0x10005A20u, "class cc_CCFParameterMap::BadIndex");

    // The entry numbers, by key.
    enum Key : uint32_t {
        kName = 0, kWidth = 1, kHeight = 2, kVideoInterface = 3, kInputWidth = 4, kVideoEncoding = 5,
        kBitsPerPel = 6, kPeltype = 7, kTaps = 8, kTapInterleave = 9, kColorPlaneOrder = 10, kHdDirection = 11,
        kHdInterface = 12, kHdSignal = 13, kHdPolarity = 14, kHorizReference = 15, kHorizReferenceType = 16,
        kHlockPosition = 17, kVdDirection = 18, kVdInterface = 19, kVdSignal = 20, kVdPolarity = 21,
        kVerticalReference = 22, kVerticalReferenceType = 23, kVlockPosition = 24, kCtrl1Direction = 25,
        kCtrl1Interface = 26, kCtrl1Polarity = 27, kCtrl2Direction = 28, kCtrl2Interface = 29,
        kCtrl2Polarity = 30, kPclkDirection = 31, kPclkSource = 32, kPclkInterface = 33, kPclkFrequency = 34,
        kHtotal = 35, kVtotal = 36, kNumberOfFields = 37, kAoiPerField = 38, kXSubsampling = 39,
        kInterlace = 40, kHdrive = 41, kHsync = 42, kHeq = 43, kHvsync = 44, kHsample = 45, kHctrl1 = 46,
        kHctrl2 = 47, kVdrive = 48, kVsync = 49, kVsample = 50, kVaoi = 51, kVstrobe = 52, kVctrl1 = 53,
        kVctrl2 = 54, kActiveStart = 55, kRapidReset = 56, kRapidResetMinPosition = 57, kShutterMode = 58,
        kShutterMinExposure = 59, kShutterMaxExposure = 60, kShutterAdjustmentGranularity = 61,
        kShutterLine = 62, kShutterPerField = 63, kCtiEndField0 = 64, kCtiEndField1 = 65, kCtiWidthMin = 66,
        kSettlingTime = 67, kStrobeMode = 68, kInitAcqCount = 69, kOriginInField0 = 70,
        kCameraManufacturer = 71, kCameraModel = 72, kFormatResolution = 73, kFormatDriveType = 74,
        kFormatOptions = 75, kFormatAlias = 76, kImShutterCapable = 77, kDcamFormat = 78, kDcamMode = 79,
        kDcamTopy = 80, kDcamFps = 81, kDcamTriggermode = 82, kDcamColorcoding = 83, kDcamBytesperpacket = 84,
        kDcamShutterRelAdjValue = 85, kDcamMatchExactManufacturer = 86, kDcamMatchExactModel = 87,
        kCamLinkVfalias = 88, kVsVersion = 89, kVsRevision = 90, kCcfVersion = 91, kCcfBuildNumber = 92,
    };

    typedef ccPtrHandle<cc_camCfgEntry> (*Factory)();
    struct Row {
        uint32_t index;        // the entry number in the store
        const wchar_t* section;
        std::wstring key;
        Factory factory;       // a new, empty entry of the key's kind
    };
    static constexpr uint32_t kRowCount = 93;

    // The rows in entry-number order, made once.
    static const std::vector<Row>& rows();
    // The row of a section and key (exact, case-sensitive); null for none.
    static const Row* find(const std::wstring& section, const std::wstring& key);
};
