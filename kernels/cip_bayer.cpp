#include "kernels/cip_bayer.h"

#include <cmath>

#include "kernels/internal/cip_work.h"
#include "system/csys_copy.h"

using cip_work::avg;
using cip_work::rowAt;

namespace {

// Splits one mosaic row into the colour sampled at even columns and the one
// sampled at odd columns, both at every column. The border columns take their
// one neighbour; a row of a single pel gives both colours that pel.
void horizontalPass(const uint8_t* s, int32_t width, uint8_t* even, uint8_t* odd)
{
    if (width == 1) {
        even[0] = odd[0] = s[0];
        return;
    }
    even[0] = s[0];
    odd[0] = s[1];
    for (int32_t x = 1; x < width - 1; ++x) {
        const uint8_t between = avg(s[x - 1], s[x + 1]);
        if (x & 1) {
            odd[x] = s[x];
            even[x] = between;
        } else {
            even[x] = s[x];
            odd[x] = between;
        }
    }
    const int32_t last = width - 1;
    if (last & 1) {
        odd[last] = s[last];
        even[last] = s[last - 1];
    } else {
        even[last] = s[last];
        odd[last] = s[last - 1];
    }
}

// G(y) gets the second colour, C(y) the row's other colour. rowParity is
// (y + y phase) & 1.
void splitRow(const uint8_t* s, int32_t width, int32_t rowParity, int32_t xPhase, uint8_t* g, uint8_t* c)
{
    if ((rowParity ^ xPhase) == 0)
        horizontalPass(s, width, g, c);
    else
        horizontalPass(s, width, c, g);
}

// Phase 0. C rows go straight to their planes and serve as the vertical
// pass's input there; G rows go through a ring of four. A single row has no
// third-colour sample: its third plane takes the second colour.
csysStatus plainBayerToRgb(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                           uint8_t* first, uint8_t* second, uint8_t* third, int32_t stride)
{
    csys_cleanupStack<1> cleanup;
    uint8_t* ring = nullptr;
    csysStatus status = cip_work::allocWork(cleanup, 4 * static_cast<int64_t>(width), &ring);
    if (status < 0)
        return cleanup.finish(status);
    auto g = [&](int32_t y) { return ring + static_cast<ptrdiff_t>(y & 3) * width; };

    for (int32_t y = 0; y < height; ++y) {
        const int32_t p = y & 1;
        splitRow(rowAt(source, y, sourceStride), width, p, 0, g(y), rowAt(p ? third : first, y, stride));
        if (y == 1) {
            status = csys_memCopy(width, g(0), second);
            if (status >= 0)
                status = csys_memCopy(width, rowAt(third, 1, stride), third);
            if (status < 0)
                return cleanup.finish(status);
        } else if (y >= 2) {
            const uint8_t* above = g(y - 2);
            const uint8_t* middle = g(y - 1);
            const uint8_t* below = g(y);
            uint8_t* out = rowAt(second, y - 1, stride);
            for (int32_t x = 0; x < width; ++x)
                out[x] = avg(middle[x], avg(above[x], below[x]));
            // Row y - 1 has the other parity: the plane it does not sample is
            // the one rows y - 2 and y sample.
            uint8_t* missing = p ? third : first;
            const uint8_t* up = rowAt(missing, y - 2, stride);
            const uint8_t* down = rowAt(missing, y, stride);
            uint8_t* mid = rowAt(missing, y - 1, stride);
            for (int32_t x = 0; x < width; ++x)
                mid[x] = avg(up[x], down[x]);
        }
    }

    const int32_t last = height - 1;
    status = csys_memCopy(width, g(last), rowAt(second, last, stride));
    if (status >= 0) {
        if (height == 1)
            status = csys_memCopy(width, g(0), third);
        else {
            uint8_t* missing = (last & 1) ? first : third;
            status = csys_memCopy(width, rowAt(missing, last - 1, stride), rowAt(missing, last, stride));
        }
    }
    return cleanup.finish(status);
}

struct GreyWeights {
    int32_t w1, w2, w3;
    // At most 255 x 257 before the shift, so the result fits a byte.
    uint8_t operator()(uint8_t f, uint8_t g, uint8_t t) const
    {
        return static_cast<uint8_t>((f * w1 + g * w2 + t * w3) >> 8);
    }
};

// Any phase. G rows through a ring of four, each colour's C rows through two
// rows of their own. Row 0 is written after source row 1 (at y phase 1 it
// takes the second colour of row 1), row r after source row r + 1, the last
// row after the last source row. A single row has no sample of the colour its
// row parity lacks: that colour takes the second colour.
csysStatus plainBayerToGrey(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                            int32_t phase, const GreyWeights& weigh, uint8_t* destination, int32_t stride)
{
    const int32_t xPhase = phase & 1;
    const int32_t yPhase = phase >> 1;
    csys_cleanupStack<1> cleanup;
    uint8_t* work = nullptr;
    csysStatus status = cip_work::allocWork(cleanup, 8 * static_cast<int64_t>(width), &work);
    if (status < 0)
        return cleanup.finish(status);
    auto workRow = [&](int32_t i) { return work + static_cast<ptrdiff_t>(i) * width; };
    auto sampledFirst = [&](int32_t y) { return ((y + yPhase) & 1) == 0; };
    auto g = [&](int32_t y) { return workRow((y + yPhase) & 3); };
    auto c = [&](int32_t y) {
        const int32_t q = y + yPhase;
        return (q & 1) == 0 ? workRow(4 + ((q >> 1) & 1)) : workRow(6 + (((q - 1) >> 1) & 1));
    };
    // A border row: its own C row, the other colour taken from otherC.
    auto border = [&](int32_t y, const uint8_t* gRow, const uint8_t* otherC) {
        const uint8_t* own = c(y);
        const uint8_t* f = sampledFirst(y) ? own : otherC;
        const uint8_t* t = sampledFirst(y) ? otherC : own;
        uint8_t* out = rowAt(destination, y, stride);
        for (int32_t x = 0; x < width; ++x)
            out[x] = weigh(f[x], gRow[x], t[x]);
    };

    for (int32_t y = 0; y < height; ++y) {
        splitRow(rowAt(source, y, sourceStride), width, (y + yPhase) & 1, xPhase, g(y), c(y));
        if (y == 1) {
            border(0, g(yPhase), c(1));
        } else if (y >= 2) {
            const int32_t r = y - 1;
            const uint8_t* above = g(r - 1);
            const uint8_t* middle = g(r);
            const uint8_t* below = g(y);
            const uint8_t* own = c(r);
            const uint8_t* up = c(r - 1);
            const uint8_t* down = c(y);
            const bool ownIsFirst = sampledFirst(r);
            uint8_t* out = rowAt(destination, r, stride);
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t green = avg(middle[x], avg(above[x], below[x]));
                const uint8_t other = avg(up[x], down[x]);
                out[x] = ownIsFirst ? weigh(own[x], green, other) : weigh(other, green, own[x]);
            }
        }
    }
    const int32_t last = height - 1;
    border(last, g(last), height == 1 ? g(0) : c(last - 1));
    return cleanup.finish(csysOk);
}

} // namespace

