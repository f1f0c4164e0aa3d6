#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "system/csys_copy.h"
#include "system/csys_cpu.h"
#include "system/csys_cpu_testing.h"

#if defined(__SANITIZE_ADDRESS__)
#define COPY_TEST_POISONING 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COPY_TEST_POISONING 1
#endif
#endif

#ifdef COPY_TEST_POISONING
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

namespace {

using byte = unsigned char;

// The routes a description can select. "streaming" takes the kernel for
// addresses that share their low 16 bits only when SSE2 is present.
struct Path {
    const char* name;
    int32_t cpuClass;
    uint32_t features;
};

const Path kPaths[] = {
    {"portable", 1, 0},
    {"other-class", 0, csysCpuMmx | csysCpuSse | csysCpuSse2},
    {"plans", 1, csysCpuMmx},
    {"streaming-sse", 1, csysCpuMmx | csysCpuSse},
    {"streaming-sse2", 1, csysCpuMmx | csysCpuSse | csysCpuSse2},
};

// Forces a description for the life of the object.
class ForcedPath {
public:
    explicit ForcedPath(const Path& p)
    {
        csysCpuInfo info;
        EXPECT_EQ(csys_getCpuInfo(&info), csysOk);
        info.cpuClass = p.cpuClass;
        info.features = p.features;
        EXPECT_EQ(csys_overrideCpuInfo(&info), csysOk);
    }
    ~ForcedPath() { EXPECT_EQ(csys_resetCpuInfo(), csysOk); }
};

constexpr size_t kGuard = 64;

// A buffer whose usable bytes start on a boundary (64 KiB lets two arenas
// share their low 16 address bits), with guard bytes on both sides. Tests
// compare the whole storage, guards included.
class Arena {
public:
    explicit Arena(size_t bytes, size_t align = 64) : storage_(bytes + 2 * kGuard + align)
    {
        uintptr_t base = reinterpret_cast<uintptr_t>(storage_.data()) + kGuard;
        base = (base + align - 1) & ~uintptr_t{align - 1};
        origin_ = storage_.data() + (base - reinterpret_cast<uintptr_t>(storage_.data()));
    }
    byte* at(size_t offset) { return origin_ + offset; }
    std::vector<byte>& all() { return storage_; }
    ptrdiff_t offsetOf(const byte* p) const { return p - storage_.data(); }

private:
    std::vector<byte> storage_;
    byte* origin_;
};

// While it lives, only the given runs of the arenas can be touched: under
// the address sanitizer the rest of their storage, guard bytes included, is
// poisoned, so a kernel that reads or writes one byte too many is caught.
// (A run's first bytes share their 8-byte granule with the bytes before.)
class OnlyTouching {
public:
    OnlyTouching(Arena* first, Arena* second = nullptr) : arenas_{first, second}
    {
        for (Arena* arena : arenas_) {
            if (arena != nullptr)
                ASAN_POISON_MEMORY_REGION(arena->all().data(), arena->all().size());
        }
    }
    OnlyTouching(const OnlyTouching&) = delete;
    OnlyTouching& operator=(const OnlyTouching&) = delete;
    ~OnlyTouching()
    {
        for (Arena* arena : arenas_) {
            if (arena != nullptr)
                ASAN_UNPOISON_MEMORY_REGION(arena->all().data(), arena->all().size());
        }
    }
    OnlyTouching& run(const byte* start, size_t bytes)
    {
        ASAN_UNPOISON_MEMORY_REGION(start, bytes);
        return *this;
    }
    OnlyTouching& rows(const byte* start, size_t rowBytes, int32_t count, ptrdiff_t stride)
    {
        for (int32_t r = 0; r < count; ++r)
            run(start + r * stride, rowBytes);
        return *this;
    }

private:
    Arena* arenas_[2];
};

void pattern(std::vector<byte>& v, unsigned seed)
{
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<byte>((i * 131 + seed * 17 + (i >> 8)) ^ 0x3C);
}

class CopyPaths : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override { forced_ = std::make_unique<ForcedPath>(GetParam()); }
    void TearDown() override { forced_.reset(); }

private:
    std::unique_ptr<ForcedPath> forced_;
};

