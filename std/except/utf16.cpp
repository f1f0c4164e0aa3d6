#include "std/except/utf16.h"

#include <cstdint>

namespace {

const char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

} // namespace

std::u16string ccToUtf16(const std::wstring& text)
{
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        // wchar_t is signed here: a negative value is out of range too.
        uint32_t c = static_cast<uint32_t>(wc);
        if (c < 0x10000) {
            out.push_back(isHighSurrogate(c) || isLowSurrogate(c) ? kReplacement : static_cast<char16_t>(c));
        } else if (c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(kReplacement);
        }
    }
    return out;
}

std::wstring ccFromUtf16(const char16_t* units, std::size_t count)
{
    std::wstring out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        uint32_t u = units[i];
        if (isHighSurrogate(u) && i + 1 < count && isLowSurrogate(units[i + 1])) {
            uint32_t low = units[++i];
            out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
        } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
            out.push_back(static_cast<wchar_t>(kReplacement));
        } else {
            out.push_back(static_cast<wchar_t>(u));
        }
    }
    return out;
}

std::wstring ccWidenBytes(const std::string& bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    for (char b : bytes)
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(b)));
    return out;
}

std::string ccNarrowBytes(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        out.push_back(c <= 0xFF ? static_cast<char>(static_cast<unsigned char>(c)) : '?');
    }
    return out;
}
