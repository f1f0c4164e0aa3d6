// Pel roots: the storage of one image.
//
// A root is a rectangle of pels of one type, row after row, each row start
// stride pels after the previous one. It is local (its pels are here, in a
// block it allocated or in memory of a caller, a pool or a pel package) or
// remote (its pels are behind a communicator; only geometry and identity are
// known here). Roots are shared through handles; the last release disposes
// of the root: back to its pool or destroyed. README.md beside this file
// sets out who holds whom.
#pragma once
#include <cstdint>
#include <type_traits>
#include <vector>

#include "defs/ch_core/rect.h"
#include "std/except/persistent.h"
#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/peltypes.h"
#include "std/ptrhandle.h"
#include "std/rpc/remote.h"

class ccArchive;
class cc_PelPackage;
class ccPelRootPool;
class cc_PelRoot;

// The handles of cc_PelRoot (those of pel buffers and three-plane roots)
// count through cc_PelRoot::addRef and releaseRef and dispose of the root at
// zero. Declared before any handle of a root can be instantiated.
void ccRepAcquire(cc_PelRoot* root);
void ccRepDrop(cc_PelRoot* root) noexcept;

// The typed handles (ccPtrHandle<ccPelRoot<T>>) count with the plain atomic
// operations and dispose of the root at zero: the peer of a remote root
// hears only of the references of buffers, and its record gives the peer's
// reference back when the root goes whichever handle lets go last.
template <class T>
class ccPelRoot;
template <class T>
void ccRepAcquire(ccPelRoot<T>* root);
template <class T>
void ccRepDrop(ccPelRoot<T>* root) noexcept;

// What roots whose pels are at a peer need from the remote-root registry
// (std/pelbuf/remoteroots.h). Until one is installed, such roots are counted
// here only and nothing is sent.
class cc_RemoteRootProtocol {
public:
    // A new root at a peer.
    virtual void registerRoot(cc_PelRoot& root) = 0;
    // One more or one fewer reference to a root at a peer; the new count.
    // A failed first +1 raises the peer's error with the count as it was,
    // and disposes of a root that nothing holds.
    virtual int32_t addRef(cc_PelRoot& root) = 0;
    // A release path: errors are dropped, the count changes regardless.
    virtual int32_t releaseRef(cc_PelRoot& root) noexcept = 0;
    // The root's record goes, giving the peer back what it holds for it
    // (the root gives up its pels, or is destroyed). Errors are dropped.
    virtual void giveBack(cc_PelRoot& root) noexcept = 0;

protected:
    ~cc_RemoteRootProtocol() = default;
};

// Installs the protocol (null: none) and returns the previous one.
cc_RemoteRootProtocol* ccSetRemoteRootProtocol(cc_RemoteRootProtocol* protocol);

class cc_PelRoot : public ccRepBase, public ccRemoteObject, public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class cc_PelRoot";
    // An empty root; only geometry and no pels can be loaded into it.
    static ccPersistent* cmCreate();

    cc_PelRoot(const cc_PelRoot&) = delete;
    cc_PelRoot& operator=(const cc_PelRoot&) = delete;
    // Frees the block the root allocated and deletes its pel package; a root
    // at a peer gives back what its record still holds there. Never throws.
    ~cc_PelRoot() override;

    // Pels to add to a row of width pels of pelSize bytes so that, with
    // rows starting on a multiple of alignment bytes, every row does: the
    // smallest k >= 0 with (width + k) * pelSize a multiple of alignment.
    // ccInvariantFailure for an alignment below 1.
    static uint32_t stridePad(int32_t width, uint32_t pelSize, int32_t alignment);

    // ccInvariantFailure when the geometry does not hold together.
    virtual void checkInvariants() const;

    // Drops the root from every archive object table, so that an archive
    // written after its pels changed stores them again instead of a
    // back-reference. Every writable pel access calls it first.
    void markModified() noexcept;

    // Gives up the pels: a root at a peer gives the peer back its references
    // and becomes local; an allocated block is freed. Either root is then
    // empty (geometry 0, no data start). Pels of a caller, a pool or a
    // package are not the root's to give up: such a root stays as it is.
    virtual void releaseStorage() {}
    // Loading in place replaces the pels, so the old ones are given up
    // first; a root at a peer would otherwise keep the peer's references.
    void beforeLoad() final { releaseStorage(); }

    // The reference operations of every root handle. For roots at a peer
    // they go through the installed protocol; otherwise they are the plain
    // atomic count.
    using ccRepBase::addRef;
    static int32_t addRef(cc_PelRoot* root);
    static int32_t releaseRef(cc_PelRoot* root) noexcept;
    // The last release: nothing for null; a local root of a pool goes back
    // to the pool; any other root is destroyed.
    static void dispose(cc_PelRoot* root) noexcept;

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // In pels.
    int32_t stride() const { return stride_; }
    // In bytes.
    int32_t alignment() const { return alignment_; }
    // The block the root allocated and frees; null when it owns no pels.
    void* rawBlock() const { return raw_; }

    // Set when the root's pels have been handed over to a local copy; the
    // next release of a root at a peer then sends nothing.
    bool handedOver() const { return handedOver_; }
    void setHandedOver(bool handedOver) { handedOver_ = handedOver; }

    // The pool that supplied the pels, which takes the root back; null when
    // none. Set by the pool.
    ccPelRootPool* pool() const { return pool_; }
    void setPool(ccPelRootPool* pool) { pool_ = pool; }

    // The package the root was made over; owned by the root.
    cc_PelPackage* package() const { return package_; }
    // The package's registry is deleting it, and its pels with it: the root
    // owns no package and becomes empty.
    virtual void detachPackage() noexcept;

    // Version byte (read and not checked), the ccPersistent level, width,
    // height and alignment as 32-bit words.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

