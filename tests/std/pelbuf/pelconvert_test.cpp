#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iostream>
#include <limits>
#include <random>
#include <vector>

#include "std/pelbuf/pelconvert_testing.h"
#include "std/pelbuf/pelfunc.h"
#include "std/pelbuf/startup.h"
#include "system/csys_copy_testing.h"
#include "system/csys_cpu_testing.h"

namespace {

typedef unsigned char Byte;
typedef ccPelBuffer<Byte> Buffer8;
typedef ccPelBuffer<ccPackedRGB16Pel> Buffer16;
typedef ccPelBuffer<ccPackedRGB32Pel> Buffer32;
typedef std::vector<uint32_t> Pels;

class PelConvert : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
    void TearDown() override
    {
        ccPelConvertForceKernels(ccPelConvertKernels::asked);
        csys_overrideStreamingThreshold(-1);
        EXPECT_EQ(csys_resetCpuInfo(), csysOk);
    }
    // The plain loops for every conversion, or the kernels on a processor
    // without or with AVX2.
    enum class Path { plain, sse2, avx2 };
    static void force(Path path)
    {
        csysCpuInfo info{};
        ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
        info.cpuClass = 1;
        info.features = path == Path::plain ? csysCpuMmx : csysCpuMmx | csysCpuSse | csysCpuSse2;
        ASSERT_EQ(csys_overrideCpuInfo(&info, path == Path::avx2), csysOk);
        ccPelConvertForceKernels(path == Path::plain ? ccPelConvertKernels::plain : ccPelConvertKernels::fast);
    }
    static bool avx2Detected()
    {
        bool avx2 = false;
        EXPECT_EQ(csys_resetCpuInfo(), csysOk);
        EXPECT_EQ(csys_cpuHasAvx2(&avx2), csysOk);
        return avx2;
    }
};

// The window's pels; with all, every pel of the root, padding included.
template <class T>
Pels pels(const ccPelBuffer<T>& b, bool all = false)
{
    const ccPelRoot<T>& root = b.typedRoot();
    const ccPelRect r = all ? ccPelRect(root.stride(), root.height()) : b.windowRect();
    Pels v;
    v.reserve(size_t(r.width()) * size_t(r.height()));
    for (int32_t y = r.y0(); y < r.y1(); ++y)
        for (int32_t x = r.x0(); x < r.x1(); ++x)
            std::memcpy(&v.emplace_back(0), root.dataStart() + ptrdiff_t(y) * root.stride() + x, sizeof(T));
    return v;
}

// A new root over image rectangle r, padding included, of value or of
// numbers from rng.
template <class T>
ccPelBuffer<T> filled(const ccPelRect& r, uint32_t value, int32_t alignment = 1, std::mt19937* rng = nullptr)
{
    ccPelBuffer<T> b(r, alignment);
    ccPelRoot<T>& root = b.typedRoot();
    for (T* p = root.dataStart(); p != root.dataStart() + ptrdiff_t(root.stride()) * root.height(); ++p) {
        const uint32_t v = rng ? (*rng)() : value;
        std::memcpy(p, &v, sizeof(T)); // the low bytes: pels are little-endian
    }
    return b;
}

cc2Xform shift(double x) { return cc2Xform(cc2Matrix(1, 0, 0, 1), cc2Vect(x, 0)); }

