#include "std/rpc/communicator.h"

#include <mutex>
#include <unordered_map>

#include "std/rpc/remote.h"

namespace {

// Never destroyed: communicators released late at exit still find it.
struct Table {
    std::mutex lock;
    std::unordered_map<uint32_t, ccCommunicator*> live;
    uint32_t next = 1;
};

Table& table()
{
    static auto* t = new Table;
    return *t;
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
    t.live.emplace(destination_.id(), this);
}

ccCommunicator::~ccCommunicator()
{
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    t.live.erase(destination_.id());
}

ccCommunicator* ccRPCDestination::communicator() const
{
    if (id_ == 0)
        return nullptr;
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    auto it = t.live.find(id_);
    if (it == t.live.end())
        throw ccRemoteObject::ObjectMismatch();
    return it->second;
}
