// Boards reached through a driver module.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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

// The process-wide table of one board class: boards in the order they were
// built, at most limit of them (0: no limit); one beyond is built but left out
// of the table, and the event log says so. A board leaves it as it goes.
class cc_BoardTable {
public:
    cc_BoardTable(uint32_t limit, const wchar_t* model) : limit_(limit), model_(model) {}

    void add(ccBoard* board);
    void remove(ccBoard* board) noexcept;
    uint32_t count();
    // ccBoard::BadParams for i outside 0..count()-1.
    ccBoard& at(int i);

private:
    std::mutex mutex_;
    std::vector<ccBoard*> boards_;
    const uint32_t limit_;
    const wchar_t* model_;
};

// A board class with its own table (Self::kTableSize, Self::kModel).
template <class Self, class Base>
class cc_TabledBoard : public Base {
public:
    static uint32_t numBoards() { return table().count(); }
    // ccBoard::BadParams for i outside 0..numBoards()-1.
    static Self& getBoard(int i) { return static_cast<Self&>(table().at(i)); }

protected:
    template <class... A>
    explicit cc_TabledBoard(A&&... args) : Base(std::forward<A>(args)...)
    {
        table().add(this);
    }
    ~cc_TabledBoard() override { leaveTable(); }
    // A class whose destructor closes parts of its own calls this first:
    // the table never lists a board being taken apart.
    void leaveTable() noexcept { table().remove(this); }

private:
    static cc_BoardTable& table()
    {
        static cc_BoardTable* t = new cc_BoardTable(Self::kTableSize, Self::kModel);
        return *t;
    }
};

// A board with parallel I/O: the I/O part holds a reference of its own to the
// model interface, and the lines are bound to the engine, with the model's
// I/O configuration, when the engine is first asked for.
class cc_IOBoard : public ccUnknownFG, public ccUnknownPIO {
public:
    // Closes the I/O part and lets go of its reference, then the rest.
    void close() override;
    void ensureReady() override;
    ccFrameGrabber& ioFrameGrabber() override { return *this; }

protected:
    cc_IOBoard(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model);
    ~cc_IOBoard() override;

    cc_FrameGrabber* createFrameGrabberImpl() override;
    // The code of the I/O configuration the lines are bound with.
    virtual int32_t ioCode(cc_UnknownFrameGrabber& engine) = 0;
    ccIUnknown* ioBoard() const { return ioBoard_.get(); }

private:
    cc_ModPtr<ccIUnknown> ioBoard_;
};

// The board of the model this system drives (the board interface answers
// 63). Boards enter the process-wide 7320 table in the order they are built.
class cc7320 : public cc_TabledBoard<cc7320, cc_IOBoard> {
public:
    static constexpr uint32_t kTableSize = 16;
    static constexpr const wchar_t* kModel = L"7320";

    // model is the interface that answers for the model (63). A board beyond
    // the table's size is made but left out of the table.
    cc7320(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model);

    // A new board when board answers 63, else null; entry is taken only then.
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);

protected:
    // The standard option.
    int32_t ioCode(cc_UnknownFrameGrabber&) override { return 4; }
};

// Builds the board of a module's board interface, owned by owner's board
// module: the first model class that recognises the interface, else a plain
// ccUnknownFG. Installed as the module registry's board builder at start-up.
void ccBuildModuleBoard(cc_UnknownModule& owner, std::unique_ptr<cc_BoardEntry>& entry,
                        cc_ModPtr<ccIUnknown>& board);