TEST_F(PelConvert, MergesAndSplitsMoveBytes)
{
    force(Path::plain);
    for (auto [r, g, b, v16, v32] : {std::tuple(255u, 255u, 255u, 0xFFFFu, 0x5AFFFFFFu),
                                     std::tuple(8u, 4u, 8u, 0x0821u, 0x5A080408u)}) {
        const ccPelRect at(4, 5, 3, 2);
        Buffer8 red = filled<Byte>(at, r), green = filled<Byte>(at, g), blue = filled<Byte>(at, b);
        red.setLinearClientXform(shift(2));
        Buffer16 made; // unbound: a new root over the planes' window
        ccPelFunc::mergePlanesToPackedRGB16(red, green, blue, made);
        EXPECT_TRUE(made.window() == at && made.linearClientXform().offset().x() == 2.0);
        EXPECT_EQ(pels(made), Pels(6, v16));
        Buffer32 inPlace = filled<ccPackedRGB32Pel>(at, 0), elsewhere = filled<ccPackedRGB32Pel>({3, 2}, 0);
        const Buffer32 kept = inPlace, old = elsewhere;
        ccPelFunc::mergePlanesToPackedRGB32(red, green, blue, inPlace, 0x5A);
        ccPelFunc::mergePlanesToPackedRGB32(red, green, blue, elsewhere, 0x5A);
        EXPECT_TRUE(inPlace == kept && elsewhere.window() == at);
        EXPECT_EQ(pels(inPlace), Pels(6, v32));
        EXPECT_EQ(pels(old), Pels(6, 0));
    }
    Buffer32 source = filled<ccPackedRGB32Pel>({1, 1, 5, 2}, 0x44332211u);
    source.setLinearClientXform(shift(3));
    Buffer8 green = filled<Byte>({5, 2}, 0);
    ccPelFunc::splitPackedRGB32ToPlanes(source, nullptr, &green, nullptr);
    EXPECT_EQ(pels(green), Pels(10, 0x22));
    EXPECT_EQ(green.linearClientXform().offset().x(), 3.0);
}

TEST_F(PelConvert, GreyRoundsOrTruncatesAndClamps)
{
    const double ulp = std::ldexp(1.0, -14); // one step of 14 fraction bits
    const struct { double r, g, b, offset; uint32_t pel, plain, fast; } rows[] = {
        {0.299, 0.587, 0.114, 0, 0x00C86432u, 124, 124},
        {2.5 * ulp, 0, 0, (16384 - 765) * ulp, 0x00FF0000u, 1, 0},  // 3 rounded, 2 truncated
        {-2.5 * ulp, 0, 0, (16384 + 764) * ulp, 0x00FF0000u, 0, 0}, // -3, not -2
        {-1, 2, 0, 0, 0x000B0500u, 0, 0},                           // acc below 1
        {-1, 2, 0, 0, 0x0000C800u, 255, 255},
        {1, 1, 1, 0, 0x00FFFFFFu, 255, 255},
        {0.5, 0, 0, 1e300, 0x00000000u, 255, 255},
        {0.5, 0, 0, -1e300, 0x00FFFFFFu, 0, 0},
        {0, 1, 0, -50, 0xFF80C001u, 0xC0, 0xC0}, // byte 1, whatever the offset
        {0, 1, 0, std::nan(""), 0xFF80C001u, 0xC0, 0xC0},
        {0, 0, 0, 256, 0x00000000u, 255, 255}, // the kernels' offset past every byte
    };
    const bool avx2 = avx2Detected();
    for (const auto& row : rows)
        for (Path path : {Path::plain, Path::sse2, Path::avx2}) {
            if (path == Path::avx2 && !avx2)
                continue;
            force(path);
            Buffer8 grey;
            ccPelFunc::packedRGB32ToGreyWeighted(filled<ccPackedRGB32Pel>({8, 1}, row.pel), row.r, row.g, row.b,
                                                 row.offset, grey);
            EXPECT_EQ(pels(grey), Pels(8, path == Path::plain ? row.plain : row.fast)) << row.r << " " << int(path);
        }

    Buffer32 source = filled<ccPackedRGB32Pel>({-2, 3, 10, 6}, 0x10);
    source.subWindow(1, 2, 4, 3); // image (-1, 5, 4, 3)
    source.setLinearClientXform(shift(4));
    Buffer8 made, part = filled<Byte>({1, 6, 3, 3}, 0); // meets image (1..2, 6..7)
    ccPelFunc::packedRGB32ToGrey(source, 0, 0, 1, made);
    ccPelFunc::packedRGB32ToGrey(source, 0, 0, 1, part);
    EXPECT_TRUE(made.window() == ccPelRect(-1, 5, 4, 3) && made.linearClientXform().offset().x() == 4.0);
    EXPECT_EQ(pels(made), Pels(12, 0x10));
    EXPECT_EQ(pels(part), (Pels{0x10, 0x10, 0, 0x10, 0x10, 0, 0, 0, 0}));
}

