#include "std/numtext.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <new>
#include <system_error>

#include "std/except/except.h"

namespace {

const int kMaxDigits = 15;

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool isSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// Digits from position i; answers the position after them.
std::size_t skipDigits(const std::wstring& t, std::size_t i)
{
    while (i < t.size() && isDigit(t[i]))
        ++i;
    return i;
}

// The "C" locale, for conversions that must not follow the process locale.
// Made once and never freed.
locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

} // namespace

double ccParseDouble(const std::wstring& text, std::size_t* count)
{
    if (count)
        *count = 0;
    // Decimal syntax only: the C library would also take hexadecimal and
    // "inf"/"nan", which would change what a setting means.
    std::size_t start = 0;
    while (start < text.size() && isSpace(text[start]))
        ++start;
    std::size_t i = start;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
        ++i;
    const std::size_t intEnd = skipDigits(text, i);
    std::size_t end = intEnd;
    bool anyDigit = intEnd > i;
    if (end < text.size() && text[end] == L'.') {
        const std::size_t fracEnd = skipDigits(text, end + 1);
        anyDigit = anyDigit || fracEnd > end + 1;
        end = fracEnd;
    }
    if (!anyDigit)
        return 0.0;
    if (end < text.size() && (text[end] == L'e' || text[end] == L'E')) {
        std::size_t j = end + 1;
        if (j < text.size() && (text[j] == L'+' || text[j] == L'-'))
            ++j;
        const std::size_t expEnd = skipDigits(text, j);
        if (expEnd > j)
            end = expEnd;
    }
    double value = 0.0;
    try {
        // Every character in the span is ASCII.
        std::string narrow(text.begin() + static_cast<std::ptrdiff_t>(start),
                           text.begin() + static_cast<std::ptrdiff_t>(end));
        value = strtod_l(narrow.c_str(), nullptr, cLocale());
    } catch (const std::bad_alloc&) {
        return 0.0;
    }
    // A number too large for a double is not read as infinity: infinity is
    // not a number here, and "Inf" would not read back.
    if (!std::isfinite(value))
        return 0.0;
    if (count)
        *count = end;
    return value;
}

std::wstring ccIntToWString(int32_t value) { return ccFormatDecimal(value, 0); }

std::wstring ccDoubleToWString(double value, int digits, bool dot)
{
    const int d = digits < 1 ? 1 : (digits > kMaxDigits ? kMaxDigits : digits);
    if (std::isnan(value))
        return L"NaN";
    if (value >= HUGE_VAL)
        return L"Inf";
    if (value <= -HUGE_VAL)
        return L"-Inf";

    // The d digits of the mantissa and the decimal exponent, rounded once
    // from the exact binary value, an exact half to even: a first rounding
    // to 15 digits would turn values just below a half into one. (Scaling by
    // powers of ten and log10 are inexact near powers of ten and overflow
    // for subnormals.)
    int digit[kMaxDigits] = {};
    int e = 0;
    if (value != 0.0) {
        char buf[32];
        const auto res =
            std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, d - 1);
        // "d.ddde[+-]x"; the buffer is large enough for any double.
        int n = 0;
        const char* p = buf;
        for (; p < res.ptr && *p != 'e'; ++p)
            if (*p >= '0' && *p <= '9' && n < d)
                digit[n++] = *p - '0';
        if (p < res.ptr)
            std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, e);
    }

    const int r = ((e % 3) + 3) % 3;
    const int x = e - r;
    wchar_t sep = L'.';
    if (!dot) {
        const char* point = std::localeconv()->decimal_point;
        if (point && *point)
            sep = static_cast<wchar_t>(static_cast<unsigned char>(*point));
    }

    std::wstring out;
    if (value < 0.0)
        out.push_back(L'-');
    for (int k = 0; k < d || k < r + 1; ++k) {
        if (k == r + 1)
            out.push_back(sep);
        out.push_back(static_cast<wchar_t>(L'0' + (k < d ? digit[k] : 0)));
    }
    if (d > r + 1) {
        while (out.back() == L'0')
            out.pop_back();
        if (out.back() == sep)
            out.pop_back();
    }
    if (x != 0)
        out += L"e" + ccIntToWString(x);
    return out;
}
