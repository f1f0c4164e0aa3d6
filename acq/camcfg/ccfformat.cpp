#include "acq/camcfg/ccfformat.h"

#include <map>

#include "acq/camcfg/parammap.h"
#include "acq/camcfg/storage.h"
#include "acq/camcfg/strhelper.h"
#include "platform/text.h"
#include "std/except/resource.h"
#include "std/numtext.h"

using namespace cc_ccfEnums;
typedef cc_CCFParameterMap Map;

namespace {

// The store's value of a key, when it has one of type T, into the field.
template <class T, class Field>
void take(const cc_camCfgStore& store, uint32_t key, Field& field)
{
    T value;
    if (store.get(key, &value))
        field = static_cast<Field>(value);
}

void reportError(cc_camCfgStore& store, const std::wstring& section, const std::wstring& key, int32_t lineNumber,
                 const wchar_t* reason)
{
    std::wstring message = L": Parse error";
    if (lineNumber != -1)
        message += L" on Line [" + ccIntToWString(lineNumber) + L"]";
    message += L": ";
    message += reason;
    store.addError(section, key, message);
}

} // namespace

// Lines.

void cf_parseCcfLine(cc_camCfgStore& store, const std::wstring& line, int32_t lineNumber, const std::wstring* comment)
{
    std::wstring rest = line;
    const std::wstring section = cc_AcqStringHelper::nextToken(rest);
    if (section.empty())
        return;
    const std::wstring key = cc_AcqStringHelper::nextToken(rest);
    const Map::Row* row = Map::find(section, key);
    if (!row) {
        reportError(store, section, key, lineNumber, L"Mapping Error");
        return;
    }
    ccPtrHandle<cc_camCfgEntry> entry = store.entry(row->index);
    const bool made = !entry;
    if (made)
        entry = row->factory();
    cc_AcqStringHelper::expectEquals(rest);
    if (!entry->convertText(rest, false, 0)) {
        reportError(store, section, key, lineNumber, L"Bad Enum Value");
        return;
    }
    if (comment)
        entry->comment() += *comment;
    if (made)
        store.setEntry(row->index, entry);
}

ccPtrHandle<cc_camCfgStore> cf_buildCamCfgStore(const cc_ccfFileInfo& file, cc_camCfgStore* given,
                                                uint32_t* failedLine)
{
    ccPtrHandle<cc_camCfgStore> store = given ? given : new cc_camCfgStore;
    if (const std::wstring* header = file.comment(0))
        store->description() += *header;
    for (size_t i = 0; i < file.numLines(); ++i) {
        const uint32_t number = file.lineNumber(i);
        try {
            cf_parseCcfLine(*store, file.line(i), static_cast<int32_t>(number), file.comment(number));
        } catch (...) {
            if (failedLine)
                *failedLine = number;
            throw;
        }
    }
    return store;
}

// Formats.

bool cf_formatFromStore(const cc_camCfgStore& store)
{
    std::wstring name;
    if (!store.get(Map::kName, &name) || name.empty())
        return false;
    ccResourceLock hold(ccLibraryMutex());
    const ccPtrHandle<cc_vfStorage> storage = cc_vfStorageCache::replace(name);
    cs_vidFmtRecord& record = storage->record();
    take<int32_t>(store, Map::kWidth, record.width);
    take<int32_t>(store, Map::kHeight, record.height);
    take<int32_t>(store, Map::kBitsPerPel, record.depth);
    take<bool>(store, Map::kInterlace, record.interlaced);

    cc_VidFmtCameraInfo& camera = storage->cameraInfo();
    cf_loadCameraInfo(camera, store);
    if (camera.alias.empty()) {
        cc_VidFmtVideoInfo& video = storage->videoInfo();
        cc_VidFmtSignalInfo& signal = storage->signalInfo();
        cf_loadVideoInfo(video, store);
        cf_loadSignalInfo(signal, store);
        if (video.videoInterface == 4) // cameralink
            cf_loadCamLinkInfo(storage->camLinkInfo(), store);
        // An analog or parallel digital camera drives the timing itself when
        // any of its signals comes in or the pixel clock is locked to it or
        // taken from outside; otherwise the board drives it.
        if (video.videoInterface < 0 || video.videoInterface > 2)
            record.boardDriven = 1;
        else {
            const int32_t in = 0, pll = 1, external = 2;
            const bool anyIn = signal.hdDirection == in || signal.vdDirection == in || signal.ctrl1Direction == in
                               || signal.ctrl2Direction == in || signal.pclkDirection == in;
            record.boardDriven = !anyIn && video.pclkSource != pll && video.pclkSource != external;
        }
    }
    storage->makeFormat(-1);
    return true;
}

// Storage.

