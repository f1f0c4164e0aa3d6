#include "std/deferredinit.h"

#include <cstddef>

namespace {

// Nothing escapes a list run: it happens during static initialisation or at
// process exit, where an exception ends the process.
void callDropping(ccDeferredFunction function) noexcept
{
    if (function == nullptr)
        return;
    try {
        function();
    } catch (...) {
    }
}

} // namespace

std::vector<ccDeferredFunction>& ccDeferredInit::list(int index)
{
    static auto* const lists = new std::vector<ccDeferredFunction>[3];
    return lists[index];
}

void ccDeferredInit::add(ccDeferredFunction function)
{
    list(1).push_back(function);
}

void ccDeferredInit::runStartupList()
{
    std::vector<ccDeferredFunction>& entries = list(0);
    // By index and re-reading the size: a call may append, or empty the list
    // by running it again.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ccDeferredFunction function = entries[i];
        entries[i] = nullptr;
        callDropping(function);
    }
    entries.clear();
}

void ccDeferredInit::runShutdownList()
{
    std::vector<ccDeferredFunction>& entries = list(1);
    while (!entries.empty()) {
        const ccDeferredFunction function = entries.back();
        entries.pop_back();
        callDropping(function);
    }
}
