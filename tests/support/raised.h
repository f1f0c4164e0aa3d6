// How a heap error travels when it is raised, for the error catalogues.
#pragma once
#include <typeinfo>

#include "std/except/except.h"

namespace raised {

// Raises a heap error and reports the dynamic class the handler saw.
template <class Handler>
const std::type_info* raiseCaughtAs(ccException* heap)
{
    try {
        heap->raise();
    } catch (const Handler& e) {
        return &typeid(e);
    } catch (...) {
    }
    return nullptr;
}

inline bool isType(const std::type_info* seen, const std::type_info& expected) { return seen && *seen == expected; }

} // namespace raised
