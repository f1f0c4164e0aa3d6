#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "system/csys_memory.h"
#include "system/csys_memory_testing.h"

namespace {

// A heap that hands out dirty blocks (so zeroing shows) and counts frees, and
// one that refuses to allocate. Both free into the process heap, so blocks
// from before the switch stay releasable.
int gFrees = 0;
void* dirtyAllocate(size_t n)
{
    void* b = std::malloc(n);
    return b ? std::memset(b, 0xA5, n) : b;
}
void countingRelease(void* b)
{
    gFrees += b != nullptr;
    std::free(b);
}
void* refuseAllocate(size_t) { return nullptr; }
void* refuseReallocate(void*, size_t) { return nullptr; }
const csys_heap kCountingHeap = {&dirtyAllocate, &std::realloc, &countingRelease};
const csys_heap kExhaustedHeap = {&refuseAllocate, &refuseReallocate, &std::free};

// Puts the process heap back even when an assertion leaves the test early.
struct HeapOverride {
    explicit HeapOverride(const csys_heap* h)
    {
        gFrees = 0;
        csys_setHeap(h);
    }
    ~HeapOverride() { csys_setHeap(nullptr); }
};

// Frees whatever the test left in the slot.
struct Slot {
    void* p = nullptr;
    ~Slot() { EXPECT_EQ(csys_free(&p), csysOk); }
    unsigned char& at(int i) const { return static_cast<unsigned char*>(p)[i]; }
    void fill(int n) const
    {
        for (int i = 0; i < n; ++i)
            at(i) = static_cast<unsigned char>(i * 7 + 1);
    }
    bool holdsFill(int n) const
    {
        for (int i = 0; i < n; ++i)
            if (at(i) != static_cast<unsigned char>(i * 7 + 1))
                return false;
        return true;
    }
};

TEST(MemoryTest, AllocReplacesOnlyAfterSuccessAndSizeZeroEmptiesTheSlot)
{
    HeapOverride heap(&kCountingHeap);
    Slot s;
    ASSERT_EQ(csys_alloc(16, &s.p), csysOk);
    s.fill(16);
    void* const old = s.p;
    for (int32_t bad : {-1, INT32_MIN}) {
        EXPECT_EQ(csys_alloc(bad, &s.p), csysErrBadSize) << bad;
        EXPECT_EQ(csys_allocZeroed(bad, &s.p), csysErrBadSize) << bad;
        EXPECT_EQ(csys_allocNonEmpty(bad, &s.p), csysErrBadSize) << bad;
        EXPECT_EQ(csys_realloc(bad, &s.p), csysErrBadSize) << bad;
    }
    // Size 0 for the "non-empty" variant is a no-op, not a free.
    EXPECT_EQ(csys_allocNonEmpty(0, &s.p), csysOk);
    EXPECT_EQ(s.p, old);
    EXPECT_TRUE(s.holdsFill(16));
    EXPECT_EQ(gFrees, 0);

    EXPECT_EQ(csys_allocNonEmpty(32, &s.p), csysOk);
    EXPECT_EQ(gFrees, 1) << "the replaced block must be freed";
    EXPECT_EQ(csys_alloc(0, &s.p), csysOk);
    EXPECT_EQ(s.p, nullptr);
    EXPECT_EQ(gFrees, 2);
    EXPECT_EQ(csys_free(&s.p), csysOk) << "an empty slot is no error";
    EXPECT_EQ(gFrees, 2);

    ASSERT_EQ(csys_allocZeroed(333, &s.p), csysOk);
    const std::vector<unsigned char> zeros(333, 0);
    EXPECT_EQ(std::memcmp(s.p, zeros.data(), zeros.size()), 0);
}

TEST(MemoryTest, ReallocKeepsContentAllocatesIntoEmptySlotAndFreesOnZero)
{
    HeapOverride heap(&kCountingHeap);
    Slot s;
    ASSERT_EQ(csys_realloc(24, &s.p), csysOk) << "an empty slot gets a new block";
    s.fill(24);
    ASSERT_EQ(csys_realloc(1 << 16, &s.p), csysOk);
    EXPECT_TRUE(s.holdsFill(24));
    s.at((1 << 16) - 1) = 0; // the grown tail is ours
    ASSERT_EQ(csys_realloc(8, &s.p), csysOk);
    EXPECT_TRUE(s.holdsFill(8));
    EXPECT_EQ(gFrees, 0);
    EXPECT_EQ(csys_realloc(0, &s.p), csysOk);
    EXPECT_EQ(s.p, nullptr);
    EXPECT_EQ(gFrees, 1);
}

TEST(MemoryTest, FailedAllocationKeepsTheOldBlockValidAndUnchanged)
{
    Slot s;
    ASSERT_EQ(csys_alloc(40, &s.p), csysOk);
    s.fill(40);
    void* const old = s.p;
    {
        HeapOverride heap(&kExhaustedHeap);
        EXPECT_EQ(csys_alloc(64, &s.p), csysErrNoMemory);
        EXPECT_EQ(csys_allocZeroed(64, &s.p), csysErrNoMemory);
        EXPECT_EQ(csys_allocNonEmpty(64, &s.p), csysErrNoMemory);
        EXPECT_EQ(csys_realloc(1 << 20, &s.p), csysErrNoMemory);
        EXPECT_EQ(csys_alloc64(64, 0, &s.p), csysErrNoMemory);
    }
    ASSERT_EQ(s.p, old);
    EXPECT_TRUE(s.holdsFill(40)); // ASan objects here if the block was freed
}

TEST(MemoryTest, NullSlotIsRejected)
{
    EXPECT_EQ(csys_alloc(0, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_allocZeroed(8, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_allocNonEmpty(8, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_realloc(0, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_alloc64(8, 0, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_free(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_cleanupFree(nullptr), csysErrNullArg);
}

int gCalls = 0;
int32_t gSeenSize = 0;
void* gSeenSlot = nullptr;
csysStatus recordingAllocate(int32_t size, void* slot)
{
    ++gCalls;
    gSeenSize = size;
    gSeenSlot = slot;
    return csysOk;
}

TEST(MemoryTest, Alloc64AcceptsOnlySizesBelowTwoToThe31)
{
    struct Case {
        uint32_t low;
        int32_t high;
        csysStatus expected;
    } const cases[] = {
        {0x80000000u, 0, csysErrNoMemory}, // exactly 2^31
        {0xFFFFFFFFu, 0, csysErrNoMemory},
        {0x00000000u, 1, csysErrNoMemory}, // high word is not the sign extension
        {0x00000010u, 0x7FFFFFFF, csysErrNoMemory},
        {0xFFFFFFFFu, -1, csysErrBadSize}, // -1
        {0x80000000u, -1, csysErrBadSize}, // -2^31
        {0x00000010u, -1, csysErrBadSize}, // the low word alone looks small
        {0x00000000u, INT32_MIN, csysErrBadSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.high << ":" << c.low);
        Slot s;
        gCalls = 0;
        EXPECT_EQ(csys_alloc64(c.low, c.high, &s.p), c.expected);
        EXPECT_EQ(s.p, nullptr);
        EXPECT_EQ(csys_alloc64With(c.low, c.high, &s.p, &recordingAllocate), c.expected);
        EXPECT_EQ(gCalls, 0) << "a refused size must not reach the allocator";
    }
    // The largest size that passes reaches the given function as the low word.
    int target = 0;
    EXPECT_EQ(csys_alloc64With(0x7FFFFFFFu, 0, &target, &recordingAllocate), csysOk);
    EXPECT_EQ(gCalls, 1);
    EXPECT_EQ(gSeenSize, INT32_MAX);
    EXPECT_EQ(gSeenSlot, &target);
    Slot s;
    ASSERT_EQ(csys_alloc64(48, 0, &s.p), csysOk);
    s.fill(48);
}

TEST(MemoryTest, AtomicsReturnNewAndPreviousValuesAndAcceptNullOut)
{
    int32_t c = 5, out = 0;
    EXPECT_EQ(csys_atomicIncrement(&c, &out), csysOk);
    EXPECT_EQ(out, 6);
    EXPECT_EQ(csys_atomicIncrement(&c, nullptr), csysOk);
    EXPECT_EQ(c, 7);
    c = 0;
    EXPECT_EQ(csys_atomicDecrement(&c, &out), csysOk);
    EXPECT_EQ(out, -1) << "no clamping at zero";
    EXPECT_EQ(csys_atomicDecrement(&c, nullptr), csysOk);
    EXPECT_EQ(csys_atomicExchange(&c, 42, &out), csysOk);
    EXPECT_EQ(out, -2);
    EXPECT_EQ(csys_atomicExchange(&c, 9, nullptr), csysOk);
    EXPECT_EQ(c, 9);
}

TEST(MemoryTest, AtomicsLoseNoUpdatesAcrossThreads)
{
    constexpr int kThreads = 8, kRounds = 20000;
    int32_t counter = 0, word = 0;
    // Every value put into the word comes out exactly once, as some
    // exchange's previous value or as the final content.
    std::atomic<int64_t> put{0}, taken{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                (t % 2 ? csys_atomicDecrement : csys_atomicIncrement)(&counter, nullptr);
                const int32_t value = t * kRounds + i + 1;
                int32_t previous = 0;
                EXPECT_EQ(csys_atomicExchange(&word, value, &previous), csysOk);
                put += value;
                taken += previous;
            }
            EXPECT_EQ(csys_atomicIncrement(&counter, nullptr), csysOk);
        });
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(counter, kThreads);
    EXPECT_EQ(put.load(), taken.load() + word);
}

} // namespace
