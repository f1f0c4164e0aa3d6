#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "std/except/archive.h"
#include "std/except/internal/archive_tables.h"
#include "std/except/persist.h"
#include "std/except/utf16.h"
#include "tests/std/except/archive_support.h"

namespace {

using namespace archive_support;

// The archive on its own: without an object table, a seekable archive has no
// record directory after its header.
class ArchiveAlone : public ::testing::Test {
protected:
    void SetUp() override { previous_ = ccSetArchiveObjectTableFactory(nullptr); }
    void TearDown() override { ccSetArchiveObjectTableFactory(previous_); }

private:
    ccArchiveObjectTableFactory previous_ = nullptr;
};

// ---------------------------------------------------------------- the byte table

enum class Op { Header, SeekableHeader, Bool, I16, U32, U64, Narrow, Wide, Block3, NegativeBlock };

// Integers in number (a header by its version), text
// in text (narrow text and blocks one character a byte).
struct Value {
    Value(long long n = 0, const std::wstring& t = {}) : number(n), text(t) {}
    long long number;
    std::wstring text;
};

template <class T>
void number(ccArchive& ar, Value& v)
{
    T x = static_cast<T>(v.number); // a load overwrites it
    ar.archive(x);
    v.number = static_cast<long long>(x);
}

// One routine for both directions, as the archive's own.
void transfer(ccArchive& ar, Op op, Value& v)
{
    switch (op) {
    case Op::Header:
    case Op::SeekableHeader: v.number = ar.version(); break;
    case Op::Bool: {
        // A load only writes its destination, which may hold no valid bool
        // yet: here storage whose byte is 0x7F. Reading it would be caught by
        // the UndefinedBehaviorSanitizer build.
        alignas(bool) unsigned char storage[sizeof(bool)] = {0x7F};
        bool* b = new (storage) bool; // default-initialised: the byte stays
        if (ar.isStoring())
            *b = v.number != 0;
        ar.archive(*b);
        v.number = *b;
        break;
    }
    case Op::I16: number<short>(ar, v); break;
    case Op::U32: number<uint32_t>(ar, v); break;
    case Op::U64: number<unsigned long long>(ar, v); break;
    case Op::Narrow: {
        std::string s(v.text.begin(), v.text.end());
        ar.archive(s);
        v.text = ccWidenBytes(s);
        break;
    }
    case Op::Wide: ar.archive(v.text); break;
    case Op::Block3: {
        unsigned char b[4] = {9, 9, 9, 9};
        std::copy(v.text.begin(), v.text.end(), b);
        ar.archiveBytes(b, 3);
        EXPECT_EQ(b[3], 9); // nothing past the block
        v.text = ccWidenBytes(std::string(b, b + 3));
        break;
    }
    case Op::NegativeBlock: ar.archiveBytes(&v, -1); break;
    }
}

struct Row {
    const char* name;
    Op op;
    Bytes body;          // after the header, little-endian; a header row's whole stream
    Value value;         // what loads
    bool golden = false; // storing the value gives the body
    uint32_t error = 0;  // or what the load raises
};

// n little-endian units of 'w'.
Bytes wideBody(size_t n)
{
    Bytes out(2 * n, 0);
    for (size_t i = 0; i < n; ++i)
        out[2 * i] = 'w';
    return out;
}

constexpr uint32_t kEof = ccArchive::Eof::kCode, kBadBuffer = ccArchive::BadBuffer::kCode,
                   kBadType = ccArchive::BadType::kCode;
const bool G = true; // golden

const Row kRows[] = {
    // The first byte: the seekable bit, checked before the version above it.
    {"HeaderLittle", Op::Header, {0x02, 0x01}, {1}, G},
    {"HeaderSeekable", Op::SeekableHeader, {0x03, 0x01}, {1}, G},
    {"HeaderSeekableBitAndVersion2", Op::Header, {0x05, 0x01}, {}, false, kBadType},
    {"HeaderVersion127", Op::SeekableHeader, {0xFF, 0x01}, {}, false, ccArchive::UnknownArchiveVersion::kCode},
    {"HeaderOrder0x81", Op::Header, {0x02, 0x81}, {}, false, kBadBuffer},
    {"HeaderShort", Op::Header, {0x02}, {}, false, kEof},
    // Numbers; big-endian rows are these reversed.
    {"BoolTrue", Op::Bool, {0x01}, {1}, G},
    {"ShortMin", Op::I16, {0x00, 0x80}, {-32768}, G},
    {"UInt32", Op::U32, {0x78, 0x56, 0x34, 0x12}, {0x12345678}, G},
    {"UInt64HighBit", Op::U64, {7, 6, 5, 4, 3, 2, 1, 0x80}, {static_cast<long long>(0x8001020304050607ULL)}, G},
    {"Block", Op::Block3, {0x00, 0xFE, 0xFF}, {0, {0x00, 0xFE, 0xFF}}, G},
    // Strings: length (two bytes from 128, bit 15 set), mark, body, mark;
    // bodies ignore the byte order.
    {"NarrowAnyByte", Op::Narrow, {0x05, 0x22, 'a', 0x00, 0xFF, 0x22, 'z', 0x22}, {0, std::wstring(L"a\0\xFF\"z", 5)}, G},
    {"Narrow128", Op::Narrow, cat({{0x80, 0x80, 0x22}, Bytes(128, 'x'), {0x22}}), {0, std::wstring(128, L'x')}, G},
    {"WideLongestPairLast", Op::Wide, cat({{0xFF, 0xFF, 0xFF, 0xFE}, wideBody(32765), {1, 0xD8, 0x37, 0xDC, 0xFF, 0xFE}}),
     {0, std::wstring(32765, L'w') + wchar_t(0x10437)}, G},
    // Loading takes either body form for either kind; a wide body narrows
    // up to U+00FF exactly, beyond as '?' (a pair is one character).
    {"BigEndianBodyAsWide", Op::Wide, {0x03, 0xFE, 0xFF, 0, 'a', 0, 'b', 0, 'c', 0xFE, 0xFF}, {0, L"abc"}},
    {"WideBodyNarrowsByteForByte", Op::Narrow,
     {0x05, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0x00, 0x01, 0x3D, 0xD8, 0x00, 0xDE, 0xFF, 0xFE}, {0, L"A\xE9??"}},
    // Marks that are neither form; closing marks that differ from the opening one.
    {"BadOpeningMark", Op::Narrow, {0x01, 0xFF, 0x00, 'A', 0, 0xFF, 0x00}, {}, false, kBadType},
    {"NarrowBadClosingMark", Op::Narrow, {0x01, 0x22, 'A', 0x27}, {}, false, kBadType},
    {"WideClosingMarkHalfRight", Op::Wide, {0x01, 0xFF, 0xFE, 'A', 0, 0xFF, 0xFF}, {}, false, kBadType},
    // Truncation: a primitive ending early is Eof, a string body or a wide
    // closing mark coming back short BadBuffer.
    {"UInt32Short", Op::U32, {0x01, 0x02, 0x03}, {}, false, kEof},
    {"NegativeBlock", Op::NegativeBlock, {1, 2, 3}, {}, false, kBadBuffer},
    {"WideLongestBodyShort", Op::Narrow, {0xFF, 0xFF, 0xFE, 0xFF, 0x00}, {}, false, kBadBuffer},
    {"WideClosingMarkShort", Op::Wide, {0x01, 0xFF, 0xFE, 'a', 0, 0xFF}, {}, false, kBadBuffer},
};

// Every row in both byte orders and in unseekable and seekable archives; a
// header row brings its own header.
class ArchiveBytes : public ArchiveAlone, public ::testing::WithParamInterface<Row> {};

TEST_P(ArchiveBytes, LoadAndStore)
{
    const Row& r = GetParam();
    const bool header = r.op == Op::Header || r.op == Op::SeekableHeader;
    for (int32_t order : {kLittle, int32_t(ccArchive::bigEndian)}) {
        for (bool seekable : {false, true}) {
            if (header && (order != kLittle || seekable != (r.op == Op::SeekableHeader)))
                continue;
            SCOPED_TRACE(testing::Message() << "order " << order << " seekable " << seekable);
            Bytes body = r.body;
            if (order != kLittle && r.op >= Op::I16 && r.op <= Op::U64)
                std::reverse(body.begin(), body.end());
            const Bytes all = header ? body : cat({{uint8_t(seekable ? 0x03 : 0x02), uint8_t(order)}, body});
            try {
                Loader l(all, seekable);
                Value v;
                transfer(l.ar(), r.op, v);
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(v.number, r.value.number);
                EXPECT_EQ(v.text, r.value.text);
                unsigned char extra = 0;
                if (!header) {
                    EXPECT_THROW(l.ar().archive(extra), ccArchive::Eof); // everything consumed
                }
            } catch (const ccArchive::Errors& e) {
                EXPECT_EQ(e.code(), r.error);
                EXPECT_EQ(e.file(), L"archive");
            }
            if (r.golden) {
                Value v = r.value;
                EXPECT_EQ(storeAll(all[1], seekable, [&](ccArchive& ar) { transfer(ar, r.op, v); }), all);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ArchiveBytes, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& i) { return std::string(i.param.name); });

// Too long for the format, refused before anything is written: 32768 bytes,
// or 16384 characters that are 32768 UTF-16 units.
TEST(ArchiveWrites, TooLongStringsAreRefused)
{
    std::string narrow(32768, 'n');
    std::wstring wide(16384, wchar_t(0x1F600));
    EXPECT_EQ(storeAll(kLittle, false, [&](ccArchive& ar) {
                  EXPECT_THROW(ar.archive(narrow), ccArchive::BadBuffer);
                  EXPECT_THROW(ar.archive(wide), ccArchive::BadBuffer);
              }),
              (Bytes{0x02, 0x01}));
}

// ---------------------------------------------------------------- memory archives

// The size must describe the block; the leak checker reports any owned
// block that is not freed, on any path. Reads past the block are the byte
// table's (over exact heap copies).
TEST(MemoryArchive, SizeMustDescribeTheBlockAndAnOwnedBlockIsFreed)
{
    const char data[] = {0x02, 0x01, 0x00};
    // 0 is an empty block, not a zero-terminated one.
    EXPECT_THROW(ccMemoryArchive(data, 0, false, false), ccArchive::Eof);
    EXPECT_THROW(ccMemoryArchive(nullptr, 4, false, false), ccArchive::BadBuffer);
    auto block = [] { return new char[2]{0x02, 0x01}; };
    {
        ccMemoryArchive ok(block(), 2, false, true);
    }
    EXPECT_THROW(ccMemoryArchive(block(), 2, true, true), ccArchive::BadType);
    EXPECT_THROW(ccMemoryArchive(block(), -2, false, true), ccArchive::BadBuffer);
    // A seek whose sum overflows; writes, which have no put area.
    cc_strstreambuf sb(data, sizeof data);
    EXPECT_EQ(std::streamoff(sb.pubseekoff(std::numeric_limits<std::streamoff>::max(), std::ios_base::cur,
                                           std::ios_base::in)), -1);
    ccArchive writer(&sb, ccArchive::storing, kLittle, false);
    EXPECT_THROW(writer.archiveHeader(), ccArchive::BadBuffer);
    EXPECT_THROW(writer.archiveBytes(&writer, 4), ccArchive::BadBuffer);
}

// ---------------------------------------------------------------- positioning

// Only in a seekable archive; a failed repositioning moves nothing; the mark
// rises on repositioning only.
TEST_F(ArchiveAlone, SeekSkipAndTheHighWaterMark)
{
    Loader plain(Loader::framed({1}));
    EXPECT_THROW(plain.ar().seek(2), ccArchive::NotSeekable);
    EXPECT_THROW(plain.ar().setMode(ccArchive::storing), ccArchive::NotSeekable);
    EXPECT_THROW(plain.ar().firstRecordPosition(), ccArchive::NotSeekable);

    Loader l({0x03, 0x01, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, true);
    ccArchive& ar = l.ar();
    EXPECT_THROW(ar.firstRecordPosition(), ccInvariantFailure); // no table, so no first record
    ar.skip1();
    ar.skip4();
    ar.seekRelative(-1, std::ios_base::end);
    ar.seek(5); // from 11
    EXPECT_THROW(ar.seek(13), ccArchive::BadBuffer);
    EXPECT_THROW(ar.seekRelative(1, std::ios_base::end), ccArchive::BadBuffer);
    EXPECT_EQ(std::make_pair(ar.tell(), ar.highWaterMark()), std::make_pair(int64_t(5), int64_t(11)));
    // No put side: the switch to storing cannot position it.
    EXPECT_THROW(ar.setMode(ccArchive::storing), ccArchive::BadBuffer);
}

// ---------------------------------------------------------------- errors

// Their codes, factories and default forms are the error catalogue's
// (tests/grabber); here the file and line each carries.
TEST(ArchiveErrors, FileAndLineInMessagesAndArchives)
{
    EXPECT_EQ(ccArchive::Eof("archive", 212).message(), L"thrown from file: archive, line: 212");
    EXPECT_EQ(ccArchive::UnknownType("archutil", 5, "ccThing").message(), L"ccThing; thrown from file: archutil, line: 5");

    // The version bytes of the leaf, Errors, ccException and ccPersistent,
    // then the file and the line; not the type name.
    const Bytes bytes = {0, 0, 0, 0, 0x07, 0xFF, 0xFE, 'a', 0, 'r', 0, 'c', 0, 'h', 0, 'i', 0, 'v', 0, 'e', 0,
                         0xFF, 0xFE, 0x04, 0x03, 0x02, 0x01};
    ccArchive::UnknownType e("archive", 0x01020304, "ccThing");
    EXPECT_EQ(store(kLittle, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); }), bytes);
    ccArchive::UnknownType back;
    Loader l(Loader::framed(bytes));
    ccArchiveObject(back, l.ar(), false);
    EXPECT_EQ(back.message(), L"; thrown from file: archive, line: 16909060");

    // The Errors level checks its version (what the error then carries is
    // the persistence tests').
    Bytes newer = bytes;
    newer[1] = 1;
    Loader m(Loader::framed(newer));
    EXPECT_THROW(ccArchiveObject(back, m.ar(), false), ccArchive::UnknownVersion);
}

} // namespace
