#include <gtest/gtest.h>

#include <algorithm>
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

enum class Op { Header, SeekableHeader, Bool, Char, SChar, UChar, I16, U16, I32, U32, I64, U64, F64, Narrow, Wide, Block3, NegativeBlock };

// Integers in number (a double by its bits, a header by its version), text
// in text (narrow text and blocks one character a byte).
struct Value {
    Value(long long n = 0, const std::wstring& t = {}) : number(n), text(t) {}
    long long number;
    std::wstring text;
};

std::wstring widen(const unsigned char* b, size_t n) { return std::wstring(b, b + n); }

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
    case Op::Char: number<char>(ar, v); break;
    case Op::SChar: number<signed char>(ar, v); break;
    case Op::UChar: number<unsigned char>(ar, v); break;
    case Op::I16: number<short>(ar, v); break;
    case Op::U16: number<unsigned short>(ar, v); break;
    case Op::I32: number<int32_t>(ar, v); break;
    case Op::U32: number<uint32_t>(ar, v); break;
    case Op::I64: number<long long>(ar, v); break;
    case Op::U64: number<unsigned long long>(ar, v); break;
    case Op::F64: {
        double d;
        std::memcpy(&d, &v.number, sizeof d);
        ar.archive(d);
        std::memcpy(&v.number, &d, sizeof d);
        break;
    }
    case Op::Narrow: {
        std::string s(v.text.begin(), v.text.end());
        ar.archive(s);
        v.text = widen(reinterpret_cast<const unsigned char*>(s.data()), s.size());
        break;
    }
    case Op::Wide: ar.archive(v.text); break;
    case Op::Block3: {
        unsigned char b[4] = {9, 9, 9, 9};
        std::copy(v.text.begin(), v.text.end(), b);
        ar.archiveBytes(b, 3);
        EXPECT_EQ(b[3], 9); // nothing past the block
        v.text = widen(b, 3);
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

Bytes repeat(const Bytes& unit, size_t n)
{
    Bytes out;
    for (size_t i = 0; i < n; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

constexpr long long bits(unsigned long long b) { return static_cast<long long>(b); }
constexpr uint32_t kEof = ccArchive::Eof::kCode, kBadBuffer = ccArchive::BadBuffer::kCode,
                   kBadType = ccArchive::BadType::kCode, kUnknownArchiveVersion = ccArchive::UnknownArchiveVersion::kCode;
const bool G = true; // golden

const Row kRows[] = {
    // The first byte: the seekable bit, checked before the version above it.
    {"HeaderLittle", Op::Header, {0x02, 0x01}, {1}, G}, {"HeaderSeekable", Op::SeekableHeader, {0x03, 0x01}, {1}, G},
    {"HeaderSeekableVersion0", Op::SeekableHeader, {0x01, 0x01}, {0}},
    {"HeaderSeekableBitSet", Op::Header, {0x03, 0x01}, {}, false, kBadType},
    {"HeaderSeekableBitAndVersion2", Op::Header, {0x05, 0x01}, {}, false, kBadType},
    {"HeaderSeekableBitClear", Op::SeekableHeader, {0x02, 0x01}, {}, false, kBadType},
    {"HeaderSeekableVersion127", Op::SeekableHeader, {0xFF, 0x01}, {}, false, kUnknownArchiveVersion},
    {"HeaderOrder0x81", Op::Header, {0x02, 0x81}, {}, false, kBadBuffer},
    {"HeaderShort", Op::Header, {0x02}, {}, false, kEof},
    // Numbers; big-endian rows are these reversed.
    {"BoolTrue", Op::Bool, {0x01}, {1}, G}, {"BoolFalse", Op::Bool, {0x00}, {0}, G}, {"Bool0x80IsTrue", Op::Bool, {0x80}, {1}},
    {"Char", Op::Char, {0x80}, {-128}, G}, {"SignedChar", Op::SChar, {0x80}, {-128}, G},
    {"UnsignedChar", Op::UChar, {0xFF}, {255}, G}, {"ShortMin", Op::I16, {0x00, 0x80}, {-32768}, G},
    {"UnsignedShort", Op::U16, {0x34, 0x12}, {0x1234}, G},
    {"Int32Min", Op::I32, {0x00, 0x00, 0x00, 0x80}, {std::numeric_limits<int32_t>::min()}, G},
    {"UInt32", Op::U32, {0x78, 0x56, 0x34, 0x12}, {0x12345678}, G},
    {"Int64", Op::I64, {8, 7, 6, 5, 4, 3, 2, 1}, {0x0102030405060708LL}, G},
    {"UInt64HighBit", Op::U64, {1, 0, 0, 0, 0, 0, 0, 0x80}, {bits(0x8000000000000001ULL)}, G},
    {"DoubleNanKeepsItsPayload", Op::F64, {0x45, 0x23, 0x01, 0, 0, 0, 0xF0, 0x7F}, {bits(0x7FF0000000012345ULL)}, G},
    {"Block", Op::Block3, {0x00, 0xFE, 0xFF}, {0, {0x00, 0xFE, 0xFF}}, G},
    // Strings: length (two bytes from 128, bit 15 set), mark, body, mark;
    // bodies ignore the byte order.
    {"NarrowEmpty", Op::Narrow, {0x00, 0x22, 0x22}, {0, L""}, G},
    {"NarrowAnyByte", Op::Narrow, {0x05, 0x22, 'a', 0x00, 0xFF, 0x22, 'z', 0x22}, {0, std::wstring(L"a\0\xFF\"z", 5)}, G},
    {"WideEmpty", Op::Wide, {0x00, 0xFF, 0xFE, 0xFF, 0xFE}, {0, L""}, G},
    {"WideAnyCharacter", Op::Wide, {0x03, 0xFF, 0xFE, 'x', 0, 0, 0, 0xE9, 0, 0xFF, 0xFE}, {0, std::wstring(L"x\0\xE9", 3)}, G},
    {"WidePairCountsTwo", Op::Wide, {0x02, 0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE, 0xFF, 0xFE}, {0, std::wstring(1, wchar_t(0x1F600))}, G},
    {"Narrow127", Op::Narrow, cat({{0x7F, 0x22}, repeat({'x'}, 127), {0x22}}), {0, std::wstring(127, L'x')}, G},
    {"Narrow128", Op::Narrow, cat({{0x80, 0x80, 0x22}, repeat({'x'}, 128), {0x22}}), {0, std::wstring(128, L'x')}, G},
    {"NarrowLongest", Op::Narrow, cat({{0xFF, 0xFF, 0x22}, repeat({'n'}, 32767), {0x22}}),
     {0, std::wstring(32767, L'n')}, G},
    {"WideLongestEndsInAPair", Op::Wide,
     cat({{0xFF, 0xFF, 0xFF, 0xFE}, repeat({'w', 0}, 32765), {0x01, 0xD8, 0x37, 0xDC, 0xFF, 0xFE}}),
     {0, std::wstring(32765, L'w') + wchar_t(0x10437)}, G},
    // Loading takes either body form for either kind.
    {"BigEndianBodyAsWide", Op::Wide, {0x03, 0xFE, 0xFF, 0, 'a', 0, 'b', 0, 'c', 0xFE, 0xFF}, {0, L"abc"}},
    {"BigEndianBodyAsNarrow", Op::Narrow, {0x03, 0xFE, 0xFF, 0, 'a', 0, 'b', 0, 'c', 0xFE, 0xFF}, {0, L"abc"}},
    {"NarrowBodyWidensByZeroExtension", Op::Wide, {0x02, 0x22, 0xE9, 0xFF, 0x22}, {0, L"\xE9\xFF"}},
    // Up to U+00FF exact, beyond '?' (a pair is one character).
    {"WideBodyNarrowsByteForByte", Op::Narrow,
     {0x05, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0x00, 0x01, 0x3D, 0xD8, 0x00, 0xDE, 0xFF, 0xFE}, {0, L"A\xE9??"}},
    // Marks that are neither form; a wide body closed by the other order's mark.
    {"BadOpeningMark", Op::Narrow, {0x01, 0xFF, 0x00, 'A', 0, 0xFF, 0x00}, {}, false, kBadType},
    {"NoMark", Op::Wide, {0x01, 'A', 'B', 'C', 0x00}, {}, false, kBadType},
    {"NarrowBadClosingMark", Op::Narrow, {0x01, 0x22, 'A', 0x27}, {}, false, kBadType},
    {"BigBodyLittleClosingMark", Op::Wide, {0x01, 0xFE, 0xFF, 0, 'A', 0xFF, 0xFE}, {}, false, kBadType},
    {"LittleBodyBigClosingMark", Op::Wide, {0x01, 0xFF, 0xFE, 'A', 0, 0xFE, 0xFF}, {}, false, kBadType},
    // Truncation: a primitive or a raw block ending early is Eof, a string
    // body (and a wide closing mark) coming back short BadBuffer.
    {"UInt32Short", Op::U32, {0x01, 0x02, 0x03}, {}, false, kEof}, {"BlockShort", Op::Block3, {1, 2}, {}, false, kEof},
    {"NegativeBlock", Op::NegativeBlock, {1, 2, 3}, {}, false, kBadBuffer},
    {"StringLengthHalf", Op::Narrow, {0x80}, {}, false, kEof}, {"StringNoMark", Op::Narrow, {0x03}, {}, false, kEof},
    {"StringHalfAMark", Op::Wide, {0x03, 0xFF}, {}, false, kEof},
    {"NarrowBodyShort", Op::Narrow, {0x03, 0x22, 'a', 'b'}, {}, false, kBadBuffer},
    {"WideBodyShort", Op::Wide, {0x02, 0xFF, 0xFE, 'a', 0, 'b'}, {}, false, kBadBuffer},
    {"WideLongestBodyShort", Op::Narrow, {0xFF, 0xFF, 0xFE, 0xFF, 0x00}, {}, false, kBadBuffer},
    {"NarrowClosingMarkMissing", Op::Narrow, {0x01, 0x22, 'a'}, {}, false, kEof},
    {"WideClosingMarkShort", Op::Wide, {0x01, 0xFF, 0xFE, 'a', 0, 0xFF}, {}, false, kBadBuffer},
};

// Every row in both byte orders and in unseekable and seekable archives; a
// header row brings its own header.
class ArchiveBytes : public ArchiveAlone, public ::testing::WithParamInterface<Row> {};

TEST_P(ArchiveBytes, LoadAndStore)
{
    const Row& r = GetParam();
    const bool header = r.op == Op::Header || r.op == Op::SeekableHeader;
    for (int32_t order : {kLittle, kBig}) {
        for (bool seekable : {false, true}) {
            if (header && (order == kBig || seekable != (r.op == Op::SeekableHeader)))
                continue;
            SCOPED_TRACE(testing::Message() << "order " << order << " seekable " << seekable);
            Bytes body = r.body;
            if (order == kBig && r.op >= Op::I16 && r.op <= Op::F64)
                std::reverse(body.begin(), body.end());
            const Bytes all = header ? body : cat({{uint8_t(seekable ? 0x03 : 0x02), uint8_t(order)}, body});
            // A heap copy of exactly these bytes: AddressSanitizer reports any read past them.
            std::vector<char> data(all.begin(), all.end());
            try {
                ccMemoryArchive ar(data.data(), static_cast<int32_t>(data.size()), seekable, false);
                EXPECT_EQ(ar.byteOrder(), all[1]);
                Value v;
                transfer(ar, r.op, v);
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(v.number, r.value.number);
                EXPECT_EQ(v.text, r.value.text);
                unsigned char extra = 0;
                if (!header) {
                    EXPECT_THROW(ar.archive(extra), ccArchive::Eof); // everything consumed
                }
            } catch (const ccArchive::Errors& e) {
                EXPECT_EQ(e.code(), r.error);
                EXPECT_EQ(e.file(), L"archive");
                EXPECT_NE(e.line(), 0u);
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
    // Any order other than 1 is big-endian, and the header says so.
    EXPECT_EQ(storeAll(7, false, [](ccArchive&) {}), (Bytes{0x02, 0x00}));
}

// ---------------------------------------------------------------- memory archives

// The size must describe the block; the leak checker reports any owned
// block that is not freed, on any path.
TEST(MemoryArchive, SizeMustDescribeTheBlockAndAnOwnedBlockIsFreed)
{
    const char data[] = {0x02, 0x01, 0x00};
    EXPECT_THROW(ccMemoryArchive(data, std::numeric_limits<int32_t>::min(), false, false), ccArchive::BadBuffer);
    EXPECT_THROW(ccMemoryArchive(nullptr, 4, false, false), ccArchive::BadBuffer);
    // 0 is an empty block, not a zero-terminated one.
    EXPECT_THROW(ccMemoryArchive(data, 0, false, false), ccArchive::Eof);
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
    // No put area: every write is refused, byte by byte or as a block.
    ccArchive writer(&sb, ccArchive::storing, kLittle, false);
    EXPECT_THROW(writer.archiveHeader(), ccArchive::BadBuffer);
    unsigned char raw[4] = {};
    EXPECT_THROW(writer.archiveBytes(raw, 4), ccArchive::BadBuffer);
    std::wstring abc = L"abc";
    EXPECT_THROW(writer.archive(abc), ccArchive::BadBuffer);
    EXPECT_EQ(std::streamoff(sb.pubseekpos(5, std::ios_base::in)), 5);
    EXPECT_EQ(sb.sbumpc(), 0x40);
}

// ---------------------------------------------------------------- positioning

template <class T>
T readNext(ccArchive& ar)
{
    T v = 0;
    ar.archive(v);
    return v;
}

TEST_F(ArchiveAlone, PositioningNeedsTheSeekableFlag)
{
    Loader l(Loader::framed({1, 2, 3, 4, 5}));
    ccArchive& ar = l.ar();
    EXPECT_THROW(ar.seek(2), ccArchive::NotSeekable);
    EXPECT_THROW(ar.seekRelative(0, std::ios_base::cur), ccArchive::NotSeekable);
    EXPECT_THROW(ar.setMode(ccArchive::storing), ccArchive::NotSeekable);
    EXPECT_THROW(ar.firstRecordPosition(), ccArchive::NotSeekable);
    EXPECT_TRUE(ar.isLoading());
    EXPECT_EQ(ar.tell(), 2);
}

TEST_F(ArchiveAlone, SeekSkipAndTheHighWaterMarkOfALoadingArchive)
{
    Loader l({0x03, 0x01, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, true);
    ccArchive& ar = l.ar();
    EXPECT_EQ(ar.objectTable(), nullptr); // so no first record to ask for
    EXPECT_THROW(ar.firstRecordPosition(), ccInvariantFailure);
    auto next = [&] { return readNext<unsigned char>(ar); };
    ar.skip1();
    EXPECT_EQ(next(), 1);
    ar.skip4();
    EXPECT_EQ(next(), 6); // now at 9
    EXPECT_EQ(ar.highWaterMark(), 4); // the mark rises on repositioning only
    ar.seek(2);
    EXPECT_EQ(ar.highWaterMark(), 9);
    EXPECT_EQ(next(), 0);
    ar.seekRelative(-1, std::ios_base::end);
    EXPECT_EQ(next(), 9);
    ar.seek(0); // from 12
    EXPECT_EQ(ar.highWaterMark(), 12);
    ar.seekRelative(3, std::ios_base::beg);
    EXPECT_EQ(ar.tell(), 3);
    ar.seekRelative(2, std::ios_base::cur);
    EXPECT_EQ(ar.tell(), 5);
    EXPECT_THROW(ar.seek(13), ccArchive::BadBuffer);
    EXPECT_THROW(ar.seek(-1), ccArchive::BadBuffer);
    EXPECT_THROW(ar.seekRelative(1, std::ios_base::end), ccArchive::BadBuffer);
    EXPECT_EQ(ar.tell(), 5); // a failed repositioning moves nothing
    ar.setMode(ccArchive::loading);
    EXPECT_EQ(ar.tell(), 5);
    // No put side: the switch to storing cannot position it.
    EXPECT_THROW(ar.setMode(ccArchive::storing), ccArchive::BadBuffer);
    EXPECT_EQ(ar.highWaterMark(), 12);
}

TEST_F(ArchiveAlone, SetModeReadsBackWhatWasWrittenAndPatches)
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
    EXPECT_EQ(ar.tell(), 6);
    auto next = [&] { return readNext<uint32_t>(ar); };
    EXPECT_EQ(next(), 0xBBBBBBBBu);
    EXPECT_EQ(next(), 0xCCCCCCCCu); // beyond the patch, up to the mark
    EXPECT_THROW(next(), ccArchive::Eof);
    ar.seek(2);
    EXPECT_EQ(next(), 0x11111111u);

    ar.setMode(ccArchive::storing); // at 6
    uint32_t second = 0x22222222;
    ar.archive(second);
    ar.setMode(ccArchive::loading);
    EXPECT_EQ(next(), 0xCCCCCCCCu);
    EXPECT_EQ(bytesOf(sb.str()), cat({{0x03, 0x01}, Bytes(4, 0x11), Bytes(4, 0x22), Bytes(4, 0xCC)}));
}

// ---------------------------------------------------------------- the object-table hook

typedef std::vector<std::string> Calls;

// Records the calls an archive makes into its object table; its finish fails.
class RecordingTable : public ccArchiveObjectTable {
public:
    static inline Calls calls;
    explicit RecordingTable(ccArchive& ar) : ar_(ar) {}
    void setUpDirectory() override { calls.push_back("setUp at " + std::to_string(ar_.tell())); }
    void finishDirectory() override
    {
        calls.push_back("finish");
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

// The real table's directory is the object-record tests'; here what the
// archive does with any table.
TEST(ArchiveObjectTable, FlushFinishesTheDirectorySwallowingArchiveErrors)
{
    ccArchiveObjectTableFactory previous = ccSetArchiveObjectTableFactory(&RecordingTable::make);
    {
        Loader l({0x03, 0x01}, true);
        l.ar().flush();
        EXPECT_EQ(l.ar().firstRecordPosition(), 42);
    }
    // The memory archive flushes on destruction too.
    EXPECT_EQ(RecordingTable::calls, (Calls{"made", "setUp at 2", "finish", "first", "finish"}));
    ccSetArchiveObjectTableFactory(previous);
}

// ---------------------------------------------------------------- errors

// Their codes, factories and default forms are the error catalogue's
// (tests/grabber); here the file and line each carries.
TEST(ArchiveErrors, FileAndLineInMessagesAndArchives)
{
    EXPECT_EQ(ccArchive::Eof("archive", 212).message(), L"thrown from file: archive, line: 212");
    EXPECT_EQ(ccArchive::Eof("ccArchive::Eof", 0).message(), L"ccArchive::Eof");
    EXPECT_EQ(ccArchive::Eof("", 9).message(), L"no further information provided");
    EXPECT_EQ(ccArchive::BadType("archive", 7).message(true), L"ccArchive::BadType: thrown from file: archive, line: 7");
    EXPECT_EQ(ccArchive::UnknownType("archutil", 5, "ccThing").message(), L"ccThing; thrown from file: archutil, line: 5");
    EXPECT_EQ(ccArchive::UnknownType("archutil", 0, "ccThing").message(), L"ccThing; thrown from file: archutil, line: 0");
    EXPECT_EQ(ccArchive::UnknownType("", 5, "ccThing").message(), L"ccThing");

    // The version bytes of the leaf, Errors, ccException and ccPersistent,
    // then the file and the line; not the type name.
    const Bytes bytes = {0, 0, 0, 0, 0x07, 0xFF, 0xFE, 'a', 0, 'r', 0, 'c', 0, 'h', 0, 'i', 0, 'v', 0, 'e', 0,
                         0xFF, 0xFE, 0x04, 0x03, 0x02, 0x01};
    ccArchive::UnknownType e("archive", 0x01020304, "ccThing");
    EXPECT_EQ(store(kLittle, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); }), bytes);
    ccArchive::UnknownType back;
    Loader l(Loader::framed(bytes));
    ccArchiveObject(back, l.ar(), false);
    EXPECT_EQ(back.file(), L"archive");
    EXPECT_EQ(back.line(), 0x01020304u);
    EXPECT_EQ(back.typeName(), "");

    // The Errors level checks its version (what the error then carries is
    // the persistence tests').
    Bytes newer = bytes;
    newer[1] = 1;
    Loader m(Loader::framed(newer));
    EXPECT_THROW(ccArchiveObject(back, m.ar(), false), ccArchive::UnknownVersion);
}

} // namespace
