#include "std/pelbuf/startup.h"

#include <mutex>

#include "defs/ch_core/startup.h"
#include "std/except/persist.h"
#include "std/except/status.h"
#include "std/math/startup.h"
#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/pelcvt.h"
#include "std/pelbuf/pelfunc.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/pelroot3.h"
#include "std/pelbuf/pelserve.h"
#include "std/pelbuf/remoteroots.h"
#include "std/pelbuf/rootpool.h"
#include "std/rpc/startup.h"

void ccStdPelbufStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccChCoreStartup();
        ccStdMathStartup();
        ccStdRpcStartup();
        ccRegisterPersistent<cc_PelRoot>();
        ccRegisterPersistent<ccPel::UnboundWindow>();
        ccRegisterPersistent<ccPel::BadWindow>();
        ccRegisterPersistent<ccPel::DisjointWindows>();
        ccRegisterPersistent<ccPel::BadCoord>();
        ccRegisterPersistent<ccPel::Unknown>();
        ccRegisterPersistent<ccPelRoot<cc3PlanePel>>();
        ccRegisterPersistent<ccPelRoot<unsigned char>>();
        ccRegisterPersistent<ccPelRoot<unsigned short>>();
        ccRegisterPersistent<ccPelRoot<uint32_t>>();
        ccRegisterPersistent<ccPelRoot<double>>();
        ccRegisterPersistent<ccPelRoot<signed char>>();
        ccRegisterPersistent<ccPelRoot<int32_t>>();
        ccRegisterPersistent<ccPelRoot<short>>();
        ccRegisterPersistent<ccPelRoot<ccPackedRGB16Pel>>();
        ccRegisterPersistent<ccPelRoot<ccPackedRGB32Pel>>();
        ccRegisterPersistent<ccPelRootCvt<unsigned char>>();
        ccRegisterPersistent<ccPelRootCvt<short>>();
        ccRegisterPersistent<ccPelRootCvt<unsigned short>>();
        ccRegisterPersistent<ccPelRootCvt<uint32_t>>();
        ccRegisterPersistent<ccPelRootCvt<double>>();
        ccRegisterPersistent<ccColorSpaceDefs::BadColorSpace>();
        ccRegisterPersistent<ccPelFunc::Range>();
        ccRegisterPersistent<ccPelFunc::Overlap>();
        ccRegisterPersistent<ccPelFunc::BadParams>();
        ccRegisterPersistent<ccPelRootPool::NotSupported>();
        ccRegisterPersistent<ccPelRootPool::Outstanding>();
        ccStatusThrowerRegistry::add(30, &ccPelStatusThrower);
        ccStatusThrowerRegistry::add(53, &ccPelFuncStatusThrower);
        ccSetRemoteRootProtocol(&ccRemotePelRootRegistry::instance());
        cc_ServedPelRoots::registerStubs();
        // Set while the module loads, so that readers never race to set it.
        ccPelFunc::initCpuLevel();
    });
}
