#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/cpu_testing.h"
#include "system/csys_copy.h"
#include "system/csys_copy_testing.h"
#include "system/csys_cpu.h"
#include "system/csys_cpu_testing.h"
#include "tests/support/child_check.h"

// Without the address sanitizer the header makes poisoning a no-op.
#include <sanitizer/asan_interface.h>

namespace {

using byte = unsigned char;

// The routes a description can select. "streaming" takes the kernel for
// addresses that share their low 16 bits only when SSE2 is present, and the
// cached path below the threshold: at 256 bytes of traffic, copies shorter
// than 128 bytes and fills shorter than 256 bytes.
struct Path {
    const char* name;
    int32_t cpuClass;
    uint32_t features;
    int64_t threshold;
};

const Path kPaths[] = {
    {"portable", 1, 0, 0}, {"other_class", 0, csysCpuMmx | csysCpuSse | csysCpuSse2, 0}, {"plans", 1, csysCpuMmx, 0},
    {"streaming_sse", 1, csysCpuMmx | csysCpuSse, 0}, {"streaming_sse2", 1, csysCpuMmx | csysCpuSse | csysCpuSse2, 0},
    {"streaming_sse_cached_below", 1, csysCpuMmx | csysCpuSse, 256},
    {"streaming_sse2_cached_below", 1, csysCpuMmx | csysCpuSse | csysCpuSse2, 256},
};

constexpr size_t kGuard = 64;

// A buffer whose usable bytes start on a boundary (64 KiB lets two arenas
// share their low 16 address bits), with guard bytes on both sides. Checks
// compare the whole storage, guards included.
class Arena {
public:
    explicit Arena(size_t bytes, size_t align = 64, unsigned seed = 1) : storage_(bytes + 2 * kGuard + align)
    {
        uintptr_t base = reinterpret_cast<uintptr_t>(storage_.data()) + kGuard;
        base = (base + align - 1) & ~uintptr_t{align - 1};
        origin_ = storage_.data() + (base - reinterpret_cast<uintptr_t>(storage_.data()));
        for (size_t i = 0; i < storage_.size(); ++i)
            storage_[i] = static_cast<byte>((i * 131 + seed * 17 + (i >> 8)) ^ 0x3C);
        background_ = storage_;
    }
    byte* at(size_t offset) { return origin_ + offset; }
    std::vector<byte>& all() { return storage_; }
    ptrdiff_t offsetOf(const byte* p) const { return p - storage_.data(); }
    void reset() { storage_ = background_; }
    // Under the address sanitizer the whole storage, guards included, is
    // poisoned but for the rows a call may touch, so a kernel that reads or
    // writes one byte too many is caught. (A row's first bytes share their
    // 8-byte granule with the bytes before.)
    void onlyTouching(const byte* start, size_t row, int32_t rows, ptrdiff_t stride)
    {
        ASAN_POISON_MEMORY_REGION(storage_.data(), storage_.size());
        for (int32_t r = 0; r < rows; ++r)
            ASAN_UNPOISON_MEMORY_REGION(start + r * stride, row);
    }
    void touchable() { ASAN_UNPOISON_MEMORY_REGION(storage_.data(), storage_.size()); }

private:
    std::vector<byte> storage_, background_;
    byte* origin_;
};

// One call: rows of row bytes, stride apart (one row for the 1-D calls).
// A copy reads from source (an arena, or a pattern with source stride 0); a
// fill writes value.
enum class Call { copy, copy2D, fill, fill2D, pattern };

struct Shape {
    int32_t row, rows, sourceStride, stride;
    size_t sourceOffset, offset;
};

// Runs the call on the reset destination and compares the whole arena,
// guards included, with what memcpy and memset give.
void check(Call call, Arena& dst, const Shape& s, Arena* src, const byte* pattern = nullptr, byte value = 0x5D)
{
    dst.reset();
    const byte* from = src ? src->at(s.sourceOffset) : pattern;
    std::vector<byte> expected = dst.all();
    for (int32_t r = 0; r < s.rows; ++r) {
        byte* out = expected.data() + dst.offsetOf(dst.at(s.offset)) + ptrdiff_t{r} * s.stride;
        if (from)
            std::memcpy(out, from + ptrdiff_t{r} * s.sourceStride, static_cast<size_t>(s.row));
        else
            std::memset(out, value, static_cast<size_t>(s.row));
    }
    byte* to = dst.at(s.offset);
    if (src)
        src->onlyTouching(from, static_cast<size_t>(s.row), s.rows, s.sourceStride);
    dst.onlyTouching(to, static_cast<size_t>(s.row), s.rows, s.stride);
    csysStatus status = csysErrFail;
    switch (call) {
    case Call::copy: status = csys_memCopy(s.row, from, to); break;
    case Call::copy2D: status = csys_memCopy2D(s.row, s.rows, s.sourceStride, s.stride, from, to); break;
    case Call::fill: status = csys_memSet(value, s.row, to); break;
    case Call::fill2D: status = csys_memSet2D(value, s.row, s.rows, s.stride, to); break;
    case Call::pattern: status = csys_memFillPattern(pattern, s.row, s.rows, to); break;
    }
    if (src)
        src->touchable();
    dst.touchable();
    ASSERT_EQ(status, csysOk);
    ASSERT_TRUE(expected == dst.all()) << "call " << static_cast<int>(call) << " row " << s.row << " rows " << s.rows
                                       << " strides " << s.sourceStride << "/" << s.stride << " offsets +"
                                       << s.sourceOffset << "/+" << s.offset;
}

// Forces the path's description for the test.
class CopyPaths : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override
    {
        csysCpuInfo info;
        ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
        info.cpuClass = GetParam().cpuClass;
        info.features = GetParam().features;
        ASSERT_EQ(csys_overrideCpuInfo(&info), csysOk);
        csys_overrideStreamingThreshold(GetParam().threshold);
    }
    void TearDown() override
    {
        csys_overrideStreamingThreshold(-1);
        EXPECT_EQ(csys_resetCpuInfo(), csysOk);
    }
};

