#include "modules/board.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

#include "modules/acqmodule.h"
#include "modules/eeram.h"
#include "modules/family.h"
#include "modules/fgproxy.h"
#include "modules/imaging.h"
#include "modules/internal/board_testing.h"
#include "modules/unknownfg.h"
#include "platform/event_log.h"
#include "platform/text.h"
#include "std/except/resource.h"

namespace {

// Made on first use and never destroyed: boards leave it at shut-down.
struct Registry {
    std::mutex mutex;
    std::unique_ptr<std::vector<ccBoard*>> boards;
    std::atomic<bool> discovered{false};
};

Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

// Sorts a copy of the list by insertion, which is safe and stable whatever
// compare answers: a compare may contradict itself or throw.
struct SortKeys {
    std::vector<ccBoard*> boards;
    std::vector<std::u16string> names; // compared in UTF-16 units

    explicit SortKeys(std::vector<ccBoard*> list) : boards(std::move(list))
    {
        for (ccBoard* board : boards)
            names.push_back(board ? plat::utf16FromWide(board->name()) : std::u16string());
    }

    // A board that cannot compare itself leaves it to the names.
    static int32_t compare(const ccBoard& a, const ccBoard& b)
    {
        try {
            return a.compare(b);
        } catch (...) {
            return 0;
        }
    }

    // Emptied entries go last.
    bool before(size_t a, size_t b) const
    {
        if (boards[a] == nullptr || boards[b] == nullptr)
            return boards[b] == nullptr && boards[a] != nullptr;
        // Either side's answer counts: the base class answers 0 to anything.
        if (const int32_t mine = compare(*boards[a], *boards[b]))
            return mine < 0;
        if (const int32_t theirs = compare(*boards[b], *boards[a]))
            return theirs > 0;
        if (names[a] != names[b])
            return names[a] < names[b];
        return boards[a]->registrationIndex() < boards[b]->registrationIndex();
    }

    std::vector<ccBoard*> sorted() const
    {
        std::vector<size_t> order;
        for (size_t i = 0; i < boards.size(); ++i) {
            size_t j = order.size();
            while (j > 0 && before(i, order[j - 1]))
                --j;
            order.insert(order.begin() + static_cast<std::ptrdiff_t>(j), i);
        }
        std::vector<ccBoard*> result;
        for (size_t i : order)
            result.push_back(boards[i]);
        return result;
    }
};

void sortRegistry()
{
    Registry& r = registry();
    std::vector<ccBoard*> listed;
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        if (r.boards)
            listed = *r.boards;
    }
    if (listed.empty())
        return;
    // The boards are asked without the lock: compare may call the module.
    const std::vector<ccBoard*> sorted = SortKeys(listed).sorted();
    std::lock_guard<std::mutex> hold(r.mutex);
    if (r.boards && *r.boards == listed)
        *r.boards = sorted;
}

} // namespace

// ---- ccBoard ----

ccBoard::ccBoard(const std::wstring& name) : name_(name) {}

ccBoard::~ccBoard() = default;

std::wstring ccBoard::description() const
{
    return {};
}

int32_t ccBoard::compare(const ccBoard&) const
{
    return 0;
}

std::wstring ccBoard::serialNumber() const
{
    std::wstring text;
    if (!eeram_)
        return text;
    const uint32_t size = eeram_->size();
    if (size <= ccEERAMSerialOffset)
        return text;
    std::vector<uint8_t> bytes(std::min(ccEERAMSerialLength, size - ccEERAMSerialOffset));
    eeram_->read(ccEERAMSerialOffset, bytes.data(), static_cast<uint32_t>(bytes.size()));
    bytes.erase(std::find(bytes.begin(), bytes.end(), uint8_t{0}), bytes.end());
    eeram_->toPrintableString(text, bytes);
    return text;
}

std::wstring ccBoard::printableSerialNumber() const
{
    std::wstring text = serialNumber();
    for (wchar_t& c : text) {
        if (!ccIsPrintable(c))
            c = L'?';
    }
    return text;
}

void ccBoard::setEERAM(std::unique_ptr<cc_Info> accessor)
{
    eeram_ = std::move(accessor);
}

// ---- cc_BoardRegistry ----

void cc_BoardRegistry::add(ccBoard* board)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    if (!r.boards)
        r.boards = std::make_unique<std::vector<ccBoard*>>();
    r.boards->reserve(r.boards->size() + 1);
    board->index_ = static_cast<int32_t>(r.boards->size());
    r.boards->push_back(board);
}

void cc_BoardRegistry::remove(ccBoard* board)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    if (!r.boards)
        return;
    auto found = std::find(r.boards->begin(), r.boards->end(), board);
    if (found == r.boards->end())
        return;
    *found = nullptr;
    if (std::all_of(r.boards->begin(), r.boards->end(), [](ccBoard* b) { return b == nullptr; }))
        r.boards.reset();
}

uint32_t cc_BoardRegistry::numBoards()
{
    Registry& r = registry();
    if (!r.discovered.load(std::memory_order_acquire)) {
        ccResourceLock hold(ccLibraryMutex());
        if (!r.discovered.load(std::memory_order_acquire)) {
            // Not ready still counts: the enumerator is asked once.
            if (cc_BoardEnumerator* enumerator = cc_BoardEnumerator::published())
                (void)enumerator->enumerateBoards(HUGE_VAL);
            sortRegistry();
            r.discovered.store(true, std::memory_order_release);
        }
    }
    std::lock_guard<std::mutex> hold(r.mutex);
    return r.boards ? static_cast<uint32_t>(r.boards->size()) : 0;
}

bool cc_BoardRegistry::discovered()
{
    return registry().discovered.load(std::memory_order_acquire);
}

