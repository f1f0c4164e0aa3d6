#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "acq/camcfg/fileinfo.h"
#include "acq/camcfg/reader.h"
#include "acq/camcfg/startup.h"
#include "acq/vidfmt/vidfmt.h"
#include "platform/event_log_testing.h"
#include "std/parseerror.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

std::wstring widen(const std::string& s) { return TempDir::ascii(s); }

std::string hex(uint32_t value)
{
    std::ostringstream out;
    out << "0x" << std::hex << std::setw(8) << std::setfill('0') << value;
    return out.str();
}

// A file defining one format; checksum is the text after "ccf_checksum".
std::string camera(const std::string& name, int width, int height, const std::string& checksum = "0xDEADC0DE")
{
    return "format name = \"" + name + "\"\nformat width = " + std::to_string(width)
           + "\nformat height = " + std::to_string(height) + "\nccf_checksum " + checksum + "\n";
}

bool defines(const std::string& name)
{
    try {
        (void)ccVideoFormat::getFormat(widen(name));
        return true;
    } catch (const ccVideoFormat::NotFound&) {
        return false;
    }
}

int32_t widthOf(const std::string& name)
{
    return ccVideoFormat::getFormat(widen(name)).description(false).record()->width;
}

// The checksum of the content lines of text (every content line stored).
uint32_t checksumOf(const std::string& text)
{
    std::istringstream in(text);
    ccPtrHandle<cc_ccfFileInfo> record(new cc_ccfFileInfo);
    cc_ccfReader::readStream(in, L"sum", *record, false);
    return record->computeChecksum();
}

struct SumRow {
    const char* name;
    std::vector<std::wstring> lines;
    uint32_t sum;
};

TEST(CcfChecksum, SkipsBlanksAndTabsAndShiftsByTheCountOfCharacters)
{
    const SumRow rows[] = {
        {"empty", {}, 0},
        {"abc", {L"abc"}, 0xC561},
        {"blanks and tabs skipped, lines run on", {L"a \tb", L"c"}, 0xC561},
        // Counts 1, 2, 4, 5, ... shift by 8 (ten of them), 3, 6, 9, 12 by 4,
        // 15 by 12 and 0 not at all.
        {"sixteen", {std::wstring(16, L'a')}, 0x61 + 10 * 0x6100 + 4 * 0x610 + 0x61000},
    };
    for (const SumRow& r : rows) {
        SCOPED_TRACE(r.name);
        cc_ccfFileInfo record;
        for (size_t i = 0; i < r.lines.size(); ++i)
            record.addLine(r.lines[i], static_cast<uint32_t>(i + 1));
        EXPECT_EQ(record.computeChecksum(), r.sum);
    }
}

struct LinesRow {
    const char* name;
    std::string text;
    std::vector<std::wstring> lines;
    std::vector<uint32_t> numbers;
    uint32_t checksum = 0;
    bool tooWide = false;
};

void PrintTo(const LinesRow& r, std::ostream* os) { *os << r.name; }

class ReadLines : public testing::TestWithParam<LinesRow> {};

TEST_P(ReadLines, KeepContentLinesWithTheirFileLineNumbers)
{
    const LinesRow& r = GetParam();
    std::istringstream in(r.text);
    cc_ccfFileInfo record;
    cc_ccfReader::readStream(in, L"f.ccf", record, false);
    std::vector<std::wstring> lines;
    std::vector<uint32_t> numbers;
    for (size_t i = 0; i < record.numLines(); ++i) {
        lines.push_back(record.line(i));
        numbers.push_back(record.lineNumber(i));
    }
    EXPECT_EQ(lines, r.lines);
    EXPECT_EQ(numbers, r.numbers);
    EXPECT_EQ(record.checksum(), r.checksum);
    EXPECT_EQ(record.checksumTooWide(), r.tooWide);
    EXPECT_EQ(record.fileName(), L"f.ccf");
}