TEST_P(CopyPaths, OddSizesAndMisalignments)
{
    Arena src(1024, 64, 1), dst(1024, 64, 2);
    for (int32_t count = 0; count <= 300; ++count) {
        for (size_t so = 0; so < 16; ++so)
            for (size_t off = 0; off < 16; ++off)
                ASSERT_NO_FATAL_FAILURE(check(Call::copy, dst, {count, 1, 0, 0, so, off}, &src));
        for (size_t off = 0; off < 40; ++off)
            ASSERT_NO_FATAL_FAILURE(check(Call::fill, dst, {count, 1, 0, 0, 0, off}, nullptr, nullptr,
                                          static_cast<byte>(count * 7 + off)));
    }
}

TEST_P(CopyPaths, SharedLowAddressBitsAndLargeRuns)
{
    Arena src(70000, 65536, 3), dst(70000, 65536, 4);
    for (int32_t count : {0, 1, 63, 64, 65, 127, 128, 129, 200, 300, 4099, 65537})
        for (size_t off = 0; off < 70; off += 3)
            ASSERT_NO_FATAL_FAILURE(check(Call::copy, dst, {count, 1, 0, 0, off, off}, &src));

    constexpr int32_t kBig = (1 << 21) + 77;
    Arena bigSrc(kBig + 64, 65536, 5), bigDst(kBig + 64, 65536, 6);
    ASSERT_NO_FATAL_FAILURE(check(Call::copy, bigDst, {kBig, 1, 0, 0, 5, 11}, &bigSrc));
    ASSERT_NO_FATAL_FAILURE(check(Call::fill, bigDst, {kBig - 72, 1, 0, 0, 0, 13}, nullptr, nullptr, 0xEE));
}

std::vector<int32_t> stridesFor(int32_t row)
{
    auto up = [](int32_t v, int32_t m) { return (v + m - 1) / m * m; };
    return {row, row + 1, row + 5, up(row, 8), up(row, 8) + 8, up(row, 32), up(row, 32) + 32};
}

