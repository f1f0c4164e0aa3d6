#include "std/pelbuf/pelroot.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstring>
#include <ios>
#include <memory>
#include <numeric>
#include <streambuf>

#include "std/except/archive.h"
#include "std/except/persist.h"
#include "std/except/status.h"
#include "std/pelbuf/pelpackage.h"
#include "std/pelbuf/rootpool.h"
#include "system/csys_copy.h"
#include "system/csys_memory.h"

namespace {

std::atomic<cc_RemoteRootProtocol*> gProtocol{nullptr};

cc_RemoteRootProtocol* protocol() { return gProtocol.load(std::memory_order_acquire); }

// A loaded root may take this many bytes per stored pel byte, and this many
// more, for its row padding and alignment slack. The padding of alignments
// up to kLoadFreeAlignment is always allowed, so any such root, and any
// whose block is within the allowance, loads back as it was stored.
constexpr int64_t kLoadPaddingFactor = 32;
constexpr int64_t kLoadAllowance = 8 << 20;
constexpr int32_t kLoadFreeAlignment = 64;
// The block a loaded root starts with, in bytes, when the stream cannot tell
// how much it holds; it doubles as the pels arrive.
constexpr int64_t kFirstLoadBytes = 1 << 16;
// Pels moved by one archive call at most, in bytes, so that a row is read
// into a block that grows within it.
constexpr int32_t kTransferBytes = 1 << 16;

// What the stream still holds, when it can tell by being positioned (a
// memory block, a file); -1 when it cannot (a peer's stream).
int64_t bytesLeft(ccArchive& ar)
{
    std::streambuf* b = ar.streamBuffer();
    const std::streampos failed(std::streamoff(-1));
    const std::streampos here = b->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    if (here == failed)
        return -1;
    const std::streampos end = b->pubseekoff(0, std::ios_base::end, std::ios_base::in);
    if (b->pubseekpos(here, std::ios_base::in) == failed)
        throw ccArchive::BadBuffer("pelroot", __LINE__);
    if (end == failed)
        return -1;
    return std::max<int64_t>(0, static_cast<int64_t>(end - here));
}

} // namespace

cc_RemoteRootProtocol* ccSetRemoteRootProtocol(cc_RemoteRootProtocol* p)
{
    return gProtocol.exchange(p, std::memory_order_acq_rel);
}

void ccRepAcquire(cc_PelRoot* root) { cc_PelRoot::addRef(root); }

void ccRepDrop(cc_PelRoot* root) noexcept
{
    if (cc_PelRoot::releaseRef(root) == 0)
        cc_PelRoot::dispose(root);
}

// ---- cc_PelRoot ----

ccPersistent* cc_PelRoot::cmCreate() { return new (std::nothrow) cc_PelRoot; }

cc_PelRoot::cc_PelRoot(ccRPCDestination destination, uint32_t remoteId, int32_t width, int32_t height)
    : ccRemoteObject(destination, remoteId), width_(width), height_(height)
{
    if (remoteId != 0 && !destination)
        throw ccInvariantFailure();
    // An unknown destination raises ccRemoteObject::ObjectMismatch here.
    if (remoteId != 0 && isAtPeer()) {
        if (cc_RemoteRootProtocol* p = protocol())
            p->registerRoot(*this);
    }
}

cc_PelRoot::cc_PelRoot(cc_PelPackage* package)
{
    // Owned here until the root is whole: a failed construction runs no
    // destructor that would delete package_.
    std::unique_ptr<cc_PelPackage> held(package);
    if (!package)
        throw ccBadPointer();
    destination_ = package->destination();
    remoteId_ = package->remoteId();
    width_ = package->width();
    stride_ = package->stride();
    height_ = package->height();
    alignment_ = package->alignment();
    // Pels are addressed with this geometry, so it must hold together.
    cc_PelRoot::checkInvariants();
    package_ = held.release();
    package_->setRoot(this);
}

void cc_PelRoot::detachPackage() noexcept
{
    package_ = nullptr;
    clearGeometry();
}

void* cc_PelRoot::packageData() const { return package_->dataStart(); }

cc_PelRoot::~cc_PelRoot()
{
    // A root held only by typed handles, or never held, still has its
    // record; the protocol drops it (and its errors).
    if (remoteId_ != 0 && destination_) {
        if (cc_RemoteRootProtocol* p = protocol())
            p->giveBack(*this);
    }
    freeBlock();
    delete package_;
}

