#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "system/csys_array.h"
#include "system/csys_copy.h"
#include "system/csys_memory.h"
#include "tests/support/fake_heap.h"

namespace {

typedef std::vector<int64_t> Values;
typedef std::vector<std::string> Log;

// An element that owns heap memory, so that a copy made from a freed element
// or a double destroy shows up under the address sanitizer. Every call is
// logged, and the call numbered gFailAt (counted from 0) fails.
struct Boxed {
    int64_t* value;
};

Log gLog;
int gFailAt = -1, gCalls = 0;

bool failNow() { return gCalls++ == gFailAt; }

csysStatus box(void* e, int64_t value, const std::string& entry)
{
    if (failNow())
        return csysErrNoMemory;
    static_cast<Boxed*>(e)->value = new int64_t(value);
    gLog.push_back(entry);
    return csysOk;
}
csysStatus boxedInit(void* e, const csys_allocator*) { return box(e, 0, "init"); }
csysStatus boxedCopy(void* d, const void* s)
{
    const int64_t v = *static_cast<const Boxed*>(s)->value;
    return box(d, v, "copy " + std::to_string(v));
}
csysStatus boxedAssign(void* d, const void* s)
{
    return *static_cast<Boxed*>(d)->value = *static_cast<const Boxed*>(s)->value, csysOk;
}
csysStatus boxedDestroy(void* e)
{
    if (failNow())
        return csysErrFail;
    Boxed* b = static_cast<Boxed*>(e);
    gLog.push_back("destroy " + std::to_string(*b->value));
    delete std::exchange(b->value, nullptr);
    return csysOk;
}

const csys_elemType kBoxed = {&boxedInit, &boxedCopy, &boxedAssign, &boxedDestroy, -1};

class ArrayTest : public ::testing::Test {
protected:
    void SetUp() override { gLog.clear(), gFailAt = -1, gCalls = 0; }
    // Fails the element call that many calls from now.
    static void failIn(int calls) { gFailAt = gCalls + calls; }
};

// The elements of a boxed or of an int32 array.
Values values(const csys_array& a)
{
    Values v;
    for (int i = 0; i < a.length; ++i)
        v.push_back(a.type == &kBoxed ? *static_cast<Boxed*>(a.data)[i].value : static_cast<int32_t*>(a.data)[i]);
    return v;
}

// Boxed elements are created at once (capacity = length); int32 ones are
// appended one by one, so the capacity is the next power of two.
void make(csys_array* a, bool boxed, const Values& v)
{
    if (boxed) {
        ASSERT_EQ(csys_arrayCreate(a, static_cast<int64_t>(v.size()), sizeof(Boxed), &kBoxed), csysOk);
        for (size_t i = 0; i < v.size(); ++i)
            *static_cast<Boxed*>(a->data)[i].value = v[i];
        return;
    }
    ASSERT_EQ(csys_arrayCreate(a, 0, 4, nullptr), csysOk);
    for (int64_t x : v) {
        const int32_t e = static_cast<int32_t>(x);
        ASSERT_EQ(csys_arrayAppend(a, &e), csysOk);
    }
}

Values upTo(int n)
{
    Values v(static_cast<size_t>(n));
    return std::iota(v.begin(), v.end(), 0), v;
}

// A freed record, or one whose creation was refused.
void expectFreed(const csys_array& a)
{
    EXPECT_EQ(std::make_tuple(a.length, a.capacity, a.elementSize, a.data, a.end, a.type, a.allocator),
              std::make_tuple(-1, -1, -1, nullptr, nullptr, nullptr, nullptr));
}

void expectConsistent(const csys_array& a)
{
    EXPECT_LE(a.length, a.capacity);
    EXPECT_EQ(a.end, a.data ? static_cast<void*>(static_cast<char*>(a.data) + a.length * a.elementSize) : nullptr);
}

TEST_F(ArrayTest, SizesAreCheckedCapacityGrowsToPowersOfTwoAndFreeMarksTheRecord)
{
    const struct { int64_t count, elementSize; csysStatus expected; } cases[] = {
        {-1, 4, csysErrBadSize}, {1, 0, csysErrBadSize}, {1, int64_t{1} << 31, csysErrNoMemory},
        {int64_t{1} << 29, 4, csysErrNoMemory}, // 2^31 bytes
    };
    csys_array a;
    for (const auto& c : cases) {
        EXPECT_EQ(csys_arrayCreate(&a, c.count, c.elementSize, nullptr), c.expected) << c.count << "x" << c.elementSize;
        expectFreed(a);
    }
    ASSERT_EQ(csys_arrayCreate(&a, 5, 4, nullptr), csysOk);
    std::vector<int32_t> seen = {a.capacity};
    for (int64_t length : {6, 2, 9}) {
        ASSERT_EQ(csys_arrayResize(&a, length), csysOk);
        seen.push_back(a.capacity);
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{5, 8, 8, 16}));
    expectConsistent(a);
    EXPECT_EQ(csys_arrayResize(&a, -1), csysErrBadSize);
    // A capacity rounded up to 2^31 bytes is refused.
    EXPECT_EQ(csys_arrayResize(&a, (int64_t{1} << 29) + 1), csysErrNoMemory);
    EXPECT_EQ(csys_arrayResizeFill(&a, 12, nullptr), csysErrNullArg);
    EXPECT_EQ(std::make_tuple(a.length, a.capacity), std::make_tuple(9, 16));
    ASSERT_EQ(csys_arrayFree(&a), csysOk);
    expectFreed(a);
    // A freed record refuses work but may be freed again.
    EXPECT_EQ(csys_arrayResize(&a, 1), csysErrFail);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
}

