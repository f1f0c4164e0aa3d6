#include "modules/imaging.h"

#include <algorithm>
#include <mutex>
#include <typeinfo>

#include "modules/fgproxy.h"
#include "platform/text.h"

namespace {

// What the module is handed of a name or value.
constexpr size_t kSentUnits = 255;
// featureKind refuses a longer name outright.
constexpr size_t kKindNameUnits = 256;
// A length the module reports beyond this is read only this far.
constexpr uint32_t kMaxTextUnits = 65536;

// The first limit UTF-16 units of text, never half a surrogate pair.
std::u16string cut(const std::wstring& text, size_t limit)
{
    std::u16string units = plat::utf16FromWide(text);
    if (units.size() > limit) {
        units.resize(limit);
        if ((units.back() & 0xFC00) == 0xD800)
            units.pop_back();
    }
    return units;
}

std::wstring upToZero(const char16_t* units, size_t capacity)
{
    return plat::wideFromUtf16(units, std::find(units, units + capacity, u'\0') - units);
}

// The engine of a board reached through a module; made when needed. A board
// that is closed raises ccUnknownFG::MissingFunctionality.
cc_UnknownFrameGrabber& engineOf(const ccFrameGrabber& board)
{
    auto* engine = dynamic_cast<cc_UnknownFrameGrabber*>(board.frameGrabberImpl());
    if (engine == nullptr)
        throw ccUnknownFG::MissingFunctionality();
    return *engine;
}

void check(const ccFrameGrabber& board, int32_t status)
{
    if (status != 0)
        engineOf(board).throwModuleError(status);
}

// A text read in two calls, its length first (as 23 slot 8 and 101 slot 4
// give it). read(length, buffer) is the module call.
template <class Read>
std::wstring twoCallText(const ccFrameGrabber& board, Read read)
{
    uint32_t length = 0;
    check(board, read(&length, nullptr));
    if (length == 0)
        return std::wstring();
    const uint32_t capacity = std::min(length, kMaxTextUnits);
    // One unit more than the module may write: the text always ends.
    std::u16string buffer(size_t{capacity} + 1, u'\0');
    uint32_t written = capacity;
    check(board, read(&written, buffer.data()));
    return upToZero(buffer.data(), std::min(written, capacity));
}

// The serial number from the core a device interface answers.
std::wstring serialFrom(const ccFrameGrabber& board, ccIUnknown* device)
{
    cc_ModPtr<ccIGrabber_Core> core = ccModQuery<ccIGrabber_Core>(device, ccIidGrabberCore);
    if (!core)
        throw ccUnknownFG::MissingFunctionality();
    return twoCallText(board, [&](uint32_t* length, char16_t* buffer) { return core->serialNumber(length, buffer); });
}

// The board interface, with a reference of its own, when it answers id.
cc_ModPtr<ccIUnknown> recognised(ccIUnknown* board, int32_t id)
{
    if (!ccModQuery<ccIUnknown>(board, id))
        return {};
    board->addRef();
    return cc_ModPtr<ccIUnknown>(board);
}

} // namespace

// ---- cc_ModFeatures ----

cc_ModFeatures::cc_ModFeatures(ccFrameGrabber& board, cc_ModPtr<ccIDevice_Features> features)
    : board_(board), features_(std::move(features))
{
}

ccIDevice_Features& cc_ModFeatures::required() const
{
    if (!features_)
        throw ccUnknownFG::MissingFunctionality();
    return *features_.get();
}

void cc_ModFeatures::execute(const std::wstring& name)
{
    ccIDevice_Features& features = required();
    check(board_, features.execute(cut(name, kSentUnits).c_str()));
}

std::wstring cc_ModFeatures::value(const std::wstring& name)
{
    ccIDevice_Features& features = required();
    std::u16string buffer(size_t{ccFeatureUnits} + 1, u'\0');
    uint32_t length = ccFeatureUnits;
    check(board_, features.value(cut(name, kSentUnits).c_str(), &length, buffer.data()));
    return upToZero(buffer.data(), std::min(length, ccFeatureUnits));
}

