#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "std/ptrhandle.h"

namespace {

std::atomic<int> gDeleted{0};
std::atomic<std::thread::id> gDeletedOn;

struct Node : ccRepBase {
    explicit Node(int v = 0) : value(v) {}
    ~Node() override { ++gDeleted, gDeletedOn = std::this_thread::get_id(); }
    virtual int kind() const { return 1; }
    int value;
    ccPtrHandle<Node> next;
};

struct Derived : Node { int kind() const override { return 2; } };

// A representation reached through a virtual base, as pel roots and callbacks are.
struct Mixin { virtual ~Mixin() = default; int payload = 7; };
struct VirtualRep : Mixin, virtual ccRepBase { ~VirtualRep() override { ++gDeleted; } };

static_assert(!std::is_convertible_v<ccPtrHandle_const<Node>, ccPtrHandle<Node>>,
              "a const handle must not give mutable access");
static_assert(!std::is_convertible_v<ccPtrHandle<Node>, ccPtrHandle<Derived>>, "no implicit downcast");

struct PtrHandleTest : ::testing::Test {
    void SetUp() override { gDeleted = 0; }
};

TEST_F(PtrHandleTest, CopiesShareOneCountAndTheLastHandleDeletes)
{
    Node* n = new Node(3);
    {
        ccPtrHandle<Node> a(n);
        {
            ccPtrHandle<Node> b(a);
            ccPtrHandle_const<Node> c;
            c = b;
            // Self-assignment and assigning the same object change no count.
            a = a, a = b, a = a.rawPointer();
            EXPECT_EQ(n->refCount(), 3);
        }
        EXPECT_EQ(std::pair(n->refCount(), gDeleted.load()), std::pair(1, 0));
        a = ccPtrHandle<Node>(); // assigning empty to the last reference deletes, the empty handle nothing
    }
    EXPECT_EQ(gDeleted, 1);
}

TEST_F(PtrHandleTest, ObjectKeptAliveOnlyByTheOldOneSurvivesAssignment)
{
    // head -> second; second is held only by head. Walking the list by
    // assignment must not free second before it is referenced.
    ccPtrHandle<Node> head(new Node(1));
    head->next = new Node(2);
    head = head->next;
    EXPECT_EQ(std::pair(head->value, gDeleted.load()), std::pair(2, 1));
}

// The null test yields the handle itself; an empty handle throws on access.
TEST_F(PtrHandleTest, EmptyHandleTestsFalseAndThrowsBadPointer)
{
    ccPtrHandle<Node> full(new Node), empty;
    ccPtrHandle_const<Node> constEmpty;
    EXPECT_EQ(static_cast<const void*>(full), static_cast<const void*>(&full));
    EXPECT_EQ(static_cast<const void*>(empty), nullptr);
    EXPECT_THROW((void)empty->value, ccBadPointer);
    EXPECT_THROW((void)*constEmpty, ccBadPointer);
}

TEST_F(PtrHandleTest, BaseHandlesShareTheCountAlsoThroughAVirtualBase)
{
    ccPtrHandle<Derived> d(new Derived);
    ccPtrHandle<Node> b(d);
    ccPtrHandle_const<Node> cb(d);
    EXPECT_EQ(std::pair(d->refCount(), b->kind()), std::pair(3, 2));
    d = nullptr, b = nullptr;
    EXPECT_EQ(std::pair(cb->refCount(), gDeleted.load()), std::pair(1, 0));
    cb = nullptr;
    EXPECT_EQ(gDeleted, 1);
    {
        ccPtrHandle<VirtualRep> v(new VirtualRep), w(v);
        EXPECT_EQ(std::pair(v->refCount(), w->payload), std::pair(2, 7));
    }
    EXPECT_EQ(gDeleted, 2);
}

// The last handle is on some worker, which deletes the object there.
TEST_F(PtrHandleTest, CopiesReleasedOnManyThreadsDeleteExactlyOnceOnTheLastThread)
{
    for (int round = 0; round < 20; ++round) {
        gDeleted = 0;
        ccPtrHandle<Node> shared(new Node);
        std::vector<std::thread> threads;
        std::atomic<bool> go{false};
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([mine = shared, &go]() mutable {
                while (!go)
                    std::this_thread::yield();
                for (int i = 0; i < 500; ++i) {
                    ccPtrHandle_const<Node> other;
                    other = ccPtrHandle<Node>(mine);
                }
                mine = nullptr;
            });
        }
        shared = nullptr;
        go = true;
        for (auto& th : threads)
            th.join();
        EXPECT_EQ(std::pair(gDeleted.load(), gDeletedOn.load() != std::this_thread::get_id()), std::pair(1, true));
    }
}

} // namespace
