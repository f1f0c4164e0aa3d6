#include "acq/vidfmt/vidfmt.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "acq/vidfmt/fgimpl.h"
#include "acq/vidfmt/framegrabber.h"
#include "acq/vidfmt/internal/lookup.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "acq/vidfmt/vidfmt_testing.h"
#include "platform/text.h"
#include "std/except/resource.h"

namespace {

enum Extension { kCamera, kVideo, kSignal, kCamLink, kExtensions };

// The registries are read by any thread while the reader or the driver
// module may still add and displace formats, hence the lock; listings hand
// out copies. Made at first use and never destroyed, so that formats going
// at exit still find them.
struct Registries {
    std::shared_mutex lock;
    std::vector<ccVideoFormat*> all;
    std::vector<ccStdVideoFormat*> standard;
    std::vector<const cc_VidFormatExtension*> extensions[kExtensions];
};

Registries& registries()
{
    static Registries* const r = new Registries;
    return *r;
}

std::atomic<bool> g_ccfLoaded{false};
std::atomic<ccVideoFormat::CcfReader> g_ccfReader{nullptr};
// Under the library mutex: a look-up made by the reader itself does not read
// again.
bool g_ccfReading = false;

std::u16string_view nameOf(const ccVideoFormat* format)
{
    const char16_t* name = format->name();
    return name ? std::u16string_view(name) : std::u16string_view();
}

// At the first entry not less than the format's name, displacing an entry of
// the same name.
template <class T>
void enter(std::vector<T*>& registry, T* format)
{
    const std::u16string_view name = nameOf(format);
    auto at = std::lower_bound(registry.begin(), registry.end(), name,
                               [](const T* entry, std::u16string_view n) { return nameOf(entry) < n; });
    if (at != registry.end() && nameOf(*at) == name)
        at = registry.erase(at);
    registry.insert(at, format);
}

// By address alone: the description may already be gone.
template <class T>
void leave(std::vector<T*>& registry, const void* entry)
{
    registry.erase(std::remove_if(registry.begin(), registry.end(), [&](const T* e) { return e == entry; }),
                   registry.end());
}

void addExtension(Extension kind, const cc_VidFormatExtension* record, bool replace)
{
    Registries& r = registries();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    auto& list = r.extensions[kind];
    if (replace)
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const cc_VidFormatExtension* e) { return e->name() == record->name(); }),
                   list.end());
    list.push_back(record);
}

void removeExtension(Extension kind, const cc_VidFormatExtension* record)
{
    Registries& r = registries();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    leave(r.extensions[kind], record);
}

std::atomic<void (*)()> g_lookupHook{nullptr};

// The record is cast while the lock keeps it registered: once the lock is
// released another thread may remove and destroy it.
template <class T>
const T* findExtension(Extension kind, const std::wstring& name)
{
    const T* found = nullptr;
    {
        Registries& r = registries();
        std::shared_lock<std::shared_mutex> hold(r.lock);
        for (const cc_VidFormatExtension* record : r.extensions[kind])
            if (record->name() == name) {
                found = static_cast<const T*>(record);
                break;
            }
    }
    if (void (*hook)() = g_lookupHook.load())
        hook();
    return found;
}

bool isDelimiter(wchar_t c) { return c == L' ' || c == L'\t' || c == L';'; }

void parseName(const std::wstring& name, cc_VidFmtCameraInfo& info)
{
    const wchar_t* const delimiters = L" \t;";
    const size_t first = name.find_first_of(delimiters);
    if (first == std::wstring::npos)
        return;
    info.manufacturer = name.substr(0, first);
    const size_t open = name.find(L'(');
    if (open != std::wstring::npos) {
        const size_t close = name.find(L')', open + 1);
        if (close != std::wstring::npos)
            info.options = name.substr(open + 1, close - open - 1);
    }
    const size_t end = open != std::wstring::npos ? open : name.size();
    std::wstring* const words[] = {&info.model, &info.resolution, &info.driveType};
    size_t at = first;
    for (std::wstring* word : words) {
        while (at < name.size() && isDelimiter(name[at]))
            ++at;
        if (at >= end)
            break;
        size_t stop = name.find_first_of(delimiters, at);
        if (stop == std::wstring::npos)
            stop = name.size();
        *word = name.substr(at, stop - at);
        at = stop;
    }
}

const wchar_t* textOrNull(const cc_VidFmtCameraInfo* info, std::wstring cc_VidFmtCameraInfo::*field)
{
    return info && !(info->*field).empty() ? (info->*field).c_str() : nullptr;
}

const int32_t kModuleCodeOf[20] = {-1, 0, 9, 8, 1, 4, 10, 5, 3, 6, 7, 11, 2, 12, 13, 15, 14, 16, 17, 18};

} // namespace

// Extension records.

void ccSetExtensionLookupHookForTesting(void (*hook)()) { g_lookupHook.store(hook); }

cc_VidFormatExtension::cc_VidFormatExtension(const std::wstring& name) : name_(name) {}
cc_VidFormatExtension::~cc_VidFormatExtension() = default;