TEST_P(CopyPaths, RowsOfOddLengthsAndStrides)
{
    Arena src(2048, 64, 7), dst(2048, 64, 8);
    for (int32_t row : {1, 3, 7, 8, 9, 31, 32, 33, 63, 64, 65, 100, 257}) {
        for (int32_t ss : stridesFor(row))
            for (int32_t ds : stridesFor(row))
                for (size_t so : {size_t{0}, size_t{3}, size_t{13}})
                    for (size_t off : {size_t{0}, size_t{5}, size_t{11}})
                        for (int32_t rows : {1, 3})
                            ASSERT_NO_FATAL_FAILURE(check(Call::copy2D, dst, {row, rows, ss, ds, so, off}, &src));
        for (int32_t stride : stridesFor(row))
            for (size_t off = 0; off < 40; off += 3)
                for (int32_t rows : {1, 2, 5})
                    ASSERT_NO_FATAL_FAILURE(check(Call::fill2D, dst, {row, rows, 0, stride, 0, off}, nullptr));
    }
}

TEST_P(CopyPaths, FillPattern)
{
    // Uniform patterns up to 8 bytes take the fill.
    const byte patterns[][9] = {
        {9, 0, 0, 0, 0, 0, 0, 0, 0}, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {7, 7, 7, 7, 7, 7, 7, 7, 7},
        {7, 7, 7, 7, 7, 7, 7, 7, 8}, {4, 4, 4, 5, 4, 4, 4, 4, 4},
    };
    Arena dst(1024, 64, 9);
    for (const auto& p : patterns)
        for (int32_t length = 1; length <= 9; ++length)
            for (int32_t count : {0, 1, 2, 3, 7, 33, 90})
                for (size_t off : {size_t{0}, size_t{5}, size_t{8}})
                    ASSERT_NO_FATAL_FAILURE(check(Call::pattern, dst, {length, count, 0, length, 0, off}, nullptr, p));
}

INSTANTIATE_TEST_SUITE_P(Forced, CopyPaths, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<Path>& info) { return std::string(info.param.name); });

// The threshold is three quarters of the last-level cache that the first
// detection reads, 4 MiB when the processor does not tell. Fresh processes,
// so that nothing has detected first.
void thresholdFromTheFirstDetection(uint32_t level3Units, int64_t expected)
{
    plat::CpuidRegisters leaf0{1, 0, 0, 0};
    std::memcpy(&leaf0.ebx, "AuthenticAMD", 4);
    std::memcpy(&leaf0.edx, "AuthenticAMD" + 4, 4);
    std::memcpy(&leaf0.ecx, "AuthenticAMD" + 8, 4);
    plat::setCpuidRecords({{0, 0, -1, leaf0},
                           {1, 0, -1, {6 << 8, 0, 0, (1u << 23) | (1u << 25) | (1u << 26)}},
                           {0x80000000u, 0, -1, {0x80000006u, 0, 0, 0}},
                           {0x80000006u, 0, -1, {0, 0, 0, level3Units << 18}}});
    csysCpuInfo info;
    REQUIRE(csys_getCpuInfo(&info) == csysOk);
    plat::setCpuidRecords({});
    REQUIRE(csys_streamingThreshold() == expected);
    childExit(0);
}

TEST(CopyThreshold, ThreeQuartersOfTheLastLevelCache)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        uint32_t level3Units; // of 512 KiB
        int64_t expected;
    } cases[] = {{16, 6 << 20}, {0, 4 << 20}};
    for (const auto& c : cases)
        EXPECT_EXIT(thresholdFromTheFirstDetection(c.level3Units, c.expected), ::testing::ExitedWithCode(0), "")
            << c.level3Units;
}