cc_vfStorage::cc_vfStorage(const std::wstring& name)
    : name_(name), utf16Name_(plat::utf16FromWide(name)), record_{utf16Name_.c_str(), -1, -1, -1, 0, 0, 1, 0}
{
}

cc_vfStorage::~cc_vfStorage()
{
    format_.reset();
    description_.reset();
    videoInfo_.reset();
    signalInfo_.reset();
    cameraInfo_.reset();
    camLinkInfo_.reset();
}

cc_VidFmtVideoInfo& cc_vfStorage::videoInfo()
{
    if (!videoInfo_)
        videoInfo_ = std::make_unique<cc_VidFmtVideoInfo>(name_);
    return *videoInfo_;
}

cc_VidFmtSignalInfo& cc_vfStorage::signalInfo()
{
    if (!signalInfo_)
        signalInfo_ = std::make_unique<cc_VidFmtSignalInfo>(name_);
    return *signalInfo_;
}

cc_VidFmtCameraInfo& cc_vfStorage::cameraInfo()
{
    if (!cameraInfo_)
        cameraInfo_ = std::make_unique<cc_VidFmtCameraInfo>(name_, true);
    return *cameraInfo_;
}

cc_VidFmtCamLinkInfo& cc_vfStorage::camLinkInfo()
{
    if (!camLinkInfo_)
        camLinkInfo_ = std::make_unique<cc_VidFmtCamLinkInfo>(name_);
    return *camLinkInfo_;
}

cs_vidFmtExtensions cc_vfStorage::extensions() const
{
    cs_vidFmtExtensions own;
    own.videoInfo = videoInfo_.get();
    own.signalInfo = signalInfo_.get();
    own.cameraInfo = cameraInfo_.get();
    own.camLinkInfo = camLinkInfo_.get();
    return own;
}

ccStdVideoFormat& cc_vfStorage::makeFormat(int32_t defaultModuleCode)
{
    if (!format_) {
        description_ = std::make_unique<cc_VidFmtDesc>(&record_, defaultModuleCode, extensions());
        format_ = std::make_unique<ccStdVideoFormat>(description_.get());
    }
    return *format_;
}

namespace {

typedef std::map<std::wstring, ccPtrHandle<cc_vfStorage>> Storages;

Storages& storages()
{
    static Storages* const cache = new Storages;
    return *cache;
}

} // namespace

ccPtrHandle<cc_vfStorage> cc_vfStorageCache::replace(const std::wstring& name)
{
    ccResourceLock hold(ccLibraryMutex());
    ccPtrHandle<cc_vfStorage>& slot = storages()[name];
    // The earlier storage goes first: its records leave the registries
    // before the new ones enter.
    slot = nullptr;
    slot = new cc_vfStorage(name);
    return slot;
}

ccPtrHandle<cc_vfStorage> cc_vfStorageCache::find(const std::wstring& name)
{
    ccResourceLock hold(ccLibraryMutex());
    const auto found = storages().find(name);
    return found == storages().end() ? ccPtrHandle<cc_vfStorage>() : found->second;
}

// Records.

void cf_loadCameraInfo(cc_VidFmtCameraInfo& info, const cc_camCfgStore& store)
{
    take<std::wstring>(store, Map::kFormatAlias, info.alias);
    take<std::wstring>(store, Map::kCameraManufacturer, info.manufacturer);
    take<std::wstring>(store, Map::kCameraModel, info.model);
    take<std::wstring>(store, Map::kFormatResolution, info.resolution);
    take<std::wstring>(store, Map::kFormatDriveType, info.driveType);
    take<std::wstring>(store, Map::kFormatOptions, info.options);
    info.fromFile = true;
}

void cf_loadVideoInfo(cc_VidFmtVideoInfo& info, const cc_camCfgStore& store)
{
    take<ce_vidInterface>(store, Map::kVideoInterface, info.videoInterface);
    take<ce_vidEncode>(store, Map::kVideoEncoding, info.videoEncoding);
    take<int32_t>(store, Map::kBitsPerPel, info.bitsPerPel);
    // The names of the pel types are in module pel-format code order.
    take<ce_pelType>(store, Map::kPeltype, info.pelType);
    take<int32_t>(store, Map::kTaps, info.taps);
    take<ce_sigReference>(store, Map::kHorizReference, info.horizReference);
    take<ce_sigReference>(store, Map::kVerticalReference, info.verticalReference);
    take<ce_pclkSource>(store, Map::kPclkSource, info.pclkSource);
    take<double>(store, Map::kPclkFrequency, info.pclkFrequency);
    take<int32_t>(store, Map::kActiveStart, info.activeStart);
    take<int32_t>(store, Map::kHtotal, info.htotal);
    take<int32_t>(store, Map::kVtotal, info.vtotal);
    take<int32_t>(store, Map::kNumberOfFields, info.numberOfFields);
    take<int32_t>(store, Map::kXSubsampling, info.xSubsampling);
    take<ce_shutterMode>(store, Map::kShutterMode, info.shutterMode);
    take<ce_strobeMode>(store, Map::kStrobeMode, info.strobeMode);
    take<double>(store, Map::kCtiWidthMin, info.ctiWidthMin);
    take<double>(store, Map::kCtiEndField0, info.ctiEndField0);
    take<double>(store, Map::kCcfVersion, info.fileVersion);
}

