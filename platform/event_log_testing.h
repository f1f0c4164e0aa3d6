// Test seam, not for callers: collects event-log lines instead of writing them.
#pragma once
#include <string>
#include <vector>

namespace plat {

// While collecting, lines (without their line end) are kept instead of written.
void collectEventLines(bool collect);
// The lines collected so far, taken out.
std::vector<std::wstring> takeEventLines();

} // namespace plat