void cc_ModFeatures::setValue(const std::wstring& name, const std::wstring& value)
{
    ccIDevice_Features& features = required();
    check(board_, features.setValue(cut(name, kSentUnits).c_str(), cut(value, kSentUnits).c_str()));
}

std::vector<std::wstring> cc_ModFeatures::listed(const std::wstring& name, bool choices)
{
    std::vector<std::wstring> list;
    ccIGrabber_Features* features = engineOf(board_).features();
    if (features == nullptr)
        return list;
    const std::u16string sent = cut(name, kSentUnits);
    for (uint32_t index = 0; index < kMaxListed; ++index) {
        char16_t buffer[ccFeatureUnits] = {};
        const int32_t status = choices ? features->choiceAt(sent.c_str(), index, buffer)
                                       : features->nameAt(sent.c_str(), index, buffer);
        // The failure that ends the list is no error.
        if (status != 0)
            break;
        buffer[ccFeatureUnits - 1] = u'\0';
        list.push_back(upToZero(buffer, ccFeatureUnits));
    }
    return list;
}

std::vector<std::wstring> cc_ModFeatures::names(const std::wstring& name)
{
    return listed(name, false);
}

std::vector<std::wstring> cc_ModFeatures::choices(const std::wstring& name)
{
    return listed(name, true);
}

int32_t cc_ModFeatures::kind(const std::wstring& name)
{
    const std::u16string units = plat::utf16FromWide(name);
    if (units.size() > kKindNameUnits)
        throw ccBoard::BadParams();
    ccIGrabber_Features* features = engineOf(board_).features();
    if (features == nullptr)
        return -1;
    int32_t kind = 0;
    check(board_, features->kind(cut(name, kSentUnits).c_str(), &kind));
    return kind >= 1 && kind <= 7 ? kind - 1 : -1;
}

std::wstring cc_ModFeatures::entry(const std::wstring& name, uint32_t index)
{
    ccIGrabber_Features* features = engineOf(board_).features();
    if (features == nullptr)
        return std::wstring();
    char16_t buffer[ccFeatureUnits] = {};
    check(board_, features->entry(cut(name, kSentUnits).c_str(), index, buffer));
    buffer[ccFeatureUnits - 1] = u'\0';
    return upToZero(buffer, ccFeatureUnits);
}

// ---- ccImagingDevice ----

ccImagingDevice::ccImagingDevice(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board)
    : cc_TabledBoard(std::move(entry), std::move(board)),
      cc_ModFeatureAccess(*this, ccModQuery<ccIDevice_Features>(boardInterface(), ccIidDeviceFeatures)),
      device_(ccModQuery<ccIUnknown>(boardInterface(), ccIidImagingDevice))
{
}

ccImagingDevice::~ccImagingDevice()
{
    leaveTable();
    ccImagingDevice::close();
}

void ccImagingDevice::close()
{
    device_.reset();
    features_.release();
    ccUnknownFG::close();
}

std::wstring ccImagingDevice::serialNumber() const
{
    return serialFrom(*this, device_.get());
}

cc_FrameGrabber* ccImagingDevice::createFrameGrabberImpl()
{
    createImplementation();
    return implementation();
}

std::unique_ptr<ccUnknownFG> ccImagingDevice::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    cc_ModPtr<ccIUnknown> own = recognised(board, ccIidImagingDevice);
    if (!own)
        return nullptr;
    return std::make_unique<ccImagingDevice>(std::move(entry), std::move(own));
}

// ---- ccGigEVisionCamera ----

