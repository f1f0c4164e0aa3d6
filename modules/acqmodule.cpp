#include "modules/acqmodule.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

#include "acq/vidfmt/vidfmt.h"
#include "modules/board.h"
#include "modules/unknownfg.h"
#include "platform/text.h"
#include "std/deferredinit.h"
#include "std/except/archive.h"
#include "std/except/archutil.h"
#include "std/except/resource.h"
#include "std/registry.h"
#include "std/searchpath.h"
#include "system/csys_shutdown.h"

namespace {

// A faulty module must not hang or exhaust the load.
constexpr uint32_t kMaxItems = 4096;
constexpr uint32_t kMaxErrorBytes = 1u << 20;
constexpr uint32_t kMaxNameUnits = 4096;
constexpr uint32_t kFormatNameUnits = 256;

// SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX
constexpr uint32_t kLoadErrorMode = 0x8001;

std::atomic<cc_BoardEnumerator*> publishedEnumerator{nullptr};
std::atomic<cc_BoardBuilder> boardBuilder{nullptr};
std::atomic<cc_UnknownModule*> singleton{nullptr};

// The text of a buffer of capacity units of which the module says it wrote
// length: never past the buffer, and up to the first 0.
std::wstring textOf(const std::u16string& buffer, uint32_t length)
{
    const size_t used = std::min<size_t>(length, buffer.size() - 1);
    const size_t end = std::min(used, buffer.find(u'\0'));
    return plat::wideFromUtf16(buffer.data(), end);
}


// The exception the module archived, or null when it gives none or the bytes
// do not decode to one. Never throws.
ccException* lastErrorOf(ccIComponent_ErrorSource* source) noexcept
{
    try {
        if (source == nullptr)
            return nullptr;
        cc_ModPtr<ccIUnknown> error;
        if (source->lastError(error.put()) != 0)
            return nullptr;
        cc_ModPtr<ccIComponent_ErrorData> data = ccModQuery<ccIComponent_ErrorData>(error.get(), ccIidErrorData);
        error.reset();
        if (!data)
            return nullptr;
        uint32_t count = 0;
        if (data->bytes(&count, nullptr) != 0 || count == 0 || count > kMaxErrorBytes)
            return nullptr;
        std::unique_ptr<char[]> block(new char[count]());
        uint32_t written = count;
        if (data->bytes(&written, reinterpret_cast<uint8_t*>(block.get())) != 0 || written > count)
            return nullptr;
        data.reset();
        ccPersistent* object = nullptr;
        {
            ccMemoryArchive ar(block.release(), static_cast<int32_t>(written), true, true);
            ar >> object;
        }
        if (auto* e = dynamic_cast<ccException*>(object))
            return e;
        delete object;
    } catch (...) {
        // Malformed bytes, a class not registered, no memory: nothing to raise.
    }
    return nullptr;
}

csysStatus deleteSingleton(void*)
{
    cc_UnknownModule* registry = singleton.exchange(nullptr);
    if (cc_BoardEnumerator::published() == registry)
        cc_BoardEnumerator::publish(nullptr);
    delete registry;
    return 0;
}

} // namespace

// ---- cc_AcqModule ----

cc_AcqModule::cc_AcqModule(const std::wstring& path, cc_UnknownModule* owner) : owner_(owner)
{
    library_ = plat::loadModule(path);
    if (library_ == nullptr)
        return;
    auto entry = reinterpret_cast<ccGetComponentInterfaceFunction>(
        plat::moduleSymbol(library_, ccGetComponentInterfaceName));
    if (entry == nullptr)
        return;
    cc_ModPtr<ccIUnknown> root(entry());
    if (!root)
        return;
    errorSource_ = ccModQuery<ccIComponent_ErrorSource>(root.get(), ccIidErrorSource);
    boardList_ = ccModQuery<ccIComponent_BoardList>(root.get(), ccIidBoardList);
    discovery_ = ccModQuery<ccIComponent_Discovery>(root.get(), ccIidDiscovery);
}

cc_AcqModule::~cc_AcqModule()
{
    // A discovery that never started would never be ready.
    if (discovery_ && discoveryStarted_) {
        uint32_t ready = 0;
        // Only waited for; its outcome no longer matters.
        (void)discovery_->wait(HUGE_VAL, &ready);
    }
    // Every interface goes back before the code behind it is unloaded.
    discovery_.reset();
    errorSource_.reset();
    boardList_.reset();
    if (library_ != nullptr)
        (void)plat::freeModule(library_); // the handle is gone either way
}