TEST_F(PelConvert, BadInputRaisesAndWritesNothing)
{
    const ccPelRect at(4, 2);
    Buffer8 red = filled<Byte>(at, 1), moved = filled<Byte>({1, 0, 4, 2}, 2), wide = filled<Byte>({5, 2}, 2);
    Buffer8 tall = filled<Byte>({4, 3}, 2), strided = filled<Byte>(at, 3, 16), none;
    Buffer16 dest = filled<ccPackedRGB16Pel>({6, 2}, 7);
    const Buffer32 source = filled<ccPackedRGB32Pel>(at, 0x01020304u), unbound;
    using F = ccPelFunc;
    const struct { std::function<void()> action; uint32_t code; } rows[] = {
        {[&] { F::mergePlanesToPackedRGB16(red, moved, red, dest); }, F::BadParams::kCode},
        {[&] { F::mergePlanesToPackedRGB16(red, red, moved, dest); }, F::BadParams::kCode},
        {[&] { F::splitPackedRGB32ToPlanes(source, &red, nullptr, &strided); }, ccPel::BadWindow::kCode},
        {[&] { F::splitPackedRGB32ToPlanes(source, &red, &wide, nullptr); }, ccPel::BadWindow::kCode},
        {[&] { F::splitPackedRGB32ToPlanes(source, nullptr, nullptr, &tall); }, ccPel::BadWindow::kCode},
        {[&] { F::splitPackedRGB32ToPlanes(unbound, &red, nullptr, nullptr); }, ccPel::UnboundWindow::kCode},
        {[&] { F::packedRGB32ToGrey(unbound, 0.299, 0.587, 0.114, red); }, ccPel::UnboundWindow::kCode},
        {[&] { F::splitPackedRGB32ToPlanes(source, &red, nullptr, &none); }, ccPel::UnboundWindow::kCode},
        {[&] { F::packedRGB32ToGrey(source, 20000, 0, 0, red); }, F::BadParams::kCode},
        {[&] { F::packedRGB32ToGrey(source, 0, -16384, 0.5, red); }, F::BadParams::kCode}, // 15 halvings
        {[&] { F::packedRGB32ToGrey(source, std::nan(""), 0, 0, red); }, F::BadParams::kCode},
        {[&] { F::packedRGB32ToGreyWeighted(source, 0.5, 0, 0, -INFINITY, red); }, F::BadParams::kCode},
    };
    const auto state = [&] { return std::vector<Pels>{pels(dest), pels(red), pels(strided)}; };
    const auto before = state();
    for (const auto& row : rows) {
        uint32_t code = 0;
        try {
            row.action();
        } catch (const ccException& e) {
            code = e.code();
        }
        EXPECT_EQ(code, row.code);
        EXPECT_EQ(state(), before);
    }
}

// A w x h window at image (0, 0) whose first pel lies `at` pels into a root
// row of 16-byte alignment, among random pels that no conversion may touch.
template <class T>
ccPelBuffer<T> framed(int32_t w, int32_t h, int32_t at, std::mt19937& rng)
{
    ccPelBuffer<T> b = filled<T>({-at, -1, w + 20, h + 2}, 0, 16, &rng);
    b.setImageWindow({w, h}, false);
    return b;
}