ccGigEVisionCamera::ccGigEVisionCamera(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board)
    : cc_TabledBoard(std::move(entry), std::move(board)),
      cc_ModFeatureAccess(*this, ccModQuery<ccIDevice_Features>(boardInterface(), ccIidDeviceFeatures)),
      camera_(ccModQuery<ccIUnknown>(boardInterface(), ccIidGigECamera)),
      heldA_(ccModQuery<ccIUnknown>(boardInterface(), ccIidGigEHeldA)),
      heldB_(ccModQuery<ccIUnknown>(boardInterface(), ccIidGigEHeldB))
{
}

ccGigEVisionCamera::~ccGigEVisionCamera()
{
    leaveTable();
    ccGigEVisionCamera::close();
}

void ccGigEVisionCamera::close()
{
    camera_.reset();
    features_.release();
    heldA_.reset();
    heldB_.reset();
    ccUnknownFG::close();
}

std::wstring ccGigEVisionCamera::serialNumber() const
{
    return serialFrom(*this, camera_.get());
}

cc_FrameGrabber* ccGigEVisionCamera::createFrameGrabberImpl()
{
    createImplementation();
    return implementation();
}

std::unique_ptr<ccUnknownFG> ccGigEVisionCamera::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    cc_ModPtr<ccIUnknown> own = recognised(board, ccIidGigECamera);
    if (!own)
        return nullptr;
    return std::make_unique<ccGigEVisionCamera>(std::move(entry), std::move(own));
}

// ---- cc1394DCAM ----

cc1394DCAM::cc1394DCAM(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board)
    : cc_TabledBoard(std::move(entry), std::move(board))
{
    ccIUnknown* const from = boardInterface();
    camera_ = ccModQuery<ccIDcam_Camera>(from, ccIidDcamCamera);
    heldA_ = ccModQuery<ccIUnknown>(from, ccIidDcamHeldA);
    heldB_ = ccModQuery<ccIUnknown>(from, ccIidDcamHeldB);
    heldC_ = ccModQuery<ccIUnknown>(from, ccIidDcamHeldC);
    heldD_ = ccModQuery<ccIUnknown>(from, ccIidDcamHeldD);
    identity_ = ccModQuery<ccIDcam_Identity>(from, ccIidDcamIdentity);
}

cc1394DCAM::~cc1394DCAM()
{
    leaveTable();
    cc1394DCAM::close();
}

void cc1394DCAM::close()
{
    callbackHolder_.reset();
    busEventHolder_.reset();
    camera_.reset();
    heldA_.reset();
    heldB_.reset();
    heldC_.reset();
    heldD_.reset();
    identity_.reset();
    ccUnknownFG::close();
}

std::u16string cc1394DCAM::identity() const
{
    if (!identity_)
        return std::u16string();
    return plat::utf16FromWide(twoCallText(
        *this, [&](uint32_t* length, char16_t* buffer) { return identity_->identity(length, buffer); }));
}

uint32_t cc1394DCAM::sortValue() const
{
    uint32_t value = 0;
    if (camera_)
        check(*this, camera_->sortValue(&value));
    return value;
}

int32_t cc1394DCAM::compare(const ccBoard& other) const
{
    const auto* camera = dynamic_cast<const cc1394DCAM*>(&other);
    if (camera == nullptr)
        return 0;
    const std::u16string mine = identity(), theirs = camera->identity();
    if (mine != theirs)
        return mine < theirs ? -1 : 1;
    const uint32_t a = sortValue(), b = camera->sortValue();
    return a == b ? 0 : a < b ? -1 : 1;
}

std::wstring cc1394DCAM::serialNumber() const
{
    return serialFrom(*this, camera_.get());
}

cc_FrameGrabber* cc1394DCAM::createFrameGrabberImpl()
{
    createImplementation();
    return implementation();
}

std::unique_ptr<ccUnknownFG> cc1394DCAM::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    cc_ModPtr<ccIUnknown> own = recognised(board, ccIidDcamCamera);
    if (!own)
        return nullptr;
    return std::make_unique<cc1394DCAM>(std::move(entry), std::move(own));
}