protected:
    cc_PelRoot() = default;
    // Remote: no stride, no alignment. A non-zero remote id needs a
    // destination; a root at a peer is registered with the protocol.
    cc_PelRoot(ccRPCDestination destination, uint32_t remoteId, int32_t width, int32_t height);
    // Identity and geometry from the package, read once. The package is
    // owned from the call on, also when the construction fails; a null one
    // raises ccBadPointer, geometry that breaks checkInvariants'
    // ccInvariantFailure.
    explicit cc_PelRoot(cc_PelPackage* package);
    // The package's data start.
    void* packageData() const;

    // ccInvariantFailure for a negative size or an alignment below 1.
    static void checkShape(int32_t width, int32_t height, int32_t alignment);
    // Width plus the pad, in 64 bits; a stride beyond 32 bits fails as an
    // allocation of that size would.
    static int32_t ruleStride(int32_t width, uint32_t pelSize, int32_t alignment);
    // What the data start is rounded up to: the least multiple of both the
    // alignment and the pel size, so that the pels are aligned for their
    // type also under an alignment that is not a multiple of their size.
    // It is the alignment itself when that is such a multiple.
    int64_t startAlignment(uint32_t pelSize) const;
    // pels * pelSize plus the slack of the start alignment, computed in 64
    // bits and saturating.
    int64_t blockBytes(int64_t pels, uint32_t pelSize) const;
    // From the raw block to its first aligned byte.
    size_t startOffset(uint32_t pelSize) const;
    // Allocates a block for pels pels (height * stride for a whole root)
    // into the raw block and returns its first aligned byte. 2^31 bytes or
    // more fail with the allocation-failure status.
    void* allocateBlock(uint32_t pelSize, int64_t pels);
    // Grows the raw block to pels pels, keeping the first kept pels, and
    // returns its first aligned byte. Below 2^31 bytes, as above.
    void* growBlock(uint32_t pelSize, int64_t pels, int64_t kept);
    // The pels a root being loaded allocates before it reads any: all of
    // them when the stream can tell that it holds the stored ones
    // (ccArchive::Eof when it cannot hold them), else a first part that
    // grows as they arrive. A block out of all proportion to the pels
    // stored (ccArchive::BadContent) or of 2^31 bytes or more (the
    // allocation-failure status) is refused before anything is allocated.
    int64_t firstLoadPels(ccArchive& ar, uint32_t pelSize) const;
    void freeBlock() noexcept;
    // Whether the destination is a live communicator that is not closed;
    // false for a communicator that has gone. Never throws.
    bool reachedThroughPeer() const noexcept;
    // Loading replaces the pels of a root that owns them or has none;
    // roots over foreign pels refuse.
    void prepareForLoad();
    void clearGeometry();

    void* raw_ = nullptr;
    int32_t width_ = 0;
    int32_t stride_ = 0;
    int32_t height_ = 0;
    int32_t alignment_ = 0;
    bool handedOver_ = false;
    ccPelRootPool* pool_ = nullptr;
    cc_PelPackage* package_ = nullptr;
};

// The typed root. Which constructors a pel type offers is listed in its
// ccPelTraits.
template <class T>
class ccPelRoot : public cc_PelRoot {
    template <bool Offered>
    using If = std::enable_if_t<Offered, int>;

public:
    typedef T pel_type;
    static constexpr const char* kStoredName = ccPelTraits<T>::rootName;
    static ccPersistent* cmCreate();

    // Empty: geometry 0, no data start, local.
    ccPelRoot() = default;

