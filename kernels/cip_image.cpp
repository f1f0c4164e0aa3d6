#include "kernels/cip_image.h"

#include <cstddef>
#include <numeric>

namespace {

const csys_recordFunctions kStorageFunctions = {&cip_imageStorageDestroy, &csys_defaultAddReference,
                                                &csys_defaultDropReference};

// Pels to add to a row of width pels so that its bytes are a multiple of the
// alignment: the rows are aligned exactly when the width is a multiple of m.
int64_t stridePad(int32_t width, int32_t pelSize, int32_t alignment)
{
    const int64_t m = int64_t{alignment} / std::gcd(int64_t{pelSize}, int64_t{alignment});
    const int64_t r = int64_t{width} % m;
    return r == 0 ? 0 : m - r;
}

int32_t countOf(const cip_ImageStorage* s) { return __atomic_load_n(s->record.count, __ATOMIC_ACQUIRE); }

void storeGeometry(cip_ImageStorage* s, int32_t pelSize, int32_t width, int32_t height, int32_t alignment,
                   int32_t stride, void* data, void* raw)
{
    s->width = width;
    s->height = height;
    s->stride = stride;
    s->alignment = alignment;
    s->pelSize = pelSize;
    s->data = data;
    s->raw = raw;
}

// The storage's own block, freed whatever it held.
void freeRecord(cip_ImageStorage** slot)
{
    (void)csys_free(slot); // frees a block this layer allocated: cannot fail
}

csysStatus firstFailure(csysStatus a, csysStatus b) { return a < 0 ? a : b; }

// The pels the storage allocated, then its own block.
csysStatus freeStorage(cip_ImageStorage* s)
{
    csysStatus st = s->raw ? csys_free(&s->raw) : csysOk;
    return firstFailure(st, csys_free(&s));
}

csysStatus newStorage(cip_ImageStorage** slot, cip_ImageStorage** made)
{
    if (!slot)
        return cipErrImageBadArg;
    csysStatus st = cip_imageStorageFree(slot);
    if (st < 0)
        return st;
    return csys_allocZeroed(sizeof(cip_ImageStorage), made);
}

// Keeps the new storage in the slot, or frees its block on failure.
csysStatus settle(cip_ImageStorage** slot, cip_ImageStorage* made, csysStatus st)
{
    if (st < 0)
        freeRecord(&made);
    else
        *slot = made;
    return st;
}

// The image holds the new storage of slot; a failure frees it again.
csysStatus attachNew(cip_Image* image, cip_ImageStorage** slot, csysStatus created)
{
    if (created < 0)
        return created;
    csysStatus st = cip_imageInitOnStorage(image, *slot);
    if (st < 0) {
        (void)cip_imageStorageFree(slot); // still held by nothing: cannot be refused
        return st;
    }
    return created;
}

csysStatus initImage3(void* e, const csys_allocator*) { return cip_image3Init(static_cast<cip_Image3*>(e)); }
csysStatus copyImage3(void* d, const void* s)
{
    return cip_image3InitCopy(static_cast<cip_Image3*>(d), static_cast<const cip_Image3*>(s));
}
csysStatus assignImage3(void* d, const void* s)
{
    return cip_image3Assign(static_cast<cip_Image3*>(d), static_cast<const cip_Image3*>(s));
}
csysStatus releaseImage3(void* e) { return cip_image3Release(static_cast<cip_Image3*>(e)); }
csysStatus clearDesc3(void* e, const csys_allocator*) { return cip_image3DescClear(static_cast<cip_Image3Desc*>(e)); }

constexpr csys_elemType kImage3Row = {&initImage3, &copyImage3, &assignImage3, &releaseImage3, -1};
constexpr csys_elemType kDesc3Row = {&clearDesc3, nullptr, nullptr, nullptr, -1};

} // namespace

const csys_typeDescription cip_imageStorageType = {0, nullptr, &kStorageFunctions};
const csys_elemType cip_elemImage3[2] = {kImage3Row, kImage3Row};
const csys_elemType cip_elemImage3Desc[2] = {kDesc3Row, kDesc3Row};

csysStatus cip_imageStorageDestroy(void* payloadField, int32_t)
{
    if (!payloadField)
        return csysErrNullArg;
    cip_ImageStorage* s = *static_cast<cip_ImageStorage**>(payloadField);
    return s ? freeStorage(s) : csysOk;
}

