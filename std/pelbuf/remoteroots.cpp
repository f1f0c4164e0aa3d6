#include "std/pelbuf/remoteroots.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "std/pelbuf/pelrpc.h"

struct ccRemotePelRootRegistry::Entry {
    struct Record {
        int32_t count = 1; // the references at the peer that the record stands for
        bool held = false; // whether the peer was sent +1 for it
    };
    // Recursive: a release inside a count change of the same destination
    // (a root disposed of under the lock) takes it again.
    std::recursive_mutex lock;
    // By remote id and proxy: two proxies of one peer root each hold a
    // reference of their own there.
    std::map<std::pair<uint32_t, const cc_PelRoot*>, Record> records;

    Record* recordOf(const cc_PelRoot& root)
    {
        auto it = records.find({root.remoteId(), &root});
        return it != records.end() ? &it->second : nullptr;
    }

    // The record of root goes; the peer hears -n if it was sent +1. Errors
    // are dropped: this is a release path.
    void giveBack(const cc_PelRoot& root) noexcept
    {
        Record* r = recordOf(root);
        if (!r)
            return;
        if (r->held) {
            try {
                cc_PelRootCalls::changeRefCount(root.destination(), root.remoteId(), -r->count);
            } catch (...) {
            }
        }
        records.erase({root.remoteId(), &root});
    }
};

namespace {

struct Entries {
    std::mutex lock; // guards only the map
    std::map<uint32_t, std::unique_ptr<ccRemotePelRootRegistry::Entry>> byDestination;
};

} // namespace

ccRemotePelRootRegistry& ccRemotePelRootRegistry::instance()
{
    static auto* registry = new ccRemotePelRootRegistry;
    return *registry;
}

ccRemotePelRootRegistry::Entry& ccRemotePelRootRegistry::entryFor(ccRPCDestination destination)
{
    static auto* entries = new Entries; // never destroyed: roots released at exit still find it
    std::lock_guard<std::mutex> hold(entries->lock);
    std::unique_ptr<Entry>& e = entries->byDestination[destination.id()];
    if (!e)
        e = std::make_unique<Entry>();
    return *e; // entries live until exit, so the reference stays good unlocked
}

int32_t ccRemotePelRootRegistry::registeredCount(const cc_PelRoot& root)
{
    Entry& e = entryFor(root.destination());
    std::lock_guard<std::recursive_mutex> hold(e.lock);
    const Entry::Record* r = e.recordOf(root);
    return r ? r->count : 0;
}

void ccRemotePelRootRegistry::unregisterRoot(const cc_PelRoot& root)
{
    Entry& e = entryFor(root.destination());
    std::lock_guard<std::recursive_mutex> hold(e.lock);
    e.records.erase({root.remoteId(), &root});
}

void ccRemotePelRootRegistry::registerRoot(cc_PelRoot& root)
{
    Entry& e = entryFor(root.destination());
    std::lock_guard<std::recursive_mutex> hold(e.lock);
    e.records[{root.remoteId(), &root}] = Entry::Record();
}

int32_t ccRemotePelRootRegistry::addRef(cc_PelRoot& root)
{
    Entry& e = entryFor(root.destination());
    std::unique_lock<std::recursive_mutex> hold(e.lock);
    const int32_t count = root.ccRepBase::addRef();
    if (Entry::Record* r = e.recordOf(root); r && !r->held) {
        try {
            cc_PelRootCalls::changeRefCount(root.destination(), root.remoteId(), +1);
        } catch (...) {
            // The handle that asked is not made, so nothing would give the
            // reference back; another holder's next handle tries the peer
            // again. A root that nothing holds goes, with its record: the
            // peer was never sent +1 for it.
            if (root.ccRepBase::release() == 0) {
                e.records.erase({root.remoteId(), &root});
                hold.unlock();
                cc_PelRoot::dispose(&root);
            }
            throw;
        }
        if ((r = e.recordOf(root)) != nullptr)
            r->held = true;
    }
    return count;
}

int32_t ccRemotePelRootRegistry::releaseRef(cc_PelRoot& root) noexcept
{
    Entry* e = nullptr;
    try {
        e = &entryFor(root.destination());
    } catch (...) {
        // No memory for a new entry: the root has no record to give back.
        return root.ccRepBase::release();
    }
    std::lock_guard<std::recursive_mutex> hold(e->lock);
    const int32_t count = root.ccRepBase::release();
    if (root.handedOver())
        root.setHandedOver(false); // the hand-over took the peer's reference
    else if (count == 0)
        e->giveBack(root);
    return count;
}

void ccRemotePelRootRegistry::giveBack(cc_PelRoot& root) noexcept
{
    try {
        Entry& e = entryFor(root.destination());
        std::lock_guard<std::recursive_mutex> hold(e.lock);
        e.giveBack(root);
    } catch (...) {
    }
}
