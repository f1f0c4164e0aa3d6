#include "std/rpc/communicator.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "std/rpc/remote.h"

namespace {

struct Entry {
    ccCommunicator* communicator;
    uint32_t holds = 0;   // ccCommunicatorHolds that may be inside it
    bool leaving = false; // unlisted, waiting for its holds to go
};

// Never destroyed: communicators released late at exit still find it. The
// lock is never held while a communicator is called, so a communicator may
// use the table from its own operations.
struct Table {
    std::mutex lock;
    std::condition_variable released; // a leaving entry's last hold went
    std::unordered_map<uint32_t, Entry> live;
    uint32_t next = 1;
};

Table& table()
{
    static auto* t = new Table;
    return *t;
}

// The entry that id names for look-ups, under the lock; throws when none.
Entry& listed(Table& t, uint32_t id)
{
    auto it = t.live.find(id);
    if (it == t.live.end() || it->second.leaving)
        throw ccRemoteObject::ObjectMismatch();
    return it->second;
}

} // namespace

ccCommunicator::ccCommunicator()
{
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    // Ids are not reused while their communicator lives; 0 is this process.
    while (t.next == 0 || t.live.count(t.next))
        ++t.next;
    destination_ = ccRPCDestination(t.next++);
    t.live.emplace(destination_.id(), Entry{this});
}

ccCommunicator::~ccCommunicator() { unlist(); }

void ccCommunicator::unlist()
{
    Table& t = table();
    std::unique_lock<std::mutex> hold(t.lock);
    auto it = t.live.find(destination_.id());
    if (it == t.live.end() || it->second.communicator != this)
        return;
    // Hidden from new look-ups at once; the entry stays until the holds that
    // were taken before are gone (a reference survives rehashing).
    Entry& e = it->second;
    e.leaving = true;
    t.released.wait(hold, [&] { return e.holds == 0; });
    t.live.erase(destination_.id());
}

ccCommunicator* ccRPCDestination::communicator() const
{
    if (id_ == 0)
        return nullptr;
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    return listed(t, id_).communicator;
}

ccCommunicatorHold::ccCommunicatorHold(ccRPCDestination destination) : id_(destination.id()), communicator_(nullptr)
{
    if (id_ == 0)
        return;
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    Entry& e = listed(t, id_);
    ++e.holds;
    communicator_ = e.communicator;
}

ccCommunicatorHold::~ccCommunicatorHold()
{
    if (!communicator_)
        return;
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    // Still there: an entry with holds is not erased.
    Entry& e = t.live.find(id_)->second;
    if (--e.holds == 0 && e.leaving)
        t.released.notify_all();
}
