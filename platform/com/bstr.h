#pragma once
// BSTR: UTF-16 text after a 32-bit byte-length prefix, with a NUL after the
// data; embedded NULs are kept and a null BSTR counts as empty. Allocation
// failure returns null. CoTaskMem blocks are what the runtime hands out as
// plain text (StringFromCLSID, ProgIDFromCLSID).

#include "platform/com/base.h"

#include <string>

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length); // null text: zeroed units
BSTR SysAllocStringByteLen(const char* bytes, UINT length);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
void SysFreeString(BSTR text);

void* CoTaskMemAlloc(size_t size);
void* CoTaskMemRealloc(void* block, size_t size);
void CoTaskMemFree(void* block);

namespace plat::com {
// Conversions at the BSTR boundary (wide text is UTF-32 here).
BSTR bstrFromWide(const std::wstring& text);
std::wstring wideFromBstr(BSTR text);
} // namespace plat::com
