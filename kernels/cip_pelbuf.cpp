#include "kernels/cip_pelbuf.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "kernels/internal/cip_work.h"
#include "system/csys_copy.h"
#include "system/csys_memory.h"

namespace {

constexpr size_t kXformBytes = 7 * sizeof(float);

int32_t pelSizeOf(const cip_PelBufType* type)
{
    switch (type ? type->code : -1) {
    case 0:
        return 1;
    case 1:
    case 8:
        return 2;
    case 2:
    case 9:
        return 4;
    default:
        return 0;
    }
}

// Address arithmetic wraps in unsigned 64 bits: the origin may lie far
// outside the block, and only in-window pels are ever formed into pointers.
uint8_t* pelAddress(const cip_PelBuf* b, int32_t x, int32_t y, int32_t pelSize)
{
    const uint64_t offset = static_cast<uint64_t>(int64_t{y} * b->pitch + int64_t{x} * pelSize);
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(static_cast<uint64_t>(b->origin) + offset));
}

uint8_t* windowStart(const cip_PelBuf* b, int32_t pelSize) { return pelAddress(b, b->x, b->y, pelSize); }

void* allocate(int64_t size)
{
    void* block = nullptr;
    return cip_work::allocBytes(size, &block) < 0 ? nullptr : block;
}

void setXform(float* target, const float* source)
{
    if (target)
        std::memmove(target, source ? source : cip_pelBufDefaultXform, kXformBytes);
}

cip_PelBufRect windowOf(const cip_PelBuf* b) { return {b->x, b->y, b->width, b->height}; }

template <const cip_PelBufType* Type, int32_t PelSize>
cip_PelBuf* create(int32_t width, int32_t height)
{
    if (width < 1 || height < 1)
        width = height = 0;
    const int64_t pitch = (int64_t{width} * PelSize + 7) / 8 * 8;
    if (pitch > INT32_MAX)
        return nullptr;
    const int64_t headerBytes = static_cast<int64_t>(sizeof(cip_PelBuf) + kXformBytes);
    uint8_t* block = static_cast<uint8_t*>(allocate(pitch * height + headerBytes + 7));
    if (!block)
        return nullptr;
    cip_PelBuf* b = reinterpret_cast<cip_PelBuf*>(block);
    b->type = Type;
    b->x = b->y = 0;
    b->width = width;
    b->height = height;
    b->pitch = static_cast<int32_t>(pitch);
    b->xform = reinterpret_cast<float*>(block + sizeof(cip_PelBuf));
    setXform(b->xform, nullptr);
    b->origin = static_cast<intptr_t>((reinterpret_cast<uintptr_t>(block) + headerBytes + 7) / 8 * 8);
    return b;
}

template <int32_t PelSize>
cip_PelBuf* setOrigin(cip_PelBuf* b, int32_t x, int32_t y)
{
    if (!b)
        return nullptr;
    const uint64_t shift = static_cast<uint64_t>((int64_t{x} - b->x) * PelSize) +
                           static_cast<uint64_t>(int64_t{y} - b->y) * static_cast<uint64_t>(int64_t{b->pitch});
    b->origin = static_cast<intptr_t>(static_cast<uint64_t>(b->origin) - shift);
    b->x = x;
    b->y = y;
    return b;
}

template <const cip_PelBufType* Type, int32_t PelSize>
cip_PelBuf* createLike(const cip_PelBufRect* r)
{
    if (!r)
        return nullptr;
    return setOrigin<PelSize>(create<Type, PelSize>(r->width, r->height), r->x, r->y);
}

void freeBuffer(cip_PelBuf* b) { (void)csys_free(&b); } // a block of this layer: cannot fail

