#include "std/rpc/startup.h"

#include <mutex>

#include "std/except/persist.h"
#include "std/rpc/remote.h"
#include "std/rpc/rpc.h"
#include "std/startup.h"

void ccStdRpcStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccStdStartup();
        ccRegisterPersistent<ccRemoteObject::ObjectMismatch>();
        // Errors that travel from peers as status-1 replies.
        ccRegisterPersistent<ccRPC::ObjectMismatch>();
        ccRegisterPersistent<ccRPC::RuntimeError>();
        ccRegisterPersistent<ccRPC::UnknownCommunicator>();
        ccRegisterPersistent<ccRPC::UnsupportedFunction>();
        ccRegisterPersistent<ccRPCHandler::DuplicateHandler>();
        ccRegisterPersistent<ccRPC::CouldNotStartService>();
        ccRegisterPersistent<ccRPC::NestedRPC>();
    });
}
