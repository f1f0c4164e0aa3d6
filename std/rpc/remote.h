// The base of objects whose data may live in a peer.
#pragma once
#include <cstdint>

#include "std/except/except.h"
#include "std/rpc/communicator.h"

class ccRemoteObject {
public:
    // Arrives from peers as an archived reply; nothing here raises it except
    // a destination that names no live communicator.
    cmDeclareException(ObjectMismatch, ccException, 0x10002600u, "class ccRemoteObject::ObjectMismatch");

    // Local.
    ccRemoteObject() = default;
    ccRemoteObject(ccRPCDestination destination, uint32_t remoteId) : destination_(destination), remoteId_(remoteId)
    {
    }
    ccRemoteObject(const ccRemoteObject&) = default;
    ccRemoteObject& operator=(const ccRemoteObject&) = default;
    virtual ~ccRemoteObject() = 0;

    // Forgets the peer: destination and remote id become 0. Returns 0.
    int32_t makeLocal();

    // True when the object's data must be reached through calls to a peer:
    // it has a destination and that communicator is not closed. A local
    // object answers false; a destination that names no live communicator
    // raises ObjectMismatch.
    bool isAtPeer() const;

    ccRPCDestination destination() const { return destination_; }
    uint32_t remoteId() const { return remoteId_; }

protected:
    ccRPCDestination destination_;
    uint32_t remoteId_ = 0;
};
