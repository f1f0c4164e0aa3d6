#include "std/pelbuf/pelbuf.h"

#include <algorithm>

#include "std/math/xflinear.h"

namespace {

// Offsets are image coordinates: moved in 64 bits, and a move that would
// leave the 32-bit range is refused rather than wrapped.
ccPelPoint movedOffset(const ccPelPoint& offset, int64_t dx, int64_t dy)
{
    const int64_t x = offset.x + dx;
    const int64_t y = offset.y + dy;
    if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX)
        throw ccPel::BadWindow();
    return ccPelPoint{static_cast<int32_t>(x), static_cast<int32_t>(y)};
}

} // namespace

cc_PelBuffer& cc_PelBuffer::operator=(const cc_PelBuffer& other)
{
    // The root first: taking its reference is the only step that can fail.
    root_ = other.root_;
    window_ = other.window_;
    offset_ = other.offset_;
    xform_ = other.xform_;
    return *this;
}

cc_PelRoot& cc_PelBuffer::root() const
{
    cc_PelRoot* r = root_.rawPointer();
    if (!r)
        throw ccPel::UnboundWindow();
    return *r;
}

void cc_PelBuffer::checkRoot(const cc_PelRoot&) const {}

void cc_PelBuffer::bind(cc_PelRoot* root)
{
    // Held from here on, so that a root given to a buffer that refuses it is
    // disposed of like any other.
    ccPtrHandle<cc_PelRoot> held(root);
    if (!root) {
        root_ = nullptr;
        return;
    }
    checkRoot(*root);
    const ccPelPoint offset = movedOffset(offset_, -int64_t{window_.x0()}, -int64_t{window_.y0()});
    root_ = held;
    window_ = ccPelRect(0, 0, root->width(), root->height());
    offset_ = offset;
}

void cc_PelBuffer::bindNew(cc_PelRoot* root, int32_t x, int32_t y)
{
    ccPtrHandle<cc_PelRoot> made(root);
    root_ = made;
    window_ = ccPelRect(0, 0, root->width(), root->height());
    offset_ = ccPelPoint{x, y};
}

cc_PelRoot* cc_PelBuffer::releaseRoot()
{
    // The reference moves to the next owner: a peer must hear nothing,
    // and nothing is disposed of even at zero.
    cc_PelRoot* r = root_.detach();
    if (r)
        r->ccRepBase::release();
    return r;
}

int32_t cc_PelBuffer::rootRefCount() const
{
    const cc_PelRoot* r = root_.rawPointer();
    return r ? r->refCount() : 0;
}

ccPelRect cc_PelBuffer::window() const
{
    return ccPelRect(offset_.x, offset_.y, static_cast<int32_t>(window_.width()),
                     static_cast<int32_t>(window_.height()));
}

void cc_PelBuffer::resetWindow()
{
    cc_PelRoot& r = root();
    const ccPelPoint offset = movedOffset(offset_, -int64_t{window_.x0()}, -int64_t{window_.y0()});
    window_ = ccPelRect(0, 0, r.width(), r.height());
    offset_ = offset;
}

void cc_PelBuffer::subWindow(int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (width < 0 || height < 0)
        throw ccPel::BadWindow();
    root();
    const int64_t w = window_.width();
    const int64_t h = window_.height();
    if (x < 0 || y < 0 || x > w || int64_t{x} + width > w || y > h || int64_t{y} + height > h)
        throw ccPel::BadWindow();
    const ccPelPoint offset = movedOffset(offset_, x, y);
    window_ = ccPelRect(window_.x0() + x, window_.y0() + y, width, height);
    offset_ = offset;
}

bool cc_PelBuffer::setWindow(int32_t x, int32_t y, int32_t width, int32_t height, bool clip)
{
    return setWindowChecked(x, y, width, height, clip);
}

bool cc_PelBuffer::setWindow(const ccPelRect& r, bool clip)
{
    return setWindowChecked(r.x0(), r.y0(), r.width(), r.height(), clip);
}

bool cc_PelBuffer::setImageWindow(const ccPelRect& r, bool clip)
{
    return setWindowChecked(int64_t{r.x0()} + window_.x0() - offset_.x, int64_t{r.y0()} + window_.y0() - offset_.y,
                            r.width(), r.height(), clip);
}

// Edges in 64 bits, so that no sum of coordinates and sizes can wrap into
// the root.
bool cc_PelBuffer::setWindowChecked(int64_t x, int64_t y, int64_t width, int64_t height, bool clip)
{
    if (width < 0 || height < 0)
        throw ccPel::BadWindow();
    const cc_PelRoot& r = root();
    const int64_t rw = r.width();
    const int64_t rh = r.height();
    int64_t x0 = x, y0 = y, x1 = x + width, y1 = y + height;
    const auto inside = [&] { return x0 >= 0 && y0 >= 0 && x1 <= rw && y1 <= rh; };
    bool clipped = false;
    if (!inside()) {
        if (!clip)
            throw ccPel::BadWindow();
        // The rectangle rule: an intersection that is empty in either
        // direction collapses to zero size at the larger origin.
        x0 = std::max<int64_t>(x0, 0);
        y0 = std::max<int64_t>(y0, 0);
        x1 = std::min(x1, rw);
        y1 = std::min(y1, rh);
        if (x0 > x1 || y0 > y1) {
            x1 = x0;
            y1 = y0;
        }
        if (!inside()) {
            x1 -= x0;
            y1 -= y0;
            x0 = 0;
            y0 = 0;
        }
        clipped = true;
    }
    const ccPelPoint offset = movedOffset(offset_, x0 - window_.x0(), y0 - window_.y0());
    window_ = ccPelRect(static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                        static_cast<int32_t>(y1 - y0));
    offset_ = offset;
    return clipped;
}

bool cc_PelBuffer::isWholeRoot() const
{
    const cc_PelRoot* r = root_.rawPointer();
    return r && window_ == ccPelRect(0, 0, r->width(), r->height());
}

bool cc_PelBuffer::operator==(const cc_PelBuffer& other) const
{
    return root_.rawPointer() == other.root_.rawPointer() && window_ == other.window_ &&
           offset_.x == other.offset_.x && offset_.y == other.offset_.y;
}

bool cc_PelBuffer::sharesPels(const cc_PelBuffer& other) const
{
    const cc_PelRoot* a = root_.rawPointer();
    const cc_PelRoot* b = other.root_.rawPointer();
    if (!a || !b)
        return false;
    if (a != b) {
        // Two proxies of one remote root.
        const bool sameRemote = a->destination() && a->destination() == b->destination() &&
                                a->remoteId() == b->remoteId();
        if (!sameRemote)
            return false;
    }
    return window_.overlaps(other.window_, false);
}

void cc_PelBuffer::setClientXform(const cc2XformBase& x) { xform_.set(x); }

void cc_PelBuffer::setLinearClientXform(const cc2Xform& value) { xform_.set(cc2XformLinear(value)); }

void cc_PelBuffer::copyClientXform(const cc_PelBuffer& other) { xform_ = other.xform_; }

cc2Xform cc_PelBuffer::linearClientXform() const { return xform_.linearValue(); }
