#include <gtest/gtest.h>

#include <tuple>

#include "std/except/utf16.h"
#include "std/filestream.h"
#include "tests/support/temp_dir.h"

namespace {

using std::ios_base;

class FileStream : public ::testing::Test {
protected:
    // Written through the narrow UTF-8 name, as the system sees it; the wide path returned.
    std::wstring write(const std::wstring& name, const std::string& bytes)
    {
        dir.write(ccToUtf8(name), bytes);
        return dir.wide() + name;
    }
    TempDir dir;
};

TEST(FileMode, OnlyTheTableCombinationsHaveAText)
{
    const ios_base::openmode in = ios_base::in, out = ios_base::out, trunc = ios_base::trunc, app = ios_base::app,
                             bin = ios_base::binary, ate = ios_base::ate;
    // The at-end bit is left out of the lookup.
    const struct { ios_base::openmode mode; const char* text; } rows[] = {
        {out | trunc, "w"}, {out | app, "a"}, {in | out, "r+"}, {in | out | app, "a+"}, {in | bin, "rb"},
        {in | out | app | bin | ate, "a+b"},
        // Not in the table, though the standard buffer takes some of them.
        {in | app, nullptr}, {app, nullptr}, {out | trunc | app, nullptr}, {bin, nullptr}, {ate, nullptr}};
    for (const auto& r : rows)
        EXPECT_STREQ(ccBasic_filebuf<char>::modeText(r.mode), r.text) << static_cast<int>(r.mode);
}

TEST_F(FileStream, OpenFailuresSetFailbitThoughTheFileExistsAndAnyOtherNameOpens)
{
    ccBasic_IFstream<char> missing(dir.wide("missing.txt"));
    EXPECT_EQ(std::pair(missing.fail(), missing.is_open()), std::pair(true, false));
    EXPECT_EQ(missing.get(), std::char_traits<char>::eof());
    const std::wstring p = write(L"f.txt", "x");
    EXPECT_FALSE(ccBasic_IFstream<char>(p, ios_base::app).is_open()); // "in | app" is not in the table
    EXPECT_FALSE(ccBasic_IFstream<char>(p + std::wstring(1, L'\0') + L"more").is_open());
    // A lone surrogate has no UTF-8 form: it would have named "\uFFFD".
    write(L"\uFFFD", "x");
    EXPECT_FALSE(ccBasic_IFstream<char>(dir.wide() + std::wstring(1, wchar_t(0xD800))).is_open());
    ccBasic_ifstream<char> closed;
    closed.close(); // closing nothing fails, and opening clears the state
    const bool failed = closed.fail();
    closed.open(p);
    EXPECT_EQ(std::pair(failed, closed.good()), std::pair(true, true));
    // A name outside Latin-1 opens through its UTF-8 name, and at-end starts at the end.
    ccBasic_IFstream<char> in(write(L"cam\u00e9ra \u65e5\u672c \U0001F600.txt", "12 34"));
    int a = 0, b = 0;
    in >> a >> b;
    EXPECT_EQ(std::tuple(a, b), std::tuple(12, 34));
    ccBasic_IFstream<char> ate(write(L"f.txt", "abcdef"), ios_base::ate | ios_base::binary);
    EXPECT_EQ(ate.tellg(), 6);
}

TEST_F(FileStream, TheBufferReadsThroughItsOwn4096BytesOpensOnceAndWritesWithTheTableMode)
{
    ccBasic_IFstream<char> in(write(L"big.bin", std::string(10000, 'z')), ios_base::binary);
    ASSERT_EQ(in.get(), 'z');
    // The rest of the first fill, less one place the buffer may keep back.
    const std::streamsize rest = in.rdbuf()->in_avail();
    EXPECT_TRUE(rest == 4094 || rest == 4095) << rest;
    // The buffer opens once and writes with the table mode.
    const std::wstring p = write(L"log.txt", "one ");
    ccBasic_filebuf<char> buf;
    ASSERT_EQ(buf.open(p, ios_base::out | ios_base::app), &buf);
    EXPECT_EQ(buf.open(p, ios_base::in), nullptr);
    buf.sputn("two", 3);
    ASSERT_NE(buf.close(), nullptr);
    EXPECT_EQ(dir.read("log.txt"), "one two");
}

} // namespace
