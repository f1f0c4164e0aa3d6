#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "system/csys_memory.h"
#include "tests/support/fake_heap.h"

namespace {

using fake_heap::FakeHeap;

bool all(const void* p, int n, unsigned char v)
{
    const auto* b = static_cast<const unsigned char*>(p);
    return std::all_of(b, b + n, [v](unsigned char x) { return x == v; });
}

// A null slot, a negative size and an exhausted heap are refused, and the
// block in the slot stays valid and unchanged.
TEST(MemoryTest, RefusalsLeaveTheSlotAlone)
{
    csysStatus (*const allocators[])(int32_t, void*) = {
        &csys_alloc, &csys_allocZeroed, &csys_allocNonEmpty, &csys_realloc,
        [](int32_t n, void* slot) { return csys_alloc64(static_cast<uint32_t>(n), n < 0 ? -1 : 0, slot); }};
    void* p = nullptr;
    ASSERT_EQ(csys_alloc(40, &p), csysOk);
    std::memset(p, 0x3C, 40);
    void* const old = p;
    for (auto call : allocators) {
        FakeHeap exhausted(0);
        EXPECT_EQ((std::tuple{call(8, nullptr), call(-1, &p), call(64, &p), exhausted.releases}),
                  std::tuple(csysErrNullArg, csysErrBadSize, csysErrNoMemory, 0));
    }
    ASSERT_EQ(p, old);
    EXPECT_TRUE(all(p, 40, 0x3C)); // ASan objects here if the block was freed
    EXPECT_EQ(csys_free(&p), csysOk);
    // A null slot is refused before the size-0 paths.
    EXPECT_EQ(std::tuple(csys_alloc(0, nullptr), csys_free(nullptr), csys_cleanupFree(nullptr)),
              std::tuple(csysErrNullArg, csysErrNullArg, csysErrNullArg));
}

TEST(MemoryTest, ANewBlockReplacesTheOldOneAndSizeZeroEmptiesTheSlot)
{
    FakeHeap heap; // its blocks start dirty, so zeroing shows
    void* p = nullptr;
    ASSERT_EQ(csys_realloc(24, &p), csysOk);
    std::memset(p, 0x3C, 24);
    ASSERT_EQ(csys_realloc(1 << 16, &p), csysOk);
    static_cast<unsigned char*>(p)[(1 << 16) - 1] = 0; // the grown tail is ours
    ASSERT_EQ(csys_realloc(8, &p), csysOk);
    EXPECT_TRUE(all(p, 8, 0x3C));
    void* const old = p;
    // Size 0 for the "non-empty" variant is a no-op, not a free.
    EXPECT_EQ(csys_allocNonEmpty(0, &p), csysOk);
    EXPECT_EQ(std::tuple(p, all(p, 8, 0x3C)), std::tuple(old, true));
    EXPECT_EQ(csys_allocNonEmpty(32, &p), csysOk);
    EXPECT_EQ(heap.live.count(old), 0u) << "the replaced block must be freed";
    EXPECT_EQ(csys_realloc(0, &p), csysOk);
    EXPECT_EQ(std::tuple(p, csys_free(&p)), std::tuple(nullptr, csysOk));
    ASSERT_EQ(csys_allocZeroed(333, &p), csysOk);
    EXPECT_TRUE(all(p, 333, 0));
    EXPECT_EQ(csys_alloc(0, &p), csysOk);
    EXPECT_EQ(p, nullptr);
    // The clean-up variant releases the block but leaves the slot to its owner.
    ASSERT_EQ(csys_alloc(16, &p), csysOk);
    void* const last = p;
    EXPECT_EQ((std::tuple{csys_cleanupFree(&p), p}), std::tuple(csysOk, last));
    EXPECT_EQ(std::tuple(heap.live.empty(), heap.releases, heap.fenceDamage),
              std::tuple(true, static_cast<int>(heap.sizes.size()), 0));
}

int32_t gSeenSize = -1;
csysStatus recordingAllocate(int32_t size, void*) { return gSeenSize = size, csysOk; }

TEST(MemoryTest, Alloc64AcceptsOnlySizesBelowTwoToThe31)
{
    struct Case { uint32_t low; int32_t high; csysStatus expected; int32_t seen; } const cases[] = {
        {0x80000000u, 0, csysErrNoMemory, -1}, // exactly 2^31
        {0x00000000u, 1, csysErrNoMemory, -1}, // high word is not the sign extension
        {0x00000010u, -1, csysErrBadSize, -1}, // the low word alone looks small
        {0x7FFFFFFFu, 0, csysOk, INT32_MAX},
    };
    int target = 0;
    for (const Case& c : cases) {
        gSeenSize = -1;
        EXPECT_EQ((std::tuple{csys_alloc64With(c.low, c.high, &target, &recordingAllocate), gSeenSize}),
                  std::tuple(c.expected, c.seen)) << std::hex << c.high << ":" << c.low;
    }
    EXPECT_EQ(csys_alloc64With(8, 0, &target, nullptr), csysErrNullArg);
}

TEST(MemoryTest, AtomicsReturnTheNewOrPreviousValueAndExchangesLoseNoValueAcrossThreads)
{
    int32_t word = 5, out = 0;
    EXPECT_EQ((std::tuple{csys_atomicIncrement(&word, &out), out}), std::tuple(csysOk, 6));
    word = 0;
    EXPECT_EQ((std::tuple{csys_atomicDecrement(&word, &out), out}), std::tuple(csysOk, -1)); // no clamping at zero
    EXPECT_EQ((std::tuple{csys_atomicExchange(&word, 42, &out), out, word}), std::tuple(csysOk, -1, 42));
    EXPECT_EQ((std::tuple{csys_atomicIncrement(&word, nullptr), word}), std::tuple(csysOk, 43));
    EXPECT_EQ(csys_atomicDecrement(nullptr, &out), csysErrNullArg);

    // Every value put into the word comes out exactly once, as some
    // exchange's previous value or as the final content.
    constexpr int kThreads = 8, kRounds = 20000;
    word = 0;
    std::atomic<int64_t> taken{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                int32_t previous = 0;
                EXPECT_EQ(csys_atomicExchange(&word, t * kRounds + i + 1, &previous), csysOk);
                taken += previous;
            }
        });
    for (std::thread& th : threads)
        th.join();
    const int64_t n = kThreads * kRounds;
    EXPECT_EQ(n * (n + 1) / 2, taken.load() + word);
}

} // namespace
