// The event log: one line "<source>: <message>" to stderr, in UTF-8. Line
// breaks inside the message become spaces, so that each event stays one line.
#pragma once
#include <string>

namespace plat {

void reportEvent(const std::wstring& source, const std::wstring& message);

} // namespace plat
