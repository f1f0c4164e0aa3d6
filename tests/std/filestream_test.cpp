#include <gtest/gtest.h>

#include <fstream>

#include <cstring>
#include <functional>
#include <locale>
#include <vector>
#include <tuple>

#include "platform/text.h"
#include "std/filestream.h"
#include "tests/support/temp_dir.h"

namespace {

using std::ios_base;

// Names are opened through their UTF-8 form, written here as the system sees it.
TEST(FileStream, OnlyTheTableModesHaveATextOpenFailuresSetFailbitAndAnyOtherNameOpensOnce)
{
    const ios_base::openmode in = ios_base::in, out = ios_base::out, trunc = ios_base::trunc, app = ios_base::app,
                             bin = ios_base::binary, ate = ios_base::ate;
    // The at-end bit is left out of the lookup; the last rows are not in the table, though the standard buffer takes
    // some of them.
    const struct { ios_base::openmode mode; const char* text; } rows[] = {
        {out | trunc, "w"}, {out | app, "a"}, {in | out, "r+"}, {in | out | app | bin | ate, "a+b"}, {in | bin, "rb"},
        {in | app, nullptr}, {out | trunc | app, nullptr}, {bin | ate, nullptr}};
    for (const auto& r : rows)
        EXPECT_STREQ(ccBasic_filebuf<char>::modeText(r.mode), r.text) << static_cast<int>(r.mode);

    TempDir dir;
    const auto write = [&](const std::wstring& name, const std::string& bytes) {
        dir.write(plat::utf8FromWide(name), bytes);
        return dir.wide() + name;
    };
    ccBasic_IFstream<char> missing(dir.wide("missing.txt"));
    EXPECT_EQ(std::pair(missing.fail(), missing.is_open()), std::pair(true, false));
    // Not in the table; cut at a 0; a lone surrogate has no UTF-8 form: it would have named "\uFFFD".
    write(L"\uFFFD", "x");
    const std::wstring p = write(L"f.txt", "one "), lone = dir.wide() + wchar_t(0xD800);
    for (const std::wstring& name : {p, p + std::wstring(1, L'\0') + L"more", lone})
        EXPECT_FALSE(ccBasic_IFstream<char>(name, name == p ? ios_base::app : ios_base::in).is_open());
    ccBasic_IFstream<char> named(write(L"cam\u00e9ra \u65e5\u672c \U0001F600.txt", "12 34"));
    int a = 0, b = 0;
    named >> a >> b;
    EXPECT_EQ(std::tuple(a, b), std::tuple(12, 34));

    // The buffer opens once and writes with the table mode.
    ccBasic_filebuf<char> buf;
    ASSERT_EQ(buf.open(p, ios_base::out | ios_base::app), &buf);
    EXPECT_EQ(buf.open(p, ios_base::in), nullptr);
    buf.sputn("two", 3);
    ASSERT_NE(buf.close(), nullptr);
    EXPECT_EQ(dir.read("f.txt"), "one two");
}

// Bytes shifted by one on the way to the file.
struct ShiftByOne : std::codecvt<char, char, std::mbstate_t> {
    bool do_always_noconv() const noexcept override { return false; }
    int do_encoding() const noexcept override { return 1; }
    result do_out(state_type&, const char* from, const char* end, const char*& next, char* to, char* limit,
                  char*& toNext) const override
    {
        for (next = from, toNext = to; next != end && toNext != limit;)
            *toNext++ = static_cast<char>(*next++ + 1);
        return next == end ? ok : partial;
    }
    result do_in(state_type&, const char* from, const char* end, const char*& next, char* to, char* limit,
                 char*& toNext) const override
    {
        for (next = from, toNext = to; next != end && toNext != limit;)
            *toNext++ = static_cast<char>(*next++ - 1);
        return next == end ? ok : partial;
    }
};

// The same operations on the standard byte file buffer and on this one give
// the same results and leave the same bytes.
TEST(FileStream, ReadsPutsBackSeeksWritesAndConvertsAsTheStandardBuffer)
{
    typedef std::vector<long long> Results;
    const auto off = [](std::streambuf& b, std::streamoff o, ios_base::seekdir d) {
        return static_cast<long long>(b.pubseekoff(o, d));
    };
    const struct { const char* name; ios_base::openmode mode; bool shifted; std::function<Results(std::streambuf&)> run; }
        rows[] = {
            {"read", ios_base::in, false, [&](std::streambuf& b) {
                 Results r{b.sgetc(), b.sbumpc(), b.sbumpc(), b.sungetc(), b.sbumpc(), b.sputbackc('x'), b.sbumpc()};
                 char four[4];
                 r.push_back(b.sgetn(four, 4));
                 r.insert(r.end(), four, four + 4);
                 r.insert(r.end(), {off(b, 0, ios_base::cur), off(b, -2, ios_base::end), b.sbumpc(),
                                    static_cast<long long>(b.pubseekpos(3)), b.sbumpc(), off(b, 5, ios_base::cur),
                                    b.sbumpc(), b.sgetc()});
                 return r;
             }},
            {"write and read", ios_base::in | ios_base::out, false, [&](std::streambuf& b) {
                 Results r{b.sputn("XY", 2), off(b, 0, ios_base::cur), b.sbumpc(), off(b, 0, ios_base::end),
                           b.sputc('!'), b.pubsync()};
                 return r;
             }},
            {"converted", ios_base::in | ios_base::out, true, [&](std::streambuf& b) {
                 Results r{b.sputn("XY", 2), off(b, 0, ios_base::cur), b.sbumpc(), b.sgetc(),
                           static_cast<long long>(b.pubseekpos(0)), b.sbumpc()};
                 return r;
             }},
            {"converted, peeked and put back", ios_base::in, true, [&](std::streambuf& b) {
                 Results r{b.sgetc(), off(b, 0, ios_base::cur), b.sbumpc(), b.sbumpc(), b.sgetc(),
                           off(b, 2, ios_base::cur), b.sbumpc(), b.sputbackc('x'), off(b, 0, ios_base::cur),
                           b.sbumpc()};
                 return r;
             }},
        };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string bytes[2];
        Results results[2];
        for (int which = 0; which < 2; ++which) {
            const std::string name = std::to_string(which) + ".txt";
            dir.write(name, "0123456789");
            std::filebuf standard;
            ccBasic_filebuf<char> ours;
            std::streambuf& b = which == 0 ? static_cast<std::streambuf&>(standard) : ours;
            if (row.shifted)
                b.pubimbue(std::locale(std::locale::classic(), new ShiftByOne));
            ASSERT_TRUE(which == 0 ? standard.open(dir.path + name, row.mode) != nullptr
                                   : ours.open(dir.wide(name), row.mode) != nullptr);
            results[which] = row.run(b);
            ASSERT_TRUE(which == 0 ? standard.close() != nullptr : ours.close() != nullptr);
            bytes[which] = dir.read(name);
        }
        EXPECT_EQ(results[1], results[0]);
        EXPECT_EQ(bytes[1], bytes[0]);
    }
}

