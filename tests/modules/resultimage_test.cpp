#include "modules/internal/resultimage.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "modules/accelerator.h"
#include "modules/acqmodule.h"
#include "modules/board.h"
#include "modules/fgproxy.h"
#include "modules/pelpackages.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "std/pelbuf/pelfunc.h"
#include "std/pelbuf/pelpool.h"
#include "std/except/archutil.h" // sim_module.h needs it
#include "std/rpc/remote.h"
#include "tests/support/sim_module.h"

namespace {

// A result whose every answer the test sets; it counts references only. A
// fast transfer that succeeds fills row y of the window with top + y. Failing
// geometry calls write nothing.
struct FakeResult final : ccIAcqResult_Image, ccIAcqResult_RawPels, ccIAcqResult_Format, ccIAcqResult_FastTransfer {
    uint32_t refs = 1, present = 1, hasOffset = 0, hasXform = 0, fast = 1, geometryFails = 0;
    int32_t format = 0, w = 64, h = 64, win[4] = {3, 4, 10, 10}, status = 0;
    void* planes[3] = {};
    std::vector<int64_t> args;
    void* target = nullptr;

    int32_t query(ccIUnknown** out, int32_t id) override
    {
        ccIUnknown* parts[] = {static_cast<ccIAcqResult_Image*>(this), static_cast<ccIAcqResult_RawPels*>(this),
                               static_cast<ccIAcqResult_Format*>(this), static_cast<ccIAcqResult_FastTransfer*>(this)};
        *out = id == 25 ? parts[0] : id == 26 ? parts[1] : id == 51 ? parts[2] : id == 73 && fast ? parts[3] : nullptr;
        return *out ? (++refs, 0) : 1;
    }
    uint32_t addRef() override { return ++refs; }
    uint32_t release() override { return --refs; }
    int32_t windowOffset(int32_t* x, int32_t* y) override { return geometryFails ? 1 : (*x = 7, *y = 9, 0); }
    int32_t reserved4() override { return 1; }
    int32_t reserved5() override { return 1; }
    int32_t reserved6() override { return 1; }
    int32_t stride(int32_t* v) override { return *v = w, 0; }
    int32_t height(int32_t* v) override { return *v = h, 0; }
    int32_t width(int32_t* v) override { return *v = w, 0; }
    int32_t window(int32_t* x, int32_t* y, int32_t* ww, int32_t* hh) override
    {
        return *x = win[0], *y = win[1], *ww = win[2], *hh = win[3], 0;
    }
    int32_t translation(double* x, double* y) override { return geometryFails ? 1 : (*x = 5, *y = 7, 0); }
    int32_t matrix(double* a, double* b, double* c, double* d) override
    {
        return geometryFails ? 1 : (*a = 2, *b = *c = 0, *d = 3, 0);
    }
    int32_t offsetPresent(uint32_t* f) override { return geometryFails ? 1 : (*f = hasOffset, 0); }
    int32_t transformPresent(uint32_t* f) override { return geometryFails ? 1 : (*f = hasXform, 0); }
    int32_t framePresent(uint32_t* f) override { return *f = present, 0; }
    int32_t isRemote(uint32_t* f) override { return *f = 1, 0; }
    int32_t reserved16() override { return 1; }
    int32_t pelAddress(void** a) override { return *a = planes[0], 0; }
    int32_t kind(int32_t* k) override { return *k = 1, 0; }
    int32_t planeAddress(uint32_t plane, void** a) override { return plane > 2 ? 1 : (*a = planes[plane], 0); }
    int32_t pelFormat(int32_t* c) override { return *c = format, 0; }
    int32_t transfer(void* to, int32_t stride, int32_t alignment, int32_t left, int32_t top, int32_t width,
                     int32_t height, uint32_t flag) override
    {
        args = {stride, alignment, left, top, width, height, flag};
        target = to;
        for (int32_t y = 0; status == 0 && y < height; ++y)
            std::memset(static_cast<unsigned char*>(to) + y * stride, top + y, width);
        return status;
    }
};

class ResultImage : public testing::Test {
protected:
    static void SetUpTestSuite() { ccModulesStartup(); }
    cc_ModAcceleratorProxy proxy{std::make_unique<cc_ModFastImageTransfer>()};
    FakeResult result;
};

TEST_F(ResultImage, WindowOffsetAndTransformAreTheReportedOnes)
{
    std::vector<unsigned char> wide(512 * 64);
    result.planes[0] = wide.data();
    result.w = 512, result.win[0] = 10, result.win[2] = 100;
    // Raw windows count bytes of the pel format; the cache keeps the module's transform, the buffer has its inverse.
    // A result whose geometry calls fail reports neither, whatever it would have said.
    const struct { int32_t format; uint32_t offset, xform, fails; ccPelRect bytes; int32_t x, y; double det; } cases[] = {
        {5, 0, 0, 0, ccPelRect(15, 4, 150, 10), 15, 4, 1.0}, {1, 1, 0, 0, ccPelRect(40, 4, 400, 10), 7, 9, 1.0},
        {0, 0, 1, 0, ccPelRect(10, 4, 100, 10), 10, 4, 6.0}, {0, 0, 0, 1, ccPelRect(10, 4, 100, 10), 10, 4, 1.0}};
    for (const auto& c : cases) {
        result.format = c.format, result.geometryFails = c.fails;
        result.hasOffset = c.offset | c.fails, result.hasXform = c.xform | c.fails;
        ccPelBuffer<unsigned char> out;
        cf_rawFromFormat(&result, &result, out);
        EXPECT_EQ(out.windowRect(), c.bytes) << c.format;
        EXPECT_EQ(std::make_pair(out.windowOffset().x, out.windowOffset().y), std::make_pair(c.x, c.y));
        EXPECT_DOUBLE_EQ(out.linearClientXform().matrix().det(), 1 / c.det);
        const cc2XformLinear given = out.clientXform().inverse()->linearApprox(cc2Vect());
        EXPECT_EQ(std::make_tuple(given.matrix().det(), given.translation().x(), given.translation().y()),
                  std::make_tuple(c.det, 5.0 * c.xform, 7.0 * c.xform));
    }
}

TEST_F(ResultImage, NoFrameOrNoAddressGivesNothing)
{
    const size_t packages = cc_UnknownModule::packageRegistry()->count();
    for (const auto& [present, address] : {std::pair<uint32_t, void*>{0, &result}, {1, nullptr}}) {
        result.present = present;
        result.planes[0] = result.planes[1] = result.planes[2] = address;
        ccPelBuffer<unsigned char> raw(4, 4, 1), fromRaw(4, 4, 1);
        ccPelBuffer<ccPackedRGB32Pel> packed(4, 4, 1);
        cf_rawFromFormat(&result, &result, raw);
        cf_rawFromRawPels(&result, fromRaw);
        cf_packedFromResult(&result, &result, packed);
        EXPECT_FALSE(raw.isBound() || fromRaw.isBound() || packed.isBound());
        EXPECT_FALSE(cf_threePlaneFromResult(&result, &result));
        EXPECT_EQ(cc_UnknownModule::packageRegistry()->count(), packages);
        EXPECT_EQ(result.refs, 1u);
    }
}

TEST_F(ResultImage, FramesAboveFourGiBAreReadWhereTheyAre)
{
    const size_t bytes = 4 * 64 * 64 * 4;
    void* block = mmap(reinterpret_cast<void*>(uintptr_t{0x600000000000}), bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(block, MAP_FAILED);
    ASSERT_GT(reinterpret_cast<uintptr_t>(block), uintptr_t{0xFFFFFFFF});
    auto* frame = static_cast<uint32_t*>(block);
    for (uint32_t i = 0; i < 64 * 64; ++i)
        frame[i] = 0x01000000u + i;
    for (int p = 0; p < 3; ++p)
        result.planes[p] = std::memset(frame + 64 * 64 * (p + 1), 10 * p + 1, 64 * 64);
    {
        const ccPtrHandle<ccAcqImage> image = cf_threePlaneFromResult(&result, &result);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->format(), 12u);
        EXPECT_EQ(*image->planeBuffer().plane(2).pel(3, 4), 21);
        result.planes[0] = block;
        ccPelBuffer<ccPackedRGB32Pel> out;
        cf_packedFromResult(&result, &result, out);
        EXPECT_EQ(out.pel(12, 13)->value, 0x01000000u + 13 * 64 + 12);
        ccPelBuffer<unsigned char> raw;
        cf_rawFromRawPels(&result, raw);
        EXPECT_EQ(*raw.pel(12, 13), (13 * 64 + 12) / 4); // the low byte of a packed pel
        EXPECT_GT(result.refs, 1u); // the buffers keep the frame alive
    }
    EXPECT_EQ(result.refs, 1u);
    munmap(block, bytes);
}

TEST_F(ResultImage, RemoteWindowIsCopiedThroughTheFastTransfer)
{
    result.addRef(); // taken over by the package of a frame that stays in the module
    const ccPelBuffer<unsigned char> frame(new ccPelRoot<unsigned char>(
        new cc_RemotePelPackage(proxy, cc_ModPtr<ccIUnknown>(static_cast<ccIAcqResult_Image*>(&result)), 640, 480)));
    const ccPelRect rect(10, 20, 100, 50); // (10, 20)-(110, 70)
    ccPelBuffer<unsigned char> copy(frame.typedRoot().copyToDestination(rect, ccRPCDestination(), true));
    EXPECT_EQ(result.args, (std::vector<int64_t>{copy.typedRoot().stride(), 32, 10, 20, 100, 50, 1}));
    EXPECT_EQ(*copy.pel(99, 0), 20);
    EXPECT_EQ(*copy.pel(0, 49), 69);
    // Copies that cannot be done leave the buffer alone.
    const uint32_t id = frame.root().remoteId();
    const struct { uint32_t fast; int32_t status; uint32_t id; ccPelRect rect; const char* thrown; } cases[] = {
        {0, 0, id, ccPelRect(4, 4), typeid(ccUnknownFG::MissingFunctionality).name()},
        {1, 0, id, ccPelRect(5, 4), typeid(ccPel::BadWindow).name()},
        {1, 0, id + 1, ccPelRect(4, 4), typeid(ccRemoteObject::ObjectMismatch).name()},
        // Without a grabber there is no module error to raise.
        {1, 1, id, ccPelRect(4, 4), typeid(ccUnknownFG::MissingFunctionality).name()}};
    for (const auto& c : cases) {
        result.fast = c.fast, result.status = c.status;
        ccPelBuffer<unsigned char> into(4, 4, 1);
        std::memset(into.windowStart(), 7, 16);
        const char* thrown = "";
        try {
            proxy.fastTransfer()->transfer(into, c.rect, 640, c.id, false);
        } catch (const ccException& e) {
            thrown = typeid(e).name();
        }
        EXPECT_STREQ(thrown, c.thrown);
        EXPECT_EQ(*into.pel(3, 3), 7);
        EXPECT_EQ(result.refs, 2u); // the package's and the test's
    }
}

TEST_F(ResultImage, AFrameWithoutFastTransferIsCopiedByNoRoute)
{
    result.fast = 0;
    // Each fails before any pel moves: the frame keeps the module's root and
    // no buffer comes back bound to memory no pel was written to.
    using Frame = ccPelBuffer<unsigned char>;
    const struct { const char* name; std::function<Frame(Frame&, Frame&)> copy; } routes[] = {
        {"copy to a new buffer", [](Frame& frame, Frame&) { return ccPelFunc::copyToNew8(frame); }},
        {"copy into a bound buffer", [](Frame& frame, Frame& into) { return ccPelFunc::copy(frame, into), into; }},
        {"hand-over", [](Frame& frame, Frame&) { return Frame::fromRemote(frame, false); }}};
    for (const auto& route : routes) {
        result.addRef(); // taken over by the frame
        Frame frame(new ccPelRoot<unsigned char>(
            new cc_RemotePelPackage(proxy, cc_ModPtr<ccIUnknown>(static_cast<ccIAcqResult_Image*>(&result)), 8, 4)));
        const cc_PelRoot* remote = &frame.root();
        Frame into(8, 4, 1), made;
        std::memset(into.windowStart(), 7, 32);
        EXPECT_THROW(made = route.copy(frame, into), ccUnknownFG::MissingFunctionality) << route.name;
        EXPECT_EQ(std::make_tuple(made.isBound(), frame.isBound() ? &frame.root() : nullptr, int(*into.pel(7, 3))),
                  std::make_tuple(false, remote, 7))
            << route.name;
    }
    EXPECT_EQ(result.refs, 1u);
}

TEST_F(ResultImage, ModulePoolLendsRootsUntilTheModuleLetsGo)
{
    const struct { int32_t format; const std::type_info& type; uint32_t pelSize; } cases[] = {
        {0, typeid(unsigned char), 1}, {8, typeid(ccPackedRGB16Pel), 2}, {1, typeid(ccPackedRGB32Pel), 4}};
    for (const auto& c : cases) {
        const ccPtrHandle<ccPelRootPool> pool(new ccBasicPelRootPool(32 * c.pelSize, 32)); // one root of 8 x 4
        const auto another = [&] { return bool(ccPtrHandle<cc_PelRoot>(pool->take(0))); };
        ccIPelPool_Core_v0* modulePool = cf_newModulePelPool(pool);
        modulePool->addRef();
        ccIUnknown *image = nullptr, *second = nullptr;
        EXPECT_EQ(modulePool->allocate(&image, 8, 4, c.format, nullptr, 0.0, 0), 0);
        modulePool->release();
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(pool->classIndex(8, 4, c.type), 0); // the class of the root lent
        ASSERT_EQ(image->query(&second, ccIidPoolImageV1), 0);
        image->release();
        EXPECT_FALSE(another());
        second->release();
        EXPECT_TRUE(another());
    }
}

TEST_F(ResultImage, ModulePoolLendsRowsThatHoldEveryByteOfTheFormatsPelsAndNoneOfAnUnknownSize)
{
    constexpr int32_t kWidth = 100, kHeight = 10;
    // Module pel format, twice its bytes per pel (0: of no known size, no
    // image), the pel type of the roots lent.
    const struct { int32_t format, twiceBytes; const std::type_info& type; } cases[] = {
        {0, 2, typeid(unsigned char)}, {3, 4, typeid(unsigned char)},  {9, 4, typeid(unsigned char)},
        {5, 3, typeid(unsigned char)}, {2, 6, typeid(unsigned char)},  {11, 12, typeid(unsigned char)},
        {8, 4, typeid(ccPackedRGB16Pel)}, {1, 8, typeid(ccPackedRGB32Pel)}, {4, 0, typeid(unsigned char)},
        {17, 0, typeid(unsigned char)}, {-1, 0, typeid(unsigned char)}};
    for (const auto& c : cases) {
        // Byte rows for the formats of no known size: what they would be lent.
        const int32_t rowBytes = kWidth * std::max(c.twiceBytes, 2) / 2;
        // Room for two frames side by side, in granules of 32 bytes.
        const ccPtrHandle<ccPelRootPool> pool(new ccBasicPelRootPool(2 * ((rowBytes * kHeight + 31) / 32 * 32), 32));
        ccIPelPool_Core_v0* modulePool = cf_newModulePelPool(pool);
        modulePool->addRef();
        if (c.twiceBytes == 0) {
            ccIUnknown* image = static_cast<ccIAcqResult_Image*>(&result);
            EXPECT_EQ(modulePool->allocate(&image, kWidth, kHeight, c.format, nullptr, 0.0, 0), 0);
            EXPECT_EQ(image, nullptr) << "module format " << c.format;
            if (image != nullptr && image != static_cast<ccIAcqResult_Image*>(&result))
                image->release();
            modulePool->release();
            continue;
        }
        ccIImage_PoolImage_v1* frames[2] = {};
        for (ccIImage_PoolImage_v1*& frame : frames) {
            ccIUnknown *image = nullptr, *lent = nullptr;
            EXPECT_EQ(modulePool->allocate(&image, kWidth, kHeight, c.format, nullptr, 0.0, 0), 0);
            ASSERT_NE(image, nullptr) << "module format " << c.format;
            EXPECT_EQ(image->query(&lent, ccIidPoolImageV1), 0);
            image->release();
            frame = static_cast<ccIImage_PoolImage_v1*>(lent);
        }
        // The module fills each frame whole, row by row at the stride it is
        // told (in the root's pels: bytes, but for the packed formats).
        const int32_t rootPelSize = c.type == typeid(unsigned char) ? 1 : c.twiceBytes / 2;
        const auto fill = [&](ccIImage_PoolImage_v1* frame, unsigned char value) {
            void* address = nullptr;
            int32_t stride = 0;
            EXPECT_EQ(std::make_tuple(frame->address(&address), frame->stride(&stride)), std::make_tuple(0, 0));
            EXPECT_GE(int64_t{stride} * rootPelSize, rowBytes) << "module format " << c.format;
            for (int32_t y = 0; y < kHeight; ++y)
                std::memset(static_cast<unsigned char*>(address) + y * stride * rootPelSize, value, rowBytes);
            return static_cast<unsigned char*>(address);
        };
        const unsigned char* second = fill(frames[1], 0x55);
        fill(frames[0], 0xaa);
        EXPECT_EQ(std::count(second, second + rowBytes * kHeight, 0x55), rowBytes * kHeight)
            << "module format " << c.format;
        const int32_t rootWidth = c.type == typeid(unsigned char) ? rowBytes : kWidth;
        EXPECT_EQ(pool->classIndex(rootWidth, kHeight, c.type), 0) << "module format " << c.format;
        for (ccIImage_PoolImage_v1* frame : frames)
            frame->release();
        modulePool->release();
    }
}

TEST_F(ResultImage, ModulePoolGivesNoImageAtOnceWhenTheModuleSetsItsAbortFlag)
{
    const ccPtrHandle<ccPelRootPool> pool(new ccBasicPelRootPool(32, 32)); // one root of 8 x 4
    ccIPelPool_Core_v0* modulePool = cf_newModulePelPool(pool);
    modulePool->addRef();
    ccPtrHandle<cc_PelRoot> held(pool->take(pool->classIndex(8, 4, typeid(unsigned char))));
    ccIUnknown* image = static_cast<ccIAcqResult_Image*>(&result);
    std::atomic<bool> returned{false};
    std::thread taker([&] { (void)modulePool->allocate(&image, 8, 4, 0, nullptr, HUGE_VAL, 1), returned = true; });
    // A taker that waits comes back only with the root: it is given back
    // after a while, so that the test ends either way.
    for (int i = 0; i < 200 && !returned; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool atOnce = returned;
    held = ccPtrHandle<cc_PelRoot>();
    taker.join();
    EXPECT_TRUE(atOnce);
    EXPECT_EQ(image, nullptr);
    // Nor does it take a root that is free.
    image = static_cast<ccIAcqResult_Image*>(&result);
    EXPECT_EQ(modulePool->allocate(&image, 8, 4, 0, nullptr, 0.0, 1), 0);
    EXPECT_EQ(image, nullptr);
    if (image != nullptr && image != static_cast<ccIAcqResult_Image*>(&result))
        image->release();
    modulePool->release();
}

TEST_F(ResultImage, RemoteFrameOfAGrabberIsCopiedThroughItsAccelerator)
{
    sim_module::Board board;
    std::unique_ptr<cc_UnknownFrameGrabber> grabber(cc_UnknownFrameGrabber::create(board.module, board.board.get()));
    result.hasOffset = 1;
    {
        result.addRef(); // taken over by the frame
        ccPelBuffer<unsigned char> frame;
        cf_remoteFromResult(*grabber, static_cast<ccIAcqResult_Image*>(&result), &result, frame);
        EXPECT_EQ(frame.windowRect(), ccPelRect(3, 4, 10, 10));
        EXPECT_EQ(std::make_pair(frame.windowOffset().x, frame.windowOffset().y), std::make_pair(7, 9));
        const ccPelBuffer<unsigned char> copy(
            frame.typedRoot().copyToDestination(ccPelRect(3, 4, 10, 10), ccRPCDestination(), true));
        EXPECT_EQ((std::pair<int, int>(*copy.pel(0, 0), *copy.pel(9, 9))), (std::pair<int, int>(4, 13)));
        // A failed copy raises the module's own error through the grabber.
        result.status = 1;
        const test_bytes::Bytes error = sim_module::archived(ccBoard::Timeout(L"late", 5));
        sim_module::sim().setLastError(error.data(), static_cast<uint32_t>(error.size()), ccSimErrorBytes);
        EXPECT_THROW(frame.typedRoot().copyToDestination(ccPelRect(3, 4, 10, 10), ccRPCDestination(), true),
                     ccBoard::Timeout);
        // A frame kept past its board's close finds no accelerator any more.
        result.status = 0;
        grabber.reset();
        EXPECT_THROW(frame.typedRoot().copyToDestination(ccPelRect(3, 4, 10, 10), ccRPCDestination(), true),
                     ccRemoteObject::ObjectMismatch);
    }
    EXPECT_EQ(result.refs, 1u);
}

TEST_F(ResultImage, WiderPelsAreCopiedIntoTheWindowOfTheirBuffer)
{
    result.addRef(); // taken over by the frame
    const ccPelBuffer<unsigned char> frame(new ccPelRoot<unsigned char>(
        new cc_RemotePelPackage(proxy, cc_ModPtr<ccIUnknown>(static_cast<ccIAcqResult_Image*>(&result)), 640, 480)));
    const uint32_t id = frame.root().remoteId();
    const auto copy = [&](auto into) {
        into.subWindow(2, 1, 5, 4);
        proxy.fastTransfer()->transfer(into, ccPelRect(10, 20, 5, 4), 640, id, true);
        EXPECT_EQ(result.target, static_cast<void*>(into.windowStart()));
        EXPECT_EQ(result.args,
                  (std::vector<int64_t>{into.typedRoot().stride(), into.root().alignment(), 10, 20, 5, 4, 1}));
        EXPECT_THROW(proxy.fastTransfer()->transfer(into, ccPelRect(10, 20, 5, 5), 640, id, false), ccPel::BadWindow);
    };
    copy(ccPelBuffer<unsigned short>(8, 8, 1));
    copy(ccPelBuffer<ccPackedRGB32Pel>(8, 8, 1));
}

// Counts its signals and remembers the thread of the last.
struct FakeWake final : ccIWakeObject {
    std::atomic<uint32_t> signals{0};
    std::thread::id by;
    int32_t query(ccIUnknown** out, int32_t) override { return *out = nullptr, 1; }
    uint32_t addRef() override { return 2; }
    uint32_t release() override { return 1; }
    int32_t signal(uint32_t) override { return by = std::this_thread::get_id(), ++signals, 0; }
};

TEST_F(ResultImage, ModulePoolRefusesEmptyShapesAndWaitsOnlyWhileTheTimeOutLasts)
{
    const ccPtrHandle<ccPelRootPool> pool(new ccBasicPelRootPool(32, 32)); // one root of 8 x 4
    ccIPelPool_Core_v0* modulePool = cf_newModulePelPool(pool);
    modulePool->addRef();
    FakeWake wake;
    ccIUnknown* image = static_cast<ccIAcqResult_Image*>(&result);
    // Refused before the pool is asked: it gets no class for them.
    for (const auto& [width, height] : {std::pair{0, 4}, {8, 0}, {-8, 4}, {8, -4}}) {
        EXPECT_EQ(modulePool->allocate(&image, width, height, 0, &wake, 0.0, 0), 0);
        EXPECT_EQ(image, nullptr);
    }
    ccPtrHandle<cc_PelRoot> held(pool->take(pool->classIndex(8, 4, typeid(unsigned char))));
    ASSERT_TRUE(held);
    EXPECT_EQ(pool->classIndex(8, 4, typeid(unsigned char)), 0);
    EXPECT_EQ(modulePool->allocate(&image, 8, 4, 0, &wake, 0.01, 0), 0);
    EXPECT_EQ(image, nullptr);
    // The root given back wakes the waiter, which tells the module on its own thread.
    std::atomic<bool> returned{false};
    std::thread waiter([&] { (void)modulePool->allocate(&image, 8, 4, 0, &wake, HUGE_VAL, 0), returned = true; });
    const std::thread::id waiting = waiter.get_id();
    while (pool->waitingCount() == 0 && !returned)
        std::this_thread::yield();
    EXPECT_FALSE(returned);
    held = ccPtrHandle<cc_PelRoot>();
    waiter.join();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::make_pair(wake.signals.load(), wake.by), std::make_pair(1u, waiting));
    image->release();
    modulePool->release();
}

} // namespace
