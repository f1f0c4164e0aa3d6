// Pel buffers: a window onto a shared pel root, the window's place in the
// image's own coordinates, and a client transform.
//
// The window is kept in root pels; everything callers pass by coordinates is
// in image coordinates, where root pel (rx, ry) is at (offset x + rx - x0,
// offset y + ry - y0). Copies share the root and the transforms and never
// copy pels. A failed operation leaves window and offset as they were.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "defs/ch_core/rect.h"
#include "std/except/status.h"
#include "std/math/xfcache.h"
#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/pelroot.h"

struct cip_Image;

class cc_PelBuffer {
public:
    // Releases the root (disposed of at zero) and the client transforms.
    virtual ~cc_PelBuffer() = default;

    // The bound root; ccPel::UnboundWindow when there is none. Every
    // operation that needs the root raises that error on an unbound buffer.
    cc_PelRoot& root() const;
    bool isBound() const { return root_.rawPointer() != nullptr; }
    // Shares root (null unbinds); a bound buffer then shows the whole root,
    // with the image coordinates of every root pel kept. A root of another
    // pel type than a typed buffer's raises ccPel::Unknown; a root that
    // nothing else held is then disposed of.
    void bind(cc_PelRoot* root);
    // Leaves the buffer unbound and returns its root with the buffer's
    // reference dropped, but not disposed of even at zero: for handing a new
    // root to another owner. Window and offset stay.
    cc_PelRoot* releaseRoot();
    // 0 when unbound.
    int32_t rootRefCount() const;

    // In image coordinates: origin at the offset, the window's size.
    ccPelRect window() const;
    // In root pels.
    const ccPelRect& windowRect() const { return window_; }
    // The image coordinates of root pel (x0, y0).
    const ccPelPoint& windowOffset() const { return offset_; }

    // The whole root.
    void resetWindow();
    // Narrows the window to (x, y, width, height) relative to it; the offset
    // moves with the origin. ccPel::BadWindow for a negative size or a part
    // outside the window.
    void subWindow(int32_t x, int32_t y, int32_t width, int32_t height);
    // The window in root pels; answers whether it was clipped to the root.
    // Without clip a window outside the root raises ccPel::BadWindow; with
    // it, a window wholly outside becomes an empty one at (0, 0).
    bool setWindow(int32_t x, int32_t y, int32_t width, int32_t height, bool clip);
    bool setWindow(const ccPelRect& r, bool clip);
    // The same with r in image coordinates.
    bool setImageWindow(const ccPelRect& r, bool clip);
    bool isWholeRoot() const;

    // Same root object, window and offset; the client transform is not
    // compared.
    bool operator==(const cc_PelBuffer& other) const;
    bool operator!=(const cc_PelBuffer& other) const { return !(*this == other); }
    // Whether the two windows may touch the same pels: both bound to one
    // root (or to two proxies of one remote root) with windows whose
    // intersection is not empty.
    bool sharesPels(const cc_PelBuffer& other) const;

    // Holds a clone of x.
    void setClientXform(const cc2XformBase& x);
    // For x mapping the other way, as a board image brings it (cc2XformCache::set).
    void setClientXform(const ccPtrHandle_const<cc2XformBase>& x, bool clone) { xform_.set(x, clone); }
    void setLinearClientXform(const cc2Xform& value);
    // Shares the other buffer's transforms.
    void copyClientXform(const cc_PelBuffer& other);
    // ccPel::NonlinearXform when the client transform is not linear.
    cc2Xform linearClientXform() const;
    const cc2XformCache& clientXform() const { return xform_; }

protected:
    // Unbound, window and offset 0, the identity as client transform.
    cc_PelBuffer() = default;
    cc_PelBuffer(const cc_PelBuffer& other) = default;
    cc_PelBuffer& operator=(const cc_PelBuffer& other);

