#include "std/except/utf16.h"

#include <cstdint>

#include "platform/text.h"

std::u16string ccToUtf16(const std::wstring& text) { return plat::utf16FromWide(text); }

std::wstring ccFromUtf16(const char16_t* units, std::size_t count) { return plat::wideFromUtf16(units, count); }

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