const std::string kLong(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, ReadLines,
    testing::Values(
        LinesRow{"plain", "format width = 640\nformat height = 480", {L"format width = 640", L"format height = 480"},
                 {1, 2}},
        LinesRow{"carriage_return_ends_the_text", "format width = 640\r junk\n\r\nformat height = 480\r\n",
                 {L"format width = 640", L"format height = 480"}, {1, 3}},
        LinesRow{"bytes_become_characters", "format name = \"\xe9\"\n", {L"format name = \"\u00e9\""}, {1}},
        LinesRow{"line_comment", "format width = 640 // note\n// only a note\n", {L"format width = 640 "}, {1}},
        LinesRow{"block_comment_drops_the_rest_of_its_closing_line", "/* c */format width = 640\nformat height = 4\n",
                 {L"format height = 4"}, {2}},
        LinesRow{"slash_star_slash_opens", "/*/ a */ format width = 1\nformat height = 2\n", {L"format height = 2"},
                 {2}},
        LinesRow{"line_comment_rule_alone", "format name = \"a/*b\" // c\nformat width = 1\n",
                 {L"format name = \"a/*b\" ", L"format width = 1"}, {1, 2}},
        LinesRow{"text_before_a_block_comment_stays",
                 "format width = 640 /* a\nformat height = 1\n*/ format height = 2\nformat height = 480\n",
                 {L"format width = 640 ", L"format height = 480"}, {1, 4}},
        // Counted once each: the lines after the comment are not shifted.
        LinesRow{"block_comment_then_empty_lines", "/* a\nb */\n\n\nformat width = 640\n\nformat height = 1\n",
                 {L"format width = 640", L"format height = 1"}, {5, 7}},
        LinesRow{"block_comment_open_at_the_end", "format width = 1\n/* open\nformat height = 2\n",
                 {L"format width = 1"}, {1}},
        LinesRow{"open_quote_joins_the_next_line", "format name = \"ab\ncd\"\nformat width = 1\n",
                 {L"format name = \"abcd\"", L"format width = 1"}, {1, 3}},
        // Read whole, not the end of the file.
        LinesRow{"line_over_255_characters", "format name = \"" + kLong + "\"\nformat width = 1\n",
                 {widen("format name = \"" + kLong + "\""), L"format width = 1"}, {1, 2}},
        LinesRow{"checksum_line", "format width = 1\nccf_checksum 0x1234\n", {L"format width = 1"}, {1}, 0x1234},
        LinesRow{"checksum_without_prefix", "ccf_checksum \t deadC0de\n", {}, {}, 0xDEADC0DE},
        LinesRow{"checksum_anywhere_in_the_line", "x ccf_checksum 12 // 34\n", {}, {}, 0x12},
        LinesRow{"checksum_not_hexadecimal_keeps_the_last", "ccf_checksum 12\nccf_checksum zz\n", {}, {}, 0x12},
        LinesRow{"checksum_over_32_bits", "ccf_checksum 0x1DEADC0DE\n", {}, {}, 0xDEADC0DE, true},
        LinesRow{"later_checksum_replaces", "ccf_checksum 0x1DEADC0DE\nccf_checksum 7\n", {}, {}, 7, false},
        LinesRow{"nul_byte_kept", std::string("format name = \"a\0b\"\n", 19),
                 {std::wstring(L"format name = \"a\0b\"", 19)}, {1}}),
    [](const testing::TestParamInfo<LinesRow>& info) { return std::string(info.param.name); });

TEST(ReadComments, AreKeptByLineNumberWhenAsked)
{
    std::istringstream in("// head\n/* a\nb */\nformat width = 640 // w\nformat height = 1\n");
    cc_ccfFileInfo record;
    cc_ccfReader::readStream(in, L"f.ccf", record, true);
    ASSERT_NE(record.comment(0), nullptr);
    EXPECT_EQ(*record.comment(0), L" head\n a\nb \n");
    ASSERT_NE(record.comment(4), nullptr);
    EXPECT_EQ(*record.comment(4), L" w");
    EXPECT_EQ(record.comment(5), nullptr);
}

class CcfFiles : public testing::Test {
protected:
    void SetUp() override
    {
        ccAcqCamcfgStartup();
        env.unset(L"QORALT_DISALLOW_CCF_READING");
        env.unset(L"QORALT_PATH");
        env.set(L"QORALT_SYSTEM_PATH", first.wide() + L";" + second.wide());
        plat::collectEventLines(true);
    }
    void TearDown() override
    {
        (void)plat::takeEventLines();
        plat::collectEventLines(false);
    }
    void read(const TempDir& dir, const std::string& name, const std::string& text)
    {
        dir.write(name, text);
        cc_ccfReader::readOneFile(dir.wide(name));
    }