cc_VidFmtCameraInfo::cc_VidFmtCameraInfo(const std::wstring& name, bool parse) : cc_VidFormatExtension(name)
{
    if (parse)
        parseName(name, *this);
    addExtension(kCamera, this, false);
}

cc_VidFmtCameraInfo::~cc_VidFmtCameraInfo() { removeExtension(kCamera, this); }

const cc_VidFmtCameraInfo* cc_VidFmtCameraInfo::find(const std::wstring& name)
{
    return findExtension<cc_VidFmtCameraInfo>(kCamera, name);
}

cc_VidFmtVideoInfo::cc_VidFmtVideoInfo(const std::wstring& name) : cc_VidFormatExtension(name)
{
    addExtension(kVideo, this, true);
}

cc_VidFmtVideoInfo::~cc_VidFmtVideoInfo() { removeExtension(kVideo, this); }

const cc_VidFmtVideoInfo* cc_VidFmtVideoInfo::find(const std::wstring& name)
{
    return findExtension<cc_VidFmtVideoInfo>(kVideo, name);
}

cc_VidFmtSignalInfo::cc_VidFmtSignalInfo(const std::wstring& name) : cc_VidFormatExtension(name)
{
    addExtension(kSignal, this, true);
}

cc_VidFmtSignalInfo::~cc_VidFmtSignalInfo() { removeExtension(kSignal, this); }

const cc_VidFmtSignalInfo* cc_VidFmtSignalInfo::find(const std::wstring& name)
{
    return findExtension<cc_VidFmtSignalInfo>(kSignal, name);
}

cc_VidFmtCamLinkInfo::cc_VidFmtCamLinkInfo(const std::wstring& name) : cc_VidFormatExtension(name)
{
    addExtension(kCamLink, this, true);
}

cc_VidFmtCamLinkInfo::~cc_VidFmtCamLinkInfo() { removeExtension(kCamLink, this); }

const cc_VidFmtCamLinkInfo* cc_VidFmtCamLinkInfo::find(const std::wstring& name)
{
    return findExtension<cc_VidFmtCamLinkInfo>(kCamLink, name);
}

cc_VidFmtDesc::cc_VidFmtDesc(const cs_vidFmtRecord* record, int32_t defaultModuleCode,
                             const cs_vidFmtExtensions& own)
    : record_(record), videoInfo_(own.videoInfo), signalInfo_(own.signalInfo), cameraInfo_(own.cameraInfo),
      camLinkInfo_(own.camLinkInfo), defaultModuleCode_(defaultModuleCode)
{
    if (record && record->name)
        if (const cc_VidFmtCameraInfo* builtIn = cf_builtinCameraInfo(record->name))
            cameraInfo_ = builtIn;
}

// Formats.

ccVideoFormat::~ccVideoFormat()
{
    Registries& r = registries();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    leave(r.all, this);
}

const char16_t* ccVideoFormat::name() const { return desc_->record() ? desc_->record()->name : nullptr; }

const wchar_t* ccVideoFormat::cameraManufacturer() const
{
    return textOrNull(desc_->cameraInfo(), &cc_VidFmtCameraInfo::manufacturer);
}
const wchar_t* ccVideoFormat::cameraModel() const
{
    return textOrNull(desc_->cameraInfo(), &cc_VidFmtCameraInfo::model);
}
const wchar_t* ccVideoFormat::formatResolution() const
{
    return textOrNull(desc_->cameraInfo(), &cc_VidFmtCameraInfo::resolution);
}
const wchar_t* ccVideoFormat::formatDriveType() const
{
    return textOrNull(desc_->cameraInfo(), &cc_VidFmtCameraInfo::driveType);
}
const wchar_t* ccVideoFormat::formatOptions() const
{
    return textOrNull(desc_->cameraInfo(), &cc_VidFmtCameraInfo::options);
}

bool ccVideoFormat::cameraInfoFromFile() const { return desc_->cameraInfo() && desc_->cameraInfo()->fromFile; }

const cc_VidFmtDesc& ccVideoFormat::description(bool followAlias) const
{
    const ccVideoFormat* format = this;
    if (!followAlias)
        return *desc_;
    // Files may make a chain that comes back to a format already passed.
    std::vector<const ccVideoFormat*> passed{this};
    for (;;) {
        const cc_VidFmtCameraInfo* info = format->desc_->cameraInfo();
        if (!info || info->alias.empty())
            return *format->desc_;
        format = &getFormat(info->alias);
        if (std::find(passed.begin(), passed.end(), format) != passed.end())
            throw NotFound();
        passed.push_back(format);
    }
}

int32_t ccVideoFormat::defaultPelFormat() const
{
    const cc_VidFmtDesc& description = this->description(true);
    if (description.videoInfo())
        return cf_moduleCodeToPelFormat(description.videoInfo()->pelType);
    const int32_t code = description.defaultModuleCode();
    return code == -1 ? 1 : cf_moduleCodeToPelFormat(code);
}

