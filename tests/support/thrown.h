// What ccThrowStatus makes of a status, for the tests of the throwers.
#pragma once
#include <cstdint>
#include <new>
#include <string>
#include <typeinfo>

#include "std/except/except.h"
#include "std/except/status.h"

namespace thrown {

inline csysStatus st(uint32_t bits) { return static_cast<csysStatus>(bits); }

// Throws the status and reports the dynamic class thrown (null if it returned)
// and its message (what() of a std::bad_alloc).
inline const std::type_info* thrownBy(csysStatus status, std::wstring* message = nullptr)
{
    std::wstring ignored;
    std::wstring& text = message ? *message : ignored;
    try {
        ccThrowStatus(status);
    } catch (const ccException& e) {
        text = e.message();
        return &typeid(e);
    } catch (const std::bad_alloc& e) {
        const std::string what = e.what();
        text.assign(what.begin(), what.end());
        return &typeid(e);
    } catch (...) {
        return &typeid(void);
    }
    return nullptr;
}

} // namespace thrown