    // Raises ccPel::Unknown for a root the buffer cannot read.
    virtual void checkRoot(const cc_PelRoot& root) const;
    // Binds a root just made for this buffer and puts the image origin of
    // its pel (0, 0) at (x, y).
    void bindNew(cc_PelRoot* root, int32_t x, int32_t y);
    // The window's image coordinates become offset; the window stays.
    void setWindowOffset(const ccPelPoint& offset) { offset_ = offset; }
    // Window and offset as other's, whatever the roots.
    void copyPlacement(const cc_PelBuffer& other)
    {
        window_ = other.window_;
        offset_ = other.offset_;
    }

private:
    bool setWindowChecked(int64_t x, int64_t y, int64_t width, int64_t height, bool clip);

    // A root handle that can let go of its root without releasing it.
    class RootHandle : public ccPtrHandle<cc_PelRoot> {
    public:
        using ccPtrHandle<cc_PelRoot>::ccPtrHandle;
        using ccPtrHandle<cc_PelRoot>::operator=;
        cc_PelRoot* detach() noexcept
        {
            cc_PelRoot* r = rep_;
            rep_ = nullptr;
            return r;
        }
    };

    ccPelRect window_;
    ccPelPoint offset_;
    cc2XformCache xform_;
    RootHandle root_;
};

// Read-only typed access. Coordinates are image coordinates; the writable
// forms of ccPelBuffer<T> first drop the root from archive tables.
template <class T>
class ccPelBuffer_const : public cc_PelBuffer {
    static_assert(std::is_same_v<T, unsigned char> || std::is_same_v<T, unsigned short> ||
                      std::is_same_v<T, ccPackedRGB16Pel> || std::is_same_v<T, ccPackedRGB32Pel> ||
                      std::is_same_v<T, cc3PlanePel>,
                  "pel buffers exist for 8-bit, 16-bit, packed colour and three-plane pels");

public:
    ccPelBuffer_const(const ccPelBuffer_const&) = default;
    ccPelBuffer_const& operator=(const ccPelBuffer_const&) = default;
    // Any buffer whose root holds T pels, or none; another pel type raises
    // ccPel::Unknown.
    explicit ccPelBuffer_const(const cc_PelBuffer& other) : cc_PelBuffer(other)
    {
        if (isBound())
            checkRoot(root());
    }

    ccPelRoot<T>& typedRoot() const { return static_cast<ccPelRoot<T>&>(root()); }

    // The window's first pel in image row y; ccPel::BadCoord(0, y) outside
    // the window.
    const T* row(int32_t y) const { return rowAt(y); }
    // ccPel::BadCoord(x, y) for a column outside the window, else row's
    // ccPel::BadCoord(0, y) for a row outside it.
    const T* pel(int32_t x, int32_t y) const { return pelAt(x, y); }
    // Root pel (x0, y0), unchecked; null for an empty window over no pels.
    const T* windowStart() const { return startAt(); }

protected:
    ccPelBuffer_const() = default;
    explicit ccPelBuffer_const(cc_PelRoot* root) { bind(root); }
    ccPelBuffer_const(int32_t width, int32_t height, int32_t alignment)
    {
        bindNew(new ccPelRoot<T>(width, height, alignment), 0, 0);
    }
    ccPelBuffer_const(const ccPelRect& r, int32_t alignment)
    {
        // A rectangle's size may reach 2^32 - 1; the root's may not.
        if (r.width() > INT32_MAX || r.height() > INT32_MAX)
            ccThrowStatus(csysErrNoMemory);
        bindNew(new ccPelRoot<T>(static_cast<int32_t>(r.width()), static_cast<int32_t>(r.height()), alignment),
                r.x0(), r.y0());
    }

    void checkRoot(const cc_PelRoot& root) const override
    {
        if (!dynamic_cast<const ccPelRoot<T>*>(&root))
            throw ccPel::Unknown();
    }

