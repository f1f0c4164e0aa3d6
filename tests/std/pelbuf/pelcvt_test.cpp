#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <typeinfo>

#include "numeric/cip_geometry.h"
#include "std/math/xflinear.h"
#include "std/pelbuf/pelcvt.h"
#include "std/pelbuf/startup.h"
#include "system/csys_cpu.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/support/fake_heap.h"

namespace {

typedef ccPelBuffer<unsigned char> Buffer8;

class PelCvt : public ::testing::Test {
protected:
    void SetUp() override
    {
        ccStdPelbufStartup();
        int32_t cpuClass = 0;
        uint32_t features = 0;
        // The processor description is made once per process, before the
        // heap that counts what a test leaves.
        ASSERT_EQ(csys_cpuDispatchInfo(&cpuClass, &features), csysOk);
    }
};

cip_ImageStorage& storageOf(const cip_Image& image) { return *static_cast<cip_ImageStorage*>(image.storage->payload); }

cc2Xform affine(double tx) { return cc2Xform(cc2Matrix(2, 0, 0, 3), cc2Vect(tx, -1)); }

std::array<double, 6> values(const cc2Xform& x)
{
    std::array<double, 6> v;
    x.get(v[0], v[1], v[2], v[3], v[4], v[5]);
    return v;
}

// A kernel image becomes a buffer over its own pels, bound to the window of
// its storage, with its offsets and transform; or an unbound one.
TEST_F(PelCvt, KernelImagesBecomeBuffersOverTheirPels)
{
    fake_heap::FakeHeap heap;
    cip_Image image, bare;
    ASSERT_EQ(cip_imageCreateAligned32(&image, 1, 10, 6), csysOk);
    image.windowX = 2, image.windowY = 1, image.width = 4, image.height = 3;
    image.offsetX = 100, image.offsetY = 200;
    {
        Buffer8 b = Buffer8::fromCipImage(image);
        ASSERT_TRUE(b.isBound());
        EXPECT_TRUE(dynamic_cast<ccPelRootCvt<unsigned char>*>(&b.root()));
        EXPECT_EQ(b.windowRect(), ccPelRect(2, 1, 4, 3));
        EXPECT_TRUE(b.windowOffset().x == 100 && b.windowOffset().y == 200 && b.linearClientXform().isIdentity());
        *b.pel(101, 202) = 77;
        const cip_ImageStorage& s = storageOf(image);
        EXPECT_EQ(static_cast<unsigned char*>(s.data)[3 * s.stride + 3], 77);
        EXPECT_EQ(*image.storage->count, 2);

        // Outside its storage, or of wider pels: refused, nothing kept.
        image.width = 9;
        EXPECT_THROW(Buffer8::fromCipImage(image), ccPel::BadWindow);
        storageOf(image).pelSize = 2;
        EXPECT_THROW(Buffer8::fromCipImage(image), ccPel::Unknown);
        storageOf(image).pelSize = 1;
        image.width = 4;
        EXPECT_EQ(*image.storage->count, 2);
    }
    // The kernel side alone keeps the storage; then nothing does.
    EXPECT_EQ(*image.storage->count, 1);
    Buffer8 kept = Buffer8::fromCipImage(image);
    ASSERT_EQ(cip_imageRelease(&image), csysOk);
    EXPECT_EQ(kept.root().width(), 10);
    kept = Buffer8();
    EXPECT_TRUE(heap.live.empty());

    ASSERT_EQ(cip_imageInit(&bare), csysOk);
    bare.offsetX = -5, bare.offsetY = 6;
    const cip_Affine2 x = {4, -1, 2, 0, 0, 3}; // affine(4)
    ASSERT_EQ(cip_xformCreateAffine(&x, &bare.xform), csysOk);
    const Buffer8 unbound = Buffer8::fromCipImage(bare);
    EXPECT_TRUE(!unbound.isBound() && unbound.windowOffset().x == -5 && unbound.windowOffset().y == 6);
    EXPECT_EQ(values(unbound.linearClientXform()), values(affine(4)));
    ASSERT_EQ(cip_imageRelease(&bare), csysOk);

    // A storage whose release fails: the root still goes, and says nothing.
    static const csys_recordFunctions refusing = {&cip_imageStorageDestroy, cip_imageStorageType.functions->addReference,
                                                  [](int32_t*, int32_t*, void*, int32_t) { return csysErrFail; }};
    static const csys_typeDescription type = {0, nullptr, &refusing};
    cip_ImageStorage* s = nullptr;
    ASSERT_EQ(cip_imageStorageNew(&s, &type, 1, 4, 4, 8, &csys_alloc, &csys_free), csysOk);
    delete new ccPelRootCvt<unsigned char>(*s);
    s->record.inlineCount = 0; // the refused drop left the count at 1
    ASSERT_EQ(cip_imageStorageFree(&s), csysOk);
}

// A view presents the buffer's window, offset, pels and transform; the
// buffer's root stays as it was.
TEST_F(PelCvt, ViewsShowTheBufferToTheKernels)
{
    Buffer8 b(12, 5, 4);
    b.subWindow(3, 1, 6, 2);
    b.setLinearClientXform(affine(9));
    {
        cc_CipImageView view(b);
        const cip_Image& image = view.image();
        EXPECT_TRUE(image.windowX == 3 && image.windowY == 1 && image.width == 6 && image.height == 2);
        EXPECT_TRUE(image.offsetX == 3 && image.offsetY == 1 && view.sourceWasBound() && !view.keptBuffer());
        cip_ImageDesc d;
        ASSERT_EQ(cip_imageDescribe(&d, &image), csysOk);
        EXPECT_TRUE(d.first == b.windowStart() && d.storageStride == b.root().stride());
        cip_Affine2 x;
        ASSERT_EQ(cip_xformGetAffine(static_cast<const cip_Xform*>(image.xform->payload), &x), csysOk);
        EXPECT_EQ((std::array<double, 6>{x.tx, x.ty, x.a, x.b, x.c, x.d}), values(affine(9)));

        // The kind selects one of five records.
        const cip_Image* first = &view.image();
        for (const auto& k : {std::pair<int32_t, int>{3, 1}, {4, 2}, {1, 3}, {2, 4}, {7, 0}}) {
            view.attach(b, 0, 1, k.first, true);
            EXPECT_EQ(&view.image() - first, k.second) << k.first;
        }
        EXPECT_EQ(view.keptBuffer(), &b);
        view.release();
        EXPECT_TRUE(first[1].storage == nullptr && first[4].xform == nullptr);

        // An unbound buffer gives an empty record that still has the transform.
        view.attach(Buffer8(), 0, 1, 0, false);
        EXPECT_TRUE(view.image().width == 0 && view.image().storage == nullptr && view.image().xform != nullptr);
    }
    EXPECT_EQ(b.rootRefCount(), 1);

    // Pel sizes must match the root's.
    ccPelBuffer<unsigned short> wide(4, 4, 8);
    EXPECT_THROW(cc_CipImageView view(wide), ccPel::Unknown);
    cc_CipImageView view(b);
    view.attach(wide, 0, 2, 0, false);
    EXPECT_EQ(view.image().width, 4);
}

// The five roots are made by their stored names; a root over a storage is
// stored as a plain one and comes back without storage.
TEST_F(PelCvt, RootsArchiveWithoutTheirStorage)
{
    const struct {
        const char* name;
        const std::type_info& type;
    } rows[] = {
        {"class ccPelRootCvt<unsigned char>", typeid(ccPelRootCvt<unsigned char>)},
        {"class ccPelRootCvt<short>", typeid(ccPelRootCvt<short>)},
        {"class ccPelRootCvt<unsigned short>", typeid(ccPelRootCvt<unsigned short>)},
        {"class ccPelRootCvt<unsigned long>", typeid(ccPelRootCvt<uint32_t>)},
        {"class ccPelRootCvt<double>", typeid(ccPelRootCvt<double>)},
    };
    for (const auto& r : rows) {
        const ccPersistentFactory factory = ccFindFactory(r.name);
        ASSERT_NE(factory, nullptr) << r.name;
        std::unique_ptr<ccPersistent> made(factory());
        EXPECT_EQ(typeid(*made), r.type);
        EXPECT_STREQ(made->storedTypeName(), r.name);
    }

    cip_Image image;
    ASSERT_EQ(cip_imageCreateAligned32(&image, 1, 3, 2), csysOk);
    ccPelRootCvt<unsigned char> root(storageOf(image));
    for (int i = 0; i < 3; ++i)
        root.dataStart()[i] = static_cast<unsigned char>(i + 1);
    std::unique_ptr<ccPersistent> owned(fakes::loadPointers(fakes::storePointers({&root}))[0]);
    auto* back = dynamic_cast<ccPelRootCvt<unsigned char>*>(owned.get());
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->storage() == nullptr && back->width() == 3 && back->dataStart()[2] == 3);
    // Loaded in place, the root lets go of the storage.
    fakes::loadObject(fakes::storeObject(*back), root);
    EXPECT_TRUE(root.storage() == nullptr && *image.storage->count == 1 && root.dataStart()[1] == 2);
    ASSERT_EQ(cip_imageRelease(&image), csysOk);
}

} // namespace
