#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/cip_elem.h"
#include "kernels/cip_image.h"
#include "tests/kernels/warm_heap.h"

namespace {

typedef kernel_test::WarmHeap FakeHeap;

template <class T>
T& at(const csys_array& a, int i)
{
    return static_cast<T*>(a.data)[i];
}

// New elements on a heap whose blocks start as 0xA5 bytes: zero bytes,
// identity transforms, empty arrays of the inner kind.
TEST(KernelArrays, NewElementsOfEachKind)
{
    FakeHeap heap;
    csys_array zero, affine, nested;
    ASSERT_EQ(csys_arrayCreate(&zero, 2, 16, &cip_elemZero16), csysOk);
    ASSERT_EQ(csys_arrayCreate(&affine, 2, sizeof(cip_Affine2), &cip_elemAffineB), csysOk);
    ASSERT_EQ(csys_arrayCreate(&nested, 2, sizeof(csys_array), &cip_elemArrayOfArrays4), csysOk);
    EXPECT_EQ(std::memcmp(&at<std::array<char, 16>>(zero, 1), std::array<char, 16>{}.data(), 16), 0);
    const cip_Affine2& x = at<cip_Affine2>(affine, 1);
    EXPECT_TRUE(x.tx == 0 && x.ty == 0 && x.a == 1 && x.b == 0 && x.c == 0 && x.d == 1);
    const csys_array& e = at<csys_array>(nested, 1);
    EXPECT_TRUE(e.length == 0 && !e.data && e.elementSize == sizeof(csys_array) && e.type == &cip_elemArray4[0]);
    for (csys_array* a : {&zero, &affine, &nested})
        ASSERT_EQ(cip_elemArrayDestroy(a), csysOk);
    EXPECT_TRUE(heap.live.empty());
}

// Nested arrays and transform references are copied and freed element by
// element.
TEST(KernelArrays, NestedElementsAreCopiedAndFreed)
{
    FakeHeap heap;
    csys_array outer, copy, refs, refCopy;
    ASSERT_EQ(csys_arrayCreate(&outer, 2, sizeof(csys_array), &cip_elemArrayOfArrays4), csysOk);
    // Each element is an array of arrays of 4-byte elements.
    csys_array& middle = at<csys_array>(outer, 1);
    ASSERT_EQ(csys_arrayResize(&middle, 2), csysOk);
    ASSERT_EQ(csys_arrayResizeFill(&at<csys_array>(middle, 1), 3, "\x07\x00\x00\x00"), csysOk);
    ASSERT_EQ(cip_elemArrayCopy(&copy, &outer), csysOk);
    const csys_array& copied = at<csys_array>(at<csys_array>(copy, 1), 1);
    EXPECT_TRUE(copied.data != at<csys_array>(middle, 1).data && copied.length == 3 && at<int32_t>(copied, 2) == 7);

    const cip_Affine2 shift = {1, 2, 1, 0, 0, 1};
    ASSERT_EQ(csys_arrayCreate(&refs, 2, sizeof(csys_handle), &cip_elemXformRef[0]), csysOk);
    ASSERT_EQ(cip_xformCreateAffine(&shift, &at<csys_handle>(refs, 0)), csysOk);
    ASSERT_EQ(cip_elemArrayCopy(&refCopy, &refs), csysOk);
    EXPECT_TRUE(at<csys_handle>(refCopy, 0) == at<csys_handle>(refs, 0) && *at<csys_handle>(refs, 0)->count == 2);
    for (csys_array* a : {&outer, &copy, &refs, &refCopy})
        ASSERT_EQ(cip_elemArrayDestroy(a), csysOk);
    EXPECT_TRUE(heap.live.empty());
    // The count's high word counts: 2^32 elements are too many.
    EXPECT_EQ(cip_arrayCreate8Byte(&outer, 0, 1), csysErrNoMemory);
}

// ---- images ----

int32_t gAskedBytes = -1;
void* gBlock = nullptr;

csysStatus recordingAlloc(int32_t size, void* slot)
{
    gAskedBytes = size;
    csysStatus st = csys_alloc(size, slot);
    gBlock = *static_cast<void**>(slot);
    return st;
}

// New storages (stride and bytes asked of the allocator) and storages over a
// caller's pels at a byte offset from an aligned block (stride given).
TEST(KernelImages, StoragesAlignTheirRowsOrRefuse)
{
    alignas(32) static unsigned char pels[32 * 4];
    const struct {
        bool over;
        int32_t offset, pelSize, width, height, alignment, stride;
        csysStatus status;
        int32_t asked; // -1: the allocator is not called
    } rows[] = {
        {false, 0, 1, 10, 1, 32, 32, csysOk, 63},
        {false, 0, 2, 10, 1, 32, 16, csysOk, 63},
        {false, 0, 3, 5, 2, 4, 8, csysOk, 51},
        {false, 0, 1, 1, 1, 32, 32, csysOk, 63},
        {false, 0, 1, 65536, 32768, 1, 0, csysErrBadSize, -1},
        {false, 0, 1, INT32_MAX, 1, 64, 0, csysErrBadSize, -1},
        {false, 0, 0, 10, 1, 32, 0, cipErrImageBadArg, -1},
        {false, 0, 1, 10, 1, 0, 0, cipErrImageBadArg, -1},
        {true, 0, 2, 10, 4, 32, 16, csysOk, -1},
        {true, 1, 2, 10, 4, 32, 16, cipErrImageBadArg, -1},
        {true, 0, 1, 10, 4, 1, 9, cipErrImageBadArg, -1},
        {true, 0, 1, 10, 4, 4, 10, cipErrImageBadArg, -1},
        // More bytes than an address offset can span (nothing is touched).
        {true, 0, 1 << 30, 1 << 30, INT32_MAX, 1, 1 << 30, cipErrImageBadArg, -1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(&r - rows);
        gAskedBytes = -1;
        cip_ImageStorage* s = nullptr;
        ASSERT_EQ(r.over ? cip_imageStorageNewOver(&s, r.pelSize, pels + r.offset, r.width, r.height, r.alignment,
                                                   r.stride)
                         : cip_imageStorageNew(&s, nullptr, r.pelSize, r.width, r.height, r.alignment,
                                               &recordingAlloc, &csys_free),
                  r.status);
        EXPECT_EQ(gAskedBytes, r.asked);
        if (r.status < 0) {
            EXPECT_EQ(s, nullptr);
            continue;
        }
        const uintptr_t block = reinterpret_cast<uintptr_t>(r.over ? pels : gBlock);
        const uintptr_t data = reinterpret_cast<uintptr_t>(s->data);
        EXPECT_TRUE(s->stride == r.stride && s->raw == (r.over ? nullptr : gBlock));
        EXPECT_TRUE(data % r.alignment == 0 && data - block < uintptr_t(r.alignment));
        ASSERT_EQ(cip_imageStorageFree(&s), csysOk);
    }
}

TEST(KernelImages, DescriptionsAddressTheWindowOrRefuse)
{
    alignas(8) static unsigned char pels[16 * 2 * 6];
    cip_Image image, bare;
    cip_ImageDesc d;
    ASSERT_EQ(cip_imageCreateOver(&image, 2, pels, 12, 6, 8, 16), csysOk);
    ASSERT_EQ(cip_imageInit(&bare), csysOk);
    bare.width = 4;
    ASSERT_EQ(cip_imageDescribe(&d, &bare), csysOk);
    EXPECT_TRUE(d.width == 4 && d.storageStride == 0 && d.first == nullptr && d.pelSize == 0);

    const struct {
        int32_t x, y, width, height;
        csysStatus status;
    } rows[] = {{3, 2, 5, 4, csysOk}, {3, 2, 10, 4, cipErrImageBadArg}, {0, 5, 12, 2, cipErrImageBadArg},
                {-1, 0, 1, 1, cipErrImageBadArg}, {12, 5, 0, 1, csysOk}};
    for (const auto& r : rows) {
        image.windowX = r.x, image.windowY = r.y, image.width = r.width, image.height = r.height;
        ASSERT_EQ(cip_imageDescribe(&d, &image), r.status);
        if (r.status == csysOk) {
            EXPECT_TRUE(d.first == pels + (r.y * 16 + r.x) * 2 && d.storageHeight == 6 && d.pelSize == 2);
        } else {
            EXPECT_TRUE(d.first == nullptr && d.width == 0);
        }
    }
    ASSERT_EQ(cip_imageRelease(&image), csysOk);
}

TEST(KernelImages, StorageLivesWhileAnImageHoldsIt)
{
    FakeHeap heap;
    cip_Image a, b, c;
    ASSERT_EQ(cip_imageCreateAligned32(&a, 1, 10, 4), csysOk);
    const csys_handle storage = a.storage;
    ASSERT_EQ(cip_imageInit(&b), csysOk);
    a.offsetX = 7;
    ASSERT_EQ(cip_imageCopy(&b, &a), csysOk);
    ASSERT_EQ(cip_imageCopy(&b, &b), csysOk);
    EXPECT_TRUE(b.storage == storage && b.offsetX == 7 && *storage->count == 2);
    // A storage that images hold is not freed through a slot.
    cip_ImageStorage* slot = static_cast<cip_ImageStorage*>(storage->payload);
    EXPECT_EQ(cip_imageStorageFree(&slot), cipErrImageBadArg);
    ASSERT_EQ(cip_imageRelease(&a), csysOk);
    EXPECT_EQ(heap.live.size(), 2u);

    // Another storage for b; c keeps the old one.
    ASSERT_EQ(cip_imageInit(&c), csysOk);
    ASSERT_EQ(cip_imageCopy(&c, &b), csysOk);
    ASSERT_EQ(cip_imageReallocAligned32(&b, 2, 3, 3), csysOk);
    EXPECT_TRUE(c.storage == storage && b.storage != storage && *storage->count == 1 && b.width == 3);
    ASSERT_EQ(cip_imageRelease(&c), csysOk);
    ASSERT_EQ(cip_imageRelease(&b), csysOk);
    EXPECT_TRUE(heap.live.empty());
}

csysStatus refuseDrop(int32_t*, int32_t*, void*, int32_t) { return csysErrFail; }

// A storage whose release fails still lets the transform go.
TEST(KernelImages, ReleaseLetsGoOfBothReferences)
{
    FakeHeap heap;
    static const csys_recordFunctions functions = {&cip_imageStorageDestroy, cip_imageStorageType.functions->addReference,
                                                   &refuseDrop};
    static const csys_typeDescription failing = {0, nullptr, &functions};
    cip_ImageStorage* s = nullptr;
    ASSERT_EQ(cip_imageStorageNew(&s, &failing, 1, 4, 4, 8, &csys_alloc, &csys_free), csysOk);
    cip_Image image;
    ASSERT_EQ(cip_imageInitOnStorage(&image, s), csysOk);
    const cip_Affine2 identity = {0, 0, 1, 0, 0, 1};
    ASSERT_EQ(cip_xformCreateAffine(&identity, &image.xform), csysOk);
    EXPECT_EQ(cip_imageRelease(&image), csysErrFail);
    EXPECT_TRUE(image.storage == nullptr && image.xform == nullptr);
    EXPECT_EQ(heap.live.size(), 2u); // the storage's blocks only
    s->record.inlineCount = 0; // the refused drop left the count at 1
    ASSERT_EQ(cip_imageStorageFree(&s), csysOk);
}

// The pels cannot be had: the new storage record goes again and the image
// is left as it was.
TEST(KernelImages, AFailedCreationLeavesNothing)
{
    FakeHeap heap;
    heap.failFrom = 1;
    cip_Image image;
    std::memset(&image, 0x3C, sizeof image);
    const cip_Image before = image;
    EXPECT_EQ(cip_imageCreateAligned32(&image, 1, 8, 8), csysErrNoMemory);
    EXPECT_EQ(std::memcmp(&image, &before, sizeof image), 0);
    EXPECT_TRUE(heap.requests == 2 && heap.live.empty());
}

// Arrays of three-plane images copy and release every plane.
TEST(KernelImages, ThreePlaneElementsShareTheirStorages)
{
    FakeHeap heap;
    csys_array planes, copy;
    ASSERT_EQ(csys_arrayCreate(&planes, 2, sizeof(cip_Image3), &cip_elemImage3[1]), csysOk);
    cip_Image3& first = at<cip_Image3>(planes, 0);
    EXPECT_TRUE(first.plane[2].storage == nullptr && first.plane[2].width == 0);
    for (cip_Image& p : first.plane)
        ASSERT_EQ(cip_imageReallocAligned32(&p, 1, 4, 4), csysOk);
    ASSERT_EQ(cip_image3InitCopy(&first, &first), csysOk);
    ASSERT_EQ(cip_elemArrayCopy(&copy, &planes), csysOk);
    for (const cip_Image& p : at<cip_Image3>(copy, 0).plane)
        EXPECT_EQ(*p.storage->count, 2);
    ASSERT_EQ(cip_image3Assign(&at<cip_Image3>(copy, 0), &at<cip_Image3>(copy, 1)), csysOk);
    EXPECT_EQ(*first.plane[0].storage->count, 1);
    ASSERT_EQ(cip_elemArrayDestroy(&planes), csysOk);
    ASSERT_EQ(cip_elemArrayDestroy(&copy), csysOk);
    EXPECT_TRUE(heap.live.empty());
}

} // namespace