TEST_F(PelConvert, KernelsMatchThePlainLoops)
{
    // The plain loops, the SSE2 kernels (the merges with stores through the
    // cache, then past it), and the AVX2 ones where the processor has them.
    const struct { Path path; bool stream; } paths[] = {
        {Path::plain, false}, {Path::sse2, false}, {Path::sse2, true}, {Path::avx2, false}};
    const int pathCount = avx2Detected() ? 4 : 3;
    if (pathCount < 4)
        std::cout << "[   NOTE   ] no AVX2 here: its kernels are not compared\n";
    std::mt19937 rng(7);
    // Below 32, and 1 to 3 steps of 32 with every tail.
    for (int32_t w : {4, 8, 12, 13, 20, 28, 32, 36, 44, 52, 72, 88, 112, 124})
        for (int32_t h : {1, 3})
            for (int32_t a = 0; a < 16; ++a) {
                SCOPED_TRACE(::testing::Message() << w << "x" << h << " at " << a);
                const Buffer8 r = framed<Byte>(w, h, a, rng), g = framed<Byte>(w, h, (a + 5) % 16, rng),
                              b = framed<Byte>(w, h, (a + 9) % 16, rng);
                const Buffer32 source = framed<ccPackedRGB32Pel>(w, h, a % 4, rng);
                const uint32_t seed = rng();
                // Each conversion, the planes it writes, and whether it takes the
                // grey kernel.
                const struct { std::function<void(Buffer8*)> run; int planes; bool grey; } runs[] = {
                    {[&](Buffer8* p) { ccPelFunc::splitPackedRGB32ToPlanes(source, p, p + 1, p + 2); }, 3, false},
                    {[&](Buffer8* p) { ccPelFunc::splitPackedRGB32ToPlanes(source, nullptr, p, nullptr); }, 1, false},
                    {[&](Buffer8* p) { ccPelFunc::splitPackedRGB32ToPlanes(source, p, nullptr, p + 1); }, 2, false},
                    {[&](Buffer8* p) { ccPelFunc::packedRGB32ToGrey(source, 0, 0, 1, *p); }, 1, false},
                    // Weights exact in the fixed point: truncation is rounding. The
                    // offsets: none, with a fraction, whole (and saturating).
                    {[&](Buffer8* p) { ccPelFunc::packedRGB32ToGreyWeighted(source, 1, 2.5, 0.75, 0, *p); }, 1, true},
                    {[&](Buffer8* p) { ccPelFunc::packedRGB32ToGreyWeighted(source, 0.25, 0.5, 0.125, 3.5, *p); },
                     1, true},
                    {[&](Buffer8* p) { ccPelFunc::packedRGB32ToGreyWeighted(source, 0.5, 1.5, 0.25, 200, *p); },
                     1, true},
                };
                Pels out[4];
                for (int i = 0; i < pathCount; ++i) {
                    force(paths[i].path);
                    csys_overrideStreamingThreshold(paths[i].stream ? 0 : std::numeric_limits<int64_t>::max());
                    std::mt19937 same(seed);
                    Buffer16 d16 = framed<ccPackedRGB16Pel>(w, h, a % 8, same);
                    Buffer32 d32 = framed<ccPackedRGB32Pel>(w, h, a % 4, same);
                    ccPelFunc::mergePlanesToPackedRGB16(r, g, b, d16);
                    ccPelFunc::mergePlanesToPackedRGB32(r, g, b, d32, 0xA5);
                    const auto keep = [&](const Pels& v) { out[i].insert(out[i].end(), v.begin(), v.end()); };
                    keep(pels(d16, true));
                    keep(pels(d32, true));
                    for (const auto& run : runs) {
                        Buffer8 d[3];
                        for (int k = 0; k < run.planes; ++k)
                            d[k] = framed<Byte>(w, h, (a + 5 * k + 3) % 16, same);
                        const uint64_t served = ccPelConvertAvx2Calls();
                        run.run(d);
                        const bool avx2 = paths[i].path == Path::avx2 && run.grey && w % 4 == 0 && w >= 8;
                        EXPECT_EQ(ccPelConvertAvx2Calls() - served, uint64_t{avx2});
                        for (int k = 0; k < run.planes; ++k)
                            keep(pels(d[k], true));
                    }
                }
                for (int i = 1; i < pathCount; ++i)
                    EXPECT_EQ(out[0], out[i]) << "path " << i;
            }
}

} // namespace
