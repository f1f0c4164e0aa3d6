#include "std/strings.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>

#include "std/except/utf16.h"

namespace {

// Converts characters until the terminator, maxCharacters or maxBytes,
// handing each character's bytes to put whole.
template <class Put>
void narrowEach(const wchar_t* text, size_t maxCharacters, size_t maxBytes, Put put)
{
    if (text == nullptr)
        return;
    std::mbstate_t state{};
    size_t used = 0;
    for (size_t i = 0; i < maxCharacters && text[i] != 0; ++i) {
        char bytes[MB_LEN_MAX];
        size_t count = std::wcrtomb(bytes, text[i], &state);
        if (count == static_cast<size_t>(-1)) {
            state = std::mbstate_t{};
            bytes[0] = '?';
            count = 1;
        }
        if (count > maxBytes - used)
            return;
        put(bytes, count);
        used += count;
    }
}

size_t narrowInto(const wchar_t* text, size_t maxCharacters, size_t maxBytes, char* buffer, size_t capacity)
{
    if (buffer == nullptr || capacity == 0)
        return 0;
    size_t used = 0;
    narrowEach(text, maxCharacters, std::min(maxBytes, capacity - 1), [&](const char* bytes, size_t count) {
        std::memcpy(buffer + used, bytes, count);
        used += count;
    });
    buffer[used] = 0;
    return used;
}

} // namespace

size_t ccNarrowFromWide(const wchar_t* text, char* buffer, size_t capacity)
{
    return narrowInto(text, SIZE_MAX, SIZE_MAX, buffer, capacity);
}

size_t ccNarrowFromWide(const wchar_t* text, size_t length, char* buffer, size_t capacity)
{
    return narrowInto(text, length, length, buffer, capacity);
}

std::string ccNarrowFromWide(const std::wstring& text)
{
    std::string narrow;
    narrowEach(text.c_str(), text.size(), SIZE_MAX,
               [&](const char* bytes, size_t count) { narrow.append(bytes, count); });
    return narrow;
}

std::wstring ccWideFromNarrow(const char* text)
{
    return text != nullptr ? ccWideFromNarrow(text, std::strlen(text)) : std::wstring();
}

std::wstring ccWideFromNarrow(const char* text, size_t length)
{
    return text != nullptr ? ccWidenBytes(std::string(text, length)) : std::wstring();
}

std::wstring ccWideFromNarrow(const std::string& text)
{
    return ccWidenBytes(text);
}

size_t ccWStrCopy(const wchar_t* text, wchar_t* buffer, size_t capacity)
{
    if (buffer == nullptr || capacity == 0)
        return 0;
    size_t i = 0;
    for (; text != nullptr && i + 1 < capacity && text[i] != 0; ++i)
        buffer[i] = text[i];
    buffer[i] = 0;
    return i;
}

void ccWStrAssign(std::wstring& target, const wchar_t* text)
{
    target = text != nullptr ? text : L"";
}
