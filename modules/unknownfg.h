// Boards reached through a driver module.
#pragma once
#include <memory>
#include <string>

#include "acq/vidfmt/framegrabber.h"
#include "modules/acqmodule.h"
#include "modules/board.h"
#include "modules/modptr.h"
#include "modules/parallel_io.h"
#include "std/except/except.h"

class cc_UnknownFrameGrabber;

// A board of a driver module: its engine is the module's, made at discovery.
class ccUnknownFG : public ccBoard, public ccFrameGrabber, public cc_BoardIdentity {
public:
    // A module interface that is required but not offered, or a module error
    // that does not come back as a library exception.
    cmDeclareException(MissingFunctionality, ccException, 0x10002c0eu, "class ccUnknownFG::MissingFunctionality");

    // Takes over both; the board's name is the entry's.
    ccUnknownFG(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board);
    ~ccUnknownFG() override;

    // Makes the engine and the EERAM accessor; nothing when the engine
    // exists. Throws MissingFunctionality once the board is closed.
    void createImplementation();
    // Gives back what the board holds of the module; also run by the
    // destructor. The engine is gone afterwards: nothing may use the board,
    // and its FIFOs and line handles that clients keep raise
    // MissingFunctionality.
    virtual void close();

    int32_t registrationIndex() const override { return ccBoard::registrationIndex(); }
    std::wstring boardName() const override { return name(); }

protected:
    // The engine made by createImplementation; never makes one.
    cc_FrameGrabber* createFrameGrabberImpl() override;

    cc_UnknownFrameGrabber* implementation() const { return implementation_.get(); }
    ccIUnknown* boardInterface() const { return board_.get(); }

private:
    std::unique_ptr<cc_UnknownFrameGrabber> implementation_;
    std::unique_ptr<cc_BoardEntry> entry_;
    cc_ModPtr<ccIUnknown> board_;
};

// The board of the model this system drives (the board interface answers
// 63). Boards enter the process-wide 7320 table in the order they are built.
class cc7320 : public ccUnknownFG, public ccUnknownPIO {
public:
    static constexpr uint32_t kTableSize = 16;

    // model is the interface that answers for the model (63). A board beyond
    // the table's size is made but left out of the table.
    cc7320(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model);
    // Leaves the table.
    ~cc7320() override;

    void close() override;
    void ensureReady() override;
    ccFrameGrabber& ioFrameGrabber() override { return *this; }

    // The boards in the table, in the order they were built.
    static uint32_t numBoards();
    // ccBoard::BadParams for i outside 0..numBoards()-1.
    static cc7320& getBoard(int i);

    // A new board when board answers 63, else null; entry is taken only then.
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);

protected:
    // Binds the lines to the engine, with the standard I/O configuration.
    cc_FrameGrabber* createFrameGrabberImpl() override;

private:
    // The I/O part's own reference to the model interface.
    cc_ModPtr<ccIUnknown> ioBoard_;
};

// Builds the board of a module's board interface, owned by owner's board
// module: the first model class that recognises the interface, else a plain
// ccUnknownFG. Installed as the module registry's board builder at start-up.
void ccBuildModuleBoard(cc_UnknownModule& owner, std::unique_ptr<cc_BoardEntry>& entry,
                        cc_ModPtr<ccIUnknown>& board);