// Copies count bytes between two arenas and compares the whole destination
// arena, guards included, with what memcpy gives.
void checkCopy(Arena& src, Arena& dst, size_t so, size_t doff, size_t count, const char* what)
{
    std::vector<byte> expected = dst.all();
    std::memcpy(expected.data() + dst.offsetOf(dst.at(doff)), src.at(so), count);
    {
        OnlyTouching touching(&src, &dst);
        touching.run(src.at(so), count).run(dst.at(doff), count);
        ASSERT_EQ(csys_memCopy(static_cast<int32_t>(count), src.at(so), dst.at(doff)), csysOk);
    }
    ASSERT_TRUE(expected == dst.all()) << what << ": count " << count << " source +" << so << " destination +" << doff;
}

TEST_P(CopyPaths, CopyOddSizesAndMisalignments)
{
    Arena src(1024), dst(1024);
    pattern(src.all(), 1);
    for (size_t count = 0; count <= 300; ++count) {
        for (size_t so = 0; so < 16; ++so) {
            for (size_t doff = 0; doff < 16; ++doff) {
                pattern(dst.all(), static_cast<unsigned>(count + doff));
                checkCopy(src, dst, so, doff, count, "linear");
                if (HasFatalFailure())
                    return;
            }
        }
    }
}

TEST_P(CopyPaths, CopyWithSharedLowAddressBits)
{
    Arena src(70000, 65536), dst(70000, 65536);
    pattern(src.all(), 2);
    for (size_t count : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{127}, size_t{128},
                         size_t{129}, size_t{200}, size_t{300}, size_t{4099}, size_t{65537}}) {
        for (size_t off = 0; off < 70; off += 3) {
            pattern(dst.all(), static_cast<unsigned>(count));
            checkCopy(src, dst, off, off, count, "shared bits");
            if (HasFatalFailure())
                return;
        }
    }
}

TEST_P(CopyPaths, LargeCopies)
{
    constexpr size_t kBig = (size_t{1} << 21) + 77;
    Arena src(kBig + 64, 65536), dst(kBig + 64, 65536);
    pattern(src.all(), 3);
    pattern(dst.all(), 4);
    checkCopy(src, dst, 5, 11, kBig, "large");
    checkCopy(src, dst, 16, 16, kBig - 9, "large shared");
    checkCopy(src, dst, 3, 0, (size_t{1} << 20) + 1, "large aligned destination");
}

TEST_P(CopyPaths, FillOddSizesAndMisalignments)
{
    Arena dst(1024);
    for (size_t count = 0; count <= 300; ++count) {
        for (size_t off = 0; off < 40; ++off) {
            pattern(dst.all(), static_cast<unsigned>(count));
            std::vector<byte> expected = dst.all();
            byte value = static_cast<byte>(count * 7 + off);
            std::memset(expected.data() + dst.offsetOf(dst.at(off)), value, count);
            {
                OnlyTouching touching(&dst);
                touching.run(dst.at(off), count);
                ASSERT_EQ(csys_memSet(value, static_cast<int32_t>(count), dst.at(off)), csysOk);
            }
            ASSERT_TRUE(expected == dst.all()) << "count " << count << " +" << off;
        }
    }
    constexpr size_t kBig = (size_t{1} << 21) + 5;
    Arena big(kBig + 64);
    pattern(big.all(), 9);
    std::vector<byte> expected = big.all();
    std::memset(expected.data() + big.offsetOf(big.at(13)), 0xEE, kBig);
    {
        OnlyTouching touching(&big);
        touching.run(big.at(13), kBig);
        ASSERT_EQ(csys_memSet(0xEE, static_cast<int32_t>(kBig), big.at(13)), csysOk);
    }
    EXPECT_TRUE(expected == big.all());
}