TEST_F(ArrayTest, NewPlainElementsTakeTheFillByte)
{
    const csys_elemType zeroed = {nullptr, nullptr, nullptr, nullptr, 0};
    csys_array a;
    for (const csys_elemType* type : {&zeroed, static_cast<const csys_elemType*>(nullptr)}) {
        ASSERT_EQ(csys_arrayCreate(&a, 4, 4, type), csysOk);
        std::memset(a.data, 0x11, 16);
        ASSERT_EQ(csys_arrayResize(&a, 1), csysOk);
        ASSERT_EQ(csys_arrayResize(&a, 3), csysOk);
        // Without a fill the bytes stay as they were.
        EXPECT_EQ(values(a), type ? (Values{0x11111111, 0, 0}) : (Values{0x11111111, 0x11111111, 0x11111111}));
        EXPECT_EQ(csys_arrayFree(&a), csysOk);
    }
}

TEST_F(ArrayTest, ElementFunctionsTheirOrderAndTheirFailures)
{
    csys_array a;
    make(&a, true, upTo(5));
    EXPECT_EQ(gLog, Log(5, "init"));
    gLog.clear();
    failIn(1); // the second destroy: element 3
    EXPECT_EQ(csys_arrayResize(&a, 1), csysErrFail);
    EXPECT_EQ(std::make_tuple(gLog, a.length), std::make_tuple(Log{"destroy 4"}, 4));
    expectConsistent(a);
    ASSERT_EQ(csys_arrayResize(&a, 1), csysOk);
    failIn(2); // a failing init keeps the elements made
    EXPECT_EQ(csys_arrayResize(&a, 5), csysErrNoMemory);
    EXPECT_EQ(a.length, 3);
    expectConsistent(a);
    *static_cast<Boxed*>(a.data)[1].value = 11;
    *static_cast<Boxed*>(a.data)[2].value = 22;
    int64_t* kept = static_cast<Boxed*>(a.data)[2].value;
    gLog.clear();
    failIn(0); // free goes on past a failing destroy
    EXPECT_EQ(csys_arrayFree(&a), csysErrFail);
    EXPECT_EQ(gLog, (Log{"destroy 11", "destroy 0"}));
    expectFreed(a);
    delete kept; // what the refusing destroy kept

    // Creation that fails frees what it made.
    gLog.clear();
    failIn(1);
    EXPECT_EQ(csys_arrayCreate(&a, 3, sizeof(Boxed), &kBoxed), csysErrNoMemory);
    expectFreed(a);
    EXPECT_EQ(gLog, (Log{"init", "destroy 0"}));
}

int gAllocatorCalls = 0;
csysStatus countingAlloc(int32_t size, void* slot)
{
    ++gAllocatorCalls;
    return csys_alloc(size, slot);
}

