#include "system/csys_array.h"

#include <cstring>
#include <utility>

#include "system/csys_copy.h"
#include "system/csys_internal.h"
#include "system/csys_memory.h"

const csys_allocator csys_defaultAllocator = {&csys_alloc, &csys_realloc, &csys_free};

namespace {

using byte = unsigned char;
using csys_detail::firstFailure;

constexpr int64_t kLimit = int64_t{1} << 31;

uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

byte* elementAt(const csys_array* a, int64_t index)
{
    return static_cast<byte*>(a->data) + index * a->elementSize;
}

void setLength(csys_array* a, int32_t length)
{
    a->length = length;
    a->end = a->data ? elementAt(a, length) : nullptr;
}

void setFreed(csys_array* a)
{
    *a = csys_array{-1, -1, -1, nullptr, nullptr, nullptr, nullptr};
}

csysStatus checkArray(const csys_array* a)
{
    if (!a)
        return csysErrNullArg;
    // A freed or never created record has no element size.
    if (a->elementSize < 1 || a->length < 0 || a->capacity < a->length || !a->allocator)
        return csysErrFail;
    return csysOk;
}

// Bytes of count elements; the caller has kept count within the capacity or
// checked it against kLimit.
int32_t bytesOf(const csys_array* a, int64_t count) { return static_cast<int32_t>(count * a->elementSize); }

// True when [first, last) touches the array's storage.
bool overlapsStorage(const csys_array* a, const void* first, const void* last)
{
    if (!a->data)
        return false;
    uintptr_t lo = address(a->data);
    uintptr_t hi = lo + static_cast<uintptr_t>(a->capacity) * static_cast<uintptr_t>(a->elementSize);
    return address(first) < hi && address(last) > lo;
}

// Length from n up to target, each new element initialised or filled.
csysStatus appendInitialised(csys_array* a, int32_t target)
{
    const csys_elemType* t = a->type;
    if (t && t->init) {
        while (a->length < target) {
            csysStatus st = t->init(elementAt(a, a->length), a->allocator);
            if (st < 0)
                return st;
            setLength(a, a->length + 1);
        }
        return csysOk;
    }
    if (t && t->fill >= 0 && target > a->length)
        std::memset(elementAt(a, a->length), t->fill & 0xFF, static_cast<size_t>(bytesOf(a, target - a->length)));
    setLength(a, target);
    return csysOk;
}

// Appends copies of count consecutive elements; capacity is already there.
csysStatus appendCopies(csys_array* a, const void* source, int32_t count)
{
    const byte* s = static_cast<const byte*>(source);
    if (a->type && a->type->copy) {
        for (int32_t i = 0; i < count; ++i) {
            csysStatus st = a->type->copy(elementAt(a, a->length), s + int64_t{i} * a->elementSize);
            if (st < 0)
                return st;
            setLength(a, a->length + 1);
        }
        return csysOk;
    }
    csysStatus st = csys_memCopy(bytesOf(a, count), s, elementAt(a, a->length));
    if (st < 0)
        return st;
    setLength(a, a->length + count);
    return csysOk;
}

// Appends count copies of one element; capacity is already there.
csysStatus appendRepeated(csys_array* a, const void* value, int32_t count)
{
    if (a->type && a->type->copy) {
        for (int32_t i = 0; i < count; ++i) {
            csysStatus st = a->type->copy(elementAt(a, a->length), value);
            if (st < 0)
                return st;
            setLength(a, a->length + 1);
        }
        return csysOk;
    }
    csysStatus st = csys_memFillPattern(value, a->elementSize, count, elementAt(a, a->length));
    if (st < 0)
        return st;
    setLength(a, a->length + count);
    return csysOk;
}

// Destroys elements from the last down to index target; a failing destroy
// stops with that element still counted.
csysStatus shrinkTo(csys_array* a, int32_t target)
{
    if (a->type && a->type->destroy) {
        while (a->length > target) {
            csysStatus st = a->type->destroy(elementAt(a, a->length - 1));
            if (st < 0)
                return st;
            setLength(a, a->length - 1);
        }
        return csysOk;
    }
    if (target < a->length)
        setLength(a, target);
    return csysOk;
}

// Assigns count elements onto initialised ones, in ascending order, so a
// source above the destination within the same storage is read before it is
// overwritten.
csysStatus assignElements(csys_array* a, byte* destination, const byte* source, int32_t count)
{
    if (count <= 0 || destination == source)
        return csysOk;
    if (a->type && a->type->assign) {
        for (int32_t i = 0; i < count; ++i) {
            int64_t offset = int64_t{i} * a->elementSize;
            csysStatus st = a->type->assign(destination + offset, source + offset);
            if (st < 0)
                return st;
        }
        return csysOk;
    }
    size_t bytes = static_cast<size_t>(bytesOf(a, count));
    if (address(source) < address(destination) + bytes && address(destination) < address(source) + bytes) {
        std::memmove(destination, source, bytes);
        return csysOk;
    }
    return csys_memCopy(static_cast<int32_t>(bytes), source, destination);
}

// An empty record with storage for capacity elements.
csysStatus makeEmpty(csys_array* a, int32_t elementSize, const csys_elemType* type, const csys_allocator* allocator,
                     int64_t capacity)
{
    *a = csys_array{0, 0, elementSize, nullptr, nullptr, type, allocator};
    int64_t bytes = capacity * elementSize;
    if (bytes >= kLimit)
        return csysErrNoMemory;
    if (capacity > 0 || allocator != &csys_defaultAllocator) {
        csysStatus st = allocator->allocate(static_cast<int32_t>(bytes), &a->data);
        if (st < 0)
            return st;
        a->capacity = static_cast<int32_t>(capacity);
        setLength(a, 0);
    }
    return csysOk;
}

// Capacity for at least request elements: the next power of two.
csysStatus reserve(csys_array* a, int64_t request)
{
    if (request <= a->capacity)
        return csysOk;
    int64_t capacity = 1;
    while (capacity < request)
        capacity <<= 1;
    if (capacity * a->elementSize >= kLimit)
        return csysErrNoMemory;
    if (!a->type && a->allocator->reallocate) {
        csysStatus st = a->allocator->reallocate(bytesOf(a, capacity), &a->data);
        if (st < 0)
            return st;
        a->capacity = static_cast<int32_t>(capacity);
        setLength(a, a->length);
        return csysOk;
    }
    csys_array grown;
    csysStatus st = makeEmpty(&grown, a->elementSize, a->type, a->allocator, capacity);
    if (st >= 0)
        st = appendCopies(&grown, a->data, a->length);
    if (st < 0)
        return firstFailure(st, csys_arrayFree(&grown));
    std::swap(*a, grown);
    return csys_arrayFree(&grown);
}

csysStatus checkLength(int64_t length)
{
    if (length < 0)
        return csysErrBadSize;
    if (length >= kLimit)
        return csysErrNoMemory;
    return csysOk;
}

} // namespace

