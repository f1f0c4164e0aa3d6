#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "std/except/resource.h"
#include "std/pelbuf/pelpool.h"
#include "std/timeout.h"
#include "tests/std/pelbuf/fakes.h"

namespace {

typedef ccPtrHandle<ccPelRoot<unsigned char>> Root8;
typedef ccPtrHandle<cc_PelRoot> Root;

// A basic pool that lists the classes of the roots it destroys and counts
// the pools not yet deleted.
struct Arena : ccBasicPelRootPool {
    typedef ccBasicPelRootPool Basic;
    Arena(uint32_t size, uint32_t granule) : Basic(size, granule) { ++alive; }
    ~Arena() override { releaseArena(), --alive; }
    int32_t u8(int32_t width, int32_t height) { return classIndex(width, height, typeid(unsigned char)); }
    Root8 take8(int32_t c) { return Root8(static_cast<ccPelRoot<unsigned char>*>(take(c))); }
    void destroyRoot(cc_PooledRoot* r) override { destroyed.push_back(r->classIndex), Basic::destroyRoot(r); }
    std::vector<int32_t> destroyed;
    static inline std::atomic<int> alive{0};
};

typedef ccPtrHandle<Arena> ArenaHandle;

TEST(PelPool, ARootComesBackToItsClassResizingWaitsForItAndItKeepsItsPoolAlive)
{
    ArenaHandle pool(new Arena(64, 16));
    const int alive = Arena::alive;
    const int32_t c = pool->u8(16, 2);
    EXPECT_TRUE(pool->u8(16, 2) == c && pool->classIndex(16, 2, typeid(ccPackedRGB16Pel)) == c + 1);
    Root8 out = pool->take8(c);
    EXPECT_THROW(pool->setSize(128), ccPelRootPool::Outstanding);
    EXPECT_EQ(pool->size(), 64u);
    out = nullptr;
    pool->setSize(100); // idle: the cached root goes
    EXPECT_TRUE(pool->destroyed == std::vector<int32_t>{c} && pool->size() == 100u);
    cc_PelRoot* const first = (out = pool->take8(c)).rawPointer();
    out = nullptr, out = pool->take8(c);
    EXPECT_TRUE(out.rawPointer() == first && out->pool() == pool.rawPointer()); // not made again
    EXPECT_THROW(pool->take(7), ccInvariantFailure);

    pool = nullptr;
    std::memset(out->dataStart(), 7, 32); // the arena is still there
    EXPECT_EQ(Arena::alive, alive);
    out = nullptr;
    EXPECT_EQ(Arena::alive, alive - 1);

    fakes::Pool none; // a pool without an arena
    EXPECT_THROW(none.setSize(64), ccPelRootPool::NotSupported);
    EXPECT_FALSE(none.size() || none.firstQuery() || none.secondQuery());

    auto* basic = dynamic_cast<ccBasicPelRootPool*>(ccDefaultPelRootPool::instance().rawPointer());
    EXPECT_TRUE(&ccDefaultPelRootPool::instance() == &ccDefaultPelRootPool::instance() && basic &&
                basic->size() == 0x1000000u && basic->granuleSize() == 4096u);
}

// Four granules of 16 bytes; roots of one, three and four granules.
TEST(PelPool, ExtentsAreTakenFirstFitMergeWhenFreedAndAFullArenaFreesCachedRootsOfTheNextClasses)
{
    ArenaHandle pool(new Arena(64, 16));
    const int32_t one = pool->u8(16, 1), three = pool->u8(48, 1), four = pool->u8(64, 1);
    Root8 b[4] = {pool->take8(one), pool->take8(one), pool->take8(one), pool->take8(one)};
    unsigned char* base = b[0]->dataStart();
    EXPECT_TRUE(b[1]->dataStart() == base + 16 && b[3]->dataStart() == base + 48 && !pool->take(one)); // full
    b[1] = nullptr, b[3] = nullptr, pool->drain();
    std::memset(base + 16, 0xA5, 16), std::memset(base + 48, 0xA5, 16); // stray writes into free granules
    EXPECT_EQ(pool->take(three), nullptr); // granules 1 and 3 are apart
    b[2] = nullptr, pool->drain();
    EXPECT_EQ(pool->take8(three)->dataStart(), base + 16);
    b[0] = nullptr, pool->drain();
    EXPECT_EQ(pool->take8(four)->dataStart(), base);

    // Three granules; the walk starts after the class asked for, wraps
    // round, and goes on from the class it last freed from.
    ArenaHandle walk(new Arena(48, 16));
    const int32_t c[] = {walk->u8(16, 1), walk->u8(32, 1), walk->u8(8, 2), walk->u8(4, 4), walk->u8(48, 1)};
    for (int32_t i : {0, 2, 3}) // one cached root in each, filling the arena
        walk->take8(c[i]);
    EXPECT_TRUE(walk->take8(c[1]) && walk->destroyed == (std::vector<int32_t>{2, 3}));
    Root8 all = walk->take8(c[4]);
    EXPECT_TRUE(all && walk->destroyed == (std::vector<int32_t>{2, 3, 0, 1}));
    EXPECT_EQ(walk->take(c[0]), nullptr); // nothing left to free

    ArenaHandle two(new Arena(32, 16)); // both cached roots of one class go
    const int32_t half = two->u8(16, 1), whole = two->u8(32, 1);
    { Root8 x = two->take8(half), y = two->take8(half); }
    EXPECT_TRUE(two->take8(whole) && two->destroyed == (std::vector<int32_t>{half, half}));
}

// Five granules of 8 bytes, one held by a cached root of another class,
// which a request that gives no root must leave alone; the granules a root
// takes are those that 8-byte roots no longer find.
TEST(PelPool, OnlyEightBitAndPackedColourRootsThatFitTheArenaAreMadeInWholeGranules)
{
    const std::string u8 = "class ccPelRoot<unsigned char>", rgb32 = "class ccPelRoot<class ccPackedRGB32Pel>";
    const struct { const std::type_info& pel; int32_t width, height; size_t granules; std::string root; } shapes[] = {
        {typeid(unsigned char), 8, 1, 1, u8}, {typeid(unsigned char), 9, 1, 2, u8},
        {typeid(ccPackedRGB16Pel), 8, 1, 2, "class ccPelRoot<class ccPackedRGB16Pel>"},
        {typeid(ccPackedRGB32Pel), 3, 1, 2, rgb32}, {typeid(ccPackedRGB32Pel), 4, 2, 4, rgb32}, // the rest
        {typeid(unsigned short), 8, 1, 0, ""}, {typeid(unsigned char), 0, 5, 0, ""},
        {typeid(unsigned char), 8, -1, 0, ""}, {typeid(unsigned char), 41, 1, 0, ""}, // larger than the arena
        {typeid(unsigned char), 4, 1073741826, 0, ""},                                 // 2^32 + 8 bytes
    };
    for (const auto& s : shapes) {
        ArenaHandle pool(new Arena(40, 8));
        const int32_t keeper = pool->u8(4, 2), unit = pool->u8(8, 1);
        cc_PelRoot* cached = pool->take8(keeper).rawPointer();
        Root root(pool->take(pool->classIndex(s.width, s.height, s.pel)));
        // Rows without padding.
        EXPECT_EQ(root ? root->storedTypeName() + std::string(root->stride() == root->width() ? "" : " padded") : "",
                  s.root);
        Root8 again = pool->take8(keeper);
        EXPECT_TRUE(again.rawPointer() == cached && pool->destroyed.empty());
        std::vector<Root8> units;
        while (Root8 u = pool->take8(unit))
            units.push_back(u);
        EXPECT_EQ(units.size(), 4u - s.granules) << s.root << s.width;
    }
}

// ---- Waiting takers ----

// A waiter's semaphore that holds it after each wake-up until the gate is set.
struct Gated : ccSemaphore {
    Gated() : ccSemaphore(0, 8) {}
    bool lock(double seconds) override { const bool woken = ccSemaphore::lock(seconds); return gate.lock(10.0), woken; }
    ccEvent gate{true};
};

// A taker of class c with a time-out of 5 s on a thread of its own, handed
// back once the pool counts it as waiting; a root it gets only as its time
// runs out counts as none.
std::future<Root> taker(Arena& pool, int32_t c, Gated* gated = nullptr)
{
    const int32_t before = pool.waitingCount();
    auto root = std::async(std::launch::async, [&pool, c, gated] {
        ccSemaphore own(0, 8);
        ccTimeout timeout(5.0);
        Root root(pool.allocFromClass(c, gated ? *gated : own, timeout));
        return timeout.remaining() > 1.0 ? root : Root();
    });
    for (int i = 0; i < 5000 && pool.waitingCount() == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return root;
}

// Served first come first served; two take-backs wake the first waiter
// twice before it runs, and the wake it cannot use goes on to the next. A
// waiter for both granules, woken by a root it cannot use, passes the wake
// on to the waiter behind it.
TEST(PelPoolWaiting, TakeBacksServeWaitersInOrderAndNoWakeUpIsLost)
{
    ArenaHandle pool(new Arena(32, 16));
    const int32_t c = pool->u8(16, 1), wide = pool->u8(32, 1);
    Root8 a = pool->take8(c), b = pool->take8(c);
    cc_PelRoot* const first = a.rawPointer();
    Gated gated;
    auto one = taker(*pool, c), two = taker(*pool, c, &gated);
    a = nullptr;
    Root r1 = one.get();
    EXPECT_TRUE(r1.rawPointer() == first && pool->waitingCount() == 1);
    auto three = taker(*pool, c);
    r1 = nullptr, b = nullptr, gated.gate.set();
    Root r2 = two.get(), r3 = three.get();
    EXPECT_TRUE(r2 && r3);
    auto four = taker(*pool, wide), five = taker(*pool, c);
    r2 = nullptr;
    EXPECT_TRUE(five.get());
    r3 = nullptr;
    EXPECT_TRUE(four.get());
}

TEST(PelPoolWaiting, ThreadsTakeAndGiveBackTheRootsOfAFullPool)
{
    ArenaHandle pool(new Arena(128, 64));
    const int32_t c = pool->u8(8, 8);
    std::vector<std::future<void>> threads;
    for (unsigned char id = 1; id <= 4; ++id)
        threads.push_back(std::async(std::launch::async, [&, id] {
            ccSemaphore semaphore(0, 8);
            for (int i = 0; i < 100; ++i) {
                ccTimeout timeout(10.0);
                Root8 root(static_cast<ccPelRoot<unsigned char>*>(pool->allocFromClass(c, semaphore, timeout)));
                ASSERT_TRUE(root);
                std::memset(root->dataStart(), id, 64);
                std::this_thread::yield();
                EXPECT_EQ(std::count(root->dataStart(), root->dataStart() + 64, id), 64);
            }
        }));
    for (int i = 0; i < 100; ++i) { // drained and resized meanwhile
        pool->drain();
        try { pool->setSize(128); } catch (const ccPelRootPool::Outstanding&) {} // a root is out
    }
    threads.clear();
    EXPECT_NO_THROW(pool->setSize(0)); // every root is back
}

// With a root there: null at once when the abort flag is set or the time-out
// has expired. With none: null when the time runs out, or when the flag is
// set while the taker waits; the taker, the only one, signals its
// notification object when it joins the queue, and leaves it.
TEST(PelPoolWaiting, AWaiterGivesUpAtOnceOnAbortOrWhenTimeRunsOutAndLeavesTheQueue)
{
    ArenaHandle pool(new Arena(16, 16));
    const int32_t c = pool->u8(16, 1);
    ccSemaphore semaphore(0, 8), joined(0, 8);
    std::atomic<bool> abort{true};
    ccTimeout ample(10.0), brief(0.001), shortly(0.05);
    EXPECT_EQ(pool->allocFromClass(c, semaphore, ample, &abort, &joined), nullptr);
    abort = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(pool->allocFromClass(c, semaphore, brief, &abort, &joined), nullptr);
    Root8 held = pool->take8(c);
    EXPECT_EQ(pool->allocFromClass(c, semaphore, shortly, &abort, &joined), nullptr);
    EXPECT_TRUE(shortly.remaining() == 0 && joined.lock(0) && !joined.lock(0));
    auto stop = std::async(std::launch::async, [&] { joined.lock(10.0), abort = true, semaphore.unlock(); });
    EXPECT_EQ(pool->allocFromClass(c, semaphore, ample, &abort, &joined), nullptr);
    EXPECT_TRUE(ample.remaining() > 5.0 && pool->waitingCount() == 0);
}

} // namespace
