#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "acq/camcfg/strhelper.h"
#include "tests/support/stored.h"

namespace {

typedef cc_AcqStringHelper H;
typedef std::function<std::wstring(std::wstring&)> Take;

// Reads one value with parse and writes it back with append.
template <class T, class P, class A>
Take parser(P parse, A append)
{
    return [=](std::wstring& text) {
        T value{};
        parse(text, value);
        std::wstring out;
        append(out, value);
        return out;
    };
}

// Each function on one text: what it takes (a value as written back by its
// appender) and what remains; or its error's code and message, caught as a
// value error.
TEST(AcqStringHelper, TokensEqualsAndValues)
{
    const Take token = [](std::wstring& t) { return H::nextToken(t); };
    const Take equals = [](std::wstring& t) { return H::expectEquals(t), std::wstring(L"="); };
    const Take asInt = parser<int32_t>(H::parseInt, H::appendInt);
    const Take asDouble = parser<double>(H::parseDouble, H::appendDouble);
    const Take asBool = parser<bool>(H::parseBool, H::appendBool);
    const Take asQuoted = parser<std::wstring>(H::parseQuotedString, H::appendQuoted);
    const auto bad = [](const wchar_t* kind, const wchar_t* read) {
        return L"Invalid value. Expected " + std::wstring(kind) + L"; read: \"" + read + L"\"";
    };
    const uint32_t noEquals = 0x10005A0Au, integer = H::BadVal::kIntegerCode, real = H::BadVal::kDoubleCode;
    const uint32_t boolean = H::BadVal::kBooleanCode, quoted = H::BadVal::kQuotedStringCode;
    const struct { Take take; std::wstring text, taken; uint32_t code; std::wstring rest; } rows[] = {
        {token, L"format width = 640", L"format", 0, L" width = 640"},
        {token, L" \t;width", L"width", 0, L""},
        {token, L"\"a b;c\" d", L"\"a b;c\"", 0, L" d"},
        {token, L"\"ab\"cd ef", L"\"ab\"", 0, L"cd ef"},
        {token, L"  \"a b c", L"\"a b c", 0, L""}, // no closing quote: the rest of the text
        {token, L"\"", L"\"", 0, L""},
        {token, L" ;\t ", L"", 0, L" ;\t "}, // only delimiters: no token, the text unchanged
        {token, L"", L"", 0, L""},
        {equals, L"=640", L"=", 0, L"640"},
        {equals, L"\t =\t \"a = b\"", L"=", 0, L"\"a = b\""},
        {equals, L" =  ", L"=", 0, L" =  "}, // nothing after it: the "=" stays, which no value reads
        {equals, L" x = 640", L"Equals not found", noEquals, L" x = 640"},
        {equals, L";= 640", L"Equals not found", noEquals, L";= 640"},
        {equals, L"", L"Equals not found", noEquals, L""},
        {asInt, L" 640; x", L"640", 0, L"; x"},
        {asInt, L"-12px", L"-12", 0, L""},
        // Beyond 32 bits is refused, not wrapped.
        {asInt, L"2147483647", L"2147483647", 0, L""},
        {asInt, L"2147483648", bad(L"integer", L"2147483648"), integer, L""},
        {asInt, L"-2147483648", L"-2147483648", 0, L""},
        {asInt, L"-2147483649", bad(L"integer", L"-2147483649"), integer, L""},
        {asInt, L"x12 y", bad(L"integer", L"x12"), integer, L" y"},
        {asInt, L"  ", bad(L"integer", L""), integer, L"  "},
        {asDouble, L"12.5 x", L"12.5", 0, L" x"},
        {asDouble, L"0.000125", L"125e-6", 0, L""},
        {asDouble, L"1234.5", L"1.2345e3", 0, L""},
        {asDouble, L"12.5mm", bad(L"double", L"12.5mm"), real, L""},
        {asDouble, L"1e999", bad(L"double", L"1e999"), real, L""},
        {asDouble, L"inf", bad(L"double", L"inf"), real, L""},
        {asBool, L"1", L"1", 0, L""},
        {asBool, L"0;", L"0", 0, L";"},
        {asBool, L"2", bad(L"boolean", L"non 0/1 value"), boolean, L""},
        {asBool, L"-1", bad(L"boolean", L"non 0/1 value"), boolean, L""},
        {asBool, L"yes", bad(L"integer", L"yes"), integer, L""}, // the integer reading fails first
        {asQuoted, L" \"Cam 1; B\" x", L"\"Cam 1; B\"", 0, L" x"},
        {asQuoted, L"\"\"", L"\"\"", 0, L""},
        {asQuoted, L"Cam 1", bad(L"quoted string", L"Cam"), quoted, L" 1"},
        {asQuoted, L"\"Cam 1", bad(L"quoted string", L"\"Cam 1"), quoted, L""},
        {asQuoted, L"\"", bad(L"quoted string", L"\""), quoted, L""}, // a lone double quote encloses nothing
        {asQuoted, L"", bad(L"quoted string", L""), quoted, L""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        std::wstring text = r.text, taken;
        uint32_t code = 0;
        try {
            taken = r.take(text);
        } catch (const cc_ccfException& e) {
            code = dynamic_cast<const ccException&>(e).code();
            taken = dynamic_cast<const ccException&>(e).message();
        }
        EXPECT_EQ(taken, r.taken);
        EXPECT_EQ(code, r.code);
        EXPECT_EQ(text, r.rest);
    }
}

TEST(AcqStringHelper, FindNameIsExactAndTakesTheFirst)
{
    const wchar_t* const names[] = {L"in", L"out", L"in", nullptr};
    const std::pair<const wchar_t*, int32_t> rows[] = {{L"in", 0}, {L"out", 1}, {L"Out", -1}, {L"ou", -1}, {L"", -1}};
    for (const auto& r : rows)
        EXPECT_EQ(H::findName(r.first, names), r.second) << r.first;
    EXPECT_EQ(H::findName(L"in", nullptr), -1);
}

// A BadVal re-made from its archive keeps its kind's code.
TEST(AcqStringHelper, ABadValKeepsItsCodeThroughItsArchive)
{
    H::BadVal written(L"double", L"x", H::BadVal::kDoubleCode), loaded;
    test_bytes::loadObject(loaded, test_bytes::storeObject(written));
    EXPECT_EQ(loaded.code(), H::BadVal::kDoubleCode);
}

} // namespace