    // Allocates width x height pels with rows aligned to alignment bytes.
    template <class U = T, If<ccPelTraits<U>::allocates> = 0>
    ccPelRoot(int32_t width, int32_t height, int32_t alignment)
    {
        initAllocated(width, height, alignment);
    }
    // Over a caller's pels with its stride; owns nothing.
    template <class U = T, If<ccPelTraits<U>::callerMemory> = 0>
    ccPelRoot(int32_t width, int32_t height, int32_t stride, T* data, int32_t alignment)
    {
        initOver(width, height, stride, data, alignment);
    }
    // Over pool memory, with the stride of the rule; owns nothing. The pool
    // sets itself as owner afterwards.
    template <class U = T, If<ccPelTraits<U>::foreign> = 0>
    ccPelRoot(int32_t width, int32_t height, T* data, int32_t alignment)
    {
        checkShape(width, height, alignment);
        initOver(width, height, ruleStride(width, sizeof(T), alignment), data, alignment);
    }
    // Over a pel package, which the root owns from here on.
    template <class U = T, If<ccPelTraits<U>::foreign> = 0>
    explicit ccPelRoot(cc_PelPackage* package) : cc_PelRoot(package)
    {
        if (!destination_)
            data_ = static_cast<T*>(packageData());
    }
    // Pels behind destination, named remoteId there.
    template <class U = T, If<ccPelTraits<U>::foreign> = 0>
    ccPelRoot(ccRPCDestination destination, uint32_t remoteId, int32_t width, int32_t height)
        : cc_PelRoot(destination, remoteId, width, height)
    {
    }

    // Pel (0, 0); null for a remote root. Pel (x, y) is at
    // dataStart() + y * stride() + x.
    T* dataStart() const { return data_; }

    // The root level, then: a local root has a data start, a remote one none.
    void checkInvariants() const override;

    // Version byte (read and not checked), the cc_PelRoot level, a flags
    // word (written 0; on loading, bits 2 and 4 each announce one pel that
    // is read and ignored), then height rows of width pels, without the
    // padding. Loading allocates by the stride rule; a loaded root is local.
    // Pels that the stream cannot supply are refused (ccArchive::Eof) before
    // the block is allocated, or, when the stream cannot tell, as they fail
    // to arrive; a root whose loading fails is left empty.
    // A root whose pels are not here cannot be stored (ccInvariantFailure).
    void archive(ccArchive& ar) override;
    void releaseStorage() override;
    void detachPackage() noexcept override;
    const char* storedTypeName() const override { return kStoredName; }

    // Window transfers between the root and a vector that holds rectangle r
    // (root pels) row after row, without padding. ccPel::BadWindow for an r
    // outside the root (or any non-empty r of a root whose pels are not
    // here), and for a vector shorter than r on the way in.
    // getWindow resizes the vector to r's pel count when its size differs.
    void getWindow(const ccPelRect& r, std::vector<T>& pels) const;
    void putWindow(const ccPelRect& r, const std::vector<T>& pels);

    // A new root (count 0) of r's size that holds r of this root and lives
    // at target (0: this process); null when the root already lives there,
    // or for a pel type other than 8-bit and packed colour. The transfer
    // flag goes to the peer with the fetch. A remote root at a peer is
    // fetched; one behind a closed communicator (8-bit only) is copied by
    // its image-transfer service; a local root is created at the target.
    // ccPel::BadWindow for an r outside the root. *accepted, when given, is
    // set once a peer has answered the fetch without an error: with the
    // transfer flag it has then given its pels up.
    ccPelRoot<T>* copyToDestination(const ccPelRect& r, ccRPCDestination target, bool transferFlag,
                                    bool* accepted = nullptr) const;

    // 8-bit: copies r of this remote root into the local root target at
    // point (root pels). Does nothing for a local source or a remote target;
    // ccPel::BadWindow for an r outside this root or a target rectangle
    // outside the target.
    template <class U = T, If<std::is_same<U, unsigned char>::value> = 0>
    void copyWindowInto(const ccPelRect& r, cc_PelRoot& target, const ccPelPoint& point, bool transferFlag) const;

private:
    void initAllocated(int32_t width, int32_t height, int32_t alignment);
    void initOver(int32_t width, int32_t height, int32_t stride, T* data, int32_t alignment);
    // The whole block, or its first pels pels.
    void allocate();
    void allocate(int64_t pels);
    // Pels from to to of the block start at zero, for the types whose
    // allocated pels do.
    void zeroPels(int64_t from, int64_t to);
    // The rows, width pels each. Loading allocates by firstLoadPels and
    // grows the block as the pels arrive.
    void archivePels(ccArchive& ar);

    T* data_ = nullptr;
};

template <class T>
void ccRepAcquire(ccPelRoot<T>* root)
{
    root->ccRepBase::addRef();
}

template <class T>
void ccRepDrop(ccPelRoot<T>* root) noexcept
{
    if (root->ccRepBase::release() == 0)
        cc_PelRoot::dispose(root);
}

// The three-plane root (std/pelbuf/pelroot3.h) is a class of its own.
template <>
class ccPelRoot<cc3PlanePel>;

extern template class ccPelRoot<unsigned char>;
extern template class ccPelRoot<signed char>;
extern template class ccPelRoot<unsigned short>;
extern template class ccPelRoot<short>;
extern template class ccPelRoot<uint32_t>;
extern template class ccPelRoot<int32_t>;
extern template class ccPelRoot<double>;
extern template class ccPelRoot<ccPackedRGB16Pel>;
extern template class ccPelRoot<ccPackedRGB32Pel>;
