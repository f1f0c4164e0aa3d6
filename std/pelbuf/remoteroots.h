// The records of roots whose pels are at a peer, and the references that
// the peer keeps for them.
//
// The peer's count of its root changes only here. A record is made with each
// proxy root and stands for n references at the peer (1); two proxies of one
// peer root have a record each. The first reference that
// a root handle of a buffer or a three-plane root takes sends +1, once per
// record; the record going sends -n if that +1 was sent: at the last such
// release, when the root gives up its storage, or when the root is
// destroyed (a typed handle counts plainly, so it may be the last to go). A
// hand-over removes the record without a word: the fetch that moved the
// pels took the peer's reference with it.
//
// Two lock levels: a global lock guards only the map of destinations; each
// destination's lock orders the count changes and calls of its roots and is
// held across those calls. The global lock is never held while a
// destination's lock is awaited.
#pragma once
#include <cstdint>

#include "std/pelbuf/pelroot.h"

class ccRemotePelRootRegistry : public cc_RemoteRootProtocol {
public:
    // Installed by ccStdPelbufStartup; never destroyed.
    static ccRemotePelRootRegistry& instance();

    // The references that root's record stands for; 0 when it has none.
    int32_t registeredCount(const cc_PelRoot& root);
    // Removes root's record, sending nothing.
    void unregisterRoot(const cc_PelRoot& root);

    // A record of one reference for a new proxy.
    void registerRoot(cc_PelRoot& root) override;
    int32_t addRef(cc_PelRoot& root) override;
    int32_t releaseRef(cc_PelRoot& root) noexcept override;
    void giveBack(cc_PelRoot& root) noexcept override;

    // One destination's lock and records; opaque.
    struct Entry;

private:
    Entry& entryFor(ccRPCDestination destination);
};