csysStatus csys_arrayCreateWithAllocator(csys_array* array, int64_t count, int64_t elementSize,
                                         const csys_elemType* type, const csys_allocator* allocator)
{
    if (!array)
        return csysErrNullArg;
    if (!allocator)
        allocator = &csys_defaultAllocator;
    csysStatus st = csysOk;
    if (elementSize >= kLimit)
        st = csysErrNoMemory;
    else if (elementSize < 1 || count < 0)
        st = csysErrBadSize;
    else if (count >= kLimit)
        st = csysErrNoMemory;
    if (st < 0) {
        setFreed(array);
        return st;
    }
    st = makeEmpty(array, static_cast<int32_t>(elementSize), type, allocator, count);
    if (st >= 0)
        st = appendInitialised(array, static_cast<int32_t>(count));
    if (st < 0)
        return firstFailure(st, csys_arrayFree(array));
    return st;
}

csysStatus csys_arrayCreate(csys_array* array, int64_t count, int64_t elementSize, const csys_elemType* type)
{
    return csys_arrayCreateWithAllocator(array, count, elementSize, type, &csys_defaultAllocator);
}

csysStatus csys_arrayCreateCopy(csys_array* array, const csys_array* source)
{
    if (!array)
        return csysErrNullArg;
    csysStatus st = checkArray(source);
    if (st < 0)
        return st;
    if (array == source)
        return csysErrFail; // would overwrite the source
    st = makeEmpty(array, source->elementSize, source->type, source->allocator, source->length);
    if (st >= 0)
        st = appendCopies(array, source->data, source->length);
    if (st < 0)
        return firstFailure(st, csys_arrayFree(array));
    return st;
}

