// Within the folder: the registered format of a name, without reading the
// camera-configuration files first; null when none.
#pragma once
#include <string>
#include <string_view>

class ccVideoFormat;
class cc_VidFmtCameraInfo;

ccVideoFormat* cf_findRegisteredFormat(std::u16string_view name);

// A format name as wide text; empty for null.
std::wstring cf_wideName(const char16_t* name);

// The camera information of the built-in format of that name (made once,
// kept for the life of the process); null for a name no built-in format has.
const cc_VidFmtCameraInfo* cf_builtinCameraInfo(std::u16string_view name);
