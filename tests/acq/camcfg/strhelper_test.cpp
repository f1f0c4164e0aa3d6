#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "acq/camcfg/strhelper.h"
#include "std/except/persist.h"
#include "tests/support/stored.h"

namespace {

using test_bytes::Bytes;

TEST(AcqStringHelper, NextToken)
{
    struct Row {
        std::wstring text, token, rest;
    } rows[] = {
        {L"format width = 640", L"format", L" width = 640"},
        {L" \t;width", L"width", L""},
        {L"640; note", L"640", L"; note"},
        {L"\t 640\t", L"640", L"\t"},
        {L"\"a b;c\" d", L"\"a b;c\"", L" d"},
        {L"\"a b\"", L"\"a b\"", L""},
        {L"\"ab\"cd ef", L"\"ab\"", L"cd ef"},
        // No closing quote: the rest of the text.
        {L"  \"a b c", L"\"a b c", L""},
        {L"\"", L"\"", L""},
        // Only delimiters: no token, the text unchanged.
        {L" ;\t ", L"", L" ;\t "},
        {L"", L"", L""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        std::wstring text = r.text;
        EXPECT_EQ(cc_AcqStringHelper::nextToken(text), r.token);
        EXPECT_EQ(text, r.rest);
    }
}

TEST(AcqStringHelper, ExpectEquals)
{
    struct Row {
        std::wstring text;
        bool found;
        std::wstring rest;
    } rows[] = {
        {L" = 640", true, L"640"},
        {L"=640", true, L"640"},
        {L"\t =\t \"a = b\"", true, L"\"a = b\""},
        // Nothing after it: the text keeps the "=", which no value reads.
        {L" =  ", true, L" =  "},
        {L" 640", false, L" 640"},
        {L" x = 640", false, L" x = 640"},
        {L";= 640", false, L";= 640"},
        {L"  ", false, L"  "},
        {L"", false, L""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        std::wstring text = r.text;
        bool found = true;
        try {
            cc_AcqStringHelper::expectEquals(text);
        } catch (const cc_AcqStringHelper::EqualsNotFound& e) {
            found = false;
            EXPECT_EQ(e.code(), 0x10005A0Au);
            EXPECT_EQ(e.message(), L"Equals not found");
        }
        EXPECT_EQ(found, r.found);
        EXPECT_EQ(text, r.rest);
    }
}

// Each parser on one text: the value it reads (written back with the
// matching appender) and what remains, or its error.
TEST(AcqStringHelper, ValueParsers)
{
    const auto asInt = [](std::wstring& t) {
        int32_t v = 0;
        cc_AcqStringHelper::parseInt(t, v);
        std::wstring out;
        cc_AcqStringHelper::appendInt(out, v);
        return out;
    };
    const auto asDouble = [](std::wstring& t) {
        double v = 0;
        cc_AcqStringHelper::parseDouble(t, v);
        std::wstring out;
        cc_AcqStringHelper::appendDouble(out, v);
        return out;
    };
    const auto asBool = [](std::wstring& t) {
        bool v = false;
        cc_AcqStringHelper::parseBool(t, v);
        std::wstring out;
        cc_AcqStringHelper::appendBool(out, v);
        return out;
    };
    const auto asQuoted = [](std::wstring& t) {
        std::wstring v;
        cc_AcqStringHelper::parseQuotedString(t, v);
        return v;
    };
    struct Row {
        std::function<std::wstring(std::wstring&)> parse;
        std::wstring text;
        std::wstring value; // or the error's message
        uint32_t code;      // 0: no error
        std::wstring rest;
    } rows[] = {
        {asInt, L" 640; x", L"640", 0, L"; x"},
        {asInt, L"-12px", L"-12", 0, L""},
        {asInt, L"2147483647", L"2147483647", 0, L""},
        {asInt, L"-2147483648", L"-2147483648", 0, L""},
        // Beyond 32 bits is refused, not wrapped.
        {asInt, L"2147483648", L"Invalid value. Expected integer; read: \"2147483648\"", 0x10005A04u, L""},
        {asInt, L"-2147483649", L"Invalid value. Expected integer; read: \"-2147483649\"", 0x10005A04u, L""},
        {asInt, L"x12 y", L"Invalid value. Expected integer; read: \"x12\"", 0x10005A04u, L" y"},
        {asInt, L"-", L"Invalid value. Expected integer; read: \"-\"", 0x10005A04u, L""},
        {asInt, L"  ", L"Invalid value. Expected integer; read: \"\"", 0x10005A04u, L"  "},
        {asDouble, L"12.5 x", L"12.5", 0, L" x"},
        {asDouble, L"-1e3", L"-1e3", 0, L""},
        {asDouble, L"0.000125", L"125e-6", 0, L""},
        {asDouble, L"12.5mm", L"Invalid value. Expected double; read: \"12.5mm\"", 0x10005A09u, L""},
        {asDouble, L"1e999", L"Invalid value. Expected double; read: \"1e999\"", 0x10005A09u, L""},
        {asDouble, L"inf", L"Invalid value. Expected double; read: \"inf\"", 0x10005A09u, L""},
        {asBool, L"1", L"1", 0, L""},
        {asBool, L"0;", L"0", 0, L";"},
        {asBool, L"2", L"Invalid value. Expected boolean; read: \"non 0/1 value\"", 0x10005A07u, L""},
        {asBool, L"-1", L"Invalid value. Expected boolean; read: \"non 0/1 value\"", 0x10005A07u, L""},
        // Not an integer at all: the integer reading fails first.
        {asBool, L"yes", L"Invalid value. Expected integer; read: \"yes\"", 0x10005A04u, L""},
        {asQuoted, L" \"Cam 1; B\" x", L"Cam 1; B", 0, L" x"},
        {asQuoted, L"\"\"", L"", 0, L""},
        {asQuoted, L"Cam 1", L"Invalid value. Expected quoted string; read: \"Cam\"", 0x10005A06u, L" 1"},
        {asQuoted, L"\"Cam 1", L"Invalid value. Expected quoted string; read: \"\"Cam 1\"", 0x10005A06u, L""},
        // A lone double quote encloses nothing.
        {asQuoted, L"\"", L"Invalid value. Expected quoted string; read: \"\"\"", 0x10005A06u, L""},
        {asQuoted, L"", L"Invalid value. Expected quoted string; read: \"\"", 0x10005A06u, L""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        std::wstring text = r.text, value;
        uint32_t code = 0;
        try {
            value = r.parse(text);
        } catch (const cc_AcqStringHelper::BadVal& e) {
            code = e.code();
            value = e.message();
        }
        EXPECT_EQ(value, r.value);
        EXPECT_EQ(code, r.code);
        EXPECT_EQ(text, r.rest);
    }
}

TEST(AcqStringHelper, FindNameAndAppenders)
{
    const wchar_t* const names[] = {L"in", L"out", L"in", nullptr};
    struct Row {
        const wchar_t* text;
        int32_t index;
    } rows[] = {{L"in", 0}, {L"out", 1}, {L"Out", -1}, {L"ou", -1}, {L"", -1}};
    for (const Row& r : rows)
        EXPECT_EQ(cc_AcqStringHelper::findName(r.text, names), r.index) << r.text;
    EXPECT_EQ(cc_AcqStringHelper::findName(L"in", nullptr), -1);

    std::wstring text = L">";
    cc_AcqStringHelper::appendInt(text, -2147483647 - 1);
    cc_AcqStringHelper::appendBool(text, true);
    cc_AcqStringHelper::appendDouble(text, 1234.5);
    cc_AcqStringHelper::appendQuoted(text, L"a b");
    EXPECT_EQ(text, L">-214748364811.2345e3\"a b\"");
}

// Both errors are caught through the marker base; a BadVal re-made from its
// archive keeps its kind's code and message.
TEST(AcqStringHelper, ErrorsArchiveAndCatchAsValueErrors)
{
    const uint32_t codes[] = {0x10005A04u, 0x10005A09u, 0x10005A07u, 0x10005A06u};
    for (uint32_t code : codes) {
        cc_AcqStringHelper::BadVal written(L"double", L"x", code);
        const Bytes bytes = test_bytes::storeObject(written);
        auto* loaded = new cc_AcqStringHelper::BadVal;
        test_bytes::loadObject(*loaded, bytes);
        try {
            loaded->raise();
        } catch (const cc_ccfException& e) {
            const auto* bad = dynamic_cast<const cc_AcqStringHelper::BadVal*>(&e);
            ASSERT_NE(bad, nullptr);
            EXPECT_EQ(bad->code(), code);
            EXPECT_EQ(bad->message(), L"Invalid value. Expected double; read: \"x\"");
        }
    }
    // Its own level's version byte comes first; a newer one names the class.
    cc_AcqStringHelper::BadVal written(L"integer", L"x", 0x10005A04u);
    Bytes bytes = test_bytes::storeObject(written);
    bytes.at(2) = 1;
    cc_AcqStringHelper::BadVal loaded;
    try {
        test_bytes::loadObject(loaded, bytes);
        ADD_FAILURE() << "loaded a newer version";
    } catch (const ccArchive::UnknownVersion& e) {
        EXPECT_EQ(e.file(), L"cc_AcqStringHelper::BadVal");
    }

    std::wstring text = L"640";
    EXPECT_THROW(cc_AcqStringHelper::expectEquals(text), cc_ccfException);
}

} // namespace
