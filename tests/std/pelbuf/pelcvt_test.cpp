#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "numeric/cip_geometry.h"
#include "std/math/xflinear.h"
#include "std/pelbuf/pelcvt.h"
#include "std/pelbuf/startup.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/support/fake_heap.h"
#include "tests/support/refusing_storage.h"

namespace {

typedef ccPelBuffer<unsigned char> Buffer8;

cip_ImageStorage& storageOf(const cip_Image& image) { return *static_cast<cip_ImageStorage*>(image.storage->payload); }

// A kernel image becomes a buffer over its own pels, bound to the window of
// its storage, with its offsets and transform; or an unbound one. The
// storage goes with the last of the kernel image and the buffers.
TEST(PelCvt, KernelImagesBecomeBuffersOverTheirPels)
{
    ccStdPelbufStartup(); // makes the processor description before the heap counts blocks
    fake_heap::FakeHeap heap;
    cip_Image image, bare;
    ASSERT_EQ(cip_imageCreateAligned32(&image, 1, 10, 6), csysOk);
    image.windowX = 2, image.windowY = 1, image.width = 4, image.height = 3;
    image.offsetX = 100, image.offsetY = 200;
    Buffer8 b = Buffer8::fromCipImage(image);
    EXPECT_TRUE(dynamic_cast<ccPelRootCvt<unsigned char>*>(&b.root()) && b.windowRect() == ccPelRect(2, 1, 4, 3));
    EXPECT_TRUE(b.windowOffset().x == 100 && b.windowOffset().y == 200 && b.linearClientXform().isIdentity());
    *b.pel(101, 202) = 77;
    const cip_ImageStorage& s = storageOf(image);
    EXPECT_TRUE(static_cast<unsigned char*>(s.data)[3 * s.stride + 3] == 77 && *image.storage->count == 2);
    // Outside its storage, or of wider pels: refused, nothing kept.
    image.width = 9;
    EXPECT_THROW(Buffer8::fromCipImage(image), ccPel::BadWindow);
    storageOf(image).pelSize = 2, image.width = 4;
    EXPECT_THROW(Buffer8::fromCipImage(image), ccPel::Unknown);
    EXPECT_EQ(*image.storage->count, 2);
    // The buffer alone keeps the storage, then nothing does.
    ASSERT_EQ(cip_imageRelease(&image), csysOk);
    EXPECT_EQ(*b.pel(101, 202), 77);
    b = Buffer8();
    EXPECT_TRUE(heap.live.empty());

    // Without storage: unbound, with the image's offsets and transform.
    ASSERT_EQ(cip_imageInit(&bare), csysOk);
    bare.offsetX = -5, bare.offsetY = 6;
    const cip_Affine2 x = {4, -1, 2, 0, 0, 3};
    ASSERT_EQ(cip_xformCreateAffine(&x, &bare.xform), csysOk);
    const Buffer8 unbound = Buffer8::fromCipImage(bare);
    EXPECT_TRUE(!unbound.isBound() && unbound.windowOffset().x == -5 && unbound.windowOffset().y == 6);
    const cc2Vect p = unbound.linearClientXform().mapPoint(cc2Vect(1, 10)); // (2 + 4, 30 - 1)
    EXPECT_TRUE(p.x() == 6 && p.y() == 29);
    ASSERT_EQ(cip_imageRelease(&bare), csysOk);

    // A storage whose release fails: the root still goes, and says nothing.
    cip_ImageStorage over;
    ASSERT_EQ(refusing_storage::attach(over), csysOk);
    delete new ccPelRootCvt<unsigned char>(over);
}

// A view presents the buffer's window, offset, pels and transform in the
// record its kind selects.
TEST(PelCvt, ViewsShowTheBufferToTheKernels)
{
    Buffer8 b(12, 5, 4);
    b.subWindow(3, 1, 6, 2);
    b.setLinearClientXform(cc2Xform(cc2Matrix(2, 0, 0, 3), cc2Vect(9, -1)));
    cc_CipImageView view(b);
    const cip_Image& image = view.image();
    EXPECT_TRUE(image.windowX == 3 && image.windowY == 1 && image.width == 6 && image.height == 2);
    EXPECT_TRUE(image.offsetX == 3 && image.offsetY == 1 && view.sourceWasBound());
    EXPECT_EQ(static_cast<unsigned char*>(storageOf(image).data) + b.root().stride() + 3, b.windowStart());
    cip_Affine2 x;
    ASSERT_EQ(cip_xformGetAffine(static_cast<const cip_Xform*>(image.xform->payload), &x), csysOk);
    EXPECT_TRUE(x.tx == 9 && x.ty == -1 && x.a == 2 && x.b == 0 && x.c == 0 && x.d == 3);
    const cip_Image* first = &view.image();
    for (const auto& k : {std::pair<int32_t, int>{3, 1}, {4, 2}, {1, 3}, {2, 4}, {7, 0}}) {
        view.attach(b, 0, 1, k.first, true);
        EXPECT_EQ(&view.image() - first, k.second) << k.first;
    }
    view.release();
    EXPECT_TRUE(first[1].storage == nullptr && first[4].xform == nullptr);
    // An unbound buffer gives an empty record that still has the transform.
    view.attach(Buffer8(), 0, 1, 0, false);
    EXPECT_TRUE(view.image().width == 0 && view.image().storage == nullptr && view.image().xform != nullptr);
    // Pel sizes must match the root's; a refused buffer changes nothing.
    EXPECT_THROW(cc_CipImageView wide(ccPelBuffer<unsigned short>(4, 4, 8)), ccPel::Unknown);
    EXPECT_THROW(view.attach(ccPelBuffer<unsigned short>(4, 4, 8), 0, 1, 3, true), ccPel::Unknown);
    EXPECT_TRUE(&view.image() == first && !view.sourceWasBound() && !view.keptBuffer());
}

// The five roots are made by their stored names; a root over a storage is
// stored as a plain one, and loaded it lets go of the storage, but only once
// the loaded pels are its own.
TEST(PelCvt, RootsArchiveWithoutTheirStorage)
{
    ccStdPelbufStartup();
    for (const char* name : {"class ccPelRootCvt<unsigned char>", "class ccPelRootCvt<short>",
                             "class ccPelRootCvt<unsigned short>", "class ccPelRootCvt<unsigned long>",
                             "class ccPelRootCvt<double>"}) {
        const ccPersistentFactory factory = ccFindFactory(name);
        EXPECT_EQ(factory ? std::unique_ptr<ccPersistent>(factory())->storedTypeName() : "", std::string(name));
    }
    cip_Image image;
    ASSERT_EQ(cip_imageCreateAligned32(&image, 1, 3, 2), csysOk);
    ccPelRootCvt<unsigned char> root(storageOf(image));
    const csys_handle storage = root.storage();
    ASSERT_EQ(cip_imageRelease(&image), csysOk); // the root alone holds the storage
    for (int i = 0; i < 3; ++i)
        root.dataStart()[i] = static_cast<unsigned char>(i + 1);
    const test_bytes::Bytes stored = fakes::storeObject(root);
    EXPECT_ANY_THROW(fakes::loadObject(test_bytes::store(ccArchive::littleEndian, [](ccArchive&) {}), root));
    EXPECT_TRUE(root.storage() == storage && root.dataStart()[1] == 2);
    fakes::loadObject(stored, root);
    EXPECT_TRUE(root.storage() == nullptr && root.width() == 3 && root.dataStart()[2] == 3);
}

} // namespace