uint32_t cc_PelRoot::stridePad(int32_t width, uint32_t pelSize, int32_t alignment)
{
    if (alignment < 1 || pelSize < 1)
        throw ccInvariantFailure();
    // Rows are aligned exactly when the width is a multiple of m; the pad is
    // what the running byte count of the rule adds, found without the loop.
    const int64_t m = int64_t{alignment} / std::gcd(int64_t{pelSize}, int64_t{alignment});
    const int64_t r = (int64_t{width} % m + m) % m;
    return r == 0 ? 0u : static_cast<uint32_t>(m - r);
}

void cc_PelRoot::checkShape(int32_t width, int32_t height, int32_t alignment)
{
    if (width < 0 || height < 0 || alignment < 1)
        throw ccInvariantFailure();
}

int32_t cc_PelRoot::ruleStride(int32_t width, uint32_t pelSize, int32_t alignment)
{
    const int64_t stride = int64_t{width} + stridePad(width, pelSize, alignment);
    if (stride > INT32_MAX)
        ccThrowStatus(csysErrNoMemory);
    return static_cast<int32_t>(stride);
}

int64_t cc_PelRoot::startAlignment(uint32_t pelSize) const
{
    return std::lcm(int64_t{alignment_}, int64_t{pelSize});
}

int64_t cc_PelRoot::blockBytes(int64_t pels, uint32_t pelSize) const
{
    // pels is below 2^62 (height times stride); the rest saturates instead
    // of wrapping round to a small block.
    const int64_t slack = startAlignment(pelSize) - 1;
    if (pels > (INT64_MAX - slack) / int64_t{pelSize})
        return INT64_MAX;
    return pels * pelSize + slack;
}

size_t cc_PelRoot::startOffset(uint32_t pelSize) const
{
    const uintptr_t step = static_cast<uintptr_t>(startAlignment(pelSize));
    const uintptr_t rest = reinterpret_cast<uintptr_t>(raw_) % step;
    return rest ? step - rest : 0;
}

void* cc_PelRoot::allocateBlock(uint32_t pelSize, int64_t pels)
{
    void* block = nullptr;
    const uint64_t size = static_cast<uint64_t>(blockBytes(pels, pelSize));
    ccThrowStatus(csys_alloc64(static_cast<uint32_t>(size), static_cast<int32_t>(size >> 32), &block));
    raw_ = block;
    if (!block)
        return nullptr;
    return static_cast<char*>(block) + startOffset(pelSize);
}

void* cc_PelRoot::growBlock(uint32_t pelSize, int64_t pels, int64_t kept)
{
    const int64_t bytes = blockBytes(pels, pelSize);
    if (bytes > INT32_MAX)
        ccThrowStatus(csysErrNoMemory);
    const size_t before = startOffset(pelSize);
    ccThrowStatus(csys_realloc(static_cast<int32_t>(bytes), &raw_));
    // The block may have moved to an address of another remainder.
    char* block = static_cast<char*>(raw_);
    const size_t after = startOffset(pelSize);
    if (after != before)
        std::memmove(block + after, block + before, static_cast<size_t>(kept) * pelSize);
    return block + after;
}

int64_t cc_PelRoot::firstLoadPels(ccArchive& ar, uint32_t pelSize) const
{
    // Width and height are below 2^31, so the counts fit.
    const int64_t stored = int64_t{width_} * height_;
    const int64_t pels = int64_t{height_} * stride_;
    const int64_t left = bytesLeft(ar);
    if (left >= 0 && stored > left / pelSize)
        throw ccArchive::Eof("pelroot", __LINE__);
    const int64_t bytes = blockBytes(pels, pelSize);
    if (bytes > INT32_MAX)
        ccThrowStatus(csysErrNoMemory); // as the allocation would fail
    const int64_t padding = alignment_ <= kLoadFreeAlignment ? (pels - stored) * pelSize : 0;
    if (bytes > stored * pelSize * kLoadPaddingFactor + kLoadAllowance + padding)
        throw ccArchive::BadContent("pelroot", __LINE__);
    if (left >= 0)
        return pels;
    return std::min(pels, kFirstLoadBytes / pelSize);
}

