#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "system/csys_memory.h"
#include "tests/support/fake_heap.h"

namespace {

using fake_heap::FakeHeap;

// Whether n bytes at p all hold v.
bool all(const void* p, int n, unsigned char v)
{
    const auto* b = static_cast<const unsigned char*>(p);
    return std::all_of(b, b + n, [v](unsigned char x) { return x == v; });
}

// Frees whatever the test left in the slot.
struct Slot {
    void* p = nullptr;
    ~Slot() { EXPECT_EQ(csys_free(&p), csysOk); }
};

// A null slot, a negative size and an exhausted heap are refused, and the
// block in the slot stays valid and unchanged.
TEST(MemoryTest, RefusalsLeaveTheSlotAlone)
{
    const struct {
        const char* name;
        csysStatus (*call)(int32_t size, void* slot);
    } allocators[] = {
        {"alloc", &csys_alloc}, {"allocZeroed", &csys_allocZeroed}, {"allocNonEmpty", &csys_allocNonEmpty},
        {"realloc", &csys_realloc},
        {"alloc64", [](int32_t n, void* slot) { return csys_alloc64(static_cast<uint32_t>(n), n < 0 ? -1 : 0, slot); }},
    };
    Slot s;
    ASSERT_EQ(csys_alloc(40, &s.p), csysOk);
    std::memset(s.p, 0x3C, 40);
    void* const old = s.p;
    for (const auto& a : allocators) {
        SCOPED_TRACE(a.name);
        EXPECT_EQ(a.call(8, nullptr), csysErrNullArg);
        EXPECT_EQ(a.call(-1, &s.p), csysErrBadSize);
        EXPECT_EQ(a.call(INT32_MIN, &s.p), csysErrBadSize);
        FakeHeap exhausted(0);
        EXPECT_EQ(a.call(64, &s.p), csysErrNoMemory);
        EXPECT_EQ(exhausted.releases, 0);
    }
    ASSERT_EQ(s.p, old);
    EXPECT_TRUE(all(s.p, 40, 0x3C)); // ASan objects here if the block was freed
    EXPECT_EQ(csys_alloc(0, nullptr), csysErrNullArg); // before the size-0 paths
    EXPECT_EQ(csys_realloc(0, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_free(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_cleanupFree(nullptr), csysErrNullArg);
}

TEST(MemoryTest, ANewBlockReplacesTheOldOneAndSizeZeroEmptiesTheSlot)
{
    FakeHeap heap; // its blocks start dirty, so zeroing shows
    Slot s;
    ASSERT_EQ(csys_realloc(24, &s.p), csysOk) << "an empty slot gets a new block";
    std::memset(s.p, 0x3C, 24);
    ASSERT_EQ(csys_realloc(1 << 16, &s.p), csysOk);
    EXPECT_TRUE(all(s.p, 24, 0x3C));
    static_cast<unsigned char*>(s.p)[(1 << 16) - 1] = 0; // the grown tail is ours
    ASSERT_EQ(csys_realloc(8, &s.p), csysOk);
    EXPECT_TRUE(all(s.p, 8, 0x3C));
    void* const old = s.p;
    // Size 0 for the "non-empty" variant is a no-op, not a free.
    EXPECT_EQ(csys_allocNonEmpty(0, &s.p), csysOk);
    EXPECT_EQ(s.p, old);
    EXPECT_TRUE(all(s.p, 8, 0x3C));
    EXPECT_EQ(csys_allocNonEmpty(32, &s.p), csysOk);
    EXPECT_EQ(heap.live.count(old), 0u) << "the replaced block must be freed";
    EXPECT_EQ(csys_realloc(0, &s.p), csysOk);
    EXPECT_EQ(s.p, nullptr);
    EXPECT_EQ(csys_free(&s.p), csysOk) << "an empty slot is no error";
    ASSERT_EQ(csys_allocZeroed(333, &s.p), csysOk);
    EXPECT_TRUE(all(s.p, 333, 0));
    EXPECT_EQ(csys_alloc(0, &s.p), csysOk);
    EXPECT_EQ(s.p, nullptr);
    // The clean-up variant releases the block but leaves the slot to its owner.
    ASSERT_EQ(csys_alloc(16, &s.p), csysOk);
    void* const last = s.p;
    EXPECT_EQ(csys_cleanupFree(&s.p), csysOk);
    EXPECT_EQ(s.p, last);
    s.p = nullptr;
    EXPECT_TRUE(heap.live.empty());
    EXPECT_EQ(heap.releases, static_cast<int>(heap.sizes.size())) << "every block is released once";
    EXPECT_EQ(heap.fenceDamage, 0);
}

struct {
    int calls;
    int32_t size;
    void* slot;
} gSeen;
csysStatus recordingAllocate(int32_t size, void* slot)
{
    gSeen = {gSeen.calls + 1, size, slot};
    return csysOk;
}

TEST(MemoryTest, Alloc64AcceptsOnlySizesBelowTwoToThe31)
{
    struct Case { uint32_t low; int32_t high; csysStatus expected; } const cases[] = {
        {0x80000000u, 0, csysErrNoMemory}, // exactly 2^31
        {0x00000000u, 1, csysErrNoMemory}, // high word is not the sign extension
        {0x00000010u, -1, csysErrBadSize}, // the low word alone looks small (-1 and -2^31: RefusalsLeaveTheSlotAlone)
    };
    int target = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.high << ":" << c.low);
        EXPECT_EQ(csys_alloc64With(c.low, c.high, &target, &recordingAllocate), c.expected);
        EXPECT_EQ(gSeen.calls, 0) << "a refused size must not reach the allocator";
    }
    // The largest size that passes reaches the given function as the low word.
    EXPECT_EQ(csys_alloc64With(0x7FFFFFFFu, 0, &target, &recordingAllocate), csysOk);
    EXPECT_EQ(gSeen.calls, 1);
    EXPECT_EQ(gSeen.size, INT32_MAX);
    EXPECT_EQ(gSeen.slot, &target);
    EXPECT_EQ(csys_alloc64With(8, 0, &target, nullptr), csysErrNullArg);
}

TEST(MemoryTest, AtomicsReturnTheNewOrPreviousValueAndExchangesLoseNoValueAcrossThreads)
{
    const struct {
        const char* name;
        csysStatus (*op)(int32_t* target, int32_t* out);
        int32_t start, out, after;
    } ops[] = {
        {"increment", &csys_atomicIncrement, 5, 6, 6},
        {"decrement", &csys_atomicDecrement, 0, -1, -1}, // no clamping at zero
        {"exchange", [](int32_t* t, int32_t* out) { return csys_atomicExchange(t, 42, out); }, -2, -2, 42},
    };
    for (const auto& o : ops) {
        SCOPED_TRACE(o.name);
        int32_t word = o.start, out = 0;
        EXPECT_EQ(o.op(&word, &out), csysOk);
        EXPECT_EQ(out, o.out);
        EXPECT_EQ(word, o.after);
        word = o.start;
        EXPECT_EQ(o.op(&word, nullptr), csysOk);
        EXPECT_EQ(word, o.after);
        EXPECT_EQ(o.op(nullptr, &out), csysErrNullArg);
    }

    // Across threads every value put into the word comes out exactly once, as
    // some exchange's previous value or as the final content. (Counts across
    // threads: HandleTest.CopiesAndReleasesOnManyThreadsFreeTheRecordOnce.)
    constexpr int kThreads = 8, kRounds = 20000;
    int32_t word = 0;
    std::atomic<int64_t> taken{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const int32_t value = t * kRounds + i + 1;
                int32_t previous = 0;
                EXPECT_EQ(csys_atomicExchange(&word, value, &previous), csysOk);
                taken += previous;
            }
        });
    for (std::thread& th : threads)
        th.join();
    const int64_t n = kThreads * kRounds; // values 1..n were put
    EXPECT_EQ(n * (n + 1) / 2, taken.load() + word);
}

} // namespace
