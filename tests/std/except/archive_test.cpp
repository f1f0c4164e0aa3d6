#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "std/except/archive.h"
#include "std/except/internal/archive_tables.h"
#include "std/except/persist.h"
#include "std/except/startup.h"
#include "tests/std/except/archive_support.h"

namespace {

using namespace archive_support;

// Refuses every write after limit bytes.
class LimitedBuf : public std::streambuf {
public:
    explicit LimitedBuf(size_t limit) : limit_(limit) {}
    Bytes written;

protected:
    int_type overflow(int_type c) override
    {
        if (written.size() >= limit_ || traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::eof();
        written.push_back(static_cast<unsigned char>(c));
        return c;
    }

private:
    size_t limit_;
};

// The archive on its own: without an object table, a seekable archive has no
// record directory after its header.
class ArchiveAlone : public ::testing::Test {
protected:
    void SetUp() override { previous_ = ccSetArchiveObjectTableFactory(nullptr); }
    void TearDown() override { ccSetArchiveObjectTableFactory(previous_); }

private:
    ccArchiveObjectTableFactory previous_ = nullptr;
};

// ---------------------------------------------------------------- header

class ArchiveHeader : public ArchiveAlone {};

TEST_F(ArchiveHeader, StoringWritesSeekableBitVersionAndByteOrder)
{
    auto none = [](ccArchive&) {};
    EXPECT_EQ(storeAll(kLittle, false, none), (Bytes{0x02, 0x01}));
    EXPECT_EQ(storeAll(kLittle, true, none), (Bytes{0x03, 0x01}));
    EXPECT_EQ(storeAll(kBig, false, none), (Bytes{0x02, 0x00}));
    // Any order other than 1 is big-endian, and the header says so.
    EXPECT_EQ(storeAll(7, false, none), (Bytes{0x02, 0x00}));
}

struct HeaderCase {
    unsigned char first;
    bool seekableReader;
    int outcome; // 0: accepted, else the expected error code
    uint8_t version;
};

TEST_F(ArchiveHeader, SeekableBitIsCheckedBeforeVersion)
{
    const HeaderCase cases[] = {
        {0x00, false, 0, 0},
        {0x02, false, 0, 1},
        {0x03, false, int(ccArchive::BadType::kCode), 0},
        {0x05, false, int(ccArchive::BadType::kCode), 0},
        {0x04, false, int(ccArchive::UnknownArchiveVersion::kCode), 0},
        {0x01, true, 0, 0},
        {0x03, true, 0, 1},
        {0x02, true, int(ccArchive::BadType::kCode), 0},
        {0xFF, true, int(ccArchive::UnknownArchiveVersion::kCode), 0},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "first byte " << int(c.first) << " seekable " << c.seekableReader);
        const char data[] = {char(c.first), 0x01};
        try {
            ccMemoryArchive ar(data, 2, c.seekableReader, false);
            EXPECT_EQ(c.outcome, 0);
            EXPECT_EQ(ar.version(), c.version);
            EXPECT_TRUE(ar.isLoading());
        } catch (const ccArchive::Errors& e) {
            EXPECT_EQ(int(e.code()), c.outcome);
            EXPECT_EQ(e.file(), L"archive");
            EXPECT_NE(e.line(), 0u);
        }
    }
}

TEST_F(ArchiveHeader, ByteOrderByteMustBeZeroOrOne)
{
    const char little[] = {0x02, 0x01};
    const char big[] = {0x02, 0x00};
    const char two[] = {0x02, 0x02};
    const char high[] = {0x02, char(0x81)};
    ccMemoryArchive l(little, 2, false, false);
    EXPECT_EQ(l.byteOrder(), kLittle);
    EXPECT_FALSE(l.swaps());
    ccMemoryArchive b(big, 2, false, false);
    EXPECT_EQ(b.byteOrder(), kBig);
    EXPECT_TRUE(b.swaps());
    EXPECT_THROW(ccMemoryArchive(two, 2, false, false), ccArchive::BadBuffer);
    EXPECT_THROW(ccMemoryArchive(high, 2, false, false), ccArchive::BadBuffer);
}

TEST_F(ArchiveHeader, ShortHeaderIsEof)
{
    const char one[] = {0x02};
    EXPECT_THROW(ccMemoryArchive(one, 1, false, false), ccArchive::Eof);
    EXPECT_THROW(ccMemoryArchive(one, 0, false, false), ccArchive::Eof);
}

// ---------------------------------------------------------------- primitives

TEST(ArchivePrimitives, MultiByteNumbersFollowTheByteOrder)
{
    auto u32 = [](ccArchive& ar) {
        uint32_t v = 0x12345678;
        ar.archive(v);
    };
    EXPECT_EQ(store(kLittle, u32), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(store(kBig, u32), (Bytes{0x12, 0x34, 0x56, 0x78}));

    auto i16 = [](ccArchive& ar) {
        short v = -2; // FFFE
        unsigned short u = 0x1234;
        ar.archive(v).archive(u);
    };
    EXPECT_EQ(store(kLittle, i16), (Bytes{0xFE, 0xFF, 0x34, 0x12}));
    EXPECT_EQ(store(kBig, i16), (Bytes{0xFF, 0xFE, 0x12, 0x34}));

    auto i64 = [](ccArchive& ar) {
        long long v = 0x0102030405060708LL;
        ar.archive(v);
    };
    EXPECT_EQ(store(kLittle, i64), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(store(kBig, i64), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));

    EXPECT_EQ(loadOne<uint32_t>({0x78, 0x56, 0x34, 0x12}, kLittle), 0x12345678u);
    EXPECT_EQ(loadOne<uint32_t>({0x12, 0x34, 0x56, 0x78}, kBig), 0x12345678u);
    EXPECT_EQ(loadOne<int32_t>({0xFE, 0xFF, 0xFF, 0xFF}, kLittle), -2);
    EXPECT_EQ(loadOne<long long>({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, kBig), -2LL);
}

TEST(ArchivePrimitives, DoubleIsItsBitPatternInByteOrder)
{
    // -2.5 is C0 04 00 00 00 00 00 00.
    auto d = [](ccArchive& ar) {
        double v = -2.5;
        ar.archive(v);
    };
    EXPECT_EQ(store(kLittle, d), (Bytes{0, 0, 0, 0, 0, 0, 0x04, 0xC0}));
    EXPECT_EQ(store(kBig, d), (Bytes{0xC0, 0x04, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(loadOne<double>({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, kLittle), 1.0);
}

TEST(ArchivePrimitives, SingleBytesAndBool)
{
    auto bytes = [](ccArchive& ar) {
        bool t = true, f = false;
        char c = 'A';
        signed char s = -128;
        unsigned char u = 0xFF;
        ar.archive(t).archive(f).archive(c).archive(s).archive(u);
    };
    EXPECT_EQ(store(kBig, bytes), (Bytes{0x01, 0x00, 0x41, 0x80, 0xFF}));
    // Any non-zero byte loads as true.
    EXPECT_TRUE(loadOne<bool>({0x7F}));
    EXPECT_TRUE(loadOne<bool>({0x80}));
    EXPECT_FALSE(loadOne<bool>({0x00}));
}

// A load only writes its destination, which may hold no valid bool yet: here
// uninitialised storage whose byte is 0x7F.
TEST(ArchivePrimitives, LoadingABoolDoesNotReadIt)
{
    for (unsigned char stored : {0x00, 0x01}) {
        alignas(bool) unsigned char storage[sizeof(bool)];
        std::memset(storage, 0x7F, sizeof storage);
        bool* b = new (storage) bool; // default-initialised: the byte stays
        Loader l(Loader::framed({stored}));
        l.ar().archive(*b);
        EXPECT_EQ(*b, stored != 0);
    }
}

// Every primitive through one routine for both directions. Zero on
// construction; edges() sets values at the ends of each range.
struct AllValues {
    bool b0 = false, b1 = false;
    char c = 0;
    signed char sc = 0;
    unsigned char uc = 0;
    short s0 = 0, s1 = 0;
    unsigned short us = 0;
    int32_t i0 = 0, i1 = 0;
    uint32_t u0 = 0, u1 = 0;
    long long ll0 = 0, ll1 = 0;
    unsigned long long ull0 = 0, ull1 = 0;
    double d[6] = {};
    std::string narrow;
    std::wstring wide;
    unsigned char block[5] = {};

    void edges()
    {
        b1 = true;
        c = '\x80';
        sc = -128;
        uc = 255;
        s0 = std::numeric_limits<short>::min();
        s1 = 32767;
        us = 65535;
        i0 = std::numeric_limits<int32_t>::min();
        i1 = -2;
        u0 = 0xFFFFFFFFu;
        u1 = 0x80000001u;
        ll0 = std::numeric_limits<long long>::min();
        ll1 = -3;
        ull0 = ~0ULL;
        ull1 = 0x8000000000000001ULL;
        const double ds[5] = {-0.0, HUGE_VAL, std::numeric_limits<double>::denorm_min(), 1e308, -1.0 / 3.0};
        std::copy(ds, ds + 5, d);
        const unsigned long long nanWithPayload = 0x7FF0000000012345ULL; // must keep its bits
        std::memcpy(&d[5], &nanWithPayload, 8);
        narrow = std::string("a\0\xFF\"z", 5);
        wide = std::wstring(L"x\0y", 3) + wchar_t(0x1F600) + wchar_t(0xE9);
        const unsigned char raw[5] = {0, 1, 0xFE, 0x22, 0xFF};
        std::memcpy(block, raw, 5);
    }

    void archive(ccArchive& ar)
    {
        ar.archive(b0).archive(b1).archive(c).archive(sc).archive(uc);
        ar.archive(s0).archive(s1).archive(us).archive(i0).archive(i1).archive(u0).archive(u1);
        ar.archive(ll0).archive(ll1).archive(ull0).archive(ull1);
        for (double& x : d)
            ar.archive(x);
        ar.archive(narrow).archive(wide).archiveBytes(block, 5);
    }
};

class ArchiveRoundTrip : public ::testing::TestWithParam<int32_t> {};

// What is loaded stores to the same bytes: every field came back bit for bit.
TEST_P(ArchiveRoundTrip, EveryPrimitiveComesBackUnchanged)
{
    AllValues stored;
    stored.edges();
    const Bytes all = storeAll(GetParam(), false, [&](ccArchive& ar) { stored.archive(ar); });

    AllValues loaded;
    Loader l(all);
    EXPECT_EQ(l.ar().byteOrder(), GetParam());
    loaded.archive(l.ar());
    unsigned char extra = 0;
    EXPECT_THROW(l.ar().archive(extra), ccArchive::Eof); // everything consumed

    EXPECT_EQ(storeAll(GetParam(), false, [&](ccArchive& ar) { loaded.archive(ar); }), all);
    EXPECT_EQ(loaded.ll0, stored.ll0);
    EXPECT_EQ(loaded.wide, stored.wide);
    EXPECT_NE(storeAll(GetParam(), false, [](ccArchive& ar) { AllValues().archive(ar); }), all);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, ArchiveRoundTrip, ::testing::Values(kLittle, kBig),
                         [](const ::testing::TestParamInfo<int32_t>& i) {
                             return std::string(i.param == kLittle ? "Little" : "Big");
                         });

// ---------------------------------------------------------------- strings

Bytes storeNarrow(std::string s, int32_t order = kLittle)
{
    return store(order, [&](ccArchive& ar) { ar.archive(s); });
}
Bytes storeWide(std::wstring s, int32_t order = kLittle)
{
    return store(order, [&](ccArchive& ar) { ar.archive(s); });
}

TEST(ArchiveStrings, StoredFormsMatchTheFormat)
{
    EXPECT_EQ(storeWide(L"abc"), (Bytes{0x03, 0xFF, 0xFE, 0x61, 0x00, 0x62, 0x00, 0x63, 0x00, 0xFF, 0xFE}));
    EXPECT_EQ(storeNarrow("abc"), (Bytes{0x03, 0x22, 0x61, 0x62, 0x63, 0x22}));
    EXPECT_EQ(storeNarrow(""), (Bytes{0x00, 0x22, 0x22}));
    EXPECT_EQ(storeWide(L""), (Bytes{0x00, 0xFF, 0xFE, 0xFF, 0xFE}));
    // Bodies ignore the archive's byte order.
    EXPECT_EQ(storeWide(L"abc", kBig), storeWide(L"abc", kLittle));
    // A supplementary character is two code units, and counts as two.
    std::wstring face(1, wchar_t(0x1F600));
    EXPECT_EQ(storeWide(face), (Bytes{0x02, 0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE, 0xFF, 0xFE}));
}

TEST(ArchiveStrings, LengthPrefixSwitchesToTwoBytesAt128)
{
    Bytes n127 = storeNarrow(std::string(127, 'x'));
    EXPECT_EQ(n127[0], 0x7F);
    EXPECT_EQ(n127[1], 0x22);
    Bytes n128 = storeNarrow(std::string(128, 'x'));
    EXPECT_EQ((Bytes{n128[0], n128[1], n128[2]}), (Bytes{0x80, 0x80, 0x22}));
    Bytes n200 = storeNarrow(std::string(200, 'x'));
    EXPECT_EQ((Bytes{n200[0], n200[1]}), (Bytes{0x80, 0xC8}));
    EXPECT_EQ(n200.size(), 2u + 1 + 200 + 1);
    Bytes w200 = storeWide(std::wstring(200, L'x'));
    EXPECT_EQ((Bytes{w200[0], w200[1], w200[2], w200[3]}), (Bytes{0x80, 0xC8, 0xFF, 0xFE}));
    EXPECT_EQ(w200.size(), 2u + 2 + 400 + 2);
}

TEST(ArchiveStrings, LongestStringsRoundTrip)
{
    std::string narrow(32767, 'n');
    narrow[32766] = 'e';
    std::wstring wide(32765, L'w');
    wide += wchar_t(0x10437); // the last two units are a pair
    Bytes all = storeAll(kLittle, false, [&](ccArchive& ar) { ar.archive(narrow).archive(wide); });
    EXPECT_EQ((Bytes{all[2], all[3]}), (Bytes{0xFF, 0xFF}));
    Loader l(all);
    std::string n;
    std::wstring w;
    l.ar().archive(n).archive(w);
    EXPECT_EQ(n, narrow);
    EXPECT_EQ(w, wide);
}

TEST(ArchiveStrings, TooLongIsRefusedBeforeAnythingIsWritten)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::storing, kLittle, false);
    ar.archiveHeader();
    std::string narrow(32768, 'n');
    EXPECT_THROW(ar.archive(narrow), ccArchive::BadBuffer);
    // 16384 characters, but 32768 UTF-16 units.
    std::wstring wide(16384, wchar_t(0x1F600));
    EXPECT_THROW(ar.archive(wide), ccArchive::BadBuffer);
    EXPECT_EQ(sb.str().size(), 2u);
}

TEST(ArchiveStrings, LoadingAcceptsEitherBodyForm)
{
    const Bytes bigWide = {0x03, 0xFE, 0xFF, 0x00, 0x61, 0x00, 0x62, 0x00, 0x63, 0xFE, 0xFF};
    const Bytes narrowAbc = {0x03, 0x22, 0x61, 0x62, 0x63, 0x22};
    const Bytes littleWide = {0x03, 0xFF, 0xFE, 0x61, 0x00, 0x62, 0x00, 0x63, 0x00, 0xFF, 0xFE};
    EXPECT_EQ(loadOne<std::wstring>(bigWide), L"abc");
    EXPECT_EQ(loadOne<std::wstring>(narrowAbc), L"abc");
    EXPECT_EQ(loadOne<std::string>(littleWide), "abc");
    EXPECT_EQ(loadOne<std::string>(bigWide), "abc");
    // A big-endian surrogate pair.
    EXPECT_EQ(loadOne<std::wstring>({0x02, 0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00, 0xFE, 0xFF}),
              std::wstring(1, wchar_t(0x1F600)));
    // An unpaired surrogate in a body.
    EXPECT_EQ(loadOne<std::wstring>({0x02, 0xFF, 0xFE, 0x3D, 0xD8, 0x41, 0x00, 0xFF, 0xFE}),
              (std::wstring{wchar_t(0xFFFD), L'A'}));
}

TEST(ArchiveStrings, KindsConvertByteForByte)
{
    // Narrow bytes widen by zero extension.
    EXPECT_EQ(loadOne<std::wstring>({0x02, 0x22, 0xE9, 0xFF, 0x22}), (std::wstring{wchar_t(0xE9), wchar_t(0xFF)}));
    // Wide to narrow: up to U+00FF exact, beyond '?' (a pair is one character).
    EXPECT_EQ(loadOne<std::string>({0x05, 0xFF, 0xFE, 0x41, 0x00, 0xE9, 0x00, 0x00, 0x01, 0x3D, 0xD8, 0x00, 0xDE,
                                    0xFF, 0xFE}),
              "A\xE9??");
}

TEST(ArchiveStrings, BadMarksAreBadType)
{
    // Opening marks that are neither form.
    EXPECT_THROW(loadOne<std::string>({0x01, 0xFF, 0x00, 0x41, 0x00, 0xFF, 0x00}), ccArchive::BadType);
    EXPECT_THROW(loadOne<std::wstring>({0x01, 0x41, 0x42, 0x43, 0x00}), ccArchive::BadType);
    EXPECT_THROW(loadOne<std::wstring>({0x00, 0xFE, 0xFE}), ccArchive::BadType);
    // A narrow body not followed by '"'.
    EXPECT_THROW(loadOne<std::string>({0x01, 0x22, 0x41, 0x27}), ccArchive::BadType);
    // A wide body closed by the other order's mark.
    EXPECT_THROW(loadOne<std::wstring>({0x01, 0xFE, 0xFF, 0x00, 0x41, 0xFF, 0xFE}), ccArchive::BadType);
    EXPECT_THROW(loadOne<std::wstring>({0x01, 0xFF, 0xFE, 0x41, 0x00, 0xFE, 0xFF}), ccArchive::BadType);
}

// ---------------------------------------------------------------- truncation

TEST(ArchiveTruncation, NumbersEndingEarlyAreEof)
{
    EXPECT_THROW(loadOne<uint32_t>({0x01, 0x02, 0x03}), ccArchive::Eof);
    EXPECT_THROW(loadOne<long long>({1, 2, 3, 4, 5, 6, 7}), ccArchive::Eof);
    EXPECT_THROW(loadOne<unsigned char>({}), ccArchive::Eof);
}

TEST(ArchiveTruncation, StringsEndingEarly)
{
    // Length, its second byte, the mark and its second byte: primitives, Eof.
    EXPECT_THROW(loadOne<std::string>({}), ccArchive::Eof);
    EXPECT_THROW(loadOne<std::string>({0x80}), ccArchive::Eof);
    EXPECT_THROW(loadOne<std::string>({0x03}), ccArchive::Eof);
    EXPECT_THROW(loadOne<std::wstring>({0x03, 0xFF}), ccArchive::Eof);
    // A body longer than what remains comes back short.
    EXPECT_THROW(loadOne<std::string>({0x03, 0x22, 0x61, 0x62}), ccArchive::BadBuffer);
    EXPECT_THROW(loadOne<std::string>({0xFF, 0xFF, 0x22, 0x61}), ccArchive::BadBuffer);
    EXPECT_THROW(loadOne<std::wstring>({0x02, 0xFF, 0xFE, 0x61, 0x00, 0x62}), ccArchive::BadBuffer);
    EXPECT_THROW(loadOne<std::string>({0xFF, 0xFF, 0xFE, 0xFF, 0x00}), ccArchive::BadBuffer);
    // The closing mark: narrow as a primitive, wide as a block.
    EXPECT_THROW(loadOne<std::string>({0x01, 0x22, 0x61}), ccArchive::Eof);
    EXPECT_THROW(loadOne<std::wstring>({0x01, 0xFF, 0xFE, 0x61, 0x00, 0xFF}), ccArchive::BadBuffer);
}

TEST(ArchiveTruncation, RawBlocks)
{
    Loader l(Loader::framed({1, 2, 3}));
    unsigned char out[4] = {9, 9, 9, 9};
    EXPECT_THROW(l.ar().archiveBytes(out, 4), ccArchive::Eof);
    Loader m(Loader::framed({1, 2, 3}));
    EXPECT_THROW(m.ar().archiveBytes(out, -1), ccArchive::BadBuffer);
    m.ar().archiveBytes(out, 0);
    m.ar().archiveBytes(out, 3);
    EXPECT_EQ((Bytes{out[0], out[1], out[2], out[3]}), (Bytes{1, 2, 3, 9}));
}

TEST(ArchiveWrites, RefusedWritesAreBadBuffer)
{
    // Each write into a buffer that refuses everything past limit bytes.
    auto refused = [](size_t limit, auto write) {
        LimitedBuf buf(limit);
        ccArchive ar(&buf, ccArchive::storing, kLittle, false);
        if (limit < 2)
            return write(ar);
        ar.archiveHeader();
        write(ar);
    };
    // The header goes through; the number's third byte is refused.
    EXPECT_THROW(refused(2 + 2, [](ccArchive& ar) { uint32_t v = 0x12345678; ar.archive(v); }),
                 ccArchive::BadBuffer);
    EXPECT_THROW(refused(5, [](ccArchive& ar) { unsigned char raw[4] = {}; ar.archiveBytes(raw, 4); }),
                 ccArchive::BadBuffer);
    // Everything but the closing mark fits.
    EXPECT_THROW(refused(2 + 1 + 1 + 3, [](ccArchive& ar) { std::string abc = "abc"; ar.archive(abc); }),
                 ccArchive::BadBuffer);
    EXPECT_THROW(refused(1, [](ccArchive& ar) { ar.archiveHeader(); }), ccArchive::BadBuffer);
}

// ---------------------------------------------------------------- memory archives

TEST(MemoryArchive, SizeMustDescribeTheBlock)
{
    const char data[] = {0x02, 0x01, 0x00};
    EXPECT_THROW(ccMemoryArchive(data, -1, false, false), ccArchive::BadBuffer);
    EXPECT_THROW(ccMemoryArchive(data, std::numeric_limits<int32_t>::min(), false, false), ccArchive::BadBuffer);
    EXPECT_THROW(ccMemoryArchive(nullptr, 4, false, false), ccArchive::BadBuffer);
    // 0 is an empty block, not a zero-terminated one.
    EXPECT_THROW(ccMemoryArchive(data, 0, false, false), ccArchive::Eof);
    EXPECT_THROW(ccMemoryArchive(nullptr, 0, false, false), ccArchive::Eof);
}

// The leak checker reports any owned block that is not freed.
TEST(MemoryArchive, OwnedBlockIsFreedOnEveryPath)
{
    auto block = [](std::initializer_list<unsigned char> b) {
        char* p = new char[b.size()];
        std::copy(b.begin(), b.end(), p);
        return p;
    };
    {
        ccMemoryArchive ok(block({0x02, 0x01, 0x07}), 3, false, true);
        unsigned char v = 0;
        ok.archive(v);
        EXPECT_EQ(v, 7);
    }
    EXPECT_THROW(ccMemoryArchive(block({0x03, 0x01}), 2, false, true), ccArchive::BadType);
    EXPECT_THROW(ccMemoryArchive(block({0x02}), 1, false, true), ccArchive::Eof);
    EXPECT_THROW(ccMemoryArchive(block({0x02, 0x01}), -2, false, true), ccArchive::BadBuffer);
}

TEST(MemoryArchive, ReadOnlyBufferStaysInsideItsBlock)
{
    const char data[] = {0x03, 0x01, 0x10, 0x20, 0x30, 0x40};
    cc_strstreambuf sb(data, sizeof data);
    EXPECT_EQ(std::streamoff(sb.pubseekoff(0, std::ios_base::end, std::ios_base::in)), 6);
    EXPECT_EQ(sb.sgetc(), std::streambuf::traits_type::eof());
    EXPECT_EQ(std::streamoff(sb.pubseekoff(-6, std::ios_base::cur, std::ios_base::in)), 0);
    EXPECT_EQ(std::streamoff(sb.pubseekoff(-1, std::ios_base::beg, std::ios_base::in)), -1);
    EXPECT_EQ(std::streamoff(sb.pubseekoff(7, std::ios_base::beg, std::ios_base::in)), -1);
    EXPECT_EQ(std::streamoff(sb.pubseekoff(std::numeric_limits<std::streamoff>::max(), std::ios_base::cur, std::ios_base::in)), -1);
    EXPECT_EQ(std::streamoff(sb.pubseekoff(std::numeric_limits<std::streamoff>::min(), std::ios_base::end, std::ios_base::in)), -1);
    EXPECT_EQ(std::streamoff(sb.pubseekpos(3, std::ios_base::out)), -1);
    // No put area: writes are refused.
    ccArchive writer(&sb, ccArchive::storing, kLittle, false);
    EXPECT_THROW(writer.archiveHeader(), ccArchive::BadBuffer);
    EXPECT_EQ(std::streamoff(sb.pubseekpos(5, std::ios_base::in)), 5);
    EXPECT_EQ(sb.sbumpc(), 0x40);
}

// ---------------------------------------------------------------- positioning

class ArchivePositioning : public ArchiveAlone {};

TEST_F(ArchivePositioning, NeedsTheSeekableFlag)
{
    Loader l(Loader::framed({1, 2, 3, 4, 5}));
    ccArchive& ar = l.ar();
    EXPECT_THROW(ar.seek(2), ccArchive::NotSeekable);
    EXPECT_THROW(ar.seekRelative(0, std::ios_base::cur), ccArchive::NotSeekable);
    EXPECT_THROW(ar.skip1(), ccArchive::NotSeekable);
    EXPECT_THROW(ar.skip4(), ccArchive::NotSeekable);
    EXPECT_THROW(ar.setMode(ccArchive::storing), ccArchive::NotSeekable);
    EXPECT_THROW(ar.firstRecordPosition(), ccArchive::NotSeekable);
    EXPECT_TRUE(ar.isLoading());
    EXPECT_EQ(ar.tell(), 2);
}

TEST_F(ArchivePositioning, SeekAndSkipOnALoadingArchive)
{
    Loader l({0x03, 0x01, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, true);
    ccArchive& ar = l.ar();
    unsigned char b = 0;
    ar.skip1();
    ar.archive(b);
    EXPECT_EQ(b, 1);
    ar.skip4();
    ar.archive(b);
    EXPECT_EQ(b, 6);
    ar.seek(2);
    ar.archive(b);
    EXPECT_EQ(b, 0);
    ar.seekRelative(-1, std::ios_base::end);
    ar.archive(b);
    EXPECT_EQ(b, 9);
    ar.seekRelative(3, std::ios_base::beg);
    EXPECT_EQ(ar.tell(), 3);
    ar.seekRelative(2, std::ios_base::cur);
    EXPECT_EQ(ar.tell(), 5);
    EXPECT_THROW(ar.seek(13), ccArchive::BadBuffer);
    EXPECT_THROW(ar.seek(-1), ccArchive::BadBuffer);
    EXPECT_THROW(ar.seekRelative(1, std::ios_base::end), ccArchive::BadBuffer);
    EXPECT_EQ(ar.tell(), 5); // a failed repositioning moves nothing
}

TEST_F(ArchivePositioning, HighWaterMarkRisesOnRepositioningOnly)
{
    Loader l({0x03, 0x01, 0, 1, 2, 3, 4, 5, 6, 7}, true);
    ccArchive& ar = l.ar();
    EXPECT_EQ(ar.highWaterMark(), 0);
    unsigned char raw[6];
    ar.archiveBytes(raw, 6); // at 8
    EXPECT_EQ(ar.highWaterMark(), 0);
    ar.seek(3);
    EXPECT_EQ(ar.highWaterMark(), 8);
    ar.skip1(); // from 3
    ar.seek(2); // from 4
    EXPECT_EQ(ar.highWaterMark(), 8);
    ar.seekRelative(0, std::ios_base::end);
    ar.seek(0); // from 10
    EXPECT_EQ(ar.highWaterMark(), 10);
    ar.setMode(ccArchive::loading); // from 0
    EXPECT_EQ(ar.highWaterMark(), 10);
}

TEST_F(ArchivePositioning, SetModeReadsBackWhatWasWrittenAndPatches)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::storing, kLittle, true);
    ar.archiveHeader();
    uint32_t a = 0xAAAAAAAA, b = 0xBBBBBBBB, c = 0xCCCCCCCC;
    ar.archive(a).archive(b).archive(c); // 2..14
    ar.seek(2);
    uint32_t patch = 0x11111111;
    ar.archive(patch); // now at 6
    EXPECT_EQ(ar.highWaterMark(), 14);

    ar.setMode(ccArchive::loading);
    EXPECT_TRUE(ar.isLoading());
    EXPECT_EQ(ar.tell(), 6);
    uint32_t v = 0;
    ar.archive(v);
    EXPECT_EQ(v, 0xBBBBBBBBu);
    ar.archive(v); // beyond the patch, up to the mark
    EXPECT_EQ(v, 0xCCCCCCCCu);
    EXPECT_THROW(ar.archive(v), ccArchive::Eof);
    ar.seek(2);
    ar.archive(v);
    EXPECT_EQ(v, 0x11111111u);

    ar.setMode(ccArchive::storing); // at 6
    EXPECT_TRUE(ar.isStoring());
    uint32_t second = 0x22222222;
    ar.archive(second);
    ar.setMode(ccArchive::loading);
    ar.archive(v);
    EXPECT_EQ(v, 0xCCCCCCCCu);
    EXPECT_EQ(bytesOf(sb.str()), (Bytes{0x03, 0x01, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22, 0xCC, 0xCC,
                                        0xCC, 0xCC}));
}

TEST_F(ArchivePositioning, LoadingMemoryArchiveCanOnlySwitchToLoading)
{
    Loader l({0x03, 0x01, 7}, true);
    l.ar().setMode(ccArchive::loading);
    EXPECT_EQ(l.ar().tell(), 2);
    // No put side: the switch to storing cannot position it.
    EXPECT_THROW(l.ar().setMode(ccArchive::storing), ccArchive::BadBuffer);
}

// ---------------------------------------------------------------- object table

// Records the calls an archive makes into its object table.
class RecordingTable : public ccArchiveObjectTable {
public:
    static std::vector<std::string> calls;
    static bool failFinish;
    explicit RecordingTable(ccArchive& ar) : ar_(ar) {}
    void setUpDirectory() override { calls.push_back("setUp at " + std::to_string(ar_.tell())); }
    void finishDirectory() override
    {
        calls.push_back("finish");
        if (failFinish)
            throw ccArchive::BadBuffer("table", 1);
    }
    int64_t firstRecordPosition() override
    {
        calls.push_back("first");
        return 42;
    }
    static std::unique_ptr<ccArchiveObjectTable> make(ccArchive& ar)
    {
        calls.push_back("made");
        return std::unique_ptr<ccArchiveObjectTable>(new RecordingTable(ar));
    }

private:
    ccArchive& ar_;
};
std::vector<std::string> RecordingTable::calls;
bool RecordingTable::failFinish = false;

class ArchiveObjectTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        RecordingTable::calls.clear();
        RecordingTable::failFinish = false;
        previous_ = ccSetArchiveObjectTableFactory(&RecordingTable::make);
    }
    void TearDown() override { ccSetArchiveObjectTableFactory(previous_); }
    typedef std::vector<std::string> Calls;

private:
    ccArchiveObjectTableFactory previous_ = nullptr;
};

TEST_F(ArchiveObjectTable, SeekableHeaderSetsUpTheDirectoryAfterTheHeader)
{
    {
        Loader l({0x03, 0x01}, true);
        EXPECT_NE(l.ar().objectTable(), nullptr);
        EXPECT_EQ(RecordingTable::calls, (Calls{"made", "setUp at 2"}));
    }
    // The memory archive flushes on destruction.
    EXPECT_EQ(RecordingTable::calls, (Calls{"made", "setUp at 2", "finish"}));

    RecordingTable::calls.clear();
    storeAll(kLittle, true, [](ccArchive&) {});
    EXPECT_EQ(RecordingTable::calls, (Calls{"made", "setUp at 2"}));

    RecordingTable::calls.clear();
    storeAll(kLittle, false, [](ccArchive&) {});
    EXPECT_EQ(RecordingTable::calls, (Calls{"made"}));
}

TEST_F(ArchiveObjectTable, FlushSwallowsArchiveErrorsAndFirstRecordAsksTheTable)
{
    Loader l({0x03, 0x01}, true);
    RecordingTable::failFinish = true;
    l.ar().flush();
    EXPECT_EQ(l.ar().firstRecordPosition(), 42);
    EXPECT_EQ(RecordingTable::calls, (Calls{"made", "setUp at 2", "finish", "first"}));
}

TEST(ArchiveWithoutTable, FirstRecordPositionIsAnInvariantFailure)
{
    ccArchiveObjectTableFactory previous = ccSetArchiveObjectTableFactory(nullptr);
    {
        Loader l({0x03, 0x01}, true);
        EXPECT_EQ(l.ar().objectTable(), nullptr);
        l.ar().flush();
        EXPECT_THROW(l.ar().firstRecordPosition(), ccInvariantFailure);
    }
    ccSetArchiveObjectTableFactory(previous);
}

// ---------------------------------------------------------------- errors

template <class E>
void expectErrorClass(uint32_t code, const char* name)
{
    SCOPED_TRACE(name);
    E e("archive", 12);
    EXPECT_EQ(e.code(), code);
    EXPECT_EQ(std::string(e.storedTypeName()), std::string("class ") + name);
    ccPersistentFactory f = ccFindFactory(e.storedTypeName());
    ASSERT_NE(f, nullptr);
    ccException* made = dynamic_cast<ccException*>(f());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->code(), code);
    try {
        made->raise(); // deletes made
        ADD_FAILURE() << "raise returned";
    } catch (const ccArchive::Errors& caught) {
        EXPECT_NE(dynamic_cast<const E*>(&caught), nullptr);
    }
}

TEST(ArchiveErrors, CodesNamesAndRegisteredFactories)
{
    ccStdExceptStartup();
    expectErrorClass<ccArchive::Eof>(0x10000100u, "ccArchive::Eof");
    expectErrorClass<ccArchive::BadBuffer>(0x10000101u, "ccArchive::BadBuffer");
    expectErrorClass<ccArchive::BadType>(0x10000102u, "ccArchive::BadType");
    expectErrorClass<ccArchive::BadContent>(0x10000103u, "ccArchive::BadContent");
    expectErrorClass<ccArchive::NotFound>(0x10000104u, "ccArchive::NotFound");
    expectErrorClass<ccArchive::Duplicate>(0x10000105u, "ccArchive::Duplicate");
    expectErrorClass<ccArchive::UnknownType>(0x10000106u, "ccArchive::UnknownType");
    expectErrorClass<ccArchive::UnknownVersion>(0x10000107u, "ccArchive::UnknownVersion");
    expectErrorClass<ccArchive::BadFile>(0x10000109u, "ccArchive::BadFile");
    expectErrorClass<ccArchive::UnknownArchiveVersion>(0x1000010Au, "ccArchive::UnknownArchiveVersion");
    expectErrorClass<ccArchive::CannotWriteToOldArchive>(0x1000010Bu, "ccArchive::CannotWriteToOldArchive");
    expectErrorClass<ccArchive::NotSeekable>(0x1000010Cu, "ccArchive::NotSeekable");
}

TEST(ArchiveErrors, Messages)
{
    EXPECT_EQ(ccArchive::Eof("archive", 212).message(), L"thrown from file: archive, line: 212");
    EXPECT_EQ(ccArchive::Eof("ccArchive::Eof", 0).message(), L"ccArchive::Eof");
    EXPECT_EQ(ccArchive::Eof().message(), L"no further information provided");
    EXPECT_EQ(ccArchive::Eof("", 9).message(), L"no further information provided");
    EXPECT_EQ(ccArchive::BadType("archive", 7).message(true), L"ccArchive::BadType: thrown from file: archive, line: 7");
    EXPECT_EQ(ccArchive::UnknownType("archutil", 5, "ccThing").message(),
              L"ccThing; thrown from file: archutil, line: 5");
    EXPECT_EQ(ccArchive::UnknownType("archutil", 0, "ccThing").message(),
              L"ccThing; thrown from file: archutil, line: 0");
    EXPECT_EQ(ccArchive::UnknownType("", 5, "ccThing").message(), L"ccThing");
}

// Stores e, then loads a factory-made object of its class from the bytes.
template <class E>
std::unique_ptr<E> throughArchive(E& e, Bytes* bytesOut = nullptr)
{
    Bytes all = storeAll(kBig, false, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); });
    if (bytesOut)
        *bytesOut = Bytes(all.begin() + 2, all.end());
    std::unique_ptr<E> loaded(dynamic_cast<E*>(E::cmCreate()));
    Loader l(all);
    ccArchiveObject(*loaded, l.ar(), true);
    return loaded;
}

