// The simulated driver module, seen from the tests: its control entry (the
// same instance the library's loader gets), its audit, archived module
// errors, and a board of it reached directly, without the board classes.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "modules/acqmodule.h"
#include "modules/board.h"
#include "modules/internal/board_testing.h"
#include "modules/unknownfg.h"
#include "modules/ccicomponent.h"
#include "modules/modptr.h"
#include "platform/module.h"
#include "platform/registry_testing.h"
#include "sim/simcontrol.h"
#include "std/except/archive.h"
#include "std/except/archutil.h"
#include "std/except/persistent.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace sim_module {

inline const std::wstring& path()
{
    static const std::wstring p = TempDir::ascii(QORX_SIM_PATH);
    return p;
}

// Opened once and kept open for the whole run.
inline const ccSimControl& sim()
{
    static const struct Opened {
        plat::ModuleHandle module = plat::loadModule(path());
        ~Opened() { plat::freeModule(module); }
    } opened;
    static const ccSimControl* control = [] {
        auto entry = reinterpret_cast<ccSimControlFunction>(plat::moduleSymbol(opened.module, ccSimControlName));
        return entry ? entry() : nullptr;
    }();
    if (control == nullptr)
        throw std::runtime_error("no simulator");
    return *control;
}

inline ccSimAudit audit()
{
    ccSimAudit a{};
    sim().audit(&a);
    return a;
}

// Every object the simulator handed out since its reset is released, once.
inline void expectAllReleased()
{
    const ccSimAudit a = audit();
    EXPECT_EQ(std::make_tuple(a.live, a.references, a.overReleases), std::make_tuple(0u, 0u, 0u));
}

// An object as a module sends it: a seekable little-endian archive holding
// one object pointer.
inline test_bytes::Bytes archived(const ccPersistent& object)
{
    return test_bytes::store(
        ccArchive::littleEndian,
        [&](ccArchive& ar) {
            ccPersistent* unused = nullptr;
            archivePointer(ar, &object, unused);
            ar.flush();
        },
        true);
}

// The next call of (iid, slot) fails with error as the module's last error.
inline void failNext(int32_t iid, int32_t slot, const ccPersistent& error)
{
    const test_bytes::Bytes bytes = archived(error);
    sim().failNext(iid, slot, bytes.data(), static_cast<uint32_t>(bytes.size()), ccSimErrorBytes);
}

inline void setBoards(const std::vector<std::u16string>& names)
{
    std::vector<const char16_t*> pointers;
    for (const std::u16string& name : names)
        pointers.push_back(name.c_str());
    sim().setBoards(pointers.data(), static_cast<uint32_t>(pointers.size()));
}

// Board 0 of a freshly reset simulator, loaded by a module object of its
// own: the module handle and the board's model interface (63).
struct Board {
    Board()
    {
        sim().reset();
        setBoards({u"sim0"});
        module = ccPtrHandle<cc_AcqModule>(new cc_AcqModule(path(), nullptr));
        cc_ModPtr<ccIUnknown> listed;
        if (module->boardList() == nullptr || module->boardList()->board(listed.put(), 0) != 0)
            throw std::runtime_error("no simulated board");
        board = ccModQuery<ccIUnknown>(listed.get(), ccIid7320);
        if (!board)
            throw std::runtime_error("the simulated board is no 7320");
    }
    ccPtrHandle<cc_AcqModule> module;
    cc_ModPtr<ccIUnknown> board;
};

// Board 0 of a freshly reset simulator, of the model given, built by a
// module registry of its own through the board builder; the registry (and
// with it the board) goes with this object.
struct FamilyBoard {
    explicit FamilyBoard(const ccSimBoardModel& model)
    {
        cc_BoardRegistryTesting::reset();
        cc_UnknownModule::setBoardBuilder(&ccBuildModuleBoard); // another test may have left its own
        plat::clearRegistry();
        sim().reset();
        setBoards({u"sim0"});
        sim().setBoardModel(0, &model);
    }
    // Builds the board: before it, the test may change the simulator further.
    ccBoard& load()
    {
        registry = std::make_unique<cc_UnknownModule>();
        registry->loadModule(path());
        const std::vector<ccBoard*> boards = cc_BoardRegistryTesting::entries();
        if (boards.size() != 1)
            throw std::runtime_error("the simulated board was not built");
        return *boards[0];
    }
    ~FamilyBoard()
    {
        registry.reset();
        cc_BoardRegistryTesting::reset();
    }

    std::unique_ptr<cc_UnknownModule> registry;
};

} // namespace sim_module
