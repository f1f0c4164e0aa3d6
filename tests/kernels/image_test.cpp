#include <gtest/gtest.h>

#include <cstring>

#include "kernels/cip_elem.h"
#include "kernels/cip_image.h"
#include "system/csys_cpu.h"
#include "tests/support/fake_heap.h"
#include "tests/support/refusing_storage.h"

namespace {

using fake_heap::FakeHeap;

template <class T>
T& at(const csys_array& a, int i)
{
    return static_cast<T*>(a.data)[i];
}

// New elements (on a heap whose blocks start as 0xA5 bytes) are zero bytes,
// identity transforms, empty arrays of the inner kind and empty three-plane
// images; nested arrays are copied deeply, transform references and planes
// shared, and freeing frees them all.
TEST(KernelArrays, ElementsAreMadeCopiedAndFreedByTheirKind)
{
    csysCpuInfo info; // made on first use and kept: before the heap counts blocks
    ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
    FakeHeap heap;
    csys_array zero, affine, outer, copy, refs, refCopy, planes, planesCopy;
    ASSERT_EQ(csys_arrayCreate(&zero, 2, 16, &cip_elemZero16), csysOk);
    ASSERT_EQ(csys_arrayCreate(&affine, 2, sizeof(cip_Affine2), &cip_elemAffineB), csysOk);
    ASSERT_EQ(csys_arrayCreate(&outer, 2, sizeof(csys_array), &cip_elemArrayOfArrays4), csysOk);
    EXPECT_EQ(std::memcmp(&at<char>(zero, 16), "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), 0);
    const cip_Affine2& x = at<cip_Affine2>(affine, 1);
    EXPECT_TRUE(x.tx == 0 && x.ty == 0 && x.a == 1 && x.b == 0 && x.c == 0 && x.d == 1);
    csys_array& middle = at<csys_array>(outer, 1);
    EXPECT_TRUE(middle.length == 0 && !middle.data && middle.type == &cip_elemArray4[0]);
    ASSERT_EQ(csys_arrayResize(&middle, 2), csysOk);
    ASSERT_EQ(csys_arrayResizeFill(&at<csys_array>(middle, 1), 3, "\x07\x00\x00\x00"), csysOk);
    ASSERT_EQ(cip_elemArrayCopy(&copy, &outer), csysOk);
    const csys_array& copied = at<csys_array>(at<csys_array>(copy, 1), 1);
    EXPECT_TRUE(copied.data != at<csys_array>(middle, 1).data && copied.length == 3 && at<int32_t>(copied, 2) == 7);
    ASSERT_EQ(csys_arrayCreate(&refs, 1, sizeof(csys_handle), &cip_elemXformRef[1]), csysOk);
    ASSERT_EQ(cip_xformCreateAffine(&x, &at<csys_handle>(refs, 0)), csysOk);
    ASSERT_EQ(cip_elemArrayCopy(&refCopy, &refs), csysOk);
    EXPECT_TRUE(at<csys_handle>(refCopy, 0) == at<csys_handle>(refs, 0) && *at<csys_handle>(refs, 0)->count == 2);

    ASSERT_EQ(csys_arrayCreate(&planes, 2, sizeof(cip_Image3), &cip_elemImage3[1]), csysOk);
    cip_Image3& first = at<cip_Image3>(planes, 0);
    for (cip_Image& p : first.plane)
        ASSERT_EQ(cip_imageReallocAligned32(&p, 1, 4, 4), csysOk);
    ASSERT_EQ(cip_image3InitCopy(&first, &first), csysOk); // into itself: kept
    ASSERT_EQ(cip_elemArrayCopy(&planesCopy, &planes), csysOk);
    for (const cip_Image& p : at<cip_Image3>(planesCopy, 0).plane)
        EXPECT_EQ(*p.storage->count, 2);
    ASSERT_EQ(cip_image3Assign(&at<cip_Image3>(planesCopy, 0), &at<cip_Image3>(planesCopy, 1)), csysOk);
    EXPECT_EQ(*first.plane[0].storage->count, 1);
    for (csys_array* a : {&zero, &affine, &outer, &copy, &refs, &refCopy, &planes, &planesCopy})
        ASSERT_EQ(cip_elemArrayDestroy(a), csysOk);
    EXPECT_TRUE(heap.live.empty());
    // The count's high word counts: 2^32 elements are too many.
    EXPECT_EQ(cip_arrayCreate8Byte(&outer, 0, 1), csysErrNoMemory);
}

// New storages (stride and bytes of the block) and storages over a caller's
// pels at a byte offset from an aligned block (stride given).
TEST(KernelImages, StoragesAlignTheirRowsOrRefuse)
{
    alignas(32) static unsigned char pels[32 * 4];
    const struct {
        bool over;
        int32_t offset, pelSize, width, height, alignment, stride;
        csysStatus status;
        size_t bytes;
    } rows[] = {
        {false, 0, 1, 10, 1, 32, 32, csysOk, 63}, {false, 0, 2, 10, 1, 32, 16, csysOk, 63},
        {false, 0, 3, 5, 2, 4, 8, csysOk, 51},    {false, 0, 1, 65536, 32768, 1, 0, csysErrBadSize, 0},
        // Products that would pass 64 bits are refused before they are formed.
        {false, 0, 1 << 30, 1 << 30, INT32_MAX, 1, 0, csysErrBadSize, 0},
        {true, 0, 1 << 30, 1 << 30, INT32_MAX, 1, 1 << 30, cipErrImageBadArg, 0},
        {false, 0, 1, 10, 1, 0, 0, cipErrImageBadArg, 0}, {true, 0, 2, 10, 4, 32, 16, csysOk, 0},
        {true, 1, 2, 10, 4, 32, 16, cipErrImageBadArg, 0}, {true, 0, 1, 10, 4, 1, 9, cipErrImageBadArg, 0},
        {true, 0, 1, 10, 4, 4, 10, cipErrImageBadArg, 0},
    };
    FakeHeap heap;
    for (const auto& r : rows) {
        SCOPED_TRACE(&r - rows);
        cip_ImageStorage* s = nullptr;
        ASSERT_EQ(r.over ? cip_imageStorageNewOver(&s, r.pelSize, pels + r.offset, r.width, r.height, r.alignment,
                                                   r.stride)
                         : cip_imageStorageNew(&s, nullptr, r.pelSize, r.width, r.height, r.alignment, &csys_alloc,
                                               &csys_free),
                  r.status);
        EXPECT_EQ(s == nullptr, r.status < 0);
        if (!s)
            continue;
        const uintptr_t data = uintptr_t(s->data), block = uintptr_t(r.over ? pels : s->raw);
        EXPECT_TRUE(s->stride == r.stride && (r.over ? !s->raw : heap.live.at(s->raw) == r.bytes));
        EXPECT_TRUE(data % r.alignment == 0 && data - block < uintptr_t(r.alignment));
        ASSERT_EQ(cip_imageStorageFree(&s), csysOk);
    }
    EXPECT_TRUE(heap.live.empty());
}

// A window inside the storage is addressed; one outside it is refused with
// a cleared description; an image without storage has no address.
TEST(KernelImages, DescriptionsAddressTheWindowOrRefuse)
{
    alignas(8) static unsigned char pels[16 * 2 * 6];
    cip_Image image, bare = {4, 0, 0, 0, 0, 0, nullptr, nullptr};
    cip_ImageDesc d;
    ASSERT_EQ(cip_imageCreateOver(&image, 2, pels, 12, 6, 8, 16), csysOk);
    ASSERT_EQ(cip_imageDescribe(&d, &bare), csysOk);
    EXPECT_TRUE(d.width == 4 && d.storageStride == 0 && d.first == nullptr && d.pelSize == 0);
    // x, y, width, height, status.
    const int32_t rows[][5] = {{3, 2, 5, 4, csysOk}, {3, 2, 10, 4, cipErrImageBadArg}, {0, 5, 12, 2, cipErrImageBadArg},
                               {-1, 0, 1, 1, cipErrImageBadArg}, {12, 5, 0, 1, csysOk}};
    for (const auto& r : rows) {
        image.windowX = r[0], image.windowY = r[1], image.width = r[2], image.height = r[3];
        ASSERT_EQ(cip_imageDescribe(&d, &image), r[4]);
        EXPECT_EQ(d.first, r[4] ? nullptr : pels + (r[1] * 16 + r[0]) * 2);
        EXPECT_TRUE(d.width == (r[4] ? 0 : r[2]) && d.storageStride == (r[4] ? 0 : 16) && d.pelSize == (r[4] ? 0 : 2));
    }
    ASSERT_EQ(cip_imageRelease(&image), csysOk);
}

// Copies share the storage, which no slot may free while images hold it; a
// new storage for one image leaves the other the old one; a creation whose
// pels cannot be had leaves the record as it was and nothing allocated; a
// storage that refuses to let go still lets the transform go.
TEST(KernelImages, StorageLivesWhileAnImageHoldsIt)
{
    FakeHeap heap;
    cip_Image a, b;
    ASSERT_EQ(cip_imageCreateAligned32(&a, 1, 10, 4), csysOk);
    const csys_handle storage = a.storage;
    ASSERT_EQ(cip_imageInit(&b), csysOk);
    a.offsetX = 7;
    ASSERT_EQ(cip_imageCopy(&b, &a), csysOk);
    ASSERT_EQ(cip_imageCopy(&b, &b), csysOk);
    EXPECT_TRUE(b.storage == storage && b.offsetX == 7 && *storage->count == 2);
    cip_ImageStorage* slot = static_cast<cip_ImageStorage*>(storage->payload);
    EXPECT_EQ(cip_imageStorageFree(&slot), cipErrImageBadArg);
    ASSERT_EQ(cip_imageRelease(&a), csysOk);
    ASSERT_EQ(cip_imageCopy(&a, &b), csysOk); // a released record is an empty one
    ASSERT_EQ(cip_imageReallocAligned32(&b, 2, 3, 3), csysOk);
    EXPECT_TRUE(a.storage == storage && b.storage != storage && *storage->count == 1 && b.width == 3);
    ASSERT_EQ(cip_imageRelease(&a), csysOk);
    ASSERT_EQ(cip_imageRelease(&b), csysOk);
    EXPECT_TRUE(heap.live.empty());

    cip_ImageStorage s;
    ASSERT_EQ(refusing_storage::attach(s), csysOk);
    ASSERT_EQ(cip_imageInitOnStorage(&a, &s), csysOk);
    const cip_Affine2 identity = {0, 0, 1, 0, 0, 1};
    ASSERT_EQ(cip_xformCreateAffine(&identity, &a.xform), csysOk);
    EXPECT_EQ(cip_imageRelease(&a), csysErrFail);
    EXPECT_TRUE(a.xform == nullptr && heap.live.empty());
    heap.failFrom = heap.requests + 1; // the storage record is had, its pels are not
    EXPECT_EQ(cip_imageCreateAligned32(&a, 1, 8, 8), csysErrNoMemory);
    EXPECT_TRUE(a.storage == nullptr && a.width == 4 && heap.live.empty());
}

} // namespace
