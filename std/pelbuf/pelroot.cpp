#include "std/pelbuf/pelroot.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <memory>
#include <numeric>

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

void* cc_PelRoot::allocateBlock(uint32_t pelSize)
{
    // height and stride are below 2^31, so their product fits; the rest
    // saturates instead of wrapping round to a small block.
    const int64_t pels = int64_t{height_} * stride_;
    const int64_t slack = int64_t{alignment_} - 1;
    int64_t bytes = INT64_MAX;
    if (pels <= (INT64_MAX - slack) / int64_t{pelSize})
        bytes = pels * pelSize + slack;
    void* block = nullptr;
    const uint64_t size = static_cast<uint64_t>(bytes);
    ccThrowStatus(csys_alloc64(static_cast<uint32_t>(size), static_cast<int32_t>(size >> 32), &block));
    raw_ = block;
    if (!block)
        return nullptr;
    const uintptr_t rest = reinterpret_cast<uintptr_t>(block) % static_cast<uintptr_t>(alignment_);
    return static_cast<char*>(block) + (rest ? alignment_ - rest : 0);
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
    T* data = static_cast<T*>(allocateBlock(sizeof(T)));
    if (ccPelTraits<T>::zeroed && data) {
        // The block is below 2^31 bytes, so the count fits.
        const int64_t bytes = int64_t{height_} * stride_ * int64_t{sizeof(T)};
        const csysStatus status = csys_memSet(0, static_cast<int32_t>(bytes), data);
        if (status < 0) {
            freeBlock();
            data_ = nullptr;
            ccThrowStatus(status);
        }
    }
    data_ = data;
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
    if (ar.isLoading() && (width_ != 0 || height_ != 0 || alignment_ != 0)) {
        try {
            stride_ = ruleStride(width_, sizeof(T), alignment_);
            allocate();
        } catch (...) {
            clearGeometry();
            throw;
        }
    }
    uint32_t flags = 0;
    ar.archive(flags);
    if (ar.isLoading()) {
        T extra{};
        if (flags & 2)
            ccPelTraits<T>::archive(ar, extra);
        if (flags & 4)
            ccPelTraits<T>::archive(ar, extra);
    }
    if (width_ > 0) {
        for (int32_t y = 0; y < height_; ++y) {
            T* row = data_ + static_cast<ptrdiff_t>(y) * stride_;
            if constexpr (sizeof(T) == 1) {
                ar.archiveBytes(row, width_);
            } else {
                for (int32_t x = 0; x < width_; ++x)
                    ccPelTraits<T>::archive(ar, row[x]);
            }
        }
    }
    ccArchiveVisit::end(this, typeid(ccPelRoot<T>));
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
