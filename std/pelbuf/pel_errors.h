// The errors of everything that touches pel buffers.
#pragma once
#include <cstdint>

#include "std/except/except.h"
#include "std/math/pel_nonlinear.h" // the family root and NonlinearXform
#include "system/csys_status.h"

namespace ccPel {
// A buffer without a root, or a root whose pels are not in this process.
cmDeclareException(UnboundWindow, Errors, 0x10000400u, "class ccPel::UnboundWindow");
// A negative size, or a window that does not fit.
cmDeclareException(BadWindow, Errors, 0x10000402u, "class ccPel::BadWindow");
cmDeclareException(DisjointWindows, Errors, 0x10000403u, "class ccPel::DisjointWindows");
// A root of another pel type than the buffer's.
cmDeclareException(Unknown, Errors, 0x10000406u, "class ccPel::Unknown");

// Image coordinates outside the window.
class BadCoord : public Errors {
public:
    BadCoord() = default;
    BadCoord(int32_t x, int32_t y) : x_(x), y_(y) {}

    int32_t x() const { return x_; }
    int32_t y() const { return y_; }

    // "x=" x ", y=" y.
    void printOn(std::wostream& os) const override;
    // Version byte, the family level, then x and y.
    void archive(ccArchive& ar) override;

    cmExceptionMembers(BadCoord, 0x10000405u, "class ccPel::BadCoord")

private:
    int32_t x_ = 0;
    int32_t y_ = 0;
};
} // namespace ccPel

// Thrower of facility 30 (pel buffers).
void ccPelStatusThrower(csysStatus status);