void cc_PelRoot::freeBlock() noexcept
{
    if (raw_)
        (void)csys_free(&raw_); // fails only for a null slot
    raw_ = nullptr;
}

bool cc_PelRoot::reachedThroughPeer() const noexcept
{
    if (!destination_)
        return false;
    try {
        return isAtPeer();
    } catch (...) {
        // The communicator has gone: there is no peer to reach.
        return false;
    }
}

void cc_PelRoot::prepareForLoad()
{
    if (pool_ || package_ || destination_)
        throw ccInvariantFailure();
    freeBlock();
    clearGeometry();
}

void cc_PelRoot::clearGeometry()
{
    width_ = 0;
    stride_ = 0;
    height_ = 0;
    alignment_ = 0;
}

void cc_PelRoot::checkInvariants() const
{
    bool ok;
    if (destination_)
        ok = width_ >= 1 && height_ >= 1 && !raw_;
    else if (width_ == 0)
        ok = height_ == 0 && stride_ == 0;
    else
        ok = width_ >= 1 && height_ >= 1 && stride_ >= width_ && alignment_ >= 1;
    if (!ok)
        throw ccInvariantFailure();
}

void cc_PelRoot::markModified() noexcept
{
    if (isArchived())
        forgetArchived();
}

int32_t cc_PelRoot::addRef(cc_PelRoot* root)
{
    cc_RemoteRootProtocol* p = protocol();
    if (p && root->reachedThroughPeer())
        return p->addRef(*root);
    return root->ccRepBase::addRef();
}

int32_t cc_PelRoot::releaseRef(cc_PelRoot* root) noexcept
{
    cc_RemoteRootProtocol* p = protocol();
    if (p && root->reachedThroughPeer())
        return p->releaseRef(*root);
    return root->ccRepBase::release();
}

void cc_PelRoot::dispose(cc_PelRoot* root) noexcept
{
    if (!root)
        return;
    if (!root->destination_ && root->pool_) {
        root->pool_->takeBack(*root);
        return;
    }
    delete root;
}

void cc_PelRoot::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(cc_PelRoot)))
        return;
    uint8_t version = 0;
    ar.archive(version);
    ccPersistent::archive(ar);
    int32_t width = width_;
    int32_t height = height_;
    int32_t alignment = alignment_;
    ar.archive(width).archive(height).archive(alignment);
    if (ar.isLoading()) {
        // The stride rule needs an alignment of at least 1; only an empty
        // root, stored as it was made, may have none.
        const bool empty = width == 0 && height == 0 && alignment == 0;
        if (!empty && (width < 0 || height < 0 || alignment < 1))
            throw ccArchive::BadContent("pelroot", __LINE__);
        width_ = width;
        height_ = height;
        alignment_ = alignment;
    }
    ccArchiveVisit::end(this, typeid(cc_PelRoot));
}

// ---- ccPelRoot<T> ----

template <class T>
ccPersistent* ccPelRoot<T>::cmCreate()
{
    return new (std::nothrow) ccPelRoot<T>;
}

template <class T>
void ccPelRoot<T>::initAllocated(int32_t width, int32_t height, int32_t alignment)
{
    checkShape(width, height, alignment);
    width_ = width;
    height_ = height;
    alignment_ = alignment;
    stride_ = ruleStride(width, sizeof(T), alignment);
    allocate();
}

template <class T>
void ccPelRoot<T>::initOver(int32_t width, int32_t height, int32_t stride, T* data, int32_t alignment)
{
    checkShape(width, height, alignment);
    if (stride < width)
        throw ccInvariantFailure();
    width_ = width;
    height_ = height;
    stride_ = stride;
    alignment_ = alignment;
    data_ = data;
}

template <class T>
void ccPelRoot<T>::allocate()
{
    allocate(int64_t{height_} * stride_);
}

template <class T>
void ccPelRoot<T>::allocate(int64_t pels)
{
    data_ = static_cast<T*>(allocateBlock(sizeof(T), pels));
    zeroPels(0, pels);
}

