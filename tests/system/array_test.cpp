#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "system/csys_array.h"

namespace {

// ---- An element that owns heap memory, so that a copy made from a freed
// element or a double destroy shows up under the address sanitizer. Every
// call is logged, and one call can be made to fail.

struct Boxed {
    int64_t* value;
};

std::vector<std::string> gLog;
int gFailAt = -1; // fails the call with this number (counted from 0)
int gCalls = 0;

bool failNow()
{
    return gCalls++ == gFailAt;
}

csysStatus boxedInit(void* e, const csys_allocator*)
{
    if (failNow())
        return csysErrNoMemory;
    static_cast<Boxed*>(e)->value = new int64_t(0);
    gLog.push_back("init");
    return csysOk;
}

csysStatus boxedCopy(void* d, const void* s)
{
    if (failNow())
        return csysErrNoMemory;
    static_cast<Boxed*>(d)->value = new int64_t(*static_cast<const Boxed*>(s)->value);
    gLog.push_back("copy " + std::to_string(*static_cast<const Boxed*>(s)->value));
    return csysOk;
}

csysStatus boxedAssign(void* d, const void* s)
{
    if (failNow())
        return csysErrNoMemory;
    *static_cast<Boxed*>(d)->value = *static_cast<const Boxed*>(s)->value;
    return csysOk;
}

csysStatus boxedDestroy(void* e)
{
    if (failNow())
        return csysErrFail;
    Boxed* b = static_cast<Boxed*>(e);
    gLog.push_back("destroy " + std::to_string(*b->value));
    delete b->value;
    b->value = nullptr;
    return csysOk;
}

const csys_elemType kBoxed = {&boxedInit, &boxedCopy, &boxedAssign, &boxedDestroy, -1};

class ArrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gLog.clear();
        gFailAt = -1;
        gCalls = 0;
    }
};

int64_t boxedAt(const csys_array& a, int i) { return *static_cast<Boxed*>(a.data)[i].value; }

std::vector<int64_t> boxedValues(const csys_array& a)
{
    std::vector<int64_t> v;
    for (int i = 0; i < a.length; ++i)
        v.push_back(boxedAt(a, i));
    return v;
}

// A boxed array holding 0, 1, ..., n-1.
void makeBoxed(csys_array* a, int n)
{
    ASSERT_EQ(csys_arrayCreate(a, n, sizeof(Boxed), &kBoxed), csysOk);
    for (int i = 0; i < n; ++i)
        *static_cast<Boxed*>(a->data)[i].value = i;
}

std::vector<int32_t> ints(const csys_array& a)
{
    const int32_t* p = static_cast<const int32_t*>(a.data);
    return std::vector<int32_t>(p, p + a.length);
}

void makeInts(csys_array* a, std::initializer_list<int32_t> values)
{
    ASSERT_EQ(csys_arrayCreate(a, 0, 4, nullptr), csysOk);
    for (int32_t v : values)
        ASSERT_EQ(csys_arrayAppend(a, &v), csysOk);
}

void expectConsistent(const csys_array& a)
{
    EXPECT_LE(a.length, a.capacity);
    EXPECT_EQ(a.end, a.data ? static_cast<void*>(static_cast<char*>(a.data) + a.length * a.elementSize) : nullptr);
}

// ---- Creation, growth and freeing

TEST_F(ArrayTest, CreateEmptyAllocatesNothing)
{
    csys_array a;
    ASSERT_EQ(csys_arrayCreate(&a, 0, 4, nullptr), csysOk);
    EXPECT_EQ(a.length, 0);
    EXPECT_EQ(a.capacity, 0);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.end, nullptr);
    EXPECT_EQ(a.allocator, &csys_defaultAllocator);
    ASSERT_EQ(csys_arrayFree(&a), csysOk);
    EXPECT_EQ(a.length, -1);
    EXPECT_EQ(a.capacity, -1);
    EXPECT_EQ(a.elementSize, -1);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.type, nullptr);
    EXPECT_EQ(a.allocator, nullptr);
    // A freed record refuses work but may be freed again.
    EXPECT_EQ(csys_arrayResize(&a, 1), csysErrFail);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
}

