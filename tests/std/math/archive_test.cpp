#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/math/startup.h"
#include "std/math/xfcomposed.h"
#include "std/math/xflinear.h"
#include "tests/support/bytes.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;

// Doubles as stored little-endian.
const Bytes kZero = {0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kOne = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
const Bytes kOneAndHalf = {0, 0, 0, 0, 0, 0, 0xF8, 0x3F};
const Bytes kMinusTwo = {0, 0, 0, 0, 0, 0, 0, 0xC0};
const Bytes kTwo = {0, 0, 0, 0, 0, 0, 0, 0x40};
const Bytes kHalf = {0, 0, 0, 0, 0, 0, 0xE0, 0x3F};
const Bytes kFour = {0, 0, 0, 0, 0, 0, 0x10, 0x40};
const Bytes kEight = {0, 0, 0, 0, 0, 0, 0x20, 0x40};
const Bytes kNine = {0, 0, 0, 0, 0, 0, 0x22, 0x40};

// Translation (1.5, -2), matrix [2 0.5; 0 4], determinant 8: the versions of
// the linear, base and persistent levels, then the vector and the matrix.
const Bytes kLinear =
    cat({{0x02, 0x01, 0x00, 0x00, 0x00}, {0x00}, kOneAndHalf, kMinusTwo, {0x00}, kTwo, kHalf, kZero, kFour, kEight});

// The identity value: vector, matrix, then the identity byte.
const Bytes kIdentityValue =
    cat({{0x02, 0x01, 0x00}, {0x00}, kZero, kZero, {0x00}, kOne, kZero, kZero, kOne, kOne, {0x01}});

class XformArchive : public ::testing::Test {
protected:
    void SetUp() override { ccStdMathStartup(); }

    static Bytes storeObject(cc2XformBase& x, int32_t order)
    {
        return test_bytes::store(order, [&](ccArchive& ar) { ccArchiveObject(x, ar, false); });
    }
    static void loadObject(const Bytes& bytes, ccPersistent& x)
    {
        test_bytes::load(bytes, [&](ccArchive& ar) { ccArchiveObject(x, ar, false); });
    }
};

// The source and line of the ccArchive::UnknownVersion that f raises.
std::pair<std::wstring, uint32_t> unknownVersion(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ccArchive::UnknownVersion& e) {
        return {e.file(), e.line()};
    }
    return {L"no error", 0};
}

TEST_F(XformArchive, LinearMatchesTheGoldenBytesBothWays)
{
    cc2XformLinear x(cc2Matrix(2, 0.5, 0, 4), cc2Vect(1.5, -2));
    EXPECT_EQ(storeObject(x, ccArchive::littleEndian), kLinear); // the other byte order is the archive's own

    ccPersistentFactory make = ccFindFactory("class cc2XformLinear");
    ASSERT_NE(make, nullptr);
    std::unique_ptr<ccPersistent> made(make());
    loadObject(kLinear, *made);
    const cc2XformLinear* loaded = dynamic_cast<const cc2XformLinear*>(made.get());
    ASSERT_NE(loaded, nullptr);
    double v[6];
    loaded->value().get(v[0], v[1], v[2], v[3], v[4], v[5]);
    EXPECT_TRUE(v[0] == 1.5 && v[1] == -2 && v[2] == 2 && v[3] == 0.5 && v[4] == 0 && v[5] == 4);
    cc2XformComposed c; // a composition has no stored form here
    EXPECT_THROW(storeObject(c, ccArchive::littleEndian), cc2XformDefs::NotImplemented);
    // The determinant, at 55, is worked out from the elements, not loaded.
    Bytes b = kLinear;
    std::copy(kNine.begin(), kNine.end(), b.begin() + 55);
    cc2XformLinear fresh;
    loadObject(b, fresh);
    EXPECT_EQ(fresh.matrix().det(), 8);
}

TEST_F(XformArchive, EveryLevelChecksItsVersionAndValuesRoundTrip)
{
    const struct {
        size_t at;
        const wchar_t* file;
        uint32_t line;
    } levels[] = {{2, L"std/math/xflinear", 51}, {3, L"std/math/xfbase", 27}, {4, L"", 0},
                  {5, L"std/math/vector", 60},   {22, L"std/math/matrix", 196}};
    for (const auto& level : levels) {
        Bytes b = kLinear;
        b[level.at] = 1;
        cc2XformLinear x;
        EXPECT_EQ(unknownVersion([&] { loadObject(b, x); }), std::make_pair(std::wstring(level.file), level.line));
    }
    // A short stream leaves the transform as it was.
    cc2XformLinear x;
    EXPECT_THROW(loadObject(Bytes(kLinear.begin(), kLinear.end() - 1), x), ccArchive::Eof);
    EXPECT_TRUE(x.value().isIdentity());

    // A value carries an identity byte that loading ignores.
    cc2Xform id;
    EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { id.archive(ar); }), kIdentityValue);
    cc2Xform near(cc2Matrix(), cc2Vect(std::nextafter(0.0, 1.0), 0));
    Bytes b = test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { near.archive(ar); });
    EXPECT_EQ(b.back(), 0);

    b.back() = 1; // a false claim of identity
    cc2Xform loaded;
    test_bytes::load(b, [&](ccArchive& ar) { loaded.archive(ar); });
    EXPECT_EQ(loaded.offset().x(), near.offset().x());

}

// Storing only reads a transform: the shared identity is stored from two
// threads, through a pointer and by value, while a third reads it
// (ThreadSanitizer reports any write).
TEST_F(XformArchive, StoringTheSharedIdentityOnlyReadsIt)
{
    const cc2XformLinear* id = cc2XformLinear::identity().rawPointer();
    std::atomic<bool> stored{false};
    const auto storing = [id](bool byPointer) {
        for (int i = 0; i < 200; ++i)
            test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
                cc2XformLinear* unused = nullptr;
                if (byPointer)
                    archivePointer(ar, id, unused);
                else
                    ar << id;
            });
    };
    std::thread reader([&] {
        while (!stored) {
            double v[6];
            id->value().get(v[0], v[1], v[2], v[3], v[4], v[5]);
            EXPECT_TRUE(v[0] == 0 && v[1] == 0 && v[2] == 1 && v[3] == 0 && v[4] == 0 && v[5] == 1);
        }
    });
    std::thread a(storing, true);
    std::thread b(storing, false);
    a.join();
    b.join();
    stored = true;
    reader.join();
}

} // namespace