void cf_loadSignalInfo(cc_VidFmtSignalInfo& info, const cc_camCfgStore& store)
{
    info.inputWidth = -1;
    info.tapInterleave = 4;
    info.colorPlaneOrder = 0;
    info.hdPolarity = info.vdPolarity = info.ctrl1Polarity = info.ctrl2Polarity = 2;
    info.hdReferenceType = info.vdReferenceType = 2;
    info.hlockPosition = -1;
    info.vlockPosition = -1.0;
    info.ctrl1Interface = info.ctrl2Interface = 3;
    info.pclkDirection = info.pclkInterface = 3;
    info.shutterMinExposure = info.shutterMaxExposure = -1.0;
    info.shutterGranularity = 2;
    info.shutterLine = 3;
    info.ctiEndField0 = -1.0;
    info.rapidResetMinPosition = INT32_MIN;

    take<int32_t>(store, Map::kInputWidth, info.inputWidth);
    take<ce_tapInterleave>(store, Map::kTapInterleave, info.tapInterleave);
    take<ce_colorPlaneOrder>(store, Map::kColorPlaneOrder, info.colorPlaneOrder);
    take<ce_direction>(store, Map::kHdDirection, info.hdDirection);
    take<ce_refType>(store, Map::kHorizReferenceType, info.hdReferenceType);
    take<ce_interface>(store, Map::kHdInterface, info.hdInterface);
    take<ce_hdSignal>(store, Map::kHdSignal, info.hdSignal);
    take<ce_polarity>(store, Map::kHdPolarity, info.hdPolarity);
    take<int32_t>(store, Map::kHlockPosition, info.hlockPosition);
    take<ce_direction>(store, Map::kVdDirection, info.vdDirection);
    take<ce_refType>(store, Map::kVerticalReferenceType, info.vdReferenceType);
    take<ce_interface>(store, Map::kVdInterface, info.vdInterface);
    take<ce_vdSignal>(store, Map::kVdSignal, info.vdSignal);
    take<ce_polarity>(store, Map::kVdPolarity, info.vdPolarity);
    take<double>(store, Map::kVlockPosition, info.vlockPosition);
    take<ce_direction>(store, Map::kCtrl1Direction, info.ctrl1Direction);
    take<ce_interface>(store, Map::kCtrl1Interface, info.ctrl1Interface);
    take<ce_polarity>(store, Map::kCtrl1Polarity, info.ctrl1Polarity);
    take<ce_direction>(store, Map::kCtrl2Direction, info.ctrl2Direction);
    take<ce_interface>(store, Map::kCtrl2Interface, info.ctrl2Interface);
    take<ce_polarity>(store, Map::kCtrl2Polarity, info.ctrl2Polarity);
    take<ce_direction>(store, Map::kPclkDirection, info.pclkDirection);
    take<ce_interface>(store, Map::kPclkInterface, info.pclkInterface);
    take<int32_t>(store, Map::kAoiPerField, info.aoiPerField);
    take<double>(store, Map::kShutterMinExposure, info.shutterMinExposure);
    take<double>(store, Map::kShutterMaxExposure, info.shutterMaxExposure);
    take<ce_shutterGranularity>(store, Map::kShutterAdjustmentGranularity, info.shutterGranularity);
    take<ce_shutterLine>(store, Map::kShutterLine, info.shutterLine);
    take<double>(store, Map::kCtiEndField0, info.ctiEndField0);
    take<bool>(store, Map::kRapidReset, info.rapidReset);
    take<int32_t>(store, Map::kRapidResetMinPosition, info.rapidResetMinPosition);
    take<bool>(store, Map::kShutterPerField, info.shutterPerField);
    take<int32_t>(store, Map::kInitAcqCount, info.initAcqCount);
    take<bool>(store, Map::kOriginInField0, info.originInField0);
    take<bool>(store, Map::kImShutterCapable, info.shutterCapable);
}

void cf_loadCamLinkInfo(cc_VidFmtCamLinkInfo& info, const cc_camCfgStore& store)
{
    info.alias.clear();
    take<std::wstring>(store, Map::kCamLinkVfalias, info.alias);
}
