// Allocation through pointer slots and atomic counters.
//
// A slot is the address of a pointer variable that owns a block; every
// function replaces the block held there and leaves it untouched on failure.
#pragma once
#include <cstdint>

#include "system/csys_status.h"

[[nodiscard]] csysStatus csys_atomicIncrement(int32_t* counter, int32_t* newValue);
[[nodiscard]] csysStatus csys_atomicDecrement(int32_t* counter, int32_t* newValue);
[[nodiscard]] csysStatus csys_atomicExchange(int32_t* target, int32_t value, int32_t* previous);

[[nodiscard]] csysStatus csys_alloc(int32_t size, void* slot);
[[nodiscard]] csysStatus csys_allocNonEmpty(int32_t size, void* slot);
[[nodiscard]] csysStatus csys_allocZeroed(int32_t size, void* slot);
[[nodiscard]] csysStatus csys_realloc(int32_t size, void* slot);
[[nodiscard]] csysStatus csys_alloc64(uint32_t sizeLow, int32_t sizeHigh, void* slot);

typedef csysStatus (*csys_allocFunction)(int32_t size, void* slot);
[[nodiscard]] csysStatus csys_alloc64With(uint32_t sizeLow, int32_t sizeHigh, void* slot, csys_allocFunction allocate);

[[nodiscard]] csysStatus csys_free(void* slot);
[[nodiscard]] csysStatus csys_cleanupFree(void* slot);