template <class T>
void ccPelRoot<T>::zeroPels(int64_t from, int64_t to)
{
    if (!ccPelTraits<T>::zeroed || !data_ || from >= to)
        return;
    // The block is below 2^31 bytes, so the count fits.
    const csysStatus status = csys_memSet(0, static_cast<int32_t>((to - from) * int64_t{sizeof(T)}), data_ + from);
    if (status < 0) {
        freeBlock();
        data_ = nullptr;
        ccThrowStatus(status);
    }
}

template <class T>
void ccPelRoot<T>::checkInvariants() const
{
    cc_PelRoot::checkInvariants();
    if (destination_ ? data_ != nullptr : data_ == nullptr)
        throw ccInvariantFailure();
}

template <class T>
void ccPelRoot<T>::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccPelRoot<T>)))
        return;
    if (ar.isStoring() && !data_ && int64_t{width_} * height_ != 0)
        throw ccInvariantFailure();
    if (ar.isLoading()) {
        prepareForLoad();
        data_ = nullptr;
    }
    uint8_t version = 0;
    ar.archive(version);
    cc_PelRoot::archive(ar);
    try {
        if (ar.isLoading() && (width_ != 0 || height_ != 0 || alignment_ != 0))
            stride_ = ruleStride(width_, sizeof(T), alignment_);
        uint32_t flags = 0;
        ar.archive(flags);
        if (ar.isLoading()) {
            T extra{};
            if (flags & 2)
                ccPelTraits<T>::archive(ar, extra);
            if (flags & 4)
                ccPelTraits<T>::archive(ar, extra);
        }
        archivePels(ar);
    } catch (...) {
        // A root loaded part of the way holds no pels.
        if (ar.isLoading()) {
            freeBlock();
            data_ = nullptr;
            clearGeometry();
        }
        throw;
    }
    ccArchiveVisit::end(this, typeid(ccPelRoot<T>));
}

template <class T>
void ccPelRoot<T>::archivePels(ccArchive& ar)
{
    const int64_t pels = int64_t{height_} * stride_;
    int64_t held = pels;
    if (ar.isLoading()) {
        if (width_ == 0 && height_ == 0 && alignment_ == 0)
            return; // empty, as it was made
        // Only as much as the stream can supply, then more as it does.
        held = firstLoadPels(ar, sizeof(T));
        allocate(held);
    }
    const int32_t step = kTransferBytes / int32_t{sizeof(T)};
    for (int32_t y = 0; width_ > 0 && y < height_; ++y) {
        for (int32_t x = 0; x < width_;) {
            const int32_t n = std::min(width_ - x, step);
            const int64_t at = int64_t{y} * stride_ + x;
            if (at + n > held) {
                const int64_t more = std::min(pels, std::max(at + n, 2 * held));
                data_ = static_cast<T*>(growBlock(sizeof(T), more, held));
                zeroPels(held, more);
                held = more;
            }
            T* p = data_ + at;
            if constexpr (sizeof(T) == 1) {
                ar.archiveBytes(p, n);
            } else {
                for (int32_t i = 0; i < n; ++i)
                    ccPelTraits<T>::archive(ar, p[i]);
            }
            x += n;
        }
    }
    if (held < pels) {
        data_ = static_cast<T*>(growBlock(sizeof(T), pels, held));
        zeroPels(held, pels);
    }
}

template <class T>
void ccPelRoot<T>::releaseStorage()
{
    // A package or a pool owns these pels, also when they are at a peer.
    if (pool_ || package_)
        return;
    if (destination_) {
        // The record gives the peer back its reference; a closed
        // destination (the in-process module proxy) has no record.
        if (cc_RemoteRootProtocol* p = protocol(); p && remoteId_ != 0)
            p->giveBack(*this);
        makeLocal();
    } else if (raw_) {
        freeBlock();
    } else {
        return;
    }
    clearGeometry();
    data_ = nullptr;
}

template <class T>
void ccPelRoot<T>::detachPackage() noexcept
{
    cc_PelRoot::detachPackage();
    data_ = nullptr;
}

template class ccPelRoot<unsigned char>;
template class ccPelRoot<signed char>;
template class ccPelRoot<unsigned short>;
template class ccPelRoot<short>;
template class ccPelRoot<uint32_t>;
template class ccPelRoot<int32_t>;
template class ccPelRoot<double>;
template class ccPelRoot<ccPackedRGB16Pel>;
template class ccPelRoot<ccPackedRGB32Pel>;
