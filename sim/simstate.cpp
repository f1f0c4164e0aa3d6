#include "sim/simstate.h"

#include <algorithm>

namespace sim {

State& state() {
    // Never destroyed: objects may be released after this file's statics are
    // gone. The object is linked with -z nodelete, so it also stays reachable.
    static State* const instance = new State;
    return *instance;
}

namespace {

bool inTable(int32_t iid, int32_t slot) { return iid >= 0 && iid < kIids && slot >= 0 && slot < kSlots; }

std::u16string copyText(const char16_t* text, size_t limit) {
    std::u16string out;
    if (!text) return out;
    size_t n = 0;
    while (text[n] && n < limit) ++n;
    out.assign(text, n);
    // A cut must not leave half a surrogate pair behind.
    if (text[n] && n > 0 && (out.back() & 0xFC00) == 0xD800) out.pop_back();
    return out;
}

StoredError makeError(const uint8_t* bytes, uint32_t count, int32_t mode) {
    StoredError e;
    e.set = true;
    if (bytes) e.bytes.assign(bytes, bytes + count);
    e.mode = mode == ccSimErrorNoData || mode == ccSimErrorNoObject ? mode : ccSimErrorBytes;
    return e;
}

} // namespace

bool enter(int32_t iid, int32_t slot) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (inTable(iid, slot)) ++s.calls[iid][slot];
    auto it = std::find_if(s.failures.begin(), s.failures.end(),
                           [&](const Failure& f) { return f.iid == iid && f.slot == slot; });
    if (it == s.failures.end()) return false;
    s.lastError = std::move(it->error);
    s.failures.erase(it);
    return true;
}

int32_t refuse() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastError = StoredError{};
    return 1;
}

void Object::enrol() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    epoch_ = s.epoch;
    s.objects.push_back(this);
    ++s.audit.created;
    ++s.audit.live;
    ++s.audit.references;
}

int32_t Object::queryAs(ccIUnknown** out, int32_t id) {
    if (enter(home_, 0) || !out) return failed(out);
    *out = offer(id);
    return *out ? 0 : 1;
}

uint32_t Object::add() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    // A dead object stays dead: the release that pairs with this reference
    // is then counted as one too many.
    if (count_.load() == 0) return 0;
    if (epoch_ == s.epoch) ++s.audit.references;
    return ++count_;
}

uint32_t Object::drop() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    // The storage of a dead object is kept until reset, so that a release
    // too many is counted instead of touching freed memory.
    if (count_.load() == 0) {
        ++s.audit.overReleases;
        return 0;
    }
    const uint32_t left = --count_;
    if (epoch_ == s.epoch) {
        --s.audit.references;
        if (left == 0) --s.audit.live;
    }
    return left;
}

namespace {

void reset() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.boards.clear();
    s.formats.clear();
    s.listId = 0;
    s.offerErrorSource = s.offerBoardList = true;
    s.offerDiscovery = s.discoveryFinished = false;
    s.failures.clear();
    s.lastError = StoredError{};
    s.audit = ccSimAudit{};
    std::fill(&s.calls[0][0], &s.calls[0][0] + kIids * kSlots, 0u);
    ++s.epoch;
    auto dead = std::stable_partition(s.objects.begin(), s.objects.end(),
                                      [](const Object* o) { return o->count() != 0; });
    for (auto it = dead; it != s.objects.end(); ++it) delete *it;
    s.objects.erase(dead, s.objects.end());
}

void setBoards(const char16_t* const* names, uint32_t count) {
    std::vector<std::u16string> boards;
    for (uint32_t i = 0; names && i < count; ++i) boards.push_back(copyText(names[i], SIZE_MAX));
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.boards = std::move(boards);
}

void setFormats(const ccSimFormat* formats, uint32_t count, int32_t listId) {
    std::vector<Format> list;
    for (uint32_t i = 0; formats && i < count; ++i) {
        const ccSimFormat& f = formats[i];
        list.push_back({copyText(f.name, 255), f.width, f.height, f.depth, f.hasValue != 0, f.defaultCode});
    }
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.formats = std::move(list);
    s.listId = listId == ccIidFormatList || listId == ccIidFormatListOld ? listId : 0;
}

void setRootOffers(int32_t errorSource, int32_t boardList) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.offerErrorSource = errorSource != 0;
    s.offerBoardList = boardList != 0;
}

void setDiscovery(int32_t offered) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.offerDiscovery = offered != 0;
}

void finishDiscovery() {
    State& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.discoveryFinished = true;
    }
    s.discoveryDone.notify_all();
}

void failNext(int32_t iid, int32_t slot, const uint8_t* bytes, uint32_t count, int32_t mode) {
    Failure f{iid, slot, makeError(bytes, count, mode)};
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.failures.push_back(std::move(f));
}

void setLastError(const uint8_t* bytes, uint32_t count, int32_t mode) {
    StoredError e = makeError(bytes, count, mode);
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastError = std::move(e);
}

void audit(ccSimAudit* out) {
    if (!out) return;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    *out = s.audit;
}

uint32_t callCount(int32_t iid, int32_t slot) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return inTable(iid, slot) ? s.calls[iid][slot] : 0;
}

constexpr ccSimControl kControl = {1,          reset,      setBoards, setFormats, setRootOffers, setDiscovery,
                                   finishDiscovery, failNext, setLastError, audit, callCount};

} // namespace
} // namespace sim

extern "C" __attribute__((visibility("default"))) const ccSimControl* SimControl() { return &sim::kControl; }
