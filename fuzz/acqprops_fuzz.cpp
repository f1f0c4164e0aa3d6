// libFuzzer target: a FIFO's stored settings loaded into its property
// aggregate while attached, as a client restores them, on a simulated board
// whose property-information records bound some properties. The first byte
// chooses the aggregate (bit 0: the analog form every standard FIFO makes),
// the archive (bit 1: seekable) and the board (bit 2); the rest is the
// archive. A load either fails with the archive's or a property's error and
// leaves every property as it was, or succeeds; then what the aggregate
// stores loads back into a fresh aggregate on the same board and stores the
// same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "acq/acqfifo_impl.h"
#include "acq/hyper/prop/acqprops.h"
#include "acq/hyper/prop/analog.h"
#include "acq/propreq.h"
#include "acq/vidfmt/vidfmt.h"
#include "fuzz/library_types.h"
#include "modules/acqfifoproxy.h"
#include "modules/acqmodule.h"
#include "modules/ccicomponent.h"
#include "modules/fgproxy.h"
#include "modules/modptr.h"
#include "platform/module.h"
#include "platform/text.h"
#include "sim/simcontrol.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

namespace {

// Two simulated boards, each with one FIFO; the records differ in what the
// aggregate's defaults fall outside of: board 0 a strobe delay of at least
// 1e-6, board 1 a strobe pulse of at most 1e-5 (the default is 2e-5).
class Boards {
public:
    Boards()
    {
        registerLibraryTypes();
        const std::wstring path = plat::wideFromUtf8(QORX_SIM_PATH);
        simModule_ = plat::loadModule(path);
        const auto entry = reinterpret_cast<ccSimControlFunction>(plat::moduleSymbol(simModule_, ccSimControlName));
        if (!entry || !(sim_ = entry()))
            throw std::runtime_error("no simulator at " QORX_SIM_PATH);
        sim_->reset();
        const char16_t* names[] = {u"sim0"};
        sim_->setBoards(names, 1);
        module_ = ccPtrHandle<cc_AcqModule>(new cc_AcqModule(path, nullptr));
        cc_ModPtr<ccIUnknown> listed;
        if (!module_->boardList() || module_->boardList()->board(listed.put(), 0) != 0)
            throw std::runtime_error("no simulated board");
        board_ = ccModQuery<ccIUnknown>(listed.get(), ccIid7320);
        grabber_.reset(cc_UnknownFrameGrabber::create(module_, board_.get()));
        for (int i = 0; i < 2; ++i) {
            const ccSimPropertyInfo records[] = {
                {ccPropExposure, 1e-6, 10, 2e-5, 0},
                {ccPropStrobeEnable, 0, 1, 0, 0},
                {ccPropStrobePulseDuration, 0, i == 1 ? 1e-5 : 0.01, i == 1 ? 1e-5 : 2e-5, 0},
                {ccPropStrobeDelay, i == 0 ? 1e-6 : 0, 0.01, i == 0 ? 1e-6 : 0, 0},
                {ccPropTriggerDelay, 0, 0.01, 0, 0},
            };
            sim_->setPropertyInfos(records, sizeof records / sizeof records[0]);
            fifos_[i].reset(new cc_UnknownAcqFifo(*grabber_, description_, 0));
            (void)fifos_[i]->propertyInfo(ccPropStrobeDelay); // the records are read once, now
        }
    }

    cc_AcqFifo* fifo(int board) { return fifos_[board].get(); }
    // What the simulator keeps of the requests would grow with every input.
    void forget() { sim_->clearRequests(); }

private:
    plat::ModuleHandle simModule_{};
    const ccSimControl* sim_ = nullptr;
    ccPtrHandle<cc_AcqModule> module_;
    cc_ModPtr<ccIUnknown> board_;
    std::unique_ptr<cc_UnknownFrameGrabber> grabber_;
    cs_vidFmtRecord record_{u"Sim Cam 640x480", 640, 480, 8, 0, 0, 1, 1};
    cc_VidFmtDesc description_{&record_, 0};
    std::unique_ptr<cc_UnknownAcqFifo> fifos_[2];
};

std::unique_ptr<ccAcqProps> attached(bool analog, cc_AcqFifo* fifo)
{
    std::unique_ptr<ccAcqProps> props(analog ? new ccAnalogAcqProps : new ccAcqProps);
    props->attachAll(fifo);
    return props;
}

std::string stored(ccAcqProps& props)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive out(&sb, ccArchive::storing, ccArchive::littleEndian, false);
    out.archiveHeader();
    ccArchiveObject(props, out, false);
    out.flush();
    return sb.str();
}

// True when the whole archive loaded; false when the archive or a property
// refused it.
bool load(ccAcqProps& props, const char* bytes, size_t size, bool seekable)
{
    try {
        ccMemoryArchive in(size ? bytes : nullptr, static_cast<int32_t>(size), seekable, false);
        ccArchiveObject(props, in, false);
        return true;
    } catch (const ccException&) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Boards& boards = *new Boards; // never destroyed: the FIFOs stay with the module
    if (size < 1 || size > 1 << 16)
        return 0;
    const bool analog = data[0] & 1, seekable = data[0] & 2;
    cc_AcqFifo* const fifo = boards.fifo(data[0] >> 2 & 1);
    // An exact-size heap copy, so that any read past the block is reported.
    const size_t n = size - 1;
    std::unique_ptr<char[]> block(new char[n ? n : 1]);
    std::memcpy(block.get(), data + 1, n);

    const std::unique_ptr<ccAcqProps> props = attached(analog, fifo);
    const std::string before = stored(*props);
    if (!load(*props, block.get(), n, seekable)) {
        if (stored(*props) != before)
            std::abort(); // a refused load changed what the aggregate holds
        boards.forget();
        return 0;
    }
    const std::string after = stored(*props);
    const std::unique_ptr<ccAcqProps> again = attached(analog, fifo);
    if (!load(*again, after.data(), after.size(), false) || stored(*again) != after)
        std::abort(); // what the library wrote does not read back on its board
    boards.forget();
    return 0;
}