cip_PelBuf* subView(const cip_PelBuf* source, cip_PelBuf* destination, const cip_PelBufRect* r)
{
    if (!source || !r)
        return nullptr;
    if (!destination && !(destination = static_cast<cip_PelBuf*>(allocate(sizeof(cip_PelBuf)))))
        return nullptr;
    const cip_PelBufRect window = windowOf(source);
    cip_PelBufRect part;
    cip_pbRectIntersect(&window, r, &part);
    *destination = *source;
    destination->x = part.x;
    destination->y = part.y;
    destination->width = part.width;
    destination->height = part.height;
    return destination;
}

cip_PelBuf* alias(const cip_PelBuf* source, cip_PelBuf* destination, float* xformStorage)
{
    if (!source)
        return nullptr;
    float* own = nullptr;
    if (!destination) {
        const size_t bytes = sizeof(cip_PelBuf) + (xformStorage ? 0 : kXformBytes);
        uint8_t* block = static_cast<uint8_t*>(allocate(static_cast<int64_t>(bytes)));
        if (!block)
            return nullptr;
        destination = reinterpret_cast<cip_PelBuf*>(block);
        own = xformStorage ? nullptr : reinterpret_cast<float*>(block + sizeof(cip_PelBuf));
    }
    const float* values = source->xform;
    float saved[7];
    if (values) {
        // The source's values may live in the destination's own storage.
        std::memcpy(saved, values, kXformBytes);
        values = saved;
    }
    *destination = *source;
    destination->xform = xformStorage ? xformStorage : own;
    setXform(destination->xform, values);
    return destination;
}

template <int32_t PelSize>
int32_t getPel(const cip_PelBuf* b, int32_t x, int32_t y)
{
    assert(int64_t{x} - b->x >= 0 && int64_t{x} - b->x < b->width && int64_t{y} - b->y >= 0 &&
           int64_t{y} - b->y < b->height);
    const uint8_t* p = pelAddress(b, x, y, PelSize);
    if constexpr (PelSize == 1)
        return *p;
    else if constexpr (PelSize == 4)
        return *reinterpret_cast<const int32_t*>(p);
    else
        return *reinterpret_cast<const uint16_t*>(p);
}

int32_t getPelS16(const cip_PelBuf* b, int32_t x, int32_t y)
{
    return static_cast<int16_t>(static_cast<uint16_t>(getPel<2>(b, x, y)));
}

// The system layer's two-dimensional fill takes its fast route itself when
// the processor has it; the pitch, a multiple of 8, gives every row the
// first row's alignment.
cip_PelBuf* fill8(cip_PelBuf* b, uint32_t value)
{
    if (!b || b->width < 1 || b->height < 1)
        return b;
    // The rows lie within the pitch: it cannot fail.
    (void)csys_memSet2D(static_cast<uint8_t>(value), b->width, b->height, b->pitch, windowStart(b, 1));
    return b;
}

template <typename T>
cip_PelBuf* fillPels(cip_PelBuf* b, uint32_t value)
{
    if (!b || b->width < 1 || b->height < 1)
        return b;
    const T v = static_cast<T>(value);
    uint8_t* row = windowStart(b, sizeof(T));
    for (int32_t y = 0; y < b->height; ++y, row += b->pitch) {
        T* p = reinterpret_cast<T*>(row);
        std::fill(p, p + b->width, v);
    }
    return b;
}

// Rows of a copy whose source and destination share bytes (an alias moved
// with setOrigin) go one by one, in the order that reads each before it is
// overwritten.
void copyRows(size_t rowBytes, int32_t rows, int32_t sourcePitch, int32_t destinationPitch, const uint8_t* s,
              uint8_t* d)
{
    const uintptr_t sa = reinterpret_cast<uintptr_t>(s);
    const uintptr_t da = reinterpret_cast<uintptr_t>(d);
    const uintptr_t sEnd = sa + static_cast<uintptr_t>(rows - 1) * sourcePitch + rowBytes;
    const uintptr_t dEnd = da + static_cast<uintptr_t>(rows - 1) * destinationPitch + rowBytes;
    if (sa == da && sourcePitch == destinationPitch)
        return;
    if (sEnd <= da || dEnd <= sa) {
        // Rows lie within their pitches: cannot fail.
        (void)csys_memCopy2D(static_cast<int32_t>(rowBytes), rows, sourcePitch, destinationPitch, s, d);
        return;
    }
    const bool down = da > sa;
    for (int32_t i = 0; i < rows; ++i) {
        const int32_t r = down ? rows - 1 - i : i;
        std::memmove(d + static_cast<ptrdiff_t>(r) * destinationPitch, s + static_cast<ptrdiff_t>(r) * sourcePitch,
                     rowBytes);
    }
}