TEST_F(ArrayTest, CapacityGrowsToPowersOfTwo)
{
    csys_array a;
    ASSERT_EQ(csys_arrayCreate(&a, 5, 4, nullptr), csysOk);
    EXPECT_EQ(a.capacity, 5);
    ASSERT_EQ(csys_arrayResize(&a, 6), csysOk);
    EXPECT_EQ(a.capacity, 8);
    ASSERT_EQ(csys_arrayResize(&a, 2), csysOk);
    EXPECT_EQ(a.capacity, 8);
    ASSERT_EQ(csys_arrayResize(&a, 9), csysOk);
    EXPECT_EQ(a.capacity, 16);
    expectConsistent(a);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);

    ASSERT_EQ(csys_arrayCreate(&a, 0, 4, nullptr), csysOk);
    std::vector<int32_t> seen;
    for (int32_t v = 0; v < 5; ++v) {
        ASSERT_EQ(csys_arrayAppend(&a, &v), csysOk);
        seen.push_back(a.capacity);
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 4, 4, 8}));
    EXPECT_EQ(ints(a), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
}

TEST_F(ArrayTest, BadSizes)
{
    csys_array a;
    EXPECT_EQ(csys_arrayCreate(&a, -1, 4, nullptr), csysErrBadSize);
    EXPECT_EQ(a.length, -1);
    EXPECT_EQ(csys_arrayCreate(&a, 1, 0, nullptr), csysErrBadSize);
    EXPECT_EQ(csys_arrayCreate(&a, 1, int64_t{1} << 31, nullptr), csysErrNoMemory);
    EXPECT_EQ(csys_arrayCreate(&a, int64_t{1} << 29, 4, nullptr), csysErrNoMemory);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(csys_arrayCreate(nullptr, 1, 4, nullptr), csysErrNullArg);

    ASSERT_EQ(csys_arrayCreate(&a, 3, 4, nullptr), csysOk);
    EXPECT_EQ(csys_arrayResize(&a, -1), csysErrBadSize);
    EXPECT_EQ(csys_arrayResize(&a, int64_t{1} << 31), csysErrNoMemory);
    // A capacity rounded up to 2^31 bytes is refused, and nothing changes.
    EXPECT_EQ(csys_arrayResize(&a, (int64_t{1} << 29) + 1), csysErrNoMemory);
    EXPECT_EQ(a.length, 3);
    EXPECT_EQ(a.capacity, 3);
    int32_t v = 1;
    EXPECT_EQ(csys_arrayResizeFill(&a, -5, &v), csysErrBadSize);
    EXPECT_EQ(csys_arrayResizeFill(&a, 5, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
}

TEST_F(ArrayTest, FillByteInitialisesNewElements)
{
    const csys_elemType zeroed = {nullptr, nullptr, nullptr, nullptr, 0};
    csys_array a;
    ASSERT_EQ(csys_arrayCreate(&a, 4, 4, &zeroed), csysOk);
    std::memset(a.data, 0xFF, 16);
    ASSERT_EQ(csys_arrayResize(&a, 1), csysOk);
    ASSERT_EQ(csys_arrayResize(&a, 4), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{-1, 0, 0, 0}));
    EXPECT_EQ(csys_arrayFree(&a), csysOk);

    // Without a fill the bytes stay as they were.
    ASSERT_EQ(csys_arrayCreate(&a, 4, 4, nullptr), csysOk);
    std::memset(a.data, 0x11, 16);
    ASSERT_EQ(csys_arrayResize(&a, 0), csysOk);
    ASSERT_EQ(csys_arrayResize(&a, 2), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{0x11111111, 0x11111111}));
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
}