TEST(CopyArguments, RefusalsWriteNothing)
{
    // Null pointers where a write would go: a call that is not refused first
    // crashes the test. Fills of 2^31 bytes or more fail before they write.
    byte src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    byte dst[16] = {};
    const byte sevens[4] = {7, 7, 7, 7}, mixed[3] = {1, 2, 3};
    const csysStatus kSize = csysErrBadSize, kNull = csysErrNullArg, kGeometry = csysErrBadGeometry,
                     kPattern = csysErrBadPattern;
    const struct { csysStatus got, expected; } calls[] = {
        {csys_memCopy(-1, src, dst), kSize},             {csys_memCopy(0, nullptr, nullptr), csysOk},
        {csys_memCopy(4, nullptr, dst), kNull},          {csys_memCopy(4, src, nullptr), kNull},
        {csys_memSet(1, -1, dst), kSize},                {csys_memSet(1, 0, nullptr), csysOk},
        {csys_memSet(1, 3, nullptr), kNull},             {csys_memCopy64(0, 1, src, dst), kSize},
        {csys_memCopy64(0x80000000u, 0, src, dst), kSize}, {csys_memCopy64(0, 0, nullptr, nullptr), csysOk},
        {csys_memCopy64(0xFFFFFFFFu, -1, src, dst), kSize}, // -1
        {csys_memCopy2D(8, 2, 7, 8, src, dst), kGeometry},  {csys_memCopy2D(8, 2, 8, 4, src, dst), kGeometry},
        {csys_memCopy2D(-1, 2, 8, 8, src, dst), kGeometry}, {csys_memCopy2D(4, -1, 8, 8, src, dst), kGeometry},
        {csys_memCopy2D(4, 0, 8, 8, nullptr, nullptr), csysOk}, {csys_memCopy2D(0, 2, 8, 8, nullptr, nullptr), csysOk},
        {csys_memCopy2D(4, 2, 8, 8, nullptr, dst), kNull},  {csys_memSet2D(3, 8, 2, 7, dst), kGeometry},
        {csys_memSet2D(3, 8, -2, 16, dst), kGeometry},      {csys_memSet2D(3, 8, 0, 16, nullptr), csysOk},
        {csys_memSet2D(3, 8, 2, 16, nullptr), kNull},       {csys_memFillPattern(sevens, 0, 3, dst), kPattern},
        {csys_memFillPattern(sevens, 4, -1, dst), kPattern}, {csys_memFillPattern(sevens, 4, 1, nullptr), kNull},
        {csys_memFillPattern(nullptr, 4, 1, dst), kNull},    {csys_memFillPattern(sevens, 4, 1 << 29, dst), kSize},
        {csys_memFillPattern(sevens, 4, 0x40000001, dst), kSize}, // wraps to 4 in 32 bits
        {csys_memFillPattern(mixed, 3, 0x2AAAAAAB, dst), kSize},
        {csys_memCopy64(8, 0, src, dst), csysOk}, // the only call that writes
    };
    for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i)
        EXPECT_EQ(calls[i].got, calls[i].expected) << "call " << i;
    EXPECT_EQ(std::vector<byte>(dst, dst + 16), std::vector<byte>({1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// Row length equal to the strides: the size is the product of row length
// and rows. A product of 0 does nothing, whatever the other factor; a
// negative factor (two make a positive product) or a product of 2^31 or
// more is refused.
TEST(CopyArguments, OneRunTakesItsSizeFromTheProduct)
{
    const struct { int32_t rowBytes, rows; csysStatus expected; } cases[] = {
        {5, 0, csysOk}, {-4, 0, csysOk}, {0, INT32_MIN, csysOk}, {-1, 4, csysErrBadSize},
        {-2, -3, csysErrBadSize}, {65536, 32768, csysErrBadSize},
        {65536, 32767, csysErrNullArg}, // a size that fits goes on to the copy
    };
    // Nothing may be written: the pointers are null.
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rowBytes << " x " << c.rows);
        EXPECT_EQ(csys_memCopy2D(c.rowBytes, c.rows, c.rowBytes, c.rowBytes, nullptr, nullptr), c.expected);
        EXPECT_EQ(csys_memSet2D(3, c.rowBytes, c.rows, c.rowBytes, nullptr), c.expected);
    }
}

} // namespace
