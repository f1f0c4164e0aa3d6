#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "std/ptrhandle.h"

namespace {

std::atomic<int> gDeleted{0};

struct Node : ccRepBase {
    explicit Node(int v = 0) : value(v) {}
    ~Node() override { ++gDeleted; }
    int value;
    ccPtrHandle<Node> next;
};

struct Base : ccRepBase {
    ~Base() override { ++gDeleted; }
    virtual int kind() const { return 1; }
};

struct Derived : Base {
    int kind() const override { return 2; }
};

// A representation reached through a virtual base, as pel roots and callbacks are.
struct Mixin {
    virtual ~Mixin() = default;
    int payload = 7;
};
struct VirtualRep : Mixin, virtual ccRepBase {
    ~VirtualRep() override { ++gDeleted; }
};

class PtrHandleTest : public ::testing::Test {
protected:
    void SetUp() override { gDeleted = 0; }
};

TEST_F(PtrHandleTest, CopiesShareOneCountAndTheLastHandleDeletes)
{
    Node* n = new Node(3);
    EXPECT_EQ(n->refCount(), 0);
    {
        ccPtrHandle<Node> a(n);
        EXPECT_EQ(n->refCount(), 1);
        {
            ccPtrHandle<Node> b(a);
            ccPtrHandle_const<Node> c;
            c = b;
            EXPECT_EQ(n->refCount(), 3);
            EXPECT_EQ(c->value, 3);
        }
        EXPECT_EQ(n->refCount(), 1);
        EXPECT_EQ(gDeleted, 0);
    }
    EXPECT_EQ(gDeleted, 1);
}

TEST_F(PtrHandleTest, SelfAssignmentAndSameObjectChangeNoCount)
{
    ccPtrHandle<Node> a(new Node);
    ccPtrHandle<Node> b(a);
    const int32_t before = a->refCount();
    a = a;
    a = b;
    a = a.rawPointer();
    EXPECT_EQ(a->refCount(), before);
    EXPECT_EQ(gDeleted, 0);
}

TEST_F(PtrHandleTest, AssigningEmptyToLastReferenceDeletesAndEmpties)
{
    ccPtrHandle<Node> a(new Node);
    a = ccPtrHandle<Node>();
    EXPECT_EQ(gDeleted, 1);
    EXPECT_FALSE(a);
    a = nullptr;
    EXPECT_EQ(gDeleted, 1);
}

TEST_F(PtrHandleTest, ObjectKeptAliveOnlyByTheOldOneSurvivesAssignment)
{
    // head -> second; second is held only by head. Walking the list by
    // assignment must not free second before it is referenced.
    ccPtrHandle<Node> head(new Node(1));
    head->next = new Node(2);
    head = head->next;
    EXPECT_EQ(head->value, 2);
    EXPECT_EQ(gDeleted, 1);
    ccPtrHandle_const<Node> view(head);
    view = view->next; // empty next
    EXPECT_FALSE(view);
}

TEST_F(PtrHandleTest, EmptyHandleThrowsBadPointerAndStaysEmpty)
{
    ccPtrHandle<Node> empty;
    ccPtrHandle_const<Node> constEmpty;
    EXPECT_FALSE(empty);
    try {
        (void)empty->value;
        FAIL() << "no exception";
    } catch (const ccBadPointer& e) {
        EXPECT_EQ(e.code(), 0x10000008u);
    }
    EXPECT_THROW((void)*constEmpty, ccBadPointer);
    EXPECT_EQ(empty.rawPointer(), nullptr);
}

TEST_F(PtrHandleTest, NullTestYieldsTheHandleItself)
{
    ccPtrHandle<Node> a(new Node);
    EXPECT_EQ(static_cast<const void*>(a), static_cast<const void*>(&a));
    ccPtrHandle<Node> b;
    EXPECT_EQ(static_cast<const void*>(b), nullptr);
}

TEST_F(PtrHandleTest, DerivedHandleConvertsToBaseSharingTheCount)
{
    ccPtrHandle<Derived> d(new Derived);
    ccPtrHandle<Base> b(d);
    ccPtrHandle_const<Base> cb(d);
    EXPECT_EQ(d->refCount(), 3);
    EXPECT_EQ(b->kind(), 2);
    d = nullptr;
    b = nullptr;
    EXPECT_EQ(gDeleted, 0);
    EXPECT_EQ(cb->refCount(), 1);
    cb = nullptr;
    EXPECT_EQ(gDeleted, 1);
}

TEST_F(PtrHandleTest, MutableHandleBindsToConstWithoutCountChange)
{
    ccPtrHandle<Node> a(new Node);
    const ccPtrHandle_const<Node>& c = a;
    EXPECT_EQ(c->refCount(), 1);
    EXPECT_EQ(c.rawPointer(), a.rawPointer());
    static_assert(!std::is_convertible_v<ccPtrHandle_const<Node>, ccPtrHandle<Node>>,
                  "a const handle must not give mutable access");
    static_assert(!std::is_convertible_v<ccPtrHandle<Base>, ccPtrHandle<Derived>>,
                  "no implicit downcast");
}

TEST_F(PtrHandleTest, CountReachedThroughAVirtualBase)
{
    {
        ccPtrHandle<VirtualRep> a(new VirtualRep);
        ccPtrHandle<VirtualRep> b(a);
        EXPECT_EQ(a->refCount(), 2);
        EXPECT_EQ(b->payload, 7);
    }
    EXPECT_EQ(gDeleted, 1);
}

TEST_F(PtrHandleTest, CopiesReleasedOnManyThreadsDeleteExactlyOnce)
{
    for (int round = 0; round < 20; ++round) {
        gDeleted = 0;
        ccPtrHandle<Node> shared(new Node);
        std::vector<std::thread> threads;
        std::atomic<bool> go{false};
        for (int t = 0; t < 8; ++t) {
            ccPtrHandle<Node> mine(shared);
            threads.emplace_back([mine, &go]() mutable {
                while (!go)
                    std::this_thread::yield();
                for (int i = 0; i < 500; ++i) {
                    ccPtrHandle<Node> copy(mine);
                    ccPtrHandle_const<Node> other;
                    other = copy;
                }
                mine = nullptr;
            });
        }
        shared = nullptr; // the last handle lives on some worker
        go = true;
        for (auto& th : threads)
            th.join();
        EXPECT_EQ(gDeleted, 1);
    }
}

TEST_F(PtrHandleTest, LastHandleOnAnotherThreadDeletesThere)
{
    struct Recorder : ccRepBase {
        std::thread::id* where;
        explicit Recorder(std::thread::id* w) : where(w) {}
        ~Recorder() override { *where = std::this_thread::get_id(); }
    };
    std::thread::id deletedOn;
    auto* last = new ccPtrHandle<Recorder>(new Recorder(&deletedOn));
    std::thread worker([last] { delete last; });
    const std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(deletedOn, workerId);
}

} // namespace
