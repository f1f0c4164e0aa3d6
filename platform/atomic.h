// Full-barrier interlocked operations on plain 32-bit words, for records whose
// counters are ordinary fields rather than std::atomic objects.
#pragma once
#include <cstdint>

namespace plat {

inline int32_t atomicIncrement(int32_t* word)
{
    return __atomic_add_fetch(word, 1, __ATOMIC_SEQ_CST);
}

inline int32_t atomicDecrement(int32_t* word)
{
    return __atomic_sub_fetch(word, 1, __ATOMIC_SEQ_CST);
}

inline int32_t atomicExchange(int32_t* word, int32_t value)
{
    return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
}

inline int32_t atomicLoad(const int32_t* word)
{
    return __atomic_load_n(word, __ATOMIC_SEQ_CST);
}

} // namespace plat
