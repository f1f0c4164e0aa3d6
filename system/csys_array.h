// Growable typed arrays of the system layer.
//
// Elements are plain bytes unless the array has an element type, whose
// functions initialise, copy, assign and destroy them. Storage comes from an
// allocator table, by default the layer's own allocation functions. Byte sizes
// stay below 2^31.
#pragma once
#include <cstdint>

#include "system/csys_status.h"

// Allocation through pointer slots, as csys_alloc/csys_realloc/csys_free. A
// null reallocate makes a growing array copy its elements into new storage.
struct csys_allocator {
    csysStatus (*allocate)(int32_t size, void* slot);
    csysStatus (*reallocate)(int32_t size, void* slot);
    csysStatus (*free)(void* slot);
};

// The layer's own allocation functions.
extern const csys_allocator csys_defaultAllocator;

// How an array treats its elements; any function may be null.
//   init:    makes a new element (given the owning array's allocator);
//   copy:    makes an uninitialised destination a copy of the source;
//   assign:  replaces an initialised destination with a copy of the source;
//   destroy: releases what an element holds.
// Without init, a fill of 0..255 is written into new elements; -1 is none.
struct csys_elemType {
    csysStatus (*init)(void* element, const csys_allocator* allocator);
    csysStatus (*copy)(void* destination, const void* source);
    csysStatus (*assign)(void* destination, const void* source);
    csysStatus (*destroy)(void* element);
    int32_t fill;
};

// After csys_arrayFree the three counts read -1 and the pointers are null.
struct csys_array {
    int32_t length;
    int32_t capacity;
    int32_t elementSize;
    void* data;                     // null when there is no storage
    void* end;                      // data + length * elementSize
    const csys_elemType* type;      // null: plain bytes
    const csys_allocator* allocator;
};

// Sets up the record (nothing it held before is released) with count new
// elements. Element size below 1 or a negative count gives csysErrBadSize; an
// element size or byte size of 2^31 or more gives csysErrNoMemory. A failure
// leaves the record freed.
[[nodiscard]] csysStatus csys_arrayCreate(csys_array* array, int64_t count, int64_t elementSize,
                                          const csys_elemType* type);
[[nodiscard]] csysStatus csys_arrayCreateWithAllocator(csys_array* array, int64_t count, int64_t elementSize,
                                                       const csys_elemType* type, const csys_allocator* allocator);
// A new array like the source, holding copies of its elements.
[[nodiscard]] csysStatus csys_arrayCreateCopy(csys_array* array, const csys_array* source);
[[nodiscard]] csysStatus csys_arrayFree(csys_array* array);

// Sets the length: surplus elements are destroyed last first, new ones
// initialised (Resize) or made copies of value (ResizeFill). value may be an
// element of the array itself.
[[nodiscard]] csysStatus csys_arrayResize(csys_array* array, int64_t length);
[[nodiscard]] csysStatus csys_arrayResizeFill(csys_array* array, int64_t length, const void* value);
[[nodiscard]] csysStatus csys_arrayAppend(csys_array* array, const void* value);
[[nodiscard]] csysStatus csys_arrayClear(csys_array* array);

// Makes the array hold copies of the elements in [first, last), which may lie
// inside the array itself; one that runs past its elements gives csysErrNullArg.
[[nodiscard]] csysStatus csys_arrayAssignRange(csys_array* array, const void* first, const void* last);
// Same array: nothing; different element sizes: csysErrFail.
[[nodiscard]] csysStatus csys_arrayAssign(csys_array* destination, const csys_array* source);

// Removes elements, moving the later ones down. The range must lie on element
// boundaries within the array (else csysErrNullArg).
[[nodiscard]] csysStatus csys_arrayEraseRange(csys_array* array, void* first, void* last);
[[nodiscard]] csysStatus csys_arrayErase(csys_array* array, void* element);

[[nodiscard]] csysStatus csys_arraySwap(csys_array* a, csys_array* b);

// A null array, or no output asked for, gives csysErrFail.
[[nodiscard]] csysStatus csys_arrayGetLength(const csys_array* array, int32_t* length);
[[nodiscard]] csysStatus csys_arrayGetBuffer(const csys_array* array, void** data, int32_t* length);
[[nodiscard]] csysStatus csys_arrayGetData(const csys_array* array, void** data, void** end);
