#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "std/except/status.h"
#include "std/math/fsalloc.h"
#include "std/math/xflinear.h"

namespace {

std::atomic<bool> failing{false};
void* maybeMalloc(size_t size) { return failing ? nullptr : std::malloc(size); }
void plainFree(void* p) { std::free(p); }

// Blocks are multiples of eight and chunks double up to about one mebibyte.
// Returned blocks come back first; exhaustion throws the library's "bad
// allocation" and leaves the allocator usable.
TEST(FixedSizeAllocator, ChunksDoubleBlocksAreReusedAndExhaustionIsSurvived)
{
    EXPECT_EQ(ccFixedSizeAllocator(13, 1, "t").blockSize(), 16u);

    ccFixedSizeAllocator a(65536, 4, "t"); // at most 16 blocks to a chunk
    std::vector<void*> blocks;
    const uint32_t sizes[] = {4, 8, 16, 16};
    for (int chunk = 0; chunk < 4; ++chunk) {
        for (uint32_t i = 0; i < sizes[chunk]; ++i)
            blocks.push_back(a.alloc());
        EXPECT_EQ(a.chunks(), uint32_t(chunk + 1));
    }
    EXPECT_EQ(std::set<void*>(blocks.begin(), blocks.end()).size(), blocks.size());
    for (void* b : blocks) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 8, 0u);
        std::memset(b, 0xA5, a.blockSize()); // AddressSanitizer checks the chunk bounds
        a.free(b);
    }
    EXPECT_EQ(a.outstanding(), 0u);

    const ccFixedSizeAllocator::ChunkSource source = {&maybeMalloc, &plainFree};
    ccFixedSizeAllocator s(16, 1, "t", &source);
    void* only = s.alloc();
    s.free(only), s.free(nullptr);
    EXPECT_EQ(s.alloc(), only);
    failing = true;
    EXPECT_THROW(s.alloc(), ccBadAllocation);
    failing = false;
    void* next = s.alloc();
    EXPECT_EQ(std::pair(s.outstanding(), s.chunks()), std::pair(2u, 2u));
    s.free(only), s.free(next);
}

TEST(FixedSizeAllocator, ThreadsShareItSafely)
{
    ccFixedSizeAllocator a(32, 4, "t");
    std::vector<std::thread> threads;
    for (int t = 1; t <= 4; ++t) {
        threads.emplace_back([&a, t] {
            unsigned char* mine[16];
            for (int round = 0; round < 200; ++round) {
                for (unsigned char*& b : mine)
                    std::memset(b = static_cast<unsigned char*>(a.alloc()), t, 32);
                for (unsigned char* b : mine) { // a block handed out twice would carry another thread's mark
                    EXPECT_EQ(b[31], t);
                    a.free(b);
                }
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(a.outstanding(), 0u);
}

} // namespace
