#include "std/rpc/remote.h"

ccRemoteObject::~ccRemoteObject() = default;

int32_t ccRemoteObject::makeLocal()
{
    destination_ = ccRPCDestination();
    remoteId_ = 0;
    return 0;
}

bool ccRemoteObject::isAtPeer() const
{
    // Held: the communicator may be destroyed on another thread meanwhile.
    ccCommunicatorHold c(destination_);
    return c && !c->isClosed();
}
