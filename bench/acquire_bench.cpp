// One acquisition round trip (start, then complete into an 8-bit buffer) of a
// 2048 x 2048 frame: through the library from the first 7320 board, and
// through the driver module's own interfaces alone, in one run. The
// difference is what the library adds to the module's frame delivery.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "acq/acqfifo.h"
#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "modules/acqmodule.h"
#include "modules/unknownfg.h"
#include "modules/ccicomponent.h"
#include "modules/modptr.h"
#include "platform/module.h"
#include "platform/text.h"
#include "sim/simcontrol.h"

namespace {

constexpr uint32_t kSide = 2048;

// The simulated driver module the library loaded (the same file gives the same
// instance), set to deliver frames of kSide x kSide.
struct Driver {
    Driver()
    {
        if (cc7320::numBoards() == 0) {
            // Not on the search path when the module loaded: load it now.
            setenv("QORALT_SYSTEM_PATH", QORX_DRIVER_DIR, 1);
            cc_UnknownModule::loadModuleByName(L"qornv7320");
        }
        module = plat::loadModule(plat::wideFromUtf8(QORX_SIM_PATH));
        auto control = reinterpret_cast<ccSimControlFunction>(plat::moduleSymbol(module, ccSimControlName));
        auto root = reinterpret_cast<ccGetComponentInterfaceFunction>(
            plat::moduleSymbol(module, ccGetComponentInterfaceName));
        if (!control || !root || cc7320::numBoards() == 0)
            throw std::runtime_error("the simulated driver module is not reachable");
        sim = control();
        sim->setFrameSize(kSide, kSide);
        getRoot = root;
    }
    ~Driver() { plat::freeModule(module); }

    plat::ModuleHandle module = nullptr;
    const ccSimControl* sim = nullptr;
    ccGetComponentInterfaceFunction getRoot = nullptr;
};

Driver& driver()
{
    static Driver d;
    return d;
}

void LibraryRoundTrip(benchmark::State& state)
{
    driver();
    ccStdGreyAcqFifo fifo(ccVidFmtSonyXC75_640x480(), cc7320::getBoard(0));
    uint32_t ticket = 0;
    for (auto _ : state) {
        std::unique_ptr<ccPelBuffer<unsigned char>> frame;
        try {
            fifo.start(ticket++);
            ccAcqCompleteArgs args;
            args.timeout = 5.0;
            frame.reset(fifo.completeToBuffer(args));
        } catch (...) {
        }
        if (!frame) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(frame->windowStart());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide);
}
BENCHMARK(LibraryRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The completion arguments as the module reads them.
class Args final : public ccITemp_CompleteArgs_v0 {
public:
    int32_t query(ccIUnknown** out, int32_t id) override
    {
        *out = id == 0 || id == ccIidCompleteArgs ? this : nullptr;
        return 0;
    }
    uint32_t addRef() override { return 1; }
    uint32_t release() override { return 1; }
    int32_t firstFlag(uint32_t* flag) override
    {
        *flag = 0;
        return 0;
    }
    int32_t secondFlag(uint32_t* flag) override
    {
        *flag = 0;
        return 0;
    }
    int32_t timeout(double* seconds) override
    {
        *seconds = 5.0;
        return 0;
    }
    int32_t setStatus(uint32_t) override { return 0; }
    int32_t readInfo(ccIUnknown*) override { return 0; }
};

void ModuleDeliveryAlone(benchmark::State& state)
{
    Driver& d = driver();
    cc_ModPtr<ccIUnknown> root(d.getRoot());
    auto list = ccModQuery<ccIComponent_BoardList>(root.get(), ccIidBoardList);
    cc_ModPtr<ccIUnknown> board;
    if (!list || list->board(board.put(), 0) != 0) {
        state.SkipWithError("no board");
        return;
    }
    auto model = ccModQuery<ccIUnknown>(board.get(), ccIid7320);
    auto core = ccModQuery<ccIGrabber_Core>(model.get(), ccIidGrabberCore);
    cc_ModPtr<ccIUnknown> fifo;
    if (!core || core->createFifo(fifo.put(), u"Sony XC75 640x480") != 0) {
        state.SkipWithError("no FIFO");
        return;
    }
    auto fifoCore = ccModQuery<ccIAcqFifo_Core>(fifo.get(), ccIidFifoCore);
    fifo.reset();
    if (!fifoCore) {
        state.SkipWithError("no FIFO core");
        return;
    }
    Args args;
    uint32_t ticket = 0;
    for (auto _ : state) {
        uint32_t accepted = 0;
        cc_ModPtr<ccIUnknown> result;
        if (fifoCore->start(ticket++, &accepted) != 0 || fifoCore->complete(&args, result.put()) != 0) {
            state.SkipWithError("acquisition failed");
            break;
        }
        auto raw = ccModQuery<ccIAcqResult_RawPels>(result.get(), ccIidResultRawPels);
        void* pels = nullptr;
        if (raw)
            (void)raw->pelAddress(&pels); // a result without 26 leaves pels null, which the check below reports
        if (pels == nullptr) {
            state.SkipWithError("no pels");
            break;
        }
        benchmark::DoNotOptimize(pels);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide);
}
BENCHMARK(ModuleDeliveryAlone)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