ccAcqFifo* ccVideoFormat::newAcqFifo(const ccFrameGrabber& grabber, int32_t pelFormat) const
{
    const int32_t code = pelFormat == -1 ? defaultPelFormat() : pelFormat;
    // The code asked for: -1 lets the engine accept any pel format.
    if (!grabber.isVideoFormatSupported(*this, pelFormat))
        throw NotSupported();
    switch (code) {
    case 1: return new ccStdGreyAcqFifo(*this, grabber);
    case 3: return new ccStdRGB16AcqFifo(*this, grabber);
    case 4: return new ccStdRGB32AcqFifo(*this, grabber);
    case 12: return new ccStd3PlaneAcqFifo(*this, grabber);
    default: break;
    }
    cc_FrameGrabber* engine = grabber.frameGrabberImpl();
    const cc_VidFmtDesc& description = this->description(true);
    if (!engine)
        throw ccAcqFifo::CouldNotCreate();
    std::unique_ptr<cc_AcqFifo> impl(engine->newAcqFifoImpl(description, cf_pelFormatToModuleCode(code)));
    return new ccStdAcqFifo(std::move(impl), *this, grabber, code);
}

bool ccVideoFormat::isRestrictedOn(const ccFrameGrabber& grabber) const
{
    cc_FrameGrabber* engine = grabber.frameGrabberImpl();
    return engine && engine->isFormatRestricted(description(true));
}

std::wstring cf_wideName(const char16_t* name)
{
    return name ? plat::wideFromUtf16(name, std::char_traits<char16_t>::length(name)) : std::wstring();
}

ccVideoFormat* cf_findRegisteredFormat(std::u16string_view name)
{
    Registries& r = registries();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    for (ccVideoFormat* format : r.all)
        if (nameOf(format) == name)
            return format;
    return nullptr;
}

ccVideoFormat& ccVideoFormat::getFormat(const std::wstring& name)
{
    ensureCcfFormatsLoaded();
    ccVideoFormat* format = cf_findRegisteredFormat(plat::utf16FromWide(name));
    if (!format)
        throw NotFound();
    return *format;
}

std::vector<ccVideoFormat*> ccVideoFormat::allFormats()
{
    ensureCcfFormatsLoaded();
    Registries& r = registries();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    return r.all;
}

std::vector<ccStdVideoFormat*> ccVideoFormat::allStdFormats()
{
    ensureCcfFormatsLoaded();
    Registries& r = registries();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    return r.standard;
}

void ccVideoFormat::ensureCcfFormatsLoaded()
{
    if (g_ccfLoaded.load(std::memory_order_acquire))
        return;
    ccResourceLock hold(ccLibraryMutex());
    if (g_ccfLoaded.load(std::memory_order_acquire) || g_ccfReading)
        return;
    const CcfReader reader = g_ccfReader.load(std::memory_order_acquire);
    // A reader that throws leaves the flag clear: the next look-up reads again.
    struct Reading {
        Reading() { g_ccfReading = true; }
        ~Reading() { g_ccfReading = false; }
    } reading;
    const bool loaded = reader ? reader() : true;
    g_ccfLoaded.store(loaded, std::memory_order_release);
}

void ccVideoFormat::installCcfReader(CcfReader reader)
{
    ccResourceLock hold(ccLibraryMutex());
    g_ccfReader.store(reader, std::memory_order_release);
    g_ccfLoaded.store(false, std::memory_order_release);
}

ccAcqFifo* ccStdGreyVideoFormat::newAcqFifo(const ccFrameGrabber& grabber) const { return newGreyAcqFifo(grabber); }

ccGreyAcqFifo* ccStdGreyVideoFormat::newGreyAcqFifo(const ccFrameGrabber& grabber) const
{
    if (!grabber.supportsGreyFormat(*this))
        throw NotSupported();
    return new ccStdGreyAcqFifo(*this, grabber);
}

ccStdVideoFormat::ccStdVideoFormat(const cc_VidFmtDesc* description) : ccStdGreyVideoFormat(description)
{
    if (!description->record() || !description->record()->registered)
        return;
    Registries& r = registries();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    enter(r.all, static_cast<ccVideoFormat*>(this));
    enter(r.standard, this);
}

ccStdVideoFormat::~ccStdVideoFormat()
{
    Registries& r = registries();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    leave(r.standard, this);
}

int32_t cf_pelFormatToModuleCode(int32_t pelFormat)
{
    return pelFormat >= 1 && pelFormat <= 19 ? kModuleCodeOf[pelFormat] : -1;
}

int32_t cf_moduleCodeToPelFormat(int32_t moduleCode)
{
    for (int32_t code = 1; code <= 19; ++code)
        if (kModuleCodeOf[code] == moduleCode)
            return code;
    return -1;
}

std::vector<ccVideoFormat*> cf_formatsSupportedBy(const std::vector<ccVideoFormat*>& formats,
                                                  const ccFrameGrabber& grabber, int32_t pelFormat)
{
    std::vector<ccVideoFormat*> supported;
    for (ccVideoFormat* format : formats)
        if (grabber.isVideoFormatSupported(*format, pelFormat))
            supported.push_back(format);
    return supported;
}
