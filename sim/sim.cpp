// The root of the simulated driver module and the interfaces reached from it:
// last errors, the board list, discovery and the format lists.
#include "sim/simstate.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace sim {
namespace {

// The last-error object: answers 27 only in the bytes mode.
class ErrorObject final : public Impl<ccIComponent_ErrorData> {
public:
    ErrorObject(std::vector<uint8_t> bytes, bool hasData)
        : Impl(ccIidErrorData), bytes_(std::move(bytes)), hasData_(hasData) {}

    int32_t bytes(uint32_t* count, uint8_t* buffer) override {
        if (enter(ccIidErrorData, 3)) return 1;
        if (!count) return refuse();
        if (!buffer) {
            *count = static_cast<uint32_t>(bytes_.size());
            return 0;
        }
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(bytes_.size(), *count));
        if (n) std::memcpy(buffer, bytes_.data(), n);
        *count = n;
        return 0;
    }

private:
    ccIUnknown* offer(int32_t id) override {
        return id == ccIidErrorData && hasData_ ? self<ccIComponent_ErrorData>() : nullptr;
    }

    const std::vector<uint8_t> bytes_;
    const bool hasData_;
};

// One format of a list (36), with its default code (99) when it has one.
class FormatItem final : public Impl<ccIComponent_FormatItem, ccIComponent_FormatValue> {
public:
    explicit FormatItem(Format format) : Impl(ccIidFormatItem), format_(std::move(format)) {}

    int32_t name(uint32_t* length, char16_t* buffer) override {
        if (enter(ccIidFormatItem, 3)) return 1;
        return length ? writeText(format_.name, length, buffer) : refuse();
    }
    int32_t width(uint32_t* width) override { return number(4, width, format_.width); }
    int32_t height(uint32_t* height) override { return number(5, height, format_.height); }
    int32_t depth(uint32_t* depth) override { return number(6, depth, format_.depth); }
    int32_t value(int32_t* code) override {
        if (enter(ccIidFormatValue, 3)) return failed(code);
        if (!code) return refuse();
        *code = format_.code;
        return 0;
    }

private:
    int32_t number(int32_t slot, uint32_t* out, uint32_t value) {
        if (enter(ccIidFormatItem, slot)) return failed(out);
        if (!out) return refuse();
        *out = value;
        return 0;
    }
    ccIUnknown* offer(int32_t id) override {
        if (id == ccIidFormatItem) return self<ccIComponent_FormatItem>();
        if (id == ccIidFormatValue && format_.hasValue) return self<ccIComponent_FormatValue>();
        return nullptr;
    }

    const Format format_;
};

// The format list under 115 or 35; it reads the formats as they are now.
class FormatList final : public Impl<ccIComponent_FormatList> {
public:
    explicit FormatList(int32_t id) : Impl(id), id_(id) {}

    int32_t item(ccIUnknown** item, uint32_t index) override {
        if (enter(id_, 3)) return failed(item);
        if (!item) return refuse();
        *item = nullptr;
        Format format;
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            if (index >= s.formats.size()) return 0; // the end of the list
            format = s.formats[index];
        }
        *item = hand<ccIComponent_FormatItem, FormatItem>(std::move(format));
        return 0;
    }

private:
    ccIUnknown* offer(int32_t id) override { return id == id_ ? self<ccIComponent_FormatList>() : nullptr; }

    const int32_t id_;
};

class ErrorSource final : public Impl<ccIComponent_ErrorSource> {
public:
    ErrorSource() : Impl(ccIidErrorSource) {}

    int32_t reserved3() override { return enter(ccIidErrorSource, 3) ? 1 : 0; }
    int32_t reserved4() override { return enter(ccIidErrorSource, 4) ? 1 : 0; }
    int32_t lastError(ccIUnknown** error) override {
        if (enter(ccIidErrorSource, 5)) return failed(error);
        if (!error) return refuse();
        *error = nullptr;
        StoredError e;
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            e = sim::lastError(s);
        }
        if (e.set && e.mode != ccSimErrorNoObject)
            *error = hand<ccIComponent_ErrorData, ErrorObject>(std::move(e.bytes), e.mode == ccSimErrorBytes);
        return 0;
    }