template <const cip_PelBufType* Type, int32_t PelSize>
cip_PelBuf* copy(const cip_PelBuf* source, cip_PelBuf* destination)
{
    if (!source || pelSizeOf(source->type) != PelSize)
        return nullptr;
    if (destination && pelSizeOf(destination->type) != PelSize)
        return nullptr;
    if (!destination) {
        const cip_PelBufRect window = windowOf(source);
        if (!(destination = createLike<Type, PelSize>(&window)))
            return nullptr;
    }
    const cip_PelBufRect a = windowOf(source);
    const cip_PelBufRect b = windowOf(destination);
    cip_PelBufRect part;
    cip_pbRectIntersect(&a, &b, &part);
    if (!cip_pbRectIsEmpty(&part))
        copyRows(static_cast<size_t>(part.width) * PelSize, part.height, source->pitch, destination->pitch,
                 pelAddress(source, part.x, part.y, PelSize), pelAddress(destination, part.x, part.y, PelSize));
    setXform(destination->xform, source->xform);
    return destination;
}

#define FAMILY(Name, Code, PelSize, Fill, GetPel)                                                              \
    {                                                                                                          \
        Code, &subView, &setOrigin<PelSize>, &freeBuffer, &createLike<&Name, PelSize>, Fill, GetPel,          \
            &copy<&Name, PelSize>, &alias                                                                      \
    }

} // namespace

const float cip_pelBufDefaultXform[7] = {0, 0, 1, 0, 0, 1, 1};

const cip_PelBufType cip_pelBufU8 = FAMILY(cip_pelBufU8, 0, 1, &fill8, &getPel<1>);
const cip_PelBufType cip_pelBufS16 = FAMILY(cip_pelBufS16, 1, 2, &fillPels<uint16_t>, &getPelS16);
const cip_PelBufType cip_pelBufU16 = FAMILY(cip_pelBufU16, 8, 2, &fillPels<uint16_t>, &getPel<2>);
const cip_PelBufType cip_pelBuf32 = FAMILY(cip_pelBuf32, 2, 4, &fillPels<uint32_t>, &getPel<4>);
const cip_PelBufType cip_pelBuf32B = FAMILY(cip_pelBuf32B, 9, 4, &fillPels<uint32_t>, &getPel<4>);

void cip_pbRectSet(int32_t x, int32_t y, int32_t width, int32_t height, cip_PelBufRect* rect)
{
    if (width < 1 || height < 1)
        width = height = 0;
    *rect = {x, y, width, height};
}

int32_t cip_pbRectIsEmpty(const cip_PelBufRect* rect) { return rect->width < 1 || rect->height < 1 ? 1 : 0; }

void cip_pbRectSetOrigin(cip_PelBufRect* rect, int32_t x, int32_t y)
{
    rect->x = x;
    rect->y = y;
}

void cip_pbRectIntersect(const cip_PelBufRect* a, const cip_PelBufRect* b, cip_PelBufRect* out)
{
    // Ends computed in 64 bits: x + width may pass the 32-bit range.
    const int64_t x = std::max(a->x, b->x);
    const int64_t y = std::max(a->y, b->y);
    int64_t width = std::min(int64_t{a->x} + a->width, int64_t{b->x} + b->width) - x;
    int64_t height = std::min(int64_t{a->y} + a->height, int64_t{b->y} + b->height) - y;
    if (width < 1 || height <= 0)
        width = height = 0;
    *out = {static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(width),
            static_cast<int32_t>(height)};
}