TEST_F(ArrayTest, ElementFunctionsAndTheirOrder)
{
    csys_array a;
    makeBoxed(&a, 3);
    EXPECT_EQ(gLog, (std::vector<std::string>{"init", "init", "init"}));
    gLog.clear();
    ASSERT_EQ(csys_arrayResize(&a, 1), csysOk);
    EXPECT_EQ(gLog, (std::vector<std::string>{"destroy 2", "destroy 1"}));
    gLog.clear();
    ASSERT_EQ(csys_arrayResize(&a, 3), csysOk);
    *static_cast<Boxed*>(a.data)[1].value = 11;
    *static_cast<Boxed*>(a.data)[2].value = 22;
    gLog.clear();
    ASSERT_EQ(csys_arrayFree(&a), csysOk);
    EXPECT_EQ(gLog, (std::vector<std::string>{"destroy 22", "destroy 11", "destroy 0"}));
}

TEST_F(ArrayTest, FailingInitKeepsTheElementsMade)
{
    csys_array a;
    makeBoxed(&a, 0);
    gFailAt = gCalls + 2;
    EXPECT_EQ(csys_arrayResize(&a, 5), csysErrNoMemory);
    EXPECT_EQ(a.length, 2);
    expectConsistent(a);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);

    // Creation that fails frees what it made.
    gCalls = 0;
    gFailAt = 1;
    gLog.clear();
    EXPECT_EQ(csys_arrayCreate(&a, 3, sizeof(Boxed), &kBoxed), csysErrNoMemory);
    EXPECT_EQ(a.length, -1);
    EXPECT_EQ(gLog, (std::vector<std::string>{"init", "destroy 0"}));
}

TEST_F(ArrayTest, FailingDestroyStopsTheShrink)
{
    csys_array a;
    makeBoxed(&a, 5);
    gFailAt = gCalls + 1; // the second destroy: element 3
    EXPECT_EQ(csys_arrayResize(&a, 1), csysErrFail);
    EXPECT_EQ(a.length, 4);
    expectConsistent(a);
    gFailAt = -1;
    ASSERT_EQ(csys_arrayFree(&a), csysOk);
}

TEST_F(ArrayTest, FreeReleasesEverythingPastAFailingDestroy)
{
    csys_array a;
    makeBoxed(&a, 3);
    int64_t* kept = static_cast<Boxed*>(a.data)[2].value;
    gLog.clear();
    gFailAt = gCalls; // the last element refuses
    EXPECT_EQ(csys_arrayFree(&a), csysErrFail);
    EXPECT_EQ(gLog, (std::vector<std::string>{"destroy 1", "destroy 0"}));
    EXPECT_EQ(a.length, -1);
    EXPECT_EQ(a.data, nullptr);
    delete kept; // what the refusing destroy kept
}

// ---- Allocators

int gAllocations = 0;
int gReallocations = 0;

csysStatus countingAlloc(int32_t size, void* slot)
{
    ++gAllocations;
    return csys_defaultAllocator.allocate(size, slot);
}

csysStatus countingRealloc(int32_t size, void* slot)
{
    ++gReallocations;
    return csys_defaultAllocator.reallocate(size, slot);
}

csysStatus plainFree(void* slot) { return csys_defaultAllocator.free(slot); }