// As ShiftByOne, but its characters are not all of one width as far as the
// buffer can tell.
struct ShiftByOneOfVariableWidth : ShiftByOne {
    int do_encoding() const noexcept override { return 0; }
};

// A character read ahead has no size in bytes to count back: the position
// is not known, and the character stays to be read.
TEST(FileStream, PositionAfterAPeekOfVariableWidthIsNotKnown)
{
    TempDir dir;
    dir.write("f.txt", "0123456789");
    ccBasic_filebuf<char> buf;
    buf.pubimbue(std::locale(std::locale::classic(), new ShiftByOneOfVariableWidth));
    ASSERT_EQ(buf.open(dir.wide("f.txt"), ios_base::in), &buf);
    const auto tell = [&] { return static_cast<long long>(buf.pubseekoff(0, ios_base::cur)); };
    EXPECT_EQ(std::vector<long long>({buf.sgetc(), tell(), buf.sbumpc(), tell()}),
              std::vector<long long>({'/', -1, '/', 1}));
}

// No buffer and size 0 on an open buffer, before or after a write, make it
// unbuffered: each write is in the file at once. A buffer of the caller's
// keeps the bytes until a sync.
TEST(FileStream, NoBufferAndSizeZeroMakeAnOpenBufferUnbuffered)
{
    TempDir dir;
    static char own[4096];
    const struct { const char* name; const char* before; char* buffer; std::streamsize size; const char* seen; } rows[] = {
        {"unbuffered before any write", "", nullptr, 0, "ab"},
        {"unbuffered after a write", "x", nullptr, 0, "xab"},
        {"the caller's buffer", "", own, sizeof own, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        dir.write("f.txt", "");
        ccBasic_filebuf<char> buf;
        ASSERT_EQ(buf.open(dir.wide("f.txt"), ios_base::out | ios_base::binary), &buf);
        buf.sputn(r.before, static_cast<std::streamsize>(std::strlen(r.before)));
        EXPECT_EQ(buf.pubsetbuf(r.buffer, r.size), &buf);
        buf.sputn("a", 1);
        buf.sputc('b');
        EXPECT_EQ(dir.read("f.txt"), r.seen);
        EXPECT_EQ(buf.pubsync(), 0);
        EXPECT_EQ(dir.read("f.txt"), std::string(r.before) + "ab");
        ASSERT_NE(buf.close(), nullptr);
    }
}

} // namespace