private:
    ccIUnknown* offer(int32_t id) override {
        if (id == ccIidErrorSource) return self<ccIComponent_ErrorSource>();
        int32_t listId;
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            listId = s.listId;
        }
        return listId != 0 && id == listId ? hand<ccIComponent_FormatList, FormatList>(id) : nullptr;
    }
};

class BoardList final : public Impl<ccIComponent_BoardList> {
public:
    BoardList() : Impl(ccIidBoardList) {}

    int32_t count(uint32_t* count) override {
        if (enter(ccIidBoardList, 3)) return failed(count);
        if (!count) return refuse();
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        *count = static_cast<uint32_t>(s.boards.size());
        return 0;
    }
    int32_t name(uint32_t index, uint32_t* length, char16_t* buffer) override {
        if (enter(ccIidBoardList, 4)) return 1;
        if (!length) return refuse();
        std::u16string text;
        if (!boardName(index, text)) return refuse();
        return writeText(text, length, buffer);
    }
    int32_t board(ccIUnknown** board, uint32_t index) override {
        if (enter(ccIidBoardList, 5)) return failed(board);
        if (!board) return refuse();
        *board = nullptr;
        std::u16string text;
        if (!boardName(index, text)) return refuse();
        *board = newDevice(index);
        if (!*board) *board = newBoard(index);
        return 0;
    }

private:
    static bool boardName(uint32_t index, std::u16string& name) {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (index >= s.boards.size()) return false;
        name = s.boards[index];
        return true;
    }
    ccIUnknown* offer(int32_t id) override { return id == ccIidBoardList ? self<ccIComponent_BoardList>() : nullptr; }
};

class Discovery final : public Impl<ccIComponent_Discovery> {
public:
    Discovery() : Impl(ccIidDiscovery) {}

    // Discovery runs in the test (finishDiscovery ends it) or, in mode 2, on
    // a module thread of its own; the call count records the start.
    int32_t start() override {
        if (enter(ccIidDiscovery, 3)) return 1;
        State& s = state();
        uint32_t epoch = 0;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.discovery != 2) return 0;
            epoch = s.errorEpoch;
        }
        try {
            std::thread([epoch] {
                // As a board's bus scan: done a little later, by itself.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                State& st = state();
                {
                    std::lock_guard<std::mutex> lock(st.mutex);
                    // A scan started before a reset finishes nothing after it.
                    if (st.errorEpoch != epoch) return;
                    st.discoveryFinished = true;
                }
                st.discoveryDone.notify_all();
            }).detach();
        } catch (...) {
            return 1;
        }
        return 0;
    }
    int32_t wait(double timeout, uint32_t* ready) override {
        if (enter(ccIidDiscovery, 4)) return failed(ready);
        if (!ready) return refuse();
        State& s = state();
        std::unique_lock<std::mutex> lock(s.mutex);
        auto done = [&s] { return s.discoveryFinished; };
        if (timeout > 1e6) // HUGE_VAL among them: no limit
            s.discoveryDone.wait(lock, done);
        else if (timeout > 0)
            s.discoveryDone.wait_for(lock, std::chrono::duration<double>(timeout), done);
        *ready = done() ? 1 : 0;
        return 0;
    }

private:
    ccIUnknown* offer(int32_t id) override { return id == ccIidDiscovery ? self<ccIComponent_Discovery>() : nullptr; }
};

class Root final : public Impl<ccIComponent_Root> {
public:
    Root() : Impl(0) {}

private:
    ccIUnknown* offer(int32_t id) override {
        bool errorSource, boardList, discovery;
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            errorSource = s.offerErrorSource;
            boardList = s.offerBoardList;
            discovery = s.discovery != 0;
        }
        if (id == ccIidErrorSource && errorSource) return hand<ccIComponent_ErrorSource, ErrorSource>();
        if (id == ccIidBoardList && boardList) return hand<ccIComponent_BoardList, BoardList>();
        if (id == ccIidDiscovery && discovery) return hand<ccIComponent_Discovery, Discovery>();
        return nullptr;
    }
};

} // namespace
} // namespace sim

extern "C" __attribute__((visibility("default"))) ccIUnknown* GetComponentInterface() {
    ccIUnknown* root = sim::hand<ccIComponent_Root, sim::Root>();
    sim::State& s = sim::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.audit.roots;
    return root;
}
