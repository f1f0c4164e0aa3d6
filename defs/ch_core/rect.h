// The integer rectangle of image code: windows of pel buffers, root extents,
// transfer windows and regions of interest.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class ccArchive;

namespace ccRectErrors {
cmDeclareErrorFamily(Errors, ccException, "class ccRectErrors::Errors");
cmDeclareException(NoOverlap, Errors, 0x10000407u, "class ccRectErrors::NoOverlap");
// For callers that refuse negative sizes; the rectangle itself normalises.
cmDeclareException(NegativeSize, Errors, 0x10000408u, "class ccRectErrors::NegativeSize");
} // namespace ccRectErrors

// A pel position, or an offset between two positions.
struct ccPelPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Covers x0 <= x < x1, y0 <= y < y1, and is always normalised (x0 <= x1,
// y0 <= y1): a negative size spans the same pels on the other side of the
// origin. Far edges are computed in 64 bits and held to the 32-bit range, so
// a size that would run past it ends at the range's edge.
class ccPelRect {
public:
    ccPelRect() = default;
    ccPelRect(int32_t x, int32_t y, int32_t width, int32_t height);
    ccPelRect(int32_t width, int32_t height) : ccPelRect(0, 0, width, height) {}

    int32_t x0() const { return x0_; }
    int32_t y0() const { return y0_; }
    int32_t x1() const { return x1_; }
    int32_t y1() const { return y1_; }
    // 64 bits: the distance between two 32-bit edges may not fit 32.
    int64_t width() const { return int64_t{x1_} - x0_; }
    int64_t height() const { return int64_t{y1_} - y0_; }

    void setWidth(int32_t width);
    void setHeight(int32_t height);
    // The origin becomes p; the size stays.
    void moveTo(const ccPelPoint& p);
    // Moves all four edges.
    ccPelRect& operator+=(const ccPelPoint& offset);

    bool operator==(const ccPelRect& other) const
    {
        return x0_ == other.x0_ && y0_ == other.y0_ && x1_ == other.x1_ && y1_ == other.y1_;
    }
    bool operator!=(const ccPelRect& other) const { return !(*this == other); }

    // Shared edges count as inside.
    bool contains(const ccPelRect& other) const;
    // With touching, rectangles that only share an edge or corner overlap.
    bool overlaps(const ccPelRect& other, bool touching) const;
    // The common part; touching rectangles give a zero width or height. When
    // they do not even touch: with throwIfDisjoint ccRectErrors::NoOverlap,
    // otherwise an empty rectangle at the larger origins.
    ccPelRect intersect(const ccPelRect& other, bool throwIfDisjoint) const;
    // The same in place; never throws.
    ccPelRect& operator&=(const ccPelRect& other);

    // Version byte 0, then x0, y0, x1, y1 as 32-bit words.
    void archive(ccArchive& ar);

private:
    void normalise();

    int32_t x0_ = 0;
    int32_t y0_ = 0;
    int32_t x1_ = 0;
    int32_t y1_ = 0;
};