TEST(ArchiveErrors, ArchiveFileAndLineButNotTheTypeName)
{
    ccArchive::NotSeekable e("archive", 0x01020304);
    Bytes bytes;
    std::unique_ptr<ccArchive::NotSeekable> loaded = throughArchive(e, &bytes);
    EXPECT_EQ(loaded->file(), L"archive");
    EXPECT_EQ(loaded->line(), 0x01020304u);
    // Leaf and Errors version bytes lead; the file name and line close.
    const Bytes tail = {0x07, 0xFF, 0xFE, 'a', 0, 'r', 0, 'c', 0, 'h', 0, 'i', 0, 'v', 0, 'e', 0, 0xFF, 0xFE,
                        0x01, 0x02, 0x03, 0x04};
    ASSERT_GT(bytes.size(), tail.size() + 2);
    EXPECT_EQ((Bytes{bytes[0], bytes[1]}), (Bytes{0, 0}));
    EXPECT_EQ(Bytes(bytes.end() - tail.size(), bytes.end()), tail);

    ccArchive::UnknownType u("archutil", 3, "ccThing");
    std::unique_ptr<ccArchive::UnknownType> back = throughArchive(u);
    EXPECT_EQ(back->typeName(), "");
    EXPECT_EQ(back->file(), L"archutil");
    EXPECT_EQ(back->line(), 3u);
}

TEST(ArchiveErrors, NewerVersionNamesTheLevel)
{
    ccArchive::Eof e("archive", 1);
    Bytes bytes;
    throughArchive(e, &bytes);
    Bytes leaf = bytes;
    leaf[0] = 1;
    ccArchive::Eof target;
    Loader l(Loader::framed(leaf, kBig));
    try {
        ccArchiveObject(target, l.ar(), false);
        ADD_FAILURE() << "no error";
    } catch (const ccArchive::UnknownVersion& v) {
        EXPECT_EQ(v.file(), L"ccArchive::Eof");
        EXPECT_EQ(v.line(), 0u);
    }
    Bytes level = bytes;
    level[1] = 1;
    Loader m(Loader::framed(level, kBig));
    try {
        ccArchiveObject(target, m.ar(), false);
        ADD_FAILURE() << "no error";
    } catch (const ccArchive::UnknownVersion& v) {
        EXPECT_EQ(v.file(), L"archive");
        EXPECT_NE(v.line(), 0u);
    }
}

} // namespace
