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
    ccCommunicator* c = destination_.communicator();
    return c && !c->isClosed();
}
