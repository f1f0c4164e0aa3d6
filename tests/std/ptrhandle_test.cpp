#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "std/ptrhandle.h"

namespace {

std::atomic<int> gDeleted{0};
std::atomic<std::thread::id> gDeletedOn;

struct Node : ccRepBase {
    explicit Node(int v = 0) : value(v) {}
    ~Node() override { ++gDeleted, gDeletedOn = std::this_thread::get_id(); }
    int value;
    ccPtrHandle<Node> next;
};

// A representation reached through a virtual base, as pel roots and callbacks are.
struct Mixin { virtual ~Mixin() = default; int payload = 7; };
struct VirtualRep : Mixin, virtual ccRepBase { ~VirtualRep() override { ++gDeleted; } };

static_assert(!std::is_convertible_v<ccPtrHandle_const<Node>, ccPtrHandle<Node>>, "a const handle must stay const");
static_assert(!std::is_convertible_v<ccPtrHandle<ccRepBase>, ccPtrHandle<VirtualRep>>, "no implicit downcast");

TEST(PtrHandle, CopiesShareOneCountAlsoThroughAVirtualBaseAndAcrossThreadsTheLastDeletesAndEmptyThrows)
{
    gDeleted = 0;
    Node* n = new Node(3);
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
    a = ccPtrHandle<Node>();
    // The null test yields the handle itself; an empty handle throws on access.
    EXPECT_EQ(std::pair(gDeleted.load(), static_cast<const void*>(a)), std::pair(1, static_cast<const void*>(nullptr)));
    EXPECT_THROW((void)a->value, ccBadPointer);

    // head -> second, held only by head: walking the list by assignment must not free second before it is referenced.
    ccPtrHandle<Node> head(new Node(1));
    head->next = new Node(2);
    head = head->next;
    EXPECT_EQ(std::tuple(head->value, gDeleted.load(), static_cast<const void*>(head)),
              std::tuple(2, 2, static_cast<const void*>(&head)));

    ccPtrHandle<VirtualRep> v(new VirtualRep);
    ccPtrHandle_const<ccRepBase> base(v);
    v = nullptr;
    EXPECT_EQ(std::pair(base->refCount(), gDeleted.load()), std::pair(1, 2));
    base = nullptr;
    EXPECT_EQ(gDeleted, 3);

    // Copies released on many threads: the last handle is on some worker, which deletes the object there.
    ccPtrHandle<Node> shared(new Node);
    std::atomic<bool> go{false}; // the workers start once main's handle is gone
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([mine = shared, &go]() mutable {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < 2000; ++i)
                ccPtrHandle_const<Node>() = ccPtrHandle<Node>(mine);
            mine = nullptr;
        });
    shared = nullptr;
    go = true;
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(std::pair(gDeleted.load(), gDeletedOn.load() != std::this_thread::get_id()), std::pair(4, true));
}

} // namespace