    T* rowAt(int32_t y) const;
    T* pelAt(int32_t x, int32_t y) const;
    T* startAt() const;

private:
    // The root's pels; ccPel::UnboundWindow when they are not in this process.
    static T* pels(const ccPelRoot<T>& r);
};

template <class T>
class ccPelBuffer : public ccPelBuffer_const<T> {
    typedef ccPelBuffer_const<T> Base;

public:
    ccPelBuffer() = default;
    // Shares root and shows all of it; null gives an unbound buffer. A root
    // of another pel type raises ccPel::Unknown and, held by nothing else,
    // is disposed of.
    explicit ccPelBuffer(cc_PelRoot* root) : Base(root) {}
    // A new root of width x height pels, rows aligned to alignment bytes;
    // the window is the whole root at image origin (0, 0).
    ccPelBuffer(int32_t width, int32_t height, int32_t alignment) : Base(width, height, alignment) {}
    // A new root of r's size whose image origin is r's origin.
    ccPelBuffer(const ccPelRect& r, int32_t alignment) : Base(r, alignment) {}
    ccPelBuffer(const ccPelBuffer&) = default;
    ccPelBuffer& operator=(const ccPelBuffer&) = default;

    // The hand-over of an acquired frame (8-bit and packed colour pels):
    // the window of a buffer over a remote root becomes a new local root,
    // returned in a buffer at the window's image coordinates with the
    // buffer's client transform. The buffer lets go of the remote root, and
    // the peer hears nothing of it: the fetch took its reference. An unbound
    // buffer raises ccPel::UnboundWindow; a local root, a root held by
    // anything else too, or flag set, ccPelFunc::BadParams. On any error the
    // buffer is as it was.
    static ccPelBuffer fromRemote(ccPelBuffer& buffer, bool flag);
    // 8-bit: a kernel image's pels as a buffer, without a copy (std/pelbuf/pelcvt.h).
    static ccPelBuffer fromCipImage(const cip_Image& image);

    using Base::pel;
    using Base::row;
    using Base::windowStart;
    T* row(int32_t y)
    {
        this->root().markModified();
        return this->rowAt(y);
    }
    T* pel(int32_t x, int32_t y)
    {
        this->root().markModified();
        return this->pelAt(x, y);
    }
    T* windowStart()
    {
        this->root().markModified();
        return this->startAt();
    }
};

template <class T>
T* ccPelBuffer_const<T>::pels(const ccPelRoot<T>& r)
{
    static_assert(!std::is_same_v<T, cc3PlanePel>, "planes are reached through their own buffers");
    T* data = r.dataStart();
    if (!data)
        throw ccPel::UnboundWindow();
    return data;
}

template <class T>
T* ccPelBuffer_const<T>::rowAt(int32_t y) const
{
    const ccPelRoot<T>& r = typedRoot();
    const ccPelRect& w = windowRect();
    const int64_t j = int64_t{y} - windowOffset().y;
    if (j < 0 || j >= w.height())
        throw ccPel::BadCoord(0, y);
    return pels(r) + static_cast<ptrdiff_t>(w.y0() + j) * r.stride() + w.x0();
}

// The column here, the row by rowAt, which reports x as 0.
template <class T>
T* ccPelBuffer_const<T>::pelAt(int32_t x, int32_t y) const
{
    root(); // an unbound buffer has no coordinates to report
    const int64_t i = int64_t{x} - windowOffset().x;
    if (i < 0 || i >= windowRect().width())
        throw ccPel::BadCoord(x, y);
    return rowAt(y) + i;
}

template <class T>
T* ccPelBuffer_const<T>::startAt() const
{
    const ccPelRoot<T>& r = typedRoot();
    const ccPelRect& w = windowRect();
    // An empty window over a root without pels has nothing to point at.
    if (!r.dataStart() && (w.width() == 0 || w.height() == 0))
        return nullptr;
    return pels(r) + static_cast<ptrdiff_t>(w.y0()) * r.stride() + w.x0();
}