bool cc_AcqModule::discoverBoards(double timeout)
{
    if (discovered_)
        return true;
    if (discovery_) {
        uint32_t ready = 0;
        if (discovery_->wait(timeout, &ready) != 0)
            raiseLastError();
        if (ready == 0)
            return false;
    }
    uint32_t count = 0;
    if (boardList_ && boardList_->count(&count) != 0)
        raiseLastError();
    count = std::min(count, kMaxItems);
    const ccPtrHandle<cc_AcqModule> self(this);
    if (count > 0)
        owner_->addModule(self);
    for (uint32_t index = 0; index < count; ++index) {
        try {
            owner_->createBoard(self, index);
        } catch (...) {
            // A board that cannot be made is left out; the others still are.
        }
    }
    discovered_ = true;
    return true;
}

void cc_AcqModule::startDiscovery()
{
    if (discovery_->start() != 0)
        raiseLastError();
    discoveryStarted_ = true;
}

void cc_AcqModule::raiseLastError() const
{
    if (ccException* e = lastErrorOf(errorSource_.get()))
        e->raise();
    throw ccUnknownFG::MissingFunctionality();
}

// ---- cc_BoardEnumerator ----

cc_BoardEnumerator* cc_BoardEnumerator::published()
{
    return publishedEnumerator.load();
}

void cc_BoardEnumerator::publish(cc_BoardEnumerator* enumerator)
{
    publishedEnumerator.store(enumerator);
}

// ---- cc_UnknownModule ----

// The record, camera information and description made for one format the
// module offers. Members go in reverse: the format leaves the registries
// before what it points to is freed.
struct cc_UnknownModule::OwnedFormat {
    std::u16string name;
    cs_vidFmtRecord record{};
    std::unique_ptr<cc_VidFmtCameraInfo> cameraInfo;
    std::unique_ptr<cc_VidFmtDesc> description;
    std::unique_ptr<ccStdVideoFormat> format;
};

cc_UnknownModule::cc_UnknownModule()
{
    acRegistryString simulator(plat::RegistryRoot::localMachine, L"SOFTWARE\\Qoralt\\QMB\\utconfig\\FGSim",
                               L"moduleName", L"", false);
    // An empty value names no file.
    if (simulator.load() && !simulator.value().empty())
        loadModule(simulator.value());
}

cc_UnknownModule::~cc_UnknownModule()
{
    // Frames and boards first: they give back their module interfaces while
    // the modules and formats they use are still there.
    packages_.reset();
    boards_.reset();
    // Newest first, the reverse of their making.
    for (auto format = formats_.rbegin(); format != formats_.rend(); ++format)
        format->reset();
    pending_.clear();
    kept_.clear();
}

cc_UnknownModule* cc_UnknownModule::instance()
{
    static std::once_flag once;
    std::call_once(once, [] {
        auto* registry = new cc_UnknownModule;
        singleton.store(registry);
        // Deleted with the shut-down list, before the library's threads stop;
        // it is never made again.
        ccDeferredInit::add([] { (void)deleteSingleton(nullptr); });
        publish(registry);
    });
    return singleton.load();
}

cc_PelPackageRegistry* cc_UnknownModule::packageRegistry()
{
    cc_UnknownModule* registry = instance();
    return registry ? registry->packages_.get() : nullptr;
}

bool cc_UnknownModule::loadModuleByName(const std::wstring& baseName)
{
    // The lists a load adds to are those the board count walks under this
    // mutex; taken before the registry is made, as the count takes it first.
    ccResourceLock hold(ccLibraryMutex());
    cc_UnknownModule* registry = instance();
    return registry != nullptr && registry->loadByName(baseName);
}

bool cc_UnknownModule::loadByName(const std::wstring& baseName)
{
    if (baseName.empty())
        return true;
    const std::wstring path = findModuleFile(baseName);
    if (path.empty())
        return false;
    loadModule(path);
    return true;
}

std::wstring cc_UnknownModule::findModuleFile(const std::wstring& baseName)
{
    // Read once: both forms search the same directories.
    const std::wstring path = acGetSearchPath();
    for (const wchar_t* form : {L"_.so", L"r.so"}) {
        const std::wstring wanted = plat::foldCase(baseName + form);
        std::wstring rest = path;
        while (!rest.empty()) {
            std::wstring directory;
            acPopPathElement(rest, directory);
            const std::wstring listed = directory.empty() ? L"./" : acSystemPath(directory);
            for (const std::wstring& name : plat::listFiles(listed)) {
                if (plat::foldCase(name) == wanted)
                    return listed + name;
            }
        }
    }
    return {};
}

void cc_UnknownModule::loadModule(const std::wstring& path)
{
    struct RestoreErrorMode {
        uint32_t previous;
        ~RestoreErrorMode() { plat::setErrorMode(previous); }
    } restore{plat::setErrorMode(kLoadErrorMode)};
    try {
        const ccPtrHandle<cc_AcqModule> module(new cc_AcqModule(path, this));
        if (module->errorSource())
            readFormats(*module);
        if (module->discovery()) {
            module->startDiscovery();
            pending_.push_back(module);
        } else {
            module->discoverBoards(HUGE_VAL);
        }
    } catch (...) {
        // The load runs while the library loads, where nothing could catch:
        // the module is dropped and the library loads without it.
    }
}

