#include "defs/ch_core/rect.h"

#include <algorithm>
#include <utility>

#include "std/except/archive.h"
#include "std/except/persist.h"

namespace {

int32_t toInt32Range(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

} // namespace

ccPelRect::ccPelRect(int32_t x, int32_t y, int32_t width, int32_t height)
    : x0_(x), y0_(y), x1_(toInt32Range(int64_t{x} + width)), y1_(toInt32Range(int64_t{y} + height))
{
    normalise();
}

void ccPelRect::normalise()
{
    if (x0_ > x1_)
        std::swap(x0_, x1_);
    if (y0_ > y1_)
        std::swap(y0_, y1_);
}

void ccPelRect::setWidth(int32_t width)
{
    x1_ = toInt32Range(int64_t{x0_} + width);
    normalise();
}

void ccPelRect::setHeight(int32_t height)
{
    y1_ = toInt32Range(int64_t{y0_} + height);
    normalise();
}

void ccPelRect::moveTo(const ccPelPoint& p)
{
    const int64_t w = width();
    const int64_t h = height();
    x0_ = p.x;
    y0_ = p.y;
    x1_ = toInt32Range(p.x + w);
    y1_ = toInt32Range(p.y + h);
}

ccPelRect& ccPelRect::operator+=(const ccPelPoint& offset)
{
    x0_ = toInt32Range(int64_t{x0_} + offset.x);
    y0_ = toInt32Range(int64_t{y0_} + offset.y);
    x1_ = toInt32Range(int64_t{x1_} + offset.x);
    y1_ = toInt32Range(int64_t{y1_} + offset.y);
    return *this;
}

bool ccPelRect::contains(const ccPelRect& other) const
{
    return other.x0_ >= x0_ && other.y0_ >= y0_ && other.x1_ <= x1_ && other.y1_ <= y1_;
}

bool ccPelRect::overlaps(const ccPelRect& other, bool touching) const
{
    const int32_t ix0 = std::max(x0_, other.x0_);
    const int32_t iy0 = std::max(y0_, other.y0_);
    const int32_t ix1 = std::min(x1_, other.x1_);
    const int32_t iy1 = std::min(y1_, other.y1_);
    return touching ? ix0 <= ix1 && iy0 <= iy1 : ix0 < ix1 && iy0 < iy1;
}

ccPelRect ccPelRect::intersect(const ccPelRect& other, bool throwIfDisjoint) const
{
    ccPelRect r;
    r.x0_ = std::max(x0_, other.x0_);
    r.y0_ = std::max(y0_, other.y0_);
    r.x1_ = std::min(x1_, other.x1_);
    r.y1_ = std::min(y1_, other.y1_);
    if (r.x0_ > r.x1_ || r.y0_ > r.y1_) {
        if (throwIfDisjoint)
            throw ccRectErrors::NoOverlap();
        r.x1_ = r.x0_;
        r.y1_ = r.y0_;
    }
    return r;
}

ccPelRect& ccPelRect::operator&=(const ccPelRect& other)
{
    *this = intersect(other, false);
    return *this;
}

void ccPelRect::archive(ccArchive& ar)
{
    ccArchiveVersion(ar, 0, "defs/ch_core/rect", 247);
    // Loaded into a copy, so that a short stream leaves the rectangle as it was.
    ccPelRect r = *this;
    ar.archive(r.x0_).archive(r.y0_).archive(r.x1_).archive(r.y1_);
    if (ar.isLoading()) {
        // Corners from files and peers: keep the invariant every user relies on.
        r.normalise();
        *this = r;
    }
}