std::vector<ccBoard*> cc_BoardRegistryTesting::entries()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    return r.boards ? *r.boards : std::vector<ccBoard*>();
}

void cc_BoardRegistryTesting::reset()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    r.boards.reset();
    r.discovered.store(false, std::memory_order_release);
}

// ---- cc_BoardModule ----

cc_BoardModule::cc_BoardModule()
{
    if (cc_BoardRegistry::discovered())
        throw ccBoard::StaticInitDisorder();
}

cc_BoardModule::~cc_BoardModule()
{
    for (ccBoard* board : boards_) {
        cc_BoardRegistry::remove(board);
        delete board;
    }
}

void cc_BoardModule::addBoard(std::unique_ptr<ccBoard> board)
{
    boards_.reserve(boards_.size() + 1);
    cc_BoardRegistry::add(board.get());
    boards_.push_back(board.release());
}

// ---- ccUnknownFG ----

ccUnknownFG::ccUnknownFG(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board)
    : ccBoard(entry->name), entry_(std::move(entry)), board_(std::move(board))
{
}

ccUnknownFG::~ccUnknownFG()
{
    ccUnknownFG::close();
}

void ccUnknownFG::createImplementation()
{
    if (implementation_)
        return;
    if (!entry_ || !board_)
        throw MissingFunctionality();
    implementation_.reset(cc_UnknownFrameGrabber::create(entry_->module, board_.get()));
    if (implementation_)
        setEERAM(ccCreateEERAMAccessor(board_.get(), *implementation_));
}

void ccUnknownFG::close()
{
    // The handle must not keep the engine freed below.
    forgetImplementation();
    // The accessor raises its errors through the engine: it goes first.
    setEERAM(nullptr);
    implementation_.reset();
    board_.reset();
    // Last: the entry's module handle keeps the module's code loaded.
    entry_.reset();
}

cc_FrameGrabber* ccUnknownFG::createFrameGrabberImpl()
{
    return implementation_.get();
}

// ---- the class tables ----

void cc_BoardTable::add(ccBoard* board)
{
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (limit_ == 0 || boards_.size() < limit_) {
            boards_.push_back(board);
            return;
        }
    }
    plat::reportEvent(L"Qoralt", L"More than " + std::to_wstring(limit_) + L" " + model_ + L" boards: \""
                                     + board->name() + L"\" is not listed");
}

void cc_BoardTable::remove(ccBoard* board) noexcept
{
    std::lock_guard<std::mutex> hold(mutex_);
    boards_.erase(std::remove(boards_.begin(), boards_.end(), board), boards_.end());
}

uint32_t cc_BoardTable::count()
{
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<uint32_t>(boards_.size());
}

ccBoard& cc_BoardTable::at(int i)
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (i < 0 || static_cast<size_t>(i) >= boards_.size())
        throw ccBoard::BadParams();
    return *boards_[static_cast<size_t>(i)];
}

// ---- cc_IOBoard ----

cc_IOBoard::cc_IOBoard(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model)
    : ccUnknownFG(std::move(entry), std::move(model))
{
    // Both parts release it at close.
    boardInterface()->addRef();
    ioBoard_.reset(boardInterface());
}

cc_IOBoard::~cc_IOBoard()
{
    cc_IOBoard::close();
}

void cc_IOBoard::close()
{
    closeParallelIO();
    ioBoard_.reset();
    ccUnknownFG::close();
}

void cc_IOBoard::ensureReady()
{
    (void)frameGrabberImpl();
}

cc_FrameGrabber* cc_IOBoard::createFrameGrabberImpl()
{
    createImplementation();
    cc_UnknownFrameGrabber* engine = implementation();
    if (engine == nullptr)
        return nullptr;
    const int32_t code = ioCode(*engine);
    attachLineTable(buildLineTable(ioBoard_.get(), *engine), code);
    return engine;
}

// ---- cc7320 ----

cc7320::cc7320(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model)
    : cc_TabledBoard(std::move(entry), std::move(model))
{
}

std::unique_ptr<ccUnknownFG> cc7320::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    cc_ModPtr<ccIUnknown> model = ccModQuery<ccIUnknown>(board, ccIid7320);
    if (!model)
        return nullptr;
    return std::make_unique<cc7320>(std::move(entry), std::move(model));
}

// ---- the board builder ----

namespace {

using BoardFactory = std::unique_ptr<ccUnknownFG> (*)(std::unique_ptr<cc_BoardEntry>&, ccIUnknown*);

// Asked in this order; the first that recognises the board builds it.
constexpr BoardFactory kFactories[] = {
    &cc7310c::make,            // 64: the 7310m too
    &cc7310l::make,            // 53
    &cc7310d::make,            // 72
    &cc7312::make,             // 70
    &cc7320::make,             // 63
    &cc7351::make,             // 67 (the 7354 too), else 105 (the 7350l)
    &cc7370::make,             // 42
    &cc1394DCAM::make,         // 44
    &cc7360::make,             // 68
    &ccGigEVisionCamera::make, // 97
    &ccImagingDevice::make,    // 106
};

} // namespace

void ccBuildModuleBoard(cc_UnknownModule& owner, std::unique_ptr<cc_BoardEntry>& entry, cc_ModPtr<ccIUnknown>& board)
{
    // Not instance(): this runs while the process registry is being made.
    cc_BoardModule& boards = owner.boardModule();
    std::unique_ptr<ccUnknownFG> made;
    for (BoardFactory factory : kFactories) {
        if ((made = factory(entry, board.get())))
            break;
    }
    if (!made)
        made = std::make_unique<ccUnknownFG>(std::move(entry), std::move(board));
    // A board whose engine cannot be made (it throws) is freed here and left
    // out; one the allocator gives none for stays, without an engine.
    made->createImplementation();
    boards.addBoard(std::move(made));
}
