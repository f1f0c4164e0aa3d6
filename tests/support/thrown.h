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

// Throws the status and reports the dynamic class thrown (null if it returned).
inline const std::type_info* thrownBy(csysStatus status, std::wstring* message = nullptr)
{
    try {
        ccThrowStatus(status);
    } catch (const ccException& e) {
        if (message)
            *message = e.message();
        return &typeid(e);
    } catch (const std::bad_alloc& e) {
        return &typeid(e);
    } catch (...) {
        return &typeid(void);
    }
    return nullptr;
}

} // namespace thrown
