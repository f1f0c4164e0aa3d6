#include "std/pelbuf/pelfunc.h"

#include <atomic>
#include <memory>

#include "std/except/status.h"
#include "std/pelbuf/remoteroots.h"
#include "system/csys_copy.h"

namespace {

// Written once; every run computes the same value, so it is not locked.
std::atomic<bool> gLevelSet{false};
std::atomic<uint32_t> gLevel{0};

bool isX86(const csysCpuInfo& info) { return info.cpuClass == 1 || info.cpuClass == 5; }

// Places a root just made at given image coordinates.
class Placed : public ccPelBuffer<unsigned char> {
public:
    void place(cc_PelRoot* root, int32_t x, int32_t y) { bindNew(root, x, y); }
};

void check(csysStatus status)
{
    if (status < 0)
        ccThrowStatus(status);
}

} // namespace

uint32_t ccPelFunc::levelOf(const csysCpuInfo& info)
{
    uint32_t level = 0;
    switch (info.generation) {
    case 1: level = 2; break;
    case 2: level = 3; break;
    case 3:
    case 4: level = 5; break;
    default: break;
    }
    if (isX86(info) && (info.features & csysCpuMmx))
        level |= kMmxBit;
    return level;
}

void ccPelFunc::initCpuLevel()
{
    check(csys_resetCpuInfo());
    csysCpuInfo info{};
    check(csys_getCpuInfo(&info));
    gLevel.store(levelOf(info), std::memory_order_relaxed);
    gLevelSet.store(true, std::memory_order_release);
}

uint32_t ccPelFunc::cpuLevel()
{
    if (!gLevelSet.load(std::memory_order_acquire))
        initCpuLevel();
    return gLevel.load(std::memory_order_relaxed);
}

bool ccPelFunc::useMmx() { return (cpuLevel() & kMmxBit) != 0; }

bool ccPelFunc::useStreamingMmx()
{
    csysCpuInfo info{};
    check(csys_getCpuInfo(&info));
    return isX86(info) && (info.features & csysCpuSse);
}

void ccPelFunc::checkCopyWindows(ccPelBuffer_const<unsigned char>& source, ccPelBuffer<unsigned char>& destination)
{
    if (!source.isBound())
        throw ccPel::UnboundWindow();
    if (!destination.isBound())
        return;
    const ccPelRect common = source.window().intersect(destination.window(), false);
    if (common.width() > 0 && common.height() > 0) {
        source.setImageWindow(common, false);
        destination.setImageWindow(common, false);
    } else {
        source.setWindow(0, 0, 0, 0, false);
        destination.setWindow(0, 0, 0, 0, false);
    }
    if (source != destination && source.sharesPels(destination))
        throw Overlap();
}

void ccPelFunc::copy(const ccPelBuffer_const<unsigned char>& source, ccPelBuffer<unsigned char>& destination)
{
    // The window checks narrow working copies; the caller's destination
    // keeps its window and only an unbound one receives the copy's root.
    ccPelBuffer_const<unsigned char> s(source);
    ccPelBuffer<unsigned char> d(destination);
    const bool bound = destination.isBound();
    checkCopyWindows(s, d);
    const int32_t w = int32_t(s.windowRect().width());
    const int32_t h = int32_t(s.windowRect().height());
    if (w == 0 || h == 0)
        return;
    if (d.isBound() && d.root().destination())
        throw BadParams(); // pels are not sent to a remote root
    if (s.root().destination()) {
        const auto& remote = s.typedRoot();
        if (d.isBound()) {
            remote.copyWindowInto(s.windowRect(), d.root(), ccPelPoint{d.windowRect().x0(), d.windowRect().y0()},
                                  false);
        } else {
            // A local copy of the window, at the source's image coordinates.
            ccPelRoot<unsigned char>* local = remote.copyToDestination(s.windowRect(), ccRPCDestination(), false);
            if (!local)
                throw BadParams();
            Placed placed;
            placed.place(local, s.windowOffset().x, s.windowOffset().y);
            d = placed;
        }
    } else {
        if (!d.isBound())
            d = ccPelBuffer<unsigned char>(ccPelRect(s.windowOffset().x, s.windowOffset().y, w, h), 32);
        const ccPelRoot<unsigned char>& a = s.typedRoot();
        const ccPelRoot<unsigned char>& b = d.typedRoot();
        const auto natural = [w](const ccPelRoot<unsigned char>& r) {
            return r.stride() == int64_t{w} + cc_PelRoot::stridePad(w, 1, r.alignment());
        };
        // One block up to the last pel (the padding after the last row may
        // lie past a caller's block), if it is one a copy takes: a caller's
        // rows may span 2^31 bytes or more.
        const int64_t block = int64_t{a.stride()} * (h - 1) + w;
        if (s.isWholeRoot() && d.isWholeRoot() && a.stride() == b.stride() && natural(a) && natural(b) &&
            block <= INT32_MAX)
            check(csys_memCopy(int32_t(block), s.windowStart(), d.windowStart()));
        else
            check(csys_memCopy2D(w, h, a.stride(), b.stride(), s.windowStart(), d.windowStart()));
    }
    if (!bound)
        destination = d;
    destination.copyClientXform(source);
}

ccPelBuffer<unsigned char> ccPelFunc::copyToNew8(const ccPelBuffer_const<unsigned char>& source)
{
    ccPelBuffer<unsigned char> made;
    copy(source, made);
    return made;
}

template <class T>
ccPelBuffer<T> ccPelBuffer<T>::fromRemote(ccPelBuffer<T>& buffer, bool flag)
{
    cc_PelRoot& root = buffer.root();
    if (!root.destination() || flag || root.refCount() != 1)
        throw ccPelFunc::BadParams();
    const ccPelPoint offset = buffer.windowOffset();
    ccRemotePelRootRegistry& registry = ccRemotePelRootRegistry::instance();
    bool accepted = false;
    std::unique_ptr<ccPelRoot<T>> local;
    try {
        local.reset(buffer.typedRoot().copyToDestination(buffer.windowRect(), ccRPCDestination(), true, &accepted));
    } catch (...) {
        // A peer that answered has given its reference up with the pels,
        // even if they could not be kept here: its record must not send -1.
        if (accepted)
            registry.unregisterRoot(root);
        throw;
    }
    registry.unregisterRoot(root);
    if (!local)
        throw ccPelFunc::BadParams();
    ccPelBuffer<T> result;
    result.bindNew(local.release(), offset.x, offset.y);
    result.copyClientXform(buffer);
    root.setHandedOver(true);
    buffer.bind(nullptr); // sends nothing: the flag is cleared by this release
    return result;
}

template ccPelBuffer<unsigned char> ccPelBuffer<unsigned char>::fromRemote(ccPelBuffer<unsigned char>&, bool);
template ccPelBuffer<ccPackedRGB16Pel> ccPelBuffer<ccPackedRGB16Pel>::fromRemote(ccPelBuffer<ccPackedRGB16Pel>&,
                                                                                 bool);
template ccPelBuffer<ccPackedRGB32Pel> ccPelBuffer<ccPackedRGB32Pel>::fromRemote(ccPelBuffer<ccPackedRGB32Pel>&,
                                                                                 bool);

void ccPelFuncStatusThrower(csysStatus status)
{
    const uint32_t bits = static_cast<uint32_t>(status);
    if (bits == 0x800006A1u)
        throw ccPelFunc::Overlap();
    if (bits >= 0x800006A2u && bits <= 0x800006A5u)
        throw ccPelFunc::BadParams();
}