TEST_F(ArrayTest, GrowthReallocatesOrCopies)
{
    const csys_allocator withRealloc = {&countingAlloc, &countingRealloc, &plainFree};
    const csys_allocator withoutRealloc = {&countingAlloc, nullptr, &plainFree};
    for (const csys_allocator* alloc : {&withRealloc, &withoutRealloc}) {
        gAllocations = gReallocations = 0;
        csys_array a;
        ASSERT_EQ(csys_arrayCreateWithAllocator(&a, 0, 4, nullptr, alloc), csysOk);
        EXPECT_EQ(gAllocations, 1); // any count with an allocator of its own
        for (int32_t v = 0; v < 9; ++v)
            ASSERT_EQ(csys_arrayAppend(&a, &v), csysOk);
        EXPECT_EQ(ints(a), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(a.capacity, 16);
        if (alloc == &withRealloc) {
            EXPECT_EQ(gReallocations, 5);
            EXPECT_EQ(gAllocations, 1);
        } else {
            EXPECT_EQ(gReallocations, 0);
            EXPECT_EQ(gAllocations, 6);
        }
        EXPECT_EQ(csys_arrayFree(&a), csysOk);
    }

    // Typed elements always move through copies.
    csys_array b;
    makeBoxed(&b, 3);
    gLog.clear();
    ASSERT_EQ(csys_arrayResize(&b, 4), csysOk);
    EXPECT_EQ(gLog, (std::vector<std::string>{"copy 0", "copy 1", "copy 2", "destroy 2", "destroy 1", "destroy 0",
                                              "init"}));
    EXPECT_EQ(boxedValues(b), (std::vector<int64_t>{0, 1, 2, 0}));
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

TEST_F(ArrayTest, FailedGrowthLeavesTheArrayAsItWas)
{
    csys_array a;
    makeBoxed(&a, 3);
    void* data = a.data;
    gFailAt = gCalls + 1; // the second copy into the new storage
    EXPECT_EQ(csys_arrayResize(&a, 4), csysErrNoMemory);
    EXPECT_EQ(a.data, data);
    EXPECT_EQ(a.capacity, 3);
    EXPECT_EQ(boxedValues(a), (std::vector<int64_t>{0, 1, 2}));
    gFailAt = -1;

    // Shrinking through ResizeFill needs no value.
    ASSERT_EQ(csys_arrayResizeFill(&a, 1, nullptr), csysOk);
    EXPECT_EQ(boxedValues(a), (std::vector<int64_t>{0}));
    ASSERT_EQ(csys_arrayClear(&a), csysOk);
    EXPECT_EQ(a.length, 0);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
}

// ---- Copies and assignment

TEST_F(ArrayTest, CreateCopyIsDeep)
{
    csys_array a, b;
    makeBoxed(&a, 4);
    ASSERT_EQ(csys_arrayCreateCopy(&b, &a), csysOk);
    EXPECT_EQ(b.capacity, 4);
    EXPECT_EQ(b.type, &kBoxed);
    *static_cast<Boxed*>(a.data)[0].value = 99;
    EXPECT_EQ(boxedValues(b), (std::vector<int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(csys_arrayCreateCopy(&a, &a), csysErrFail);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
    EXPECT_EQ(csys_arrayFree(&b), csysOk);

    csys_array empty, copy;
    ASSERT_EQ(csys_arrayCreate(&empty, 0, 8, nullptr), csysOk);
    ASSERT_EQ(csys_arrayCreateCopy(&copy, &empty), csysOk);
    EXPECT_EQ(copy.data, nullptr);
    EXPECT_EQ(copy.elementSize, 8);
    EXPECT_EQ(csys_arrayFree(&empty), csysOk);
    EXPECT_EQ(csys_arrayFree(&copy), csysOk);
}

TEST_F(ArrayTest, AssignBetweenArrays)
{
    csys_array a, b, c;
    makeInts(&a, {1, 2, 3});
    makeInts(&b, {4, 5, 6, 7, 8, 9, 10});
    ASSERT_EQ(csys_arrayCreate(&c, 0, 2, nullptr), csysOk);
    EXPECT_EQ(csys_arrayAssign(&a, &a), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(csys_arrayAssign(&a, &c), csysErrFail);

    ASSERT_EQ(csys_arrayAssign(&a, &b), csysOk); // grows
    EXPECT_EQ(ints(a), (std::vector<int32_t>{4, 5, 6, 7, 8, 9, 10}));
    expectConsistent(a);
    const int32_t two[] = {0, -1};
    ASSERT_EQ(csys_arrayAssignRange(&a, two, two + 2), csysOk); // shrinks
    EXPECT_EQ(ints(a), (std::vector<int32_t>{0, -1}));
    ASSERT_EQ(csys_arrayAssignRange(&a, two, two), csysOk);
    EXPECT_EQ(a.length, 0);
    EXPECT_EQ(csys_arrayAssignRange(&a, two + 2, two), csysErrBadSize);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
    EXPECT_EQ(csys_arrayFree(&c), csysOk);
}

TEST_F(ArrayTest, AssignTypedElements)
{
    csys_array a, b;
    makeBoxed(&a, 2);
    makeBoxed(&b, 5);
    *static_cast<Boxed*>(b.data)[4].value = 44;
    // Beyond the capacity the old elements go and copies of all come in.
    gLog.clear();
    ASSERT_EQ(csys_arrayAssign(&a, &b), csysOk);
    EXPECT_EQ(boxedValues(a), (std::vector<int64_t>{0, 1, 2, 3, 44}));
    EXPECT_EQ(gLog.front(), "destroy 1");
    ASSERT_EQ(csys_arrayResize(&a, 2), csysOk);
    // Within the capacity: assigned onto the existing ones, the rest copied.
    gLog.clear();
    ASSERT_EQ(csys_arrayAssign(&a, &b), csysOk);
    EXPECT_EQ(gLog, (std::vector<std::string>{"copy 2", "copy 3", "copy 44"}));
    EXPECT_EQ(boxedValues(a), (std::vector<int64_t>{0, 1, 2, 3, 44}));
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

// ---- Sources inside the array itself

TEST_F(ArrayTest, AppendOwnElementWhileGrowing)
{
    csys_array a;
    makeInts(&a, {10, 20, 30, 40});
    ASSERT_EQ(a.capacity, a.length);
    ASSERT_EQ(csys_arrayAppend(&a, static_cast<int32_t*>(a.data) + 1), csysOk);
    ASSERT_EQ(csys_arrayResizeFill(&a, 40, static_cast<int32_t*>(a.data) + 3), csysOk);
    std::vector<int32_t> v = ints(a);
    ASSERT_EQ(v.size(), 40u);
    EXPECT_EQ(v[4], 20);
    for (size_t i = 5; i < v.size(); ++i)
        ASSERT_EQ(v[i], 40) << i;
    EXPECT_EQ(csys_arrayFree(&a), csysOk);

    csys_array b;
    makeBoxed(&b, 4);
    ASSERT_EQ(b.capacity, b.length);
    for (int round = 0; round < 3; ++round)
        ASSERT_EQ(csys_arrayAppend(&b, static_cast<Boxed*>(b.data) + b.length - 1), csysOk);
    ASSERT_EQ(csys_arrayResizeFill(&b, 20, static_cast<Boxed*>(b.data)), csysOk);
    std::vector<int64_t> expected = {0, 1, 2, 3, 3, 3, 3};
    expected.resize(20, 0);
    EXPECT_EQ(boxedValues(b), expected);
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

TEST_F(ArrayTest, AssignRangeOfItself)
{
    csys_array a;
    makeInts(&a, {0, 1, 2, 3, 4, 5});
    int32_t* p = static_cast<int32_t*>(a.data);
    ASSERT_EQ(csys_arrayAssignRange(&a, p + 1, p + 4), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{1, 2, 3}));
    p = static_cast<int32_t*>(a.data);
    ASSERT_EQ(csys_arrayAssignRange(&a, p, p + 2), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{1, 2}));
    ASSERT_EQ(csys_arrayAssignRange(&a, a.data, a.end), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(csys_arrayFree(&a), csysOk);

    csys_array b;
    makeBoxed(&b, 6);
    Boxed* q = static_cast<Boxed*>(b.data);
    ASSERT_EQ(csys_arrayAssignRange(&b, q + 2, q + 6), csysOk);
    EXPECT_EQ(boxedValues(b), (std::vector<int64_t>{2, 3, 4, 5}));
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

TEST_F(ArrayTest, AssignRangeReachingPastTheElementsIsRefused)
{
    csys_array a;
    makeInts(&a, {1, 2, 3});
    ASSERT_EQ(csys_arrayResize(&a, 2), csysOk);
    int32_t* p = static_cast<int32_t*>(a.data);
    EXPECT_EQ(csys_arrayAssignRange(&a, p + 1, p + 3), csysErrNullArg);
    EXPECT_EQ(csys_arrayAssignRange(&a, p, p + a.capacity), csysErrNullArg);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
}

TEST_F(ArrayTest, AssignRangeOfItselfOffTheElementBoundariesIsRefused)
{
    csys_array a;
    makeInts(&a, {0x11111111, 0x22222222, 0x33333333, 0x44444444});
    char* p = static_cast<char*>(a.data);
    // One element's worth, but straddling two.
    EXPECT_EQ(csys_arrayAssignRange(&a, p + 3, p + 7), csysErrNullArg);
    EXPECT_EQ(csys_arrayAssignRange(&a, p + 1, p + 9), csysErrNullArg);
    // A whole first element with a ragged end.
    EXPECT_EQ(csys_arrayAssignRange(&a, p, p + 6), csysErrNullArg);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{0x11111111, 0x22222222, 0x33333333, 0x44444444}));
    EXPECT_EQ(csys_arrayFree(&a), csysOk);

    // Typed elements would be handed a pointer built from two halves.
    csys_array b;
    makeBoxed(&b, 3);
    char* q = static_cast<char*>(b.data);
    gLog.clear();
    EXPECT_EQ(csys_arrayAssignRange(&b, q + 4, q + 4 + sizeof(Boxed)), csysErrNullArg);
    EXPECT_TRUE(gLog.empty());
    EXPECT_EQ(boxedValues(b), (std::vector<int64_t>{0, 1, 2}));
    EXPECT_EQ(csys_arrayFree(&b), csysOk);

    // Outside the storage the count is the whole elements the range holds.
    const int32_t outside[2] = {7, 8};
    csys_array c;
    makeInts(&c, {1});
    ASSERT_EQ(csys_arrayAssignRange(&c, outside, reinterpret_cast<const char*>(outside) + 6), csysOk);
    EXPECT_EQ(ints(c), (std::vector<int32_t>{7}));
    EXPECT_EQ(csys_arrayFree(&c), csysOk);
}

// Arrays of arrays: an element owns storage, so a byte-for-byte stand-in for
// an element would not survive the old element's destruction.
csysStatus innerInit(void* e, const csys_allocator*)
{
    return csys_arrayCreate(static_cast<csys_array*>(e), 0, 4, nullptr);
}
csysStatus innerCopy(void* d, const void* s)
{
    return csys_arrayCreateCopy(static_cast<csys_array*>(d), static_cast<const csys_array*>(s));
}
csysStatus innerAssign(void* d, const void* s)
{
    return csys_arrayAssign(static_cast<csys_array*>(d), static_cast<const csys_array*>(s));
}
csysStatus innerDestroy(void* e) { return csys_arrayFree(static_cast<csys_array*>(e)); }
const csys_elemType kArrayOfArrays = {&innerInit, &innerCopy, &innerAssign, &innerDestroy, -1};

TEST_F(ArrayTest, NestedArraysCopyThroughTheirElementFunctions)
{
    csys_array outer;
    ASSERT_EQ(csys_arrayCreate(&outer, 2, sizeof(csys_array), &kArrayOfArrays), csysOk);
    csys_array* inner = static_cast<csys_array*>(outer.data);
    EXPECT_EQ(inner[0].length, 0);
    EXPECT_EQ(inner[0].elementSize, 4);
    makeInts(&inner[1], {7, 8, 9}); // replaces the empty array made by init
    ASSERT_EQ(outer.capacity, outer.length);

    ASSERT_EQ(csys_arrayAppend(&outer, static_cast<csys_array*>(outer.data) + 1), csysOk);
    inner = static_cast<csys_array*>(outer.data);
    EXPECT_EQ(ints(inner[2]), (std::vector<int32_t>{7, 8, 9}));
    EXPECT_NE(inner[2].data, inner[1].data);

    csys_array copy;
    ASSERT_EQ(csys_arrayCreateCopy(&copy, &outer), csysOk);
    ASSERT_EQ(csys_arrayErase(&outer, static_cast<csys_array*>(outer.data) + 0), csysOk);
    inner = static_cast<csys_array*>(outer.data);
    EXPECT_EQ(outer.length, 2);
    EXPECT_EQ(ints(inner[0]), (std::vector<int32_t>{7, 8, 9}));
    EXPECT_EQ(static_cast<csys_array*>(copy.data)[0].length, 0);
    EXPECT_EQ(csys_arrayFree(&copy), csysOk);
    EXPECT_EQ(csys_arrayFree(&outer), csysOk);
}

// ---- Erasing, swapping and the getters

TEST_F(ArrayTest, Erase)
{
    csys_array a;
    makeInts(&a, {0, 1, 2, 3, 4, 5, 6});
    int32_t* p = static_cast<int32_t*>(a.data);
    ASSERT_EQ(csys_arrayErase(&a, p + 2), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{0, 1, 3, 4, 5, 6}));
    p = static_cast<int32_t*>(a.data);
    ASSERT_EQ(csys_arrayEraseRange(&a, p + 1, p + 4), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{0, 5, 6}));
    expectConsistent(a);

    p = static_cast<int32_t*>(a.data);
    char* bytes = static_cast<char*>(a.data);
    int32_t outside = 0;
    EXPECT_EQ(csys_arrayErase(&a, p + 3), csysErrNullArg); // the end
    EXPECT_EQ(csys_arrayErase(&a, &outside), csysErrNullArg);
    EXPECT_EQ(csys_arrayErase(&a, bytes + 2), csysErrNullArg);
    EXPECT_EQ(csys_arrayEraseRange(&a, p + 2, p + 1), csysErrNullArg);
    EXPECT_EQ(csys_arrayEraseRange(&a, p + 2, p + 4), csysErrNullArg);
    EXPECT_EQ(csys_arrayEraseRange(&a, p + 1, p + 1), csysOk);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{0, 5, 6}));
    EXPECT_EQ(csys_arrayFree(&a), csysOk);

    csys_array b;
    makeBoxed(&b, 5);
    gLog.clear();
    Boxed* q = static_cast<Boxed*>(b.data);
    ASSERT_EQ(csys_arrayEraseRange(&b, q + 1, q + 3), csysOk);
    EXPECT_EQ(boxedValues(b), (std::vector<int64_t>{0, 3, 4}));
    EXPECT_EQ(gLog, (std::vector<std::string>{"destroy 4", "destroy 3"}));
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

TEST_F(ArrayTest, SwapAndGetters)
{
    csys_array a, b;
    makeInts(&a, {1});
    ASSERT_EQ(csys_arrayCreate(&b, 3, 2, nullptr), csysOk);
    void* aData = a.data;
    ASSERT_EQ(csys_arraySwap(&a, &b), csysOk);
    EXPECT_EQ(b.data, aData);
    EXPECT_EQ(a.elementSize, 2);
    EXPECT_EQ(b.elementSize, 4);

    int32_t length = 0;
    void* data = nullptr;
    void* end = nullptr;
    ASSERT_EQ(csys_arrayGetLength(&a, &length), csysOk);
    EXPECT_EQ(length, 3);
    ASSERT_EQ(csys_arrayGetBuffer(&b, &data, &length), csysOk);
    EXPECT_EQ(data, aData);
    EXPECT_EQ(length, 1);
    ASSERT_EQ(csys_arrayGetData(&a, nullptr, &end), csysOk);
    EXPECT_EQ(end, a.end);
    EXPECT_EQ(csys_arrayGetData(&a, nullptr, nullptr), csysErrFail);
    EXPECT_EQ(csys_arrayGetData(nullptr, &data, &end), csysErrFail);
    EXPECT_EQ(csys_arrayGetBuffer(&a, nullptr, nullptr), csysErrFail);
    EXPECT_EQ(csys_arrayGetLength(nullptr, &length), csysErrFail);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

TEST_F(ArrayTest, RepeatedPlainElementsOfOddSize)
{
    csys_array a;
    ASSERT_EQ(csys_arrayCreate(&a, 0, 3, nullptr), csysOk);
    const unsigned char rgb[3] = {0x10, 0x20, 0x30};
    ASSERT_EQ(csys_arrayResizeFill(&a, 5, rgb), csysOk);
    const unsigned char* p = static_cast<const unsigned char*>(a.data);
    for (int i = 0; i < 15; ++i)
        ASSERT_EQ(p[i], rgb[i % 3]) << i;
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
}

} // namespace