csysStatus cip_convertBayer8ToRGBTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                       uint8_t* first, uint8_t* second, uint8_t* third, int32_t destinationStride)
{
    csysStatus status = cip_work::checkSizes(width, height, sourceStride, destinationStride, width);
    if (status < 0)
        return status;
    if (!source || !first || !second || !third)
        return csysErrNullArg;
    return plainBayerToRgb(width, height, source, sourceStride, first, second, third, destinationStride);
}

csysStatus cip_convertBayer8ToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                             int32_t sourceStride, int32_t phase, double weight1, double weight2,
                                             double weight3, uint8_t* destination, int32_t destinationStride)
{
    csysStatus status = cip_work::checkSizes(width, height, sourceStride, destinationStride, width);
    if (status < 0)
        return status;
    if (weight1 < 0 || weight2 < 0 || weight3 < 0)
        return cipErrBadWeight;
    // Written so that a weight that is not a number fails too.
    if (!(std::fabs(weight1 + weight2 + weight3 - 1.0) < 1e-6))
        return cipErrWeightSum;
    if (phase < 0 || phase > 3)
        return cipErrBadPhase;
    if (!source || !destination)
        return csysErrNullArg;
    auto fixed = [](double w) { return static_cast<int32_t>(std::floor(w * 256 + 0.5)) & 0x1FF; };
    const GreyWeights weigh{fixed(weight1), fixed(weight2), fixed(weight3)};
    return plainBayerToGrey(width, height, source, sourceStride, phase, weigh, destination, destinationStride);
}

csysStatus cip_convertBayer8ToGreyscale(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                        double weight1, double weight2, double weight3, uint8_t* destination,
                                        int32_t destinationStride)
{
    return cip_convertBayer8ToGreyscaleTyped(width, height, source, sourceStride, 0, weight1, weight2, weight3,
                                             destination, destinationStride);
}