std::vector<int32_t> stridesFor(int32_t row)
{
    auto up = [](int32_t v, int32_t m) { return (v + m - 1) / m * m; };
    std::vector<int32_t> s = {row, row + 1, row + 5, up(row, 8), up(row, 8) + 8, up(row, 32), up(row, 32) + 32};
    for (int32_t& v : s) {
        if (v < row)
            v = row;
    }
    return s;
}

void reference2D(std::vector<byte>& out, ptrdiff_t dstAt, const byte* src, int32_t row, int32_t rows,
                 int32_t ss, int32_t ds)
{
    for (int32_t r = 0; r < rows; ++r)
        std::memcpy(out.data() + dstAt + ptrdiff_t{r} * ds, src + ptrdiff_t{r} * ss, static_cast<size_t>(row));
}

TEST_P(CopyPaths, Copy2D)
{
    Arena src(2048), dst(2048);
    pattern(src.all(), 5);
    std::vector<byte> background(dst.all().size());
    pattern(background, 6);
    for (int32_t row : {1, 3, 7, 8, 9, 31, 32, 33, 63, 64, 65, 100, 257}) {
        for (int32_t rows : {1, 3}) {
            for (int32_t ss : stridesFor(row)) {
                for (int32_t ds : stridesFor(row)) {
                    for (size_t so : {size_t{0}, size_t{3}, size_t{13}}) {
                        for (size_t doff : {size_t{0}, size_t{5}, size_t{11}}) {
                            dst.all() = background;
                            std::vector<byte> expected = background;
                            reference2D(expected, dst.offsetOf(dst.at(doff)), src.at(so), row, rows, ss, ds);
                            {
                                OnlyTouching touching(&src, &dst);
                                touching.rows(src.at(so), row, rows, ss).rows(dst.at(doff), row, rows, ds);
                                ASSERT_EQ(csys_memCopy2D(row, rows, ss, ds, src.at(so), dst.at(doff)), csysOk);
                            }
                            ASSERT_TRUE(expected == dst.all()) << "row " << row << " rows " << rows << " strides "
                                                               << ss << "/" << ds << " +" << so << "/+" << doff;
                        }
                    }
                }
            }
        }
    }
}

TEST_P(CopyPaths, Copy2DWithSharedLowAddressBits)
{
    Arena src(16384, 65536), dst(16384, 65536);
    pattern(src.all(), 6);
    for (int32_t row : {5, 32, 47, 64, 200, 1000}) {
        for (int32_t ss : {row, row + 3, row + 32}) {
            int32_t ds = (row + 31) / 32 * 32 + 32;
            for (size_t off : {size_t{0}, size_t{7}, size_t{32}, size_t{45}}) {
                pattern(dst.all(), static_cast<unsigned>(row));
                std::vector<byte> expected = dst.all();
                reference2D(expected, dst.offsetOf(dst.at(off)), src.at(off), row, 7, ss, ds);
                {
                    OnlyTouching touching(&src, &dst);
                    touching.rows(src.at(off), row, 7, ss).rows(dst.at(off), row, 7, ds);
                    ASSERT_EQ(csys_memCopy2D(row, 7, ss, ds, src.at(off), dst.at(off)), csysOk);
                }
                ASSERT_TRUE(expected == dst.all()) << "row " << row << " stride " << ss << " +" << off;
            }
        }
    }
}

TEST_P(CopyPaths, Fill2D)
{
    Arena dst(2048);
    std::vector<byte> background(dst.all().size());
    pattern(background, 7);
    for (int32_t row : {1, 3, 7, 8, 9, 31, 32, 33, 63, 64, 65, 100, 257}) {
        for (int32_t rows : {1, 2, 5}) {
            for (int32_t stride : stridesFor(row)) {
                for (size_t off = 0; off < 40; off += 3) {
                    dst.all() = background;
                    std::vector<byte> expected = background;
                    for (int32_t r = 0; r < rows; ++r)
                        std::memset(expected.data() + dst.offsetOf(dst.at(off)) + ptrdiff_t{r} * stride, 0x5D,
                                    static_cast<size_t>(row));
                    {
                        OnlyTouching touching(&dst);
                        touching.rows(dst.at(off), row, rows, stride);
                        ASSERT_EQ(csys_memSet2D(0x5D, row, rows, stride, dst.at(off)), csysOk);
                    }
                    ASSERT_TRUE(expected == dst.all()) << "row " << row << " rows " << rows << " stride " << stride
                                                       << " +" << off;
                }
            }
        }
    }
}

