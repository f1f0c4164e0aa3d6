#include "std/rpc/startup.h"

#include <mutex>

#include "std/except/persist.h"
#include "std/rpc/remote.h"
#include "std/startup.h"

void ccStdRpcStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccStdStartup();
        ccRegisterPersistent<ccRemoteObject::ObjectMismatch>();
    });
}