csysStatus cip_imageStorageCreate(cip_ImageStorage* storage, const csys_typeDescription* type, int32_t pelSize,
                                  int32_t width, int32_t height, int32_t alignment, csys_allocFunction allocate,
                                  cip_freeFunction)
{
    if (!storage || !allocate || pelSize < 1 || width < 1 || height < 1 || alignment < 1)
        return cipErrImageBadArg;
    csysStatus st = csys_handleInitTyped(&storage->record, storage, type ? type : &cip_imageStorageType);
    if (st < 0)
        return st;
    const int64_t stride = width + stridePad(width, pelSize, alignment);
    // A row past 31 bits is too large whatever the height; below that the
    // products stay well inside 64 bits.
    const int64_t rowBytes = stride * pelSize;
    if (rowBytes > INT32_MAX || rowBytes * height + alignment - 1 > INT32_MAX)
        return csysErrBadSize;
    void* block = nullptr;
    st = allocate(static_cast<int32_t>(rowBytes * height + alignment - 1), &block);
    if (st < 0)
        return st;
    const uintptr_t a = static_cast<uintptr_t>(alignment);
    void* data = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(block) + a - 1) / a * a);
    storeGeometry(storage, pelSize, width, height, alignment, static_cast<int32_t>(stride), data, block);
    return st;
}

csysStatus cip_imageStorageAttach(cip_ImageStorage* storage, const csys_typeDescription* type, int32_t pelSize,
                                  void* data, int32_t width, int32_t height, int32_t alignment, int32_t stride)
{
    if (!storage || !data || pelSize < 1 || width < 1 || height < 1 || alignment < 1 || stride < width)
        return cipErrImageBadArg;
    const int64_t rowBytes = int64_t{pelSize} * stride;
    if (reinterpret_cast<uintptr_t>(data) % static_cast<uintptr_t>(alignment) != 0 || rowBytes % alignment != 0)
        return cipErrImageBadArg;
    // Pel addresses are computed in ptrdiff_t: the extent must fit.
    if (rowBytes > PTRDIFF_MAX / height)
        return cipErrImageBadArg;
    csysStatus st = csys_handleInitTyped(&storage->record, storage, type ? type : &cip_imageStorageType);
    if (st < 0)
        return st;
    storeGeometry(storage, pelSize, width, height, alignment, stride, data, nullptr);
    return st;
}

csysStatus cip_imageStorageNew(cip_ImageStorage** slot, const csys_typeDescription* type, int32_t pelSize,
                               int32_t width, int32_t height, int32_t alignment, csys_allocFunction allocate,
                               cip_freeFunction release)
{
    cip_ImageStorage* made = nullptr;
    csysStatus st = newStorage(slot, &made);
    if (st < 0)
        return st;
    return settle(slot, made,
                  cip_imageStorageCreate(made, type, pelSize, width, height, alignment, allocate, release));
}

csysStatus cip_imageStorageNewOver(cip_ImageStorage** slot, int32_t pelSize, void* data, int32_t width,
                                   int32_t height, int32_t alignment, int32_t stride)
{
    cip_ImageStorage* made = nullptr;
    csysStatus st = newStorage(slot, &made);
    if (st < 0)
        return st;
    return settle(slot, made,
                  cip_imageStorageAttach(made, nullptr, pelSize, data, width, height, alignment, stride));
}

csysStatus cip_imageStorageFree(cip_ImageStorage** slot)
{
    if (!slot)
        return cipErrImageBadArg;
    cip_ImageStorage* s = *slot;
    if (!s)
        return csysOk;
    // Freeing what images still hold would leave them pointing at freed pels.
    if (countOf(s) != 0)
        return cipErrImageBadArg;
    *slot = nullptr;
    return freeStorage(s);
}

csysStatus cip_imageInit(cip_Image* image)
{
    if (!image)
        return cipErrImageBadArg;
    *image = cip_Image{0, 0, 0, 0, 0, 0, nullptr, nullptr};
    return csysOk;
}

csysStatus cip_imageInitOnStorage(cip_Image* image, cip_ImageStorage* storage)
{
    if (!image)
        return cipErrImageBadArg;
    cip_Image made = {0, 0, 0, 0, 0, 0, nullptr, nullptr};
    if (storage) {
        made.width = storage->width;
        made.height = storage->height;
        csysStatus st = csys_handleAttach(&made.storage, &storage->record);
        if (st < 0)
            return st;
    }
    *image = made;
    return csysOk;
}

csysStatus cip_imageCreate(cip_Image* image, int32_t pelSize, int32_t width, int32_t height, int32_t alignment,
                           csys_allocFunction allocate, cip_freeFunction release)
{
    if (!image)
        return cipErrImageBadArg;
    cip_ImageStorage* s = nullptr;
    return attachNew(image, &s,
                     cip_imageStorageNew(&s, nullptr, pelSize, width, height, alignment, allocate, release));
}

csysStatus cip_imageCreateAligned32(cip_Image* image, int32_t pelSize, int32_t width, int32_t height)
{
    return cip_imageCreate(image, pelSize, width, height, 32, &csys_alloc, &csys_free);
}

