#include "platform/com/bstr.h"

#include "platform/text.h"

#include <cstdlib>
#include <cstring>

namespace {

// The prefix sits just before the first unit; two zero bytes follow the data.
constexpr size_t kPrefix = sizeof(uint32_t);
constexpr uint64_t kMaxBytes = 0xFFFFFFFFu - kPrefix - 2;

BSTR allocateBytes(const void* data, uint64_t length)
{
    if (length > kMaxBytes) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + length + 2));
    if (!block) return nullptr;
    const uint32_t stored = static_cast<uint32_t>(length);
    std::memcpy(block, &stored, kPrefix);
    if (data)
        std::memcpy(block + kPrefix, data, length);
    else
        std::memset(block + kPrefix, 0, length);
    block[kPrefix + length] = 0;
    block[kPrefix + length + 1] = 0;
    return reinterpret_cast<BSTR>(block + kPrefix);
}

} // namespace

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text) return nullptr;
    size_t length = 0;
    while (text[length]) ++length;
    return allocateBytes(text, uint64_t(length) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    return allocateBytes(text, uint64_t(length) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length)
{
    return allocateBytes(bytes, length);
}

UINT SysStringByteLen(BSTR text)
{
    if (!text) return 0;
    uint32_t length;
    std::memcpy(&length, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
    return length;
}

UINT SysStringLen(BSTR text)
{
    return SysStringByteLen(text) / sizeof(OLECHAR);
}

void SysFreeString(BSTR text)
{
    if (text) std::free(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

void* CoTaskMemAlloc(size_t size)
{
    return std::malloc(size ? size : 1);
}
void* CoTaskMemRealloc(void* block, size_t size)
{
    return std::realloc(block, size ? size : 1);
}
void CoTaskMemFree(void* block)
{
    std::free(block);
}

namespace plat::com {

BSTR bstrFromWide(const std::wstring& text)
{
    const std::u16string units = plat::utf16FromWide(text);
    if (units.size() > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
}

std::wstring wideFromBstr(BSTR text)
{
    return plat::wideFromUtf16(text, SysStringLen(text));
}

} // namespace plat::com