void cc_UnknownModule::addModule(const ccPtrHandle<cc_AcqModule>& module)
{
    kept_.push_back(module);
}

bool cc_UnknownModule::enumerateBoards(double timeout)
{
    if (boardsEnumerated_)
        return true;
    bool result = true;
    for (ccPtrHandle<cc_AcqModule>& module : pending_) {
        if (!module)
            continue;
        bool collected = false;
        try {
            collected = module->discoverBoards(timeout);
        } catch (...) {
            // It stays pending, as one not ready: a throw here would keep the
            // boards of the modules after it from ever being collected.
        }
        if (collected)
            module = nullptr;
        else
            result = false;
    }
    boardsEnumerated_ = result;
    return result;
}

void cc_UnknownModule::createBoard(const ccPtrHandle<cc_AcqModule>& module, uint32_t index)
{
    ccIComponent_BoardList* list = module->boardList();
    if (list == nullptr)
        throw ccUnknownFG::MissingFunctionality();
    uint32_t length = 0;
    if (list->name(index, &length, nullptr) != 0)
        module->raiseLastError();
    std::u16string name(std::min(length, kMaxNameUnits) + 1, u'\0');
    length = static_cast<uint32_t>(name.size() - 1);
    if (list->name(index, &length, name.data()) != 0)
        module->raiseLastError();
    auto entry = std::make_unique<cc_BoardEntry>(module, index, textOf(name, length));

    cc_ModPtr<ccIUnknown> board;
    if (list->board(board.put(), index) != 0)
        module->raiseLastError();
    if (!board)
        return;
    if (cc_BoardBuilder builder = boardBuilder.load())
        builder(*this, entry, board);
}

cc_BoardModule& cc_UnknownModule::boardModule()
{
    if (!boards_)
        boards_ = std::make_unique<cc_BoardModule>();
    return *boards_;
}

cc_BoardBuilder cc_UnknownModule::setBoardBuilder(cc_BoardBuilder builder)
{
    return boardBuilder.exchange(builder);
}

void cc_UnknownModule::readFormats(const cc_AcqModule& module)
{
    cc_ModPtr<ccIComponent_FormatList> list =
        ccModQuery<ccIComponent_FormatList>(module.errorSource(), ccIidFormatList);
    if (!list)
        list = ccModQuery<ccIComponent_FormatList>(module.errorSource(), ccIidFormatListOld);
    if (!list)
        return;
    for (uint32_t index = 0; index < kMaxItems; ++index) {
        cc_ModPtr<ccIUnknown> item;
        const int32_t status = list->item(item.put(), index);
        if (status == 0 && !item)
            break;
        if (status != 0)
            continue;
        try {
            addFormat(item.get());
        } catch (...) {
            // One format that cannot be made does not stop the others.
        }
    }
}

// An item whose calls fail is skipped: the module would have to be asked for
// its last error in the middle of the load.
void cc_UnknownModule::addFormat(ccIUnknown* item)
{
    cc_ModPtr<ccIComponent_FormatItem> values = ccModQuery<ccIComponent_FormatItem>(item, ccIidFormatItem);
    if (!values)
        return;
    std::u16string buffer(kFormatNameUnits + 1, u'\0');
    uint32_t length = kFormatNameUnits;
    uint32_t width = 0, height = 0, depth = 0;
    if (values->name(&length, buffer.data()) != 0 || values->width(&width) != 0 || values->height(&height) != 0
        || values->depth(&depth) != 0)
        return;
    int32_t defaultCode = -1;
    if (cc_ModPtr<ccIComponent_FormatValue> value = ccModQuery<ccIComponent_FormatValue>(item, ccIidFormatValue)) {
        if (value->value(&defaultCode) != 0)
            return;
    }

    auto owned = std::make_unique<OwnedFormat>();
    const std::wstring name = textOf(buffer, length);
    owned->name = plat::utf16FromWide(name);
    owned->record = cs_vidFmtRecord{owned->name.c_str(), static_cast<int32_t>(width), static_cast<int32_t>(height),
                                    static_cast<int32_t>(depth), 0, 0, 1, 1};
    // Registered as it is made, not from a file (its flag starts false).
    owned->cameraInfo = std::make_unique<cc_VidFmtCameraInfo>(name, true);
    cs_vidFmtExtensions own;
    own.cameraInfo = owned->cameraInfo.get();
    owned->description = std::make_unique<cc_VidFmtDesc>(&owned->record, defaultCode, own);
    formats_.reserve(formats_.size() + 1);
    owned->format = std::make_unique<ccStdVideoFormat>(owned->description.get());
    formats_.push_back(std::move(owned));
}
