// libFuzzer target: a reply from a peer, as the calling side reads it: the
// status (an error object, a code and a message, or success) and then a
// function table. Whatever arrives must give a library error: nothing may
// be read past the bytes, allocated beyond what they back, leaked or hang.
#include <cstdint>
#include <cstring>
#include <memory>

#include "modules/startup.h"
#include "std/except/archive.h"
#include "std/pelbuf/startup.h"
#include "std/rpc/rpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Every persistent type, so that a status-1 reply may name any of them.
    static const bool registered = (ccStdPelbufStartup(), ccModulesStartup(), true);
    (void)registered;
    if (size > 1 << 20)
        return 0;
    // An exact-size heap copy, so that any read past the block is reported.
    std::unique_ptr<char[]> block(new char[size ? size : 1]);
    if (size)
        std::memcpy(block.get(), data, size);
    try {
        ccMemoryArchive ar(size ? block.get() : nullptr, static_cast<int32_t>(size), false, false);
        ccRPCReadStatus(ar);
        ccRPCLoadFunctionTable(ar);
    } catch (const ccException&) {
        // Every failure is a library error; anything else ends the run.
    }
    return 0;
}
