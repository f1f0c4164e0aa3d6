// Boards: the frame grabbers and cameras that a driver module reports, the
// process-wide registry that counts them, and the owner of those a module
// registry builds.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/module_errors.h"
#include "std/except/except.h"

class cc_Info;

class ccBoard {
public:
    struct ErrorNames {
        static constexpr const char* kStoredName = "class ccBoard::Errors";
        static constexpr const char* kVersionText = "ccBoard::Errors class version mismatch";
    };
    // Errors of the boards, most of them sent by the driver module.
    using Errors = cc_ModuleErrors<ErrorNames>;

    // Raised here without message or last error.
    cmDeclareException(BadParams, Errors, 0x10002c00u, "class ccBoard::BadParams");
    // A board module made after the boards were first counted.
    cmDeclareException(StaticInitDisorder, Errors, 0x10002c01u, "class ccBoard::StaticInitDisorder");
    // The rest reach us from the driver module.
    cmDeclareException(NotSupported, Errors, 0x10002c02u, "class ccBoard::NotSupported");
    cmDeclareException(HardwareNotResponding, Errors, 0x10002c03u, "class ccBoard::HardwareNotResponding");
    cmDeclareException(Timeout, Errors, 0x10002c04u, "class ccBoard::Timeout");
    cmDeclareException(HardwareInUse, Errors, 0x10002c08u, "class ccBoard::HardwareInUse");
    cmDeclareException(HardwareNotInitialized, Errors, 0x10002c09u, "class ccBoard::HardwareNotInitialized");
    cmDeclareException(FpgaLoadFailure, Errors, 0x10002c0bu, "class ccBoard::FpgaLoadFailure");
    cmDeclareException(BadEERAMContents, Errors, 0x10002c0cu, "class ccBoard::BadEERAMContents");
    cmDeclareException(MultiProcessAccessFailed, Errors, 0x10002c0du, "class ccBoard::MultiProcessAccessFailed");

    // The name is copied: the entry it comes from goes when the board closes.
    explicit ccBoard(const std::wstring& name);
    ccBoard(const ccBoard&) = delete;
    ccBoard& operator=(const ccBoard&) = delete;

    // Empty: no board fills it.
    virtual std::wstring description() const;
    // Negative when this board sorts before other; 0 leaves it to the names.
    virtual int32_t compare(const ccBoard& other) const;
    virtual ~ccBoard();
    // Read from the EERAM; empty for a board without one.
    virtual std::wstring serialNumber() const;

    // serialNumber with every character that does not print as a '?'.
    std::wstring printableSerialNumber() const;

    const std::wstring& name() const { return name_; }
    // The board's place in the registry when it was entered.
    int32_t registrationIndex() const { return index_; }

protected:
    cc_Info* eeram() const { return eeram_.get(); }
    void setEERAM(std::unique_ptr<cc_Info> accessor);

private:
    friend class cc_BoardRegistry;

    std::wstring name_;
    int32_t index_ = 0;
    std::unique_ptr<cc_Info> eeram_;
};

// Every board of every class, not owned. The first count builds the boards
// of modules still discovering and sorts the list once.
class cc_BoardRegistry {
public:
    static void add(ccBoard* board);
    // A board not listed is ignored.
    static void remove(ccBoard* board);
    // Entries, emptied ones included.
    static uint32_t numBoards();
    // Set by the first count, never cleared.
    static bool discovered();
};

// Owns the boards a module registry builds; boards are deleted with it.
class cc_BoardModule {
public:
    // Throws ccBoard::StaticInitDisorder once the boards have been counted.
    cc_BoardModule();
    ~cc_BoardModule();
    cc_BoardModule(const cc_BoardModule&) = delete;
    cc_BoardModule& operator=(const cc_BoardModule&) = delete;

    void addBoard(std::unique_ptr<ccBoard> board);
    uint32_t numBoards() const { return static_cast<uint32_t>(boards_.size()); }

private:
    std::vector<ccBoard*> boards_;
};
