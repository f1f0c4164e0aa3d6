#include "acq/camcfg/strhelper.h"

#include "std/numtext.h"

cc_ccfException::~cc_ccfException() = default;

cc_AcqStringHelper::BadVal::BadVal(const std::wstring& kind, const std::wstring& read, uint32_t code)
    : ccExceptionWithString(L"Invalid value. Expected " + kind + L"; read: \""
                            + (read.size() > kQuotedLength ? read.substr(0, kQuotedLength) + L"..." : read) + L"\""),
      code_(code)
{
}

void cc_AcqStringHelper::BadVal::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(BadVal)))
        return;
    ccArchiveVersion(ar, 0, ccExceptionLevelName(kStoredName), 0);
    ccExceptionWithString::archive(ar);
    ar.archive(code_);
    ccArchiveVisit::end(this, typeid(BadVal));
}

namespace {

const wchar_t kDelimiters[] = L" \t;";

bool isBlankOrTab(wchar_t c) { return c == L' ' || c == L'\t'; }

// White space as the C library's "%d" skips it.
bool isSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// The decimal integer at the start of token ("%d": white space, a sign,
// digits, anything after ignored); false when none, or when it lies outside
// the 32-bit range.
bool leadingInt(const std::wstring& token, int32_t& value)
{
    size_t i = 0;
    while (i < token.size() && isSpace(token[i]))
        ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == L'+' || token[i] == L'-'))
        negative = token[i++] == L'-';
    const size_t first = i;
    // One past the magnitude of INT32_MIN stops the accumulation early.
    const int64_t limit = int64_t(INT32_MAX) + (negative ? 1 : 0);
    int64_t v = 0;
    for (; i < token.size() && token[i] >= L'0' && token[i] <= L'9'; ++i) {
        v = v * 10 + (token[i] - L'0');
        if (v > limit)
            return false;
    }
    if (i == first)
        return false;
    value = static_cast<int32_t>(negative ? -v : v);
    return true;
}

} // namespace

std::wstring cc_AcqStringHelper::nextToken(std::wstring& text)
{
    const size_t p = text.find_first_not_of(kDelimiters);
    if (p == std::wstring::npos)
        return std::wstring();
    std::wstring token;
    std::wstring rest;
    if (text[p] == L'"') {
        const size_t q = text.find(L'"', p + 1);
        if (q == std::wstring::npos) {
            token = text.substr(p);
        } else {
            token = text.substr(p, q + 1 - p);
            rest = text.substr(q + 1);
        }
    } else {
        const size_t d = text.find_first_of(kDelimiters, p);
        if (d == std::wstring::npos) {
            token = text.substr(p);
        } else {
            token = text.substr(p, d - p);
            rest = text.substr(d);
        }
    }
    text.swap(rest);
    return token;
}

void cc_AcqStringHelper::expectEquals(std::wstring& text)
{
    const size_t e = text.find(L'=');
    size_t n = 0;
    while (n < text.size() && isBlankOrTab(text[n]))
        ++n;
    if (e == std::wstring::npos || n != e)
        throw EqualsNotFound();
    size_t v = e + 1;
    while (v < text.size() && isBlankOrTab(text[v]))
        ++v;
    // With nothing after the "=", the text keeps it and the value parser
    // refuses it.
    if (v < text.size())
        text.erase(0, v);
}

void cc_AcqStringHelper::parseInt(std::wstring& text, int32_t& value)
{
    const std::wstring token = nextToken(text);
    // Beyond 32 bits is refused rather than wrapped into another value.
    if (!leadingInt(token, value))
        throw BadVal(L"integer", token, BadVal::kIntegerCode);
}

void cc_AcqStringHelper::parseDouble(std::wstring& text, double& value)
{
    const std::wstring token = nextToken(text);
    size_t used = 0;
    const double v = ccParseDouble(token, &used);
    if (used == 0 || used != token.size())
        throw BadVal(L"double", token, BadVal::kDoubleCode);
    value = v;
}

void cc_AcqStringHelper::parseBool(std::wstring& text, bool& value)
{
    int32_t v = 0;
    parseInt(text, v);
    if (v != 0 && v != 1)
        throw BadVal(L"boolean", L"non 0/1 value", BadVal::kBooleanCode);
    value = v == 1;
}

void cc_AcqStringHelper::parseQuotedString(std::wstring& text, std::wstring& value)
{
    const std::wstring token = nextToken(text);
    // A lone double quote both begins and ends the token but encloses nothing.
    if (token.size() < 2 || token.front() != L'"' || token.back() != L'"')
        throw BadVal(L"quoted string", token, BadVal::kQuotedStringCode);
    value = token.substr(1, token.size() - 2);
}

int32_t cc_AcqStringHelper::findName(const std::wstring& text, const wchar_t* const* names)
{
    if (!names)
        return -1;
    for (int32_t i = 0; names[i]; ++i)
        if (text == names[i])
            return i;
    return -1;
}

void cc_AcqStringHelper::appendInt(std::wstring& text, int32_t value) { text += ccIntToWString(value); }

void cc_AcqStringHelper::appendBool(std::wstring& text, bool value) { text += value ? L'1' : L'0'; }

void cc_AcqStringHelper::appendDouble(std::wstring& text, double value) { text += ccDoubleToWString(value, 10, true); }

void cc_AcqStringHelper::appendQuoted(std::wstring& text, const std::wstring& value)
{
    text += L'"';
    text += value;
    text += L'"';
}
