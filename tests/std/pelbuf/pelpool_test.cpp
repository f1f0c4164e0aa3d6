#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <typeinfo>
#include <utility>
#include <vector>

#include "std/except/resource.h"
#include "std/pelbuf/pelpool.h"
#include "std/pelbuf/pelroot.h"
#include "std/timeout.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/support/fake_clock.h"

namespace {

typedef ccPtrHandle<ccPelRoot<unsigned char>> Root8;

// A basic pool that lists the classes of the roots it destroys and tells
// when it is gone.
class Arena : public ccBasicPelRootPool {
public:
    Arena(uint32_t size, uint32_t granule, bool* gone = nullptr) : ccBasicPelRootPool(0, granule), gone_(gone)
    {
        setSize(size);
    }
    ~Arena() override
    {
        releaseArena();
        if (gone_)
            *gone_ = true;
    }
    int32_t u8(int32_t width, int32_t height) { return classIndex(width, height, typeid(unsigned char)); }
    Root8 take8(int32_t c) { return Root8(static_cast<ccPelRoot<unsigned char>*>(take(c))); }

    std::vector<int32_t> destroyed;

protected:
    void destroyRoot(cc_PooledRoot* record) override
    {
        destroyed.push_back(record->classIndex);
        ccBasicPelRootPool::destroyRoot(record);
    }

private:
    bool* gone_;
};

typedef ccPtrHandle<Arena> ArenaHandle;

TEST(PelPool, ARootComesBackToItsClassResizingWaitsForItAndItKeepsItsPoolAlive)
{
    bool gone = false;
    ArenaHandle pool(new Arena(64, 16, &gone));
    const int32_t c = pool->u8(16, 2);
    EXPECT_TRUE(pool->u8(16, 2) == c && pool->classIndex(16, 2, typeid(ccPackedRGB16Pel)) == c + 1);
    Root8 out = pool->take8(c);
    EXPECT_THROW(pool->setSize(128), ccPelRootPool::Outstanding);
    EXPECT_EQ(pool->size(), 64u);
    out = nullptr;
    pool->setSize(100); // idle: the cached root goes
    EXPECT_TRUE(pool->destroyed == std::vector<int32_t>{c} && pool->size() == 100u);
    out = pool->take8(c);
    cc_PelRoot* const first = out.rawPointer();
    out = nullptr, out = pool->take8(c);
    EXPECT_TRUE(out.rawPointer() == first && out->pool() == pool.rawPointer()); // not made again
    EXPECT_THROW(pool->take(7), ccInvariantFailure);

    pool = nullptr;
    std::memset(out->dataStart(), 7, 32); // the arena is still there
    EXPECT_FALSE(gone);
    out = nullptr;
    EXPECT_TRUE(gone);

    fakes::Pool none; // a pool without an arena
    EXPECT_THROW(none.setSize(64), ccPelRootPool::NotSupported);
    EXPECT_FALSE(none.size() || none.firstQuery() || none.secondQuery());
}

// Four granules of 16 bytes; roots of one, three and four granules.
TEST(PelPool, ExtentsAreTakenFirstFitAndMergeWithBothNeighboursWhenFreed)
{
    ArenaHandle pool(new Arena(64, 16));
    const int32_t one = pool->u8(16, 1), three = pool->u8(48, 1), four = pool->u8(64, 1);
    Root8 b[4];
    b[0] = pool->take8(one);
    unsigned char* base = b[0]->dataStart();
    std::memset(base + 16, 0xA5, 48); // a stray write into the free granules
    for (int i = 1; i < 4; ++i) {
        b[i] = pool->take8(one);
        EXPECT_EQ(b[i]->dataStart(), base + 16 * i);
    }
    EXPECT_EQ(pool->take(one), nullptr); // full, nothing cached
    b[1] = nullptr, b[3] = nullptr, pool->drain();
    EXPECT_EQ(pool->take(three), nullptr); // granules 1 and 3 are apart
    b[2] = nullptr, pool->drain();
    EXPECT_EQ(pool->take8(three)->dataStart(), base + 16);
    b[0] = nullptr, pool->drain();
    EXPECT_EQ(pool->take8(four)->dataStart(), base);
}

// Three granules; the walk starts after the class asked for, wraps round,
// and goes on from the class it last freed from.
TEST(PelPool, AFullArenaFreesCachedRootsOfTheNextClassesInTurnUntilTheRootFits)
{
    ArenaHandle pool(new Arena(48, 16));
    const int32_t c[] = {pool->u8(16, 1), pool->u8(32, 1), pool->u8(8, 2), pool->u8(4, 4), pool->u8(48, 1)};
    for (int32_t i : {0, 2, 3}) // one cached root in each, filling the arena
        pool->take8(c[i]);
    EXPECT_TRUE(pool->take8(c[1]) && pool->destroyed == (std::vector<int32_t>{2, 3}));
    Root8 all = pool->take8(c[4]);
    EXPECT_TRUE(all && pool->destroyed == (std::vector<int32_t>{2, 3, 0, 1}));
    EXPECT_EQ(pool->take(c[0]), nullptr); // nothing left to free

    ArenaHandle two(new Arena(32, 16)); // both cached roots of one class go
    const int32_t one = two->u8(16, 1), both = two->u8(32, 1);
    { Root8 x = two->take8(one), y = two->take8(one); }
    EXPECT_TRUE(two->take8(both) && two->destroyed == (std::vector<int32_t>{one, one}));
}

// Five granules of 8 bytes, one held by a cached root of another class,
// which a request that gives no root must leave alone.
TEST(PelPool, OnlyEightBitAndPackedColourRootsThatFitTheArenaAreMadeInWholeGranules)
{
    struct Shape {
        const std::type_info* pelType;
        int32_t width, height;
        int32_t granules; // 0: no root
        const char* root;
    };
    const Shape shapes[] = {
        {&typeid(unsigned char), 8, 1, 1, "class ccPelRoot<unsigned char>"},
        {&typeid(unsigned char), 9, 1, 2, "class ccPelRoot<unsigned char>"},
        {&typeid(ccPackedRGB16Pel), 8, 1, 2, "class ccPelRoot<class ccPackedRGB16Pel>"},
        {&typeid(ccPackedRGB32Pel), 3, 1, 2, "class ccPelRoot<class ccPackedRGB32Pel>"},
        {&typeid(ccPackedRGB32Pel), 4, 2, 4, "class ccPelRoot<class ccPackedRGB32Pel>"}, // the rest of the arena
        {&typeid(unsigned short), 8, 1, 0, nullptr},
        {&typeid(unsigned char), 0, 5, 0, nullptr},
        {&typeid(unsigned char), 8, -1, 0, nullptr},
        {&typeid(unsigned char), 41, 1, 0, nullptr},         // larger than the arena
        {&typeid(unsigned char), 4, 1073741826, 0, nullptr}, // 2^32 + 8 bytes
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(&s - shapes);
        ArenaHandle pool(new Arena(40, 8));
        const int32_t keeper = pool->u8(4, 2), unit = pool->u8(8, 1);
        cc_PelRoot* cached = pool->take8(keeper).rawPointer();
        ccPtrHandle<cc_PelRoot> root(pool->take(pool->classIndex(s.width, s.height, *s.pelType)));
        EXPECT_EQ(root.rawPointer() != nullptr, s.granules != 0);
        if (root) { // rows without padding
            EXPECT_TRUE(s.root && root->storedTypeName() == std::string(s.root) && root->stride() == root->width());
        }
        Root8 again = pool->take8(keeper);
        EXPECT_TRUE(again.rawPointer() == cached && pool->destroyed.empty());
        std::vector<Root8> units;
        while (Root8 u = pool->take8(unit))
            units.push_back(u);
        EXPECT_EQ(units.size(), 4u - s.granules);
    }
}

TEST(PelPool, TheDefaultPoolIsOneProcessWidePoolOf16MiBIn4096ByteGranules)
{
    const ccPtrHandle<ccPelRootPool>& pool = ccDefaultPelRootPool::instance();
    auto* basic = dynamic_cast<ccBasicPelRootPool*>(pool.rawPointer());
    ASSERT_TRUE(&ccDefaultPelRootPool::instance() == &pool && basic);
    EXPECT_TRUE(basic->size() == 0x1000000u && basic->granuleSize() == 4096u);
}

// ---- Waiting takers ----

// A waiter's semaphore that, when gated, holds the waiter after each
// wake-up until opened; it notes whether a wait ran out of time.
class Probe : public ccSemaphore {
public:
    explicit Probe(bool gated) : ccSemaphore(0, 8), gated_(gated) {}
    bool lock(double seconds) override
    {
        const bool woken = ccSemaphore::lock(seconds);
        timedOut = timedOut || !woken;
        if (gated_)
            opened_.wait();
        return woken;
    }
    void open() { gate_.set_value(); }
    std::atomic<bool> timedOut{false};

private:
    bool gated_;
    std::promise<void> gate_;
    std::shared_future<void> opened_ = gate_.get_future().share();
};

// A taker on a thread of its own, with a time-out of 5 s; the pool counts
// it as waiting once it has asked.
struct Taker {
    Taker(Arena& pool, int32_t c, bool gated = false) : semaphore(gated)
    {
        const int32_t before = pool.waitingCount();
        thread = std::thread([&pool, c, this] {
            ccTimeout timeout(5.0);
            root = pool.allocFromClass(c, semaphore, timeout);
        });
        for (int i = 0; i < 5000 && pool.waitingCount() == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Taker() { done(); }
    cc_PelRoot* done()
    {
        if (thread.joinable())
            thread.join();
        return root;
    }
    Probe semaphore;
    cc_PelRoot* root = nullptr;
    std::thread thread;
};

// Served first come first served; two take-backs wake the first waiter
// twice before it runs, and the wake it cannot use goes on to the next.
TEST(PelPoolWaiting, TakeBacksServeWaitersInOrderAndNoWakeUpIsLost)
{
    ArenaHandle pool(new Arena(32, 16));
    const int32_t c = pool->u8(16, 1);
    Root8 a = pool->take8(c), b = pool->take8(c);
    cc_PelRoot* const first = a.rawPointer();
    Taker early(*pool, c), gated(*pool, c, true);
    a = nullptr;
    ccPtrHandle<cc_PelRoot> one(early.done());
    EXPECT_TRUE(one.rawPointer() == first && !early.semaphore.timedOut && pool->waitingCount() == 1);
    Taker late(*pool, c);
    ASSERT_EQ(pool->waitingCount(), 2);
    one = nullptr, b = nullptr;
    gated.semaphore.open();
    ccPtrHandle<cc_PelRoot> two(gated.done()), three(late.done());
    EXPECT_TRUE(two && three && !late.semaphore.timedOut);
}

TEST(PelPoolWaiting, ThreadsTakeAndGiveBackTheRootsOfAFullPool)
{
    ArenaHandle pool(new Arena(128, 64));
    const int32_t c = pool->u8(8, 8);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (unsigned char id = 1; id <= 4; ++id)
        threads.emplace_back([&, id] {
            ccSemaphore semaphore(0, 8);
            for (int i = 0; i < 100; ++i) {
                ccTimeout timeout(10.0);
                Root8 root(static_cast<ccPelRoot<unsigned char>*>(pool->allocFromClass(c, semaphore, timeout)));
                ASSERT_TRUE(root);
                std::memset(root->dataStart(), id, 64);
                std::this_thread::yield();
                failures += std::count(root->dataStart(), root->dataStart() + 64, id) != 64;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures, 0);
    EXPECT_NO_THROW(pool->setSize(0)); // every root is back
}

// Its waits take no time: each runs the given step and times out.
class Instant : public ccSemaphore {
public:
    explicit Instant(std::function<void(double)> step) : ccSemaphore(0, 1), step_(std::move(step)) {}
    bool lock(double seconds) override
    {
        ++waits;
        step_(seconds);
        return false;
    }
    int waits = 0;

private:
    std::function<void(double)> step_;
};

// On a counter that moves only when told, 1000 ticks a second.
class PelPoolClock : public ::testing::Test {
protected:
    void SetUp() override { ccStopwatch::calibrate(); }
    void TearDown() override { plat::setCounterSource(nullptr, 0), ccStopwatch::calibrate(); }
    const int64_t realFrequency_ = ccCounterFrequency(); // calibrated once before the fake counter
    test_clock::FakeClock clock{0, 1000};
};

TEST_F(PelPoolClock, AWaiterGivesUpAtOnceOrWhenTimeRunsOutOrOnAbortAndLeavesTheQueue)
{
    struct Case {
        bool abortFirst;
        int64_t ticksFirst; // of the 1000 that the time-out lasts
        bool abortInWait;   // at the first wait; else each wait takes the time left
        int waits;
    };
    const Case cases[] = {{true, 0, false, 0}, {false, 1000, false, 0}, {false, 999, false, 1}, {false, 0, true, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(&k - cases);
        ArenaHandle pool(new Arena(16, 16));
        const int32_t c = pool->u8(16, 1);
        Root8 held = pool->take8(c);
        if (k.waits == 0)
            held = nullptr; // a root is there, and still not taken
        std::atomic<bool> abort{k.abortFirst};
        ccTimeout timeout(1.0);
        clock.advance(k.ticksFirst);
        Instant semaphore([&](double seconds) {
            if (k.abortInWait && !abort)
                abort = true;
            else
                clock.advance(static_cast<int64_t>(seconds * 1000 + 0.5));
        });
        ccSemaphore joined(0, 8); // signalled when the taker is the only waiter
        EXPECT_EQ(pool->allocFromClass(c, semaphore, timeout, &abort, &joined), nullptr);
        EXPECT_TRUE(semaphore.waits == k.waits && joined.lock(0) == (k.waits == 1) && !joined.lock(0));
        EXPECT_EQ(pool->waitingCount(), 0);
    }
}

} // namespace