csysStatus csys_arrayFree(csys_array* array)
{
    if (!array)
        return csysErrNullArg;
    // Everything is released even when a destroy fails; the first failure
    // is reported.
    csysStatus result = csysOk;
    if (array->type && array->type->destroy && array->elementSize > 0) {
        for (int32_t i = array->length - 1; i >= 0; --i) {
            csysStatus st = array->type->destroy(elementAt(array, i));
            if (st < 0 && result >= 0)
                result = st;
        }
    }
    if (array->data && array->allocator && array->allocator->free) {
        csysStatus st = array->allocator->free(&array->data);
        if (st < 0 && result >= 0)
            result = st;
    }
    setFreed(array);
    return result;
}

csysStatus csys_arrayResize(csys_array* array, int64_t length)
{
    csysStatus st = checkArray(array);
    if (st >= 0)
        st = checkLength(length);
    if (st >= 0)
        st = reserve(array, length);
    if (st < 0)
        return st;
    int32_t target = static_cast<int32_t>(length);
    return target < array->length ? shrinkTo(array, target) : appendInitialised(array, target);
}

csysStatus csys_arrayResizeFill(csys_array* array, int64_t length, const void* value)
{
    csysStatus st = checkArray(array);
    if (st >= 0)
        st = checkLength(length);
    if (st < 0)
        return st;
    int32_t target = static_cast<int32_t>(length);
    if (target <= array->length)
        return shrinkTo(array, target);
    if (!value)
        return csysErrNullArg;
    // An element of the array itself is found again at the same offset once
    // the storage has moved.
    bool inside = address(value) >= address(array->data) && address(value) < address(array->end);
    uintptr_t offset = address(value) - address(array->data);
    st = reserve(array, length);
    if (st < 0)
        return st;
    if (inside)
        value = static_cast<const byte*>(array->data) + offset;
    return appendRepeated(array, value, target - array->length);
}

csysStatus csys_arrayAppend(csys_array* array, const void* value)
{
    csysStatus st = checkArray(array);
    if (st < 0)
        return st;
    return csys_arrayResizeFill(array, int64_t{array->length} + 1, value);
}

csysStatus csys_arrayClear(csys_array* array) { return csys_arrayResize(array, 0); }

