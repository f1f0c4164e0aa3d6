#include "acq/vidfmt/framegrabber.h"

#include <memory>

#include "acq/vidfmt/fgimpl.h"
#include "acq/vidfmt/internal/lookup.h"
#include "acq/vidfmt/vidfmt.h"
#include "std/except/resource.h"
#include "std/registry.h"

namespace {

// Constant-initialised: board code may look up limits before this file's
// dynamic initialisers have run.
const wchar_t* const kConfigKey = L"SOFTWARE\\Qoralt\\QMB\\utconfig\\";
constexpr int kListSize = 100;

// A number of the machine tree; absent counts as 0.
int32_t readNumber(const std::wstring& key, const wchar_t* value)
{
    acRegistryInt32 number(plat::RegistryRoot::localMachine, key, value, 0, false);
    return number.load() ? number.value() : 0;
}

bool readText(const std::wstring& key, const std::wstring& value, std::wstring* text)
{
    acRegistryString string(plat::RegistryRoot::localMachine, key, value, std::wstring(), false);
    if (!string.load())
        return false;
    *text = string.value();
    return true;
}

} // namespace

cc_BoardIdentity::~cc_BoardIdentity() = default;

ccFrameGrabber::ccFrameGrabber(cc_FrameGrabber* engine) : impl_(engine) {}

ccFrameGrabber::~ccFrameGrabber()
{
    if (ownsImpl_)
        delete impl_.load(std::memory_order_acquire);
}

cc_FrameGrabber* ccFrameGrabber::frameGrabberImpl() const
{
    cc_FrameGrabber* engine = impl_.load(std::memory_order_acquire);
    if (engine)
        return engine;
    ccResourceLock hold(ccLibraryMutex());
    engine = impl_.load(std::memory_order_acquire);
    if (!engine) {
        // Lazy creation is part of reading the engine, hence the const cast.
        engine = const_cast<ccFrameGrabber*>(this)->createFrameGrabberImpl();
        impl_.store(engine, std::memory_order_release);
    }
    return engine;
}

void ccFrameGrabber::forgetImplementation() noexcept
{
    // Called from destructors. Once every library thread was stopped the
    // lock is broken, and then no creation can run meanwhile anyway.
    std::unique_ptr<ccResourceLock> hold;
    try {
        hold = std::make_unique<ccResourceLock>(ccLibraryMutex());
    } catch (...) {
    }
    cc_FrameGrabber* engine = impl_.exchange(nullptr, std::memory_order_acq_rel);
    if (ownsImpl_)
        delete engine;
}

void ccFrameGrabber::touched() const
{
    if (!ownsImpl_)
        secondFlag_.store(false, std::memory_order_relaxed);
}

int32_t ccFrameGrabber::implQuery() const
{
    touched();
    cc_FrameGrabber* engine = frameGrabberImpl();
    return engine ? engine->coreValue() : 0;
}

bool ccFrameGrabber::hasFormatOptions() const
{
    touched();
    cc_FrameGrabber* engine = frameGrabberImpl();
    return engine && engine->hasFormatOptions();
}

int32_t ccFrameGrabber::tvmId() const
{
    touched();
    cc_FrameGrabber* engine = frameGrabberImpl();
    return engine ? engine->tvmId() : -2;
}

void ccFrameGrabber::disconnect(bool flag) const
{
    touched();
    if (cc_FrameGrabber* engine = impl_.load(std::memory_order_acquire))
        engine->disconnect(flag);
}

std::wstring ccFrameGrabber::uniqueId() const
{
    touched();
    cc_FrameGrabber* engine = frameGrabberImpl();
    return engine ? engine->uniqueId() : std::wstring();
}

bool ccFrameGrabber::boardKeyAllows(const cc_BoardIdentity& board, const ccVideoFormat& format)
{
    const std::wstring key = std::wstring(kConfigKey) + L"board" + std::to_wstring(board.registrationIndex());
    std::wstring only;
    if (readNumber(key, L"limitFmt") == 0 || !readText(key, L"format0", &only))
        return true;
    return only == cf_wideName(format.name());
}

bool ccFrameGrabber::isFormatAllowed(const ccVideoFormat& format) const
{
    // A frame grabber that is not part of a board has no registry limits.
    const auto* board = dynamic_cast<const cc_BoardIdentity*>(this);
    if (!board)
        return true;
    return boardKeyAllows(*board, format) && cc_BoardFormatLimits(*board).allows(cf_wideName(format.name()));
}

bool ccFrameGrabber::isVideoFormatSupported(const ccVideoFormat& format, int32_t pelFormat) const
{
    cc_FrameGrabber* engine = frameGrabberImpl();
    if (!engine || !isFormatAllowed(format))
        return false;
    // Only -1 asks for any pel format: a code that names none (0, 20, ...)
    // would otherwise map to -1 too and be answered as any.
    const int32_t moduleCode = cf_pelFormatToModuleCode(pelFormat);
    if (moduleCode == -1 && pelFormat != -1)
        return false;
    return engine->isFormatSupported(format.description(true), moduleCode);
}

bool ccFrameGrabber::supportsGreyFormat(const ccVideoFormat& format) const
{
    return isVideoFormatSupported(format, 1) || isVideoFormatSupported(format, 5);
}

uint32_t ccFrameGrabber::numCameraPorts(const ccVideoFormat& format) const
{
    cc_FrameGrabber* engine = frameGrabberImpl();
    return engine && isFormatAllowed(format) ? engine->numCameraPortsIfSupported(format) : 0;
}

// The key path is built as a string of any length: a name too long for a
// key only finds no key, and no limits apply.
cc_BoardFormatLimits::cc_BoardFormatLimits(const cc_BoardIdentity& board)
    : board_(&board), index_(board.registrationIndex()),
      keyPath_(std::wstring(kConfigKey) + L"board_" + board.boardName() + L"_" + std::to_wstring(index_))
{
}

bool cc_BoardFormatLimits::limitFmt() const { return readNumber(keyPath_, L"limitFmt") != 0; }
bool cc_BoardFormatLimits::excludeFmt() const { return readNumber(keyPath_, L"excludeFmt") != 0; }

bool cc_BoardFormatLimits::listsFormat(const std::wstring& name) const
{
    for (int i = 0; i < kListSize; ++i) {
        std::wstring listed;
        if (!readText(keyPath_, L"format" + std::to_wstring(i), &listed))
            return false;
        if (listed == name)
            return true;
    }
    // A full list without the name does not list it.
    return false;
}

bool cc_BoardFormatLimits::allows(const std::wstring& name) const
{
    const bool limit = limitFmt();
    if (!limit && !excludeFmt())
        return true;
    return listsFormat(name) == limit;
}