TEST_P(CopyPaths, FillPattern)
{
    const byte patterns[][9] = {
        {9, 0, 0, 0, 0, 0, 0, 0, 0}, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {7, 7, 7, 7, 7, 7, 7, 7, 7},
        {7, 7, 7, 7, 7, 7, 7, 7, 8}, {4, 4, 4, 5, 4, 4, 4, 4, 4},
    };
    Arena dst(1024);
    for (const auto& p : patterns) {
        for (int32_t length = 1; length <= 9; ++length) {
            for (int32_t count : {0, 1, 2, 3, 7, 33, 90}) {
                for (size_t off : {size_t{0}, size_t{5}, size_t{8}}) {
                    pattern(dst.all(), static_cast<unsigned>(length * count));
                    std::vector<byte> expected = dst.all();
                    for (int32_t i = 0; i < count; ++i)
                        std::memcpy(expected.data() + dst.offsetOf(dst.at(off)) + i * length, p,
                                    static_cast<size_t>(length));
                    {
                        OnlyTouching touching(&dst);
                        touching.run(dst.at(off), static_cast<size_t>(length * count));
                        ASSERT_EQ(csys_memFillPattern(p, length, count, dst.at(off)), csysOk);
                    }
                    ASSERT_TRUE(expected == dst.all()) << "length " << length << " count " << count;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Forced, CopyPaths, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<Path>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (c == '-')
                                     c = '_';
                             }
                             return name;
                         });

// ---- Arguments

TEST(CopyArguments, CountsAndNullPointers)
{
    byte src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    byte dst[8] = {};
    EXPECT_EQ(csys_memCopy(-1, src, dst), csysErrBadSize);
    EXPECT_EQ(csys_memCopy(0, nullptr, nullptr), csysOk);
    EXPECT_EQ(csys_memCopy(4, nullptr, dst), csysErrNullArg);
    EXPECT_EQ(csys_memCopy(4, src, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_memSet(1, -1, dst), csysErrBadSize);
    EXPECT_EQ(csys_memSet(1, 0, nullptr), csysOk);
    EXPECT_EQ(csys_memSet(1, 3, nullptr), csysErrNullArg);

    EXPECT_EQ(csys_memCopy64(0, 1, src, dst), csysErrBadSize);
    EXPECT_EQ(csys_memCopy64(0x80000000u, 0, src, dst), csysErrBadSize);
    EXPECT_EQ(csys_memCopy64(0xFFFFFFFFu, -1, src, dst), csysErrBadSize); // -1
    EXPECT_EQ(csys_memCopy64(0, 0, nullptr, nullptr), csysOk);
    EXPECT_EQ(csys_memCopy64(8, 0, src, dst), csysOk);
    EXPECT_EQ(std::memcmp(src, dst, 8), 0);
}

TEST(CopyArguments, TwoDimensional)
{
    byte src[64];
    byte dst[64];
    for (int i = 0; i < 64; ++i)
        src[i] = static_cast<byte>(i + 1);
    std::memset(dst, 0, sizeof dst);

    // Equal row length and strides: one linear run.
    EXPECT_EQ(csys_memCopy2D(8, 4, 8, 8, src, dst), csysOk);
    EXPECT_EQ(std::memcmp(src, dst, 32), 0);
    EXPECT_EQ(dst[32], 0);

    EXPECT_EQ(csys_memCopy2D(8, 2, 7, 8, src, dst), csysErrBadGeometry);
    EXPECT_EQ(csys_memCopy2D(8, 2, 8, 4, src, dst), csysErrBadGeometry);
    EXPECT_EQ(csys_memCopy2D(-1, 2, 8, 8, src, dst), csysErrBadGeometry);
    EXPECT_EQ(csys_memCopy2D(4, -1, 8, 8, src, dst), csysErrBadGeometry);
    EXPECT_EQ(csys_memCopy2D(4, 0, 8, 8, nullptr, nullptr), csysOk);
    EXPECT_EQ(csys_memCopy2D(4, 2, 8, 8, nullptr, dst), csysErrNullArg);

    std::memset(dst, 0, sizeof dst);
    EXPECT_EQ(csys_memSet2D(3, 8, 4, 8, dst), csysOk);
    EXPECT_EQ(dst[31], 3);
    EXPECT_EQ(dst[32], 0);
    EXPECT_EQ(csys_memSet2D(3, 8, 2, 7, dst), csysErrBadGeometry);
    EXPECT_EQ(csys_memSet2D(3, 8, -2, 16, dst), csysErrBadGeometry);
    EXPECT_EQ(csys_memSet2D(3, 8, 2, 16, nullptr), csysErrNullArg);
}

// Row length equal to the strides: the size is the product of row length
// and rows. A product of 0 does nothing, whatever the other factor; a
// negative factor (two make a positive product) or a product of 2^31 or
// more is refused.
TEST(CopyArguments, OneRunTakesItsSizeFromTheProduct)
{
    const struct {
        int32_t rowBytes, rows;
        csysStatus expected;
    } cases[] = {
        {0, 5, csysOk},           {5, 0, csysOk},           {-4, 0, csysOk},
        {0, -3, csysOk},          {0, INT32_MIN, csysOk},   {-1, 4, csysErrBadSize},
        {4, -1, csysErrBadSize},  {-2, -3, csysErrBadSize}, {65536, 32768, csysErrBadSize},
        {65536, 32767, csysErrNullArg}, // a size that fits goes on to the copy
    };
    // Nothing may be written: the pointers are null.
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rowBytes << " x " << c.rows);
        EXPECT_EQ(csys_memCopy2D(c.rowBytes, c.rows, c.rowBytes, c.rowBytes, nullptr, nullptr), c.expected);
        EXPECT_EQ(csys_memSet2D(3, c.rowBytes, c.rows, c.rowBytes, nullptr), c.expected);
    }
}

TEST(CopyArguments, FillPattern)
{
    byte dst[16];
    std::memset(dst, 0, sizeof dst);
    const byte sevens[4] = {7, 7, 7, 7};
    EXPECT_EQ(csys_memFillPattern(sevens, 4, 3, dst), csysOk);
    EXPECT_EQ(std::memcmp(dst, std::string(12, '\7').data(), 12), 0);
    EXPECT_EQ(dst[12], 0);

    EXPECT_EQ(csys_memFillPattern(sevens, 0, 3, dst), csysErrBadPattern);
    EXPECT_EQ(csys_memFillPattern(sevens, 4, -1, dst), csysErrBadPattern);
    EXPECT_EQ(csys_memFillPattern(sevens, 4, 0, nullptr), csysOk);
    EXPECT_EQ(csys_memFillPattern(nullptr, 4, 1, dst), csysErrNullArg);

    // A fill of 2^31 bytes or more fails before it writes: the destination
    // here is far too small, so any write would be caught.
    const byte mixed[3] = {1, 2, 3};
    EXPECT_EQ(csys_memFillPattern(sevens, 4, 1 << 29, dst), csysErrBadSize);
    EXPECT_EQ(csys_memFillPattern(sevens, 4, 0x40000001, dst), csysErrBadSize); // wraps to 4 in 32 bits
    EXPECT_EQ(csys_memFillPattern(mixed, 3, 0x2AAAAAAB, dst), csysErrBadSize);
    EXPECT_EQ(dst[12], 0);
}

} // namespace