csysStatus csys_arrayAssignRange(csys_array* array, const void* first, const void* last)
{
    csysStatus st = checkArray(array);
    if (st < 0)
        return st;
    if (first == array->data && last == array->end)
        return csysOk;
    if (address(last) < address(first))
        return csysErrBadSize;
    if (first != last && (!first || !last))
        return csysErrNullArg;
    uintptr_t bytes = address(last) - address(first);
    if (bytes >= static_cast<uintptr_t>(kLimit))
        return csysErrNoMemory;
    int32_t count = static_cast<int32_t>(bytes / static_cast<uintptr_t>(array->elementSize));
    if (count == 0)
        return csys_arrayResize(array, 0);

    // A range within the elements is read upwards while it is assigned down
    // onto the start, and it never makes the storage move. One that runs
    // past the elements would be read from storage being freed or written,
    // and one off the element boundaries would copy halves of two elements.
    if (overlapsStorage(array, first, last)) {
        uintptr_t lo = address(array->data);
        uintptr_t size = static_cast<uintptr_t>(array->elementSize);
        if (address(first) < lo || address(last) > address(array->end) || (address(first) - lo) % size != 0 ||
            (address(last) - lo) % size != 0)
            return csysErrNullArg;
    }
    const byte* source = static_cast<const byte*>(first);
    if (count <= array->length) {
        st = assignElements(array, static_cast<byte*>(array->data), source, count);
        return st < 0 ? st : shrinkTo(array, count);
    }
    if (count > array->capacity && (!array->allocator->reallocate || array->type)) {
        st = shrinkTo(array, 0);
        if (st >= 0)
            st = array->allocator->free(&array->data);
        if (st < 0)
            return st;
        array->capacity = 0;
        setLength(array, 0);
        st = array->allocator->allocate(bytesOf(array, count), &array->data);
        if (st < 0)
            return st;
        array->capacity = count;
        setLength(array, 0);
        return appendCopies(array, source, count);
    }
    if (count > array->capacity) {
        st = array->allocator->reallocate(bytesOf(array, count), &array->data);
        if (st < 0)
            return st;
        array->capacity = count;
        setLength(array, array->length);
    }
    int32_t existing = array->length;
    st = assignElements(array, static_cast<byte*>(array->data), source, existing);
    if (st < 0)
        return st;
    return appendCopies(array, source + int64_t{existing} * array->elementSize, count - existing);
}

csysStatus csys_arrayAssign(csys_array* destination, const csys_array* source)
{
    if (!destination || !source)
        return csysErrNullArg;
    if (destination == source)
        return csysOk;
    if (destination->elementSize != source->elementSize)
        return csysErrFail;
    return csys_arrayAssignRange(destination, source->data, source->end);
}

csysStatus csys_arrayEraseRange(csys_array* array, void* first, void* last)
{
    csysStatus st = checkArray(array);
    if (st < 0)
        return st;
    uintptr_t lo = address(array->data);
    uintptr_t f = address(first);
    uintptr_t l = address(last);
    uintptr_t size = static_cast<uintptr_t>(array->elementSize);
    if (f < lo || l < f || l > address(array->end) || (f - lo) % size != 0 || (l - f) % size != 0)
        return csysErrNullArg;
    int32_t erased = static_cast<int32_t>((l - f) / size);
    if (erased == 0)
        return csysOk;
    int32_t after = static_cast<int32_t>((address(array->end) - l) / size);
    st = assignElements(array, static_cast<byte*>(first), static_cast<const byte*>(last), after);
    if (st < 0)
        return st;
    return shrinkTo(array, array->length - erased);
}

csysStatus csys_arrayErase(csys_array* array, void* element)
{
    csysStatus st = checkArray(array);
    if (st < 0)
        return st;
    if (!element)
        return csysErrNullArg;
    // Formed as an integer: a stray address must not overflow a pointer.
    void* last = reinterpret_cast<void*>(address(element) + static_cast<uintptr_t>(array->elementSize));
    if (address(element) >= address(array->end))
        return csysErrNullArg;
    return csys_arrayEraseRange(array, element, last);
}

csysStatus csys_arraySwap(csys_array* a, csys_array* b)
{
    if (!a || !b)
        return csysErrNullArg;
    std::swap(*a, *b);
    return csysOk;
}

csysStatus csys_arrayGetLength(const csys_array* array, int32_t* length)
{
    if (!array || !length)
        return csysErrFail;
    *length = array->length;
    return csysOk;
}

csysStatus csys_arrayGetBuffer(const csys_array* array, void** data, int32_t* length)
{
    if (!array || (!data && !length))
        return csysErrFail;
    if (data)
        *data = array->data;
    if (length)
        *length = array->length;
    return csysOk;
}

csysStatus csys_arrayGetData(const csys_array* array, void** data, void** end)
{
    if (!array || (!data && !end))
        return csysErrFail;
    if (data)
        *data = array->data;
    if (end)
        *end = array->end;
    return csysOk;
}