TEST_F(ArrayTest, GrowthReallocatesOrCopies)
{
    const csys_allocator withRealloc = {&countingAlloc, &csys_realloc, &csys_free};
    const csys_allocator withoutRealloc = {&countingAlloc, nullptr, &csys_free};
    int32_t warm = 0; // the layer's process-wide objects are made before the heap is watched
    ASSERT_EQ(csys_memSet(0, 4, &warm), csysOk);
    for (const csys_allocator* alloc : {&withRealloc, &withoutRealloc}) {
        fake_heap::FakeHeap heap;
        gAllocatorCalls = 0;
        csys_array a;
        ASSERT_EQ(csys_arrayCreateWithAllocator(&a, 0, 4, nullptr, alloc), csysOk);
        EXPECT_EQ(gAllocatorCalls, 1) << "an allocator of its own is asked even for no elements";
        for (int32_t v = 0; v < 9; ++v)
            ASSERT_EQ(csys_arrayAppend(&a, &v), csysOk);
        EXPECT_EQ(values(a), upTo(9));
        EXPECT_EQ(heap.sizes, (std::vector<size_t>{4, 8, 16, 32, 64}));
        EXPECT_EQ(gAllocatorCalls, alloc == &withRealloc ? 1 : 6);
        EXPECT_EQ(csys_arrayFree(&a), csysOk);
        EXPECT_TRUE(heap.live.empty());
        EXPECT_EQ(heap.fenceDamage, 0);
    }
    // Typed elements always move through copies.
    csys_array b;
    make(&b, true, upTo(3));
    gLog.clear();
    ASSERT_EQ(csys_arrayResize(&b, 4), csysOk);
    EXPECT_EQ(gLog, (Log{"copy 0", "copy 1", "copy 2", "destroy 2", "destroy 1", "destroy 0", "init"}));
    EXPECT_EQ(values(b), (Values{0, 1, 2, 0}));
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

// A refused block, or a failing copy into the new storage, leaves the array
// as it was.
TEST_F(ArrayTest, FailedGrowthLeavesTheArrayAsItWas)
{
    static const int32_t kMore[8] = {};
    const struct {
        const char* name;
        bool boxed, heapRefuses;
        csysStatus (*grow)(csys_array*);
    } cases[] = {
        {"reallocation", false, true, [](csys_array* a) { return csys_arrayResize(a, 9); }},
        {"assignment", false, true, [](csys_array* a) { return csys_arrayAssignRange(a, kMore, kMore + 8); }},
        {"new storage", true, true, [](csys_array* a) { return csys_arrayResize(a, 4); }},
        {"copy", true, false, [](csys_array* a) { return failIn(1), csys_arrayResize(a, 4); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        csys_array a;
        make(&a, c.boxed, upTo(3));
        const csys_array before = a;
        {
            fake_heap::FakeHeap heap(c.heapRefuses ? 0 : -1);
            EXPECT_EQ(c.grow(&a), csysErrNoMemory);
            EXPECT_TRUE(heap.live.empty());
        }
        EXPECT_EQ(std::make_tuple(a.data, a.capacity, values(a)), std::make_tuple(before.data, before.capacity, upTo(3)));
        gFailAt = -1;
        // Shrinking through ResizeFill needs no value.
        ASSERT_EQ(csys_arrayResizeFill(&a, 1, nullptr), csysOk);
        ASSERT_EQ(csys_arrayClear(&a), csysOk);
        EXPECT_EQ(a.length, 0);
        EXPECT_EQ(csys_arrayFree(&a), csysOk);
    }
}

TEST_F(ArrayTest, CopiesAreDeepAndAssignmentReusesElements)
{
    csys_array a, b, ints;
    make(&a, true, upTo(4));
    ASSERT_EQ(csys_arrayCreateCopy(&b, &a), csysOk);
    *static_cast<Boxed*>(a.data)[0].value = 99;
    EXPECT_EQ(std::make_tuple(b.capacity, values(b)), std::make_tuple(4, upTo(4)));
    EXPECT_EQ(csys_arrayCreateCopy(&a, &a), csysErrFail);
    EXPECT_EQ(csys_arrayAssign(&a, &a), csysOk);
    make(&ints, false, {1});
    EXPECT_EQ(csys_arrayAssign(&ints, &a), csysErrFail) << "element sizes differ";
    EXPECT_EQ(csys_arrayFree(&ints), csysOk);
    // Beyond the capacity the old elements go and copies of all come in;
    // within it they are assigned onto the existing ones, the rest copied.
    ASSERT_EQ(csys_arrayResize(&a, 5), csysOk);
    for (const Log& expected : {Log{"destroy 1", "destroy 0", "copy 99", "copy 1", "copy 2", "copy 3", "copy 0"},
                                Log{"copy 2", "copy 3", "copy 0"}}) {
        ASSERT_EQ(csys_arrayResize(&b, 2), csysOk);
        gLog.clear();
        ASSERT_EQ(csys_arrayAssign(&b, &a), csysOk);
        EXPECT_EQ(std::make_tuple(gLog, values(b)), std::make_tuple(expected, Values{99, 1, 2, 3, 0}));
    }
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

// Ranges given in bytes, inside the array's own storage or in kOutside.
const int32_t kOutside[7] = {7, 8, 9, 10, 11, 12, 13};
enum class RangeOp { assign, erase, eraseOne };

TEST_F(ArrayTest, AssignAndEraseRanges)
{
    const struct Case {
        const char* name;
        RangeOp op;
        bool boxed;
        Values initial;
        bool own; // inside the array's own storage, else in kOutside
        int first, last;
        csysStatus status;
        Values contents;
        Log log;
    } cases[] = {
        {"outside, shrinks", RangeOp::assign, false, {1, 2, 3}, false, 0, 8, csysOk, {7, 8}, {}},
        {"outside, grows", RangeOp::assign, false, {1, 2, 3}, false, 0, 28, csysOk, {7, 8, 9, 10, 11, 12, 13}, {}},
        {"outside, reversed", RangeOp::assign, false, {1, 2, 3}, false, 8, 0, csysErrBadSize, {1, 2, 3}, {}},
        {"own tail", RangeOp::assign, false, upTo(6), true, 4, 16, csysOk, {1, 2, 3}, {}},
        {"own typed", RangeOp::assign, true, upTo(6), true, 16, 48, csysOk, {2, 3, 4, 5}, {"destroy 5", "destroy 4"}},
        // Past the elements, into storage not in use.
        {"own past the end", RangeOp::assign, false, {1, 2, 3}, true, 4, 16, csysErrNullArg, {1, 2, 3}, {}},
        // Off the element boundaries: halves of two elements.
        {"straddling", RangeOp::assign, false, {1, 2, 3, 4}, true, 3, 7, csysErrNullArg, {1, 2, 3, 4}, {}},
        {"typed straddling", RangeOp::assign, true, upTo(3), true, 4, 12, csysErrNullArg, upTo(3), {}},
        {"erase one", RangeOp::eraseOne, false, upTo(7), true, 8, 0, csysOk, {0, 1, 3, 4, 5, 6}, {}},
        {"erase range", RangeOp::erase, false, upTo(7), true, 4, 16, csysOk, {0, 4, 5, 6}, {}},
        {"erase typed", RangeOp::erase, true, upTo(5), true, 8, 24, csysOk, {0, 3, 4}, {"destroy 4", "destroy 3"}},
        {"erase the end", RangeOp::eraseOne, false, upTo(3), true, 12, 0, csysErrNullArg, upTo(3), {}},
        {"erase reversed", RangeOp::erase, false, upTo(3), true, 8, 4, csysErrNullArg, upTo(3), {}},
        {"erase outside", RangeOp::eraseOne, false, upTo(3), false, 0, 0, csysErrNullArg, upTo(3), {}},
        {"erase off a boundary", RangeOp::eraseOne, false, upTo(3), true, 2, 0, csysErrNullArg, upTo(3), {}},
        {"erase past the end", RangeOp::erase, false, upTo(3), true, 8, 16, csysErrNullArg, upTo(3), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        csys_array a;
        make(&a, c.boxed, c.initial);
        char* base = c.own ? static_cast<char*>(a.data) : const_cast<char*>(reinterpret_cast<const char*>(kOutside));
        gLog.clear();
        switch (c.op) {
        case RangeOp::assign: EXPECT_EQ(csys_arrayAssignRange(&a, base + c.first, base + c.last), c.status); break;
        case RangeOp::erase: EXPECT_EQ(csys_arrayEraseRange(&a, base + c.first, base + c.last), c.status); break;
        case RangeOp::eraseOne: EXPECT_EQ(csys_arrayErase(&a, base + c.first), c.status); break;
        }
        EXPECT_EQ(values(a), c.contents);
        EXPECT_EQ(gLog, c.log) << "a refused range reaches no element function";
        expectConsistent(a);
        EXPECT_EQ(csys_arrayFree(&a), csysOk);
    }
}

TEST_F(ArrayTest, AppendAndFillFromOwnElementsWhileGrowing)
{
    for (bool boxed : {false, true}) {
        SCOPED_TRACE(boxed ? "typed" : "plain");
        csys_array a;
        make(&a, boxed, {10, 20, 30, 40});
        ASSERT_EQ(a.capacity, a.length);
        auto at = [&](int i) { return static_cast<char*>(a.data) + i * a.elementSize; };
        ASSERT_EQ(csys_arrayAppend(&a, at(1)), csysOk);
        ASSERT_EQ(csys_arrayAppend(&a, at(a.length - 1)), csysOk);
        ASSERT_EQ(csys_arrayResizeFill(&a, 40, at(3)), csysOk);
        Values expected = {10, 20, 30, 40, 20, 20};
        expected.resize(40, 40);
        EXPECT_EQ(values(a), expected);
        EXPECT_EQ(csys_arrayFree(&a), csysOk);
    }
}

TEST_F(ArrayTest, SwapExchangesTheRecords)
{
    csys_array a, b;
    make(&a, false, {1});
    ASSERT_EQ(csys_arrayCreate(&b, 3, 2, nullptr), csysOk);
    const csys_array before = a;
    ASSERT_EQ(csys_arraySwap(&a, &b), csysOk);
    EXPECT_EQ(std::make_tuple(a.elementSize, a.length, b.data, b.length, b.end),
              std::make_tuple(2, 3, before.data, 1, before.end));
    EXPECT_EQ(csys_arraySwap(&a, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_arrayGetData(&a, nullptr, nullptr), csysErrFail);
    EXPECT_EQ(csys_arrayFree(&a), csysOk);
    EXPECT_EQ(csys_arrayFree(&b), csysOk);
}

} // namespace
