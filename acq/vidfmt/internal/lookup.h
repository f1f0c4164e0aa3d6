// Within the folder: the registered format of a name, without reading the
// camera-configuration files first; null when none.
#pragma once
#include <string_view>

class ccVideoFormat;

ccVideoFormat* cf_findRegisteredFormat(std::u16string_view name);