    ScopedEnv env;
    TempDir first, second;
};

TEST_F(CcfFiles, OpenAndPathErrorsNameTheFile)
{
    const std::string dir = first.path;
    // 260 characters is still a path; 261 is not.
    const std::string fits = dir + std::string(260 - dir.size(), 'p');
    const std::string tooLong = fits + "p";
    const struct {
        std::string path;
        const char* reason;
    } rows[] = {{dir + "missing.ccf", "(couldn't be opened)"},
                {fits, "(couldn't be opened)"},
                {tooLong, "(path too long)"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        try {
            cc_ccfReader::readOneFile(widen(r.path));
            ADD_FAILURE() << "read";
        } catch (const cc_ccfReader::GeneralError& e) {
            EXPECT_EQ(e.code(), 0x10005A31u);
            EXPECT_EQ(e.message(), widen("File: " + r.path + r.reason));
        }
    }
}

TEST_F(CcfFiles, TheChecksumDecidesWhetherTheFileDefinesItsFormat)
{
    enum Given { any, exact, other, none, wide, exactThenNoNumber };
    const struct {
        const char* name;
        Given given;
        bool defines;
    } rows[] = {
        {"Sum any", any, true}, {"Sum exact", exact, true}, {"Sum other", other, false}, {"Sum none", none, false},
        // Its low 32 bits are the sum, but it is no 32-bit number.
        {"Sum wide", wide, false}, {"Sum then no number", exactThenNoNumber, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string content = "format name = \"" + std::string(r.name) + "\"\nformat width = 64\n";
        const std::string sum = hex(checksumOf(content));
        const std::string lines[] = {"ccf_checksum 0xDEADC0DE\n",
                                     "ccf_checksum " + sum + "\n",
                                     "ccf_checksum " + hex(checksumOf(content) + 1) + "\n",
                                     "",
                                     "ccf_checksum 0x1" + sum.substr(2) + "\n",
                                     "ccf_checksum " + sum + "\nccf_checksum none\n"};
        read(first, "sum.ccf", content + lines[r.given]);
        EXPECT_EQ(defines(r.name), r.defines);
    }
}

TEST_F(CcfFiles, AValueErrorIsRaisedBeforeTheChecksumIsCompared)
{
    try {
        read(first, "bad.ccf", "format name = \"Bad\"\nformat width = x\nccf_checksum 0x1\n");
        ADD_FAILURE() << "read";
    } catch (const ccException& e) {
        EXPECT_EQ(e.code(), 0x10005A04u);
    }
}

TEST_F(CcfFiles, ReadIfAllowedReadsNothingWhileSwitchedOff)
{
    first.write("off.ccf", camera("Switched", 8, 8));
    env.set(L"QORALT_DISALLOW_CCF_READING", L"1");
    EXPECT_FALSE(cc_ccfReader::readIfAllowed());
    EXPECT_FALSE(defines("Switched"));
    env.unset(L"QORALT_DISALLOW_CCF_READING");
    EXPECT_TRUE(cc_ccfReader::readIfAllowed());
    EXPECT_TRUE(defines("Switched"));
}

struct SearchRow {
    const char* name;
    std::vector<std::pair<std::string, std::string>> first, second; // file name, format name
    std::vector<const char*> defined, undefined;
};

TEST_F(CcfFiles, OnlyTheFirstDirectoryWithFilesIsRead)
{
    const SearchRow rows[] = {
        {"later directory", {{"a.txt", "Later txt"}}, {{"a.ccf", "Later ccf"}}, {"Later ccf"}, {"Later txt"}},
        {"first directory", {{"a.ccf", "First 1"}}, {{"b.ccf", "First 2"}}, {"First 1"}, {"First 2"}},
        {"capital extension", {{"UPPER.CCF", "Upper"}, {"upper.ccfx", "Upper x"}}, {}, {"Upper"}, {"Upper x"}},
    };
    for (const SearchRow& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir one, two;
        env.set(L"QORALT_SYSTEM_PATH", one.wide());
        env.set(L"QORALT_PATH", two.wide());
        for (const auto& f : r.first)
            one.write(f.first, camera(f.second, 8, 8));
        for (const auto& f : r.second)
            two.write(f.first, camera(f.second, 8, 8));
        cc_ccfReader::readAll();
        for (const char* name : r.defined)
            EXPECT_TRUE(defines(name)) << name;
        for (const char* name : r.undefined)
            EXPECT_FALSE(defines(name)) << name;
    }
}

TEST_F(CcfFiles, FilesAreReadInTheOrderOfTheirNamesWithoutRegardToCase)
{
    // The one read last wins.
    first.write("B.ccf", camera("Twice", 222, 8));
    first.write("a.ccf", camera("Twice", 111, 8));
    first.write("c.ccf", camera("Thrice", 333, 8));
    first.write("C2.ccf", camera("Thrice", 444, 8));
    cc_ccfReader::readAll();
    EXPECT_EQ(widthOf("Twice"), 222);
    EXPECT_EQ(widthOf("Thrice"), 444);
}

TEST_F(CcfFiles, AFileThatFailsIsLeftOutAndReportedAndTheOthersAreRead)
{
    const std::string dir = first.path;
    const std::string longName = std::string(261 - dir.size() - 4, 'l') + ".ccf";
    first.write("a_good.ccf", camera("Good A", 8, 8));
    first.write("bad_sum.ccf", camera("Bad sum", 8, 8, "0x1"));
    first.write("bad_value.ccf", "format name = \"Bad value\"\n\nformat width = x\n");
    first.write(longName, camera("Long", 8, 8));
    first.write("no_equals.ccf", "format name = \"No equals\"\nformat width 640\n");
    first.write("z_good.ccf", camera("Good Z", 8, 8));

    (void)plat::takeEventLines();
    cc_ccfReader::readAll();
    const std::vector<std::wstring> events = plat::takeEventLines();

    EXPECT_TRUE(defines("Good A"));
    EXPECT_TRUE(defines("Good Z"));
    for (const char* name : {"Bad sum", "Bad value", "Long", "No equals"})
        EXPECT_FALSE(defines(name)) << name;
    const std::wstring at = first.wide();
    const std::vector<std::wstring> expected = {
        at + L"bad_sum.ccf: Parse error on Line [4]: Invalid Checksum",
        at + L"bad_value.ccf: Parse error on Line [3]: Invalid value. Expected integer; read: \"x\"",
        L"File: " + at + widen(longName) + L"(path too long)",
        at + L"no_equals.ccf: Parse error on Line [2]: Equals not found",
    };
    std::vector<std::wstring> kept;
    for (const cc_ParseError& e : cc_ccfReader::lastErrors())
        kept.push_back(e.message());
    EXPECT_EQ(kept, expected);
    ASSERT_EQ(events.size(), expected.size());
    for (size_t i = 0; i < events.size(); ++i)
        EXPECT_NE(events[i].find(expected[i]), std::wstring::npos) << i;

    // The next reading keeps only its own errors.
    TempDir clean;
    env.set(L"QORALT_SYSTEM_PATH", clean.wide());
    clean.write("fine.ccf", camera("Fine", 8, 8));
    cc_ccfReader::readAll();
    EXPECT_TRUE(cc_ccfReader::lastErrors().empty());
}

TEST_F(CcfFiles, ErrorsNameTheLineWhereTheFailingEntryBegins)
{
    const struct {
        const char* name;
        const char* text;
        uint32_t line;
    } rows[] = {
        {"block comment and empty lines", "/* one\ntwo\n*/\n\n\nformat width = x\n", 6},
        {"comment between", "format name = \"Lines\" /* a\nb */\n\nformat height = y\n", 4},
        // The open string takes the following lines; its own line is named.
        {"unterminated string", "/* a\n*/\n\nformat name = \"open\n\nformat width = 640\n/* c */\n", 4},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        env.set(L"QORALT_SYSTEM_PATH", dir.wide());
        dir.write("lines.ccf", r.text);
        cc_ccfReader::readAll();
        const std::vector<cc_ParseError> kept = cc_ccfReader::lastErrors();
        ASSERT_EQ(kept.size(), 1u);
        const std::wstring prefix = dir.wide("lines.ccf") + L": Parse error on Line [" + std::to_wstring(r.line) + L"]: ";
        EXPECT_EQ(kept[0].message().compare(0, prefix.size(), prefix), 0) << kept[0].message();
    }
}

} // namespace
