// Within the folder: the registered format of a name, without reading the
// camera-configuration files first; null when none.
#pragma once
#include <string>
#include <string_view>

class ccVideoFormat;

ccVideoFormat* cf_findRegisteredFormat(std::u16string_view name);

// A format name as wide text; empty for null.
std::wstring cf_wideName(const char16_t* name);