csysStatus cip_imageCreateOver(cip_Image* image, int32_t pelSize, void* data, int32_t width, int32_t height,
                               int32_t alignment, int32_t stride)
{
    if (!image)
        return cipErrImageBadArg;
    cip_ImageStorage* s = nullptr;
    return attachNew(image, &s, cip_imageStorageNewOver(&s, pelSize, data, width, height, alignment, stride));
}

csysStatus cip_imageReallocAligned32(cip_Image* image, int32_t pelSize, int32_t width, int32_t height)
{
    if (!image)
        return cipErrImageBadArg;
    cip_Image made;
    csysStatus st = cip_imageCreateAligned32(&made, pelSize, width, height);
    if (st < 0)
        return st;
    st = cip_imageCopy(image, &made);
    return firstFailure(st, cip_imageRelease(&made));
}

csysStatus cip_imageCopy(cip_Image* destination, const cip_Image* source)
{
    if (!destination || !source)
        return cipErrImageBadArg;
    destination->width = source->width;
    destination->height = source->height;
    destination->offsetX = source->offsetX;
    destination->offsetY = source->offsetY;
    destination->windowX = source->windowX;
    destination->windowY = source->windowY;
    csysStatus st = csys_handleCopy(&destination->storage, &source->storage);
    if (st < 0)
        return st;
    return csys_handleCopy(&destination->xform, &source->xform);
}

csysStatus cip_imageRelease(cip_Image* image)
{
    if (!image)
        return cipErrImageBadArg;
    // The transform is released too when the storage fails: the slot is
    // empty either way, so nothing would release it later.
    csysStatus st = csys_handleRelease(&image->storage);
    return firstFailure(st, csys_handleRelease(&image->xform));
}

csysStatus cip_imageHasStorage(const cip_Image* image, int32_t* hasStorage)
{
    if (!image || !hasStorage)
        return cipErrImageBadArg;
    *hasStorage = image->storage ? 1 : 0;
    return csysOk;
}

csysStatus cip_imageDescClear(cip_ImageDesc* description)
{
    if (!description)
        return cipErrImageBadArg;
    *description = cip_ImageDesc{0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, 0};
    return csysOk;
}

csysStatus cip_imageDescribe(cip_ImageDesc* description, const cip_Image* image)
{
    if (!description || !image)
        return cipErrImageBadArg;
    csysStatus st = cip_imageDescClear(description);
    const cip_ImageStorage* s = image->storage ? static_cast<const cip_ImageStorage*>(image->storage->payload) : nullptr;
    if (s) {
        const int64_t x = image->windowX;
        const int64_t y = image->windowY;
        if (image->width < 0 || image->height < 0 || x < 0 || y < 0 || x + image->width > s->width ||
            y + image->height > s->height)
            return cipErrImageBadArg;
    }
    description->width = image->width;
    description->height = image->height;
    description->offsetX = image->offsetX;
    description->offsetY = image->offsetY;
    description->windowX = image->windowX;
    description->windowY = image->windowY;
    if (s) {
        description->storageWidth = s->width;
        description->storageHeight = s->height;
        description->storageStride = s->stride;
        const ptrdiff_t pel = static_cast<ptrdiff_t>(image->windowY) * s->stride + image->windowX;
        description->first = static_cast<unsigned char*>(s->data) + pel * s->pelSize;
        description->pelSize = s->pelSize;
    }
    return st;
}

csysStatus cip_image3Init(cip_Image3* image)
{
    if (!image)
        return cipErrImageBadArg;
    for (cip_Image& plane : image->plane)
        (void)cip_imageInit(&plane); // a plane of a record cannot be null
    return csysOk;
}

csysStatus cip_image3Release(cip_Image3* image)
{
    if (!image)
        return cipErrImageBadArg;
    csysStatus st = csysOk;
    for (cip_Image& plane : image->plane)
        st = firstFailure(st, cip_imageRelease(&plane));
    return st;
}

csysStatus cip_image3Assign(cip_Image3* destination, const cip_Image3* source)
{
    if (!destination || !source)
        return cipErrImageBadArg;
    if (destination == source)
        return csysOk;
    for (int i = 0; i < 3; ++i) {
        csysStatus st = cip_imageCopy(&destination->plane[i], &source->plane[i]);
        if (st < 0)
            return st;
    }
    return csysOk;
}

csysStatus cip_image3InitCopy(cip_Image3* destination, const cip_Image3* source)
{
    if (!destination || !source)
        return cipErrImageBadArg;
    if (destination == source)
        return csysOk;
    (void)cip_image3Init(destination); // not null: checked above
    csysStatus st = cip_image3Assign(destination, source);
    if (st < 0)
        (void)cip_image3Release(destination); // the copy's failure is the one reported
    return st;
}

csysStatus cip_image3DescClear(cip_Image3Desc* descriptions)
{
    if (!descriptions)
        return cipErrImageBadArg;
    for (cip_ImageDesc& d : descriptions->plane)
        (void)cip_imageDescClear(&d); // not null
    return csysOk;
}
